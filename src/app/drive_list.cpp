#include "app/drive_list.h"

#include <cinttypes>
#include <cstdio>

#include "app/app_state.h"
#include "fs/logdrive_info.h"

namespace tsn {

namespace {
constexpr double kGiBPerByte = 1.0 / (1024.0 * 1024.0 * 1024.0);
// Rows of drives that cannot be scanned (yet) are drawn in this.
constexpr Colour kGreyed{128, 128, 128};
}  // namespace

int AddDriveRow(AppState* app, LOGDRIVE_INFO* drive, ControlId list) {
  WindowSystem& ui = *app->ui;
  const int n = ui.RowCount(list);
  if (ui.InsertRow(list, n, drive->driveName, 0, drive) < 0) return 0;
  FillDriveRow(app, drive, list, n);
  return 1;
}

void FillDriveRow(AppState* app, LOGDRIVE_INFO* drive, ControlId list, int n) {
  WindowSystem& ui = *app->ui;
  char text[64];
  std::snprintf(text, sizeof text, "%u", drive->diskNumber);
  ui.SetRowText(list, n, 1, text);
  std::snprintf(text, sizeof text, "%" PRIu64, drive->startLba);
  ui.SetRowText(list, n, 5, text);
  ui.SetRowText(list, n, 9, drive->sourceDescription);
  if (drive->needsPermission) {
    // Nothing of it has been read yet: only where it is can be told.
    ui.SetRowText(list, n, 2, kNeedsPermissionText);
    return;
  }
  ui.SetRowText(list, n, 2, drive->volumeName);
  ui.SetRowText(list, n, 3, drive->fsName);
  // The volume's own sectors: a 4096-byte one counts eight times a 512-byte one.
  const double gib = static_cast<double>(drive->totalSectors) * (drive->bytesPerSector * kGiBPerByte);
  std::snprintf(text, sizeof text, "%.2f GB", gib);
  ui.SetRowText(list, n, 4, text);
  std::snprintf(text, sizeof text, "%u", drive->sectorsPerCluster);
  ui.SetRowText(list, n, 6, text);
  const double share = drive->allocUnits == 0
                           ? 0.0
                           : static_cast<double>(drive->freeUnits) /
                                 static_cast<double>(drive->allocUnits);
  std::snprintf(text, sizeof text, "%% %.02f", share * 100.0);
  ui.SetRowText(list, n, 7, text);
  // The used space has always been computed from the share rounded to single
  // precision; keep that so the figures match what users know.
  const float rounded = static_cast<float>(share);
  std::snprintf(text, sizeof text, "%.02f GB", (1.0 - rounded) * gib);
  ui.SetRowText(list, n, 8, text);
}

int DriveRowOf(const AppState& app, const LOGDRIVE_INFO* drive) {
  for (int row = 0; row < app.ui->RowCount(app.driveList); ++row)
    if (app.ui->RowData(app.driveList, row) == drive) return row;
  return -1;
}

std::uint32_t DriveRowColour(CustomDrawRecord* record) {
  switch (record->stage) {
    case DrawStage::Prepaint:
      return CDRF_NOTIFYITEMDRAW;
    case DrawStage::ItemPrepaint:
      return CDRF_NOTIFYSUBITEMDRAW;
    case DrawStage::SubItemPrepaint: {
      const auto* drive = static_cast<const LOGDRIVE_INFO*>(record->itemData);
      if (drive != nullptr && drive->needsPermission) record->SetTextColour(kGreyed);
      else if (record->subItem == 7) record->SetTextColour({0, 190, 0});
      else if (record->subItem == 8) record->SetTextColour({190, 0, 0});
      else record->SetTextColour({135, 7, 143});
      return CDRF_NEWFONT;
    }
    case DrawStage::Other:
      break;
  }
  return CDRF_DODEFAULT;
}

}  // namespace tsn
