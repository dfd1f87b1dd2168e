// The window worked from the keyboard alone, with real key events on the
// real widgets: Space ticks as a click on the box does (marks spread, the
// recount runs, "Copy files" takes what was ticked), the keys that move the
// selection of the drive list and the tree choose the drive and the listed
// folder, and the toolbar's commands have their keys.
#include <QDirIterator>
#include <QTemporaryDir>

#include "qt_test_support.h"
#include "core/entry_records.h"

namespace tsn {
namespace {
using namespace qttest;

QStringList ListedFiles(const QtWindow& w) {
  QStringList names;
  for (int r = 0; r < w.RowCount(kFileList); ++r) names << QString::fromStdString(w.RowText(kFileList, r, 0));
  return names;
}

const FoundFile* FileInList(const QtWindow& w, const QString& name) {
  for (int r = 0; r < w.RowCount(kFileList); ++r)
    if (QString::fromStdString(w.RowText(kFileList, r, 0)) == name)
      return static_cast<const FoundFile*>(w.RowData(kFileList, r));
  return nullptr;
}

int Mark(const QModelIndex& index) { return index.data(Qt::CheckStateRole).toInt(); }

bool TimerRan(const QtApp& h, int id) {
  for (const Message& m : h.Of(MessageKind::Timer))
    if (m.id == id) return true;
  return false;
}

// Every file below a folder, as paths relative to it.
QStringList FilesBelow(const QString& folder) {
  QStringList out;
  QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
  while (it.hasNext()) out << QDir(folder).relativeFilePath(it.next());
  out.sort();
  return out;
}

QByteArray ContentOf(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString SelectedDriveVolume(const QtWindow& w) {
  for (int r = 0; r < w.RowCount(kDriveList); ++r)
    if (w.IsRowSelected(kDriveList, r)) return QString::fromStdString(w.RowText(kDriveList, r, 2));
  return {};
}
}  // namespace

class KeyboardWindowTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  QString image_;

  QString Original(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    image_ = dir_.filePath(QStringLiteral("keys.img"));
    // Root: top.txt. Docs: letter.txt, and Old below it with draft.txt.
    // Photos: beach.jpg, and "gone photo.jpg", deleted.
    QVERIFY(MakeFatImage(dir_.path(), QStringLiteral("keys.img"), QStringLiteral("KEYS"), QStringLiteral(
        "head -c 100 /dev/urandom > top.txt; head -c 500 /dev/urandom > letter.txt;"
        " head -c 700 /dev/urandom > draft.txt; head -c 3000 /dev/urandom > beach.jpg;"
        " head -c 2000 /dev/urandom > 'gone photo.jpg';"
        " mmd -i keys.img ::/Docs ::/Docs/Old ::/Photos; mcopy -i keys.img top.txt ::/top.txt;"
        " mcopy -i keys.img letter.txt ::/Docs/letter.txt; mcopy -i keys.img draft.txt ::/Docs/Old/draft.txt;"
        " mcopy -i keys.img beach.jpg ::/Photos/beach.jpg; mcopy -i keys.img 'gone photo.jpg' '::/Photos/gone photo.jpg';"
        " mdel -i keys.img '::/Photos/gone photo.jpg'")));
  }

  void keysInTheTreeChangeTheListedFolder() {
    QtApp h;
    QVERIFY(h.ScanImage(image_));
    ItemView* tree = h.window.TreeView();
    // Root, Docs, Old, Photos, each listing its own files as it becomes the
    // selected node; Home, End and a typed letter move as the arrows do.
    const struct {
      Qt::Key key;
      const char* node;
      QStringList files;
    } steps[] = {
        {Qt::Key_Home, "Root", {"KEYS", "top.txt"}},  // the volume label is listed too
        {Qt::Key_Down, "Docs", {"letter.txt"}},
        {Qt::Key_Down, "Old", {"draft.txt"}},
        {Qt::Key_Down, "Photos", {"beach.jpg", "gone photo.jpg"}},
        {Qt::Key_Up, "Old", {"draft.txt"}},
        {Qt::Key_End, "Photos", {"beach.jpg", "gone photo.jpg"}},
        {Qt::Key_PageUp, "Root", {"KEYS", "top.txt"}},
        {Qt::Key_D, "Docs", {"letter.txt"}},
    };
    for (const auto& step : steps) {
      QTest::keyClick(tree, step.key);
      QCOMPARE(QString::fromStdString(h.window.NodeLabel(h.window.SelectedNode())), QString::fromLatin1(step.node));
      QStringList listed = ListedFiles(h.window);
      listed.sort();
      QCOMPARE(listed, step.files);
    }
  }

