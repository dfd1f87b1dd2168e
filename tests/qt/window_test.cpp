// The main window and its views on real widgets, worked as a user works them: mouse, keys and the window system's
// events, on bare rows and on images made with mkfs.fat and mtools.
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QDropEvent>
#include <QGlyphRun>
#include <QHeaderView>
#include <QLabel>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTextLayout>
#include <QUrl>
#include <QWindow>

#include "app/message_log.h"
#include "app/splitter.h"
#include "core/entry_records.h"
#include "qt_test_support.h"
#include "ui/qt/preview_pane.h"
#include "ui/qt/qt_images.h"

namespace tsn {
namespace {
using namespace qttest;

QRgb Pixel(const QImage& image, int x, int y) { return image.pixel(x, y) & 0xFFFFFFu; }

QStringList Lines(const QString& text) { return text.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }

QImage Picture(const QIcon& icon) { return icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32); }

// Drags data onto the window and drops it there, as the window system delivers a drop; whether the window took it.
bool Drop(QWidget* target, QMimeData* data) {
  const QPoint at(300, 300);
  QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  if (!enter.isAccepted()) return false;
  QDropEvent drop(QPointF(at), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
  return drop.isAccepted();
}

struct PaintCounter : QObject {
  int paints = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    paints += event->type() == QEvent::Paint;
    return false;
  }
};

QStringList Shown(ItemView* view, const QModelIndex& parent = {}) {
  QStringList out;
  for (int r = 0; r < view->model()->rowCount(parent); ++r) out << view->model()->index(r, 0, parent).data().toString();
  return out;
}

// A deleted 8.3 name has lost its first letter: the list shows a "d" in its place.
QModelIndex ShownRow(ItemView* view, const QString& name) { return view->model()->index(RowNamed(view, name), 0); }

// What the program holds ticked, whatever the view shows.
QStringList Ticked(const QtWindow& w) {
  QStringList out;
  for (int r = 0; r < w.RowCount(kFileList); ++r)
    if (const auto* f = static_cast<const FoundFile*>(w.RowData(kFileList, r));
        f->checkState == kCheckTicked && w.RowCheck(kFileList, r) == kChecked)
      out << QString::fromUtf8(f->name.data(), static_cast<qsizetype>(f->name.size()));
  return out;
}

void ClickHeader(ItemView* view, int column) {
  QHeaderView* h = view->header();
  QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                    {h->sectionViewportPosition(column) + h->sectionSize(column) / 2, h->height() / 2});
}

