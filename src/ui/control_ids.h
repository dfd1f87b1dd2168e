#pragma once
// Identifiers of the main window's controls, toolbar commands and timers.
#include "core/version.h"
#include "ui/window_system.h"

namespace tsn {

constexpr ControlId kDriveList = 1000;
constexpr ControlId kFileList = 1001;
constexpr ControlId kLogList = 1002;
constexpr ControlId kSizeText = 1003;
constexpr ControlId kClockText = 1004;
constexpr ControlId kProgressBar = 1005;
constexpr ControlId kFolderTree = 1006;
constexpr ControlId kDirsText = 1007;
constexpr ControlId kSpareList = 1010;
constexpr ControlId kSourcesText = 1011;  // above the drive list: sources that could not be read
constexpr ControlId kFilesText = -1;
constexpr ControlId kToolbar = 102;

constexpr int kCmdEndDialog = 500;
constexpr int kCmdBuildDriveList = 5000;
constexpr int kCmdBuildIndexedFileList = 5001;
constexpr int kCmdBuildFileListOnly = 5002;
constexpr int kCmdCopyFiles = 5003;
constexpr int kCmdConfigure = 5004;
constexpr int kCmdHelp = 5005;
constexpr int kCmdPrint = 5006;
constexpr int kCmdExit = 5007;

constexpr int kTimerTreeCheck = 10000;
constexpr int kTimerListCheck = 10001;

constexpr const char* kWindowTitle = "Tessilon ver " TESSILON_VERSION;

}  // namespace tsn
