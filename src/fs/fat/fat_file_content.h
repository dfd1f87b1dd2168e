#pragma once
// Where a found FAT file's bytes lie: the clusters to copy it from.
#include <cstdint>
#include <string>
#include <vector>

namespace tsn {

class EngineHost;
struct LOGDRIVE_INFO;
struct FoundFile;

struct ClusterSpan {
  std::uint32_t first = 0;
  std::uint32_t count = 0;
};

struct FatFilePlan {
  std::vector<ClusterSpan> spans;  // in file order
  std::vector<std::string> warnings;  // for the log: why the copy may be wrong
  bool readable = true;              // false: nothing sound to copy
};

// An active file follows its chain in the loaded table; a deleted one takes
// its clusters from the start cluster on, contiguous, for its size, since the
// table no longer holds its chain. Needs drive->fatTable loaded.
FatFilePlan PlanFatFile(const LOGDRIVE_INFO* drive, const FoundFile& file);

}  // namespace tsn
