#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "ui/headless/headless_window.h"

// Whether the tests run sanitized: such a program reserves terabytes of address space it never uses, so no
// address-space bound can be set on it.
#if defined(__SANITIZE_ADDRESS__)
#define TESSILON_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESSILON_SANITIZED 1
#endif
#endif
#ifndef TESSILON_SANITIZED
#define TESSILON_SANITIZED 0
#endif

namespace tsn::test {

// Wires an AppState to a headless window and initialises the dialog.
void Wire(AppState& app, HeadlessWindow& ui);
// Builds the drive list on these image files (no devices) and, when there is such a row, makes row `select` the current
// drive (none when < 0).
void OpenImages(AppState& app, HeadlessWindow& ui, const std::vector<std::string>& files, int select = 0);

struct HeadlessApp {  // an AppState wired to a headless window
  AppState app;
  HeadlessWindow ui;
  HeadlessApp() { Wire(app, ui); }
  std::vector<std::string> LogMessages() const;  // column 1 of every log row
  std::string LogText() const;                   // all of them, one per line
  void OpenImages(const std::vector<std::string>& files, int select = 0) { test::OpenImages(app, ui, files, select); }
};

class ScratchDir {  // removed at the end of the test
 public:
  ScratchDir();
  ~ScratchDir();
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
};

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::string ReadAll(const std::string& path);
std::vector<std::uint8_t> ReadAt(const std::string& path, std::uint64_t offset, std::size_t n);
void WriteAt(const std::string& path, std::uint64_t offset, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> Le(std::uint64_t value, int width);  // little-endian
std::string Sha256OfFile(const std::string& path);
std::vector<std::string> Split(const std::string& s, char sep);
// A path to compare found FAT names by: a deleted 8.3 name has lost its first character, which each tool fills in its
// own way, so the first character of every part is masked, and case does not count.
std::string DeletedNameKey(const std::string& path);
std::string Quote(const std::string& s);  // for a shell command line

struct CommandResult {
  int status = -1;
  std::string out;
  std::string err;
};
std::string Cli(const std::string& args);  // the command line program with these arguments
CommandResult RunCommand(const std::string& commandLine);
void Sh(const std::string& commandLine);  // RunCommand, failing the test unless it succeeds
bool HaveTool(const std::string& name);

struct Scan {  // a scan through the command line: its JSON rows and its log
  int status = -1;
  std::vector<nlohmann::json> entries;
  std::string log;
  const nlohmann::json* Find(const std::string& path) const;
  std::set<std::string> Paths(bool deleted) const;
  // The live (or deleted) entries: path -> record (first cluster on FAT).
  std::map<std::string, std::uint64_t> Records(bool deleted) const;
  bool Logged(const std::string& text) const { return log.find(text) != std::string::npos; }
};
Scan RunScan(const std::string& image, bool quick, const std::string& extra = "", int timeoutSeconds = 60);

std::string Fixture(const std::string& name);
std::vector<nlohmann::json> ManifestOf(const std::string& image);
// The sha256 the manifest gives a file ("Documents/readme.txt"); empty if none.
std::string ManifestSha(const std::string& image, const std::string& path);

// The clusters istat lists for the first attribute of `type` of an NTFS record (the unnamed $DATA unless told), in
// order (0 for a hole).
std::vector<std::uint64_t> IstatClusters(const std::string& image, std::uint64_t record,
                                         const std::string& type = "$DATA");

// A volume from the shared real-world images, unpacked into the build folder on first use; `member` names the file
// inside a .tgz or .zip. Empty when the archive is not there, which fails the test when CI is set: a CI run must not
// pass by skipping them.
std::string RealImage(const std::string& archive, const std::string& member = "");
std::string RealImagesDir();
#define TESSILON_SKIP_WITHOUT_REAL_IMAGES() GTEST_SKIP() << "no real images at " << ::tsn::test::RealImagesDir()

// An image served read-only through FUSE, answering EIO for every read that touches one of `bad` (inclusive byte
// ranges): a disk with bad sectors, read through the kernel as the program reads any file. Unmounted when it goes.
class FailingImage {
 public:
  FailingImage(const std::string& image, const std::vector<std::pair<std::uint64_t, std::uint64_t>>& bad);
  ~FailingImage();
  FailingImage(const FailingImage&) = delete;
  FailingImage& operator=(const FailingImage&) = delete;
  const std::string& path() const { return path_; }  // empty when not mounted: see why()
  const std::string& why() const { return why_; }

 private:
  std::string mount_, path_, why_;
  int pid_ = -1;
};

// Whether a file below a copy's destination is a manifest the copy wrote beside the files.
bool IsCopyManifest(const std::filesystem::path& file);

std::string CopyOf(const std::string& path, const ScratchDir& dir, const std::string& name);

std::string TimedCli(const std::string& args);  // Cli, stopped after two minutes
// `tessilon-cli copy` of the named paths (every deleted file when none).
CommandResult CliCopy(const std::string& image, const std::string& to, const std::vector<std::string>& paths = {},
                      const std::string& options = "");
bool Has(const std::string& text, const std::string& part);
std::size_t Count(const std::string& text, const std::string& part);

// The rows of tests/data/<name>, one JSON object a line; lines starting with '#' are notes for the reader.
std::vector<nlohmann::json> DataRows(const std::string& name);

}  // namespace tsn::test
