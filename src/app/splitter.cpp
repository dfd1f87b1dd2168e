#include "app/splitter.h"

#include "app/app_state.h"
#include "app/layout.h"

namespace tsn {

namespace {
constexpr int kBarWidth = 4;
// Neither pane may be dropped narrower than this.
constexpr int kMinimumPane = 50;
}  // namespace

const BarPattern& SplitBarPattern() {
  static const BarPattern kPattern{{0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55,
                                    0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
  return kPattern;
}

int SplitterHitTest(AppState* app, Point p) {
  const Rect tree = app->ui->ControlRect(app->folderTree);
  const Rect list = app->ui->ControlRect(app->fileList);
  // Right() and Bottom() are the first pixel outside, as window rectangles
  // give them: with the tree from 10 to 200 and the list from 204 the gap
  // that hits is 201 to 203.
  return (tree.Right() < p.x && p.x < list.x && tree.y < p.y && p.y < list.Bottom()) ? 1 : 0;
}

void PlaceSplitBar(AppState* app, Point p) {
  const Rect tree = app->ui->ControlRect(app->folderTree);
  app->splitBar = {p.x, tree.y, kBarWidth, tree.height};
}

void DrawSplitBar(AppState* app, Rect bar) { app->ui->InvertPattern(bar, SplitBarPattern()); }

void SplitterMouseMove(AppState* app, Point p) {
  if (app->splitDragging == 1) {
    if (p.x == app->splitBarDrawn.x) return;  // only a change of x moves the bar
    DrawSplitBar(app, app->splitBarDrawn);
    PlaceSplitBar(app, p);
    DrawSplitBar(app, app->splitBar);
    app->splitBarDrawn = app->splitBar;
    return;
  }
  app->ui->SetPointerShape(SplitterHitTest(app, p) ? PointerShape::SizeWestEast
                                                    : PointerShape::Arrow);
}

int SplitterButtonDown(AppState* app, Point p) {
  if (app->splitDragging == 1) return 0;
  if (!SplitterHitTest(app, p)) return 1;
  app->ui->SetPointerShape(PointerShape::SizeWestEast);
  app->splitDragging = 1;
  PlaceSplitBar(app, p);
  DrawSplitBar(app, app->splitBar);
  app->splitBarDrawn = app->splitBar;
  app->ui->CaptureMouse();
  return 1;
}

int SplitterButtonUp(AppState* app, Point p) {
  if (app->splitDragging == 0) return 0;
  DrawSplitBar(app, app->splitBar);  // the rectangle drawn last
  ApplySplit(app, p);
  app->ui->ReleaseMouse();
  app->splitDragging = 0;
  return 1;
}

int ApplySplit(AppState* app, Point p) {
  const int treeLeft = app->ui->ControlRect(app->folderTree).x;
  const int listRight = app->ui->ControlRect(app->fileList).Right();
  if (p.x < treeLeft + kMinimumPane) return 0;
  if (p.x > listRight - kMinimumPane) return 0;
  app->treeWidth = p.x - treeLeft;
  app->ui->RememberValue("treeWidth", app->treeWidth);
  LayoutControls(app);
  return 1;
}

}  // namespace tsn
