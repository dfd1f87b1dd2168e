#pragma once
// The File Allocation Table: loading it, reading data clusters, following chains.
#include <cstdint>
#include <span>
#include <vector>

namespace tsn {

class EngineHost;
struct LOGDRIVE_INFO;

constexpr std::uint32_t kFatEntryMask = 0x0FFFFFFF;
constexpr std::uint32_t kFatEndOfChain = 0x0FFFFFF8;
constexpr std::uint32_t kNoNextCluster = 0xFFFFFFFF;

// Sectors here are the volume's own, of bytesPerSector bytes each, as every
// field of its boot sector counts them.
struct FatGeometry {
  std::uint32_t bytesPerSector = 512;
  std::uint32_t sectorsPerCluster = 0;
  std::uint32_t reservedSectors = 0;
  std::uint32_t numberOfFats = 0;
  std::uint32_t sectorsPerFat = 0;
  std::uint32_t rootCluster = 0;       // FAT32: the root folder is a chain
  // FAT12/16: the width of a table entry in bits (32 on FAT32), and the
  // fixed root folder between the FATs and the data area (no entries on
  // FAT32).
  std::uint32_t entryBits = 32;
  std::uint32_t rootEntries = 0;
  std::uint64_t RootSector() const { return reservedSectors + std::uint64_t{numberOfFats} * sectorsPerFat; }
  std::uint64_t RootSectors() const { return (std::uint64_t{rootEntries} * 32 + bytesPerSector - 1) / bytesPerSector; }
  std::uint64_t ClusterBytes() const { return std::uint64_t{sectorsPerCluster} * bytesPerSector; }
  // First sector of data cluster n (n >= 2), in 64 bits; the data area
  // starts after the fixed root folder where there is one.
  std::uint64_t ClusterLba(std::uint32_t cluster) const;
  std::uint64_t SectorOffset(std::uint64_t sector) const { return sector * bytesPerSector; }
  std::uint64_t ClusterOffset(std::uint32_t cluster) const { return SectorOffset(ClusterLba(cluster)); }
};

FatGeometry FatGeometryOf(const LOGDRIVE_INFO& drive);

// 12, 16 or 32: how wide the volume's FAT entries are, from its type.
std::uint32_t FatEntryBits(const LOGDRIVE_INFO& drive);

// The start cluster an entry names: FAT12 and FAT16 keep other things in
// the high half (OS/2 extended attributes), which is no part of it there.
std::uint32_t EntryStartCluster(const LOGDRIVE_INFO& drive, std::uint32_t fullStart);

// An entry that no copy of the FAT could give. It reads as end of chain, so
// that a chain is not followed into the unknown and the cluster is never
// taken as free; drive->fatUnreadable says which entries hold it.
constexpr std::uint32_t kFatUnreadableEntry = 0x0FFFFFFF;

// Loads the first FAT into drive->fatTable, one of the volume's sectors at a time with
// progress. Entries of every width are kept as 32-bit ones: FAT12/16 end of
// chain and bad-cluster marks become FAT32's, so that every reader of the
// table can take it as FAT32's. A sector that cannot be read is taken from the FAT's other
// copies; when none gives it, its entries hold kFatUnreadableEntry and are
// listed in drive->fatUnreadable. Returns 0 only when the table cannot be
// allocated.
int LoadFat(EngineHost* app, LOGDRIVE_INFO* drive);

// Whether the loaded table's entry for cluster came from no copy of the FAT.
bool FatEntryUnreadable(const LOGDRIVE_INFO& drive, std::uint64_t cluster);
// How many of the entries for `count` clusters from `first` came from none.
std::uint64_t UnreadableFatEntriesIn(const LOGDRIVE_INFO& drive, std::uint64_t first,
                                     std::uint64_t count);

// Reads one data cluster into buffer (which must hold a whole cluster).
int ReadCluster(EngineHost* app, LOGDRIVE_INFO* drive, std::uint32_t cluster,
                std::span<std::uint8_t> buffer);

// The next cluster of cluster's chain, or kNoNextCluster. Entries beyond the
// loaded table are never read: they end the chain.
std::uint32_t NextCluster(const LOGDRIVE_INFO* drive, const std::vector<std::uint32_t>& fat,
                          std::uint32_t cluster);

// For each cluster, the cluster whose entry leads to it (0 when none does):
// how a scan that reads clusters in number order finds a folder's previous
// cluster.
std::vector<std::uint32_t> ChainPredecessors(const LOGDRIVE_INFO* drive,
                                             const std::vector<std::uint32_t>& fat);

// Reads FAT12/16's fixed root folder into region, as much of it as the
// volume holds, logging by byte range what of it could not be read (those
// entries read as zeros, which hold none); false when there is nothing to
// read.
bool ReadFixedRoot(EngineHost* app, const LOGDRIVE_INFO& drive, std::vector<std::uint8_t>& region);

// Logs that the volume's boot sector claims more sectors than its image or
// device holds, when it does: the clusters beyond read as zeros and yield
// nothing, which a scan must not pass over in silence. True when it logged.
bool ReportShortVolume(EngineHost* app, const LOGDRIVE_INFO& drive);

// The whole 32-bit entry of cluster (0: free). Clusters the table does not
// reach read as end of chain: never free, so nothing is judged recoverable
// on the strength of an entry that was not there.
std::uint32_t FatEntry(const std::vector<std::uint32_t>& fat, std::uint32_t cluster);

}  // namespace tsn
