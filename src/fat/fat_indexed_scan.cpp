#include <cinttypes>
#include <new>
#include <unordered_set>
#include <vector>

#include "app/app_state.h"
#include "app/main_dialog.h"
#include "app/message_log.h"
#include "app/progress.h"
#include "fat/dir_entry.h"
#include "fat/fat_scans.h"
#include "fat/fat_table.h"
#include "results/file_list.h"
#include "results/folder_tree.h"
#include "volume/read_sectors.h"

namespace tsn {

namespace {

// Deeper than any real tree; a chain of folders this deep is damage.
constexpr std::size_t kMaxFolderDepth = 512;
constexpr std::uint32_t kMaxFolderEntries = 65536;

bool StartsWithDotEntries(const std::vector<std::uint8_t>& cluster) {
  return cluster[0] == '.' && cluster[32] == '.' && cluster[33] == '.';
}

// One indexed walk. Besides the tree it keeps what bounds the walk on
// damaged volumes: the start clusters of the folders on the current path (a
// folder leading back onto it is not entered again), and a budget of
// directory clusters, so that folders sharing clusters cannot multiply the
// work without end.
class FatTreeWalk {
 public:
  FatTreeWalk(AppState* app, LOGDRIVE_INFO* drive)
      : app_(app), drive_(drive), g_(FatGeometryOf(*drive)), latestYear_(CurrentYearUtc()),
        clusterBudget_(std::max<std::uint64_t>(drive->clusterCount, 1) * 4) {}

  bool AllocateBuffer(std::vector<std::uint8_t>& buffer) {
    try {
      buffer.assign(g_.ClusterBytes(), 0);
      return true;
    } catch (const std::bad_alloc&) {
      LogMessage(app_, kError, app_->logList, "Could no allocate %" PRIu64 " bytes for cluster buffer",
                 g_.ClusterBytes());
      return false;
    }
  }

  // Walks the folder whose chain starts at `first`; files go to `folder`,
  // subfolders under `node`. Returns false once the walk has been stopped.
  bool WalkChain(std::uint32_t first, MftFileInfo* folder, NodeHandle node, bool isRoot,
                 std::vector<std::uint8_t>& buffer) {
    std::unordered_set<std::uint32_t> chain;
    std::uint32_t previous = 0;
    std::uint32_t c = first;
    while (c != kNoNextCluster) {
      if (!chain.insert(c).second) {
        LogMessage(app_, kError, app_->logList,
                   "The cluster chain of folder \"%s\" loops back to cluster %u; it is read once.",
                   folder->Label().c_str(), c);
        break;
      }
      if (chain.size() > maxFolderClusters_) {
        LogMessage(app_, kError, app_->logList,
                   "%s runs on past the %u entries a folder can hold, at cluster %u; the rest of its "
                   "chain is not read.",
                   FolderText(isRoot).c_str(), kMaxFolderEntries, c);
        break;
      }
      if (clusterBudget_ == 0) {
        if (!budgetLogged_)
          LogMessage(app_, kError, app_->logList,
                     "The folders of %s share so many clusters that the walk was cut short; "
                     "what was found so far is shown.",
                     drive_->driveName.c_str());
        budgetLogged_ = true;
        break;
      }
      --clusterBudget_;
      // What could be read of the cluster is examined all the same: its
      // unreadable sectors read as zeros, which hold no entry.
      if (ReadCluster(app_, drive_, c, buffer) == 0) ReportUnreadableCluster(c, isRoot);
      const std::size_t slots = buffer.size() / kDirEntrySize;
      for (std::size_t slot = (!isRoot && StartsWithDotEntries(buffer)) ? 2 : 0; slot < slots; ++slot) {
        PumpOneMessage(app_);
        if (app_->busy == 0) return false;
        const ShortEntry entry{std::span<const std::uint8_t>(buffer).subspan(slot * kDirEntrySize, kDirEntrySize)};
        if (!IsAcceptableEntry(drive_, entry, latestYear_)) continue;
        MftFileInfo info = EntryToFileInfo(app_, drive_, {buffer, slot, c, previous});
        if (info.flags == kFlagChainInUse && JudgedOnUnreadableFat(drive_, entry)) ++judgedWithoutFat;
        if (info.flags & kFlagFolder) {
          if (!AddFolder(std::move(info), node, isRoot)) return false;
        } else {
          AddFile(info, folder, node, isRoot);
        }
      }
      previous = c;
      c = NextCluster(drive_, drive_->fatTable, c);
      if (c == kNoNextCluster && FatEntryUnreadable(*drive_, previous))
        LogMessage(app_, kError, app_->logList,
                   "%s the FAT entry of cluster %u of %s could not be read; the folder's clusters after it "
                   "cannot be found.",
                   drive_->driveName.c_str(), previous, FolderText(isRoot).c_str());
    }
    return true;
  }

