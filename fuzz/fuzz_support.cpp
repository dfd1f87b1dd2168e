#include "fuzz_support.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "app/fault_report.h"
#include "core/trace.h"
#include "app/main_dialog.h"
#include "source/byte_source.h"
#include "ui/control_ids.h"

namespace tsn::fuzz {

namespace {
// Damaged records are what a fuzzer makes all day; their diagnostic lines
// would bury its own report.
[[maybe_unused]] const bool kTracesSilenced = (SetTraceOutput(-1), true);
}  // namespace

MemoryImage::MemoryImage(std::uint64_t size) : size_(size) {
  fd_ = ::memfd_create("tessilon-fuzz", MFD_CLOEXEC);
  if (fd_ < 0 || ::ftruncate(fd_, static_cast<off_t>(size)) != 0) Fail("memfd_create");
  path_ = "/proc/self/fd/" + std::to_string(fd_);
  // Fuzz inputs are for our own parsers: a container signature the fuzzer
  // happens on must not hand them to the image libraries.
  SetContainerFormatsRead(false);
}

MemoryImage::~MemoryImage() {
  if (fd_ >= 0) ::close(fd_);
}

void MemoryImage::Write(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
  if (offset >= size_) return;
  const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), size_ - offset));
  if (n > 0 && ::pwrite(fd_, bytes.data(), n, static_cast<off_t>(offset)) != static_cast<ssize_t>(n))
    Fail("pwrite");
}

std::vector<std::uint8_t> MemoryImage::Contents() const {
  std::vector<std::uint8_t> out(size_);
  std::size_t got = 0;
  while (got < out.size()) {
    const ssize_t n = ::pread(fd_, out.data() + got, out.size() - got, static_cast<off_t>(got));
    if (n <= 0) Fail("pread");
    got += static_cast<std::size_t>(n);
  }
  return out;
}

int CountingWindow::InsertRow(ControlId list, int index, std::string_view text, int image, void* data) {
  if (list == kFileList) ++fileRowsInserted;
  return HeadlessWindow::InsertRow(list, index, text, image, data);
}

FuzzApp::FuzzApp(std::vector<std::string> sources) {
  app.sources.files = std::move(sources);
  app.sources.scanDevices = false;
  app.ui = &ui;
  ui.SetDialogProc([this](const Message& m) { return MainDialogProc(&app, m); });
  constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
  struct sigaction saved[5] {};
  for (int i = 0; i < 5; ++i) sigaction(kSignals[i], nullptr, &saved[i]);
  MainDialogProc(&app, Message{MessageKind::InitDialog});
  for (int i = 0; i < 5; ++i) sigaction(kSignals[i], &saved[i], nullptr);
}

int FuzzApp::BuildDriveList() {
  ui.PostCommand(kCmdBuildDriveList);
  ui.RunDialog();
  return ui.RowCount(kDriveList);
}

int FuzzApp::Scan(int row, bool quick) {
  for (int r = 0; r < ui.RowCount(kDriveList); ++r) ui.SetRowSelected(kDriveList, r, r == row);
  SelectCurrentDrive(&app);
  ui.PostCommand(quick ? kCmdBuildFileListOnly : kCmdBuildIndexedFileList);
  ui.RunDialog();
  if (app.busy != 0) Fail("a scan ended with the program still busy");
  return app.lastScanResult;
}

std::string FuzzApp::LogSince(int from) const {
  std::string out;
  for (int r = from; r < ui.RowCount(kLogList); ++r) out += ui.RowText(kLogList, r, 1) + "\n";
  return out;
}

ScratchFolder::ScratchFolder() {
  // Memory-backed when nothing else is asked for: a disk file system slows
  // down creating thousands of files a second once it has deleted as many.
  const char* tmp = std::getenv("TMPDIR");
  std::string base = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  if ((tmp == nullptr || *tmp == '\0') && ::access("/dev/shm", W_OK | X_OK) == 0) base = "/dev/shm";
  std::string tmpl = base + "/tessilon-fuzz-XXXXXX";
  if (::mkdtemp(tmpl.data()) == nullptr) Fail("mkdtemp");
  path_ = tmpl;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void Fail(const char* what) {
  std::fprintf(stderr, "tessilon fuzz target: %s\n", what);
  std::abort();
}

}  // namespace tsn::fuzz
