// The main window as a whole: title, toolbar, the modal loop and its end,
// layout on resizing, mouse messages of the bare surface and the splitter,
// the pump, timers, the progress bar, the sources a user brings ("Open
// image", Ctrl+O, a drop) and a scan that keeps the window alive.
#include <QDropEvent>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QUrl>
#include <QWindow>

#include "qt_test_support.h"

namespace tsn {
namespace {
using namespace qttest;

// Ends a dialog that a failing test would otherwise leave running.
void Guard(QtWindow& w) {
  QTimer::singleShot(10000, &w, [&w] { w.EndDialog(-2); });
}

QRgb Pixel(const QImage& image, int x, int y) { return image.pixel(x, y) & 0xFFFFFFu; }

// Drags data onto the window and drops it there, as the window system
// delivers a drop; whether the window took it.
bool Drop(QWidget* target, QMimeData* data) {
  const QPoint at(300, 300);
  QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  if (!enter.isAccepted()) return false;
  QDropEvent drop(QPointF(at), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
  return drop.isAccepted();
}

bool Logged(const QtWindow& w, const std::string& text) {
  for (int r = 0; r < w.RowCount(kLogList); ++r)
    if (w.RowText(kLogList, r, 1) == text) return true;
  return false;
}

class PaintCounter : public QObject {
 public:
  int paints = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    paints += event->type() == QEvent::Paint;
    return false;
  }
};
}  // namespace

class WindowShellTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;

