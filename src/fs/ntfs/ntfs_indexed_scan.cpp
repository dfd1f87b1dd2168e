// "Build Indexed File List" on NTFS: the live tree from the root folder's
// index (phase 1), then the deleted folders (phase 2) and the deleted files
// (phase 3) of the MFT passes, which now find most parents in the tree.
#include <vector>

#include "app/app_state.h"
#include "app/message_log.h"
#include "app/progress.h"
#include "fs/ntfs/damage_log.h"
#include "fs/ntfs/index_walk.h"
#include "fs/ntfs/mft_descriptor.h"
#include "fs/ntfs/ntfs_layout.h"
#include "fs/ntfs/ntfs_scans.h"
#include "fs/ntfs/volume_bitmap.h"
#include "app/folder_tree.h"
#include "fs/logdrive_info.h"

namespace tsn {

int NtfsIndexedScan(AppState* app, LOGDRIVE_INFO* drive) {
  using namespace ntfs;
  NoteTruncatedImage(app, *drive);
  const std::unique_ptr<MftFileInfo> mft = BuildMftDescriptor(app, drive);
  if (!mft) return 0;
  const NodeHandle root = CreateRootFolder(app, drive);
  if (root == kNoNode) return 0;
  WindowSystem& ui = *app->ui;
  LogMessage(app, kAlert, app->logList, "Beginning file system scan.");
  app->orphanFolderSeq = 0;
  ui.SetProgressRange(0, static_cast<std::uint32_t>(2 * mft->recordCount));
  ui.SetProgressStep(1);
  ui.SetProgressColour({145, 4, 180});
  ProgressClock clock;
  clock.blocksTotal = 3 * mft->recordCount;
  StartProgress(app, &clock, app->progressBar, kSizeText, kClockText);
  app->busy = 1;
  DamageLog damage(app);

  LogMessage(app, kAlert, app->logList, "Begin phase 1...");
  std::vector<std::uint64_t> unreadIndexes;
  int walked = WalkDirectory(app, drive, *mft, kRootFolderRecord, root, &damage, &unreadIndexes);
  // What unreadable index blocks held is still named by the MFT records of
  // the files and folders in them.
  if (walked != 0 && !unreadIndexes.empty()) walked = UnindexedEntriesPass(app, drive, *mft, unreadIndexes, &damage);
  if (walked == 0) {
    ui.SetProgressPosition(0);
    app->busy = 0;
    return 0;
  }
  damage.Flush();
  LogMessage(app, kAlert, app->logList, "Phase 1 completed.");

  // The bitmap is read after the walk, so that it tells the state in which
  // the deleted files are judged.
  VolumeBitmap bitmap;
  if (ReadVolumeBitmap(app, drive, *mft, &bitmap)) {
    LogMessage(app, kAlert, app->logList, "Begin phase 2...");
    if (DeletedFolderPass(app, drive, *mft, bitmap, &damage) == 1) {
      LogMessage(app, kAlert, app->logList, "Phase 2 completed");
      LogMessage(app, kAlert, app->logList, "Begin Phase 3...");
      if (DeletedFilePass(app, drive, *mft, bitmap, ui.RootNode(), &damage) == 1) {
        damage.Flush();
        LogMessage(app, kAlert, app->logList, "Phase 3 completed");
      }
    }
  }
  damage.Flush();
  ui.SetProgressPosition(0);
  LogMessage(app, kAlert, app->logList, "File system scan completed.");
  app->busy = 0;
  return 1;
}

}  // namespace tsn
