#pragma once
// An exFAT volume's layout and tables: the geometry its boot sector gives,
// its FAT, its allocation bitmap, and the clusters of a folder or file.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fs/exfat/exfat_entry_set.h"

namespace tsn {

class EngineHost;
struct LOGDRIVE_INFO;

constexpr std::uint32_t kExFatEndOfChain = 0xFFFFFFFF;
constexpr std::uint32_t kExFatBadCluster = 0xFFFFFFF7;

struct ExFatGeometry {
  std::uint32_t bytesPerSector = 512;
  std::uint64_t clusterBytes = 512;
  std::uint64_t volumeSectors = 0;
  std::uint64_t fatOffset = 0;  // sectors
  std::uint64_t fatLength = 0;  // sectors
  std::uint64_t heapOffset = 0;  // sectors
  std::uint32_t clusterCount = 0;
  std::uint32_t rootCluster = 0;
  std::uint32_t numberOfFats = 1;
  bool secondFatActive = false;

  bool InHeap(std::uint64_t cluster) const { return cluster >= 2 && cluster < std::uint64_t{clusterCount} + 2; }
  std::uint64_t ClusterOffset(std::uint32_t cluster) const {
    return heapOffset * bytesPerSector + (std::uint64_t{cluster} - 2) * clusterBytes;
  }
  std::uint64_t ClustersFor(std::uint64_t bytes) const { return (bytes + clusterBytes - 1) / clusterBytes; }
};

ExFatGeometry ExFatGeometryOf(const LOGDRIVE_INFO& drive);

// The allocation bitmap: one bit a cluster, set while the cluster is taken.
struct ExFatBitmap {
  std::vector<std::uint8_t> bits;
  bool found = false;     // the root folder names one
  bool readable = false;  // every byte of it could be read
  bool Taken(std::uint64_t cluster) const;
  std::uint64_t FreeClusters(std::uint32_t clusterCount) const;
};

// What the root folder's own entries say: where the bitmap lies, and the
// volume's label.
struct ExFatRootEntries {
  std::uint32_t bitmapCluster = 0;
  std::uint64_t bitmapLength = 0;
  bool bitmapFound = false;
  std::string label;
};

// The tables a scan or a copy works from.
struct ExFatVolume {
  ExFatGeometry g;
  ExFatRootEntries root;
  ExFatBitmap bitmap;
};

// Loads the active FAT into drive->fatTable. Entries whose sectors cannot be
// read hold kExFatEndOfChain, so that no chain is followed into the unknown;
// each run is logged. 0 only when the table cannot be allocated.
int LoadExFatFat(EngineHost* host, LOGDRIVE_INFO* drive, const ExFatGeometry& g);

// Reads the root folder's bitmap and label entries, then the bitmap. Every
// failure is logged; the result says what could be had.
ExFatVolume OpenExFatVolume(EngineHost* host, LOGDRIVE_INFO* drive);

// The next cluster of a chain in the loaded FAT, or kExFatEndOfChain.
std::uint32_t ExFatNext(const LOGDRIVE_INFO& drive, std::uint32_t cluster);

// The clusters of a folder or file in order, at most `limit` of them: one
// run from `first` when `contiguous`, else its chain in the loaded FAT
// (stopping at a loop, a cluster outside the heap or the chain's end).
// `fault` is set when the chain ends before `limit` for a reason other than
// its end mark.
std::vector<std::uint32_t> ExFatClusters(const LOGDRIVE_INFO& drive, const ExFatGeometry& g, std::uint32_t first,
                                         bool contiguous, std::uint64_t limit, std::string* fault);

// Where a deleted file's clusters lay, `bytes` of it from `first`. With
// NoFatChain they are one run, exactly. Without it, deletion clears only
// the bitmap bits, so the chain it had is usually still in the FAT: that
// chain is taken when it has exactly as many clusters as the file needs,
// ends with the end mark, and every cluster of it is free; otherwise the
// clusters are assumed to be one run from the first, as on FAT. `how` says
// which was taken.
enum class DeletedExtent { Exact, StaleChain, Assumed };
std::vector<std::uint32_t> DeletedFileClusters(const LOGDRIVE_INFO& drive, const ExFatVolume& volume,
                                               std::uint32_t first, std::uint64_t bytes, bool noFatChain,
                                               DeletedExtent* how);

}  // namespace tsn
