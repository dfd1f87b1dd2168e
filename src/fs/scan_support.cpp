#include "fs/scan_support.h"

#include <charconv>
#include <cinttypes>
#include <cstring>

#include "fs/logdrive_info.h"
#include "source/read_sectors.h"
#include "source/volume_source.h"

namespace tsn {

void EndClusterScan(EngineHost* host, FolderRef root, bool complete) {
  if (complete)
    LogMessage(host, kStatus, "File system scan complete.");
  else
    LogMessage(host, kAlert, "File system scan interrupted.");
  host->SelectFolder(root);
  host->ShowFolderFiles(root);
  host->EndSteps();
  host->ShowStatus(StatusField::Size, "0");
  host->ShowStatus(StatusField::Clock, "00:00:00");
  host->SetBusy(false);
}

void ShowScanCluster(EngineHost* host, ProgressClock& clock, std::uint64_t c) {
  if (c % 1000 == 0) {
    ++clock.blocksDone;
    host->UpdateProgressClock(&clock);
  }
  // Set for every cluster: formatted without printf, which would cost more
  // than examining the cluster.
  char text[32];
  std::memcpy(text, "CLUSTER: ", 9);
  const auto done = std::to_chars(text + 9, text + sizeof text, static_cast<std::uint32_t>(c));
  host->ShowStatus(StatusField::Dirs, std::string_view(text, static_cast<std::size_t>(done.ptr - text)));
}

std::string FolderText(const std::vector<std::string>& path, bool isRoot) {
  if (isRoot) return "the root folder";
  std::string text;
  for (const std::string& name : path) text += "/" + name;
  return "folder \"" + text + "\"";
}

std::string UnreadableWhere(const VolumeSource& volume, const std::vector<UnreadableRange>& bad) {
  std::string where = RangeText(volume.BaseOffset() + bad.front().first, volume.BaseOffset() + bad.front().last);
  if (bad.size() > 1) where += " and " + std::to_string(bad.size() - 1) + " more ranges";
  return where;
}

void UnreadableClusterRuns::Check(std::uint32_t cluster) {
  if (!BytesUnreadable(drive_.volume.get(), clusterOffset_(cluster), clusterBytes_)) return;
  if (count_ > 0 && cluster == last_ + 1) {
    last_ = cluster;
    return;
  }
  Flush();
  first_ = last_ = cluster;
  count_ = 1;
}

void UnreadableClusterRuns::Flush() {
  if (count_ == 0) return;
  count_ = 0;
  if (++runs_ > kRunsNamed) return;
  const VolumeSource& v = *drive_.volume;
  const std::vector<UnreadableRange> bad =
      v.UnreadableIn(clusterOffset_(first_), (std::uint64_t{last_} - first_ + 1) * clusterBytes_);
  if (bad.empty()) return;
  const std::string where = UnreadableWhere(v, bad);
  const std::string clusters = first_ == last_ ? "cluster " + std::to_string(first_)
                                               : "clusters " + std::to_string(first_) + "\u2013" + std::to_string(last_);
  LogMessage(host_, kError, "%s %s could not be read in full (%s of %s); deleted entries that stood in the "
             "unreadable sectors are missing from the list.",
             drive_.driveName.c_str(), clusters.c_str(), where.c_str(), v.Path().c_str());
}

void UnreadableClusterRuns::Finish() {
  Flush();
  if (runs_ > kRunsNamed)
    LogMessage(host_, kError, "%s %" PRIu64 " more runs of clusters could not be read in full.",
               drive_.driveName.c_str(), runs_ - kRunsNamed);
}

}  // namespace tsn
