#include "fs/exfat/exfat_cluster_owners.h"

#include <algorithm>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "core/engine_host.h"
#include "core/entry_records.h"
#include "fs/exfat/exfat_entry_set.h"
#include "fs/exfat/exfat_volume.h"
#include "fs/logdrive_info.h"
#include "source/read_sectors.h"

namespace tsn {

namespace {

constexpr std::uint64_t kMaxFolderBytes = 256ULL << 20;
constexpr std::size_t kMaxFolderDepth = 512;

// Puts the index's own copy of the FAT where the exFAT readers look for it,
// for as long as a question takes, unless a planner has it loaded there.
class LentTable {
 public:
  LentTable(LOGDRIVE_INFO* drive, std::vector<std::uint32_t>& own) : drive_(drive), own_(own) {
    lent_ = drive_->fatTable.empty();
    if (lent_) drive_->fatTable.swap(own_);
  }
  ~LentTable() {
    if (lent_) drive_->fatTable.swap(own_);
  }
  LentTable(const LentTable&) = delete;
  LentTable& operator=(const LentTable&) = delete;

 private:
  LOGDRIVE_INFO* drive_;
  std::vector<std::uint32_t>& own_;
  bool lent_ = false;
};

class ExFatOwnerIndex : public OwnerIndex {
 public:
  ExFatOwnerIndex(EngineHost* host, LOGDRIVE_INFO* drive) : host_(host), drive_(drive) {}

  ClusterOwners Owners(const FoundFile& file) override {
    if (file.flags & (kFlagInUse | kFlagFolder)) return {};
    if (!built_) Build();
    if (!haveTable_) {
      ClusterOwners none;
      none.complete = false;
      none.notes = gaps_.notes;
      return none;
    }
    std::vector<ClusterExtent> extents;
    {
      const LentTable lent(drive_, fat_);
      DeletedExtent how;
      for (const std::uint32_t c :
           DeletedFileClusters(*drive_, v_, file.startCluster, file.size, file.exfat.noFatChain, &how)) {
        if (!extents.empty() && extents.back().first + extents.back().count == c) ++extents.back().count;
        else extents.push_back({c, 1});
      }
    }
    ClusterOwners out = OwnersFromHits(index_.Lookup(extents), [this](std::uint32_t id) { return tree_.Describe(id); });
    gaps_.Into(out);
    return out;
  }

 private:
  struct Folder {
    std::uint32_t id = 0;
    std::vector<std::uint32_t> clusters;
    std::size_t depth = 0;
  };


  void Build() {
    built_ = true;
    const ExFatGeometry g = ExFatGeometryOf(*drive_);
    if (drive_->fatTable.empty()) {
      if (LoadExFatFat(host_, drive_, g) == 0) {
        gaps_.Note("the FAT could not be loaded");
        return;
      }
      fat_ = std::move(drive_->fatTable);
      drive_->fatTable = {};
    } else {
      fat_ = drive_->fatTable;
    }
    haveTable_ = true;
    const LentTable lent(drive_, fat_);
    v_ = OpenExFatVolume(host_, drive_);
    tree_ = OwnerTree(g.rootCluster);
    std::string fault;
    std::vector<Folder> pending{{0, ExFatClusters(*drive_, g, g.rootCluster, false, MaxFolderClusters(), &fault), 0}};
    if (!fault.empty()) gaps_.Note("the root folder's chain is damaged: " + fault);
    std::unordered_set<std::uint32_t> walked;
    while (!pending.empty()) {
      Folder f = std::move(pending.back());
      pending.pop_back();
      if (f.clusters.empty() || !walked.insert(f.clusters.front()).second) continue;
      for (const std::uint32_t c : f.clusters) index_.Add(c, 1, f.id);
      WalkFolder(f, pending);
    }
    index_.Finish();
  }

  std::uint64_t MaxFolderClusters() const { return std::max<std::uint64_t>(1, kMaxFolderBytes / v_.g.clusterBytes); }

