#pragma once
// The one application record: what every part of the program reads and
// writes. Exactly one exists per run of a program (or per test).
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "results/entry_records.h"
#include "ui/control_ids.h"
#include "ui/window_system.h"
#include "volume/logdrive_info.h"

namespace tsn {

// Where drive mapping looks for volumes. On Windows this was the drive
// letters; here it is the images the user named and the machine's block
// devices as sysfs lists them.
struct DriveSources {
  std::vector<std::string> files;       // images or devices the user named
  std::uint32_t imageSectorSize = 0;    // of the named image files; 0: 512
  bool scanDevices = true;              // also list /sys/class/block
  std::string sysfsBlockDir = "/sys/class/block";
  std::string deviceDir = "/dev";
};

struct AppState {
  // Fault context, shown by the fault report.
  std::string routineName;
  std::string faultMessage;
  LOGDRIVE_INFO* currentDrive = nullptr;
  std::uint32_t busy = 0;
  std::uint32_t splitDragging = 0;
  Rect splitBar{};
  Rect splitBarDrawn{};
  int driveListHeight = 0;
  int treeWidth = 0;
  int logListHeight = 0;
  std::uint64_t faultLba = 0;
  std::uint64_t faultRecord = 0;
  std::uint64_t orphanFolderSeq = 0;
  int showCmd = 0;

  // The window layer and the controls, by identifier.
  WindowSystem* ui = nullptr;
  ControlId driveList = kDriveList;
  ControlId spareList = kSpareList;
  ControlId folderTree = kFolderTree;
  ControlId fileList = kFileList;
  ControlId logList = kLogList;
  ControlId filesText = kFilesText;
  ControlId dirsText = kDirsText;
  ControlId sizeText = kSizeText;
  ControlId clockText = kClockText;
  ControlId progressBar = kProgressBar;

  // Trace cursor of the diagnostic trace lines.
  int traceX = 0;
  int traceY = 0;
  int traceLineHeight = 0;

  // Severity of each log row, the row's datum (the log is never cleared).
  std::deque<std::uint32_t> logSeverities;

  DriveSources sources;
  // The records of the drive list now shown; replaced by the next mapping.
  std::vector<std::unique_ptr<LOGDRIVE_INFO>> drives;
  // The records of the scan now shown (tree nodes and file rows point here).
  std::unique_ptr<ScanRecords> records = std::make_unique<ScanRecords>();
  // 1 when the last scan command ran to its end, 0 when it stopped early.
  int lastScanResult = 0;
  // 1 when the last copy brought every file back in full; 2 when it ran but
  // some files were not copied in full or it was interrupted; 0 when it
  // could not start (destination refused, the volume's tables unreadable).
  int lastCopyResult = 0;
  // The help page that Help opens.
  std::string helpPath;
};

}  // namespace tsn