  // Deleted files judged "chain in use" only for want of readable FAT
  // entries.
  std::uint64_t judgedWithoutFat = 0;
  NodeHandle root = kNoNode;

 private:
  void AddFile(const MftFileInfo& info, MftFileInfo* folder, NodeHandle node, bool isRoot) {
    FoundFile* file = FoundFileFromFileInfo(*app_->records, info);
    AppendToFolder(folder, file);
    ++drive_->foundFiles;
    drive_->foundBytes += file->size;
    ShowScanCounters(app_, drive_);
    // Deleted entries directly in the root directory do not mark the root.
    if (!(info.flags & kFlagInUse) && !isRoot) MarkDeletedUpward(app_, node);
  }

  bool AddFolder(MftFileInfo&& info, NodeHandle parent, bool parentIsRoot) {
    WindowSystem& ui = *app_->ui;
    if (parentIsRoot) {
      ui.ExpandNode(root);
      ShowRootFilesSoFar();
    }
    MftFileInfo* folder = app_->records->Keep(std::move(info));
    const NodeHandle node = InsertFolderNode(app_, folder, parent, InsertPosition::Sorted);
    ++drive_->foundDirs;
    ShowScanCounters(app_, drive_);
    if (!(folder->flags & kFlagInUse) && !parentIsRoot) MarkDeletedUpward(app_, node);
    const auto start = static_cast<std::uint32_t>(folder->recordNumber);
    if (start < 2) return true;  // no cluster of its own to read
    if (onPath_.count(start) != 0) {
      LogMessage(app_, kError, app_->logList,
                 "Folder \"%s\" starts at cluster %u, which belongs to a folder it lies in; "
                 "it is not walked again.",
                 folder->Label().c_str(), start);
      return true;
    }
    if (onPath_.size() >= kMaxFolderDepth) {
      LogMessage(app_, kError, app_->logList,
                 "Folder \"%s\" lies more than %zu folders deep; what is below it is not walked.",
                 folder->Label().c_str(), kMaxFolderDepth);
      return true;
    }
    std::vector<std::uint8_t> buffer;
    if (!AllocateBuffer(buffer)) return true;  // this subtree stays unread; the walk goes on
    onPath_.insert(start);
    path_.push_back(folder->Label());
    const bool goOn = WalkChain(start, folder, node, false, buffer);
    path_.pop_back();
    onPath_.erase(start);
    return goOn;
  }

  // Each new top-level folder shows the root's files found so far. Listing
  // them all again each time would cost the square of their number on a
  // root directory of thousands of entries; when the list still holds what
  // was shown last, only the files found since are added to it.
  void ShowRootFilesSoFar() {
    WindowSystem& ui = *app_->ui;
    const auto* rootInfo = FolderRecordOf(ui, root);
    const int rows = ui.RowCount(app_->fileList);
    const bool unchanged = rootInfo != nullptr && shownRows_ >= 0 && rows == shownRows_ &&
                           (rows == 0 || ui.RowData(app_->fileList, rows - 1) == shownLastRow_);
    if (!unchanged) {
      ShowFolderFiles(app_, root);
    } else {
      for (FoundFile* f = shownLast_ != nullptr ? shownLast_->next : rootInfo->firstFile; f != nullptr;
           f = f->next)
        AddFileToDisplayList(app_, f);
    }
    shownRows_ = ui.RowCount(app_->fileList);
    shownLastRow_ = shownRows_ > 0 ? ui.RowData(app_->fileList, shownRows_ - 1) : nullptr;
    shownLast_ = rootInfo != nullptr ? rootInfo->lastFile : nullptr;
  }

