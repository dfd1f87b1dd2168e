#include "fs/fat/fat_file_content.h"

#include <unordered_set>

#include "fs/fat/fat_table.h"
#include "core/entry_records.h"
#include "fs/logdrive_info.h"

namespace tsn {

namespace {

void AddCluster(std::vector<ClusterSpan>& spans, std::uint32_t c) {
  if (!spans.empty() && spans.back().first + spans.back().count == c) ++spans.back().count;
  else spans.push_back({c, 1});
}

}  // namespace

FatFilePlan PlanFatFile(const LOGDRIVE_INFO* drive, const FoundFile& file) {
  FatFilePlan plan;
  const std::uint64_t clusterBytes = drive->ClusterBytes();
  if (file.size == 0) return plan;  // nothing to read: an empty file
  const std::uint64_t needed = (file.size + clusterBytes - 1) / clusterBytes;
  const std::uint32_t start = file.startCluster;
  if (start < 2 || start >= drive->clusterCount) {
    plan.readable = false;
    plan.warnings.push_back("its start cluster " + std::to_string(start) + " lies outside the volume");
    return plan;
  }
  if (file.flags & kFlagInUse) {
    std::unordered_set<std::uint32_t> seen;
    std::uint64_t taken = 0;
    for (std::uint32_t c = start; c != kNoNextCluster && taken < needed;
         c = NextCluster(drive, drive->fatTable, c), ++taken) {
      if (!seen.insert(c).second) {
        plan.warnings.push_back("its cluster chain loops back to cluster " + std::to_string(c));
        break;
      }
      AddCluster(plan.spans, c);
    }
    if (taken < needed) {
      const std::uint32_t last = plan.spans.back().first + plan.spans.back().count - 1;
      if (FatEntryUnreadable(*drive, last))
        plan.warnings.push_back("the FAT entry of its cluster " + std::to_string(last) +
                                " could not be read, so its clusters after the first " + std::to_string(taken) +
                                " of " + std::to_string(needed) + " cannot be found");
      else
        plan.warnings.push_back("its cluster chain ends after " + std::to_string(taken) + " of " +
                                std::to_string(needed) + " clusters; the rest is missing");
    }
    return plan;
  }
  // Deleted: contiguous from the start cluster, as far as the volume goes.
  std::uint64_t count = needed;
  if (start + count > drive->clusterCount) {
    count = drive->clusterCount - start;
    plan.warnings.push_back("its size runs past the end of the volume; only " +
                            std::to_string(count) + " clusters are there to copy");
  }
  plan.spans.push_back({start, static_cast<std::uint32_t>(count)});
  const std::uint64_t unknown = UnreadableFatEntriesIn(*drive, start, count);
  if (unknown > 0)
    plan.warnings.push_back("the FAT entries of " + std::to_string(unknown) + " of its " + std::to_string(count) +
                            " clusters could not be read; whether other files now hold them is not known");
  std::uint64_t reused = 0;
  for (std::uint64_t i = 0; i < count; ++i)
    if (FatEntry(drive->fatTable, static_cast<std::uint32_t>(start + i)) != 0) ++reused;
  reused -= unknown;
  if (reused > 0) {
    plan.warnings.push_back(std::to_string(reused) + " of its " + std::to_string(count) +
                            " clusters now belong to other files; its content is likely overwritten");
    // Some systems clear the high half of the start cluster on deletion: a
    // start below 65,536 on a larger volume, landing in clusters in use, may
    // be such a one.
    if (start < 0x10000 && drive->clusterCount > 0x10000)
      plan.warnings.push_back("its start cluster " + std::to_string(start) +
                              " may have lost its high half at deletion");
  }
  return plan;
}

}  // namespace tsn
