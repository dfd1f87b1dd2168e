#pragma once
// The command line's sub-commands. Each runs the program's own commands
// through the headless window layer and prints what the window would show.
#include <cstdint>
#include <string>
#include <vector>

namespace tsn::cli {

// The exit statuses of every sub-command.
enum ExitStatus : int {
  kExitDone = 0,
  kExitNotScanned = 1,    // the source could not be scanned
  kExitBadArguments = 2,
  kExitIncomplete = 3,    // done, but with unreadable areas or interrupted
  kExitOutputFailed = 4,  // the listing or the report could not be written
};

struct DrivesOptions {
  std::vector<std::string> sources;
  bool devices = true;
  bool json = false;
  std::uint32_t sectorSize = 0;  // of image files; 0: 512
  std::uint64_t offset = 0;
};

struct ScanOptions {
  std::string source;
  bool quick = false;
  bool json = false;
  bool bodyfile = false;  // The Sleuth Kit's body file, for mactime
  bool csv = false;
  int partition = 0;  // 0: the first volume found
  std::uint32_t sectorSize = 0;  // of image files; 0: 512
  std::uint64_t offset = 0;  // sectors into the source where a volume starts; 0: none given
};

struct CopyOptions {
  std::string source;
  std::string to;
  std::vector<std::string> paths;  // as scan prints them; none: every deleted file
  int partition = 0;
  std::uint32_t sectorSize = 0;  // of image files; 0: 512
  std::uint64_t offset = 0;
};

struct CatOptions {
  std::string source;
  std::string path;  // as scan prints it; or:
  std::uint64_t record = 0;  // the MFT record, or on FAT the first cluster
  bool byRecord = false;
  bool quick = false;
  int partition = 0;
  std::uint32_t sectorSize = 0;
  std::uint64_t offset = 0;
};

struct ReportOptions {
  std::string source;
  std::string out;  // FILE.pdf or FILE.txt; empty: the text on stdout
  bool quick = false;
  int partition = 0;
  std::uint32_t sectorSize = 0;  // of image files; 0: 512
  std::uint64_t offset = 0;
};

int RunDrives(const DrivesOptions& options);
int RunReport(const ReportOptions& options);
int RunCopy(const CopyOptions& options);
int RunScan(const ScanOptions& options);
int RunCat(const CatOptions& options);

}  // namespace tsn::cli
