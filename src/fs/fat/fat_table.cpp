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
  return std::uint64_t{numberOfFats} * sectorsPerFat + RootSectors() +
         (std::uint64_t{cluster} - 2) * sectorsPerCluster + reservedSectors;
}

std::uint32_t FatEntryBits(const LOGDRIVE_INFO& drive) {
  if (drive.fsName == "FAT12") return 12;
  if (drive.fsName == "FAT16") return 16;
  return 32;
}

std::uint32_t EntryStartCluster(const LOGDRIVE_INFO& drive, std::uint32_t fullStart) {
  return FatEntryBits(drive) == 32 ? fullStart : fullStart & 0xFFFF;
}

FatGeometry FatGeometryOf(const LOGDRIVE_INFO& drive) {
  const Bytes b = drive.Boot();
  FatGeometry g;
  g.bytesPerSector = drive.bytesPerSector;
  g.sectorsPerCluster = LeU8(b, boot::kSectorsPerCluster);
  g.reservedSectors = LeU16(b, boot::kReservedSectors);
  g.numberOfFats = LeU8(b, boot::kNumberOfFats);
  g.entryBits = FatEntryBits(drive);
  if (g.entryBits == 32) {
    g.sectorsPerFat = LeU32(b, boot::kSectorsPerFat32);
    g.rootCluster = LeU32(b, boot::kRootCluster);
  } else {
    // Offsets 36 and 44 hold the drive number, serial and label here.
    g.sectorsPerFat = LeU16(b, boot::kSectorsPerFat16);
    g.rootEntries = LeU16(b, boot::kRootEntries);
  }
  return g;
}

namespace {

// FAT32 cluster numbers have 28 bits, FAT12's and FAT16's their width: no
// volume can use entries beyond.
std::uint64_t MaxFatEntries(std::uint32_t bits) { return std::uint64_t{1} << std::min<std::uint32_t>(bits, 28); }
constexpr std::size_t kRangesNamed = 3;

// How many sectors of the FAT to load. A damaged size field must not make
// us allocate and read gigabytes: the table is held to what fits between
// the reserved sectors and the volume's end, to what the image or device
// holds, and to twice the entries the volume's clusters can use. Formatters
// round the table up, and its trailing entries have always counted in the
// free share, so a table within that is read whole.
std::uint64_t FatSectorsToLoad(EngineHost* app, const LOGDRIVE_INFO& drive, const FatGeometry& g) {
  const std::uint64_t field = g.sectorsPerFat;
  const std::uint64_t entryBytes = (std::min(drive.clusterCount + 2, MaxFatEntries(g.entryBits)) * g.entryBits + 7) / 8;
  const std::uint64_t usable = (entryBytes + g.bytesPerSector - 1) / g.bytesPerSector;
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

// A 12-bit entry may straddle two sectors: both ranges then hold it.
void AddUnreadableEntries(LOGDRIVE_INFO* drive, std::uint64_t first, std::uint64_t last) {
  auto& ranges = drive->fatUnreadable;
  if (!ranges.empty() && ranges.back().second + 1 >= first) ranges.back().second = std::max(ranges.back().second, last);
  else ranges.emplace_back(first, last);
}

// Widens the loaded bytes of a FAT12 or FAT16 table into 32-bit entries,
// with their end-of-chain and bad-cluster marks made FAT32's. Two 12-bit
// entries share three bytes: the even one takes the low 12 bits.
void DecodeNarrowFat(std::span<const std::uint8_t> raw, std::uint32_t bits, std::vector<std::uint32_t>& table) {
  constexpr std::uint32_t kFat32EndOfChain = 0x0FFFFFFF, kFat32Bad = 0x0FFFFFF7;
  const std::uint32_t endOfChain = bits == 12 ? 0xFF8 : 0xFFF8;
  const std::uint32_t bad = endOfChain - 1;
  for (std::size_t n = 0; n < table.size(); ++n) {
    std::uint32_t v;
    if (bits == 16) {
      v = LeU16(Bytes(raw.data(), raw.size()), n * 2);
    } else {
      const std::size_t at = n + n / 2;
      const std::uint32_t pair = raw[at] | (std::uint32_t{raw[at + 1]} << 8);
      v = (n & 1) ? pair >> 4 : pair & 0xFFF;
    }
    if (v >= endOfChain) v = kFat32EndOfChain;
    else if (v == bad) v = kFat32Bad;
    table[n] = v;
  }
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
  const bool narrow = g.entryBits != 32;
  drive->fatUnreadable.clear();
  // FAT32 entries are read straight into the table; narrower ones are read
  // whole first, since an entry may straddle two sectors, and then widened.
  std::vector<std::uint8_t> raw;
  try {
    const std::uint64_t bytes = sectors * sectorBytes;
    if (narrow) raw.assign(bytes + 1, 0);  // one more: the last 12-bit pair reads a byte past
    drive->fatTable.assign(bytes * 8 / g.entryBits, 0);
  } catch (const std::bad_alloc&) {
    drive->fatTable.clear();
    LogMessage(app, kError, "Not enough memory to load Index");
    return 0;
  }
  LogMessage(app, kStatus, "Loading Index... This may take a few moments...");
  app->StartSteps(sectors, {145, 4, 180});
  VolumeSource* volume = drive->volume.get();
  auto* table = narrow ? raw.data() : reinterpret_cast<std::uint8_t*>(drive->fatTable.data());
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
        // Every entry with a bit in the sector.
        const std::uint64_t firstByte = i * sectorBytes, lastByte = firstByte + sectorBytes - 1;
        AddUnreadableEntries(drive, firstByte * 8 / g.entryBits,
                             std::min<std::uint64_t>((lastByte * 8 + 7) / g.entryBits, drive->fatTable.size() - 1));
      }
    }
    app->StepProgress();
  }
  // The table is kept in host order; the volume's is little-endian.
  if (narrow)
    DecodeNarrowFat(raw, g.entryBits, drive->fatTable);
  else if constexpr (std::endian::native != std::endian::little)
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

bool ReadFixedRoot(EngineHost* app, const LOGDRIVE_INFO& drive, std::vector<std::uint8_t>& region) {
  const FatGeometry g = FatGeometryOf(drive);
  const VolumeSource* v = drive.volume.get();
  const std::uint64_t from = g.SectorOffset(g.RootSector());
  const std::uint64_t want = std::uint64_t{g.rootEntries} * 32;
  // A damaged entry count or FAT size must not cost a read of what is not there.
  const std::uint64_t held = v != nullptr && v->Size() > from ? v->Size() - from : 0;
  const std::uint64_t bytes = std::min(want, held);
  if (bytes < want)
    LogMessage(app, kError, "%s the root folder's %u entries run past the end of the volume; only %" PRIu64
               " of them are read.",
               drive.driveName.c_str(), g.rootEntries, bytes / 32);
  if (bytes == 0) return false;
  region.assign(static_cast<std::size_t>(bytes), 0);
  if (ReadBytes(app, drive.volume.get(), from, region) == 1) return true;
  const std::vector<UnreadableRange> bad = v->UnreadableIn(from, bytes);
  if (bad.empty()) return true;
  std::string where = RangeText(v->BaseOffset() + bad.front().first, v->BaseOffset() + bad.front().last);
  if (bad.size() > 1) where += " and " + std::to_string(bad.size() - 1) + " more ranges";
  LogMessage(app, kError, "%s the root folder could not be read in full (%s of %s); the entries that stood in the "
             "unreadable sectors are missing.",
             drive.driveName.c_str(), where.c_str(), v->Path().c_str());
  return true;
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
