#pragma once
// What the scans of every FAT-like file system say and do alike: how a
// cluster-by-cluster scan ends, how the folder being walked is named, and
// how clusters that could not be read are reported.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/engine_host.h"

namespace tsn {

struct LOGDRIVE_INFO;
class VolumeSource;
struct UnreadableRange;

// Ends a scan that went through the clusters in order, run to `end` or
// stopped: the log says which, the found files are shown under `root`, and
// the window is idle again.
void EndClusterScan(EngineHost* host, FolderRef root, bool complete);

// Counts cluster `c` on the clock, a step every thousand, and shows it in
// the status bar.
void ShowScanCluster(EngineHost* host, ProgressClock& clock, std::uint64_t c);

// "the root folder", or the folder being walked by its path, given the
// names of the folders from the root down.
std::string FolderText(const std::vector<std::string>& path, bool isRoot);

// Where the volume's unreadable ranges `bad` (at least one) lie: the first
// on the disk, and how many more follow.
std::string UnreadableWhere(const VolumeSource& volume, const std::vector<UnreadableRange>& bad);

// Clusters with unreadable sectors, reported in runs: the deleted entries
// that stood in those sectors are missing from the list, and only the log
// can say so. A dying disk may have thousands; the first few runs are named
// and the rest counted.
class UnreadableClusterRuns {
 public:
  UnreadableClusterRuns(EngineHost* host, const LOGDRIVE_INFO& drive,
                        std::function<std::uint64_t(std::uint32_t)> clusterOffset, std::uint64_t clusterBytes)
      : host_(host), drive_(drive), clusterOffset_(std::move(clusterOffset)), clusterBytes_(clusterBytes) {}

  void Check(std::uint32_t cluster);
  // Ends the last run, and counts those not named.
  void Finish();

 private:
  void Flush();

  static constexpr std::uint64_t kRunsNamed = 5;
  EngineHost* host_;
  const LOGDRIVE_INFO& drive_;
  std::function<std::uint64_t(std::uint32_t)> clusterOffset_;
  std::uint64_t clusterBytes_;
  std::uint32_t first_ = 0, last_ = 0;
  std::uint64_t count_ = 0;
  std::uint64_t runs_ = 0;
};

}  // namespace tsn