  void spaceTicksWhatAClickTicksAndCopyTakesExactlyThat() {
    QtApp h;
    QVERIFY(h.ScanImage(image_));
    QtWindow& w = h.window;
    ItemView* tree = w.TreeView();
    const QModelIndex root = Folder(tree, {}), docs = Folder(tree, "Docs"), old = Folder(tree, "Docs/Old");
    const QModelIndex photos = Folder(tree, "Photos");
    QVERIFY(docs.isValid() && old.isValid() && photos.isValid());

    // Space on Docs: Docs, the folder below it and Root are ticked, and the
    // files of Docs and of Old with them.
    QTest::keyClick(tree, Qt::Key_Home);
    QTest::keyClick(tree, Qt::Key_Down);
    QCOMPARE(ListedFiles(w), QStringList{"letter.txt"});
    h.Clear();
    QTest::keyClick(tree, Qt::Key_Space);
    QCOMPARE(Mark(docs), int(Qt::Checked));
    QCOMPARE(Mark(old), int(Qt::Checked));
    QCOMPARE(Mark(root), int(Qt::Checked));
    QCOMPARE(Mark(photos), int(Qt::Unchecked));
    QCOMPARE(FileInList(w, "letter.txt")->checkState, kCheckTicked);
    QCOMPARE(w.RowCheck(kFileList, 0), kChecked);  // the list shows the tick
    QTRY_VERIFY(TimerRan(h, kTimerTreeCheck));
    QCOMPARE(w.Text(kDirsText), std::string("DIRS: 2"));
    QCOMPARE(w.Text(kFilesText), std::string("FILES: 2"));

    // Space on the deleted file in Photos' list: the file and Photos.
    QTest::keyClick(tree, Qt::Key_End);
    ItemView* list = w.ListView(kFileList);
    QTest::keyClick(list, Qt::Key_Home);
    if (w.RowText(kFileList, 0, 0) != "gone photo.jpg") QTest::keyClick(list, Qt::Key_Down);
    h.Clear();
    QTest::keyClick(list, Qt::Key_Space);
    const FoundFile* gone = FileInList(w, "gone photo.jpg");
    QCOMPARE(gone->checkState, kCheckTicked);
    QCOMPARE(FileInList(w, "beach.jpg")->checkState, kCheckUntouched);
    QCOMPARE(Mark(photos), int(Qt::Checked));
    QTRY_VERIFY(TimerRan(h, kTimerListCheck));
    QCOMPARE(w.Text(kDirsText), std::string("DIRS: 3"));
    QCOMPARE(w.Text(kFilesText), std::string("FILES: 3"));
    // Space again unticks it, and the recount follows again.
    h.Clear();
    QTest::keyClick(list, Qt::Key_Space);
    QCOMPARE(gone->checkState, kCheckCleared);
    QTRY_VERIFY(TimerRan(h, kTimerListCheck));
    QCOMPARE(w.Text(kFilesText), std::string("FILES: 2"));
    QTest::keyClick(list, Qt::Key_Space);
    QTRY_COMPARE(w.Text(kFilesText), std::string("FILES: 3"));

    // Ctrl+Shift+C: "Copy files" asks for a folder and copies the three.
    const QTemporaryDir out;
    QVERIFY(out.isValid());
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    FileDialogSeen seen;
    const WhenModal answer(TypeIntoFileDialog(out.path(), &seen));
    QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(seen.title, QStringLiteral("Copy the ticked files to"));
    QVERIFY(seen.nameField);
    QCOMPARE(h.app.lastCopyResult, 1);
    // The ticked files, and beside them the manifest that hashes them.
    QCOMPARE(FilesBelow(out.path()), QStringList({"Docs/Old/draft.txt", "Docs/letter.txt", "MD5SUMS",
                                                  "Photos/gone photo.jpg", "SHA256SUMS", "tessilon-manifest.csv"}));
    QCOMPARE(ContentOf(out.filePath("Docs/letter.txt")), ContentOf(Original("letter.txt")));
    QCOMPARE(ContentOf(out.filePath("Docs/Old/draft.txt")), ContentOf(Original("draft.txt")));
    QCOMPARE(ContentOf(out.filePath("Photos/gone photo.jpg")), ContentOf(Original("gone photo.jpg")));
  }

  void keysInTheDriveListChooseTheDriveTheScanUses() {
    QtApp h;
    QCOMPARE(h.ListImages({image_, QStringLiteral(TESSILON_DEMO_IMAGE)}), 2);
    h.window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&h.window));
    ItemView* drives = h.window.ListView(kDriveList);
    const auto driveOf = [&](int row) { return static_cast<LOGDRIVE_INFO*>(h.window.RowData(kDriveList, row)); };
    QTest::mouseClick(drives->viewport(), Qt::LeftButton, {},
                      drives->visualRect(drives->model()->index(0, 1)).center());
    QCOMPARE(h.app.currentDrive, driveOf(0));
    QCOMPARE(SelectedDriveVolume(h.window), QStringLiteral("KEYS"));

    // Down, then F5: the indexed scan reads the demo image, not the one clicked.
    QTest::keyClick(drives, Qt::Key_Down);
    QCOMPARE(h.app.currentDrive, driveOf(1));
    QCOMPARE(SelectedDriveVolume(h.window), QStringLiteral("TESSDEMO"));
    QTest::keyClick(drives, Qt::Key_F5);
    QCOMPARE(h.app.lastScanResult, 1);
    QAbstractItemModel* tree = h.window.TreeView()->model();
    QCOMPARE(tree->rowCount(), 1);
    QVERIFY(Child(tree, tree->index(0, 0), QStringLiteral("Pictures")).isValid());
    QVERIFY(!Child(tree, tree->index(0, 0), QStringLiteral("Photos")).isValid());

    // Home: back to the first drive, whose view starts empty; Shift+F5 runs
    // the quick scan there, which lists the deleted photo under Root.
    QTest::keyClick(drives, Qt::Key_Home);
    QCOMPARE(h.app.currentDrive, driveOf(0));
    QCOMPARE(tree->rowCount(), 0);
    QCOMPARE(h.window.RowCount(kFileList), 0);
    QTest::keyClick(drives, Qt::Key_F5, Qt::ShiftModifier);
    QCOMPARE(h.app.lastScanResult, 1);
    QVERIFY(ListedFiles(h.window).contains(QStringLiteral("gone photo.jpg")));
    // End moves as Down did.
    QTest::keyClick(drives, Qt::Key_End);
    QCOMPARE(h.app.currentDrive, driveOf(1));
  }
};

}  // namespace tsn

TSN_QT_TEST_MAIN(tsn::KeyboardWindowTest)
#include "keyboard_window_test.moc"
