// The splitter between the folder tree and the file list, through the main
// dialog's own mouse messages: where a press starts a drag, where a drop
// puts the tree's edge, and a drag in the middle of a scan. The drag as a
// user makes it, bar pixels and all, is in tests/qt/splitter_window_test.cpp.
#include <gtest/gtest.h>

#include "app/main_dialog.h"
#include "test_support.h"
#include "app/splitter.h"

namespace tsn {
namespace {

using test::HeadlessApp;

Message Mouse(MessageKind kind, int x, int y) {
  Message m;
  m.kind = kind;
  m.point = {x, y};
  return m;
}

struct Splitter : ::testing::Test {
  HeadlessApp h;
  int y = 0;  // halfway down the gap
  void SetUp() override { y = h.ui.ControlRect(kFolderTree).y + 100; }
  void Down(int x) { MainDialogProc(&h.app, Mouse(MessageKind::LeftButtonDown, x, y)); }
  void Move(int x) { MainDialogProc(&h.app, Mouse(MessageKind::MouseMove, x, y)); }
  void Up(int x) { MainDialogProc(&h.app, Mouse(MessageKind::LeftButtonUp, x, y)); }
  Rect Tree() const { return h.ui.ControlRect(kFolderTree); }
  Rect Files() const { return h.ui.ControlRect(kFileList); }
};

TEST_F(Splitter, PressesStartADragOnlyInsideTheGap) {
  ASSERT_EQ(Tree().Right(), 200);
  ASSERT_EQ(Files().x, 204);
  for (const int x : {200, 201, 203, 204}) {
    HeadlessApp fresh;
    EXPECT_EQ(SplitterButtonDown(&fresh.app, {x, y}), 1);  // a miss is no refusal
    const bool inside = x > 200 && x < 204;
    EXPECT_EQ(fresh.app.splitDragging, inside ? 1u : 0u) << x;
    EXPECT_EQ(fresh.ui.MouseCaptured(), inside) << x;
    const std::vector<Rect> bar = inside ? std::vector<Rect>{Rect{x, Tree().y, 4, Tree().height}} : std::vector<Rect>{};
    EXPECT_EQ(fresh.ui.InvertedNow(), bar) << x;
  }
  // Top and bottom are strict too: the gap lies between the tree's top and
  // the list's bottom edge, both excluded.
  EXPECT_EQ(SplitterHitTest(&h.app, {202, Tree().y}), 0);
  EXPECT_EQ(SplitterHitTest(&h.app, {202, Tree().y + 1}), 1);
  EXPECT_EQ(SplitterHitTest(&h.app, {202, Files().Bottom() - 1}), 1);
  EXPECT_EQ(SplitterHitTest(&h.app, {202, Files().Bottom()}), 0);
}

// Where a drop puts the tree's edge, on a window 800 wide: dropped where it
// was pressed the gap moves ten pixels right; dropped beyond either limit
// nothing moves. Either way the bar is drawn and erased as often, and the
// mouse is let go.
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
    EXPECT_EQ(w.ui.InvertedHistory().size() % 2, 0u);
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

TEST_F(Splitter, WhileDraggingASecondPressIsRefusedAndThePointerIsFollowedAnywhere) {
  Down(202);
  Move(260);
  EXPECT_EQ(SplitterButtonDown(&h.app, {260, y}), 0);
  EXPECT_EQ(h.ui.InvertedHistory().size(), 3u);  // drawn, erased, drawn again
  Move(5000);  // far outside the window: the mouse is captured
  EXPECT_EQ(h.app.splitBarDrawn.x, 5000);
  Move(300);
  Up(300);
  EXPECT_EQ(h.app.treeWidth, 290);
  EXPECT_TRUE(h.ui.InvertedNow().empty());
  EXPECT_EQ(SplitterButtonUp(&h.app, {300, y}), 0);  // no drag is running
}

TEST(SplitterDuringScan, ADropInTheMiddleOfAScanLaysTheWindowOutAndTheScanGoesOn) {
  HeadlessApp h;
  h.OpenImages({std::string(TESSILON_BUILD_DIR) + "/demo/demo-fat32.img"});
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
