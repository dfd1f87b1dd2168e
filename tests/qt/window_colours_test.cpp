// The finished window after a real scan: the colours the drive list, the
// file list and the tree paint in, and the check boxes of tree and list with
// the recount the timers 10000 and 10001 run in the status strip.
#include <QTemporaryDir>
#include <memory>

#include "qt_test_support.h"

namespace tsn {
namespace {
using namespace qttest;
const QColor kInUseGreen(11, 90, 69), kTeal(11, 62, 69), kRed(190, 0, 0), kBlue(0, 0, 190);
}  // namespace

class WindowColoursTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  QString image_;

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    image_ = dir_.filePath(QStringLiteral("colours.img"));
    // "Clean" holds nothing deleted; "Dirty" one live and two deleted files,
    // one of which was emptied before it was deleted ("Bad File Size").
    QVERIFY(MakeFatImage(dir_.path(), QStringLiteral("colours.img"), QStringLiteral("COLOURS"), QStringLiteral(
        "printf 'some bytes\\n' > body; : > empty; mmd -i colours.img ::/Clean ::/Dirty;"
        " mcopy -i colours.img body '::/Clean/kept file.txt'; mcopy -i colours.img body '::/Dirty/live file.txt';"
        " mcopy -i colours.img body '::/Dirty/gone file.txt'; mcopy -i colours.img empty '::/Dirty/empty gone.txt';"
        " mdel -i colours.img '::/Dirty/gone file.txt' '::/Dirty/empty gone.txt'")));
  }

  void aShownWindowFullOfRowsClosesCleanly() {
    // The views lay their rows out once more while the window goes; the
    // pictures they show must still be there, or not be asked for.
    for (int round = 0; round < 3; ++round) {
      auto window = std::make_unique<QtWindow>();
      AppState app;
      app.ui = window.get();
      MainDialogProc(&app, Message{MessageKind::InitDialog});
      window->show();
      QVERIFY(QTest::qWaitForWindowExposed(window.get()));
      // Rows arrive and the window goes before their layout has run, as
      // when the program ends right after a scan has filled the list.
      for (int i = 0; i < 5000; ++i) {
        window->InsertRow(kFileList, i, "row " + std::to_string(i), 6 + i % 7, nullptr);
        window->InsertRow(kLogList, i, "0 -- Status", i % 4, nullptr);
      }
      window->InsertNode(kNoNode, "Root", 4, 5, nullptr, false);
      window.reset();
    }
  }

  void theTreeTheFileListAndTheDriveListPaintInTheirColours() {
    QtApp h;
    QVERIFY(h.ScanImage(image_));
    // The tree: clean folders blue, the rest red, up to the root.
    ItemView* tree = h.window.TreeView();
    PlainFont(tree);
    const QModelIndex root = Folder(tree, {}), clean = Folder(tree, "Clean"), dirty = Folder(tree, "Dirty");
    QVERIFY(clean.isValid() && dirty.isValid());
    QTest::qWait(20);
    QImage image = tree->viewport()->grab().toImage();
    QVERIFY(PixelsOf(image, tree->visualRect(clean), kBlue) > 10);
    QCOMPARE(PixelsOf(image, tree->visualRect(clean), kRed), 0);
    QVERIFY(PixelsOf(image, tree->visualRect(dirty), kRed) > 10);
    QVERIFY(PixelsOf(image, tree->visualRect(root), kRed) > 10);  // it holds a deleted file below

    // The file list: in use green, deleted red, the verdict of a file that
    // may be recovered teal, a problem red throughout.
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, PartOf(h.window, kFolderTree, tree, dirty, HitPart::Label));
    ItemView* list = h.window.ListView(kFileList);
    QCOMPARE(list->model()->rowCount(), 3);
    PlainFont(list);
    for (int c = 0; c < 5; ++c) list->setColumnWidth(c, c == 4 ? 180 : 130);
    QTest::qWait(20);
    image = list->viewport()->grab().toImage();
    const int live = RowNamed(list, "live file.txt"), gone = RowNamed(list, "gone file.txt");
    const int empty = RowNamed(list, "empty gone.txt");
    QVERIFY(live >= 0 && gone >= 0 && empty >= 0);
    QCOMPARE(list->model()->index(gone, 4).data().toString(), QStringLiteral("Recovery may be possible"));
    QCOMPARE(list->model()->index(empty, 4).data().toString(), QStringLiteral("Bad File Size"));
    for (int c = 0; c < 5; ++c) {
      const QRect liveCell = list->visualRect(list->model()->index(live, c));
      const QRect goneCell = list->visualRect(list->model()->index(gone, c));
      const QRect emptyCell = list->visualRect(list->model()->index(empty, c));
      QVERIFY2(PixelsOf(image, liveCell, kInUseGreen) > 5, qPrintable(QString::number(c)));
      QCOMPARE(PixelsOf(image, liveCell, kRed), 0);
      QVERIFY(PixelsOf(image, emptyCell, kRed) > 5);
      QCOMPARE(PixelsOf(image, emptyCell, kTeal), 0);
      QVERIFY(PixelsOf(image, goneCell, c == 4 ? kTeal : kRed) > 5);
      if (c == 4) QCOMPARE(PixelsOf(image, goneCell, kRed), 0);
    }

    // The drive list: the free share green, the used space red, the rest purple.
    ItemView* drives = h.window.ListView(kDriveList);
    PlainFont(drives);
    h.window.SetRowSelected(kDriveList, 0, false);  // a selected row shows the highlight instead
    QTest::qWait(20);
    image = drives->viewport()->grab().toImage();
    const QColor purple(135, 7, 143), green(0, 190, 0);
    QVERIFY(PixelsOf(image, drives->visualRect(drives->model()->index(0, 3)), purple) > 5);
    QVERIFY(PixelsOf(image, drives->visualRect(drives->model()->index(0, 7)), green) > 5);
    QVERIFY(PixelsOf(image, drives->visualRect(drives->model()->index(0, 8)), kRed) > 5);
    QCOMPARE(PixelsOf(image, drives->visualRect(drives->model()->index(0, 7)), purple), 0);
  }

  void ticksInTreeAndListAreRecountedInTheStatusStrip() {
    QtApp h;
    QVERIFY(h.ScanImage(image_));
    QtWindow& w = h.window;
    ItemView* tree = w.TreeView();
    const QModelIndex root = Folder(tree, {}), dirty = Folder(tree, "Dirty"), clean = Folder(tree, "Clean");
    // Show Dirty's files, then tick Clean's box: Clean, its file and Root.
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, PartOf(w, kFolderTree, tree, dirty, HitPart::Label));
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, PartOf(w, kFolderTree, tree, clean, HitPart::CheckBox));
    QCOMPARE(clean.data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    QCOMPARE(root.data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    QCOMPARE(dirty.data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
    const std::string before = w.Text(kFilesText);
    QTRY_COMPARE(w.Text(kDirsText), std::string("DIRS: 1"));
    QCOMPARE(w.Text(kFilesText), std::string("FILES: 1"));
    QCOMPARE(w.Text(kSizeText), std::string("0.00 GB"));
    QVERIFY(before != w.Text(kFilesText));  // not before the timer ran
    // Tick one of Dirty's files in the list: Dirty is checked with it.
    ItemView* list = w.ListView(kFileList);
    QCOMPARE(list->model()->rowCount(), 3);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      PartOf(w, kFileList, list, list->model()->index(0, 0), HitPart::CheckBox));
    QCOMPARE(list->model()->index(0, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    QCOMPARE(dirty.data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    QTRY_COMPARE(w.Text(kDirsText), std::string("DIRS: 2"));
    QCOMPARE(w.Text(kFilesText), std::string("FILES: 2"));
    // Clearing the tree's Root clears everything.
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, PartOf(w, kFolderTree, tree, root, HitPart::CheckBox));
    QTRY_COMPARE(w.Text(kFilesText), std::string("FILES: 0"));
    QCOMPARE(w.Text(kDirsText), std::string("DIRS: 0"));
    QCOMPARE(list->model()->index(0, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
  }
};

}  // namespace tsn

TSN_QT_TEST_MAIN(tsn::WindowColoursTest)
#include "window_colours_test.moc"
