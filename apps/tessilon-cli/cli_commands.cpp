#include "cli_commands.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <set>
#include <iostream>

#include "app/app_state.h"
#include "app/main_dialog.h"
#include "cli_output.h"
#include "fs/file_system.h"
#include "app/column_tables.h"
#include "ui/control_ids.h"
#include "pdf_report.h"
#include "results/copy_destination.h"
#include "results/copy_manifest.h"
#include "source/byte_source.h"
#include "app/copy_command.h"
#include "results/copy_out.h"
#include "app/file_list.h"
#include "app/overwrite_query.h"
#include "app/print_report.h"
#include "ui/headless/headless_window.h"

namespace tsn::cli {

namespace {

// The log goes to stderr, one line per row as the window shows it. Its
// lines carry names and labels read from the volume, which must not drive
// the terminal.
void PrintLog(const HeadlessWindow& ui, int fromRow = 0) {
  const auto& rows = ui.ControlState(kLogList).rows;
  for (std::size_t i = static_cast<std::size_t>(fromRow); i < rows.size(); ++i)
    std::cerr << EscapeControls(ui.RowText(kLogList, static_cast<int>(i), 0), Backslash::Single) << "  "
              << EscapeControls(ui.RowText(kLogList, static_cast<int>(i), 1), Backslash::Single) << '\n';
}

void PrintDriveTable(const HeadlessWindow& ui, bool json, Output& out) {
  const int rows = ui.RowCount(kDriveList);
  if (json) {
    std::string line;
    const auto field = [&line](std::string_view key, std::string_view value) {
      line += line.empty() ? "{\"" : ",\"";
      AppendJsonString(line, key);
      line += "\":\"";
      AppendJsonString(line, value);
      line += '"';
    };
    for (int r = 0; r < rows; ++r) {
      const auto* drive = static_cast<const LOGDRIVE_INFO*>(ui.RowData(kDriveList, r));
      line.clear();
      for (int c = 0; kDriveColumns[c].width != 0; ++c) field(kDriveColumns[c].title, ui.RowText(kDriveList, r, c));
      field("source", drive->sourceDescription);
      line += "}\n";
      out.Write(line);
    }
    return;
  }
  std::vector<std::size_t> widths;
  for (int c = 0; kDriveColumns[c].width != 0; ++c) {
    std::size_t w = std::string(kDriveColumns[c].title).size();
    for (int r = 0; r < rows; ++r) w = std::max(w, EscapeControls(ui.RowText(kDriveList, r, c)).size());
    widths.push_back(w);
  }
  auto line = [&](auto cell) {
    std::string text;
    for (std::size_t c = 0; c < widths.size(); ++c) {
      std::string cellText = cell(static_cast<int>(c));
      cellText.resize(widths[c], ' ');
      text += cellText + (c + 1 < widths.size() ? "  " : "");
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    out.Write(text + '\n');
  };
  line([](int c) { return std::string(kDriveColumns[c].title); });
  for (int r = 0; r < rows; ++r) {
    const auto* drive = static_cast<const LOGDRIVE_INFO*>(ui.RowData(kDriveList, r));
    line([&](int c) { return EscapeControls(ui.RowText(kDriveList, r, c)); });
    out.Write("    " + EscapeControls(drive->sourceDescription) + '\n');
  }
}

// Ctrl-C (or SIGTERM) while a scan or a copy runs stops it as the window's
// Exit button does: what was found is still listed, and the file being
// copied is removed rather than left cut short. A second one ends the
// program at once.
volatile std::sig_atomic_t interruptAsked = 0;

extern "C" void AskInterrupt(int) { interruptAsked = 1; }

class InterruptCatcher {
 public:
  InterruptCatcher() {
    interruptAsked = 0;
    struct sigaction action {};
    action.sa_handler = AskInterrupt;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < 2; ++i) {
      ::sigaction(kSignals[i], nullptr, &previous_[i]);
      // A program started to ignore interrupts (a background job of a
      // script) goes on ignoring them.
      armed_[i] = previous_[i].sa_handler != SIG_IGN && ::sigaction(kSignals[i], &action, nullptr) == 0;
    }
  }
  ~InterruptCatcher() {
    for (int i = 0; i < 2; ++i)
      if (armed_[i]) ::sigaction(kSignals[i], &previous_[i], nullptr);
  }
  InterruptCatcher(const InterruptCatcher&) = delete;
  InterruptCatcher& operator=(const InterruptCatcher&) = delete;

 private:
  static constexpr int kSignals[2] = {SIGINT, SIGTERM};
  struct sigaction previous_[2] {};
  bool armed_[2] = {false, false};
};

// The headless window, plus a progress line on stderr when it is a
// terminal: the status strip's texts, at most ten times a second.
class TerminalWindow : public HeadlessWindow {
 public:
  TerminalWindow() : tty_(::isatty(2) != 0) {}
  ~TerminalWindow() override { EndProgressLine(); }
  // Clears the progress line, so that what follows on stderr starts clean.
  void EndProgressLine() {
    if (shown_) std::cerr << "\r\033[K" << std::flush;
    shown_ = false;
  }
  void SetText(ControlId control, std::string_view text) override {
    HeadlessWindow::SetText(control, text);
    if (!tty_) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    shown_ = true;
    std::cerr << "\r\033[K" << EscapeControls(Text(kDirsText)) << "  " << EscapeControls(Text(kFilesText))
              << "  " << EscapeControls(Text(kSizeText)) << std::flush;
  }
  // An interrupt asked for is handed to the scan as the Exit command, at a
  // pump while the scan is busy, which is when the command stops it.
  bool PumpOneMessage() override {
    if (interruptAsked != 0 && busy_ != nullptr && *busy_ == 1 && !interrupted_) {
      interrupted_ = true;
      PostCommand(kCmdExit);
    }
    return HeadlessWindow::PumpOneMessage();
  }
  void WatchInterrupts(const std::uint32_t* busy) { busy_ = busy; }
  bool Interrupted() const { return interrupted_; }

