#include <charconv>
#include <cinttypes>
#include <cstring>
#include <cstdio>
#include <new>
#include <vector>

#include "core/engine_host.h"
#include "fs/fat/dir_entry.h"
#include "fs/fat/fat_scans.h"
#include "fs/fat/fat_table.h"
#include "fs/logdrive_info.h"
#include "fs/scan_support.h"
#include "source/read_sectors.h"

namespace tsn {

namespace {

constexpr std::uint64_t kBatchBytes = 128 * 1024;

// The clusters that lie on the volume: a damaged boot sector may claim far
// more than the image holds, and reading nothing for hours helps nobody.
std::uint64_t ClustersOnVolume(const LOGDRIVE_INFO& drive, const FatGeometry& g) {
  const std::uint64_t sectors = drive.volume ? drive.volume->Size() / g.bytesPerSector : 0;
  const std::uint64_t dataStart = g.ClusterLba(2);
  if (sectors <= dataStart || g.sectorsPerCluster == 0) return 2;
  return 2 + (sectors - dataStart) / g.sectorsPerCluster;
}

}  // namespace

int FatFileListScan(EngineHost* app, LOGDRIVE_INFO* drive) {
  ProgressClock clock;
  clock.blocksTotal = drive->clusterCount / 1000;
  app->StartProgress(&clock);

  const FatGeometry g = FatGeometryOf(*drive);
  std::vector<std::uint8_t> buffer;
  try {
    buffer.assign(g.ClusterBytes(), 0);
  } catch (const std::bad_alloc&) {
    LogMessage(app, kError, "Could no allocate %" PRIu64 " bytes for cluster buffer",
               g.ClusterBytes());
    return 0;
  }
  const FolderRef root = StartFoundTree(app, drive);
  MftFileInfo* rootInfo = app->FolderRecordOf(root);
  LogMessage(app, kAlert, "Beginning file system scan.");
  if (LoadFat(app, drive) == 0) return 0;

  // The cluster count is taken from the total of sectors, so its last
  // clusters always lie past the data area and read as nothing; reads past
  // the image are skipped. A volume claiming more than its image holds is
  // damage worth a line.
  const std::uint64_t end = std::min(drive->clusterCount, ClustersOnVolume(*drive, g));
  ReportShortVolume(app, *drive);
  const int latestYear = CurrentYearUtc();
  std::vector<std::uint32_t> previous;
  try {
    previous = ChainPredecessors(drive, drive->fatTable);
  } catch (const std::bad_alloc&) {
    LogMessage(app, kError, "Not enough memory to follow the cluster chains of %s (%zu FAT entries); the scan cannot run.",
               drive->driveName.c_str(), drive->fatTable.size());
    drive->fatTable = {};
    return 0;
  }
  UnreadableClusterRuns unreadable(
      app, *drive, [&g](std::uint32_t cluster) { return g.ClusterOffset(cluster); }, g.ClusterBytes());
  std::uint64_t judgedWithoutFat = 0;
  // Clusters are read a batch at a time: the same bytes in the same order as
  // one read per cluster, at the speed of large reads.
  const std::uint64_t batchClusters = std::max<std::uint64_t>(1, kBatchBytes / buffer.size());
  std::vector<std::uint8_t> batch;
  std::uint64_t batchFirst = 0, batchCount = 0;
  bool batchWhole = true;
  char text[64];
  // Deleted file entries of one folder cluster, or of FAT12/16's fixed root
  // folder (`cluster` 0), from slot `from` on.
  const auto takeDeleted = [&](std::span<const std::uint8_t> data, std::size_t from, std::uint32_t cluster,
                               std::uint32_t before) {
    const std::size_t count = data.size() / kDirEntrySize;
    for (std::size_t slot = from; slot < count; ++slot) {
      if (data[slot * kDirEntrySize] != kDeletedMark) continue;  // the common case, first
      const ShortEntry entry{data.subspan(slot * kDirEntrySize, kDirEntrySize)};
      if ((entry.Attributes() & kAttrDirectory) ||
          !IsAcceptableEntry(drive, entry, latestYear))
        continue;
      app->PumpOneMessage();
      if (rootInfo == nullptr) continue;
      const MftFileInfo info = EntryToFileInfo(app, drive, {data, slot, cluster, before});
      if (info.flags == kFlagChainInUse && JudgedOnUnreadableFat(drive, entry)) ++judgedWithoutFat;
      AppendToFolder(rootInfo, FoundFileFromFileInfo(app->Records(), info));
      ++drive->foundFiles;
      std::snprintf(text, sizeof text, "FILES: %" PRIu64, drive->foundFiles);
      app->ShowStatus(StatusField::Files, text);
    }
  };
  app->SetBusy(true);
  if (g.rootEntries != 0) {
    // FAT12/16's root folder lies before the clusters, in sectors of its own.
    std::vector<std::uint8_t> region;
    if (ReadFixedRoot(app, *drive, region)) takeDeleted(region, 0, 0, 0);
  }
  std::uint64_t c = 2;
  while (c < end) {
    const auto cluster = static_cast<std::uint32_t>(c);
    if (c >= batchFirst + batchCount) {
      batchFirst = c;
      batchCount = std::min(batchClusters, end - c);
      batch.resize(batchCount * buffer.size());
      // An unreadable sector reads as zeros, and costs only itself.
      batchWhole = ReadBytes(app, drive->volume.get(), g.ClusterOffset(cluster), batch) == 1;
    }
    if (!batchWhole) unreadable.Check(cluster);
    const std::span<const std::uint8_t> data(batch.data() + (c - batchFirst) * buffer.size(),
                                             buffer.size());
    ShowScanCluster(app, clock, c);
    // One pump per cluster and one per entry taken keep the window alive; a
    // pump for each of the millions of empty slots would only cost time.
    app->PumpOneMessage();
    const bool dots = data[0] == '.' && data[32] == '.' && data[33] == '.';
    const std::uint32_t before = cluster < previous.size() ? previous[cluster] : 0;
    takeDeleted(data, dots ? 2 : 0, cluster, before);
    if (!app->Busy()) break;
    ++c;
  }
  unreadable.Finish();
  ReportJudgedWithoutFat(app, *drive, judgedWithoutFat);
  drive->fatTable = {};
  EndClusterScan(app, root, c >= end);
  return 1;
}

}  // namespace tsn
