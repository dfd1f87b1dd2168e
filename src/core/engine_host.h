#pragma once
// What the engine sees of the program that runs it. Scans, copy-out and
// drive mapping report through this and write what they find into it; the
// program behind it decides what a line, a counter or a found folder looks
// like. The engine so knows nothing of windows, and a window layer or a
// test can run it alike.
#include <cstdint>
#include <string_view>

namespace tsn {

struct MftFileInfo;
struct ScanRecords;

// Severity of a log line.
enum Severity : std::uint32_t { kError = 0, kStatus = 1, kAlert = 2, kUser = 3 };

// A folder of the results, as the sink hands it out; kNoFolder for none.
using FolderRef = std::uintptr_t;
constexpr FolderRef kNoFolder = 0;

enum class InsertPosition { Last, Sorted };

struct BarColour {
  std::uint8_t red = 0, green = 0, blue = 0;
};

// The texts of the status strip.
enum class StatusField { Dirs, Files, Size, Clock };

// The state of one operation's time-remaining clock.
struct ProgressClock {
  std::uint64_t startTime = 0;  // local time, 100-ns units since 1601
  std::uint64_t blocksDone = 0;
  std::uint64_t blocksTotal = 0;
  std::uint64_t phase = 0;      // 1 just started, 2 running
};

// What one scan or copy came to, for whoever ran it: a program's exit
// status, a window's title.
struct Outcome {
  enum class Ending { Complete, Interrupted, Refused };
  Ending ending = Ending::Refused;
  std::uint64_t errorLines = 0;        // lines of severity Error it logged: damage met, reads failed
  std::uint64_t unreadableRanges = 0;  // areas of the source known unreadable when it ended
  std::uint64_t unreadableBytes = 0;
  // Ran to its end with every byte it needed read.
  bool Whole() const { return ending == Ending::Complete && unreadableRanges == 0; }
};

class EngineHost {
 public:
  virtual ~EngineHost() = default;

  // The log: one line of a given severity.
  virtual void Log(std::uint32_t severity, std::string_view message) = 0;

  // Progress. The pump lets the user be heard once per unit of work; Busy()
  // turns false once the user has stopped the operation, and from the
  // moment an operation sees it so, it is interrupted.
  virtual void PumpOneMessage() = 0;
  virtual bool Busy() const = 0;
  virtual void SetBusy(bool busy) = 0;
  // A bar of clock->blocksTotal steps with its clock; the bar's colour is
  // the host's.
  virtual void StartProgress(ProgressClock* clock) = 0;
  virtual void UpdateProgressClock(ProgressClock* clock) = 0;
  // A bar of `steps` steps without a clock.
  virtual void StartSteps(std::uint64_t steps, BarColour colour) = 0;
  virtual void StepProgress() = 0;
  // Empties the bar.
  virtual void EndSteps() = 0;
  virtual void ShowCounters(std::uint64_t dirs, std::uint64_t files, std::uint64_t bytes) = 0;
  virtual void ShowStatus(StatusField field, std::string_view text) = 0;
  // The routine now running, named in a fault report.
  virtual void SetRoutineName(const char* name) = 0;

  // The sink: found folders and files. A scan starts with CreateRootFolder,
  // which drops the previous scan's results; the records it keeps live in
  // Records() until the next scan or drive list.
  virtual ScanRecords& Records() = 0;
  virtual FolderRef CreateRootFolder() = 0;
  virtual FolderRef RootFolder() const = 0;
  virtual FolderRef InsertFolderNode(MftFileInfo* record, FolderRef parent, InsertPosition position) = 0;
  virtual MftFileInfo* FolderRecordOf(FolderRef folder) const = 0;
  virtual FolderRef ParentFolder(FolderRef folder) const = 0;
  // The first folder of start's subtree, depth first, whose record has the number.
  virtual FolderRef FindFolderByRecord(FolderRef start, std::uint64_t recordNumber) = 0;
  // Marks the folder and those above it as holding deleted entries.
  virtual void MarkDeletedUpward(FolderRef folder) = 0;
  virtual void ExpandFolder(FolderRef folder) = 0;
  // Makes the folder the one the listing shows.
  virtual void SelectFolder(FolderRef folder) = 0;
  // Shows the folder's files as the current listing.
  virtual void ShowFolderFiles(FolderRef folder) = 0;
  // The same while the folder still grows: only what was added since the
  // last showing, when nothing else was shown in between.
  virtual void ShowFolderFilesSoFar(FolderRef folder) = 0;
};

// printf conventions; 64-bit values with PRIu64.
void LogMessage(EngineHost* host, std::uint32_t severity, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

}  // namespace tsn
