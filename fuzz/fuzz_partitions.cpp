// The first thing any image meets: its partition table (MBR, EBR chain or
// GPT), the boot sector of each volume found, and drive mapping over them,
// FAT load and NTFS measurement included. The input is the image itself.
#include <cstdint>
#include <cstring>

#include "fuzz_support.h"
#include "volume/boot_sector.h"
#include "volume/partition_table.h"
#include "volume/volume_source.h"

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
  for (const Partition& p : scan.partitions)
    if (p.startLba >= size / 512 || p.sectorCount == 0 || p.sectorCount > size / 512 - p.startLba)
      fuzz::Fail("a partition was kept that does not lie on the disk");

  fuzz::FuzzApp app({image.Path()});
  app.BuildDriveList();
  if (app.app.busy != 0) fuzz::Fail("drive mapping ended with the program still busy");
  return 0;
}
