#include "whole_volume.h"

#include <cstring>

#include "compact_image.h"
#include "fuzz_support.h"
#include "app/copy_command.h"
#include "core/entry_records.h"
#include "ui/control_ids.h"

namespace tsn::fuzz {

namespace {

// Ticks up to `budget` files: each copy goes the same way as the last, and a
// damaged volume may list thousands, each a file created in the scratch
// folder.
void TickFiles(HeadlessWindow& ui, NodeHandle node, std::uint64_t maxSize, int depth, int* budget) {
  if (node == kNoNode || depth > 4096) return;
  if (auto* folder = static_cast<MftFileInfo*>(ui.NodeData(node)))
    for (FoundFile* f = folder->firstFile; f != nullptr && *budget > 0; f = f->next)
      if (f->size <= maxSize) f->checkState = kCheckTicked, --*budget;
  for (NodeHandle c = ui.FirstChild(node); c != kNoNode && *budget > 0; c = ui.NextSibling(c))
    TickFiles(ui, c, maxSize, depth + 1, budget);
}

}  // namespace

int RunWholeVolume(std::span<const std::uint8_t> input, const WholeVolume& target) {
  if (input.size() < 4 || input.size() > std::size_t{target.maxRecords} * kCompactRecord) return -1;
  const CompactImage compact = ParseCompact(input, target.maxSectors);
  MemoryImage image(std::uint64_t{compact.sectors} * 512);
  std::uint8_t sector[512];
  for (const auto& r : compact.records) {
    std::memset(sector, 0, sizeof sector);
    std::memcpy(sector, r.bytes.data(), r.bytes.size());
    image.Write(std::uint64_t{r.sector} * 512, sector);
  }

  FuzzApp app({image.Path()});
  const int rows = app.BuildDriveList();
  for (int row = 0; row < rows && row < 2; ++row) {
    // The other file system's scans are the other target's: here they would
    // only take time, and mutations that turn a volume into one are many.
    const auto* listed = static_cast<const LOGDRIVE_INFO*>(app.ui.RowData(kDriveList, row));
    if (listed == nullptr || listed->Kind() != target.kind) continue;
    for (const bool quick : {true, false}) {
      const int logFrom = app.ui.RowCount(kLogList);
      const std::uint64_t rowsBefore = app.ui.fileRowsInserted;
      app.Scan(row, quick);
      const LOGDRIVE_INFO* drive = app.app.currentDrive;
      if (drive == nullptr || drive->Kind() != target.kind || app.app.lastScanResult != 1) continue;
      if (target.cutShortIsTold && drive->totalSectors > image.Size() / 512 &&
          app.LogSince(logFrom).find("but its image holds") == std::string::npos)
        Fail("a scan passed over the end of a cut-short volume without a word");
      if (app.ui.fileRowsInserted - rowsBefore > 2 * drive->foundFiles + 1)
        Fail("showing the files found cost more rows than twice their number");
    }
    LOGDRIVE_INFO* drive = app.app.currentDrive;
    if (drive == nullptr || drive->Kind() != target.kind) continue;
    int budget = target.maxCopiedFiles;
    TickFiles(app.ui, app.ui.RootNode(), target.maxCopiedFile, 0, &budget);
    const std::vector<CopyItem> items = TickedFiles(&app.app);
    if (items.empty()) continue;
    ScratchFolder out;
    CopyFilesTo(&app.app, drive, out.Path(), items);
    if (app.app.busy != 0) Fail("copying ended with the program still busy");
  }
  return 0;
}

}  // namespace tsn::fuzz
