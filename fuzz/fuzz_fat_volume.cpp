// A whole FAT32 volume, in the compact form of compact_image.h, through what
// a user does with it: the drive list, the quick scan, the indexed scan, and
// copying every file found (up to a size) into a scratch folder.
#include <cstdint>
#include <cstring>

#include "app/main_dialog.h"
#include "compact_image.h"
#include "fuzz_support.h"
#include "results/copy_out.h"
#include "results/entry_records.h"
#include "ui/control_ids.h"

using namespace tsn;

namespace {

// Bigger files add nothing but time: their spans are planned the same way.
constexpr std::uint64_t kMaxCopiedFile = 1u << 20;

void TickEveryFile(HeadlessWindow& ui, NodeHandle node, int depth) {
  if (node == kNoNode || depth > 4096) return;
  if (auto* folder = static_cast<MftFileInfo*>(ui.NodeData(node)))
    for (FoundFile* f = folder->firstFile; f != nullptr; f = f->next)
      if (f->size <= kMaxCopiedFile) f->checkState = kCheckTicked;
  for (NodeHandle c = ui.FirstChild(node); c != kNoNode; c = ui.NextSibling(c)) TickEveryFile(ui, c, depth + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4 || size > 512 * fuzz::kCompactRecord) return -1;
  // 64 MiB: room for the smallest FAT32 volume with 512-byte clusters and
  // more; the quick scan reads all of it on every execution.
  const fuzz::CompactImage compact = fuzz::ParseCompact({data, size}, 1u << 17);
  fuzz::MemoryImage image(std::uint64_t{compact.sectors} * 512);
  std::uint8_t sector[512];
  for (const auto& r : compact.records) {
    std::memset(sector, 0, sizeof sector);
    std::memcpy(sector, r.bytes.data(), r.bytes.size());
    image.Write(std::uint64_t{r.sector} * 512, sector);
  }

  fuzz::FuzzApp app({image.Path()});
  const int rows = app.BuildDriveList();
  for (int row = 0; row < rows && row < 2; ++row) {
    for (const bool quick : {true, false}) {
      const int logFrom = app.ui.RowCount(kLogList);
      const std::uint64_t rowsBefore = app.ui.fileRowsInserted;
      app.Scan(row, quick);
      const LOGDRIVE_INFO* drive = app.app.currentDrive;
      if (drive == nullptr || drive->Kind() != 'F' || app.app.lastScanResult != 1) continue;
      // A volume that claims more than its image holds is cut short, and
      // both scans say so.
      if (drive->totalSectors > image.Size() / 512 &&
          app.LogSince(logFrom).find("but its image holds") == std::string::npos)
        fuzz::Fail("a scan passed over the end of a cut-short volume without a word");
      if (app.ui.fileRowsInserted - rowsBefore > 2 * drive->foundFiles + 1)
        fuzz::Fail("showing the files found cost more rows than twice their number");
    }
    LOGDRIVE_INFO* drive = app.app.currentDrive;
    if (drive == nullptr || drive->Kind() != 'F') continue;
    TickEveryFile(app.ui, app.ui.RootNode(), 0);
    const std::vector<CopyItem> items = TickedFiles(&app.app);
    if (items.empty()) continue;
    fuzz::ScratchFolder out;
    CopyFilesTo(&app.app, drive, out.Path(), items);
    if (app.app.busy != 0) fuzz::Fail("copying ended with the program still busy");
  }
  return 0;
}
