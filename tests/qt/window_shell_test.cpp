// The main window as a whole: title, toolbar, the modal loop and its end,
// layout on resizing, mouse messages of the bare surface, the pump, timers
// and the progress bar.
#include <QElapsedTimer>
#include <QHeaderView>
#include <QProgressBar>

#include "qt_test_support.h"

namespace tsn {
namespace {
using qttest::QtApp;

// Ends a dialog that a failing test would otherwise leave running.
void Guard(QtWindow& w) {
  QTimer::singleShot(10000, &w, [&w] { w.EndDialog(-2); });
}
}  // namespace

class WindowShellTest : public QObject {
  Q_OBJECT

 private slots:
  // The dialog's end, and Exit pressed while idle, end the modal loop with
  // their codes and take the window with them.
  void opensWithTitleAndEndsWithTheDialogOrExit() {
    for (const bool exit : {false, true}) {
      AppState app;
      QtWindow window;
      bool visible = false;
      QString title;
      QTimer::singleShot(0, &window, [&] {
        visible = window.isVisible();
        title = window.windowTitle();
        if (exit) QTest::mouseClick(window.ToolButtons()[7], Qt::LeftButton);
        else window.EndDialog(kCmdEndDialog);
      });
      Guard(window);
      QCOMPARE(RunMainDialog(&app, &window), exit ? kCmdExit : kCmdEndDialog);
      QVERIFY(visible);
      QCOMPARE(title, QStringLiteral("Tessilon ver 5.03222.05"));
      QVERIFY(!window.isVisible());
    }
  }

