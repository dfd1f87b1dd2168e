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

class EngineHost;
struct LOGDRIVE_INFO;
struct FoundFile;

struct CopyItem {
  const FoundFile* file = nullptr;
  std::vector<std::string> folders;  // the folder path in the tree, below Root
};

struct CopyTotals {
  std::uint64_t files = 0;       // copied in full
  std::uint64_t bytes = 0;       // of those
  std::uint64_t incomplete = 0;  // kept under their names, with parts missing
  std::uint64_t failed = 0;      // nothing kept of them
  bool interrupted = false;
  // Nothing was copied: the destination was refused, or the volume's tables
  // could not be read.
  bool refused = false;
  // The manifest beside the copies (copy_manifest.h) could not be written.
  bool manifestFailed = false;
  // errno of a write that failed (CopyContentTo); 0 when none did.
  int writeError = 0;
  // 1 when every file came back in full; 2 when some did not, the copy
  // was interrupted or its manifest could not be written; 0 when it could
  // not start.
  int Result() const {
    if (refused) return 0;
    return (incomplete == 0 && failed == 0 && !interrupted && !manifestFailed) ? 1 : 2;
  }
};

// Copies the items into destination under the busy protocol, and leaves
// beside them the manifest of what was written (copy_manifest.h).
CopyTotals CopyFilesTo(EngineHost* app, LOGDRIVE_INFO* drive, const std::string& destination,
                       const std::vector<CopyItem>& items);

// Writes one file's content, read as a copy reads it, to fd, which may be a
// pipe: holes go out as zeros. `shown` names it in the log. Counts it in
// files, incomplete (zeros where it could not be read) or failed.
CopyTotals CopyContentTo(EngineHost* app, LOGDRIVE_INFO* drive, const FoundFile& file, int fd,
                         const std::string& shown);

// The first bytes of one file's content, read as a copy reads it, for a
// look before copying. Unreadable sectors read as zeros.
struct ContentPrefix {
  std::vector<std::uint8_t> bytes;  // at most the bytes asked for
  bool whole = false;               // all of those bytes were read
  std::string why;                  // why they may not be the file's own
  std::string refusal;              // not empty: nothing could be read
};
ContentPrefix ReadContentPrefix(EngineHost* app, LOGDRIVE_INFO* drive, const FoundFile& file,
                                std::size_t maxBytes);

}  // namespace tsn
