// The splitter between the folder tree and the file list, through the main
// dialog's own mouse messages: where a press starts a drag, what the bar
// does while the pointer moves, and where a drop puts the tree's edge.
#include <gtest/gtest.h>

#include "app/main_dialog.h"
#include "test_support.h"
#include "ui/splitter.h"

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
  // Halfway down the gap; the tree starts at P + 54 = 138.
  int y = 0;
  void SetUp() override { y = h.ui.ControlRect(kFolderTree).y + 100; }
  void Down(int x, int at = -1) { MainDialogProc(&h.app, Mouse(MessageKind::LeftButtonDown, x, at < 0 ? y : at)); }
  void Move(int x, int at = -1) { MainDialogProc(&h.app, Mouse(MessageKind::MouseMove, x, at < 0 ? y : at)); }
  void Up(int x, int at = -1) { MainDialogProc(&h.app, Mouse(MessageKind::LeftButtonUp, x, at < 0 ? y : at)); }
  Rect Tree() const { return h.ui.ControlRect(kFolderTree); }
  Rect Files() const { return h.ui.ControlRect(kFileList); }
};

TEST_F(Splitter, PressesStartADragOnlyInsideTheGap) {
  ASSERT_EQ(h.app.treeWidth, 180);
  ASSERT_EQ(Tree().Right(), 200);
  ASSERT_EQ(Files().x, 204);
  for (int x : {201, 202, 203}) {
    HeadlessApp fresh;
    EXPECT_EQ(SplitterButtonDown(&fresh.app, {x, y}), 1);
    EXPECT_EQ(fresh.app.splitDragging, 1u) << x;
    EXPECT_TRUE(fresh.ui.MouseCaptured()) << x;
    EXPECT_EQ(fresh.ui.Pointer(), PointerShape::SizeWestEast) << x;
    // The bar stands at the pointer's x and spans the tree's height.
    const Rect bar{x, Tree().y, 4, Tree().height};
    EXPECT_EQ(fresh.app.splitBar, bar);
    EXPECT_EQ(fresh.app.splitBarDrawn, bar);
    EXPECT_EQ(fresh.ui.InvertedNow(), std::vector<Rect>{bar});
  }
  for (int x : {200, 204}) {
    HeadlessApp fresh;
    EXPECT_EQ(SplitterButtonDown(&fresh.app, {x, y}), 1);  // a miss is no refusal
    EXPECT_EQ(fresh.app.splitDragging, 0u) << x;
    EXPECT_FALSE(fresh.ui.MouseCaptured()) << x;
    EXPECT_TRUE(fresh.ui.InvertedHistory().empty()) << x;
  }
  // Top and bottom are strict too: the gap lies between the tree's top and
  // the list's bottom edge, both excluded.
  EXPECT_EQ(SplitterHitTest(&h.app, {202, Tree().y}), 0);
  EXPECT_EQ(SplitterHitTest(&h.app, {202, Tree().y + 1}), 1);
  EXPECT_EQ(SplitterHitTest(&h.app, {202, Files().Bottom() - 1}), 1);
  EXPECT_EQ(SplitterHitTest(&h.app, {202, Files().Bottom()}), 0);
  EXPECT_EQ(SplitterHitTest(&h.app, {202, 60}), 0);  // beside the drive list
}

TEST_F(Splitter, ReleaseWhereItWasPressedMovesTheGapTenPixelsRight) {
  Down(202);
  Up(202);
  EXPECT_EQ(h.app.treeWidth, 192);
  EXPECT_EQ(Tree().width, 202);   // the tree grows by 12
  EXPECT_EQ(Files().x, 216);
  EXPECT_EQ(Files().Right(), 1030);  // the list still ends 10 before the edge
  EXPECT_EQ(h.ui.ColumnWidth(kFileList, 4), 1040 - 192 - 536);
  EXPECT_EQ(h.app.splitDragging, 0u);
  EXPECT_FALSE(h.ui.MouseCaptured());
  // Drawn once and erased once: nothing stays on the screen.
  ASSERT_EQ(h.ui.InvertedHistory().size(), 2u);
  EXPECT_EQ(h.ui.InvertedHistory()[0], h.ui.InvertedHistory()[1]);
  EXPECT_TRUE(h.ui.InvertedNow().empty());
}

