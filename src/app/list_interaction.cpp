#include "app/list_interaction.h"

#include "app/app_state.h"
#include "app/folder_tree.h"
#include "ui/list_rows.h"

namespace tsn {

namespace {
constexpr Colour kInUseGreen{11, 90, 69};
constexpr Colour kRecoverableTeal{11, 62, 69};
constexpr Colour kDeletedRed{190, 0, 0};
constexpr Colour kActiveBlue{0, 0, 190};
constexpr int kStateColumn = 4;
constexpr int kListRecountDelayMs = 100;
}  // namespace

std::uint32_t FileListColour(CustomDrawRecord* record) {
  switch (record->stage) {
    case DrawStage::Prepaint:
      return CDRF_NOTIFYITEMDRAW;
    case DrawStage::ItemPrepaint:
      return CDRF_NOTIFYSUBITEMDRAW;
    case DrawStage::SubItemPrepaint: {
      const auto* file = static_cast<const FoundFile*>(record->itemData);
      if (file == nullptr) return CDRF_DODEFAULT;
      const std::uint32_t problems = kFlagBadSize | kFlagBadCluster | kFlagChainInUse;
      if (file->flags & kFlagInUse) record->SetTextColour(kInUseGreen);
      else if (record->subItem == kStateColumn && (file->flags & problems) == 0)
        record->SetTextColour(kRecoverableTeal);
      else record->SetTextColour(kDeletedRed);
      return CDRF_NEWFONT;
    }
    case DrawStage::Other:
      break;
  }
  return CDRF_DODEFAULT;
}

std::uint32_t FolderTreeColour(const AppState* app, CustomDrawRecord* record) {
  switch (record->stage) {
    case DrawStage::Prepaint:
      return CDRF_NOTIFYITEMDRAW;
    case DrawStage::ItemPrepaint: {
      const MftFileInfo* folder = FolderRecordOf(*app, record->node);
      if (folder != nullptr)
        record->SetTextColour((folder->flags & kFlagInUse) ? kActiveBlue : kDeletedRed);
      return CDRF_NOTIFYSUBITEMDRAW;
    }
    default:
      break;
  }
  return CDRF_DODEFAULT;
}

void FileListClick(AppState* app, const HitTest& hit) {
  if (hit.row < 0 || hit.part != HitPart::CheckBox) return;
  WindowSystem& ui = *app->ui;
  auto* file = static_cast<FoundFile*>(RowDataOf(ui, app->fileList, hit.row));
  if (file == nullptr) return;
  // The list toggles the box itself after this notification: read it first.
  if (ui.RowCheck(app->fileList, hit.row) != kChecked) {
    file->checkState = kCheckTicked;
    if (const NodeHandle folder = ui.SelectedNode(); folder != kNoNode)
      CheckAncestors(app, folder, kCheckTicked);
  } else {
    file->checkState = kCheckCleared;
  }
  ui.SetTimer(kTimerListCheck, kListRecountDelayMs);
}

}  // namespace tsn
