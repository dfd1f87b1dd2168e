#pragma once
// The splitter between the folder tree and the file list: the main window's
// own mouse messages drag a striped bar across the gap, and the drop gives
// the tree its new width. Points are client coordinates of the main window.
#include "ui/window_system.h"

namespace tsn {

struct AppState;

// Vertical stripes one pixel wide: every row reads 0, 1, 0, 1, ... from the left.
const BarPattern& SplitBarPattern();

void SplitterMouseMove(AppState* app, Point point);
// 0 when a drag is already running, else 1.
int SplitterButtonDown(AppState* app, Point point);
// 1 when it ended a drag, 0 when none was running.
int SplitterButtonUp(AppState* app, Point point);
// 1 when the point lies strictly inside the gap between tree and file list.
int SplitterHitTest(AppState* app, Point point);
// The bar for the point: the point's x, the tree's top and height, 4 wide.
void PlaceSplitBar(AppState* app, Point point);
void DrawSplitBar(AppState* app, Rect bar);
// 1 when the drop lies within the limits and the window was laid out again.
int ApplySplit(AppState* app, Point point);

}  // namespace tsn
