// Sources the user brings to the window: "Open image" beside the toolbar,
// Ctrl+O, and image files dropped on the window. Each joins the drive list.
#include <cstdlib>

#include <QDialog>
#include <QDropEvent>
#include <QMimeData>
#include <QTemporaryDir>
#include <QToolButton>
#include <QUrl>

#include "qt_test_support.h"

namespace tsn {
namespace {
using qttest::QtApp;
using qttest::FileDialogSeen;
using qttest::TypeIntoFileDialog;
using qttest::WhenModal;

void NoDevices(AppState& app) { app.sources.scanDevices = false; }

// Drags data onto the window and drops it there, as the window system
// delivers a drop; returns whether the window took it.
bool Drop(QWidget* target, QMimeData* data) {
  const QPoint at(300, 300);
  QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  if (!enter.isAccepted()) return false;
  QDropEvent drop(QPointF(at), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
  return drop.isAccepted();
}
}  // namespace

class OpenImageTest : public QObject {
  Q_OBJECT

 private slots:
  // Examiners hold E01s and virtual disks: the dialog offers them beside raw
  // images, and one chosen joins the list as a raw image does.
  void openImageAddsTheChosenFileAndBuildsTheDriveList() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString e01 = dir.filePath(QStringLiteral("demo.E01"));
    for (const QString& image : {QStringLiteral(TESSILON_DEMO_IMAGE), e01}) {
      const std::string acquire = "ewfacquire -u -q -c deflate:fast -t '" + dir.filePath("demo").toStdString() +
                                  "' '" TESSILON_DEMO_IMAGE "' >/dev/null 2>&1";
      if (image == e01 && std::system(acquire.c_str()) != 0) QSKIP("ewfacquire could not make an E01 here");
      QtApp h;
      NoDevices(h.app);
      QVERIFY(h.Show());
      FileDialogSeen seen;
      const WhenModal answer(TypeIntoFileDialog(image, &seen));
      QTest::mouseClick(h.window.OpenImageButton(), Qt::LeftButton);
      QCOMPARE(seen.title, QStringLiteral("Open image"));
      QVERIFY(seen.nameField);
      QCOMPARE(seen.nameFilters.size(), 2);
      for (const char* pattern : {"*.E01", "*.vhd", "*.vhdx", "*.vmdk", "*.qcow2", "*.001"})
        QVERIFY2(seen.nameFilters[0].contains(QString::fromLatin1(pattern)), pattern);
      QCOMPARE(seen.nameFilters[1], QStringLiteral("All files (*)"));
      QCOMPARE(h.app.sources.files, std::vector<std::string>{QFile::encodeName(image).toStdString()});
      QCOMPARE(h.window.RowCount(kDriveList), 1);
      QCOMPARE(h.window.RowText(kDriveList, 0, 3), std::string("FAT32"));
    }
  }

  void ctrlOOpensTheSameDialogAndCancelChangesNothing() {
    QtApp h;
    NoDevices(h.app);
    QVERIFY(h.Show());
    h.window.activateWindow();
    QString seen;
    const WhenModal answer([&](QWidget* modal) {
      seen = QString::fromLatin1(modal->metaObject()->className());
      static_cast<QDialog*>(modal)->reject();
    });
    QTest::keyClick(&h.window, Qt::Key_O, Qt::ControlModifier);
    QTRY_COMPARE(seen, QStringLiteral("QFileDialog"));
    QVERIFY(h.app.sources.files.empty());
    QCOMPARE(h.window.RowCount(kDriveList), 0);
  }

  void droppedImageFilesJoinTheDriveList() {
    QtApp h;
    NoDevices(h.app);
    QVERIFY(h.Show());
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QStringLiteral(TESSILON_DEMO_IMAGE))});
    QVERIFY(Drop(&h.window, &files));
    // The drop is answered first; the drive list is built right after.
    QTRY_COMPARE(h.window.RowCount(kDriveList), 1);
    QCOMPARE(h.app.sources.files, std::vector<std::string>{TESSILON_DEMO_IMAGE});

    // Text, a web address or a folder is no image file: refused.
    QMimeData text;
    text.setText(QStringLiteral("/etc/hostname"));
    QVERIFY(!Drop(&h.window, &text));
    QMimeData remote;
    remote.setUrls({QUrl(QStringLiteral("https://example.org/disk.img"))});
    QVERIFY(!Drop(&h.window, &remote));
    QMimeData folder;
    folder.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp"))});
    QVERIFY(!Drop(&h.window, &folder));
    QCOMPARE(h.app.sources.files.size(), std::size_t{1});
  }
};

}  // namespace tsn

TSN_QT_TEST_MAIN(tsn::OpenImageTest)
#include "open_image_test.moc"