 private slots:
  // As the program starts: a command posted before the modal loop runs once
  // it runs. The dialog's end, and Exit pressed while idle, end the loop
  // with their codes and take the window with them.
  void runsThePostedBuildAndEndsWithTheDialogOrExit() {
    for (const bool exit : {false, true}) {
      AppState app;
      app.sources.files = {TESSILON_DEMO_IMAGE};
      app.sources.scanDevices = false;  // the machine's own disks differ from one host to the next
      QtWindow window;
      window.PostCommand(kCmdBuildDriveList);
      QString title;
      QTimer poll;
      connect(&poll, &QTimer::timeout, &window, [&] {
        if (app.busy != 0 || window.RowCount(kDriveList) == 0) return;
        poll.stop();
        if (window.isVisible()) title = window.windowTitle();
        if (exit) QTest::mouseClick(window.ToolButtons()[7], Qt::LeftButton);
        else window.EndDialog(kCmdEndDialog);
      });
      poll.start(10);
      Guard(window);
      QCOMPARE(RunMainDialog(&app, &window), exit ? kCmdExit : kCmdEndDialog);
      QCOMPARE(title, QStringLiteral("Tessilon ver 5.03222.05"));
      QCOMPARE(window.RowText(kDriveList, 0, 3), std::string("FAT32"));
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
      QCOMPARE(b->geometry().topLeft(), QPoint(QtWindow::kToolButtonWidth * i, 0));
    }
    QVERIFY(h.window.ToolBar()->height() <= 50);  // clear of the drive list
    const QRect open = h.window.OpenImageButton()->geometry();
    QVERIFY(h.window.OpenImageButton()->isVisible() && open.left() >= 8 * QtWindow::kToolButtonWidth && open.bottom() < 50);
    h.Clear();
    for (QToolButton* b : buttons) QTest::mouseClick(b, Qt::LeftButton);
    const auto commands = [&h] {
      std::vector<int> ids;
      for (const Message& m : h.Of(MessageKind::Command)) ids.push_back(m.id);
      return ids;
    };
    QCOMPARE(commands(), std::vector<int>({5000, 5001, 5002, 5003, 5005, 5004, 5006, 5007}));
    // The keys send the same commands, wherever the focus stands.
    h.window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&h.window));
    h.Clear();
    QWidget* focus[] = {h.window.TreeView(), h.window.ListView(kFileList), h.window.ListView(kDriveList)};
    const std::pair<Qt::Key, Qt::KeyboardModifiers> keys[] = {
        {Qt::Key_F5, Qt::NoModifier}, {Qt::Key_F5, Qt::ShiftModifier}, {Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier},
        {Qt::Key_F1, Qt::NoModifier}, {Qt::Key_P, Qt::ControlModifier},
        {Qt::Key_C, Qt::ControlModifier}};  // no command of its own
    for (std::size_t i = 0; i < std::size(keys); ++i)
      QTest::keyClick(focus[i % std::size(focus)], keys[i].first, keys[i].second);
    QCOMPARE(commands(), std::vector<int>({5001, 5002, 5003, 5005, 5006}));
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
    const Rect tree = w.ControlRect(kFolderTree), files = w.ControlRect(kFileList), log = w.ControlRect(kLogList);
    const Rect bar = w.ControlRect(kProgressBar);
    // The real widgets stand where the layout says; the file list's place
    // holds its filter row, the list and the preview.
    QCOMPARE(w.Control(kFileList)->geometry(), QRect(files.x, files.y, files.width, files.height));
    QVERIFY(w.Control(kFileList)->isAncestorOf(w.ListView(kFileList)));
    QCOMPARE(w.TreeView()->geometry(), QRect(tree.x, tree.y, tree.width, tree.height));
    const int stateColumn = w.ColumnWidth(kFileList, 4);
    QCOMPARE(w.ListView(kFileList)->header()->sectionSize(4), stateColumn);
    // Wider: the lists and the last column grow, the tree and the bar stay.
    w.resize(w.width() + 100, w.height());
    QTRY_COMPARE(w.ControlRect(kFileList).width, files.width + 100);
    QCOMPARE(w.ControlRect(kFolderTree), tree);
    QCOMPARE(w.ControlRect(kLogList).width, log.width + 100);
    QCOMPARE(w.ControlRect(kProgressBar), bar);
    QCOMPARE(w.ColumnWidth(kFileList, 4), stateColumn + 100);
    // Taller: the tree and the file list grow, the lists below move down.
    w.resize(w.width(), w.height() + 60);
    QTRY_COMPARE(w.ControlRect(kFolderTree).height, tree.height + 60);
    QCOMPARE(w.ControlRect(kFileList).height, files.height + 60);
    QCOMPARE(w.ControlRect(kLogList), (Rect{log.x, log.y + 60, log.width + 100, log.height}));
    QCOMPARE(w.ControlRect(kProgressBar).y, bar.y + 60);
  }

  // Only the window's own surface (the gap between tree and file list) sends
  // mouse messages; a press on a control belongs to the control.
  void mouseOnBareSurfaceReachesDialog() {
    QtApp h;
    QVERIFY(h.Show());
    h.Clear();
    QTest::mousePress(&h.window, Qt::LeftButton, {}, QPoint(202, 200));
    QTest::mouseMove(&h.window, QPoint(202, 230));
    QTest::mouseRelease(&h.window, Qt::LeftButton, {}, QPoint(202, 230));
    const auto points = [&h](MessageKind kind) {
      QList<QPoint> out;
      for (const Message& m : h.Of(kind)) out << QPoint(m.point.x, m.point.y);
      return out;
    };
    QCOMPARE(points(MessageKind::LeftButtonDown), QList<QPoint>{QPoint(202, 200)});
    QCOMPARE(points(MessageKind::LeftButtonUp), QList<QPoint>{QPoint(202, 230)});
    h.Clear();
    QTest::mouseClick(h.window.ListView(kLogList)->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseClick(h.window.Control(kFilesText), Qt::LeftButton, {}, QPoint(3, 3));
    QVERIFY(points(MessageKind::LeftButtonDown).empty() && points(MessageKind::LeftButtonUp).empty());
  }

  // The pump finds nothing when nothing waits, however often it is called,
  // and delivers what does; timers fire once, and a killed one never.
  void pumpAndTimersDeliverOnlyWhatWaits() {
    QtApp h;
    h.forward = false;
    QVERIFY(h.Show());
    QTest::qWait(50);  // first paints and exposure done
    h.Clear();
    for (int i = 0; i < 100000; ++i) QVERIFY(!h.window.PumpOneMessage());
    QVERIFY(h.seen.empty());
    h.window.PostCommand(kCmdConfigure);
    bool pumped = false;
    QElapsedTimer clock;
    clock.start();
    while (h.Of(MessageKind::Command).empty() && clock.elapsed() < 5000) pumped = h.window.PumpOneMessage();
    QCOMPARE(static_cast<int>(h.Of(MessageKind::Command).size()), 1);
    QCOMPARE(h.Of(MessageKind::Command).front().id, kCmdConfigure);
    QVERIFY(pumped);  // the call that delivered it says so
    h.window.SetTimer(kTimerListCheck, 30);
    h.window.KillTimer(kTimerListCheck);
    h.window.SetTimer(kTimerTreeCheck, 10);
    h.window.SetTimer(kTimerTreeCheck, 10);  // set again while pending: still one
    QTRY_VERIFY(!h.Of(MessageKind::Timer).empty());
    QTest::qWait(100);
    QCOMPARE(static_cast<int>(h.Of(MessageKind::Timer).size()), 1);
    QCOMPARE(h.Of(MessageKind::Timer).front().id, kTimerTreeCheck);
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

  // The splitter with mouse events through the window system, as a user's
  // arrive: the capture, the implicit grab of the press and the controls
  // under the pointer all take part.
  void splitterDragMovesTheStripedBarAndTheDropLaysTheWindowOut() {
    QtApp h;
    QVERIFY(h.Show());
    QtWindow& w = h.window;
    QWindow* win = w.windowHandle();
    int row = 0;
    w.InsertRow(kFileList, 0, "a file with a long name to paint over.txt", 6, &row);
    const Rect tree = w.ControlRect(kFolderTree);
    const int y = tree.y + 8;  // on the file list's first row, beside the gap
    QTest::mouseMove(win, QPoint(202, y + 100));
    QTRY_COMPARE(w.cursor().shape(), Qt::SizeHorCursor);
    QTest::mouseMove(win, QPoint(5, y + 100));  // the bare margin left of the tree
    QTRY_COMPARE(w.cursor().shape(), Qt::ArrowCursor);

    QTest::mousePress(win, Qt::LeftButton, {}, QPoint(202, y));
    QCOMPARE(h.app.splitDragging, 1u);
    QCOMPARE(QWidget::mouseGrabber(), static_cast<QWidget*>(&w));
    QCOMPARE(w.InvertedBars(), std::vector<Rect>({{202, tree.y, 4, tree.height}}));
    // Over the file list the moves still come to the window.
    QTest::mouseMove(win, QPoint(400, y));
    QCOMPARE(w.InvertedBars(), std::vector<Rect>({{400, tree.y, 4, tree.height}}));
    const QImage withBar = w.grab().toImage();
    QTest::mouseMove(win, QPoint(500, y + 90));  // straight down too: the bar follows across only
    QCOMPARE(w.InvertedBars(), std::vector<Rect>({{500, tree.y, 4, tree.height}}));
    const QImage without = w.grab().toImage();
    // Where the bar stood, the second and fourth columns are inverted and
    // the first and third untouched, from its top to its bottom.
    for (int py = tree.y; py < tree.Bottom(); py += 7)
      for (int x = 400; x < 404; ++x)
        QCOMPARE(Pixel(withBar, x, py), x % 2 == 0 ? Pixel(without, x, py) : ~Pixel(without, x, py) & 0xFFFFFFu);
    QCOMPARE(Pixel(withBar, 401, tree.y - 2), Pixel(without, 401, tree.y - 2));

    QTest::mouseRelease(win, Qt::LeftButton, {}, QPoint(500, y + 90));
    QCOMPARE(h.app.splitDragging, 0u);
    QCOMPARE(h.app.treeWidth, 490);
    QCOMPARE(w.TreeView()->geometry(), QRect(10, tree.y, 500, tree.height));
    QCOMPARE(w.Control(kFileList)->geometry().x(), 514);
    QCOMPARE(w.Control(kFileList)->geometry().right(), w.width() - 11);
    QVERIFY(w.InvertedBars().empty() && w.findChildren<QWidget*>(QStringLiteral("splitBar")).isEmpty());
    QCOMPARE(QWidget::mouseGrabber(), nullptr);

    // The new gap is the splitter now; a press on the old one is a press on
    // the tree, which the window never hears of.
    h.Clear();
    QTest::mouseClick(win, Qt::LeftButton, {}, QPoint(202, y + 200));
    QVERIFY(h.Of(MessageKind::LeftButtonDown).empty());
    QCOMPARE(h.app.splitDragging, 0u);
    // Past the window's edge the bar is clipped, then gone, and the drop there refused.
    QTest::mousePress(win, Qt::LeftButton, {}, QPoint(512, y));
    QTest::mouseMove(win, QPoint(w.width() - 2, y));
    const auto bars = w.findChildren<QWidget*>(QStringLiteral("splitBar"));
    QCOMPARE(bars.size(), 1);
    QCOMPARE(bars.front()->width(), 2);
    QTest::mouseMove(win, QPoint(w.width() + 50, y));
    QVERIFY(w.findChildren<QWidget*>(QStringLiteral("splitBar")).isEmpty());
    QTest::mouseRelease(win, Qt::LeftButton, {}, QPoint(w.width() + 50, y));
    QCOMPARE(h.app.treeWidth, 490);
    QVERIFY(w.InvertedBars().empty());
  }

  // Examiners hold E01s and virtual disks: "Open image" (the button, or
  // Ctrl+O) offers them beside raw images, and one chosen joins the drive
  // list as a raw image does; cancelled, it changes nothing.
  void openImageAddsTheChosenFileToTheDriveList() {
    const QString e01 = dir_.filePath(QStringLiteral("demo.E01"));
    const struct {
      QString image;  // empty: cancelled
      bool byKey;
    } cases[] = {{QString(), true}, {QStringLiteral(TESSILON_DEMO_IMAGE), false}, {e01, true}};
    for (const auto& c : cases) {
      if (c.image == e01 && RunBash(QStringLiteral("ewfacquire -u -q -c deflate:fast -t '%1' '%2' >/dev/null 2>&1 && echo ok")
                                        .arg(dir_.filePath(QStringLiteral("demo")), QStringLiteral(TESSILON_DEMO_IMAGE)))
                                .isNull())
        QSKIP("ewfacquire could not make an E01 here");
      QtApp h;
      h.app.sources.scanDevices = false;
      QVERIFY(h.Show());
      h.window.activateWindow();
      FileDialogSeen seen;
      const WhenModal answer(c.image.isEmpty() ? std::function<void(QWidget*)>([&seen](QWidget* modal) {
        seen.title = modal->windowTitle();
        static_cast<QDialog*>(modal)->reject();
      }) : TypeIntoFileDialog(c.image, &seen));
      if (c.byKey) QTest::keyClick(&h.window, Qt::Key_O, Qt::ControlModifier);
      else QTest::mouseClick(h.window.OpenImageButton(), Qt::LeftButton);
      QTRY_COMPARE(seen.title, QStringLiteral("Open image"));
      if (c.image.isEmpty()) {
        QVERIFY(h.app.sources.files.empty());
        QCOMPARE(h.window.RowCount(kDriveList), 0);
        continue;
      }
      QVERIFY(seen.nameField);
      QCOMPARE(seen.nameFilters.size(), 2);
      for (const char* pattern : {"*.E01", "*.vhd", "*.vhdx", "*.vmdk", "*.qcow2", "*.001"})
        QVERIFY2(seen.nameFilters[0].contains(QString::fromLatin1(pattern)), pattern);
      QCOMPARE(seen.nameFilters[1], QStringLiteral("All files (*)"));
      QCOMPARE(h.app.sources.files, std::vector<std::string>{QFile::encodeName(c.image).toStdString()});
      QCOMPARE(h.window.RowCount(kDriveList), 1);
      QCOMPARE(h.window.RowText(kDriveList, 0, 3), std::string("FAT32"));
    }
  }

  void droppedImageFilesJoinTheDriveList() {
    QtApp h;
    h.app.sources.scanDevices = false;
    QVERIFY(h.Show());
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QStringLiteral(TESSILON_DEMO_IMAGE))});
    QVERIFY(Drop(&h.window, &files));
    // The drop is answered first; the drive list is built right after.
    QTRY_COMPARE(h.window.RowCount(kDriveList), 1);
    QCOMPARE(h.app.sources.files, std::vector<std::string>{TESSILON_DEMO_IMAGE});
    // Text, a web address or a folder is no image file: refused.
    QMimeData text, remote, folder;
    text.setText(QStringLiteral("/etc/hostname"));
    remote.setUrls({QUrl(QStringLiteral("https://example.org/disk.img"))});
    folder.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp"))});
    for (QMimeData* refused : {&text, &remote, &folder}) QVERIFY(!Drop(&h.window, refused));
    QCOMPARE(h.app.sources.files.size(), std::size_t{1});
  }

  // The status strip repaints while a quick scan runs, and Exit, pressed on
  // the toolbar mid-scan, stops it and leaves the window running.
  void exitStopsAQuickScanAndTheWindowPaintsMeanwhile() {
    // 512-byte clusters: the quick scan would read some two million of them.
    const QString image = dir_.filePath(QStringLiteral("big.img"));
    QVERIFY(!RunBash(QStringLiteral("set -e; truncate -s 1G '%1'; mkfs.fat -F 32 -s 1 -n BIG '%1' >/dev/null; echo done")
                         .arg(image))
                 .isNull());
    QtApp h;
    QCOMPARE(h.ListImages({image}), 1);
    h.window.SetRowSelected(kDriveList, 0, true);
    SelectCurrentDrive(&h.app);
    PaintCounter counter;
    auto* status = qobject_cast<QLabel*>(h.window.Control(kDirsText));  // "CLUSTER: n" as the scan goes
    status->installEventFilter(&counter);
    // Exit is pressed from the event loop once the scan is well under way,
    // as a user's click arrives: through a pump of the scan. What the label
    // itself holds: the text reaches the screen, not only the window's record.
    std::string shownWhenPressed;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &h.window, [&] {
      const std::string shown = status->text().toStdString();
      if (h.app.busy != 1 || shown.rfind("CLUSTER: ", 0) != 0 || counter.paints < 3) return;
      poll.stop();
      shownWhenPressed = shown;
      QTest::mouseClick(h.window.ToolButtons()[7], Qt::LeftButton);
    });
    poll.start(10);
    QTest::mouseClick(h.window.ToolButtons()[2], Qt::LeftButton);  // returns when the scan ends
    QVERIFY2(shownWhenPressed.rfind("CLUSTER: ", 0) == 0, shownWhenPressed.c_str());
    QCOMPARE(h.app.busy, 0u);
    QVERIFY(Logged(h.window, "Current function interrupted by user."));
    QVERIFY(Logged(h.window, "File system scan interrupted."));
    QVERIFY(!Logged(h.window, "File system scan complete."));
    QVERIFY(h.window.isVisible());  // Exit during a scan does not end the program
    QTRY_COMPARE(status->text().toStdString(), h.window.Text(kDirsText));
  }
};

}  // namespace tsn

TSN_QT_TEST_MAIN(tsn::WindowShellTest)
#include "window_shell_test.moc"
