#include "fat/fat_table.h"

#include <algorithm>
#include <bit>
#include <cinttypes>
#include <new>

#include "app/app_state.h"
#include "app/main_dialog.h"
#include "app/message_log.h"
#include "volume/logdrive_info.h"
#include "volume/read_sectors.h"

namespace tsn {

std::uint64_t FatGeometry::ClusterLba(std::uint32_t cluster) const {
  return std::uint64_t{numberOfFats} * sectorsPerFat +
         (std::uint64_t{cluster} - 2) * sectorsPerCluster + reservedSectors;
}

FatGeometry FatGeometryOf(const LOGDRIVE_INFO& drive) {
  const Bytes b = drive.Boot();
  FatGeometry g;
  g.sectorsPerCluster = LeU8(b, boot::kSectorsPerCluster);
  g.reservedSectors = LeU16(b, boot::kReservedSectors);
  g.numberOfFats = LeU8(b, boot::kNumberOfFats);
  g.sectorsPerFat = LeU32(b, boot::kSectorsPerFat32);
  g.rootCluster = LeU32(b, boot::kRootCluster);
  return g;
}

int LoadFat(AppState* app, LOGDRIVE_INFO* drive) {
  const FatGeometry g = FatGeometryOf(*drive);
  // A FAT larger than the volume is a damaged size field: read only what the
  // volume can hold, so a hostile boot sector cannot make us allocate and
  // read gigabytes of nothing.
  std::uint64_t sectors = g.sectorsPerFat;
  const std::uint64_t volumeSectors = drive->volume ? drive->volume->Size() / kSectorSize : 0;
  const std::uint64_t room = volumeSectors > g.reservedSectors ? volumeSectors - g.reservedSectors : 0;
  if (sectors > room) {
    LogMessage(app, kError, app->logList,
               "%s the FAT size field (%u sectors) runs past the end of the volume; only %" PRIu64
               " sectors of it are read.",
               drive->driveName.c_str(), g.sectorsPerFat, room);
    sectors = room;
  }
  try {
    drive->fatTable.assign(sectors * (kSectorSize / 4), 0);
  } catch (const std::bad_alloc&) {
    drive->fatTable.clear();
    LogMessage(app, kError, app->logList, "Not enough memory to load Index");
    return 0;
  }
  LogMessage(app, kStatus, app->logList, "Loading Index... This may take a few moments...");
  WindowSystem& ui = *app->ui;
  ui.SetProgressRange(0, static_cast<std::uint32_t>(sectors));
  ui.SetProgressStep(1);
  ui.SetProgressColour({145, 4, 180});
  auto* table = reinterpret_cast<std::uint8_t*>(drive->fatTable.data());
  for (std::uint64_t i = 0; i < sectors; ++i) {
    PumpOneMessage(app);
    // An unreadable sector stays zero: its entries read as free.
    ReadSectors(app, drive->volume.get(), g.reservedSectors + i,
                std::span<std::uint8_t>(table + i * kSectorSize, kSectorSize));
    ui.StepProgress();
  }
  // The table is kept in host order; the volume's is little-endian.
  if constexpr (std::endian::native != std::endian::little)
    for (auto& e : drive->fatTable) e = LeU32(Bytes(reinterpret_cast<std::uint8_t*>(&e), 4), 0);
  ui.SetProgressPosition(0);
  LogMessage(app, kStatus, app->logList, "Index loaded.");
  return 1;
}

int ReadCluster(AppState* app, LOGDRIVE_INFO* drive, std::uint32_t cluster,
                std::span<std::uint8_t> buffer) {
  if (drive->Kind() != 'F') return 0;
  const FatGeometry g = FatGeometryOf(*drive);
  if (cluster < 2) return 0;
  return ReadSectors(app, drive->volume.get(), g.ClusterLba(cluster),
                     buffer.first(std::min<std::size_t>(buffer.size(), g.ClusterBytes())));
}

bool ReportShortVolume(AppState* app, const LOGDRIVE_INFO& drive) {
  const std::uint64_t imageSectors = drive.volume ? drive.volume->Size() / kSectorSize : 0;
  if (drive.totalSectors <= imageSectors) return false;
  LogMessage(app, kError, app->logList,
             "%s claims %" PRIu64 " sectors but its image holds %" PRIu64
             "; the clusters beyond are not there to read.",
             drive.driveName.c_str(), drive.totalSectors, imageSectors);
  return true;
}

std::uint32_t FatEntry(const std::vector<std::uint32_t>& fat, std::uint32_t cluster) {
  return cluster < fat.size() ? fat[cluster] : kFatEndOfChain;
}

std::uint32_t NextCluster(const LOGDRIVE_INFO* drive, const std::vector<std::uint32_t>& fat,
                          std::uint32_t cluster) {
  if (cluster > drive->clusterCount || cluster >= fat.size()) return kNoNextCluster;
  const std::uint32_t v = fat[cluster] & kFatEntryMask;
  if (v >= kFatEndOfChain || v < 2 || v >= drive->clusterCount) return kNoNextCluster;
  return v;
}

}  // namespace tsn

namespace tsn {

std::vector<std::uint32_t> ChainPredecessors(const LOGDRIVE_INFO* drive,
                                             const std::vector<std::uint32_t>& fat) {
  std::vector<std::uint32_t> previous(fat.size(), 0);
  for (std::size_t c = 2; c < fat.size(); ++c) {
    const std::uint32_t next = NextCluster(drive, fat, static_cast<std::uint32_t>(c));
    if (next != kNoNextCluster && next < previous.size()) previous[next] = static_cast<std::uint32_t>(c);
  }
  return previous;
}

}  // namespace tsn
