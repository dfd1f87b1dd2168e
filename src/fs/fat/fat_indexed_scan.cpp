#include <cinttypes>
#include <new>
#include <unordered_set>
#include <vector>

#include "core/engine_host.h"
#include "fs/logdrive_info.h"
#include "fs/fat/dir_entry.h"
#include "fs/fat/fat_scans.h"
#include "fs/fat/fat_table.h"
#include "fs/scan_support.h"
#include "source/read_sectors.h"

namespace tsn {

namespace {

// Deeper than any real tree; a chain of folders this deep is damage.
constexpr std::size_t kMaxFolderDepth = 512;
constexpr std::uint32_t kMaxFolderEntries = 65536;

// One indexed walk. Besides the tree it keeps what bounds the walk on
// damaged volumes: the start clusters of the folders on the current path (a
// folder leading back onto it is not entered again), and a budget of
// directory clusters, so that folders sharing clusters cannot multiply the
// work without end.
class FatTreeWalk {
 public:
  FatTreeWalk(EngineHost* app, LOGDRIVE_INFO* drive)
      : app_(app), drive_(drive), g_(FatGeometryOf(*drive)), latestYear_(CurrentYearUtc()),
        clusterBudget_(std::max<std::uint64_t>(drive->clusterCount, 1) * 4) {}

  bool AllocateBuffer(std::vector<std::uint8_t>& buffer) {
    try {
      buffer.assign(g_.ClusterBytes(), 0);
      return true;
    } catch (const std::bad_alloc&) {
      LogMessage(app_, kError, "Could no allocate %" PRIu64 " bytes for cluster buffer",
                 g_.ClusterBytes());
      return false;
    }
  }

  // Walks the folder whose chain starts at `first`; files go to `folder`,
  // subfolders under `node`. Everything in a deleted folder is taken as
  // deleted. Returns false once the walk has been stopped.
  bool WalkChain(std::uint32_t first, MftFileInfo* folder, FolderRef node, bool isRoot, bool deleted,
                 std::vector<std::uint8_t>& buffer) {
    std::unordered_set<std::uint32_t> chain;
    std::uint32_t previous = 0;
    std::uint32_t c = first;
    while (c != kNoNextCluster) {
      if (!chain.insert(c).second) {
        LogMessage(app_, kError, "The cluster chain of folder \"%s\" loops back to cluster %u; it is read once.",
                   folder->Label().c_str(), c);
        break;
      }
      if (chain.size() > maxFolderClusters_) {
        LogMessage(app_, kError, "%s runs on past the %u entries a folder can hold, at cluster %u; the rest of its "
                   "chain is not read.",
                   FolderText(path_, isRoot).c_str(), kMaxFolderEntries, c);
        break;
      }
      if (clusterBudget_ == 0) {
        if (!budgetLogged_)
          LogMessage(app_, kError, "The folders of %s share so many clusters that the walk was cut short; "
                     "what was found so far is shown.",
                     drive_->driveName.c_str());
        budgetLogged_ = true;
        break;
      }
      --clusterBudget_;
      // What could be read of the cluster is examined all the same: its
      // unreadable sectors read as zeros, which hold no entry.
      if (ReadCluster(app_, drive_, c, buffer) == 0) ReportUnreadableCluster(c, isRoot);
      if (!ExamineEntries(buffer, c, previous, folder, node, isRoot, deleted)) return false;
      previous = c;
      c = NextCluster(drive_, drive_->fatTable, c);
      if (c == kNoNextCluster && FatEntryUnreadable(*drive_, previous))
        LogMessage(app_, kError, "%s the FAT entry of cluster %u of %s could not be read; the folder's clusters after it "
                   "cannot be found.",
                   drive_->driveName.c_str(), previous, FolderText(path_, isRoot).c_str());
    }
    return true;
  }

  // FAT12/16's root folder: a fixed run of sectors before the data area,
  // read whole; its entries, like any folder's, lead into the clusters.
  bool WalkFixedRoot(MftFileInfo* folder, FolderRef node) {
    std::vector<std::uint8_t> region;
    if (!ReadFixedRoot(app_, *drive_, region)) return true;
    return ExamineEntries(region, 0, 0, folder, node, true, false);
  }

  // Deleted files judged "chain in use" only for want of readable FAT
  // entries.
  std::uint64_t judgedWithoutFat = 0;
  FolderRef root = kNoFolder;

 private:
  // The entries of one folder cluster (or of the fixed root, `dirCluster`
  // 0); false once the walk has been stopped.
  bool ExamineEntries(std::span<const std::uint8_t> data, std::uint32_t dirCluster, std::uint32_t previous,
                      MftFileInfo* folder, FolderRef node, bool isRoot, bool deleted) {
    const std::size_t slots = data.size() / kDirEntrySize;
    const bool dots = !isRoot && slots >= 2 && data[0] == '.' && data[32] == '.' && data[33] == '.';
    for (std::size_t slot = dots ? 2 : 0; slot < slots; ++slot) {
      app_->PumpOneMessage();
      if (!app_->Busy()) return false;
      const ShortEntry entry{data.subspan(slot * kDirEntrySize, kDirEntrySize)};
      if (!IsAcceptableEntry(drive_, entry, latestYear_)) continue;
      MftFileInfo info = EntryToFileInfo(app_, drive_, {data, slot, dirCluster, previous}, deleted);
      if (info.flags == kFlagChainInUse && JudgedOnUnreadableFat(drive_, entry)) ++judgedWithoutFat;
      if (info.flags & kFlagFolder) {
        if (!AddFolder(std::move(info), node, isRoot)) return false;
      } else {
        AddFile(info, folder, node, isRoot);
      }
    }
    return true;
  }

