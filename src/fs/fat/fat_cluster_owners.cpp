#include "fs/fat/fat_cluster_owners.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "core/engine_host.h"
#include "core/entry_records.h"
#include "fs/fat/dir_entry.h"
#include "fs/fat/fat_table.h"
#include "fs/fat/long_name.h"
#include "fs/logdrive_info.h"
#include "source/volume_source.h"

namespace tsn {

namespace {

// Deeper than any real tree; the scans stop at the same depth.
constexpr std::size_t kMaxFolderDepth = 512;
constexpr std::uint64_t kMaxFolderEntries = 65536;

class FatOwnerIndex : public OwnerIndex {
 public:
  FatOwnerIndex(EngineHost* host, LOGDRIVE_INFO* drive) : host_(host), drive_(drive), g_(FatGeometryOf(*drive)) {}

  ClusterOwners Owners(const FoundFile& file) override {
    if (file.flags & (kFlagInUse | kFlagFolder)) return {};
    if (!built_) Build();
    ClusterOwners out = OwnersFromHits(index_.Lookup(DeletedExtents(file)),
                                       [this](std::uint32_t id) { return tree_.Describe(id); });
    gaps_.Into(out);
    return out;
  }

 private:
  // As copy-out takes a deleted file's clusters: one run from its start
  // cluster for its size, since the FAT no longer holds its chain.
  std::vector<ClusterExtent> DeletedExtents(const FoundFile& file) const {
    const std::uint64_t clusterBytes = g_.ClusterBytes();
    const std::uint64_t start = file.startCluster;
    if (clusterBytes == 0 || file.size == 0 || start < 2 || start >= drive_->clusterCount) return {};
    const std::uint64_t needed = (file.size + clusterBytes - 1) / clusterBytes;
    return {{start, std::min(needed, drive_->clusterCount - start)}};
  }


  // The table is the planner's when one has it loaded, else loaded here
  // and kept for no longer than the walk.
  void Build() {
    built_ = true;
    const bool loadedHere = drive_->fatTable.empty();
    if (loadedHere && LoadFat(host_, drive_) == 0) {
      gaps_.Note("the FAT could not be loaded");
      return;
    }
    if (!drive_->fatUnreadable.empty())
      gaps_.Note("some of the FAT could not be read, so the chains that run through it are cut short there");
    const std::uint32_t root = g_.entryBits == 32 ? g_.rootCluster : 0;
    tree_ = OwnerTree(root);
    std::vector<Pending> pending{{0, root, 0}};
    std::unordered_set<std::uint32_t> walked;
    while (!pending.empty()) {
      const Pending folder = pending.back();
      pending.pop_back();
      WalkFolder(folder, pending, walked);
    }
    if (loadedHere) drive_->fatTable = {};
    index_.Finish();
  }

  struct Pending {
    std::uint32_t id = 0;
    std::uint32_t first = 0;
    std::size_t depth = 0;
  };

  void WalkFolder(const Pending& at, std::vector<Pending>& pending, std::unordered_set<std::uint32_t>& walked) {
    std::vector<std::array<std::uint8_t, 32>> longName;  // in the order they stand
    const std::uint32_t folder = at.id, first = at.first;
    const std::size_t depth = at.depth;
    if (folder == 0 && g_.entryBits != 32) {
      std::vector<std::uint8_t> region;
      if (ReadFixedRoot(host_, *drive_, region)) {
        const std::uint64_t from = g_.SectorOffset(g_.RootSector());
        if (drive_->volume && !drive_->volume->UnreadableIn(from, region.size()).empty())
          gaps_.Note("the root folder could not be read in full");
        Examine(region, folder, depth, longName, pending);
      }
      return;
    }
    if (first < 2 || first >= drive_->clusterCount || !walked.insert(first).second) return;
    const std::uint64_t most = std::max<std::uint64_t>(1, kMaxFolderEntries * kDirEntrySize / g_.ClusterBytes());
    std::vector<std::uint8_t> buffer(g_.ClusterBytes());
    std::uint32_t c = first;
    for (std::uint64_t n = 0; c != kNoNextCluster && n < most; ++n) {
      index_.Add(c, 1, folder);
      if (ReadCluster(host_, drive_, c, buffer) == 0)
        gaps_.Note("cluster " + std::to_string(c) + " of the folder " + tree_.PathOf(folder) + " could not be read");
      if (!Examine(buffer, folder, depth, longName, pending)) break;
      c = NextCluster(drive_, drive_->fatTable, c);
    }
  }

