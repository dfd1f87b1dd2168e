#include "cli_commands.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <iostream>
#include <nlohmann/json.hpp>

#include "app/app_state.h"
#include "app/main_dialog.h"
#include "ui/column_tables.h"
#include "ui/control_ids.h"
#include "pdf_report.h"
#include "results/copy_out.h"
#include "results/file_list.h"
#include "results/print_report.h"
#include "ui/headless/headless_window.h"

namespace tsn::cli {

namespace {

// The log goes to stderr, one line per row as the window shows it.
void PrintLog(const HeadlessWindow& ui, int fromRow = 0) {
  const auto& rows = ui.ControlState(kLogList).rows;
  for (std::size_t i = static_cast<std::size_t>(fromRow); i < rows.size(); ++i)
    std::cerr << ui.RowText(kLogList, static_cast<int>(i), 0) << "  "
              << ui.RowText(kLogList, static_cast<int>(i), 1) << '\n';
}

void PrintDriveTable(const HeadlessWindow& ui, bool json) {
  const int rows = ui.RowCount(kDriveList);
  if (json) {
    for (int r = 0; r < rows; ++r) {
      const auto* drive = static_cast<const LOGDRIVE_INFO*>(ui.RowData(kDriveList, r));
      nlohmann::ordered_json j;
      for (int c = 0; kDriveColumns[c].width != 0; ++c)
        j[kDriveColumns[c].title] = ui.RowText(kDriveList, r, c);
      j["source"] = drive->sourceDescription;
      std::cout << j.dump() << '\n';
    }
    return;
  }
  std::vector<std::size_t> widths;
  for (int c = 0; kDriveColumns[c].width != 0; ++c) {
    std::size_t w = std::string(kDriveColumns[c].title).size();
    for (int r = 0; r < rows; ++r) w = std::max(w, ui.RowText(kDriveList, r, c).size());
    widths.push_back(w);
  }
  auto line = [&](auto cell) {
    std::string out;
    for (std::size_t c = 0; c < widths.size(); ++c) {
      std::string text = cell(static_cast<int>(c));
      text.resize(widths[c], ' ');
      out += text + (c + 1 < widths.size() ? "  " : "");
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    std::cout << out << '\n';
  };
  line([](int c) { return std::string(kDriveColumns[c].title); });
  for (int r = 0; r < rows; ++r) {
    const auto* drive = static_cast<const LOGDRIVE_INFO*>(ui.RowData(kDriveList, r));
    line([&](int c) { return ui.RowText(kDriveList, r, c); });
    std::cout << "    " << drive->sourceDescription << '\n';
  }
}

// Set by SIGINT or SIGTERM while a command that takes them runs.
volatile sig_atomic_t interruptSignal = 0;

// The headless window, plus a progress line on stderr when it is a
// terminal: the status strip's texts, at most ten times a second.
class TerminalWindow : public HeadlessWindow {
 public:
  TerminalWindow() : tty_(::isatty(2) != 0) {}
  ~TerminalWindow() override {
    if (shown_) std::cerr << "\r\033[K" << std::flush;
  }
  // An interrupt signal presses Exit, once: the operation running stops
  // between two units of its work, as it does in the window.
  bool PumpOneMessage() override {
    if (interruptSignal != 0 && !exitPressed_) {
      exitPressed_ = true;
      PostCommand(kCmdExit);
    }
    return HeadlessWindow::PumpOneMessage();
  }
  void SetText(ControlId control, std::string_view text) override {
    HeadlessWindow::SetText(control, text);
    if (!tty_) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    shown_ = true;
    std::cerr << "\r\033[K" << Text(kDirsText) << "  " << Text(kFilesText) << "  "
              << Text(kSizeText) << std::flush;
  }

 private:
  bool tty_;
  bool shown_ = false;
  bool exitPressed_ = false;
  std::chrono::steady_clock::time_point last_{};
};

std::string IsoFileTime(std::uint64_t fileTime) {
  if (fileTime == 0) return {};
  const std::string t = FormatFileTime(fileTime);  // MM-DD-YYYY hh:mm, UTC
  const std::uint64_t seconds = fileTime / 10'000'000ULL % 60;
  char out[40];
  std::snprintf(out, sizeof out, "%s-%s-%sT%s:%02" PRIu64 "Z", t.substr(6, 4).c_str(),
                t.substr(0, 2).c_str(), t.substr(3, 2).c_str(), t.substr(11, 5).c_str(), seconds);
  return out;
}

// FAT stamps are local time of the machine that wrote them: no zone.
std::string IsoFatTime(std::uint16_t date, std::uint16_t time) {
  if (date == 0) return {};
  char out[40];
  std::snprintf(out, sizeof out, "%04d-%02d-%02dT%02d:%02d:%02d", (date >> 9) + 1980,
                (date >> 5) & 0x0F, date & 0x1F, time >> 11, (time >> 5) & 0x3F, (time & 0x1F) * 2);
  return out;
}

struct Listed {
  std::string path, name, state, created, modified;
  bool folder = false, deleted = false;
  std::uint64_t size = 0, record = 0;
  FoundFile* file = nullptr;          // files only
  std::vector<std::string> folders;   // the folder path below Root
};

void PrintListed(const Listed& e, bool json) {
  if (json) {
    nlohmann::ordered_json j;
    j["path"] = e.path;
    j["name"] = e.name;
    j["folder"] = e.folder;
    j["deleted"] = e.deleted;
    j["size"] = e.size;
    j["state"] = e.state;
    j["created"] = e.created.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(e.created);
    j["modified"] = e.modified.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(e.modified);
    j["record"] = e.record;
    std::cout << j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
    return;
  }
  char size[32];
  std::snprintf(size, sizeof size, "%12" PRIu64, e.size);
  std::cout << (e.folder ? "dir  " : "file ") << e.state
            << std::string(e.state.size() < 25 ? 25 - e.state.size() : 1, ' ') << size << "  "
            << (e.modified.empty() ? std::string(19, '-') : e.modified) << "  " << e.path << '\n';
}

// Every folder of the tree, depth first in tree order, each followed by its
// files: what the window shows, folder by folder.
std::vector<Listed> ListTree(const HeadlessWindow& ui) {
  std::vector<Listed> out;
  struct Pending {
    NodeHandle node;
    std::string path;
    std::vector<std::string> folders;
  };
  std::vector<Pending> stack;
  if (ui.RootNode() != kNoNode) stack.push_back({ui.RootNode(), "", {}});
  while (!stack.empty()) {
    const Pending p = stack.back();
    stack.pop_back();
    const auto* folder = static_cast<const MftFileInfo*>(ui.NodeData(p.node));
    if (folder == nullptr) continue;
    if (p.node != ui.RootNode()) {
      Listed d;
      d.path = p.path;
      d.name = folder->Label();
      d.folder = true;
      d.deleted = folder->deletedEntry;
      d.state = folder->deletedEntry ? "Deleted" : "Active";
      d.created = IsoFileTime(folder->created);
      d.modified = folder->modified != 0 ? IsoFileTime(folder->modified)
                                         : IsoFatTime(folder->fatDate, folder->fatTime);
      d.record = folder->recordNumber;
      d.folders = p.folders;
      out.push_back(std::move(d));
    }
    for (FoundFile* f = folder->firstFile; f != nullptr; f = f->next) {
      Listed e;
      e.file = f;
      e.folders = p.folders;
      e.path = p.path + "/" + f->name;
      e.name = f->name;
      e.deleted = !(f->flags & kFlagInUse);
      e.size = f->size;
      e.state = FileStateText(f->flags);
      if (f->recordNumber != 0) {
        e.created = IsoFileTime(f->created);
        e.modified = IsoFileTime(f->modified);
        e.record = f->recordNumber;
      } else {
        e.modified = IsoFatTime(f->fatDate, f->fatTime);
        e.record = f->startCluster;
      }
      out.push_back(std::move(e));
    }
    std::vector<Pending> children;
    for (NodeHandle c = ui.FirstChild(p.node); c != kNoNode; c = ui.NextSibling(c)) {
      const auto* child = static_cast<const MftFileInfo*>(ui.NodeData(c));
      const std::string label = child ? child->Label() : std::string("?");
      Pending next{c, p.path + "/" + label, p.folders};
      next.folders.push_back(label);
      children.push_back(std::move(next));
    }
    stack.insert(stack.end(), children.rbegin(), children.rend());
  }
  return out;
}

// Where block devices are looked for can be moved, for tests and for
// examining a mounted copy of another machine's /sys and /dev.
void ApplyDeviceDirs(DriveSources& sources) {
  if (const char* sys = std::getenv("TESSILON_SYSFS_BLOCK")) sources.sysfsBlockDir = sys;
  if (const char* dev = std::getenv("TESSILON_DEV_DIR")) sources.deviceDir = dev;
}

}  // namespace

int RunDrives(const DrivesOptions& options) {
  AppState app;
  app.sources.files = options.sources;
  app.sources.scanDevices = options.devices;
  ApplyDeviceDirs(app.sources);
  HeadlessWindow ui;
  ui.PostCommand(kCmdBuildDriveList);
  RunMainDialog(&app, &ui);  // returns once nothing is left to do
  PrintLog(ui);
  PrintDriveTable(ui, options.json);
  return 0;
}

namespace {

// A headless program that has scanned one source: the drive list built from
// it alone, its first FAT32 or NTFS volume (or the partition asked for)
// chosen, and the scan run, exactly as the window does it.
struct ScanSession {
  AppState app;
  TerminalWindow ui;
  int status = 1;

