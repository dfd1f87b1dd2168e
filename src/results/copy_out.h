#pragma once
// "Copy files": brings ticked files back, byte for byte, into a folder that
// does not lie on the volume being read. Nothing already there is replaced.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tsn {

struct AppState;
struct LOGDRIVE_INFO;
struct FoundFile;

struct CopyItem {
  const FoundFile* file = nullptr;
  std::vector<std::string> folders;  // the folder path in the tree, below Root
};

// Every file whose check box is ticked, with its folder path.
std::vector<CopyItem> TickedFiles(AppState* app);

// Why `destination` must not be written to while the image or device at
// `sourcePath` is read, or nullopt when it may be.
std::optional<std::string> DestinationRefusal(const std::string& sourcePath,
                                              const std::string& destination);

// A file name Linux can hold: "/" and NUL become "_", "." and ".." get a "_".
std::string SafeFileName(const std::string& name);

struct CopyTotals {
  std::uint64_t files = 0;
  std::uint64_t bytes = 0;
  std::uint64_t failed = 0;
  bool interrupted = false;
  bool refused = false;
};

// Copies the items into destination under the busy protocol.
CopyTotals CopyFilesTo(AppState* app, LOGDRIVE_INFO* drive, const std::string& destination,
                       const std::vector<CopyItem>& items);

// Command 5003: asks for the folder, then copies every ticked file.
void CopyTickedFiles(AppState* app);

}  // namespace tsn