  void AddFile(const MftFileInfo& info, MftFileInfo* folder, FolderRef node, bool isRoot) {
    FoundFile* file = FoundFileFromFileInfo(app_->Records(), info);
    AppendToFolder(folder, file);
    ++drive_->foundFiles;
    drive_->foundBytes += file->size;
    ShowFoundCounters(app_, drive_);
    // Deleted entries directly in the root directory do not mark the root.
    if (!(info.flags & kFlagInUse) && !isRoot) app_->MarkDeletedUpward(node);
  }

  bool AddFolder(MftFileInfo&& info, FolderRef parent, bool parentIsRoot) {
    // Each new top-level folder shows the root's files found so far.
    if (parentIsRoot) {
      app_->ExpandFolder(root);
      app_->ShowFolderFilesSoFar(root);
    }
    MftFileInfo* folder = app_->Records().Keep(std::move(info));
    const FolderRef node = app_->InsertFolderNode(folder, parent, InsertPosition::Sorted);
    ++drive_->foundDirs;
    ShowFoundCounters(app_, drive_);
    if (!(folder->flags & kFlagInUse) && !parentIsRoot) app_->MarkDeletedUpward(node);
    const auto start = static_cast<std::uint32_t>(folder->recordNumber);
    if (start < 2) return true;  // no cluster of its own to read
    if (onPath_.count(start) != 0) {
      LogMessage(app_, kError, "Folder \"%s\" starts at cluster %u, which belongs to a folder it lies in; "
                 "it is not walked again.",
                 folder->Label().c_str(), start);
      return true;
    }
    if (onPath_.size() >= kMaxFolderDepth) {
      LogMessage(app_, kError, "Folder \"%s\" lies more than %zu folders deep; what is below it is not walked.",
                 folder->Label().c_str(), kMaxFolderDepth);
      return true;
    }
    std::vector<std::uint8_t> buffer;
    if (!AllocateBuffer(buffer)) return true;  // this subtree stays unread; the walk goes on
    onPath_.insert(start);
    path_.push_back(folder->Label());
    const bool goOn = WalkChain(start, folder, node, false, folder->deletedEntry, buffer);
    path_.pop_back();
    onPath_.erase(start);
    return goOn;
  }

  // The entries in a folder cluster's unreadable sectors are lost; the
  // listing alone cannot show that, so the log says where.
  void ReportUnreadableCluster(std::uint32_t cluster, bool isRoot) {
    const VolumeSource* v = drive_->volume.get();
    if (v == nullptr) return;
    const std::vector<UnreadableRange> bad = v->UnreadableIn(g_.ClusterOffset(cluster), g_.ClusterBytes());
    if (bad.empty()) return;  // past the end of a short image, which is logged once
    std::uint64_t badBytes = 0;
    for (const UnreadableRange& r : bad) badBytes += r.Bytes();
    const std::string where = UnreadableWhere(*v, bad);
    LogMessage(app_, kError, "%s cluster %u of %s could not be read%s (%s of %s); the entries that stood there are missing.",
               drive_->driveName.c_str(), cluster, FolderText(path_, isRoot).c_str(),
               badBytes == g_.ClusterBytes() ? "" : " in full", where.c_str(), v->Path().c_str());
  }

  EngineHost* app_;
  LOGDRIVE_INFO* drive_;
  FatGeometry g_;
  int latestYear_;
  std::uint64_t clusterBudget_;
  bool budgetLogged_ = false;
  std::unordered_set<std::uint32_t> onPath_;
  std::vector<std::string> path_;  // names of the folders being walked, from the root down
  // A folder holds at most 65,536 entries; a chain longer than they fill is
  // damage, and must not make the walk hold a set of millions of clusters.
  std::size_t maxFolderClusters_ = static_cast<std::size_t>(
      std::max<std::uint64_t>(1, std::uint64_t{kMaxFolderEntries} * kDirEntrySize /
                                     std::max<std::uint64_t>(g_.ClusterBytes(), 1)));
};

}  // namespace

int FatIndexedScan(EngineHost* app, LOGDRIVE_INFO* drive) {
  ProgressClock clock;
  clock.blocksTotal = drive->clusterCount - std::min(drive->freeUnits, drive->clusterCount);
  app->StartProgress(&clock);
  FatTreeWalk walk(app, drive);
  const FatGeometry g = FatGeometryOf(*drive);
  const std::uint32_t rootCluster = g.rootCluster;
  std::vector<std::uint8_t> buffer;
  if (!walk.AllocateBuffer(buffer)) return 0;
  if (LoadFat(app, drive) == 0) return 0;
  walk.root = StartFoundTree(app, drive);
  MftFileInfo* rootInfo = app->FolderRecordOf(walk.root);
  if (rootInfo == nullptr) {
    drive->fatTable = {};
    return 0;
  }
  LogMessage(app, kAlert, "Beginning file system scan.");
  ReportShortVolume(app, *drive);
  app->SetBusy(true);
  if (g.entryBits != 32)
    walk.WalkFixedRoot(rootInfo, walk.root);
  else if (rootCluster < 2 || rootCluster >= drive->clusterCount)
    LogMessage(app, kError, "%s: the root folder's cluster %u lies outside the volume; there is no tree to walk.",
               drive->driveName.c_str(), rootCluster);
  else
    walk.WalkChain(rootCluster, rootInfo, walk.root, true, false, buffer);
  ShowFoundCounters(app, drive);
  app->ShowFolderFiles(walk.root);
  ReportJudgedWithoutFat(app, *drive, walk.judgedWithoutFat);
  drive->fatTable = {};
  LogMessage(app, kAlert, "File system scan complete.");
  app->SetBusy(false);
  return 1;
}

}  // namespace tsn
