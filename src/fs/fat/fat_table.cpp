#include "core/engine_host.h"
#include "fs/fat/fat_table.h"

#include <algorithm>
#include <bit>
#include <cinttypes>
#include <new>

#include "fs/logdrive_info.h"
#include "source/read_sectors.h"

namespace tsn {

std::uint64_t FatGeometry::ClusterLba(std::uint32_t cluster) const {
  return std::uint64_t{numberOfFats} * sectorsPerFat +
         (std::uint64_t{cluster} - 2) * sectorsPerCluster + reservedSectors;
}

FatGeometry FatGeometryOf(const LOGDRIVE_INFO& drive) {
  const Bytes b = drive.Boot();
  FatGeometry g;
  g.bytesPerSector = drive.bytesPerSector;
  g.sectorsPerCluster = LeU8(b, boot::kSectorsPerCluster);
  g.reservedSectors = LeU16(b, boot::kReservedSectors);
  g.numberOfFats = LeU8(b, boot::kNumberOfFats);
  g.sectorsPerFat = LeU32(b, boot::kSectorsPerFat32);
  g.rootCluster = LeU32(b, boot::kRootCluster);
  return g;
}

namespace {

// FAT32 cluster numbers have 28 bits: no volume can use entries beyond.
constexpr std::uint64_t kMaxFatEntries = std::uint64_t{1} << 28;
constexpr std::size_t kRangesNamed = 3;

// How many sectors of the FAT to load. A damaged size field must not make
// us allocate and read gigabytes: the table is held to what fits between
// the reserved sectors and the volume's end, to what the image or device
// holds, and to twice the entries the volume's clusters can use. Formatters
// round the table up, and its trailing entries have always counted in the
// free share, so a table within that is read whole.
std::uint64_t FatSectorsToLoad(EngineHost* app, const LOGDRIVE_INFO& drive, const FatGeometry& g) {
  const std::uint64_t field = g.sectorsPerFat;
  const std::uint64_t perSector = g.bytesPerSector / 4;
  const std::uint64_t usable = (std::min(drive.clusterCount + 2, kMaxFatEntries) + perSector - 1) / perSector;
  const std::uint64_t fats = std::max<std::uint32_t>(g.numberOfFats, 1);
  const std::uint64_t fit =
      drive.totalSectors > g.reservedSectors ? (drive.totalSectors - g.reservedSectors) / fats : 0;
  const std::uint64_t sourceSectors = drive.volume ? drive.volume->Size() / g.bytesPerSector : 0;
  const std::uint64_t held = sourceSectors > g.reservedSectors ? sourceSectors - g.reservedSectors : 0;
  const std::uint64_t roomy = 2 * usable + 8;
  const std::uint64_t sectors = std::min({field, roomy, fit, held});
  if (sectors == field) return sectors;
  if (field > fit || field > held)
    LogMessage(app, kError, "%s the FAT size field (%u sectors) runs past the end of the volume; only %" PRIu64
               " sectors of it are read.",
               drive.driveName.c_str(), g.sectorsPerFat, sectors);
  else  // far larger than needed: not past the volume, so not damage either
    LogMessage(app, kStatus, "%s the FAT is %u sectors long, far more than the %" PRIu64 " its clusters use; only the first %" PRIu64
               " are read.",
               drive.driveName.c_str(), g.sectorsPerFat, usable, sectors);
  return sectors;
}

void AddUnreadableEntries(LOGDRIVE_INFO* drive, std::uint64_t first, std::uint64_t last) {
  auto& ranges = drive->fatUnreadable;
  if (!ranges.empty() && ranges.back().second + 1 == first) ranges.back().second = last;
  else ranges.emplace_back(first, last);
}

// What could not be read of the first FAT, and what took its place.
void ReportFatReadErrors(EngineHost* app, const LOGDRIVE_INFO& drive, const FatGeometry& g,
                         std::uint64_t mended, bool onlySecondCopy) {
  if (mended > 0)
    LogMessage(app, kAlert, "%s %" PRIu64 " %s of the first FAT could not be read; %s read from %s instead.",
               drive.driveName.c_str(), mended, mended == 1 ? "sector" : "sectors",
               mended == 1 ? "it was" : "they were",
               onlySecondCopy ? "the second FAT" : "the FAT's other copies");
  if (drive.fatUnreadable.empty()) return;
  std::uint64_t entries = 0;
  for (const auto& [first, last] : drive.fatUnreadable) entries += last - first + 1;
  std::string where;
  for (std::size_t i = 0; i < drive.fatUnreadable.size() && i < kRangesNamed; ++i) {
    const auto& [first, last] = drive.fatUnreadable[i];
    where += (i == 0 ? "" : ", ") + std::to_string(first) + "\u2013" + std::to_string(last);
  }
  if (drive.fatUnreadable.size() > kRangesNamed)
    where += " and " + std::to_string(drive.fatUnreadable.size() - kRangesNamed) + " more ranges";
  LogMessage(app, kError, "%s %" PRIu64 " entries of the FAT (clusters %s) could not be read%s; those clusters are taken "
             "as in use, and no deleted file on them is judged recoverable.",
             drive.driveName.c_str(), entries, where.c_str(),
             g.numberOfFats > 1 ? " in any copy of it" : ", and the volume keeps no other copy");
}

}  // namespace

int LoadFat(EngineHost* app, LOGDRIVE_INFO* drive) {
  const FatGeometry g = FatGeometryOf(*drive);
  const std::uint64_t sectors = FatSectorsToLoad(app, *drive, g);
  const std::size_t sectorBytes = g.bytesPerSector;
  const std::uint64_t perSector = sectorBytes / 4;
  drive->fatUnreadable.clear();
  try {
    drive->fatTable.assign(sectors * perSector, 0);
  } catch (const std::bad_alloc&) {
    drive->fatTable.clear();
    LogMessage(app, kError, "Not enough memory to load Index");
    return 0;
  }
  LogMessage(app, kStatus, "Loading Index... This may take a few moments...");
  app->StartSteps(sectors, {145, 4, 180});
  VolumeSource* volume = drive->volume.get();
  auto* table = reinterpret_cast<std::uint8_t*>(drive->fatTable.data());
  std::uint64_t mended = 0;
  bool onlySecondCopy = true;
  for (std::uint64_t i = 0; i < sectors; ++i) {
    app->PumpOneMessage();
    const std::span<std::uint8_t> sector(table + i * sectorBytes, sectorBytes);
    const std::uint64_t at = g.SectorOffset(g.reservedSectors + i);
    if (ReadBytes(app, volume, at, sector) == 0 && BytesUnreadable(volume, at, sectorBytes)) {
      // Zeros would read as free clusters: the same sector of the next
      // copy stands in for it, and when no copy reads, its entries are
      // marked as unknown rather than guessed.
      std::uint32_t copy = 1;
      while (copy < g.numberOfFats &&
             ReadBytes(app, volume, g.SectorOffset(g.reservedSectors + std::uint64_t{copy} * g.sectorsPerFat + i),
                       sector) == 0)
        ++copy;
      if (copy < g.numberOfFats) {
        ++mended;
        onlySecondCopy = onlySecondCopy && copy == 1;
      } else {
        AddUnreadableEntries(drive, i * perSector, (i + 1) * perSector - 1);
      }
    }
    app->StepProgress();
  }
  // The table is kept in host order; the volume's is little-endian.
  if constexpr (std::endian::native != std::endian::little)
    for (auto& e : drive->fatTable) e = LeU32(Bytes(reinterpret_cast<std::uint8_t*>(&e), 4), 0);
  for (const auto& [first, last] : drive->fatUnreadable)
    std::fill(drive->fatTable.begin() + static_cast<std::ptrdiff_t>(first),
              drive->fatTable.begin() + static_cast<std::ptrdiff_t>(last) + 1, kFatUnreadableEntry);
  ReportFatReadErrors(app, *drive, g, mended, onlySecondCopy);
  app->EndSteps();
  LogMessage(app, kStatus, "Index loaded.");
  return 1;
}

bool FatEntryUnreadable(const LOGDRIVE_INFO& drive, std::uint64_t cluster) {
  return UnreadableFatEntriesIn(drive, cluster, 1) != 0;
}

std::uint64_t UnreadableFatEntriesIn(const LOGDRIVE_INFO& drive, std::uint64_t first, std::uint64_t count) {
  const auto& ranges = drive.fatUnreadable;
  if (ranges.empty() || count == 0) return 0;
  const std::uint64_t last = first + count - 1;
  std::uint64_t n = 0;
  auto it = std::lower_bound(ranges.begin(), ranges.end(), first,
                             [](const auto& r, std::uint64_t v) { return r.second < v; });
  for (; it != ranges.end() && it->first <= last; ++it)
    n += std::min(it->second, last) - std::max(it->first, first) + 1;
  return n;
}

int ReadCluster(EngineHost* app, LOGDRIVE_INFO* drive, std::uint32_t cluster,
                std::span<std::uint8_t> buffer) {
  if (drive->Kind() != 'F') return 0;
  const FatGeometry g = FatGeometryOf(*drive);
  if (cluster < 2) return 0;
  return ReadBytes(app, drive->volume.get(), g.ClusterOffset(cluster),
                   buffer.first(std::min<std::size_t>(buffer.size(), g.ClusterBytes())));
}

bool ReportShortVolume(EngineHost* app, const LOGDRIVE_INFO& drive) {
  const std::uint64_t imageSectors = drive.volume ? drive.volume->Size() / drive.bytesPerSector : 0;
  if (drive.totalSectors <= imageSectors) return false;
  LogMessage(app, kError, "%s claims %" PRIu64 " sectors but its image holds %" PRIu64
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
