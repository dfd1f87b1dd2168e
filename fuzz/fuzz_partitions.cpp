// The first thing any image meets: its partition table (MBR, EBR chain or
// GPT), the boot sector of each volume found, and drive mapping over them,
// FAT load and NTFS measurement included. The input is the image itself.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "fuzz_support.h"
#include "fs/boot_sector.h"
#include "core/le_bytes.h"
#include "source/partition_table.h"
#include "source/volume_source.h"

using namespace tsn;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Images over 4 MiB hold nothing the mutations of a table can reach.
  if (size > (4u << 20)) return -1;
  fuzz::MemoryImage image(size);
  image.Write(0, {data, size});

  std::uint8_t first[512] = {};
  std::memcpy(first, data, std::min<std::size_t>(size, sizeof first));
  (void)LooksLikeVolumeBootSector(first);
  (void)IdentifyVolume(Bytes(data, size));

  OpenResult opened = VolumeSource::Open(image.Path());
  if (!opened.source) fuzz::Fail("the memory image did not open");
  const PartitionScan scan = ReadPartitionTable(*opened.source, "fuzz");
  const std::uint64_t diskSectors = size / scan.sectorBytes;
  for (const Partition& p : scan.partitions)
    if (p.startLba >= diskSectors || p.sectorCount == 0 || p.sectorCount > diskSectors - p.startLba)
      fuzz::Fail("a partition was kept that does not lie on the disk");
  // What is passed over is named. An MBR entry that starts past the end of
  // the disk, extended ones included, gets a line that names it.
  const Bytes disk(data, size);
  if (scan.scheme == PartitionScan::Scheme::Mbr)
    for (int i = 0; i < 4; ++i) {
      const std::size_t e = 446 + 16 * static_cast<std::size_t>(i);
      const std::uint8_t type = LeU8(disk, e + 4);
      if (type == 0 || type == 0xEE || LeU32(disk, e + 12) == 0 || LeU32(disk, e + 8) < diskSectors) continue;
      const std::string name = "partition " + std::to_string(i + 1);
      bool named = false;
      for (const std::string& line : scan.problems) named = named || line.find(name) != std::string::npos;
      if (!named) fuzz::Fail("an MBR entry past the end of the disk was passed over in silence");
    }
  // A GPT whose entries cannot lie on the disk is not read from elsewhere,
  // and says so; of one whose entries do, every entry in use that does not
  // end before it starts is kept or named.
  const bool primaryGpt = size >= 1024 && std::memcmp(data + 512, "EFI PART", 8) == 0 &&
                          LeU64(Bytes(data, size), 512 + 24) == 1 && scan.sectorBytes == 512;
  if (scan.scheme == PartitionScan::Scheme::Gpt && primaryGpt) {
    const std::uint64_t entriesLba = LeU64(disk, 512 + 72);
    const std::uint32_t count = std::min<std::uint32_t>(LeU32(disk, 512 + 80), 1024);
    const std::uint32_t entrySize = LeU32(disk, 512 + 84);
    if (entriesLba >= diskSectors && scan.problems.empty())
      fuzz::Fail("a GPT whose entries lie past the end of the disk was passed over in silence");
    const bool sane = entrySize >= 128 && entrySize <= 4096 && entrySize % 8 == 0;
    for (std::uint32_t i = 0; sane && entriesLba < diskSectors && i < count; ++i) {
      const std::uint64_t at = entriesLba * 512 + std::uint64_t{i} * entrySize;
      // A disk is whole sectors: a partial last one holds no entries.
      if (at + entrySize > diskSectors * 512) break;
      const Bytes e = disk.subspan(static_cast<std::size_t>(at), entrySize);
      bool used = false;
      for (int k = 0; k < 16; ++k) used = used || e[k] != 0;
      if (!used || LeU64(e, 40) < LeU64(e, 32)) continue;
      const int number = static_cast<int>(i + 1);
      bool told = std::any_of(scan.partitions.begin(), scan.partitions.end(),
                              [&](const Partition& p) { return p.number == number; });
      for (const std::string& line : scan.problems)
        told = told || line.find("partition " + std::to_string(number) + " ") != std::string::npos;
      if (!told) fuzz::Fail("a GPT entry in use was dropped in silence");
    }
  }

  fuzz::FuzzApp app({image.Path()});
  app.BuildDriveList();
  if (app.app.busy != 0) fuzz::Fail("drive mapping ended with the program still busy");
  return 0;
}
