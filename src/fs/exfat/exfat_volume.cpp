#include "fs/exfat/exfat_volume.h"

#include <algorithm>
#include <cinttypes>
#include <new>
#include <unordered_set>

#include "core/engine_host.h"
#include "core/text.h"
#include "fs/logdrive_info.h"
#include "source/read_sectors.h"
#include "source/volume_source.h"

namespace tsn {

namespace {

// The root folder's own entries stand at its start; a root whose chain runs
// on past this many clusters is not searched further for them.
constexpr std::uint64_t kRootClustersSearched = 256;
constexpr std::uint64_t kFatChunkBytes = 1 << 20;

// Logs the unreadable parts of `bytes` bytes at `offset`, naming what they
// held; the volume has already recorded them.
void LogUnreadable(EngineHost* host, const LOGDRIVE_INFO& drive, std::uint64_t offset, std::uint64_t bytes,
                   const char* what, const char* consequence) {
  const VolumeSource* v = drive.volume.get();
  if (v == nullptr) return;
  const std::vector<UnreadableRange> bad = v->UnreadableIn(offset, bytes);
  if (bad.empty()) return;
  std::string where = RangeText(v->BaseOffset() + bad.front().first, v->BaseOffset() + bad.front().last);
  if (bad.size() > 1) where += " and " + std::to_string(bad.size() - 1) + " more ranges";
  LogMessage(host, kError, "%s %s could not be read in full (%s of %s); %s", drive.driveName.c_str(), what,
             where.c_str(), v->Path().c_str(), consequence);
}

}  // namespace

ExFatGeometry ExFatGeometryOf(const LOGDRIVE_INFO& drive) {
  const Bytes b = drive.Boot();
  ExFatGeometry g;
  const unsigned sectorShift = std::clamp<unsigned>(LeU8(b, exfat::kBytesPerSectorShift), 9, 12);
  const unsigned clusterShift = std::min<unsigned>(LeU8(b, exfat::kSectorsPerClusterShift), 25 - sectorShift);
  g.bytesPerSector = 1u << sectorShift;
  g.clusterBytes = std::uint64_t{1} << (sectorShift + clusterShift);
  g.volumeSectors = LeU64(b, exfat::kVolumeLength);
  g.fatOffset = LeU32(b, exfat::kFatOffset);
  g.fatLength = LeU32(b, exfat::kFatLength);
  g.heapOffset = LeU32(b, exfat::kClusterHeapOffset);
  g.clusterCount = LeU32(b, exfat::kClusterCount);
  g.rootCluster = LeU32(b, exfat::kRootCluster);
  g.numberOfFats = LeU8(b, exfat::kNumberOfFats);
  g.secondFatActive = g.numberOfFats == 2 && (LeU16(b, exfat::kVolumeFlags) & 1) != 0;
  return g;
}

bool ExFatBitmap::Taken(std::uint64_t cluster) const {
  if (cluster < 2) return true;
  const std::uint64_t bit = cluster - 2;
  // Clusters the bitmap does not reach are never taken as free.
  if (bit / 8 >= bits.size()) return true;
  return (bits[bit / 8] >> (bit % 8)) & 1;
}

std::uint64_t ExFatBitmap::FreeClusters(std::uint32_t clusterCount) const {
  std::uint64_t free = 0;
  for (std::uint64_t c = 2; c < std::uint64_t{clusterCount} + 2; ++c)
    if (!Taken(c)) ++free;
  return free;
}

int LoadExFatFat(EngineHost* host, LOGDRIVE_INFO* drive, const ExFatGeometry& g) {
  const std::uint64_t start = (g.fatOffset + (g.secondFatActive ? g.fatLength : 0)) * g.bytesPerSector;
  // No more entries than the image holds: a boot sector may claim billions
  // of clusters on a small image. Those past it end every chain.
  const std::uint64_t size = drive->volume ? drive->volume->Size() : 0;
  const std::uint64_t onImage = size > start ? (size - start) / 4 : 0;
  const std::uint64_t entries = std::min<std::uint64_t>(std::uint64_t{g.clusterCount} + 2, onImage);
  try {
    drive->fatTable.assign(entries, 0);
  } catch (const std::bad_alloc&) {
    LogMessage(host, kError, "Not enough memory for the FAT of %s (%" PRIu64 " entries).", drive->driveName.c_str(),
               entries);
    return 0;
  }
  std::vector<std::uint8_t> chunk;
  for (std::uint64_t done = 0; done < entries * 4;) {
    const std::uint64_t bytes = std::min(kFatChunkBytes, entries * 4 - done);
    chunk.assign(bytes, 0);
    const bool whole = ReadBytes(host, drive->volume.get(), start + done, chunk) == 1;
    for (std::uint64_t i = 0; i < bytes / 4; ++i) drive->fatTable[done / 4 + i] = LeU32(chunk, i * 4);
    if (!whole) {
      const VolumeSource* v = drive->volume.get();
      for (const UnreadableRange& r : v->UnreadableIn(start + done, bytes)) {
        const std::uint64_t from = (std::max(r.first, start) - start) / 4;
        const std::uint64_t to = std::min(entries - 1, (r.last - start) / 4);
        for (std::uint64_t e = from; e <= to; ++e) drive->fatTable[e] = kExFatEndOfChain;
      }
      LogUnreadable(host, *drive, start + done, bytes, "FAT",
                    "the chains through the unreadable entries end there.");
    }
    done += bytes;
  }
  return 1;
}

std::uint32_t ExFatNext(const LOGDRIVE_INFO& drive, std::uint32_t cluster) {
  if (cluster >= drive.fatTable.size()) return kExFatEndOfChain;
  const std::uint32_t next = drive.fatTable[cluster];
  if (next < 2 || next >= drive.fatTable.size()) return kExFatEndOfChain;
  return next;
}

std::vector<std::uint32_t> ExFatClusters(const LOGDRIVE_INFO& drive, const ExFatGeometry& g, std::uint32_t first,
                                         bool contiguous, std::uint64_t limit, std::string* fault) {
  std::vector<std::uint32_t> out;
  if (!g.InHeap(first)) {
    if (fault) *fault = "its first cluster " + std::to_string(first) + " lies outside the cluster heap";
    return out;
  }
  if (contiguous) {
    const std::uint64_t end = std::min<std::uint64_t>(std::uint64_t{first} + limit, std::uint64_t{g.clusterCount} + 2);
    if (end - first < limit && fault)
      *fault = "it runs past the end of the cluster heap; only " + std::to_string(end - first) + " of its " +
               std::to_string(limit) + " clusters are there";
    for (std::uint64_t c = first; c < end; ++c) out.push_back(static_cast<std::uint32_t>(c));
    return out;
  }
  std::unordered_set<std::uint32_t> seen;
  for (std::uint32_t c = first; out.size() < limit;) {
    if (!seen.insert(c).second) {
      if (fault) *fault = "its cluster chain loops back to cluster " + std::to_string(c);
      break;
    }
    out.push_back(c);
    const std::uint32_t raw = c < drive.fatTable.size() ? drive.fatTable[c] : kExFatEndOfChain;
    if (raw == kExFatEndOfChain) break;
    if (!g.InHeap(raw)) {
      if (fault) *fault = "its cluster chain leads out of the cluster heap after cluster " + std::to_string(c);
      break;
    }
    c = raw;
  }
  return out;
}

std::vector<std::uint32_t> DeletedFileClusters(const LOGDRIVE_INFO& drive, const ExFatVolume& v, std::uint32_t first,
                                               std::uint64_t bytes, bool noFatChain, DeletedExtent* how) {
  const std::uint64_t needed = v.g.ClustersFor(bytes);
  if (!noFatChain && needed > 1) {
    std::string fault;
    std::vector<std::uint32_t> chain = ExFatClusters(drive, v.g, first, false, needed, &fault);
    const bool ends = !chain.empty() && chain.back() < drive.fatTable.size() &&
                      drive.fatTable[chain.back()] == kExFatEndOfChain;
    const bool free = std::none_of(chain.begin(), chain.end(), [&](std::uint32_t c) { return v.bitmap.Taken(c); });
    if (fault.empty() && chain.size() == needed && ends && free && !v.bitmap.bits.empty()) {
      *how = DeletedExtent::StaleChain;
      return chain;
    }
  }
  *how = noFatChain ? DeletedExtent::Exact : DeletedExtent::Assumed;
  return ExFatClusters(drive, v.g, first, true, needed, nullptr);
}

ExFatVolume OpenExFatVolume(EngineHost* host, LOGDRIVE_INFO* drive) {
  ExFatVolume v;
  v.g = ExFatGeometryOf(*drive);
  std::string fault;
  const std::vector<std::uint32_t> rootClusters =
      ExFatClusters(*drive, v.g, v.g.rootCluster, false, kRootClustersSearched, &fault);
  std::vector<std::uint8_t> cluster;
  try {
    cluster.assign(v.g.clusterBytes, 0);
  } catch (const std::bad_alloc&) {
    LogMessage(host, kError, "Could no allocate %" PRIu64 " bytes for cluster buffer", v.g.clusterBytes);
    return v;
  }
  bool ended = false;
  for (const std::uint32_t c : rootClusters) {
    if (ReadBytes(host, drive->volume.get(), v.g.ClusterOffset(c), cluster) != 1)
      LogUnreadable(host, *drive, v.g.ClusterOffset(c), cluster.size(), ("root folder cluster " + std::to_string(c)).c_str(),
                    "the entries that stood there are missing.");
    for (std::size_t at = 0; at + kExFatSlotSize <= cluster.size() && !ended; at += kExFatSlotSize) {
      const Bytes e(cluster.data() + at, kExFatSlotSize);
      switch (LeU8(e, 0)) {
        case kExFatEndOfFolder:
          ended = true;
          break;
        case kExFatBitmap: {
          // With two FATs each has its bitmap; bit 0 of the flags says whose.
          const bool second = (LeU8(e, 1) & 1) != 0;
          if (v.root.bitmapFound && second != v.g.secondFatActive) break;
          v.root.bitmapFound = true;
          v.root.bitmapCluster = LeU32(e, 20);
          v.root.bitmapLength = LeU64(e, 24);
          break;
        }
        case kExFatLabel: {
          std::vector<std::uint16_t> units;
          const unsigned count = std::min<unsigned>(LeU8(e, 1), 11);
          for (unsigned i = 0; i < count; ++i) units.push_back(LeU16(e, 2 + 2 * i));
          v.root.label = Utf16ToUtf8(units);
          break;
        }
        default:
          break;
      }
    }
    if (ended) break;
  }
  if (!v.root.bitmapFound) {
    LogMessage(host, kError, "%s: its root folder holds no allocation bitmap entry; no deleted file can be judged "
               "free of other files.", drive->driveName.c_str());
    return v;
  }
  v.bitmap.found = true;
  const std::uint64_t needed = (std::uint64_t{v.g.clusterCount} + 7) / 8;
  if (v.root.bitmapLength < needed || !v.g.InHeap(v.root.bitmapCluster)) {
    LogMessage(host, kError, "%s: its allocation bitmap entry is damaged (cluster %u, %" PRIu64 " bytes for %u "
               "clusters); no deleted file can be judged free of other files.",
               drive->driveName.c_str(), v.root.bitmapCluster, v.root.bitmapLength, v.g.clusterCount);
    return v;
  }
  // The bitmap keeps a chain in the FAT; a FAT that holds none for it (its
  // first entry free) leaves it as one run.
  const bool chained = drive->fatTable.size() > v.root.bitmapCluster && drive->fatTable[v.root.bitmapCluster] != 0;
  fault.clear();
  std::vector<std::uint32_t> clusters =
      ExFatClusters(*drive, v.g, v.root.bitmapCluster, !chained, v.g.ClustersFor(needed), &fault);
  // Only the clusters on the image are held; the bits of the rest read as
  // taken (Taken), like those of any cluster the bitmap does not reach.
  const std::uint64_t size = drive->volume ? drive->volume->Size() : 0;
  const auto past = std::find_if(clusters.begin(), clusters.end(),
                                 [&](std::uint32_t c) { return v.g.ClusterOffset(c) >= size; });
  const bool cut = past != clusters.end();
  clusters.erase(past, clusters.end());
  try {
    v.bitmap.bits.assign(clusters.size() * v.g.clusterBytes, 0xFF);
  } catch (const std::bad_alloc&) {
    LogMessage(host, kError, "Not enough memory for the allocation bitmap of %s.", drive->driveName.c_str());
    v.bitmap.bits.clear();
    return v;
  }
  v.bitmap.readable = clusters.size() == v.g.ClustersFor(needed);
  if (cut)
    LogMessage(host, kError, "%s: its allocation bitmap runs past the end of %s; the clusters it describes there "
               "are taken as in use.", drive->driveName.c_str(), drive->sourceDescription.c_str());
  else if (!v.bitmap.readable)
    LogMessage(host, kError, "%s: its allocation bitmap could not be followed (%s); the clusters it does not reach "
               "are taken as in use.", drive->driveName.c_str(), fault.c_str());
  for (std::size_t i = 0; i < clusters.size(); ++i) {
    const std::uint64_t offset = v.g.ClusterOffset(clusters[i]);
    const std::span<std::uint8_t> part(v.bitmap.bits.data() + i * v.g.clusterBytes, v.g.clusterBytes);
    if (ReadBytes(host, drive->volume.get(), offset, part) == 1) continue;
    v.bitmap.readable = false;
    // Unreadable bytes count as taken: nothing is judged free on the
    // strength of a bit that was not there.
    for (const UnreadableRange& r : drive->volume->UnreadableIn(offset, v.g.clusterBytes))
      std::fill(part.begin() + (r.first - offset), part.begin() + (r.last - offset) + 1, std::uint8_t{0xFF});
    LogUnreadable(host, *drive, offset, v.g.clusterBytes, "allocation bitmap",
                  "the clusters it describes there are taken as in use.");
  }
  v.bitmap.bits.resize(std::min<std::size_t>(v.bitmap.bits.size(), needed));
  return v;
}

}  // namespace tsn
