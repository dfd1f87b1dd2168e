#pragma once
// The one application record: what every part of the program reads and
// writes. Exactly one exists per run of a program (or per test).
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/entry_records.h"
#include "ui/control_ids.h"
#include "ui/window_system.h"
#include "fs/logdrive_info.h"
#include "results/found_tree.h"
#include "source/drive_sources.h"

namespace tsn {

class OwnerIndex;

// The program as the engine sees it: its log and progress are the window's
// message log and status strip; its found results are kept in a FoundTree
// that the window's folder tree and file list show.
struct AppState final : EngineHost {
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
  ControlId sourcesText = kSourcesText;

  // Trace cursor of the diagnostic trace lines.
  int traceX = 0;
  int traceY = 0;
  int traceLineHeight = 0;

  // Severity of each log row, the row's datum (the log is never cleared).
  std::deque<std::uint32_t> logSeverities;

  DriveSources sources;
  // The records of the drive list now shown; replaced by the next mapping.
  std::vector<std::unique_ptr<LOGDRIVE_INFO>> drives;
  // The folders and records of the scan now shown (file rows point here).
  FoundTree results;
  // Each found folder's node in the window's tree, and back.
  std::unordered_map<FolderRef, NodeHandle> nodeOfFolder;
  std::unordered_map<NodeHandle, FolderRef> folderOfNode;
  NodeHandle NodeOf(FolderRef folder) const {
    const auto it = nodeOfFolder.find(folder);
    return it != nodeOfFolder.end() ? it->second : kNoNode;
  }
  FolderRef FolderOf(NodeHandle node) const {
    const auto it = folderOfNode.find(node);
    return it != folderOfNode.end() ? it->second : kNoFolder;
  }
  void MapFolderNode(FolderRef folder, NodeHandle node) {
    if (folder == kNoFolder || node == kNoNode) return;
    nodeOfFolder.emplace(folder, node);
    folderOfNode.emplace(node, folder);
  }
  // 1 when the last scan command ran to its end, 0 when it stopped early.
  int lastScanResult = 0;
  // What the last scan command came to.
  Outcome lastScanOutcome;
  // An operation of the engine holds the busy state; the user stopped it
  // when it found the state cleared before it gave it up itself.
  bool operationRunning = false;
  mutable bool stopSeen = false;
  // Error lines logged since the program started.
  std::uint64_t errorLines = 0;
  // 1 when the last copy brought every file back in full; 2 when it ran but
  // some files were not copied in full or it was interrupted; 0 when it
  // could not start (destination refused, the volume's tables unreadable).
  int lastCopyResult = 0;
  // Which live files hold deleted files' clusters on the drive scanned,
  // built at the first question (app/overwrite_query.h); let go with the scan.
  std::shared_ptr<OwnerIndex> ownerIndex;
  const LOGDRIVE_INFO* ownerIndexDrive = nullptr;
  // Advanced whenever the scan's records are let go: a pointer to a found
  // file taken before is of no use after.
  std::uint64_t resultsGeneration = 0;
  // The preview: the file the user chose last, and whether one is being read.
  const FoundFile* previewWanted = nullptr;
  bool previewPending = false;
  bool previewReading = false;
  // The help page that Help opens.
  std::string helpPath;

  // The file list as the last ShowFolderFilesSoFar left it: its rows, the
  // datum of its last row, and the folder and its last file then.
  struct ShownSoFar {
    FolderRef folder = kNoFolder;
    int rows = -1;
    const void* lastRow = nullptr;
    const FoundFile* lastFile = nullptr;
  } shownSoFar;

  // The engine reports its counters with every entry it finds. Formatting
  // them that often costs a scan of a million files more than some of its
  // reading, and no eye follows a counter faster than ten times a second:
  // they are held and shown at most that often, and always before the
  // strip is written otherwise and when an operation ends, so that the
  // strip ends showing what it would have.
  struct HeldCounters {
    std::uint64_t dirs = 0, files = 0, bytes = 0;
    bool held = false;
    std::chrono::steady_clock::time_point shownAt{};
  } heldCounters;
  // Shows the counters held back, if any.
  void ShowHeldCounters();

  void Log(std::uint32_t severity, std::string_view message) override;
  void PumpOneMessage() override;
  bool Busy() const override {
    if (busy == 0 && operationRunning) stopSeen = true;
    return busy != 0;
  }
  void SetBusy(bool on) override {
    busy = on ? 1 : 0;
    operationRunning = on;
    if (!on) ShowHeldCounters();
  }
  void StartProgress(ProgressClock* clock) override;
  void UpdateProgressClock(ProgressClock* clock) override;
  void StartSteps(std::uint64_t steps, BarColour colour) override;
  void StepProgress() override;
  void EndSteps() override;
  void ShowCounters(std::uint64_t dirs, std::uint64_t files, std::uint64_t bytes) override;
  void ShowStatus(StatusField field, std::string_view text) override;
  void SetRoutineName(const char* name) override { routineName = name; }
  ScanRecords& Records() override { return results.Records(); }
  FolderRef CreateRootFolder() override;
  FolderRef RootFolder() const override;
  FolderRef InsertFolderNode(MftFileInfo* record, FolderRef parent, InsertPosition position) override;
  MftFileInfo* FolderRecordOf(FolderRef folder) const override;
  FolderRef ParentFolder(FolderRef folder) const override;
  FolderRef FindFolderByRecord(FolderRef start, std::uint64_t recordNumber) override;
  void MarkDeletedUpward(FolderRef folder) override;
  void ExpandFolder(FolderRef folder) override;
  void SelectFolder(FolderRef folder) override;
  void ShowFolderFiles(FolderRef folder) override;
  void ShowFolderFilesSoFar(FolderRef folder) override;
};

}  // namespace tsn
