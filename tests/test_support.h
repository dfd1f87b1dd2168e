#pragma once
// Shared helpers of the test suites: a headless program, files on disk,
// hashes and running the command line.
#include <cstdint>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "ui/headless/headless_window.h"

namespace tsn::test {

// An AppState wired to a headless window, with the dialog initialised.
struct HeadlessApp {
  AppState app;
  HeadlessWindow ui;
  HeadlessApp();
  std::vector<std::string> LogMessages() const;  // column 1 of every log row
  std::string LogText() const;                   // all of them, one per line
};

// A scratch folder removed at the end of the test.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
};

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::string Sha256OfFile(const std::string& path);

struct CommandResult {
  int status = -1;
  std::string out;
  std::string err;
};
// Runs a shell command line, capturing stdout and stderr.
CommandResult RunCommand(const std::string& commandLine);
bool HaveTool(const std::string& name);

// The path of a volume from the shared real-world images, unpacked into the
// build folder on first use (never into the source tree). `member` names the
// file inside a .tgz or .zip; for a .gz it is ignored. Empty when the
// archive is not there.
std::string RealImage(const std::string& archive, const std::string& member = "");

// A private copy of a file in dir, for tests that damage it on purpose.
std::string CopyOf(const std::string& path, const ScratchDir& dir, const std::string& name);

}  // namespace tsn::test
