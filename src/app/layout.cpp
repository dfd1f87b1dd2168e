#include "app/layout.h"

#include <algorithm>

#include "app/app_state.h"

namespace tsn {

void LayoutControls(AppState* app) {
  WindowSystem& ui = *app->ui;
  const Point client = ui.ClientSize();
  const int W = client.x, H = client.y;
  const int P = app->driveListHeight, T = app->treeWidth, L = app->logListHeight;
  ui.MoveControl(app->driveList, {10, 50, W - 20, P});
  ui.MoveControl(app->spareList, {10, 50, W - 20, P});
  ui.MoveControl(app->folderTree, {10, P + 54, T + 10, H - P - L - 80});
  ui.MoveControl(app->fileList, {T + 24, P + 54, W - T - 34, H - P - L - 80});
  ui.MoveControl(app->logList, {10, H - L - 22, W - 20, L});
  ui.MoveControl(app->progressBar, {180, H - 18, 230, 14});
  ui.MoveControl(app->dirsText, {410, H - 18, 100, 14});
  ui.MoveControl(app->filesText, {510, H - 18, W - 520, 14});
  ui.MoveControl(app->sizeText, {10, H - 18, 110, 14});
  ui.MoveControl(app->clockText, {120, H - 18, 60, 14});
  ui.SetColumnWidth(app->logList, 1, W - 142);
  ui.MoveControl(app->sourcesText, {440, 12, W - 450, 20});
  // "Active" keeps its width; where each drive comes from takes the rest.
  ui.SetColumnWidth(app->driveList, 9, std::max(W - 532, 120));
  ui.SetColumnWidth(app->spareList, 2, W - 644);
  ui.SetColumnWidth(app->fileList, 4, W - T - 536);
}

}  // namespace tsn
