#include "app/main_dialog.h"

#include <algorithm>

#include "app/app_state.h"
#include "app/fault_report.h"
#include "app/message_log.h"
#include "app/progress.h"
#include "app/scan_dispatch.h"
#include "app/file_list.h"
#include "app/file_preview.h"
#include "app/folder_tree.h"
#include "app/column_tables.h"
#include "app/layout.h"
#include "ui/list_rows.h"
#include "app/drive_list.h"
#include "app/drive_mapping.h"
#include "fs/file_system.h"
#include "source/read_sectors.h"

namespace tsn {

void InitMainDialog(AppState* app) {
  InstallFaultFilter(app);
  WindowSystem& ui = *app->ui;
  AddColumns(app, app->logList, kLogColumns);
  ui.SetListExtendedStyle(app->logList, kLvsExGridLines | kLvsExFullRowSelect);
  AddColumns(app, app->driveList, kDriveColumns);
  ui.SetListExtendedStyle(app->driveList, kLvsExGridLines | kLvsExFullRowSelect);
  AddColumns(app, app->fileList, kFileColumns);
  ui.SetListExtendedStyle(app->fileList,
                          kLvsExGridLines | kLvsExCheckBoxes | kLvsExFullRowSelect);
  AddColumns(app, app->spareList, kSpareColumns);
  ui.SetListExtendedStyle(app->spareList, kLvsExGridLines);
  app->logListHeight = 84;
  app->driveListHeight = 84;
  // Where the user left the splitter last time, if the window keeps it and
  // it still leaves both panes some room.
  app->treeWidth = std::clamp(ui.RememberedValue("treeWidth", 180), 20, std::max(20, ui.ClientSize().x - 200));
  app->currentDrive = nullptr;
  app->busy = 0;
  app->splitDragging = 0;
  LayoutControls(app);
  ui.SetWindowTitle(kWindowTitle);
}

namespace {

bool StartsLongOperation(int command) {
  return command >= kCmdBuildDriveList && command <= kCmdCopyFiles;
}

void HandleCommand(AppState* app, int command) {
  if (StartsLongOperation(command) && app->busy == 1) return;  // dropped, not queued
  switch (command) {
    case kCmdEndDialog:
      app->ui->EndDialog(kCmdEndDialog);
      break;
    case kCmdBuildDriveList:
      BuildDriveList(app);
      break;
    case kCmdBuildIndexedFileList:
      BuildIndexedFileList(app);
      break;
    case kCmdBuildFileListOnly:
      BuildFileListOnly(app);
      break;
    case kCmdCopyFiles:
      CopyTickedFiles(app);
      break;
    case kCmdConfigure:
      break;
    case kCmdHelp:
      if (app->helpPath.empty() || !app->ui->OpenDocument(app->helpPath))
        LogMessage(app, kError, app->logList, "The help page %s could not be opened.",
                   app->helpPath.empty() ? "(none installed)" : app->helpPath.c_str());
      break;
    case kCmdPrint:
      PrintReport(app);
      break;
    case kCmdExit:
      if (app->busy == 1) {
        app->busy = 0;
        LogMessage(app, kUser, app->logList, "Current function interrupted by user.");
      } else {
        app->ui->EndDialog(kCmdExit);
      }
      break;
    default:
      break;
  }
}

// Images the user opens or drops on the window join the sources, and the
// drive list is built again so that they show at once. While an operation
// runs they wait for the next "Build Drive List".
void OpenSources(AppState* app, const std::vector<std::string>& paths) {
  std::size_t added = 0;
  for (const std::string& path : paths) {
    auto& files = app->sources.files;
    if (path.empty() || std::find(files.begin(), files.end(), path) != files.end()) continue;
    files.push_back(path);
    ++added;
  }
  if (app->busy == 1) {
    if (added > 0)
      LogMessage(app, kStatus, app->logList,
                 "%zu image(s) will join the drive list at the next \"Build Drive List\".", added);
    return;
  }
  BuildDriveList(app);
}

ProcResult HandleNotify(AppState* app, const Message& m) {
  const bool customDraw = m.code == NotifyCode::CustomDraw && m.customDraw != nullptr;
  switch (m.id) {
    case kDriveList:
      if (customDraw) return {true, static_cast<std::intptr_t>(DriveRowColour(m.customDraw))};
      if (m.code == NotifyCode::DoubleClick) BuildIndexedFileList(app);
      // Moved by a click or by the keys alike: the selected row is the drive.
      if (m.code == NotifyCode::Click || m.code == NotifyCode::SelectionChange)
        SelectCurrentDrive(app, m.code == NotifyCode::Click);
      break;
    case kFileList:
      if (customDraw) return {true, static_cast<std::intptr_t>(FileListColour(m.customDraw))};
      if (m.code == NotifyCode::Click) FileListClick(app, m.hit);
      if (m.code == NotifyCode::AskDeleted) {
        const auto* file = static_cast<const FoundFile*>(RowDataOf(*app->ui, app->fileList, m.hit.row));
        return {true, file != nullptr && (file->flags & kFlagInUse) == 0 ? 1 : 0};
      }
      if (m.code == NotifyCode::SelectionChange || m.code == NotifyCode::DoubleClick) PreviewSelectedFile(app);
      break;
    case kLogList:
      if (customDraw) return {true, static_cast<std::intptr_t>(LogRowColour(m.customDraw))};
      break;
    case kFolderTree:
      if (customDraw) return {true, static_cast<std::intptr_t>(FolderTreeColour(app, m.customDraw))};
      if (m.code == NotifyCode::Click) FolderTreeClick(app, m.hit);
      if (m.code == NotifyCode::AskDeleted) {
        // A folder is red when it is deleted or holds deleted entries.
        const MftFileInfo* folder = FolderRecordOf(*app, m.hit.node);
        return {true, folder != nullptr && (folder->flags & kFlagInUse) == 0 ? 1 : 0};
      }
      // Wherever the selection moves, by a click or by the keys, the list follows.
      if (m.code == NotifyCode::SelectionChange) {
        ShowFolderFiles(app, app->ui->SelectedNode());
        PreviewSelectedFile(app);
      }
      break;
    default:
      break;
  }
  return {};
}

}  // namespace

ProcResult MainDialogProc(AppState* app, const Message& m) {
  switch (m.kind) {
    case MessageKind::InitDialog:
      InitMainDialog(app);
      return {true, 0};
    case MessageKind::Size:
      LayoutControls(app);
      return {};
    case MessageKind::SysCommand:
      if (m.id == kScClose && app->busy == 0) app->ui->EndDialog(kScClose);
      return {};
    case MessageKind::Command:
      HandleCommand(app, m.id & 0xFFFF);
      app->ShowHeldCounters();
      return {};
    case MessageKind::Notify:
      if (m.id >= 1000 && m.id <= 1010) return HandleNotify(app, m);
      return {};
    case MessageKind::Timer:
      if (m.id == kTimerTreeCheck || m.id == kTimerListCheck) {
        app->ui->KillTimer(m.id);
        UpdateSelectionCounters(app, app->currentDrive);
      }
      return {};
    case MessageKind::MouseMove:
      SplitterMouseMove(app, m.point);
      return {};
    case MessageKind::LeftButtonDown:
      SplitterButtonDown(app, m.point);
      return {};
    case MessageKind::LeftButtonUp:
      SplitterButtonUp(app, m.point);
      return {};
    case MessageKind::DropFiles:
      OpenSources(app, m.files);
      return {};
  }
  return {};
}

int RunMainDialog(AppState* app, WindowSystem* ui) {
  app->ui = ui;
  ui->SetDialogProc([app](const Message& m) { return MainDialogProc(app, m); });
  MainDialogProc(app, Message{MessageKind::InitDialog});
  return ui->RunDialog();
}

void PumpOneMessage(AppState* app) { app->ui->PumpOneMessage(); }

void SelectCurrentDrive(AppState* app, bool openIfNeeded) {
  auto* drive = static_cast<LOGDRIVE_INFO*>(SelectedRowData(*app->ui, app->driveList));
  if (drive == nullptr) return;
  // A drive this user may not read is opened when it is chosen, not when
  // the keys move the selection over it: no password prompt for every row
  // passed on the way.
  if (drive->needsPermission && openIfNeeded) OpenPermittedDrive(app, drive);
  LOGDRIVE_INFO* chosen = drive->needsPermission ? nullptr : drive;
  if (app->currentDrive != nullptr && app->currentDrive != chosen)
    ResetScanView(app, app->currentDrive);
  app->currentDrive = chosen;
}

namespace {

void RunScanCommand(AppState* app, bool indexed) {
  if (app->currentDrive == nullptr) {
    LogMessage(app, kError, app->logList, "Please choose a drive to search");
    app->lastScanResult = 0;
    app->lastScanOutcome = {};
    return;
  }
  LOGDRIVE_INFO* drive = app->currentDrive;
  app->lastScanResult = 0;
  app->stopSeen = false;
  const std::uint64_t errorsBefore = app->errorLines;
  app->ui->EnableControl(app->driveList, false);
  if (indexed) ResetScanView(app, drive);
  if (const FileSystemType* fs = drive->fileSystem)
    app->lastScanResult = indexed ? fs->indexedScan(app, drive) : fs->quickScan(app, drive);
  else
    LogMessage(app, kError, app->logList, "Unrecognized file system.");
  // A scan goes on past what it cannot read; the log must say what that was.
  LogUnreadableRanges(app, drive->volume.get(), drive->driveName);
  app->operationRunning = false;
  Outcome& outcome = app->lastScanOutcome;
  outcome = {};
  // The FAT scans return 1 when stopped, the NTFS ones 0: what the user did
  // is known here, not from that.
  outcome.ending = app->stopSeen ? Outcome::Ending::Interrupted
                   : app->lastScanResult == 1 ? Outcome::Ending::Complete
                                              : Outcome::Ending::Refused;
  outcome.errorLines = app->errorLines - errorsBefore;
  if (drive->volume)
    for (const UnreadableRange& r : drive->volume->UnreadableRanges()) {
      ++outcome.unreadableRanges;
      outcome.unreadableBytes += r.Bytes();
    }
  app->ui->EnableControl(app->driveList, true);
}

}  // namespace

void BuildIndexedFileList(AppState* app) { RunScanCommand(app, true); }
void BuildFileListOnly(AppState* app) { RunScanCommand(app, false); }

}  // namespace tsn