 private:
  bool tty_;
  const std::uint32_t* busy_ = nullptr;
  bool interrupted_ = false;
  bool shown_ = false;
  std::chrono::steady_clock::time_point last_{};
};

// A time as Unix seconds, with whether it is known at all: a stamp of zero
// is no time, and a body file writes 0 for it.
struct Stamp {
  std::int64_t seconds = 0;
  bool known = false;
};

Stamp FromFileTime(std::uint64_t fileTime) {
  if (fileTime == 0) return {};
  constexpr std::int64_t kUnixEpochIn1601 = 11'644'473'600;
  return {static_cast<std::int64_t>(fileTime / 10'000'000ULL) - kUnixEpochIn1601, true};
}

// FAT stamps are the local time of the machine that wrote them, with no
// zone: they are read as if UTC, as The Sleuth Kit does unless told a zone.
// A stamp with no valid date is no time.
Stamp FromFatStamp(std::uint16_t date, std::uint16_t time) {
  const std::int64_t year = (date >> 9) + 1980, month = (date >> 5) & 0x0F, day = date & 0x1F;
  if (date == 0 || month < 1 || month > 12 || day < 1) return {};
  // Days from the civil date (Howard Hinnant's public-domain method).
  const std::int64_t y = month <= 2 ? year - 1 : year;
  const std::int64_t era = y / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const std::int64_t days = era * 146097 + doe - 719468;
  return {days * 86400 + (time >> 11) * 3600 + ((time >> 5) & 0x3F) * 60 + (time & 0x1F) * 2, true};
}

// One entry of the listing, as the walk of the found tree hands it on: its
// texts point into the scan's records, which outlive it.
struct Listed {
  std::string path;
  // The path with "_" for each first character a deleted 8.3 name lost, as
  // The Sleuth Kit shows it, where `path` has the list's stand-in letter.
  std::string tskPath;
  std::string_view name, state;
  Stamp createdAt, modifiedAt;
  bool folder = false, deleted = false;
  bool ntfs = false;  // the record is an MFT record number; else a first cluster
  std::uint64_t size = 0, record = 0;
  FoundFile* file = nullptr;  // files only
};

void AppendNumber(std::string& out, std::uint64_t value) {
  char digits[24];
  out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

void AppendNumber(std::string& out, std::int64_t value) {
  char digits[24];
  out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

// One line of The Sleuth Kit's body file (3.x):
// MD5|name|inode|mode_as_string|UID|GID|size|atime|mtime|ctime|crtime.
// Deleted entries are marked as `fls -m` marks them: " (deleted)" after the
// name and, on NTFS, "-" for the name's type. The inode is the MFT record
// number on NTFS and the first cluster on FAT. Times not known are 0; a "|"
// in a name would split the line, so it is written \x7c.
void AppendBodyLine(std::string& line, const Listed& e) {
  line += "0|";
  const std::size_t nameAt = line.size();
  AppendEscapedControls(line, e.tskPath);
  for (std::size_t i = line.find('|', nameAt); i != std::string::npos; i = line.find('|', i + 4))
    line.replace(i, 1, "\\x7c");
  if (e.deleted) line += " (deleted)";
  const char type = e.folder ? 'd' : 'r';
  line += '|';
  AppendNumber(line, e.record);
  line += '|';
  line += e.deleted && e.ntfs ? '-' : type;
  line += '/';
  line += type;
  line += "rwxrwxrwx|0|0|";
  AppendNumber(line, e.size);
  const auto t = [&line](const Stamp& s) { AppendNumber(line, s.known ? s.seconds : std::int64_t{0}); };
  line += "|0|";
  t(e.modifiedAt);
  line += "|0|";
  t(e.createdAt);
  line += '\n';
}

// A time as the CSV and the text listing write it; nothing when unknown.
void AppendTime(std::string& line, const Stamp& s) {
  if (s.known) AppendIsoUtc(line, s.seconds);
}

void AppendCsvLine(std::string& line, const Listed& e) {
  line += CsvField(e.path);
  line += ',';
  line += CsvField(std::string(e.name));
  line += e.folder ? ",dir," : ",file,";
  line += e.deleted ? "true," : "false,";
  line += CsvField(std::string(e.state));
  line += ',';
  AppendNumber(line, e.size);
  line += ',';
  AppendTime(line, e.createdAt);
  line += ',';
  AppendTime(line, e.modifiedAt);
  line += e.ntfs ? ",mft_record," : ",first_cluster,";
  AppendNumber(line, e.record);
  line += "\r\n";
}

constexpr const char* kCsvHeader = "path,name,type,deleted,state,size,created,modified,locator_kind,locator\r\n";

// The JSON listing's line, its keys in this order; a time not known is null.
// A deleted file whose clusters are in use also says who holds them.
void AppendJsonLine(std::string& line, const Listed& e, const OverwriteAnswer* overwrite) {
  const auto text = [&line](std::string_view key, std::string_view value) {
    line += key;
    AppendJsonString(line, value);
    line += '"';
  };
  const auto time = [&line](std::string_view key, const Stamp& s) {
    line += key;
    if (!s.known) {
      line += "null";
      return;
    }
    line += '"';
    AppendIsoUtc(line, s.seconds);
    line += '"';
  };
  text("{\"path\":\"", e.path);
  text(",\"name\":\"", e.name);
  line += e.folder ? ",\"folder\":true" : ",\"folder\":false";
  line += e.deleted ? ",\"deleted\":true,\"size\":" : ",\"deleted\":false,\"size\":";
  AppendNumber(line, e.size);
  text(",\"state\":\"", e.state);
  time(",\"created\":", e.createdAt);
  time(",\"modified\":", e.modifiedAt);
  line += ",\"record\":";
  AppendNumber(line, e.record);
  if (overwrite != nullptr) {
    line += ",\"recoverable_percent\":";
    line += overwrite->freePercent.empty() ? "null" : overwrite->freePercent;
    line += ",\"overwritten_by\":[";
    for (std::size_t i = 0; i < overwrite->owners.size(); ++i) {
      line += i == 0 ? "\"" : ",\"";
      AppendJsonString(line, overwrite->owners[i]);
      line += '"';
    }
    line += ']';
  }
  line += "}\n";
}

// The text listing: kind, state, size, modified and the path, in columns.
void AppendTextLine(std::string& line, const Listed& e) {
  line += e.folder ? "dir  " : "file ";
  line += e.state;
  line.append(e.state.size() < 25 ? 25 - e.state.size() : 1, ' ');
  char size[24];
  const auto sizeEnd = std::to_chars(size, size + sizeof size, e.size).ptr;
  const auto sizeLength = static_cast<std::size_t>(sizeEnd - size);
  if (sizeLength < 12) line.append(12 - sizeLength, ' ');
  line.append(size, sizeEnd);
  line += "  ";
  if (e.modifiedAt.known) AppendIsoUtc(line, e.modifiedAt.seconds);
  else line.append(19, '-');
  line += "  ";
  AppendEscapedControls(line, e.path);
  line += '\n';
}

// A name with its first character, lost to deletion, shown as "_".
void AppendTskName(std::string& out, std::string_view name, bool firstCharLost) {
  if (!firstCharLost || name.empty()) {
    out += name;
    return;
  }
  std::size_t n = 1;
  while (n < name.size() && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80) ++n;
  out += '_';
  out += name.substr(n);
}

// Hands every found folder, depth first in the tree's order, each followed
// by its files, to `visit`: what the window shows, folder by folder. One
// entry is filled in anew for each, so that a listing of a million files
// holds one line at a time. `visit` returns false to stop the walk.
// `ntfs`: the entries carry MFT records and file times, not FAT's first
// clusters and DOS stamps.
template <typename Visit>
void WalkListing(const FoundTree& results, bool ntfs, Visit&& visit) {
  struct Pending {
    FolderRef folder;
    std::string path, tskPath;
  };
  std::vector<Pending> stack;
  if (results.RootFolder() != kNoFolder) stack.push_back({results.RootFolder(), "", ""});
  Listed e;
  e.ntfs = ntfs;
  while (!stack.empty()) {
    const Pending p = std::move(stack.back());
    stack.pop_back();
    const MftFileInfo* folder = results.FolderRecordOf(p.folder);
    if (folder == nullptr) continue;
    if (p.folder != results.RootFolder()) {
      e.path = p.path;
      e.tskPath = p.tskPath;
      e.name = folder->Label();
      e.folder = true;
      e.deleted = folder->deletedEntry;
      e.state = folder->deletedEntry ? "Deleted" : "Active";
      e.size = 0;
      if (ntfs) e.createdAt = FromFileTime(folder->created), e.modifiedAt = FromFileTime(folder->modified);
      else e.createdAt = {}, e.modifiedAt = FromFatStamp(folder->fatDate, folder->fatTime);
      e.record = folder->recordNumber;
      e.file = nullptr;
      if (!visit(e)) return;
    }
    e.folder = false;
    for (FoundFile* f = folder->firstFile; f != nullptr; f = f->next) {
      e.file = f;
      e.path.assign(p.path).append(1, '/').append(f->name);
      e.tskPath.assign(p.tskPath).append(1, '/');
      AppendTskName(e.tskPath, f->name, f->firstCharLost);
      e.name = f->name;
      e.deleted = !(f->flags & kFlagInUse);
      e.size = f->size;
      e.state = FileStateText(f->flags);
      if (ntfs) {
        e.createdAt = FromFileTime(f->created);
        e.modifiedAt = FromFileTime(f->modified);
        e.record = f->recordNumber;
      } else {
        e.createdAt = {};
        e.modifiedAt = FromFatStamp(f->fatDate, f->fatTime);
        e.record = f->startCluster;
      }
      if (!visit(e)) return;
    }
    const std::vector<FolderRef>& children = results.Children(p.folder);
    for (auto c = children.rbegin(); c != children.rend(); ++c) {
      const MftFileInfo* child = results.FolderRecordOf(*c);
      const std::string label = child ? child->Label() : std::string("?");
      Pending next{*c, p.path + "/" + label, p.tskPath + "/"};
      AppendTskName(next.tskPath, label, child && child->firstCharLost);
      stack.push_back(std::move(next));
    }
  }
}

// Where block devices are looked for can be moved, for tests and for
// examining a mounted copy of another machine's /sys and /dev.
void ApplyDeviceDirs(DriveSources& sources) {
  if (const char* sys = std::getenv("TESSILON_SYSFS_BLOCK")) sources.sysfsBlockDir = sys;
  if (const char* dev = std::getenv("TESSILON_DEV_DIR")) sources.deviceDir = dev;
}

// Whether reading the drive met sectors it could not read.
// A source that could not be read in full gave an answer with holes in it;
// a script must be able to tell that from a clean run.
bool HadUnreadableAreas(const LOGDRIVE_INFO& drive) {
  return drive.volume && !drive.volume->UnreadableRanges().empty();
}

// Writes what is held back of the listing or report; a reader of stdout
// that went away wanted no more of it, which is no failure.
bool FinishOutput(Output& out, const std::string& what) {
  if (out.Finish() || out.ReaderGone()) return true;
  std::cerr << "tessilon-cli: " << what << " could not be written: " << out.Cause() << '\n';
  return false;
}

}  // namespace

int RunDrives(const DrivesOptions& options) {
  AppState app;
  app.sources.files = options.sources;
  app.sources.scanDevices = options.devices;
  app.sources.imageSectorSize = options.sectorSize;
  app.sources.volumeOffsetSectors = options.offset;
  ApplyDeviceDirs(app.sources);
  HeadlessWindow ui;
  ui.PostCommand(kCmdBuildDriveList);
  RunMainDialog(&app, &ui);  // returns once nothing is left to do
  PrintLog(ui);
  Output out;
  PrintDriveTable(ui, options.json, out);
  if (!FinishOutput(out, "the drive list")) return kExitOutputFailed;
  for (int r = 0; r < ui.RowCount(kDriveList); ++r)
    if (HadUnreadableAreas(*static_cast<const LOGDRIVE_INFO*>(ui.RowData(kDriveList, r))))
      return kExitIncomplete;
  return kExitDone;
}

namespace {

// A headless program that has scanned one source: the drive list built from
// it alone, its first volume of a file system it reads (or the partition asked for)
// chosen, and the scan run, exactly as the window does it. With
// `stopOnInterrupt`, Ctrl-C stops the scan and keeps what it found.
// The scan a copy, cat or report runs first: the same source, partition,
// sector size and offset, and the same scan when the command names one.
template <typename Options>
ScanOptions ScanOptionsOf(const Options& options) {
  ScanOptions scan;
  scan.source = options.source;
  scan.partition = options.partition;
  scan.sectorSize = options.sectorSize;
  scan.offset = options.offset;
  if constexpr (requires { options.quick; }) scan.quick = options.quick;
  return scan;
}

struct ScanSession {
  AppState app;
  TerminalWindow ui;
  int status = kExitNotScanned;  // kExitDone once the scan has run
  bool interrupted = false;

  explicit ScanSession(const ScanOptions& options, bool stopOnInterrupt = false) {
    std::optional<InterruptCatcher> catcher;
    if (stopOnInterrupt) catcher.emplace();
    app.sources.files = {options.source};
    app.sources.scanDevices = false;
    app.sources.imageSectorSize = options.sectorSize;
    app.sources.volumeOffsetSectors = options.offset;
    app.ui = &ui;
    ui.SetDialogProc([this](const Message& m) { return MainDialogProc(&app, m); });
    MainDialogProc(&app, Message{MessageKind::InitDialog});
    ui.PostCommand(kCmdBuildDriveList);
    ui.RunDialog();
    const int row = ChooseRow(options);
    if (row < 0) {
      PrintLog(ui);
      return;
    }
    ui.SetRowSelected(kDriveList, row, true);
    Message click;
    click.kind = MessageKind::Notify;
    click.id = kDriveList;
    click.code = NotifyCode::Click;
    ui.Post(click);
    ui.PostCommand(options.quick ? kCmdBuildFileListOnly : kCmdBuildIndexedFileList);
    // The drive list is busy too while it loads a table; an interrupt that
    // came then waits for the scan.
    ui.WatchInterrupts(&app.busy);
    logPrinted_ = ui.RowCount(kLogList);
    PrintLog(ui);  // the drive list's part of the log, before the scan's
    ui.RunDialog();
    PrintNewLog();
    // A scan told to stop keeps what it found, whatever it returns: the
    // NTFS scans return 0 then, the FAT scans 1.
    interrupted = ui.Interrupted();
    status = app.lastScanOutcome.ending != Outcome::Ending::Refused || interrupted ? kExitDone : kExitNotScanned;
  }

  // The status of a scan that ran: whether all of the volume was seen.
  int DoneStatus() const {
    if (interrupted || app.lastScanOutcome.ending == Outcome::Ending::Interrupted) return kExitIncomplete;
    if (app.currentDrive != nullptr && HadUnreadableAreas(*app.currentDrive)) return kExitIncomplete;
    return kExitDone;
  }

  void PrintNewLog() {
    PrintLog(ui, logPrinted_);
    logPrinted_ = ui.RowCount(kLogList);
  }

  template <typename Visit>
  void WalkListing(Visit&& visit) const {
    const bool ntfs = app.currentDrive != nullptr && app.currentDrive->fsName.rfind("NTFS", 0) == 0;
    cli::WalkListing(app.results, ntfs, std::forward<Visit>(visit));
  }

 private:
  int ChooseRow(const ScanOptions& options) {
    const int rows = ui.RowCount(kDriveList);
    if (rows == 0) {
      // A source that could not be opened at all (a container that cannot
      // be read, a missing file) has had its reason logged; it was never
      // looked into for volumes.
      if (OpenImageSource(options.source, options.sectorSize).source)
        std::cerr << "tessilon-cli: " << EscapeControls(options.source)
                  << " holds " << NoKnownFileSystemText() << " to scan\n";
      return -1;
    }
    if (options.partition <= 0) return 0;
    const std::string suffix = " partition " + std::to_string(options.partition);
    for (int r = 0; r < rows; ++r) {
      const auto* d = static_cast<const LOGDRIVE_INFO*>(ui.RowData(kDriveList, r));
      const std::string& s = d->sourceDescription;
      if (s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0)
        return r;
    }
    std::cerr << "tessilon-cli: " << EscapeControls(options.source) << " has no partition " << options.partition
              << " that holds a file system it reads\n";
    return -1;
  }

  int logPrinted_ = 0;
};

}  // namespace

int RunScan(const ScanOptions& options) {
  // The scan's records are never freed: the process ends right after the
  // listing, and freeing a million of them one by one takes longer than
  // writing them. Held from here they are still reachable, not leaked.
  static ScanSession* kept = nullptr;
  kept = new ScanSession(options, true);
  ScanSession& session = *kept;
  session.ui.EndProgressLine();
  if (session.status != kExitDone) return session.status;
  Output out;
  if (options.csv) out.Write(kCsvHeader);
  std::string line;
  bool toldIncomplete = false;
  session.WalkListing([&](const Listed& e) {
    line.clear();
    if (options.bodyfile) AppendBodyLine(line, e);
    else if (options.csv) AppendCsvLine(line, e);
    else if (options.json) {
      std::optional<OverwriteAnswer> overwrite;
      if (e.file != nullptr) {
        OverwriteAnswer answer = WhoOverwrote(&session.app, *e.file);
        if (answer.known && !answer.complete && !toldIncomplete) {
          std::string why;
          for (const std::string& n : answer.notes) why += (why.empty() ? "" : "; ") + n;
          std::cerr << "tessilon-cli: which files overwrote deleted ones is not known in full: "
                    << EscapeControls(why, Backslash::Single) << '\n';
          toldIncomplete = true;
        }
        if (answer.known) overwrite = std::move(answer);
      }
      AppendJsonLine(line, e, overwrite ? &*overwrite : nullptr);
    }
    else AppendTextLine(line, e);
    out.Write(line);
    return !out.Failed();
  });
  if (!FinishOutput(out, "the listing")) return kExitOutputFailed;
  return session.DoneStatus();
}

int RunCopy(const CopyOptions& options) {
  // Refused before the scan, which can take long on a big disk; nothing is
  // made here. The copy itself checks again before it makes the folder.
  if (const auto refusal = DestinationRefusal(options.source, options.to)) {
    std::cerr << "tessilon-cli copy: nothing was copied: " << *refusal << '\n';
    return 1;
  }
  InterruptCatcher interrupts;
  ScanSession session(ScanOptionsOf(options));
  if (session.interrupted) {
    std::cerr << "tessilon-cli copy: interrupted during the scan; nothing was copied\n";
    return 3;
  }
  if (session.status == 1) return 1;
  const bool everyDeleted = options.paths.empty();
  std::set<std::string> wanted(options.paths.begin(), options.paths.end());
  std::size_t ticked = 0;
  session.WalkListing([&](const Listed& e) {
    if (e.file == nullptr) return true;
    const bool take = everyDeleted ? e.deleted : wanted.erase(e.path) > 0;
    if (take) {
      e.file->checkState = kCheckTicked;
      ++ticked;
    }
    return true;
  });
  for (const std::string& missing : wanted)
    std::cerr << "tessilon-cli copy: no file " << missing << " was found on " << options.source << '\n';
  // A scan that ended with parts unreadable still copies what it found,
  // and says so in its status.
  const int scanStatus = session.DoneStatus();
  if (ticked == 0) {
    std::cerr << "tessilon-cli copy: nothing to copy\n";
    return wanted.empty() ? scanStatus : 3;
  }
  session.ui.AnswerFolderWith(options.to);
  session.ui.PostCommand(kCmdCopyFiles);
  session.ui.RunDialog();
  session.PrintNewLog();
  switch (session.app.lastCopyResult) {
    case 1:
      return wanted.empty() ? scanStatus : 3;
    case 2:
      return 3;
    default:
      return 1;
  }
}

int RunCat(const CatOptions& options) {
  ScanSession session(ScanOptionsOf(options), true);
  if (session.status != kExitDone) return session.status;
  if (session.interrupted) return kExitIncomplete;
  std::vector<Listed> found;
  session.WalkListing([&](const Listed& e) {
    if (e.file != nullptr && (options.byRecord ? e.record == options.record : e.path == options.path))
      found.push_back(e);
    return true;
  });
  const std::string asked = options.byRecord ? "record " + std::to_string(options.record)
                                             : EscapeControls(options.path);
  if (found.empty()) {
    std::cerr << "tessilon-cli cat: no file " << asked << " was found on " << EscapeControls(options.source)
              << '\n';
    return kExitNotScanned;
  }
  // An MFT record is one file wherever its names are; FAT first clusters
  // are shared by every empty file and may be by deleted ones.
  if (found.size() > 1 && !found.front().ntfs) {
    std::cerr << "tessilon-cli cat: " << found.size() << " files start at cluster " << options.record
              << "; name one by its path:\n";
    for (const Listed& e : found) std::cerr << "  " << EscapeControls(e.path) << '\n';
    return kExitBadArguments;
  }
  const CopyTotals totals =
      CopyContentTo(&session.app, session.app.currentDrive, *found.front().file, 1, found.front().path);
  session.PrintNewLog();
  if (totals.writeError == EPIPE) return kExitDone;
  if (totals.writeError != 0) {
    std::cerr << "tessilon-cli cat: the content could not be written: " << std::strerror(totals.writeError)
              << '\n';
    return kExitOutputFailed;
  }
  if (totals.files == 1) return session.DoneStatus();
  return totals.incomplete == 1 ? kExitIncomplete : kExitNotScanned;
}

namespace {

// Hands every call on to the printer it wraps and remembers how the job
// went, which the print command itself only tells through message boxes.
// The text report may go to a terminal: its names are shown escaped there.
class WatchedPrinter final : public PrintSurface {
 public:
  struct Outcome {
    bool started = false;
    bool ended = false;
  };
  WatchedPrinter(std::unique_ptr<PrintSurface> inner, Outcome* outcome, bool escape)
      : inner_(std::move(inner)), outcome_(outcome), escape_(escape) {}
  bool StartDocument(std::string_view name) override {
    return outcome_->started = inner_->StartDocument(name);
  }
  int PageWidth() const override { return inner_->PageWidth(); }
  int PageHeight() const override { return inner_->PageHeight(); }
  int LineHeight() const override { return inner_->LineHeight(); }
  int TextWidth(std::string_view text) const override {
    return escape_ ? inner_->TextWidth(EscapeControls(text)) : inner_->TextWidth(text);
  }
  void TextOut(int x, int y, std::string_view text) override {
    if (escape_) inner_->TextOut(x, y, EscapeControls(text));
    else inner_->TextOut(x, y, text);
  }
  std::vector<char32_t> MissingGlyphs(std::string_view text) const override {
    return inner_->MissingGlyphs(text);
  }
  bool NewPage() override { return inner_->NewPage(); }
  bool EndPage() override { return inner_->EndPage(); }
  bool EndDocument() override { return outcome_->ended = inner_->EndDocument(); }
  bool Release() override { return inner_->Release(); }

 private:
  std::unique_ptr<PrintSurface> inner_;
  Outcome* outcome_;
  bool escape_;
};

std::string LowerExtension(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

}  // namespace

int RunReport(const ReportOptions& options) {
  std::error_code ec;
  const std::vector<std::string> sourceFiles = ImageFilesOf(options.source);
  const bool outIsSource =
      !options.out.empty() && std::any_of(sourceFiles.begin(), sourceFiles.end(), [&](const std::string& file) {
        return std::filesystem::equivalent(options.out, file, ec);
      });
  if (outIsSource) {
    std::cerr << "tessilon-cli report: " << EscapeControls(options.out)
              << " is the source; it is never written to\n";
    return kExitBadArguments;
  }
  // A report written onto the volume being read could take the clusters of
  // the very files it lists: its folder is held to the rules of a copy.
  if (!options.out.empty()) {
    const std::filesystem::path folder = std::filesystem::path(options.out).parent_path();
    if (const auto refusal = DestinationRefusal(options.source, folder.empty() ? "." : folder.string())) {
      std::cerr << "tessilon-cli report: " << EscapeControls(options.out) << " is not written: " << *refusal
                << '\n';
      return kExitNotScanned;
    }
  }
  const std::string ext = options.out.empty() ? ".txt" : LowerExtension(options.out);
  if (ext != ".pdf" && ext != ".txt") {
    std::cerr << "tessilon-cli report: --out names a .pdf or a .txt file, not "
              << EscapeControls(options.out) << '\n';
    return kExitBadArguments;
  }
  if (ext == ".pdf" && !CanWritePdf()) {
    std::cerr << "tessilon-cli report: this build writes no PDF files; use --out FILE.txt\n";
    return kExitBadArguments;
  }
  // The file is opened before the scan, so that a report that cannot be
  // written is told at once and not after a long scan.
  const std::string what =
      options.out.empty() ? std::string("the report") : "the report " + EscapeControls(options.out);
  Output out;
  if (!options.out.empty() && !out.OpenFile(options.out)) {
    std::cerr << "tessilon-cli: " << what << " could not be written: " << out.Cause() << '\n';
    return kExitOutputFailed;
  }
  ScanSession session(ScanOptionsOf(options), true);
  if (session.status != kExitDone) return session.status;

  std::unique_ptr<PrintSurface> printer;
  std::optional<TextPrintout> text;
  std::unique_ptr<PdfSupport> pdf;  // outlives the printer and the print run
  if (ext == ".pdf") {
    pdf = std::make_unique<PdfSupport>();
    printer = pdf->StreamSurface([&out](std::string_view bytes) {
      out.Write(bytes);
      return !out.Failed();
    });
  } else {
    printer = std::make_unique<TextPrintSurface>(&text.emplace());
  }
  WatchedPrinter::Outcome outcome;
  session.ui.AnswerPrinterWith(std::make_unique<WatchedPrinter>(std::move(printer), &outcome, !pdf));
  session.ui.PostCommand(kCmdPrint);
  session.ui.RunDialog();
  session.PrintNewLog();
  for (const std::string& box : session.ui.MessageBoxes()) std::cerr << box << '\n';
  // A job that did not end leaves no file: what it wrote is removed with
  // the unfinished output.
  if (!outcome.started || !outcome.ended) {
    std::cerr << "tessilon-cli: " << what << " could not be written"
              << (out.Failed() ? ": " + out.Cause() : std::string()) << '\n';
    return kExitOutputFailed;
  }
  if (text) out.Write(text->text);
  if (!FinishOutput(out, what)) return kExitOutputFailed;
  return session.DoneStatus();
}

}  // namespace tsn::cli