// A printed report, as pdftotext reads it: the header on every page, and every deleted file once and in order, on
// pages that hold the same number of rows but the last, so none is lost or repeated at a page break.
void CheckReport(const QString& pdf, const QStringList& names) {
  QStringList pages = Run("pdftotext", {"-layout", pdf, "-"}).split(QLatin1Char('\f'));
  if (!pages.isEmpty() && pages.back().trimmed().isEmpty()) pages.pop_back();
  QVERIFY2(pages.size() > 1, "the report fits no single page");
  QStringList all;
  QList<qsizetype> rows;
  for (const QString& page : pages) {
    const QStringList lines = page.split(QLatin1Char('\n'));
    QVERIFY2(lines.size() > 4 && lines[0].trimmed() == "Tessilon ver 5.03222.05" &&
                 lines[1].trimmed() == "Deleted File Report" && lines[2].trimmed() == "File Name" &&
                 lines[3].contains("Modified Data"),
             qPrintable(page));
    const qsizetype before = all.size();
    for (const QString& line : lines)
      if (names.contains(line.trimmed())) all << line.trimmed();
    rows << all.size() - before;
  }
  QCOMPARE(all, names);
  rows.removeLast();  // the last page may hold fewer
  QCOMPARE(rows, QList<qsizetype>(rows.size(), rows.front()));
}
}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  QString views_, keys_, report_;
  QStringList deleted_;  // the report image's deleted files, in the report's order

 private slots:
  void initTestCase() {
    views_ = dir_.filePath(QStringLiteral("views.img"));
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(QColor(30, 120, 200));
    QVERIFY(picture.save(dir_.filePath(QStringLiteral("photo.jpg")), "JPEG", 90));
    QVERIFY(!RunBash("bash '" TESSILON_SOURCE_DIR "/tests/data/window-images.sh' '" + dir_.path() + "' && echo made")
                 .isNull());
    keys_ = dir_.filePath(QStringLiteral("keys.img"));
    report_ = dir_.filePath(QStringLiteral("report.img"));
    deleted_ = Lines(RunBash("bash '" TESSILON_SOURCE_DIR "/tests/fixtures/make_report_image.sh' '" + report_ + "'"));
    QCOMPARE(deleted_.size(), 60);
  }

  // As the program starts: a command posted before the modal loop runs once it runs. The dialog's end, Exit and a
  // close while idle end the loop with their codes and take the window; while an operation runs a close is ignored.
  void runsThePostedBuildAndEndsWithTheDialogExitOrClose() {
    for (const int end : {kCmdEndDialog, kCmdExit, kScClose}) {
      AppState app;
      app.sources.files = {TESSILON_DEMO_IMAGE};
      app.sources.scanDevices = false;  // the machine's own disks differ from one host to the next
      QtWindow window;
      window.PostCommand(kCmdBuildDriveList);
      QString title;
      bool stayedWhileBusy = end != kScClose;
      QTimer poll;
      connect(&poll, &QTimer::timeout, &window, [&] {
        if (app.busy != 0 || window.RowCount(kDriveList) == 0) return;
        poll.stop();
        if (window.isVisible()) title = window.windowTitle();
        if (end == kCmdExit) QTest::mouseClick(window.ToolButtons()[7], Qt::LeftButton);
        if (end == kCmdEndDialog) window.EndDialog(kCmdEndDialog);
        if (end != kScClose) return;
        app.busy = 1;
        window.close();
        stayedWhileBusy = window.isVisible();
        app.busy = 0;
        window.close();
      });
      poll.start(10);
      QTimer::singleShot(10000, &window, [&window] { window.EndDialog(-2); });  // a failing run ends all the same
      QCOMPARE(RunMainDialog(&app, &window), end);
      QCOMPARE(title, QStringLiteral("Tessilon ver 5.03222.05"));
      QCOMPARE(window.RowText(kDriveList, 0, 3), std::string("FAT32"));
      QVERIFY(stayedWhileBusy && !window.isVisible());
    }
  }

  void toolbarHasEightButtonsThatSendTheirCommands() {
    QtApp h;
    h.forward = false;  // the commands themselves are the dialog's business
    QVERIFY(h.Show());
    QStringList tips;  // each button's text, and after it the key that does the same
    for (QToolButton* b : h.window.ToolButtons()) {
      QVERIFY(b->isVisible() && b->isEnabled() && !b->icon().isNull());
      QCOMPARE(b->geometry().topLeft(), QPoint(QtWindow::kToolButtonWidth * int(tips.size()), 0));
      tips << b->toolTip();
    }
    QCOMPARE(tips, QStringList({"Build Drive List", "Build Indexed File List (F5)", "Build File List ONLY! (Shift+F5)",
                                "Copy files (Ctrl+Shift+C)", "Help (F1)", "Configure", "Print (Ctrl+P)", "Exit"}));
    QVERIFY(h.window.ToolBar()->height() <= 50);  // clear of the drive list
    const QRect open = h.window.OpenImageButton()->geometry();
    QVERIFY(h.window.OpenImageButton()->isVisible() && open.left() >= 8 * QtWindow::kToolButtonWidth && open.bottom() < 50);
    h.Clear();
    for (QToolButton* b : h.window.ToolButtons()) QTest::mouseClick(b, Qt::LeftButton);
    QCOMPARE(h.Ids(MessageKind::Command), std::vector<int>({5000, 5001, 5002, 5003, 5005, 5004, 5006, 5007}));
    // The keys send the same commands, wherever the focus stands.
    QVERIFY(h.Activate());
    h.Clear();
    QWidget* focus[] = {h.window.TreeView(), h.window.ListView(kFileList), h.window.ListView(kDriveList)};
    int i = 0;
    for (const char* key : {"F5", "Shift+F5", "Ctrl+Shift+C", "F1", "Ctrl+P", "Ctrl+C"})  // Ctrl+C has no command
      QTest::keySequence(focus[i++ % 3], QKeySequence(QString::fromLatin1(key)));
    QCOMPARE(h.Ids(MessageKind::Command), std::vector<int>({5001, 5002, 5003, 5005, 5006}));
  }

  void layoutFollowsWindowSize() {
    QtApp h;
    QVERIFY(h.Show());
    QtWindow& w = h.window;
    const Rect tree = w.ControlRect(kFolderTree), files = w.ControlRect(kFileList), log = w.ControlRect(kLogList);
    const Rect bar = w.ControlRect(kProgressBar);
    // The real widgets stand where the layout says; the file list's place holds its filter row, list and preview.
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
    for (QDeadlineTimer giveUp(5000); h.Of(MessageKind::Command).empty() && !giveUp.hasExpired();)
      pumped = h.window.PumpOneMessage();
    QCOMPARE(h.Ids(MessageKind::Command), std::vector<int>{kCmdConfigure});
    QVERIFY(pumped);  // the call that delivered it says so
    h.window.SetTimer(kTimerListCheck, 30);
    h.window.KillTimer(kTimerListCheck);
    for (int i = 0; i < 2; ++i) h.window.SetTimer(kTimerTreeCheck, 10);  // set again while pending: still one
    QTRY_VERIFY(!h.Of(MessageKind::Timer).empty());
    QTest::qWait(100);
    QCOMPARE(h.Ids(MessageKind::Timer), std::vector<int>{kTimerTreeCheck});
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
    for (int i = 0; i < 2; ++i) w.StepProgress();
    QCOMPARE(bar->value(), bar->maximum());
    w.StepProgress();  // past the end it starts over
    QVERIFY(w.ProgressPosition() == 100u && bar->value() == bar->minimum());
  }

  // Mouse events through the window system, as a user's arrive: the capture,
  // the press's implicit grab and the controls under the pointer all take part.
  void splitterDragMovesTheStripedBarAndTheDropLaysTheWindowOut() {
    QtApp h;
    QVERIFY(h.Show());
    QtWindow& w = h.window;
    QWindow* win = w.windowHandle();
    w.InsertRow(kFileList, 0, "a file with a long name to paint over.txt", 6, nullptr);
    const Rect tree = w.ControlRect(kFolderTree);
    const int y = tree.y + 8;  // on the file list's first row, beside the gap
    QTest::mouseMove(win, QPoint(202, y + 100));
    QTRY_COMPARE(w.cursor().shape(), Qt::SizeHorCursor);
    QTest::mouseMove(win, QPoint(5, y + 100));  // the bare margin left of the tree
    QTRY_COMPARE(w.cursor().shape(), Qt::ArrowCursor);

    QTest::mousePress(win, Qt::LeftButton, {}, QPoint(202, y));
    QVERIFY(h.app.splitDragging == 1 && QWidget::mouseGrabber() == &w);
    QCOMPARE(w.InvertedBars(), std::vector<Rect>({{202, tree.y, 4, tree.height}}));
    // Over the file list the moves still come to the window.
    QTest::mouseMove(win, QPoint(400, y));
    QCOMPARE(w.InvertedBars(), std::vector<Rect>({{400, tree.y, 4, tree.height}}));
    const QImage withBar = w.grab().toImage();
    QTest::mouseMove(win, QPoint(500, y + 90));  // straight down too: the bar follows across only
    QCOMPARE(w.InvertedBars(), std::vector<Rect>({{500, tree.y, 4, tree.height}}));
    const QImage without = w.grab().toImage();
    // Where the bar stood, the second and fourth columns are inverted and the first and third untouched, top to bottom.
    for (int py = tree.y; py < tree.Bottom(); py += 7)
      for (int x = 400; x < 404; ++x)
        QCOMPARE(Pixel(withBar, x, py), x % 2 == 0 ? Pixel(without, x, py) : ~Pixel(without, x, py) & 0xFFFFFFu);
    QCOMPARE(Pixel(withBar, 401, tree.y - 2), Pixel(without, 401, tree.y - 2));

    QTest::mouseRelease(win, Qt::LeftButton, {}, QPoint(500, y + 90));
    QCOMPARE(h.app.treeWidth, 490);
    QCOMPARE(w.TreeView()->geometry(), QRect(10, tree.y, 500, tree.height));
    QCOMPARE(w.Control(kFileList)->geometry().x(), 514);
    QVERIFY(h.app.splitDragging == 0 && QWidget::mouseGrabber() == nullptr && w.InvertedBars().empty() &&
            w.findChildren<QWidget*>(QStringLiteral("splitBar")).isEmpty());

    // The new gap is the splitter now; a press on the old one is a press on the tree, which the window never hears of.
    h.Clear();
    QTest::mouseClick(win, Qt::LeftButton, {}, QPoint(202, y + 200));
    QVERIFY(h.Of(MessageKind::LeftButtonDown).empty() && h.app.splitDragging == 0);
    // Past the window's edge the bar is clipped, then gone, and the drop there refused.
    QTest::mousePress(win, Qt::LeftButton, {}, QPoint(512, y));
    QTest::mouseMove(win, QPoint(w.width() - 2, y));
    const auto bars = w.findChildren<QWidget*>(QStringLiteral("splitBar"));
    QCOMPARE(bars.size(), 1);
    QCOMPARE(bars.front()->width(), 2);
    QTest::mouseMove(win, QPoint(w.width() + 50, y));
    QVERIFY(w.findChildren<QWidget*>(QStringLiteral("splitBar")).isEmpty());
    QTest::mouseRelease(win, Qt::LeftButton, {}, QPoint(w.width() + 50, y));
    QVERIFY(h.app.treeWidth == 490 && w.InvertedBars().empty());
  }

  // Examiners hold E01s and virtual disks: "Open image" offers them beside raw images.
  void openedOrDroppedImagesJoinTheDriveList() {
    for (const int way : {0, 1, 2}) {  // the demo image dropped, then by the button; its E01 by Ctrl+O
      const QString image = way == 2 ? dir_.filePath("demo.E01") : QStringLiteral(TESSILON_DEMO_IMAGE);
      if (way == 2 && RunBash("ewfacquire -u -q -c deflate:fast -t '" + dir_.filePath("demo") +
                              "' '" TESSILON_DEMO_IMAGE "' >/dev/null 2>&1 && echo ok").isNull())
        QSKIP("ewfacquire could not make an E01 here");
      QtApp h;
      h.app.sources.scanDevices = false;
      QVERIFY(h.Show() && h.Activate());
      if (way == 0) {
        QMimeData text, remote, folder, files;  // text, a web address or a folder is no image file
        text.setText("/etc/hostname");
        remote.setUrls({QUrl("https://example.org/disk.img")});
        folder.setUrls({QUrl::fromLocalFile("/tmp")});
        for (QMimeData* refused : {&text, &remote, &folder}) QVERIFY(!Drop(&h.window, refused));
        files.setUrls({QUrl::fromLocalFile(image)});
        QVERIFY(Drop(&h.window, &files));
      } else {
        FileDialogSeen seen;
        const WhenModal answer(TypeIntoFileDialog(image, &seen));
        if (way == 2) QTest::keyClick(&h.window, Qt::Key_O, Qt::ControlModifier);
        else QTest::mouseClick(h.window.OpenImageButton(), Qt::LeftButton);
        QTRY_COMPARE(seen.title, QStringLiteral("Open image"));
        QVERIFY(seen.nameField);
        QCOMPARE(seen.nameFilters.size(), 2);
        for (const char* pattern : {"*.E01", "*.vhd", "*.vhdx", "*.vmdk", "*.qcow2", "*.001"})
          QVERIFY2(seen.nameFilters[0].contains(QString::fromLatin1(pattern)), pattern);
        QCOMPARE(seen.nameFilters[1], QStringLiteral("All files (*)"));
      }
      QTRY_COMPARE(h.window.RowCount(kDriveList), 1);  // a drop is answered first, the list built right after
      QCOMPARE(h.app.sources.files, std::vector<std::string>{QFile::encodeName(image).toStdString()});
      QCOMPARE(h.window.RowText(kDriveList, 0, 3), std::string("FAT32"));
    }
  }

  void exitStopsAQuickScanAndTheWindowPaintsMeanwhile() {
    // 512-byte clusters: the quick scan would read some two million of them.
    const QString image = dir_.filePath(QStringLiteral("big.img"));
    QVERIFY(!RunBash(QString("truncate -s 1G '%1' && mkfs.fat -F 32 -s 1 -n BIG '%1' >/dev/null && echo y").arg(image))
                 .isNull());
    QtApp h;
    QCOMPARE(h.ListImages({image}), 1);
    ClickCell(h.window.ListView(kDriveList), 0);
    PaintCounter counter;
    auto* status = qobject_cast<QLabel*>(h.window.Control(kDirsText));  // "CLUSTER: n" as the scan goes
    status->installEventFilter(&counter);
    // Exit is pressed from the event loop once the scan is well under way, as a user's click arrives: through a pump
    // of the scan. What the label itself holds: the text reaches the screen, not only the window's record.
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
    const QString log = LogText(h.window);
    QVERIFY(log.contains("File system scan interrupted.") && !log.contains("File system scan complete."));
    QVERIFY(h.window.isVisible());  // Exit during a scan does not end the program
    QTRY_COMPARE(status->text().toStdString(), h.window.Text(kDirsText));
  }

  // Wherever a real click toggles a row's box the hit test says "check box", and nowhere else; each click reaches
  // the dialog once, with the hit the window sees there.
  void checkBoxClickReachesDialogBeforeToggle() {
    QtApp h;
    QtWindow& w = h.window;
    QVERIFY(h.Show());
    int a = 0, b = 0, clicks = 0, boxAtClick = -1;
    w.InsertRow(kFileList, 0, "a.txt", 6, &a);
    w.InsertRow(kFileList, 1, "b.txt", 6, &b);
    HitTest carried, there;
    w.SetDialogProc([&](const Message& m) {
      if (m.kind == MessageKind::Notify && m.id == kFileList && m.code == NotifyCode::Click) {
        ++clicks;
        carried = m.hit;
        there = w.HitTestAt(kFileList, m.point);
        boxAtClick = w.RowCheck(kFileList, m.hit.row);
      }
      return ProcResult{};
    });
    ItemView* view = w.ListView(kFileList);
    // Along both rows, alternating between them so that no two clicks make a double click.
    const QRect cell = view->visualRect(view->model()->index(0, 0));
    int toggles = 0;
    for (int x = cell.left(); x < cell.left() + 60; ++x) {
      for (int row = 0; row < 2; ++row) {
        const int before = w.RowCheck(kFileList, row);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(x, view->visualRect(view->model()->index(row, 0)).center().y()));
        const bool toggled = w.RowCheck(kFileList, row) != before;
        toggles += toggled;
        QCOMPARE(carried.part == HitPart::CheckBox, toggled);
        QVERIFY(carried.row == row && there.row == row && there.part == carried.part && boxAtClick == before);
      }
    }
    QCOMPARE(clicks, 120);
    QVERIFY(toggles >= 8);  // the box was found at all
    const HitTest below = w.HitTestAt(kFileList, ScreenOf(view->viewport(), {cell.left() + 5, cell.bottom() + cell.height() * 3}));
    QVERIFY(below.row == -1 && below.part == HitPart::Nowhere);
  }

  void treeInsertsSortedAndForgetsStaleHandles() {
    QtApp h;
    QtWindow& w = h.window;
    const NodeHandle root = w.InsertNode(kNoNode, "Root", 4, 5, nullptr, false);
    const NodeHandle b = w.InsertNode(root, "b", 4, 5, nullptr, true);
    w.InsertNode(root, "A", 4, 5, nullptr, true);
    w.InsertNode(root, "c", 4, 5, nullptr, true);
    w.InsertNode(root, "0001", 4, 5, nullptr, false);  // an orphan folder goes last
    w.InsertNode(root, "B2", 4, 5, nullptr, true);
    const NodeHandle b2 = w.InsertNode(root, "b", 4, 5, nullptr, true);  // after the equal label
    QStringList walked;
    for (NodeHandle n = w.FirstChild(root); n != kNoNode; n = w.NextSibling(n))
      walked << QString::fromStdString(w.NodeLabel(n));
    QCOMPARE(walked, QStringList({"A", "b", "b", "B2", "c", "0001"}));
    QCOMPARE(w.NextSibling(b), b2);
    QCOMPARE(Shown(w.TreeView(), w.TreeView()->model()->index(0, 0)), walked);  // the view shows the same order
    // A new tree: the old handles find nothing and take nothing.
    w.DeleteAllNodes();
    const NodeHandle newRoot = w.InsertNode(kNoNode, "Root", 4, 5, nullptr, false);
    QCOMPARE(w.InsertNode(root, "x", 4, 5, nullptr, true), kNoNode);
    QVERIFY(newRoot != root && w.NodeLabel(b).empty() && w.FirstChild(root) == kNoNode);
    QCOMPARE(w.FirstChild(newRoot), kNoNode);
  }

  void treeHitPartsLieInOrderAndAClickSelectsBeforeItNotifies() {
    QtApp h;
    QtWindow& w = h.window;
    QVERIFY(h.Show());
    const NodeHandle root = w.InsertNode(kNoNode, "Root", 4, 5, nullptr, false);
    const NodeHandle child = w.InsertNode(root, "Pictures", 4, 5, nullptr, true);
    ItemView* tree = w.TreeView();
    tree->expandAll();
    const QModelIndex index = tree->model()->index(0, 0, tree->model()->index(0, 0));
    const int y = tree->visualRect(index).center().y();
    // Left to right across the child's row: indentation, box, picture, label, empty space; each once, in that order.
    std::vector<HitPart> parts;
    for (int x = 0; x < tree->viewport()->width(); ++x) {
      const HitTest hit = w.HitTestAt(kFolderTree, ScreenOf(tree->viewport(), {x, y}));
      QCOMPARE(hit.node, child);
      if (parts.empty() || parts.back() != hit.part) parts.push_back(hit.part);
    }
    QCOMPARE(parts.front(), HitPart::Other);  // the indentation and expand button
    QCOMPARE(parts.back(), HitPart::Other);   // right of the label
    std::erase(parts, HitPart::Other);
    QCOMPARE(parts, std::vector<HitPart>({HitPart::CheckBox, HitPart::Icon, HitPart::Label}));
    QCOMPARE(w.HitTestAt(kFolderTree, ScreenOf(tree->viewport(), {20, y + 200})).node, kNoNode);
    // What the handler sees when a click arrives: the box not yet toggled, the node already selected.
    int markAtClick = -1;
    NodeHandle selectedAtClick = kNoNode;
    HitTest hitAtClick;
    w.SetDialogProc([&](const Message& m) {
      if (m.kind == MessageKind::Notify && m.id == kFolderTree && m.code == NotifyCode::Click) {
        markAtClick = w.NodeCheck(m.hit.node);
        selectedAtClick = w.SelectedNode();
        hitAtClick = m.hit;
      }
      return ProcResult{};
    });
    QCOMPARE(w.SelectedNode(), kNoNode);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, PartOf(w, kFolderTree, tree, index, HitPart::Label));
    QVERIFY(hitAtClick.node == child && hitAtClick.part == HitPart::Label);
    QCOMPARE(selectedAtClick, child);  // selected on the press, before the click arrives
    QTest::qWait(QApplication::doubleClickInterval() + 50);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, PartOf(w, kFolderTree, tree, index, HitPart::CheckBox));
    QCOMPARE(hitAtClick.part, HitPart::CheckBox);
    QCOMPARE(markAtClick, kUnchecked);  // the tree toggles after the notification
    QCOMPARE(w.NodeCheck(child), kChecked);
    // The selected folder shows the open folder.
    QStyleOptionViewItem option;
    option.state |= QStyle::State_Selected;
    tree->Delegate()->ItemOption(&option, index);
    QCOMPARE(Picture(option.icon), Picture(DrawSmallImage(5)));
    QCOMPARE(Picture(index.data(Qt::DecorationRole).value<QIcon>()), Picture(DrawSmallImage(4)));
  }

  // The control's stage, then each row's item stage followed by its cells left to right. Each answer decides whether
  // the next stage is sent at all, and the tree has no cell stage.
  void customDrawStagesFollowPaintOrder() {
    QtApp h;
    QtWindow& w = h.window;
    QVERIFY(h.Show());
    int a = 0, b = 0, node = 0;
    w.InsertRow(kDriveList, 0, "C:", 0, &a);
    w.InsertRow(kDriveList, 1, "D:", 0, &b);
    w.InsertNode(kNoNode, "Root", 4, 5, &node, false);
    QStringList trace;  // P the control; a, b, r a row's or the node's item stage; a0 a cell
    std::uint32_t atPrepaint = CDRF_NOTIFYITEMDRAW, atItem = CDRF_NOTIFYSUBITEMDRAW;
    w.SetDialogProc([&](const Message& m) -> ProcResult {
      if (m.kind != MessageKind::Notify || m.code != NotifyCode::CustomDraw) return {};
      const CustomDrawRecord& r = *m.customDraw;
      const QString item = r.itemData == &a ? "a" : r.itemData == &b ? "b" : r.itemData == &node ? "r" : "?";
      switch (r.stage) {
        case DrawStage::Prepaint: trace << "P"; return {true, atPrepaint};
        case DrawStage::ItemPrepaint: trace << item; return {true, atItem};
        default: trace << item + QString::number(r.subItem); return {true, CDRF_NEWFONT};
      }
    });
    const auto paint = [&trace](ItemView* view) {
      trace.clear();
      view->grab();
      return trace.join(QLatin1Char(' '));
    };
    ItemView* drives = w.ListView(kDriveList);
    const QString painted = paint(drives);
    const qsizetype columns = trace.filter(QRegularExpression(QStringLiteral("^a\\d+$"))).size();
    QVERIFY2(columns >= 2, qPrintable(painted));  // at least two cells are visible
    QStringList expected{"P"};
    for (const QString row : {"a", "b"}) {
      expected << row;
      for (int c = 0; c < columns; ++c) expected << row + QString::number(c);
    }
    QCOMPARE(painted, expected.join(QLatin1Char(' ')));
    QCOMPARE(paint(w.TreeView()), QStringLiteral("P r"));
    atItem = CDRF_DODEFAULT;
    QCOMPARE(paint(drives), QStringLiteral("P a b"));
    atPrepaint = CDRF_DODEFAULT;
    QCOMPARE(paint(drives), QStringLiteral("P"));
  }

  // The tree: clean folders blue, the rest red up to the root. The file list: in use green, deleted red, the verdict
  // of a file that may be recovered teal, a problem red throughout. The drive list: the free share green, the used
  // space red, the rest purple. The log: a status label green and its message blue, an error red throughout.
  void everyViewPaintsInItsRowsColours() {
    QtApp h;
    QVERIFY(h.ScanImage(views_));
    QtWindow& w = h.window;
    ItemView *tree = w.TreeView(), *list = w.ListView(kFileList), *drives = w.ListView(kDriveList);
    ItemView* log = w.ListView(kLogList);
    for (ItemView* view : {tree, list, drives, log}) PlainFont(view);
    for (int c = 0; c < 5; ++c) list->setColumnWidth(c, c == 4 ? 180 : 130);
    w.SetRowSelected(kDriveList, 0, false);  // a selected row shows the highlight instead
    LogMessage(&h.app, kStatus, kLogList, "Drive mapping complete.");
    LogMessage(&h.app, kError, kLogList, "The help page could not be opened.");
    w.MoveControl(kLogList, {10, 300, 1020, 200});
    log->scrollToBottom();
    QTest::qWait(20);
    // More than `least` pixels of `painted` in the cell, and none of `absent`.
    const auto paints = [](ItemView* view, const QModelIndex& index, QColor painted, int least, QColor absent = {}) {
      const QImage image = view->viewport()->grab().toImage();
      const QRect r = view->visualRect(index);
      return PixelsOf(image, r, painted) > least && (!absent.isValid() || PixelsOf(image, r, absent) == 0);
    };
    const QColor inUseGreen(11, 90, 69), teal(11, 62, 69), red(190, 0, 0), blue(0, 0, 190);
    const QColor purple(135, 7, 143), green(0, 190, 0);
    QVERIFY(paints(tree, Folder(tree, "Keep"), blue, 10, red));
    QVERIFY(paints(tree, Folder(tree, "Docs"), red, 10));
    QVERIFY(paints(tree, Folder(tree, {}), red, 10));  // it holds a deleted file below
    QVERIFY(paints(drives, drives->model()->index(0, 3), purple, 5));
    QVERIFY(paints(drives, drives->model()->index(0, 7), green, 5, purple));
    QVERIFY(paints(drives, drives->model()->index(0, 8), red, 5));
    const int logged = w.RowCount(kLogList) - 2;
    QVERIFY(paints(log, log->model()->index(logged, 0), green, 20));
    QVERIFY(paints(log, log->model()->index(logged, 1), blue, 20, green));
    QVERIFY(paints(log, log->model()->index(logged + 1, 0), red, 20, green));
    QVERIFY(paints(log, log->model()->index(logged + 1, 1), red, 20));
    h.OpenFolder("Docs");
    QTest::qWait(20);
    const int live = RowNamed(list, "a.txt"), gone = RowNamed(list, "dhoto.jpg");
    QCOMPARE(list->model()->index(gone, 4).data().toString(), QStringLiteral("Recovery may be possible"));
    for (int c = 0; c < 5; ++c) {
      QVERIFY2(paints(list, list->model()->index(live, c), inUseGreen, 5, red), qPrintable(QString::number(c)));
      QVERIFY2(paints(list, list->model()->index(gone, c), c == 4 ? teal : red, 5, c == 4 ? red : QColor()),
               qPrintable(QString::number(c)));
    }
    h.OpenFolder("Old");
    QTest::qWait(20);
    QCOMPARE(list->model()->index(0, 4).data().toString(), QStringLiteral("Chain is in use"));
    for (int c = 0; c < 5; ++c)
      QVERIFY2(paints(list, list->model()->index(0, c), red, 5, teal), qPrintable(QString::number(c)));
  }

  // Rows arrive and the window goes before their layout has run, as when the program ends right after a scan: the
  // pictures the views show must still be there, or not be asked for.
  void aShownWindowFullOfRowsClosesCleanly() {
    for (int round = 0; round < 3; ++round) {
      auto h = std::make_unique<QtApp>();
      QVERIFY(h->Show());
      for (int i = 0; i < 5000; ++i) {
        h->window.InsertRow(kFileList, i, "row " + std::to_string(i), 6 + i % 7, nullptr);
        h->window.InsertRow(kLogList, i, "0 -- Status", i % 4, nullptr);
      }
      h->window.InsertNode(kNoNode, "Root", 4, 5, nullptr, false);
      h.reset();
    }
  }

  void headersSortAndFiltersNeverChangeTicks() {
    QtApp h;
    QVERIFY(h.ScanImage(views_));
    QtWindow& w = h.window;
    ItemView *tree = w.TreeView(), *list = h.OpenFolder("Docs");

    const std::pair<int, QStringList> sorts[] = {
        {1, {"b.txt", "dhoto.jpg", "a.txt", "c.bin"}},   // 100, the photo, 1050, 20000: by number
        {1, {"c.bin", "a.txt", "dhoto.jpg", "b.txt"}},   // again: the other way
        {3, {"a.txt", "c.bin", "b.txt", "dhoto.jpg"}},   // modified: 2019, 2020, 2021, 2022
        {4, {"a.txt", "b.txt", "c.bin", "dhoto.jpg"}},   // equal states keep the program's order
    };
    // The photo's size puts it between the text files.
    const qint64 photoSize = QFileInfo(dir_.filePath(QStringLiteral("photo.jpg"))).size();
    QVERIFY2(photoSize > 100 && photoSize < 1050, qPrintable(QString::number(photoSize)));
    for (const auto& [column, order] : sorts) {
      ClickHeader(list, column);
      QCOMPARE(Shown(list), order);
    }

    for (const char* name : {"b.txt", "dhoto.jpg"}) {
      list->setCurrentIndex(ShownRow(list, QString::fromLatin1(name)));
      QTest::keyClick(list, Qt::Key_Space);
    }
    const QStringList ticked{"b.txt", "dhoto.jpg"};
    QCOMPARE(Ticked(w), ticked);

    const std::tuple<bool, const char*, QStringList> filters[] = {
        {true, "", {"dhoto.jpg"}},
        {false, "*.txt", {"a.txt", "b.txt"}},
        {false, "HOTO", {"dhoto.jpg"}},
        {true, "*.txt", {}},
        {false, "", {"a.txt", "b.txt", "c.bin", "dhoto.jpg"}},
    };
    for (const auto& [deletedOnly, search, shown] : filters) {
      w.DeletedOnlyBox()->setChecked(deletedOnly);
      w.NameFilterBox()->clear();
      QTest::keyClicks(w.NameFilterBox(), QString::fromLatin1(search));
      ClickHeader(list, 0);  // in name order, as sorted by a click on Name
      if (list->header()->sortIndicatorOrder() != Qt::AscendingOrder) ClickHeader(list, 0);
      QCOMPARE(Shown(list), shown);
      QCOMPARE(Ticked(w), ticked);
    }
    // Space on a row the filter left: the program's row of that file.
    w.NameFilterBox()->setText(QStringLiteral("a.t"));
    list->setCurrentIndex(list->model()->index(0, 0));
    QTest::keyClick(list, Qt::Key_Space);
    QCOMPARE(Ticked(w), QStringList({"a.txt", "b.txt", "dhoto.jpg"}));

    // The tree keeps the folders that hold something deleted, and the way to them.
    for (const bool deletedOnly : {false, true, false}) {
      w.DeletedFoldersBox()->setChecked(deletedOnly);
      QVERIFY(Folder(tree, "Docs").isValid() && Folder(tree, "Keep").isValid() != deletedOnly);
    }
    QCOMPARE(QString::fromStdString(w.NodeLabel(w.SelectedNode())), QStringLiteral("Docs"));
  }

  void previewShowsBytesAndPictures() {
    QtApp h;
    QVERIFY(h.ScanImage(views_));
    QtWindow& w = h.window;
    ItemView* list = h.OpenFolder("Docs");
    PreviewPane* pane = w.Preview();

    list->setCurrentIndex(ShownRow(list, QStringLiteral("a.txt")));
    QVERIFY(!pane->ShowsPicture());
    const QString hex = pane->Hex()->toPlainText();
    QVERIFY2(hex.startsWith(QStringLiteral("00000000  48 65 6c 6c 6f 20 70 72 65 76 69 65 77 2c 20 74  Hello preview, t")),
             qPrintable(hex.left(90)));
    QCOMPARE(hex.count(QLatin1Char('\n')), (1050 + 15) / 16);  // a line for each 16 of a.txt's bytes
    QCOMPARE(pane->Verdict()->text(), QStringLiteral("Active"));

    list->setCurrentIndex(ShownRow(list, QStringLiteral("dhoto.jpg")));
    QVERIFY2(pane->ShowsPicture(), qPrintable(pane->Title()->text() + pane->Note()->text() + pane->Hex()->toPlainText().left(200)));
    QVERIFY(!pane->Picture()->pixmap().isNull() && pane->Title()->text().contains(QStringLiteral("hoto.jpg (")));
    QCOMPARE(pane->Verdict()->text() + pane->Owners()->text(), QStringLiteral("Recovery may be possible"));

    // A deleted file whose clusters a live file took names it.
    h.OpenFolder("Old");
    list->setCurrentIndex(ShownRow(list, QStringLiteral("dld.bin")));
    QCOMPARE(pane->Verdict()->text() + " | " + pane->Owners()->text(),
             "Chain is in use | Overwritten by /Later, /Later/new.bin; 0.0% of its clusters are still free.");
    h.OpenFolder("Docs");
    list->setCurrentIndex(ShownRow(list, QStringLiteral("dhoto.jpg")));

    // Hidden, it reads nothing; shown again, it catches up.
    QTest::keyClick(&w, Qt::Key_F3);
    list->setCurrentIndex(ShownRow(list, QStringLiteral("a.txt")));
    QVERIFY(!w.PreviewShown() && pane->ShowsPicture());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(ShownRow(list, QStringLiteral("a.txt"))).center());
    QTRY_VERIFY(w.PreviewShown());  // the double click is answered from the event loop
    QVERIFY(pane->Hex()->toPlainText().startsWith(QStringLiteral("00000000  48 65")));
  }

  void helpOpensInsideTheProgram() {
    QtApp h;
    h.app.helpPath = TESSILON_SOURCE_DIR "/docs/help.html";
    h.window.SetHelpInWindow(true);
    QVERIFY(h.Show());
    QTest::keyClick(&h.window, Qt::Key_F1);
    QTextBrowser* help = h.window.HelpBrowser();
    QVERIFY(help != nullptr && help->window()->isVisible());
    QVERIFY(help->toPlainText().contains(QStringLiteral("How do I...?")) && help->toPlainText().contains("memory card"));
  }

  // The list's font, or one Qt falls back to among those installed, has a glyph for each character of names in
  // Japanese, Greek, Cyrillic and with an emoji (glyph 0 is the empty box of a character no font has).
  void namesInEveryScriptAreDrawnWithAGlyphForEachCharacter() {
    const QString image = dir_.filePath(QStringLiteral("scripts.img"));
    const QStringList deleted =
        Lines(RunBash("bash '" TESSILON_SOURCE_DIR "/tests/fixtures/make_scripts_image.sh' '" + image + "'"));
    QCOMPARE(deleted.size(), 5);
    QtApp h;
    QVERIFY(h.ScanImage(image));
    ItemView* list = h.OpenFolder(QString());
    for (const QString& name : deleted) {
      QVERIFY2(RowNamed(list, name) >= 0, qPrintable(name + " is not listed"));
      QTextLayout layout(name, list->font());
      layout.beginLayout();
      layout.createLine();
      layout.endLayout();
      QList<quint32> glyphs;
      for (const QGlyphRun& run : layout.glyphRuns()) glyphs << run.glyphIndexes();
      QVERIFY2(!glyphs.contains(0u) && glyphs.size() >= name.size() / 2, qPrintable(name));
    }
  }

  void cutOffCellsShowWholeAndSizesAreKept() {
    const QTemporaryDir settingsDir;
    const QString ini = settingsDir.filePath(QStringLiteral("tessilon.ini"));
    {
      QtApp h(std::make_unique<QSettings>(ini, QSettings::IniFormat));
      QtWindow& w = h.window;
      QVERIFY(h.Show());
      w.InsertRow(kFileList, 0, "a name far too long to fit in a column of forty pixels.txt", 6, nullptr);
      w.SetColumnWidth(kFileList, 0, 40);
      ItemView* list = w.ListView(kFileList);
      const QPoint cell = list->visualRect(list->model()->index(0, 0)).center();
      QCOMPARE(list->ToolTipAt(cell), QStringLiteral("a name far too long to fit in a column of forty pixels.txt"));
      w.SetColumnWidth(kFileList, 0, 600);
      QCOMPARE(list->ToolTipAt(cell), QString());
      w.SetColumnWidth(kFileList, 1, 123);
      w.resize(900, 640);
      QVERIFY(ApplySplit(&h.app, {w.ControlRect(kFolderTree).x + 250, 300}) == 1);
      QTest::keyClick(&w, Qt::Key_F3);  // the preview hidden
      w.SaveSettings();
    }
    QtApp h(std::make_unique<QSettings>(ini, QSettings::IniFormat));
    QCOMPARE(h.window.size(), QSize(900, 640));
    QVERIFY(h.app.treeWidth == 250 && h.window.ColumnWidth(kFileList, 1) == 123 && !h.window.PreviewShown());
  }

  void keysInTheTreeChooseTheFolderAndSpaceTicksWhatCopyTakes() {
    QtApp h;
    QVERIFY(h.ScanImage(keys_));
    ItemView* tree = h.window.TreeView();
    // Each node lists its own files as it becomes the selected one; Home, End and a typed letter move as arrows do.
    const std::tuple<Qt::Key, const char*, QStringList> steps[] = {
        {Qt::Key_Home, "Root", {"KEYS", "top.txt"}},  // the volume label is listed too
        {Qt::Key_Down, "Docs", {"letter.txt"}},
        {Qt::Key_Down, "Old", {"draft.txt"}},
        {Qt::Key_Down, "Photos", {"beach.jpg", "gone photo.jpg"}},
        {Qt::Key_Up, "Old", {"draft.txt"}},
        {Qt::Key_End, "Photos", {"beach.jpg", "gone photo.jpg"}},
        {Qt::Key_PageUp, "Root", {"KEYS", "top.txt"}},
        {Qt::Key_D, "Docs", {"letter.txt"}},
    };
    for (const auto& [key, node, files] : steps) {
      QTest::keyClick(tree, key);
      QCOMPARE(h.window.NodeLabel(h.window.SelectedNode()), std::string(node));
      QStringList listed = Shown(h.window.ListView(kFileList));
      listed.sort();
      QCOMPARE(listed, files);
    }
    // Space on Docs: Docs, the folder below it and Root are ticked, and the files of Docs and of Old with them.
    QtWindow& w = h.window;
    const auto marks = [tree] {
      QList<int> out;
      for (const char* f : {"", "Docs", "Docs/Old", "Photos"}) out << Folder(tree, f).data(Qt::CheckStateRole).toInt();
      return out;
    };
    QTest::keyClick(tree, Qt::Key_Space);
    QCOMPARE(marks(), QList<int>({Qt::Checked, Qt::Checked, Qt::Checked, Qt::Unchecked}));
    QCOMPARE(Ticked(w), QStringList{"letter.txt"});
    const auto counts = [&w] { return w.Text(kFilesText) + ", " + w.Text(kDirsText); };
    QTRY_COMPARE(counts(), std::string("FILES: 2, DIRS: 2"));

    // Space on the deleted file in Photos' list: the file and Photos.
    QTest::keyClick(tree, Qt::Key_End);
    ItemView* list = w.ListView(kFileList);
    QTest::keyClick(list, Qt::Key_Home);
    if (w.RowText(kFileList, 0, 0) != "gone photo.jpg") QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Space);
    QCOMPARE(Ticked(w), QStringList{"gone photo.jpg"});
    QCOMPARE(marks().back(), int(Qt::Checked));
    QTRY_COMPARE(counts(), std::string("FILES: 3, DIRS: 3"));
    QTest::keyClick(list, Qt::Key_Space);
    QVERIFY(Ticked(w).isEmpty());
    QTRY_COMPARE(w.Text(kFilesText), std::string("FILES: 2"));
    QTest::keyClick(list, Qt::Key_Space);
    QTRY_COMPARE(w.Text(kFilesText), std::string("FILES: 3"));

    const QTemporaryDir out;
    QVERIFY(out.isValid() && h.Activate());
    FileDialogSeen seen;
    const WhenModal answer(TypeIntoFileDialog(out.path(), &seen));
    QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(seen.title, QStringLiteral("Copy the ticked files to"));
    QVERIFY(seen.nameField);
    QCOMPARE(h.app.lastCopyResult, 1);
    // The ticked files, and beside them the manifest that hashes them.
    const QString copied = RunBash(QString("cd '%1' && find . -type f -printf '%P\\n' | LC_ALL=C sort && cmp"
                                           " Docs/letter.txt '%2/letter.txt' && cmp Docs/Old/draft.txt '%2/draft.txt'"
                                           " && cmp 'Photos/gone photo.jpg' '%2/gone photo.jpg'")
                                       .arg(out.path(), dir_.path()));
    QCOMPARE(Lines(copied), QStringList({"Docs/Old/draft.txt", "Docs/letter.txt", "MD5SUMS", "Photos/gone photo.jpg",
                                         "SHA256SUMS", "tessilon-manifest.csv"}));
  }

  void driveListCountsTheUnreadableAndItsKeysChooseTheDriveTheScanUses() {
    QtApp h;
    QCOMPARE(h.ListImages({keys_, dir_.filePath("no-such.img"), TESSILON_DEMO_IMAGE, "/proc/self/no-such-either"}), 2);
    QTRY_COMPARE(h.window.Text(kSourcesText), std::string("2 sources could not be read: see the log"));
    int errors = 0;
    for (int r = 0; r < h.window.RowCount(kLogList); ++r)
      errors += *static_cast<const std::uint32_t*>(h.window.RowData(kLogList, r)) == kError &&
                QString::fromStdString(h.window.RowText(kLogList, r, 1)).contains(QStringLiteral("no-such"));
    QCOMPARE(errors, 2);
    QVERIFY(h.Activate());
    ItemView* drives = h.window.ListView(kDriveList);
    QAbstractItemModel* model = drives->model();
    QCOMPARE(model->headerData(3, Qt::Horizontal).toString(), QStringLiteral("FS Type"));
    QCOMPARE(model->index(0, 9).data().toString(), keys_);
    QCOMPARE(model->index(1, 2).data().toString(), QStringLiteral("TESSDEMO"));
    QCOMPARE(h.app.currentDrive, nullptr);
    const auto chosen = [&h](int row) {
      return h.app.currentDrive == h.window.RowData(kDriveList, row) && h.window.IsRowSelected(kDriveList, row);
    };
    ClickCell(drives, 0);
    QVERIFY(chosen(0));
    // Down, then a double click on that row: the indexed scan reads the demo image, not the one clicked first. The
    // double click arrives as a real one does, a click and then the second press, and the dialog hears them so.
    QTest::keyClick(drives, Qt::Key_Down);
    QVERIFY(chosen(1));
    h.Clear();
    const QPoint demo = drives->visualRect(model->index(1, 1)).center();
    QTest::mouseClick(drives->viewport(), Qt::LeftButton, {}, demo);
    QTest::mouseDClick(drives->viewport(), Qt::LeftButton, {}, demo);
    QTRY_COMPARE(h.app.lastScanResult, 1);
    std::vector<NotifyCode> clicks;
    for (const Message& m : h.Of(MessageKind::Notify))
      if (m.id == kDriveList && (m.code == NotifyCode::Click || m.code == NotifyCode::DoubleClick)) clicks.push_back(m.code);
    QCOMPARE(clicks, std::vector<NotifyCode>({NotifyCode::Click, NotifyCode::DoubleClick}));
    QVERIFY(Folder(h.window.TreeView(), "Pictures").isValid() && !Folder(h.window.TreeView(), "Photos").isValid());
    // Home: back to the first drive, whose view starts empty; Shift+F5 runs the quick scan there.
    QTest::keyClick(drives, Qt::Key_Home);
    QVERIFY(chosen(0) && h.window.TreeView()->model()->rowCount() == 0 && h.window.RowCount(kFileList) == 0);
    QTest::keyClick(drives, Qt::Key_F5, Qt::ShiftModifier);
    QCOMPARE(h.app.lastScanResult, 1);
    QVERIFY(Shown(h.window.ListView(kFileList)).contains(QStringLiteral("gone photo.jpg")));
    QTest::keyClick(drives, Qt::Key_End);
    QVERIFY(chosen(1));
    // The sources line stays until the next mapping, which has nothing to say.
    QCOMPARE(h.ListImages({keys_}), 1);
    QTRY_COMPARE(h.window.Text(kSourcesText), std::string());
  }

  // Whatever comes up after the print dialog (a message box would) is noted and closed, so none can hang the test.
  void printsThroughTheDialogOrTheCommandLineToAPdfFileAndNothingWhenCancelled() {
    QtApp h;
    QVERIFY(h.ScanImage(report_));
    const QString pdf = dir_.filePath(QStringLiteral("window.pdf"));
    QPrinter* printer = h.window.Printer();
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(pdf);
    for (const bool accept : {false, true}) {
      bool offeredPageRange = true;
      QString afterwards;
      std::unique_ptr<WhenModal> then;
      const WhenModal first([&](QWidget* modal) {
        auto* dialog = qobject_cast<QPrintDialog*>(modal);
        if (dialog == nullptr) {
          afterwards = QStringLiteral("not a print dialog");
          static_cast<QDialog*>(modal)->reject();
          return;
        }
        offeredPageRange = dialog->testOption(QAbstractPrintDialog::PrintPageRange) ||
                           dialog->testOption(QAbstractPrintDialog::PrintSelection);
        then = std::make_unique<WhenModal>([&](QWidget* next) {
          afterwards = QString::fromLatin1(next->metaObject()->className());
          static_cast<QDialog*>(next)->reject();
        });
        accept ? dialog->accept() : dialog->reject();
      });
      QTest::mouseClick(h.window.ToolButtons()[6], Qt::LeftButton);
      QTest::qWait(100);
      QVERIFY(!offeredPageRange);
      QVERIFY2(afterwards.isEmpty(), qPrintable(afterwards));  // no "EndPage FAILED" and the like
      QCOMPARE(QFile::exists(pdf), accept);
    }
    CheckReport(pdf, deleted_);
    // The command line's report: the same pages, on A4.
    const QString cli = dir_.filePath("cli.pdf");
    int status = -1;
    Run(TESSILON_CLI, {"report", report_, "--out", cli}, &status);
    QCOMPARE(status, 0);
    CheckReport(cli, deleted_);
    const QString info = Run("pdfinfo", {cli});
    QVERIFY2(info.contains(QStringLiteral("595 x 842 pts")), qPrintable(info));
  }
};

}  // namespace tsn

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");  // no display needed
  QApplication qtApp(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  tsn::WindowTest suite;
  return QTest::qExec(&suite, argc, argv);
}
#include "window_test.moc"
