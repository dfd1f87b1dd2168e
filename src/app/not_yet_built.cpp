// Commands whose work has not been built yet. Each says so plainly in the
// log and touches nothing, so pressing them is always harmless.
#include "app/app_state.h"
#include "app/message_log.h"
#include "app/progress.h"
#include "app/scan_dispatch.h"

namespace tsn {

namespace {
int NotBuilt(AppState* app, const char* what) {
  LogMessage(app, kError, app->logList, "%s is not built yet.", what);
  return 0;
}
}  // namespace

int FatIndexedScan(AppState* app, LOGDRIVE_INFO*) {
  return NotBuilt(app, "The indexed scan of FAT32 volumes");
}
int FatFileListScan(AppState* app, LOGDRIVE_INFO*) {
  return NotBuilt(app, "The quick scan of FAT32 volumes");
}
int NtfsIndexedScan(AppState* app, LOGDRIVE_INFO*) {
  return NotBuilt(app, "The indexed scan of NTFS volumes");
}
int NtfsFileListScan(AppState* app, LOGDRIVE_INFO*) {
  return NotBuilt(app, "The quick scan of NTFS volumes");
}
void CopyTickedFiles(AppState* app) { NotBuilt(app, "Copying files out"); }
void PrintReport(AppState* app) { NotBuilt(app, "Printing the report"); }

// Nothing can be ticked until scans fill the tree: the recount shows zeros.
void UpdateSelectionCounters(AppState* app, LOGDRIVE_INFO* drive) {
  if (drive == nullptr) return;
  drive->tickedDirs = drive->tickedFiles = drive->tickedBytes = 0;
  ShowCounters(app, 0, 0, 0);
}

std::uint32_t FileListColour(CustomDrawRecord*) { return CDRF_DODEFAULT; }
std::uint32_t FolderTreeColour(CustomDrawRecord*) { return CDRF_DODEFAULT; }
void FileListClick(AppState*, Point) {}
void FolderTreeClick(AppState*, Point) {}
void SplitterMouseMove(AppState*, Point) {}
int SplitterButtonDown(AppState*, Point) { return 1; }
int SplitterButtonUp(AppState*, Point) { return 0; }

}  // namespace tsn