  void toolbarHasEightButtonsThatSendTheirCommands() {
    QtApp h;
    h.forward = false;  // the commands themselves are the dialog's business
    QVERIFY(h.Show());
    // Each button's text, and after it the key that does the same.
    const QStringList expected = {"Build Drive List", "Build Indexed File List (F5)",
                                  "Build File List ONLY! (Shift+F5)", "Copy files (Ctrl+Shift+C)",
                                  "Help (F1)", "Configure", "Print (Ctrl+P)", "Exit"};
    const auto& buttons = h.window.ToolButtons();
    QCOMPARE(static_cast<int>(buttons.size()), 8);
    for (int i = 0; i < 8; ++i) {
      QToolButton* b = buttons[static_cast<std::size_t>(i)];
      QCOMPARE(b->toolTip(), expected[i]);
      QVERIFY(b->isVisible() && b->isEnabled() && !b->icon().isNull());
      QCOMPARE(b->geometry().topLeft(), QPoint(38 * i, 0));  // left to right, 38 pixels a tool
    }
    QVERIFY(h.window.ToolBar()->height() <= 50);  // clear of the drive list
    QToolButton* open = h.window.OpenImageButton();
    QVERIFY(open->isVisible());
    QVERIFY(open->geometry().left() >= 8 * QtWindow::kToolButtonWidth);
    QVERIFY(open->geometry().bottom() < 50);
    h.Clear();
    for (QToolButton* b : buttons) QTest::mouseClick(b, Qt::LeftButton);
    std::vector<int> commands;
    for (const Message& m : h.Of(MessageKind::Command)) commands.push_back(m.id);
    QCOMPARE(commands, std::vector<int>({5000, 5001, 5002, 5003, 5005, 5004, 5006, 5007}));
    // The keys send the same commands, wherever the focus stands.
    h.window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&h.window));
    h.Clear();
    QWidget* focus[] = {h.window.TreeView(), h.window.ListView(kFileList), h.window.ListView(kDriveList)};
    const struct {
      Qt::Key key;
      Qt::KeyboardModifiers modifiers;
    } keys[] = {{Qt::Key_F5, Qt::NoModifier},
                {Qt::Key_F5, Qt::ShiftModifier},
                {Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier},
                {Qt::Key_F1, Qt::NoModifier},
                {Qt::Key_P, Qt::ControlModifier},
                {Qt::Key_C, Qt::ControlModifier}};  // no command of its own
    for (std::size_t i = 0; i < std::size(keys); ++i)
      QTest::keyClick(focus[i % std::size(focus)], keys[i].key, keys[i].modifiers);
    commands.clear();
    for (const Message& m : h.Of(MessageKind::Command)) commands.push_back(m.id);
    QCOMPARE(commands, std::vector<int>({5001, 5002, 5003, 5005, 5006}));
  }

  void closeRequestIsTheDialogsDecision() {
    QtApp h;
    QVERIFY(h.Show());
    // While an operation runs the close request is ignored: the window stays.
    h.app.busy = 1;
    h.Clear();
    h.window.close();
    QCOMPARE(static_cast<int>(h.Of(MessageKind::SysCommand).size()), 1);
    QCOMPARE(h.Of(MessageKind::SysCommand).front().id, kScClose);
    QVERIFY(h.window.isVisible());
    // Idle, it ends the dialog with the close code.
    h.app.busy = 0;
    QTimer::singleShot(0, &h.window, [&] { h.window.close(); });
    Guard(h.window);
    QCOMPARE(h.window.RunDialog(), kScClose);
  }

  void layoutFollowsWindowSize() {
    QtApp h;
    QVERIFY(h.Show());
    QtWindow& w = h.window;
    QCOMPARE(w.ClientSize().x, 1040);
    const Rect tree = w.ControlRect(kFolderTree), files = w.ControlRect(kFileList);
    const Rect drives = w.ControlRect(kDriveList), log = w.ControlRect(kLogList);
    const Rect bar = w.ControlRect(kProgressBar);
    QCOMPARE(tree.width, 190);
    QCOMPARE(files.x, 204);  // the splitter's gap of 4 after the tree
    QCOMPARE(drives.y, 50);
    QCOMPARE(drives.height, 84);
    // The real widgets stand where the layout says.
    // The file list's place holds its filter row, the list and the preview.
    QCOMPARE(w.Control(kFileList)->geometry(), QRect(files.x, files.y, files.width, files.height));
    QVERIFY(w.Control(kFileList)->isAncestorOf(w.ListView(kFileList)));
    QCOMPARE(w.TreeView()->geometry(), QRect(tree.x, tree.y, tree.width, tree.height));
    const int stateColumn = w.ColumnWidth(kFileList, 4);
    QCOMPARE(w.ListView(kFileList)->header()->sectionSize(4), stateColumn);
    // Wider: the lists and the last column grow, the tree and the bar stay.
    w.resize(1140, 574);
    QTRY_COMPARE(w.ControlRect(kFileList).width, files.width + 100);
    QCOMPARE(w.ControlRect(kFolderTree), tree);
    QCOMPARE(w.ControlRect(kDriveList).width, drives.width + 100);
    QCOMPARE(w.ControlRect(kLogList).width, log.width + 100);
    QCOMPARE(w.ControlRect(kProgressBar), bar);
    QCOMPARE(w.ColumnWidth(kFileList, 4), stateColumn + 100);
    // Taller: the tree and the file list grow, the lists below move down.
    w.resize(1140, 634);
    QTRY_COMPARE(w.ControlRect(kFolderTree).height, tree.height + 60);
    QCOMPARE(w.ControlRect(kFileList).height, files.height + 60);
    QCOMPARE(w.ControlRect(kLogList).y, log.y + 60);
    QCOMPARE(w.ControlRect(kLogList).height, 84);
    QCOMPARE(w.ControlRect(kProgressBar).y, bar.y + 60);
  }

  void mouseOnBareSurfaceReachesDialog() {
    QtApp h;
    QVERIFY(h.Show());
    h.Clear();
    // The gap between tree and file list is the window's own surface.
    QTest::mousePress(&h.window, Qt::LeftButton, {}, QPoint(202, 200));
    QTest::mouseMove(&h.window, QPoint(202, 230));
    QTest::mouseRelease(&h.window, Qt::LeftButton, {}, QPoint(202, 230));
    const auto down = h.Of(MessageKind::LeftButtonDown);
    const auto up = h.Of(MessageKind::LeftButtonUp);
    QCOMPARE(static_cast<int>(down.size()), 1);
    QCOMPARE(down.front().point.x, 202);
    QCOMPARE(down.front().point.y, 200);
    QCOMPARE(static_cast<int>(up.size()), 1);
    QCOMPARE(up.front().point.y, 230);
    // A press on a control belongs to the control.
    h.Clear();
    QTest::mouseClick(h.window.ListView(kLogList)->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseClick(h.window.Control(kFilesText), Qt::LeftButton, {}, QPoint(3, 3));
    QVERIFY(h.Of(MessageKind::LeftButtonDown).empty());
    QVERIFY(h.Of(MessageKind::LeftButtonUp).empty());
  }

  void pumpIsQuietWhenNothingWaitsAndDeliversWhatDoes() {
    QtApp h;
    h.forward = false;
    QVERIFY(h.Show());
    QTest::qWait(50);  // first paints and exposure done
    h.Clear();
    for (int i = 0; i < 100000; ++i) QVERIFY(!h.window.PumpOneMessage());
    QTest::qWait(QtWindow::kPumpIntervalMs * 2);
    h.Clear();
    QVERIFY(!h.window.PumpOneMessage());  // this one lets the loop run, and finds nothing
    QVERIFY(h.seen.empty());
    h.window.PostCommand(kCmdConfigure);
    bool pumped = false;
    QElapsedTimer clock;
    clock.start();
    while (h.Of(MessageKind::Command).empty() && clock.elapsed() < 5000) pumped = h.window.PumpOneMessage();
    QCOMPARE(static_cast<int>(h.Of(MessageKind::Command).size()), 1);
    QCOMPARE(h.Of(MessageKind::Command).front().id, kCmdConfigure);
    QVERIFY(pumped);  // the call that delivered it says so
  }

  void timersFireOnceAndRestart() {
    QtApp h;
    h.forward = false;
    auto fired = [&h](int id) {
      int n = 0;
      for (const Message& m : h.Of(MessageKind::Timer)) n += m.id == id;
      return n;
    };
    h.window.SetTimer(kTimerTreeCheck, 10);
    QTRY_COMPARE(fired(kTimerTreeCheck), 1);
    QTest::qWait(60);
    QCOMPARE(fired(kTimerTreeCheck), 1);  // one shot, though nobody killed it
    h.window.SetTimer(kTimerListCheck, 30);
    h.window.KillTimer(kTimerListCheck);
    QTest::qWait(100);
    QCOMPARE(fired(kTimerListCheck), 0);
    // Setting a pending timer again restarts it: a burst gives one firing.
    h.window.SetTimer(kTimerListCheck, 60);
    QTest::qWait(20);
    h.window.SetTimer(kTimerListCheck, 60);
    QTRY_COMPARE(fired(kTimerListCheck), 1);
    QTest::qWait(150);
    QCOMPARE(fired(kTimerListCheck), 1);
  }

  void progressBarFollowsRangeAndSteps() {
    QtApp h;
    QtWindow& w = h.window;
    QProgressBar* bar = w.ProgressBar();
    // A full 32-bit range still shows the right share.
    w.SetProgressRange(0, 4000000000u);
    w.SetProgressPosition(1000000000u);
    QCOMPARE(w.ProgressPosition(), 1000000000u);
    const double share = double(bar->value() - bar->minimum()) / double(bar->maximum() - bar->minimum());
    QVERIFY(share > 0.249 && share < 0.251);
    w.SetProgressRange(100, 120);
    w.SetProgressStep(10);
    w.StepProgress();
    w.StepProgress();
    QCOMPARE(bar->value(), bar->maximum());
    w.StepProgress();  // past the end it starts over
    QCOMPARE(w.ProgressPosition(), 100u);
    QCOMPARE(bar->value(), bar->minimum());
  }
};

}  // namespace tsn

TSN_QT_TEST_MAIN(tsn::WindowShellTest)
#include "window_shell_test.moc"