  // The live sets of one folder, read whole: a set may run on from one
  // cluster into the next.
  void WalkFolder(const Folder& f, std::vector<Folder>& pending) {
    const ExFatGeometry& g = v_.g;
    std::vector<std::uint8_t> bytes(f.clusters.size() * g.clusterBytes);
    for (std::size_t i = 0; i < f.clusters.size(); ++i) {
      const std::span<std::uint8_t> part(bytes.data() + i * g.clusterBytes, g.clusterBytes);
      if (ReadBytes(host_, drive_->volume.get(), g.ClusterOffset(f.clusters[i]), part) != 1)
        gaps_.Note("cluster " + std::to_string(f.clusters[i]) + " of the folder " + tree_.PathOf(f.id) +
                   " could not be read");
    }
    for (std::size_t at = 0; at + kExFatSlotSize <= bytes.size();) {
      const std::uint8_t type = bytes[at];
      if (type == kExFatEndOfFolder) return;
      const Bytes rest(bytes.data() + at, bytes.size() - at);
      if (type == kExFatBitmap || type == kExFatUpcase) {
        // The volume's own tables hold clusters as files do; they go by the
        // names The Sleuth Kit gives them.
        const std::uint32_t id =
            tree_.Add(f.id, type == kExFatBitmap ? "$ALLOC_BITMAP" : "$UPCASE_TABLE", LeU32(rest, 20));
        TakeClusters(id, LeU32(rest, 20), LeU64(rest, 24), false);
        at += kExFatSlotSize;
        continue;
      }
      if (type != kExFatFile) {
        at += kExFatSlotSize;
        continue;
      }
      const ExFatEntrySet set = ParseEntrySet(rest, false);
      if (set.status != ExFatEntrySet::Status::Sound) {
        at += kExFatSlotSize;
        continue;
      }
      at += set.slots * kExFatSlotSize;
      const std::uint32_t id = tree_.Add(f.id, set.name, set.firstCluster);
      if (set.IsFolder()) {
        if (f.depth + 1 >= kMaxFolderDepth) {
          gaps_.Note("folders below " + tree_.PathOf(id) + " lie too deep to be walked");
          continue;
        }
        std::string fault;
        const std::uint64_t limit = set.NoFatChain() ? std::min(g.ClustersFor(set.dataLength), MaxFolderClusters())
                                                     : MaxFolderClusters();
        pending.push_back(
            {id, ExFatClusters(*drive_, g, set.firstCluster, set.NoFatChain(), limit, &fault), f.depth + 1});
        continue;
      }
      TakeClusters(id, set.firstCluster, set.dataLength, set.NoFatChain());
    }
  }

  // Files cross-linked into one long chain would make the walk follow it
  // once each: a budget of a few times the volume's clusters bounds that.
  void TakeClusters(std::uint32_t id, std::uint32_t first, std::uint64_t bytes, bool contiguous) {
    if (bytes == 0 || !v_.g.InHeap(first)) return;
    const std::uint64_t wanted = std::min(v_.g.ClustersFor(bytes), budget_);
    if (wanted < v_.g.ClustersFor(bytes) && !budgetNoted_) {
      gaps_.Note("the live files share so many clusters that the walk of their chains was cut short");
      budgetNoted_ = true;
    }
    std::string fault;
    const std::vector<std::uint32_t> clusters = ExFatClusters(*drive_, v_.g, first, contiguous, wanted, &fault);
    budget_ -= clusters.size();
    for (const std::uint32_t c : clusters) index_.Add(c, 1, id);
  }


  EngineHost* host_;
  LOGDRIVE_INFO* drive_;
  bool built_ = false;
  bool haveTable_ = false;
  std::uint64_t budget_ = 4 * std::max<std::uint64_t>(drive_->clusterCount, 1);
  bool budgetNoted_ = false;
  OwnerGaps gaps_;
  std::vector<std::uint32_t> fat_;
  ExFatVolume v_;
  OwnerTree tree_{0};
  ClusterRangeIndex index_;
};

}  // namespace

std::unique_ptr<OwnerIndex> OpenExFatOwners(EngineHost* host, LOGDRIVE_INFO* drive) {
  return std::make_unique<ExFatOwnerIndex>(host, drive);
}

}  // namespace tsn
