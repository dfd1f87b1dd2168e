// The splitter between the folder tree and the file list, through the main
// dialog's own mouse messages: the gap's exact edges, where a drop puts the
// tree's edge, and a drag in the middle of a scan. The drag as a user makes
// it, bar pixels, capture and all, is in tests/qt/window_test.cpp.

#include "app/main_dialog.h"
#include "test_support.h"

namespace tsn {
namespace {

using test::HeadlessApp;

Message Mouse(MessageKind kind, int x, int y) { return Message{.kind = kind, .point = {x, y}}; }

// The gap lies strictly between the tree's right edge (200) and the list's
// left edge (204), and strictly between the tree's top and the list's bottom.
TEST(Splitter, APressStartsADragOnlyStrictlyInsideTheGap) {
  const HeadlessApp layout;
  const int top = layout.ui.ControlRect(kFolderTree).y, bottom = layout.ui.ControlRect(kFileList).Bottom();
  ASSERT_EQ(layout.ui.ControlRect(kFolderTree).Right(), 200);
  ASSERT_EQ(layout.ui.ControlRect(kFileList).x, 204);
  const struct {
    int x, y;
    bool drags;
  } cases[] = {{200, top + 100, false},     {201, top + 100, true}, {203, top + 100, true},
               {204, top + 100, false},     {202, top, false},      {202, top + 1, true},
               {202, bottom - 1, true},     {202, bottom, false}};
  for (const auto& c : cases) {
    HeadlessApp h;
    MainDialogProc(&h.app, Mouse(MessageKind::LeftButtonDown, c.x, c.y));
    EXPECT_EQ(h.app.splitDragging, c.drags ? 1u : 0u) << c.x << "," << c.y;
    EXPECT_EQ(h.ui.MouseCaptured(), c.drags) << c.x << "," << c.y;
  }
}

// Where a drop puts the tree's edge, on a window 800 wide: dropped where it
// was pressed the gap moves ten pixels right; dropped beyond either limit
// nothing moves. Either way the bar is erased and the mouse is let go.
TEST(SplitterDrop, PutsTheTreesEdgeWhereItFallsWithinTheLimits) {
  struct Case {
    int x;
    bool accepted;
    int treeWidth;
  };
  for (const Case c : {Case{202, true, 192}, Case{59, false, 180}, Case{741, false, 180}, Case{60, true, 50},
                       Case{740, true, 730}}) {
    SCOPED_TRACE(c.x);
    HeadlessApp w;
    w.ui.SetClientSize({800, 574});
    MainDialogProc(&w.app, Message{MessageKind::Size});
    const Rect treeBefore = w.ui.ControlRect(kFolderTree);
    const Rect filesBefore = w.ui.ControlRect(kFileList);
    const int gapY = treeBefore.y + 50;
    MainDialogProc(&w.app, Mouse(MessageKind::LeftButtonDown, 202, gapY));
    ASSERT_EQ(w.app.splitDragging, 1u);
    if (c.x != 202) MainDialogProc(&w.app, Mouse(MessageKind::MouseMove, c.x, gapY));
    MainDialogProc(&w.app, Mouse(MessageKind::LeftButtonUp, c.x, gapY));
    EXPECT_EQ(w.app.treeWidth, c.treeWidth);
    EXPECT_TRUE(w.ui.InvertedNow().empty());
    EXPECT_FALSE(w.ui.MouseCaptured());
    if (c.accepted) {
      EXPECT_EQ(w.ui.ControlRect(kFolderTree).Right(), c.x + 10);
      EXPECT_EQ(w.ui.ControlRect(kFileList).x, c.x + 14);
      EXPECT_EQ(w.ui.ControlRect(kFileList).Right(), 790);  // the list still ends 10 before the edge
      EXPECT_EQ(w.ui.ColumnWidth(kFileList, 4), 800 - c.treeWidth - 536);
    } else {
      EXPECT_EQ(w.ui.ControlRect(kFolderTree), treeBefore);
      EXPECT_EQ(w.ui.ControlRect(kFileList), filesBefore);
    }
  }
}

const std::string kDemo = std::string(TESSILON_BUILD_DIR) + "/demo/demo-fat32.img";

TEST(SplitterDuringScan, ADropInTheMiddleOfAScanLaysTheWindowOutAndTheScanGoesOn) {
  HeadlessApp h;
  h.OpenImages({kDemo});
  ASSERT_EQ(h.ui.RowCount(kDriveList), 1);
  const int gapY = h.ui.ControlRect(kFolderTree).y + 20;
  // Pressed, dragged and dropped between units of the quick scan.
  h.ui.Post(Mouse(MessageKind::LeftButtonDown, 202, gapY), 50);
  h.ui.Post(Mouse(MessageKind::MouseMove, 340, gapY), 10);
  h.ui.Post(Mouse(MessageKind::LeftButtonUp, 340, gapY), 10);
  BuildFileListOnly(&h.app);
  EXPECT_EQ(h.app.lastScanResult, 1);
  EXPECT_EQ(h.app.treeWidth, 330);
  EXPECT_EQ(h.ui.ControlRect(kFileList).x, 354);
  EXPECT_TRUE(h.ui.InvertedNow().empty());
}

}  // namespace
}  // namespace tsn
