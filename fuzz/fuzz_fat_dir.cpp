// FAT directory clusters as both scans meet them: every slot through the
// acceptance test, and each accepted one through the record builder, whose
// long-name walk steps back across sector and cluster edges by reading the
// volume. The input lays out a small volume:
//
//   byte 0       sectors per cluster, as 1 << (b & 3)
//   bytes 1-4    clusterCount the drive claims (u32), however wrong
//   byte 5       bit 0: give each cluster its predecessor in the FAT chain
//   bytes 6-517  the one FAT sector: entries of clusters 0 to 127
//   the rest     data clusters from cluster 2 on
//
// The volume's own geometry is fixed (1 reserved sector, 1 FAT of 1 sector),
// so the data area starts at sector 2, right after the FAT.
#include <cstdint>
#include <cstring>

#include "fs/fat/dir_entry.h"
#include "fs/fat/fat_table.h"
#include "fs/fat/long_name.h"
#include "fuzz_support.h"
#include "app/file_list.h"
#include "core/le_bytes.h"
#include "fs/logdrive_info.h"

using namespace tsn;

namespace {
constexpr std::size_t kHeader = 6;
constexpr int kLatestYear = 2040;  // fixed, so a run does not depend on the clock
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kHeader + 512 || size > (1u << 20)) return -1;
  const Bytes in(data, size);
  const std::uint32_t spc = 1u << (data[0] & 3);
  const std::uint32_t claimedClusters = LeU32(in, 1);
  const bool withPredecessors = (data[5] & 1) != 0;
  const Bytes fatSector = in.subspan(kHeader, 512);
  const Bytes area = in.subspan(kHeader + 512);

  // The volume: boot sector, FAT sector, data area.
  fuzz::MemoryImage image(1024 + area.size());
  std::uint8_t boot[512] = {0xEB, 0x58, 0x90};
  std::memcpy(boot + 3, "MSWIN4.1", 8);
  boot[11] = 0x00, boot[12] = 0x02;     // 512 bytes per sector
  boot[13] = static_cast<std::uint8_t>(spc);
  boot[14] = 1;                          // reserved sectors
  boot[16] = 1;                          // FATs
  boot[36] = 1;                          // sectors per FAT
  boot[44] = 2;                          // root cluster
  std::memcpy(boot + 82, "FAT32   ", 8);
  boot[510] = 0x55, boot[511] = 0xAA;
  image.Write(0, {boot, sizeof boot});
  image.Write(512, fatSector);
  image.Write(1024, area);

  AppState app;
  HeadlessWindow ui;
  app.ui = &ui;
  LOGDRIVE_INFO drive;
  std::memcpy(drive.bootSector.data(), boot, sizeof boot);
  drive.fsName = "FAT32";
  drive.driveName = "F:";
  drive.sectorsPerCluster = spc;
  drive.dirEntriesPerCluster = static_cast<std::int32_t>(spc * 16);
  drive.clusterCount = claimedClusters;
  drive.totalSectors = 2 + std::uint64_t{claimedClusters} * spc;
  drive.volume = VolumeSource::Open(image.Path()).source;
  if (!drive.volume) fuzz::Fail("the memory image did not open");
  drive.fatTable.resize(128);
  for (std::size_t i = 0; i < 128; ++i) drive.fatTable[i] = LeU32(fatSector, i * 4);
  const std::vector<std::uint32_t> previous =
      withPredecessors ? ChainPredecessors(&drive, drive.fatTable) : std::vector<std::uint32_t>{};

  ScanRecords records;
  const std::size_t clusterBytes = spc * 512;
  std::vector<std::uint8_t> cluster(clusterBytes);
  for (std::size_t at = 0, c = 2; at < area.size(); at += clusterBytes, ++c) {
    // The scans read whole clusters; the last one may run past the input
    // and reads as zeros there, as ReadCluster gives it.
    std::fill(cluster.begin(), cluster.end(), std::uint8_t{0});
    ReadCluster(&app, &drive, static_cast<std::uint32_t>(c), cluster);
    const std::uint32_t before = c < previous.size() ? previous[c] : 0;
    for (std::size_t slot = 0; slot < cluster.size() / kDirEntrySize; ++slot) {
      const ShortEntry entry{std::span<const std::uint8_t>(cluster).subspan(slot * kDirEntrySize, kDirEntrySize)};
      (void)ShortName(entry);
      const EntryPosition pos{cluster, slot, static_cast<std::uint32_t>(c), before};
      const auto longEntries = CollectLongNameEntries(&app, &drive, pos);
      if (longEntries.size() > kMaxLongNameEntries) fuzz::Fail("a long name of more than 20 entries");
      (void)GatherLongName(longEntries);
      if (!IsAcceptableEntry(&drive, entry, kLatestYear)) continue;
      (void)AssessDeletedEntry(&drive, entry);
      const MftFileInfo info = EntryToFileInfo(&app, &drive, pos);
      if (!(info.flags & kFlagFolder)) (void)FoundFileFromFileInfo(records, info);
    }
  }
  return 0;
}
