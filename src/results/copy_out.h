#pragma once
// "Copy files": brings ticked files back, byte for byte, into a folder that
// does not lie on the volume being read (copy_destination.h). Nothing
// already there is replaced.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "results/copy_destination.h"

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

struct CopyTotals {
  std::uint64_t files = 0;       // copied in full
  std::uint64_t bytes = 0;       // of those
  std::uint64_t incomplete = 0;  // kept under their names, with parts missing
  std::uint64_t failed = 0;      // nothing kept of them
  bool interrupted = false;
  // Nothing was copied: the destination was refused, or the volume's tables
  // could not be read.
  bool refused = false;
};

// Copies the items into destination under the busy protocol; sets
// lastCopyResult.
CopyTotals CopyFilesTo(AppState* app, LOGDRIVE_INFO* drive, const std::string& destination,
                       const std::vector<CopyItem>& items);

// Command 5003: asks for the folder, then copies every ticked file.
void CopyTickedFiles(AppState* app);

}  // namespace tsn
