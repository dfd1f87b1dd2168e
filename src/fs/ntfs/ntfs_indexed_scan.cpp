// "Build Indexed File List" on NTFS: the live tree from the root folder's
// index (phase 1), then the deleted folders (phase 2) and the deleted files
// (phase 3) of the MFT passes, which now find most parents in the tree.
#include <vector>

#include "core/engine_host.h"
#include "fs/ntfs/damage_log.h"
#include "fs/ntfs/index_walk.h"
#include "fs/ntfs/mft_descriptor.h"
#include "fs/ntfs/ntfs_layout.h"
#include "fs/ntfs/ntfs_scans.h"
#include "fs/ntfs/record_table.h"
#include "fs/ntfs/volume_bitmap.h"
#include "fs/logdrive_info.h"

namespace tsn {

int NtfsIndexedScan(EngineHost* app, LOGDRIVE_INFO* drive) {
  using namespace ntfs;
  NoteTruncatedImage(app, *drive);
  const std::unique_ptr<MftFileInfo> mft = BuildMftDescriptor(app, drive);
  if (!mft) return 0;
  const FolderRef root = StartFoundTree(app, drive);
  if (root == kNoFolder) return 0;
  LogMessage(app, kAlert, "Beginning file system scan.");
  drive->orphanFolderSeq = 0;
  app->StartSteps(2 * mft->recordCount, {145, 4, 180});
  ProgressClock clock;
  clock.blocksTotal = 3 * mft->recordCount;
  app->StartProgress(&clock);
  app->SetBusy(true);
  DamageLog damage(app);

  LogMessage(app, kAlert, "Begin phase 1...");
  // One read of the MFT serves all three phases: the walk judges index
  // entries by the table, the passes place the deleted entries kept.
  DeletedEntries entries;
  int walked = 0;
  std::vector<std::uint64_t> unreadIndexes;
  {
    RecordTable table(mft->recordCount);
    if (ReadMftOnce(app, drive, *mft, &entries, &table) == 1)
      walked = WalkDirectory(app, drive, *mft, kRootFolderRecord, root, &damage, &unreadIndexes, &table);
  }
  // What unreadable index blocks held is still named by the MFT records of
  // the files and folders in them.
  if (walked != 0 && !unreadIndexes.empty()) walked = UnindexedEntriesPass(app, drive, *mft, unreadIndexes, &damage);
  if (walked == 0) {
    app->EndSteps();
    app->SetBusy(false);
    return 0;
  }
  damage.Flush();
  LogMessage(app, kAlert, "Phase 1 completed.");

  // The bitmap is read after the walk, so that it tells the state in which
  // the deleted files are judged.
  VolumeBitmap bitmap;
  if (ReadVolumeBitmap(app, drive, *mft, &bitmap)) {
    LogMessage(app, kAlert, "Begin phase 2...");
    if (DeletedFolderPass(app, drive, *mft, entries, false, &damage) == 1) {
      LogMessage(app, kAlert, "Phase 2 completed");
      LogMessage(app, kAlert, "Begin Phase 3...");
      if (DeletedFilePass(app, drive, *mft, entries, bitmap, app->RootFolder(), &damage) == 1) {
        damage.Flush();
        LogMessage(app, kAlert, "Phase 3 completed");
      }
    }
  }
  damage.Flush();
  app->EndSteps();
  LogMessage(app, kAlert, "File system scan completed.");
  app->SetBusy(false);
  return 1;
}

}  // namespace tsn