  explicit ScanSession(const ScanOptions& options) {
    app.sources.files = {options.source};
    app.sources.scanDevices = false;
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
    logPrinted_ = ui.RowCount(kLogList);
    PrintLog(ui);  // the drive list's part of the log, before the scan's
    ui.RunDialog();
    PrintNewLog();
    status = app.lastScanResult == 1 ? 0 : 1;
  }

  void PrintNewLog() {
    PrintLog(ui, logPrinted_);
    logPrinted_ = ui.RowCount(kLogList);
  }

 private:
  int ChooseRow(const ScanOptions& options) {
    const int rows = ui.RowCount(kDriveList);
    if (rows == 0) {
      std::cerr << "tessilon-cli: " << options.source << " holds no FAT32 or NTFS volume to scan\n";
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
    std::cerr << "tessilon-cli: " << options.source << " has no FAT32 or NTFS partition "
              << options.partition << '\n';
    return -1;
  }

  int logPrinted_ = 0;
};

}  // namespace

int RunScan(const ScanOptions& options) {
  ScanSession session(options);
  if (session.status != 0) return session.status;
  for (const Listed& e : ListTree(session.ui)) PrintListed(e, options.json);
  return 0;
}

namespace {

// Ctrl+C (or SIGTERM) interrupts the copy as Exit does, so that the file
// being written is removed rather than left cut short; a second one ends
// the program at once.
class InterruptAsExit {
 public:
  InterruptAsExit() {
    interruptSignal = 0;
    struct sigaction action {};
    action.sa_handler = [](int) { interruptSignal = 1; };
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &oldInt_);
    ::sigaction(SIGTERM, &action, &oldTerm_);
  }
  ~InterruptAsExit() {
    ::sigaction(SIGINT, &oldInt_, nullptr);
    ::sigaction(SIGTERM, &oldTerm_, nullptr);
  }
  InterruptAsExit(const InterruptAsExit&) = delete;
  InterruptAsExit& operator=(const InterruptAsExit&) = delete;

