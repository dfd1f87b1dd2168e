#include <cinttypes>
#include <cstdio>
#include <new>
#include <vector>

#include "app/app_state.h"
#include "app/main_dialog.h"
#include "app/message_log.h"
#include "app/progress.h"
#include "fat/dir_entry.h"
#include "fat/fat_scans.h"
#include "fat/fat_table.h"
#include "results/file_list.h"
#include "results/folder_tree.h"

namespace tsn {

namespace {

// A folder's first cluster starts with its "." and ".." entries.
bool StartsWithDotEntries(const std::vector<std::uint8_t>& cluster) {
  return cluster[0] == '.' && cluster[32] == '.' && cluster[33] == '.';
}

// The clusters that lie on the volume: a damaged boot sector may claim far
// more than the image holds, and reading nothing for hours helps nobody.
std::uint64_t ClustersOnVolume(const LOGDRIVE_INFO& drive, const FatGeometry& g) {
  const std::uint64_t sectors = drive.volume ? drive.volume->Size() / kSectorSize : 0;
  const std::uint64_t dataStart = g.ClusterLba(2);
  if (sectors <= dataStart || g.sectorsPerCluster == 0) return 2;
  return 2 + (sectors - dataStart) / g.sectorsPerCluster;
}

}  // namespace

int FatFileListScan(AppState* app, LOGDRIVE_INFO* drive) {
  WindowSystem& ui = *app->ui;
  ProgressClock clock;
  clock.blocksTotal = drive->clusterCount / 1000;
  StartProgress(app, &clock, app->progressBar, kSizeText, kClockText);

  const FatGeometry g = FatGeometryOf(*drive);
  std::vector<std::uint8_t> buffer;
  try {
    buffer.assign(g.ClusterBytes(), 0);
  } catch (const std::bad_alloc&) {
    LogMessage(app, kError, app->logList, "Could no allocate %" PRIu64 " bytes for cluster buffer",
               g.ClusterBytes());
    return 0;
  }
  const NodeHandle root = CreateRootFolder(app, drive);
  MftFileInfo* rootInfo = FolderRecordOf(ui, root);
  LogMessage(app, kAlert, app->logList, "Beginning file system scan.");
  if (LoadFat(app, drive) == 0) return 0;

  // The cluster count is taken from the total of sectors, so its last
  // clusters always lie past the data area and read as nothing; reads past
  // the image are skipped. A volume claiming more than its image holds is
  // damage worth a line.
  const std::uint64_t end = std::min(drive->clusterCount, ClustersOnVolume(*drive, g));
  const std::uint64_t imageSectors = drive->volume ? drive->volume->Size() / kSectorSize : 0;
  if (drive->totalSectors > imageSectors)
    LogMessage(app, kError, app->logList,
               "%s claims %" PRIu64 " sectors but its image holds %" PRIu64
               "; the clusters beyond are not there to read.",
               drive->driveName.c_str(), drive->totalSectors, imageSectors);
  const int latestYear = CurrentYearUtc();
  const std::vector<std::uint32_t> previous = ChainPredecessors(drive, drive->fatTable);
  const std::size_t slots = buffer.size() / kDirEntrySize;
  char text[64];
  app->busy = 1;
  std::uint64_t c = 2;
  while (c < end) {
    const auto cluster = static_cast<std::uint32_t>(c);
    ReadCluster(app, drive, cluster, buffer);  // an unreadable cluster reads as zeros
    if (c % 1000 == 0) {
      ++clock.blocksDone;
      UpdateProgressClock(app, &clock);
    }
    std::snprintf(text, sizeof text, "CLUSTER: %u", cluster);
    ui.SetText(app->dirsText, text);
    for (std::size_t slot = StartsWithDotEntries(buffer) ? 2 : 0; slot < slots; ++slot) {
      PumpOneMessage(app);
      const ShortEntry entry{std::span<const std::uint8_t>(buffer).subspan(slot * kDirEntrySize, kDirEntrySize)};
      if (!entry.IsDeleted() || (entry.Attributes() & kAttrDirectory) ||
          !IsAcceptableEntry(drive, entry, latestYear))
        continue;
      if (rootInfo == nullptr) continue;
      const std::uint32_t before = cluster < previous.size() ? previous[cluster] : 0;
      const MftFileInfo info = EntryToFileInfo(app, drive, {buffer, slot, cluster, before});
      AppendToFolder(rootInfo, FoundFileFromFileInfo(*app->records, info));
      ++drive->foundFiles;
      std::snprintf(text, sizeof text, "FILES: %" PRIu64, drive->foundFiles);
      ui.SetText(app->filesText, text);
    }
    if (app->busy == 0) break;
    ++c;
  }
  drive->fatTable = {};
  if (c >= end)
    LogMessage(app, kStatus, app->logList, "File system scan complete.");
  else
    LogMessage(app, kAlert, app->logList, "File system scan interrupted.");
  ui.SetSelectedNode(root);
  ShowFolderFiles(app, root);
  ui.SetProgressPosition(0);
  ui.SetText(app->sizeText, "0");
  ui.SetText(app->clockText, "00:00:00");
  app->busy = 0;
  return 1;
}

}  // namespace tsn
