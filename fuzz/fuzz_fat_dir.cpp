// FAT directory clusters as both scans meet them: every slot through the
// acceptance test, and each accepted one through the record builder, whose
// long-name walk steps back across sector and cluster edges by reading the
// volume. The input lays out a small volume:
//
//   byte 0       sectors per cluster, as 1 << (b & 3)
//   bytes 1-4    clusterCount the drive claims (u32), however wrong
//   byte 5       bit 0: give each cluster its predecessor in the FAT chain;
//                bits 1-2: the FAT's width, 1 FAT16, 2 FAT12, else FAT32
//   bytes 6-517  the one FAT sector: entries of clusters 0 to 127 (FAT32)
//   the rest     FAT12/16: the fixed root folder's 4 sectors (64 entries),
//                then data clusters from cluster 2 on; FAT32: data clusters
//
// The volume's own geometry is fixed (1 reserved sector, 1 FAT of 1 sector),
// so the data area starts at sector 2, right after the FAT, or at sector 6,
// after the fixed root folder.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

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
constexpr std::uint32_t kRootEntries = 64;
constexpr std::size_t kRootBytes = kRootEntries * kDirEntrySize;

// Every slot of one folder buffer, as both scans take them.
void ExamineSlots(AppState& app, LOGDRIVE_INFO& drive, ScanRecords& records, std::span<const std::uint8_t> data,
                  std::uint32_t dirCluster, std::uint32_t before) {
  for (std::size_t slot = 0; slot < data.size() / kDirEntrySize; ++slot) {
    const ShortEntry entry{data.subspan(slot * kDirEntrySize, kDirEntrySize)};
    (void)ShortName(entry);
    const EntryPosition pos{data, slot, dirCluster, before};
    const auto longEntries = CollectLongNameEntries(&app, &drive, pos);
    if (longEntries.size() > kMaxLongNameEntries) fuzz::Fail("a long name of more than 20 entries");
    (void)GatherLongName(longEntries);
    if (!IsAcceptableEntry(&drive, entry, kLatestYear)) continue;
    (void)AssessDeletedEntry(&drive, entry);
    // Both ways an entry is taken: as written, and as found in a deleted folder.
    for (const bool inDeletedFolder : {false, true}) {
      const MftFileInfo info = EntryToFileInfo(&app, &drive, pos, inDeletedFolder);
      if (!(info.flags & kFlagFolder)) (void)FoundFileFromFileInfo(records, info);
    }
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kHeader + 512 || size > (1u << 20)) return -1;
  const Bytes in(data, size);
  const std::uint32_t spc = 1u << (data[0] & 3);
  const std::uint32_t claimedClusters = LeU32(in, 1);
  const bool withPredecessors = (data[5] & 1) != 0;
  const int widthCode = (data[5] >> 1) & 3;
  const char* fsName = widthCode == 1 ? "FAT16" : widthCode == 2 ? "FAT12" : "FAT32";
  const bool fixedRoot = widthCode == 1 || widthCode == 2;
  const Bytes fatSector = in.subspan(kHeader, 512);
  const Bytes area = in.subspan(kHeader + 512);
  const std::size_t dataAt = fixedRoot ? std::min(area.size(), kRootBytes) : 0;

  // The volume: boot sector, FAT sector, data area.
  // Past a short input's end, the fixed root folder reads as zeros.
  fuzz::MemoryImage image(1024 + std::max(area.size(), fixedRoot ? kRootBytes : 0));
  std::uint8_t boot[512] = {0xEB, 0x58, 0x90};
  std::memcpy(boot + 3, "MSWIN4.1", 8);
  boot[11] = 0x00, boot[12] = 0x02;     // 512 bytes per sector
  boot[13] = static_cast<std::uint8_t>(spc);
  boot[14] = 1;                          // reserved sectors
  boot[16] = 1;                          // FATs
  if (fixedRoot) {
    boot[17] = kRootEntries;             // the fixed root folder's entries
    boot[22] = 1;                        // sectors per FAT
    std::memcpy(boot + 54, fsName, 5);
    std::memcpy(boot + 59, "   ", 3);
  } else {
    boot[36] = 1;                        // sectors per FAT
    boot[44] = 2;                        // root cluster
    std::memcpy(boot + 82, "FAT32   ", 8);
  }
  boot[510] = 0x55, boot[511] = 0xAA;
  image.Write(0, {boot, sizeof boot});
  image.Write(512, fatSector);
  image.Write(1024, area);

  AppState app;
  HeadlessWindow ui;
  app.ui = &ui;
  LOGDRIVE_INFO drive;
  std::memcpy(drive.bootSector.data(), boot, sizeof boot);
  drive.fsName = fsName;
  drive.driveName = "F:";
  drive.sectorsPerCluster = spc;
  drive.dirEntriesPerCluster = static_cast<std::int32_t>(spc * 16);
  drive.clusterCount = claimedClusters;
  drive.totalSectors = (fixedRoot ? 6 : 2) + std::uint64_t{claimedClusters} * spc;
  drive.volume = VolumeSource::Open(image.Path()).source;
  if (!drive.volume) fuzz::Fail("the memory image did not open");
  ScanRecords records;
  if (fixedRoot) {
    // Narrow entries are widened as the scans load them.
    if (LoadFat(&app, &drive) == 0) return 0;
    std::vector<std::uint8_t> region;
    if (ReadFixedRoot(&app, drive, region)) ExamineSlots(app, drive, records, region, 0, 0);
  } else {
    drive.fatTable.resize(128);
    for (std::size_t i = 0; i < 128; ++i) drive.fatTable[i] = LeU32(fatSector, i * 4);
  }
  const std::vector<std::uint32_t> previous =
      withPredecessors ? ChainPredecessors(&drive, drive.fatTable) : std::vector<std::uint32_t>{};

  const std::size_t clusterBytes = spc * 512;
  std::vector<std::uint8_t> cluster(clusterBytes);
  for (std::size_t at = dataAt, c = 2; at < area.size(); at += clusterBytes, ++c) {
    // The scans read whole clusters; the last one may run past the input
    // and reads as zeros there, as ReadCluster gives it.
    std::fill(cluster.begin(), cluster.end(), std::uint8_t{0});
    ReadCluster(&app, &drive, static_cast<std::uint32_t>(c), cluster);
    const std::uint32_t before = c < previous.size() ? previous[c] : 0;
    ExamineSlots(app, drive, records, cluster, static_cast<std::uint32_t>(c), before);
  }
  return 0;
}
