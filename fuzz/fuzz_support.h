#pragma once
// What the fuzz targets share: an image held in memory but opened by path,
// as the program opens any image, and a headless program wired to it.
#include <signal.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "ui/headless/headless_window.h"

namespace tsn::fuzz {

// A memory file of `size` bytes (holes read as zeros) that VolumeSource opens
// through /proc/self/fd like any other image. Closed on destruction.
class MemoryImage {
 public:
  explicit MemoryImage(std::uint64_t size);
  MemoryImage(const MemoryImage&) = delete;
  MemoryImage& operator=(const MemoryImage&) = delete;
  ~MemoryImage();
  // Writes bytes at offset, clipped to the image's size.
  void Write(std::uint64_t offset, std::span<const std::uint8_t> bytes);
  const std::string& Path() const { return path_; }
  std::uint64_t Size() const { return size_; }
  // The whole image, to tell that nothing wrote to it.
  std::vector<std::uint8_t> Contents() const;

 private:
  int fd_ = -1;
  std::uint64_t size_ = 0;
  std::string path_;
};

// The headless window, counting the rows put into the file list: the work a
// scan does for the display, which must grow with what it finds, not with
// its square.
class CountingWindow : public HeadlessWindow {
 public:
  int InsertRow(ControlId list, int index, std::string_view text, int image, void* data) override;
  std::uint64_t fileRowsInserted = 0;
};

// A headless program over the given sources. The program's fault report
// takes over the fatal signals; the fuzzer's own handlers are put back so
// that a fault is caught and saved by the fuzzer.
struct FuzzApp {
  AppState app;
  CountingWindow ui;
  explicit FuzzApp(std::vector<std::string> sources);
  // Builds the drive list; the number of rows.
  int BuildDriveList();
  // Makes row `row` current and runs one scan; the scan's result.
  int Scan(int row, bool quick);
  // The log's messages from row `from` on, one a line.
  std::string LogSince(int from) const;
};

// A scratch folder under $TMPDIR (or /tmp), removed with what it holds.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// Aborts with a message: how a target reports a broken promise that is not
// a memory fault (an image written to, a scan that did not end).
[[noreturn]] void Fail(const char* what);

}  // namespace tsn::fuzz
