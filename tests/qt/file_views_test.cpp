// The file list and its neighbours as a user works them, on real widgets
// over images made with mkfs.fat and mtools: header clicks sort, the
// filters hide rows and never touch ticks, the preview reads a file's bytes
// and draws a deleted JPEG (made by Qt's own writer), the drive list names
// each source and counts those it could not read, Help opens inside the
// program, sizes are kept between runs, names in every script are drawn;
// the window worked from the keyboard alone (Space ticks as a click does,
// the keys choose the folder and the drive, "Copy files" takes what was
// ticked); and "Print" through its dialog and the command line's PDF, read
// back with pdftotext.
#include <QCheckBox>
#include <QGlyphRun>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QRawFont>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTextLayout>

#include "app/splitter.h"
#include "core/entry_records.h"
#include "qt_test_support.h"
#include "ui/qt/preview_pane.h"

namespace tsn {
namespace {
using namespace qttest;

QStringList Shown(ItemView* view, int column = 0) {
  QStringList out;
  for (int r = 0; r < view->model()->rowCount(); ++r) out << view->model()->index(r, column).data().toString();
  return out;
}

// A deleted 8.3 name has lost its first letter: the list shows a stand-in.
bool SameName(const QString& shown, const QString& name) {
  return shown == name || (name.startsWith(QLatin1Char('?')) && shown.mid(1) == name.mid(1));
}

QModelIndex ShownRow(ItemView* view, const QString& name) {
  for (int r = 0; r < view->model()->rowCount(); ++r)
    if (SameName(view->model()->index(r, 0).data().toString(), name)) return view->model()->index(r, 0);
  return {};
}

void Compare(const QStringList& shown, const QStringList& expected) {
  QCOMPARE(shown.size(), expected.size());
  for (int i = 0; i < shown.size(); ++i) QVERIFY2(SameName(shown[i], expected[i]), qPrintable(shown.join(' ')));
}

// What the program holds ticked, whatever the view shows.
QStringList Ticked(const QtWindow& w) {
  QStringList out;
  for (int r = 0; r < w.RowCount(kFileList); ++r) {
    const auto* f = static_cast<const FoundFile*>(w.RowData(kFileList, r));
    if (f->checkState != kCheckTicked || w.RowCheck(kFileList, r) != kChecked) continue;
    const QString name = QString::fromUtf8(f->name.data(), static_cast<qsizetype>(f->name.size()));
    out << (f->firstCharLost ? QStringLiteral("?") + name.mid(1) : name);
  }
  return out;
}

void ClickHeader(ItemView* view, int column) {
  QHeaderView* header = view->header();
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                    QPoint(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                           header->height() / 2));
}

// The deleted files' names on each page of a PDF, as pdftotext lays it out;
// empty when a page lacks the report's header.
QList<QStringList> NamesByPage(const QString& pdf, const QStringList& names) {
  QStringList pages = Run(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")})
                          .split(QLatin1Char('\f'));
  if (!pages.isEmpty() && pages.back().trimmed().isEmpty()) pages.pop_back();
  QList<QStringList> out;
  for (const QString& page : pages) {
    const QStringList lines = page.split(QLatin1Char('\n'));
    if (lines.size() < 4 || lines[0].trimmed() != QStringLiteral("Tessilon ver 5.03222.05") ||
        lines[1].trimmed() != QStringLiteral("Deleted File Report") ||
        lines[2].trimmed() != QStringLiteral("File Name") || !lines[3].contains(QStringLiteral("Modified Data")))
      return {};
    out << QStringList();
    for (const QString& line : lines)
      if (names.contains(line.trimmed())) out.back() << line.trimmed();
  }
  return out;
}

// Every deleted file once and in order, on pages that hold the same number
// of rows but the last: none lost or repeated at a page break.
void CheckPages(const QList<QStringList>& pages, const QStringList& names) {
  QVERIFY2(pages.size() > 1, "the report fits no single page");
  QStringList all;
  for (const QStringList& page : pages) {
    if (&page != &pages.back()) QCOMPARE(page.size(), pages.front().size());
    all << page;
  }
  QCOMPARE(all, names);
}
}  // namespace

class FileViewsTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  QString image_, keys_, report_;
  QByteArray letter_;
  QStringList deleted_;  // the report image's deleted files, in the report's order

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    image_ = dir_.filePath(QStringLiteral("views.img"));
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(QColor(30, 120, 200));
    QPainter(&picture).fillRect(0, 0, 32, 24, Qt::yellow);
    QVERIFY(picture.save(dir_.filePath(QStringLiteral("photo.jpg")), "JPEG", 90));
    letter_ = QByteArray("Hello preview, this is the letter.\n").repeated(30);  // 1050 bytes
    QFile letter(dir_.filePath(QStringLiteral("a.txt")));
    QVERIFY(letter.open(QIODevice::WriteOnly) && letter.write(letter_) == letter_.size());
    letter.close();
    // Sizes whose text order is not their number order, and times whose
    // "MM-DD-YYYY" text order is not their time order.
    QVERIFY(MakeFatImage(dir_.path(), QStringLiteral("views.img"), QStringLiteral("VIEWS"), QStringLiteral(
        "head -c 100 /dev/urandom > b.txt; head -c 20000 /dev/urandom > c.bin;"
        " touch -d '2019-12-01 10:00' a.txt; touch -d '2021-01-05 10:00' b.txt; touch -d '2020-06-15 10:00' c.bin;"
        " touch -d '2022-03-03 10:00' photo.jpg;"
        " mmd -i views.img ::/Docs ::/Keep; mcopy -m -i views.img a.txt b.txt c.bin photo.jpg ::/Docs/;"
        " mcopy -m -i views.img b.txt ::/Keep/b.txt;"
        // A deleted file whose clusters a later file took: the FSInfo hint
        // forgotten, the next files start at the first free cluster.
        " head -c 3000 /dev/urandom > old.bin; head -c 5000 /dev/urandom > new.bin;"
        " mmd -i views.img ::/Old; mcopy -i views.img old.bin ::/Old/old.bin; mdel -i views.img ::/Old/old.bin;"
        " printf '\\xff\\xff\\xff\\xff' | dd of=views.img bs=1 seek=1004 conv=notrunc status=none;"
        " mmd -i views.img ::/Later; mcopy -i views.img new.bin ::/Later/new.bin;"
        " mdel -i views.img ::/Docs/photo.jpg")));
    // Root: top.txt. Docs: letter.txt, and Old below it with draft.txt.
    // Photos: beach.jpg, and "gone photo.jpg", deleted.
    keys_ = dir_.filePath(QStringLiteral("keys.img"));
    QVERIFY(MakeFatImage(dir_.path(), QStringLiteral("keys.img"), QStringLiteral("KEYS"), QStringLiteral(
        "head -c 100 /dev/urandom > top.txt; head -c 500 /dev/urandom > letter.txt;"
        " head -c 700 /dev/urandom > draft.txt; head -c 3000 /dev/urandom > beach.jpg;"
        " head -c 2000 /dev/urandom > 'gone photo.jpg';"
        " mmd -i keys.img ::/Docs ::/Docs/Old ::/Photos; mcopy -i keys.img top.txt ::/top.txt;"
        " mcopy -i keys.img letter.txt ::/Docs/letter.txt; mcopy -i keys.img draft.txt ::/Docs/Old/draft.txt;"
        " mcopy -i keys.img beach.jpg ::/Photos/beach.jpg; mcopy -i keys.img 'gone photo.jpg' '::/Photos/gone photo.jpg';"
        " mdel -i keys.img '::/Photos/gone photo.jpg'")));
    report_ = dir_.filePath(QStringLiteral("report.img"));
    deleted_ = RunBash(QStringLiteral("bash '" TESSILON_SOURCE_DIR "/tests/fixtures/make_report_image.sh' '%1'").arg(report_))
                   .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(deleted_.size(), 60);
  }

  void headersSortAndFiltersNeverChangeTicks() {
    QtApp h;
    QVERIFY(h.ScanImage(image_));
    QtWindow& w = h.window;
    ItemView* tree = w.TreeView();
    ItemView* list = h.OpenFolder("Docs");
    QCOMPARE(Shown(list).size(), 4);

    const struct {
      int column;
      QStringList order;
    } sorts[] = {
        {1, {"b.txt", "?hoto.jpg", "a.txt", "c.bin"}},   // 100, the photo, 1050, 20000: by number
        {1, {"c.bin", "a.txt", "?hoto.jpg", "b.txt"}},   // again: the other way
        {3, {"a.txt", "c.bin", "b.txt", "?hoto.jpg"}},   // modified: 2019, 2020, 2021, 2022
        {4, {"a.txt", "b.txt", "c.bin", "?hoto.jpg"}},   // equal states keep the program's order
    };
    // The photo's size puts it between the text files.
    const qint64 photoSize = QFileInfo(dir_.filePath(QStringLiteral("photo.jpg"))).size();
    QVERIFY2(photoSize > 100 && photoSize < 1050, qPrintable(QString::number(photoSize)));
    for (const auto& s : sorts) {
      ClickHeader(list, s.column);
      Compare(Shown(list), s.order);
    }

    // Tick two files with Space, wherever the order put them.
    for (const char* name : {"b.txt", "?hoto.jpg"}) {
      list->setCurrentIndex(ShownRow(list, QString::fromLatin1(name)));
      QTest::keyClick(list, Qt::Key_Space);
    }
    const QStringList ticked{"b.txt", "?hoto.jpg"};
    QCOMPARE(Ticked(w), ticked);

    const struct {
      bool deletedOnly;
      const char* search;
      QStringList shown;
    } filters[] = {
        {true, "", {"?hoto.jpg"}},
        {false, "*.txt", {"a.txt", "b.txt"}},
        {false, "HOTO", {"?hoto.jpg"}},
        {true, "*.txt", {}},
        {false, "", {"a.txt", "b.txt", "c.bin", "?hoto.jpg"}},
    };
    for (const auto& f : filters) {
      w.DeletedOnlyBox()->setChecked(f.deletedOnly);
      w.NameFilterBox()->clear();
      QTest::keyClicks(w.NameFilterBox(), QString::fromLatin1(f.search));
      ClickHeader(list, 0);  // in name order, as sorted by a click on Name
      if (list->header()->sortIndicatorOrder() != Qt::AscendingOrder) ClickHeader(list, 0);
      Compare(Shown(list), f.shown);
      QCOMPARE(Ticked(w), ticked);
    }
    // Space on a row the filter left: the program's row of that file.
    w.NameFilterBox()->setText(QStringLiteral("a.t"));
    list->setCurrentIndex(list->model()->index(0, 0));
    QTest::keyClick(list, Qt::Key_Space);
    QCOMPARE(Ticked(w), QStringList({"a.txt", "b.txt", "?hoto.jpg"}));

    // The tree keeps the folders that hold something deleted, and the way to them.
    QVERIFY(Folder(tree, "Keep").isValid());
    w.DeletedFoldersBox()->setChecked(true);
    QVERIFY(Folder(tree, "Docs").isValid());
    QVERIFY(!Folder(tree, "Keep").isValid());
    w.DeletedFoldersBox()->setChecked(false);
    QVERIFY(Folder(tree, "Keep").isValid());
    QCOMPARE(QString::fromStdString(w.NodeLabel(w.SelectedNode())), QStringLiteral("Docs"));
  }

  void previewShowsBytesAndPictures() {
    QtApp h;
    QVERIFY(h.ScanImage(image_));
    QtWindow& w = h.window;
    ItemView* list = h.OpenFolder("Docs");
    PreviewPane* pane = w.Preview();

    list->setCurrentIndex(ShownRow(list, QStringLiteral("a.txt")));
    QVERIFY(!pane->ShowsPicture());
    const QString hex = pane->Hex()->toPlainText();
    // The first line: offset, "Hello pr..." in hex, and as text.
    QVERIFY2(hex.startsWith(QStringLiteral("00000000  48 65 6c 6c 6f 20 70 72 65 76 69 65 77 2c 20 74  Hello preview, t")),
             qPrintable(hex.left(90)));
    QCOMPARE(hex.count(QLatin1Char('\n')), (letter_.size() + 15) / 16);
    QCOMPARE(pane->Verdict()->text(), QStringLiteral("Active"));

    // The deleted JPEG, drawn as a picture with its verdict beside it.
    list->setCurrentIndex(ShownRow(list, QStringLiteral("?hoto.jpg")));
    QVERIFY2(pane->ShowsPicture(), qPrintable(pane->Title()->text() + pane->Note()->text() + pane->Hex()->toPlainText().left(200)));
    QVERIFY(!pane->Picture()->pixmap().isNull());
    QCOMPARE(pane->Verdict()->text(), QStringLiteral("Recovery may be possible"));
    QVERIFY(pane->Title()->text().contains(QStringLiteral("hoto.jpg (")));
    QVERIFY(pane->Owners()->text().isEmpty());

    // A deleted file whose clusters a live file took names it.
    h.OpenFolder("Old");
    list->setCurrentIndex(ShownRow(list, QStringLiteral("?ld.bin")));
    QCOMPARE(pane->Verdict()->text(), QStringLiteral("Chain is in use"));
    QCOMPARE(pane->Owners()->text(),
             QStringLiteral("Overwritten by /Later, /Later/new.bin; 0.0% of its clusters are still free."));
    h.OpenFolder("Docs");
    list->setCurrentIndex(ShownRow(list, QStringLiteral("?hoto.jpg")));

    // Hidden, it reads nothing; shown again, it catches up.
    QTest::keyClick(&w, Qt::Key_F3);
    QVERIFY(!w.PreviewShown());
    list->setCurrentIndex(ShownRow(list, QStringLiteral("a.txt")));
    QVERIFY(pane->ShowsPicture());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(ShownRow(list, QStringLiteral("a.txt"))).center());
    QTRY_VERIFY(w.PreviewShown());  // the double click is answered from the event loop
    QVERIFY(pane->Hex()->toPlainText().startsWith(QStringLiteral("00000000  48 65")));
  }

  void driveListNamesSourcesAndCountsTheUnreadable() {
    QtApp h;
    const QString missing = dir_.filePath(QStringLiteral("no-such.img"));
    QCOMPARE(h.ListImages({image_, missing, QStringLiteral("/proc/self/no-such-either")}), 1);
    QVERIFY(QString::fromStdString(h.window.RowText(kDriveList, 0, 9)).contains(image_));
    QTRY_COMPARE(h.window.Text(kSourcesText), std::string("2 sources could not be read: see the log"));
    int errors = 0;
    for (int r = 0; r < h.window.RowCount(kLogList); ++r)
      if (*static_cast<const std::uint32_t*>(h.window.RowData(kLogList, r)) == kError &&
          QString::fromStdString(h.window.RowText(kLogList, r, 1)).contains(QStringLiteral("no-such")))
        ++errors;
    QCOMPARE(errors, 2);
    // The line stays until the next mapping, which has nothing to say.
    QCOMPARE(h.ListImages({image_}), 1);
    QTRY_COMPARE(h.window.Text(kSourcesText), std::string());
  }

  void helpOpensInsideTheProgram() {
    QtApp h;
    h.app.helpPath = TESSILON_SOURCE_DIR "/docs/help.html";
    h.window.SetHelpInWindow(true);
    QVERIFY(h.Show());
    QTest::keyClick(&h.window, Qt::Key_F1);
    QTextBrowser* help = h.window.HelpBrowser();
    QVERIFY(help != nullptr);
    QVERIFY(help->window()->isVisible());
    QVERIFY(help->toPlainText().contains(QStringLiteral("How do I...?")));
    QVERIFY(help->toPlainText().contains(QStringLiteral("memory card")));
    h.app.helpPath = "/nonexistent/help.html";
    QTest::keyClick(&h.window, Qt::Key_F1);
    QVERIFY(QString::fromStdString(h.window.RowText(kLogList, h.window.RowCount(kLogList) - 1, 1))
                .contains(QStringLiteral("could not be opened")));
  }

  // Deleted files named in Japanese, Greek, Cyrillic and with an emoji are
  // drawn with a glyph for every character: the list's font, or one Qt falls
  // back to among those installed, has each (glyph 0 is the empty box of a
  // character no font has).
  void namesInEveryScriptAreDrawnWithAGlyphForEachCharacter() {
    const QString image = dir_.filePath(QStringLiteral("scripts.img"));
    const QStringList deleted = RunBash(QStringLiteral("bash '%1/tests/fixtures/make_scripts_image.sh' '%2'")
                                            .arg(QStringLiteral(TESSILON_SOURCE_DIR), image))
                                    .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(deleted.size(), 5);
    QtApp h;
    QVERIFY(h.ScanImage(image));
    ItemView* list = h.OpenFolder(QString());
    for (const QString& name : deleted) {
      QVERIFY2(RowNamed(list, name) >= 0, qPrintable(name + QStringLiteral(" is not listed")));
      QTextLayout layout(name, list->font());
      layout.beginLayout();
      layout.createLine();
      layout.endLayout();
      qsizetype glyphs = 0;
      for (const QGlyphRun& run : layout.glyphRuns()) {
        QVERIFY2(!run.glyphIndexes().contains(0u), qPrintable(name + QStringLiteral(": a character has no glyph in ") +
                                                              run.rawFont().familyName()));
        glyphs += run.glyphIndexes().size();
      }
      QVERIFY2(glyphs >= name.size() / 2, qPrintable(name));
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
    QtWindow& w = h.window;
    QCOMPARE(w.size(), QSize(900, 640));
    QCOMPARE(h.app.treeWidth, 250);
    QCOMPARE(w.ColumnWidth(kFileList, 1), 123);
    QVERIFY(!w.PreviewShown());
  }

  void keysInTheTreeChangeTheListedFolder() {
    QtApp h;
    QVERIFY(h.ScanImage(keys_));
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
      QStringList listed = Shown(h.window.ListView(kFileList));
      listed.sort();
      QCOMPARE(listed, step.files);
    }
  }

  // Space ticks as a click on the box does: marks spread, the recount runs,
  // and Ctrl+Shift+C copies exactly what was ticked.
  void spaceTicksWhatAClickTicksAndCopyTakesExactlyThat() {
    QtApp h;
    QVERIFY(h.ScanImage(keys_));
    QtWindow& w = h.window;
    ItemView* tree = w.TreeView();
    const QModelIndex folders[] = {Folder(tree, {}), Folder(tree, "Docs"), Folder(tree, "Docs/Old"),
                                   Folder(tree, "Photos")};
    const auto marks = [&folders] {
      QList<int> out;
      for (const QModelIndex& f : folders) out << f.data(Qt::CheckStateRole).toInt();
      return out;
    };
    // Space on Docs: Docs, the folder below it and Root are ticked, and the
    // files of Docs and of Old with them.
    QTest::keyClick(tree, Qt::Key_Home);
    QTest::keyClick(tree, Qt::Key_Down);
    QTest::keyClick(tree, Qt::Key_Space);
    QCOMPARE(marks(), QList<int>({Qt::Checked, Qt::Checked, Qt::Checked, Qt::Unchecked}));
    QCOMPARE(Ticked(w), QStringList{"letter.txt"});
    QTRY_COMPARE(w.Text(kFilesText), std::string("FILES: 2"));
    QCOMPARE(w.Text(kDirsText), std::string("DIRS: 2"));

    // Space on the deleted file in Photos' list: the file and Photos.
    QTest::keyClick(tree, Qt::Key_End);
    ItemView* list = w.ListView(kFileList);
    QTest::keyClick(list, Qt::Key_Home);
    if (w.RowText(kFileList, 0, 0) != "gone photo.jpg") QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Space);
    QCOMPARE(Ticked(w), QStringList{"gone photo.jpg"});
    QCOMPARE(marks().back(), int(Qt::Checked));
    QTRY_COMPARE(w.Text(kFilesText), std::string("FILES: 3"));
    QCOMPARE(w.Text(kDirsText), std::string("DIRS: 3"));
    // Space again unticks it, and the recount follows each time.
    QTest::keyClick(list, Qt::Key_Space);
    QVERIFY(Ticked(w).isEmpty());
    QTRY_COMPARE(w.Text(kFilesText), std::string("FILES: 2"));
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
    const QString copied = RunBash(QStringLiteral("cd '%1' && find . -type f -printf '%P\\n' | LC_ALL=C sort &&"
                                                  " cmp Docs/letter.txt '%2/letter.txt' && cmp Docs/Old/draft.txt '%2/draft.txt' &&"
                                                  " cmp 'Photos/gone photo.jpg' '%2/gone photo.jpg'")
                                       .arg(out.path(), dir_.path()));
    QCOMPARE(copied.split(QLatin1Char('\n'), Qt::SkipEmptyParts),
             QStringList({"Docs/Old/draft.txt", "Docs/letter.txt", "MD5SUMS", "Photos/gone photo.jpg", "SHA256SUMS",
                          "tessilon-manifest.csv"}));
  }

  void keysInTheDriveListChooseTheDriveTheScanUses() {
    QtApp h;
    QCOMPARE(h.ListImages({keys_, QStringLiteral(TESSILON_DEMO_IMAGE)}), 2);
    h.window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&h.window));
    ItemView* drives = h.window.ListView(kDriveList);
    QAbstractItemModel* model = drives->model();
    QCOMPARE(model->headerData(3, Qt::Horizontal).toString(), QStringLiteral("FS Type"));
    QCOMPARE(model->index(1, 2).data().toString(), QStringLiteral("TESSDEMO"));
    QCOMPARE(h.app.currentDrive, nullptr);
    const auto chosen = [&h](int row) {
      return h.app.currentDrive == h.window.RowData(kDriveList, row) && h.window.IsRowSelected(kDriveList, row);
    };
    QTest::mouseClick(drives->viewport(), Qt::LeftButton, {}, drives->visualRect(model->index(0, 1)).center());
    QVERIFY(chosen(0));
    // Down, then F5: the indexed scan reads the demo image, not the one clicked.
    QTest::keyClick(drives, Qt::Key_Down);
    QVERIFY(chosen(1));
    QTest::keyClick(drives, Qt::Key_F5);
    QCOMPARE(h.app.lastScanResult, 1);
    QAbstractItemModel* tree = h.window.TreeView()->model();
    QVERIFY(Child(tree, tree->index(0, 0), QStringLiteral("Pictures")).isValid());
    QVERIFY(!Child(tree, tree->index(0, 0), QStringLiteral("Photos")).isValid());
    // Home: back to the first drive, whose view starts empty; Shift+F5 runs
    // the quick scan there, which lists the deleted photo under Root.
    QTest::keyClick(drives, Qt::Key_Home);
    QVERIFY(chosen(0));
    QCOMPARE(tree->rowCount(), 0);
    QCOMPARE(h.window.RowCount(kFileList), 0);
    QTest::keyClick(drives, Qt::Key_F5, Qt::ShiftModifier);
    QCOMPARE(h.app.lastScanResult, 1);
    QVERIFY(Shown(h.window.ListView(kFileList)).contains(QStringLiteral("gone photo.jpg")));
    QTest::keyClick(drives, Qt::Key_End);
    QVERIFY(chosen(1));
  }

  // "Print": cancelled, the dialog prints nothing; accepted, it prints the
  // report. Whatever comes up after it (a message box would) is noted and
  // closed, so a wrong one cannot hang the test.
  void printsThroughTheDialogToAPdfFileAndNothingWhenCancelled() {
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
    CheckPages(NamesByPage(pdf, deleted_), deleted_);
  }

  void commandLinePdfIsA4AndHoldsEveryRow() {
    const QString pdf = dir_.filePath(QStringLiteral("cli.pdf"));
    int status = -1;
    Run(QStringLiteral(TESSILON_CLI), {QStringLiteral("report"), report_, QStringLiteral("--out"), pdf}, &status);
    QCOMPARE(status, 0);
    CheckPages(NamesByPage(pdf, deleted_), deleted_);
    const QString info = Run(QStringLiteral("pdfinfo"), {pdf});
    QVERIFY2(info.contains(QStringLiteral("595 x 842 pts")), qPrintable(info));
  }
};

}  // namespace tsn

TSN_QT_TEST_MAIN(tsn::FileViewsTest)
#include "file_views_test.moc"
