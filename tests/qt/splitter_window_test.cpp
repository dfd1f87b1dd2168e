// The splitter on the real window: mouse events go in through the window
// system, as a user's do, so the capture, the implicit grab of the press and
// the controls under the pointer all take part.
#include <QImage>
#include <QPixmap>
#include <QWindow>

#include "qt_test_support.h"

namespace tsn {
namespace {
using qttest::QtApp;

QRgb Pixel(const QImage& image, int x, int y) { return image.pixel(x, y) & 0xFFFFFFu; }
}  // namespace

class SplitterWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void pointerShowsWhereTheGapIs() {
    QtApp h;
    QVERIFY(h.Show());
    QWindow* win = h.window.windowHandle();
    const int y = h.window.ControlRect(kFolderTree).y + 100;
    QTest::mouseMove(win, QPoint(202, y));
    QTRY_COMPARE(h.window.cursor().shape(), Qt::SizeHorCursor);
    QTest::mouseMove(win, QPoint(5, y));  // the bare margin left of the tree
    QTRY_COMPARE(h.window.cursor().shape(), Qt::ArrowCursor);
  }

  void dragMovesTheStripedBarAndTheDropLaysTheWindowOut() {
    QtApp h;
    QVERIFY(h.Show());
    QtWindow& w = h.window;
    QWindow* win = w.windowHandle();
    int row = 0;
    w.InsertRow(kFileList, 0, "a file with a long name to paint over.txt", 6, &row);
    const Rect tree = w.ControlRect(kFolderTree);
    const int y = tree.y + 8;  // on the file list's first row, beside the gap

    QTest::mousePress(win, Qt::LeftButton, {}, QPoint(202, y));
    QCOMPARE(h.app.splitDragging, 1u);
    QCOMPARE(QWidget::mouseGrabber(), static_cast<QWidget*>(&w));
    QCOMPARE(w.cursor().shape(), Qt::SizeHorCursor);
    QCOMPARE(w.InvertedBars(), std::vector<Rect>({{202, tree.y, 4, tree.height}}));

    // Over the file list the moves still come to the window.
    QTest::mouseMove(win, QPoint(400, y));
    QCOMPARE(w.InvertedBars(), std::vector<Rect>({{400, tree.y, 4, tree.height}}));
    const QImage withBar = w.grab().toImage();
    QTest::mouseMove(win, QPoint(500, y + 30));
    QCOMPARE(w.InvertedBars(), std::vector<Rect>({{500, tree.y, 4, tree.height}}));
    const QImage without = w.grab().toImage();
    // Where the bar stood, the second and fourth columns are inverted and
    // the first and third untouched, from its top to its bottom.
    int checked = 0;
    for (int py = tree.y; py < tree.Bottom(); py += 7) {
      QCOMPARE(Pixel(withBar, 400, py), Pixel(without, 400, py));
      QCOMPARE(Pixel(withBar, 401, py), ~Pixel(without, 401, py) & 0xFFFFFFu);
      QCOMPARE(Pixel(withBar, 402, py), Pixel(without, 402, py));
      QCOMPARE(Pixel(withBar, 403, py), ~Pixel(without, 403, py) & 0xFFFFFFu);
      ++checked;
    }
    QVERIFY(checked > 20);
    // Nothing above or below the tree's band is touched.
    QCOMPARE(Pixel(withBar, 401, tree.y - 2), Pixel(without, 401, tree.y - 2));

    QTest::mouseMove(win, QPoint(500, y + 90));  // straight down: the bar stays
    QCOMPARE(w.InvertedBars(), std::vector<Rect>({{500, tree.y, 4, tree.height}}));
    QTest::mouseRelease(win, Qt::LeftButton, {}, QPoint(500, y + 90));
    QCOMPARE(h.app.splitDragging, 0u);
    QCOMPARE(h.app.treeWidth, 490);
    QCOMPARE(w.TreeView()->geometry(), QRect(10, tree.y, 500, tree.height));
    QCOMPARE(w.Control(kFileList)->geometry().x(), 514);
    QCOMPARE(w.Control(kFileList)->geometry().right(), w.width() - 11);
    QVERIFY(w.InvertedBars().empty());
    QVERIFY(w.findChildren<QWidget*>(QStringLiteral("splitBar")).isEmpty());
    QCOMPARE(QWidget::mouseGrabber(), nullptr);

    // The new gap is the splitter now; a press on the old one is a press on
    // the tree, which the window never hears of.
    h.Clear();
    QTest::mouseClick(win, Qt::LeftButton, {}, QPoint(202, y + 200));
    QVERIFY(h.Of(MessageKind::LeftButtonDown).empty());
    QCOMPARE(h.app.splitDragging, 0u);
    QTest::mousePress(win, Qt::LeftButton, {}, QPoint(512, y));
    QCOMPARE(h.app.splitDragging, 1u);
    QTest::mouseRelease(win, Qt::LeftButton, {}, QPoint(30, y));  // too far left: refused
    QCOMPARE(h.app.treeWidth, 490);
    QVERIFY(w.InvertedBars().empty());
  }

  void barOverTheWindowsEdgeIsClippedAndStillErased() {
    QtApp h;
    QVERIFY(h.Show());
    QWindow* win = h.window.windowHandle();
    const int y = h.window.ControlRect(kFolderTree).y + 50;
    QTest::mousePress(win, Qt::LeftButton, {}, QPoint(202, y));
    QTest::mouseMove(win, QPoint(h.window.width() - 2, y));
    const auto bars = h.window.findChildren<QWidget*>(QStringLiteral("splitBar"));
    QCOMPARE(bars.size(), 1);
    QCOMPARE(bars.front()->width(), 2);
    QTest::mouseMove(win, QPoint(h.window.width() + 50, y));
    QVERIFY(h.window.findChildren<QWidget*>(QStringLiteral("splitBar")).isEmpty());
    QTest::mouseRelease(win, Qt::LeftButton, {}, QPoint(h.window.width() + 50, y));
    QCOMPARE(h.app.treeWidth, 180);  // beyond the list's right edge: refused
    QVERIFY(h.window.InvertedBars().empty());
  }
};

}  // namespace tsn

TSN_QT_TEST_MAIN(tsn::SplitterWindowTest)
#include "splitter_window_test.moc"
