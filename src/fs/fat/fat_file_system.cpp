#include <algorithm>
#include <ctime>
#include <memory>
#include <string>

#include "core/engine_host.h"
#include "core/entry_records.h"
#include "fs/boot_sector.h"
#include "fs/fat/fat_cluster_owners.h"
#include "fs/fat/fat_file_content.h"
#include "fs/fat/fat_scans.h"
#include "fs/fat/fat_table.h"
#include "fs/file_system.h"
#include "fs/logdrive_info.h"
#include "source/volume_source.h"

namespace tsn {

namespace {

// The three widths share every step but telling them apart, which goes by
// the count of data clusters.
bool ProbeFat12(Bytes bootSector) { return IdentifyVolume(bootSector).fsName == "FAT12"; }
bool ProbeFat16(Bytes bootSector) { return IdentifyVolume(bootSector).fsName == "FAT16"; }
bool ProbeFat32(Bytes bootSector) { return IdentifyVolume(bootSector).fsName == "FAT32"; }

// On FAT32 the free share counts every entry of the table, the two
// reserved ones and those past the last cluster included, as it has always
// been shown; but no more of them than there are units, or a table rounded
// up to whole 4096-byte sectors would show more than all of the volume
// free. FAT12 and FAT16 have no such past: their share is of the data
// clusters alone, as the volume's own tools count it, and their cluster
// count is the exact one (one past the last cluster number), since a table
// of 4,084 entries leaves no room for guesses beyond.
bool MeasureFatVolume(EngineHost* host, LOGDRIVE_INFO* drive) {
  drive->freeUnits = 0;
  const FatGeometry g = FatGeometryOf(*drive);
  std::size_t first = 0;
  if (g.entryBits == 32) {
    drive->clusterCount = drive->totalSectors / drive->sectorsPerCluster;
    drive->allocUnits = drive->clusterCount + 1;
  } else {
    const std::uint64_t dataStart = g.ClusterLba(2);
    const std::uint64_t dataClusters =
        drive->totalSectors > dataStart ? (drive->totalSectors - dataStart) / g.sectorsPerCluster : 0;
    drive->clusterCount = dataClusters + 2;
    drive->allocUnits = dataClusters;
    first = 2;
  }
  if (LoadFat(host, drive) == 0) return false;
  const std::size_t end = static_cast<std::size_t>(
      std::min<std::uint64_t>(drive->fatTable.size(), first + drive->allocUnits));
  for (std::size_t i = first; i < end; ++i)
    if (drive->fatTable[i] == 0) ++drive->freeUnits;
  drive->fatTable = {};
  return true;
}

// FAT32 keeps a copy of its three-sector boot area in the reserved
// sectors, counted in the volume's own sectors: a copy is taken only where
// its own sector size places it.
std::uint64_t FindFat32Backup(EngineHost* host, VolumeSource* volume, Bytes primary,
                              std::span<const std::uint32_t> sizes, BootArea* copy) {
  const std::uint64_t size = volume->Size();
  for (const std::uint64_t at : Fat32BackupSectors(primary)) {
    for (const std::uint32_t bytes : sizes) {
      if (at * bytes + kBootAreaSize > size) continue;
      const BootArea read = ReadBootAreaCopy(host, volume, at * bytes, kBootAreaSize);
      const Bytes c(read.data(), read.size());
      if (SoundLayout(c) == BootLayout::Fat32 && LeU16(c, boot::kBytesPerSector) == bytes) {
        *copy = read;
        return at;
      }
    }
  }
  return 0;
}

bool MountFat(EngineHost* host, LOGDRIVE_INFO* d) {
  const Bytes b = d->Boot();
  // FAT12/16 give their size in 16 bits when it fits, and only then leave
  // the 32-bit field to larger volumes.
  const std::uint16_t total16 = LeU16(b, boot::kTotalSectors16);
  d->totalSectors = FatEntryBits(*d) != 32 && total16 != 0 ? total16 : LeU32(b, boot::kTotalSectors32);
  d->rootDirSector = std::int64_t{LeU16(b, boot::kSectorsPerFat16)} * LeU8(b, boot::kNumberOfFats) +
                     LeU16(b, boot::kReservedSectors);
  if (!ReadSectorAndClusterSize(host, d)) return false;
  if (!MeasureFatVolume(host, d)) return false;
  d->dirEntriesPerCluster = static_cast<std::int32_t>(d->ClusterBytes() / 32);
  return true;
}

// The FAT stamp is the local time of the machine that wrote it.
timespec FatStampToTime(std::uint16_t date, std::uint16_t time) {
  std::tm tm{};
  tm.tm_year = (date >> 9) + 80;
  tm.tm_mon = ((date >> 5) & 0x0F) - 1;
  tm.tm_mday = date & 0x1F;
  tm.tm_hour = time >> 11;
  tm.tm_min = (time >> 5) & 0x3F;
  tm.tm_sec = (time & 0x1F) * 2;
  tm.tm_isdst = -1;
  return {std::mktime(&tm), 0};
}

// Plans from the loaded table, which is let go with the planner.
class FatContentPlanner : public ContentPlanner {
 public:
  explicit FatContentPlanner(LOGDRIVE_INFO* drive) : drive_(drive) {}
  ~FatContentPlanner() override { drive_->fatTable = {}; }

  ContentPlan Plan(const FoundFile& file) override {
    const FatFilePlan fat = PlanFatFile(drive_, file);
    ContentPlan plan;
    plan.size = file.size;
    plan.readBytes = file.size;
    plan.notes = fat.warnings;
    plan.readable = fat.readable;
    const FatGeometry g = FatGeometryOf(*drive_);
    for (const ClusterSpan& span : fat.spans) {
      ContentPiece piece;
      piece.kind = ContentPiece::Kind::Extent;
      piece.volumeOffset = g.ClusterOffset(span.first);
      piece.length = std::uint64_t{span.count} * g.ClusterBytes();
      plan.pieces.push_back(std::move(piece));
    }
    plan.modified = plan.accessed = FatStampToTime(file.fatDate, file.fatTime);
    return plan;
  }

 private:
  LOGDRIVE_INFO* drive_;
};

std::unique_ptr<ContentPlanner> OpenFatContent(EngineHost* host, LOGDRIVE_INFO* drive) {
  if (LoadFat(host, drive) == 0) return nullptr;
  return std::make_unique<FatContentPlanner>(drive);
}

}  // namespace

const FileSystemType kFat32FileSystem = {
    .name = "FAT32",
    .kind = 'F',
    .probe = ProbeFat32,
    .findBackupBootArea = FindFat32Backup,
    .mount = MountFat,
    .quickScan = FatFileListScan,
    .indexedScan = FatIndexedScan,
    .openContent = OpenFatContent,
    .openOwners = OpenFatOwners,
};

// FAT12 and FAT16 keep no copy of their boot sector.
const FileSystemType kFat16FileSystem = {
    .name = "FAT16",
    .kind = 'F',
    .probe = ProbeFat16,
    .mount = MountFat,
    .quickScan = FatFileListScan,
    .indexedScan = FatIndexedScan,
    .openContent = OpenFatContent,
    .openOwners = OpenFatOwners,
};

const FileSystemType kFat12FileSystem = {
    .name = "FAT12",
    .kind = 'F',
    .probe = ProbeFat12,
    .mount = MountFat,
    .quickScan = FatFileListScan,
    .indexedScan = FatIndexedScan,
    .openContent = OpenFatContent,
    .openOwners = OpenFatOwners,
};

}  // namespace tsn