  // The live entries of one stretch of a folder; false at its end mark.
  bool Examine(std::span<const std::uint8_t> data, std::uint32_t folder, std::size_t depth,
               std::vector<std::array<std::uint8_t, 32>>& longName,
               std::vector<Pending>& pending) {
    for (std::size_t at = 0; at + kDirEntrySize <= data.size(); at += kDirEntrySize) {
      const std::span<const std::uint8_t> slot = data.subspan(at, kDirEntrySize);
      if (slot[0] == 0x00) return false;
      if (slot[0] == kDeletedMark) {
        longName.clear();
        continue;
      }
      if (IsLongNameEntry(slot)) {
        // A run longer than any name is leftovers: the nearest ones count.
        if (longName.size() == kMaxLongNameEntries) longName.erase(longName.begin());
        std::copy(slot.begin(), slot.end(), longName.emplace_back().begin());
        continue;
      }
      const ShortEntry entry{slot};
      std::vector<std::array<std::uint8_t, 32>> nearestFirst(longName.rbegin(), longName.rend());
      longName.clear();
      if (entry.Attributes() & kAttrVolumeLabel) continue;
      if (slot[0] == '.' && (slot[1] == ' ' || (slot[1] == '.' && slot[2] == ' '))) continue;
      const bool isFolder = (entry.Attributes() & kAttrDirectory) != 0;
      const std::uint32_t start = EntryStartCluster(*drive_, entry.StartCluster());
      const bool whole = !nearestFirst.empty() && LongNameIsWhole(nearestFirst);
      const std::uint32_t id = tree_.Add(folder, whole ? GatherLongName(nearestFirst) : ShortName(entry), start);
      if (isFolder) {
        if (depth + 1 < kMaxFolderDepth) pending.push_back({id, start, depth + 1});
        else gaps_.Note("folders below " + tree_.PathOf(id) + " lie too deep to be walked");
        continue;
      }
      TakeChain(start, entry.Size(), id);
    }
    return true;
  }

  // A live file holds its chain for as many clusters as its size needs;
  // past them a chain is damage, and a loop ends there too. Files
  // cross-linked into one long chain would make the walk follow it once
  // each: a budget of a few times the volume's clusters bounds that.
  void TakeChain(std::uint32_t start, std::uint64_t size, std::uint32_t id) {
    const std::uint64_t clusterBytes = g_.ClusterBytes();
    const std::uint64_t needed = (size + clusterBytes - 1) / clusterBytes;
    std::uint32_t c = start;
    for (std::uint64_t n = 0; n < needed && c >= 2 && c < drive_->clusterCount; ++n) {
      if (budget_ == 0) {
        if (!budgetNoted_)
          gaps_.Note("the live files share so many clusters that the walk of their chains was cut short");
        budgetNoted_ = true;
        return;
      }
      --budget_;
      index_.Add(c, 1, id);
      c = NextCluster(drive_, drive_->fatTable, c);
      if (c == kNoNextCluster) break;
    }
  }


  EngineHost* host_;
  LOGDRIVE_INFO* drive_;
  FatGeometry g_;
  bool built_ = false;
  std::uint64_t budget_ = 4 * std::max<std::uint64_t>(drive_->clusterCount, 1);
  bool budgetNoted_ = false;
  OwnerGaps gaps_;
  OwnerTree tree_{0};
  ClusterRangeIndex index_;
};

}  // namespace

std::unique_ptr<OwnerIndex> OpenFatOwners(EngineHost* host, LOGDRIVE_INFO* drive) {
  return std::make_unique<FatOwnerIndex>(host, drive);
}

}  // namespace tsn