  // "the root folder", or the folder being walked by its path.
  std::string FolderText(bool isRoot) const {
    if (isRoot) return "the root folder";
    std::string path;
    for (const std::string& name : path_) path += "/" + name;
    return "folder \"" + path + "\"";
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
    std::string where = RangeText(v->BaseOffset() + bad.front().first, v->BaseOffset() + bad.front().last);
    if (bad.size() > 1) where += " and " + std::to_string(bad.size() - 1) + " more ranges";
    LogMessage(app_, kError, app_->logList,
               "%s cluster %u of %s could not be read%s (%s of %s); the entries that stood there are missing.",
               drive_->driveName.c_str(), cluster, FolderText(isRoot).c_str(),
               badBytes == g_.ClusterBytes() ? "" : " in full", where.c_str(), v->Path().c_str());
  }

  AppState* app_;
  LOGDRIVE_INFO* drive_;
  FatGeometry g_;
  int latestYear_;
  std::uint64_t clusterBudget_;
  bool budgetLogged_ = false;
  // The file list as the last showing of the root left it: its rows, the
  // datum of its last row, and the root's last file then.
  int shownRows_ = -1;
  const void* shownLastRow_ = nullptr;
  FoundFile* shownLast_ = nullptr;
  std::unordered_set<std::uint32_t> onPath_;
  std::vector<std::string> path_;  // names of the folders being walked, from the root down
  // A folder holds at most 65,536 entries; a chain longer than they fill is
  // damage, and must not make the walk hold a set of millions of clusters.
  std::size_t maxFolderClusters_ = static_cast<std::size_t>(
      std::max<std::uint64_t>(1, std::uint64_t{kMaxFolderEntries} * kDirEntrySize /
                                     std::max<std::uint64_t>(g_.ClusterBytes(), 1)));
};

}  // namespace

int FatIndexedScan(AppState* app, LOGDRIVE_INFO* drive) {
  ProgressClock clock;
  clock.blocksTotal = drive->clusterCount - std::min(drive->freeUnits, drive->clusterCount);
  StartProgress(app, &clock, app->progressBar, kSizeText, kClockText);
  FatTreeWalk walk(app, drive);
  const std::uint32_t rootCluster = FatGeometryOf(*drive).rootCluster;
  std::vector<std::uint8_t> buffer;
  if (!walk.AllocateBuffer(buffer)) return 0;
  if (LoadFat(app, drive) == 0) return 0;
  walk.root = CreateRootFolder(app, drive);
  MftFileInfo* rootInfo = FolderRecordOf(*app->ui, walk.root);
  if (rootInfo == nullptr) {
    drive->fatTable = {};
    return 0;
  }
  LogMessage(app, kAlert, app->logList, "Beginning file system scan.");
  ReportShortVolume(app, *drive);
  app->busy = 1;
  if (rootCluster < 2 || rootCluster >= drive->clusterCount)
    LogMessage(app, kError, app->logList,
               "%s: the root folder's cluster %u lies outside the volume; there is no tree to walk.",
               drive->driveName.c_str(), rootCluster);
  else
    walk.WalkChain(rootCluster, rootInfo, walk.root, true, buffer);
  ShowScanCounters(app, drive);
  ShowFolderFiles(app, walk.root);
  ReportJudgedWithoutFat(app, *drive, walk.judgedWithoutFat);
  drive->fatTable = {};
  LogMessage(app, kAlert, app->logList, "File system scan complete.");
  app->busy = 0;
  return 1;
}

}  // namespace tsn