TEST_F(Splitter, DropsOutsideTheLimitsChangeNothingButEraseTheBar) {
  struct Case {
    int x;
    bool accepted;
    int treeWidth;
  };
  for (const Case c : {Case{59, false, 180}, Case{741, false, 180}, Case{60, true, 50},
                       Case{740, true, 730}}) {
    HeadlessApp w;
    w.ui.SetClientSize({800, 574});
    MainDialogProc(&w.app, Message{MessageKind::Size});
    const Rect treeBefore = w.ui.ControlRect(kFolderTree);
    const Rect filesBefore = w.ui.ControlRect(kFileList);
    const int gapY = treeBefore.y + 50;
    MainDialogProc(&w.app, Mouse(MessageKind::LeftButtonDown, 202, gapY));
    ASSERT_EQ(w.app.splitDragging, 1u);
    MainDialogProc(&w.app, Mouse(MessageKind::MouseMove, c.x, gapY));
    MainDialogProc(&w.app, Mouse(MessageKind::LeftButtonUp, c.x, gapY));
    EXPECT_EQ(w.app.treeWidth, c.treeWidth) << c.x;
    EXPECT_TRUE(w.ui.InvertedNow().empty()) << c.x;
    EXPECT_FALSE(w.ui.MouseCaptured()) << c.x;
    if (c.accepted) {
      EXPECT_EQ(w.ui.ControlRect(kFolderTree).Right(), c.x + 10) << c.x;
      EXPECT_EQ(w.ui.ControlRect(kFileList).x, c.x + 14) << c.x;
    } else {
      EXPECT_EQ(w.ui.ControlRect(kFolderTree), treeBefore) << c.x;
      EXPECT_EQ(w.ui.ControlRect(kFileList), filesBefore) << c.x;
    }
  }
}

TEST_F(Splitter, OnlyAChangeOfXMovesTheBar) {
  Down(202);
  Move(202, y + 40);
  Move(202, y - 30);
  EXPECT_EQ(h.ui.InvertedHistory().size(), 1u);  // straight up and down: nothing redrawn
  Move(260, y + 17);
  // The old bar erased, the new one drawn at the new x, still tree-high.
  ASSERT_EQ(h.ui.InvertedHistory().size(), 3u);
  EXPECT_EQ(h.ui.InvertedHistory()[1], (Rect{202, Tree().y, 4, Tree().height}));
  const Rect moved{260, Tree().y, 4, Tree().height};
  EXPECT_EQ(h.ui.InvertedNow(), std::vector<Rect>{moved});
  EXPECT_EQ(h.app.splitBarDrawn, moved);
  // A second press while dragging is refused and changes nothing.
  EXPECT_EQ(SplitterButtonDown(&h.app, {260, y}), 0);
  EXPECT_EQ(h.ui.InvertedHistory().size(), 3u);
  // Far outside the window, the bar still follows: the mouse is captured.
  Move(5000, y);
  EXPECT_EQ(h.app.splitBarDrawn.x, 5000);
  Move(300, y);
  Up(300);
  EXPECT_EQ(h.app.treeWidth, 290);
  EXPECT_TRUE(h.ui.InvertedNow().empty());
  EXPECT_EQ(SplitterButtonUp(&h.app, {300, y}), 0);  // no drag is running
}

TEST_F(Splitter, AfterADragTheNewGapIsTheSplitterAndTheOldOneIsNot) {
  Down(202);
  Up(302);
  ASSERT_EQ(h.app.treeWidth, 292);
  ASSERT_EQ(Files().x, 316);
  // Idle moves only choose the pointer.
  Move(313);
  EXPECT_EQ(h.ui.Pointer(), PointerShape::SizeWestEast);
  Move(202);
  EXPECT_EQ(h.ui.Pointer(), PointerShape::Arrow);
  EXPECT_EQ(h.ui.InvertedHistory().size(), 2u);
  Down(202);  // where the gap used to be: now inside the tree
  EXPECT_EQ(h.app.splitDragging, 0u);
  EXPECT_EQ(h.ui.Pointer(), PointerShape::Arrow);
  Down(314);
  EXPECT_EQ(h.app.splitDragging, 1u);
  Up(314);
  EXPECT_EQ(h.app.treeWidth, 304);
}

TEST(SplitBar, PatternInvertsTheSecondAndFourthColumnOfEveryRow) {
  const BarPattern& p = SplitBarPattern();
  for (int dy = 0; dy < 16; ++dy) {
    EXPECT_FALSE(p.Inverted(0, dy));
    EXPECT_TRUE(p.Inverted(1, dy));
    EXPECT_FALSE(p.Inverted(2, dy));
    EXPECT_TRUE(p.Inverted(3, dy));
    EXPECT_TRUE(p.Inverted(9, dy));  // the pattern repeats every 8 pixels
  }
}

TEST(SplitterDuringScan, ADropInTheMiddleOfAScanLaysTheWindowOutAndTheScanGoesOn) {
  HeadlessApp h;
  h.app.sources.files = {std::string(TESSILON_BUILD_DIR) + "/demo/demo-fat32.img"};
  h.app.sources.scanDevices = false;
  h.ui.PostCommand(kCmdBuildDriveList);
  h.ui.RunDialog();
  ASSERT_EQ(h.ui.RowCount(kDriveList), 1);
  h.ui.SetRowSelected(kDriveList, 0, true);
  SelectCurrentDrive(&h.app);
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