 private:
  struct sigaction oldInt_ {};
  struct sigaction oldTerm_ {};
};

}  // namespace

int RunCopy(const CopyOptions& options) {
  // Refused before the scan, which can take long on a big disk; nothing is
  // made here. The copy itself checks again before it makes the folder.
  if (const auto refusal = DestinationRefusal(options.source, options.to)) {
    std::cerr << "tessilon-cli copy: nothing was copied: " << *refusal << '\n';
    return 1;
  }
  InterruptAsExit interrupts;
  ScanOptions scan;
  scan.source = options.source;
  scan.partition = options.partition;
  ScanSession session(scan);
  if (interruptSignal != 0) {
    std::cerr << "tessilon-cli copy: interrupted during the scan; nothing was copied\n";
    return 3;
  }
  if (session.status == 1) return 1;
  const std::vector<Listed> listed = ListTree(session.ui);
  const bool everyDeleted = options.paths.empty();
  std::set<std::string> wanted(options.paths.begin(), options.paths.end());
  std::size_t ticked = 0;
  for (const Listed& e : listed) {
    if (e.file == nullptr) continue;
    const bool take = everyDeleted ? e.deleted : wanted.erase(e.path) > 0;
    if (take) {
      e.file->checkState = kCheckTicked;
      ++ticked;
    }
  }
  for (const std::string& missing : wanted)
    std::cerr << "tessilon-cli copy: no file " << missing << " was found on " << options.source << '\n';
  // A scan that ended with parts unreadable still copies what it found.
  const int scanStatus = session.status;
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

namespace {

// Hands every call on to the printer it wraps and remembers how the job
// went, which the print command itself only tells through message boxes.
class WatchedPrinter final : public PrintSurface {
 public:
  struct Outcome {
    bool started = false;
    bool ended = false;
  };
  WatchedPrinter(std::unique_ptr<PrintSurface> inner, Outcome* outcome)
      : inner_(std::move(inner)), outcome_(outcome) {}
  bool StartDocument(std::string_view name) override {
    return outcome_->started = inner_->StartDocument(name);
  }
  int PageWidth() const override { return inner_->PageWidth(); }
  int PageHeight() const override { return inner_->PageHeight(); }
  int LineHeight() const override { return inner_->LineHeight(); }
  int TextWidth(std::string_view text) const override { return inner_->TextWidth(text); }
  void TextOut(int x, int y, std::string_view text) override { inner_->TextOut(x, y, text); }
  bool NewPage() override { return inner_->NewPage(); }
  bool EndPage() override { return inner_->EndPage(); }
  bool EndDocument() override { return outcome_->ended = inner_->EndDocument(); }
  bool Release() override { return inner_->Release(); }

 private:
  std::unique_ptr<PrintSurface> inner_;
  Outcome* outcome_;
};

std::string LowerExtension(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

}  // namespace

int RunReport(const ReportOptions& options) {
  std::error_code ec;
  if (!options.out.empty() && std::filesystem::equivalent(options.out, options.source, ec)) {
    std::cerr << "tessilon-cli report: " << options.out << " is the source; it is never written to\n";
    return 2;
  }
  const std::string ext = options.out.empty() ? ".txt" : LowerExtension(options.out);
  if (ext != ".pdf" && ext != ".txt") {
    std::cerr << "tessilon-cli report: --out names a .pdf or a .txt file, not " << options.out << '\n';
    return 2;
  }
  if (ext == ".pdf" && !CanWritePdf()) {
    std::cerr << "tessilon-cli report: this build writes no PDF files; use --out FILE.txt\n";
    return 2;
  }
  ScanOptions scan;
  scan.source = options.source;
  scan.quick = options.quick;
  scan.partition = options.partition;
  ScanSession session(scan);
  if (session.status != 0) return session.status;

  std::unique_ptr<PrintSurface> printer;
  std::optional<TextPrintout> text;
  std::unique_ptr<PdfSupport> pdf;  // outlives the printer and the print run
  if (ext == ".pdf") {
    pdf = std::make_unique<PdfSupport>();
    printer = pdf->FileSurface(options.out);
  } else {
    printer = std::make_unique<TextPrintSurface>(&text.emplace());
  }
  WatchedPrinter::Outcome outcome;
  session.ui.AnswerPrinterWith(std::make_unique<WatchedPrinter>(std::move(printer), &outcome));
  session.ui.PostCommand(kCmdPrint);
  session.ui.RunDialog();
  session.PrintNewLog();
  for (const std::string& box : session.ui.MessageBoxes()) std::cerr << box << '\n';
  if (!outcome.started) {
    std::cerr << "tessilon-cli report: " << options.out << " could not be written\n";
    return 1;
  }
  if (!outcome.ended) return 1;
  if (!text) return 0;
  if (options.out.empty()) {
    std::cout << text->text << std::flush;
    return std::cout ? 0 : 1;
  }
  std::ofstream file(options.out, std::ios::binary | std::ios::trunc);
  file << text->text;
  file.close();
  if (!file) {
    std::cerr << "tessilon-cli report: " << options.out << " could not be written\n";
    return 1;
  }
  return 0;
}

}  // namespace tsn::cli
