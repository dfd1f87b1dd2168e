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

namespace tsn {

namespace {

// Deeper than any real tree; a chain of folders this deep is damage.
constexpr std::size_t kMaxFolderDepth = 512;

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
    for (std::uint32_t c = first; c != kNoNextCluster;
         previous = c, c = NextCluster(drive_, drive_->fatTable, c)) {
      if (!chain.insert(c).second) {
        LogMessage(app_, kError, app_->logList,
                   "The cluster chain of folder \"%s\" loops back to cluster %u; it is read once.",
                   folder->Label().c_str(), c);
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
      ReadCluster(app_, drive_, c, buffer);  // an unreadable cluster reads as zeros
      const std::size_t slots = buffer.size() / kDirEntrySize;
      for (std::size_t slot = (!isRoot && StartsWithDotEntries(buffer)) ? 2 : 0; slot < slots; ++slot) {
        PumpOneMessage(app_);
        if (app_->busy == 0) return false;
        const ShortEntry entry{std::span<const std::uint8_t>(buffer).subspan(slot * kDirEntrySize, kDirEntrySize)};
        if (!IsAcceptableEntry(drive_, entry, latestYear_)) continue;
        MftFileInfo info = EntryToFileInfo(app_, drive_, {buffer, slot, c, previous});
        if (info.flags & kFlagFolder) {
          if (!AddFolder(std::move(info), node, isRoot)) return false;
        } else {
          AddFile(info, folder, node, isRoot);
        }
      }
    }
    return true;
  }

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
    const bool goOn = WalkChain(start, folder, node, false, buffer);
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
  drive->fatTable = {};
  LogMessage(app, kAlert, app->logList, "File system scan complete.");
  app->busy = 0;
  return 1;
}

}  // namespace tsn
