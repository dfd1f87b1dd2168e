// Sources the user brings to the window: "Open image" beside the toolbar,
// Ctrl+O, and image files dropped on the window. Each joins the drive list.
#include <QDialog>
#include <QDropEvent>
#include <QFileDialog>
#include <QLineEdit>
#include <QMimeData>
#include <QToolButton>
#include <QUrl>

#include "qt_test_support.h"

namespace tsn {
namespace {
using qttest::QtApp;
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
  void openImageAddsTheChosenFileAndBuildsTheDriveList() {
    QtApp h;
    NoDevices(h.app);
    QVERIFY(h.Show());
    QString title;
    QLineEdit* nameField = nullptr;
    const WhenModal answer([&](QWidget* modal) {
      auto* dialog = qobject_cast<QFileDialog*>(modal);
      if (dialog == nullptr) {
        static_cast<QDialog*>(modal)->reject();
        return;
      }
      title = dialog->windowTitle();
      // Typed into the name field, as a user would: selectFile() on a shown
      // dialog only selects in the list view once the folder has been read
      // on Qt's gatherer thread, so the answer could come too early.
      nameField = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
      if (nameField != nullptr) nameField->setText(QStringLiteral(TESSILON_DEMO_IMAGE));
      static_cast<QDialog*>(dialog)->accept();  // as its Open button does
      if (dialog->isVisible()) dialog->reject();  // fail below, never hang
    });
    QTest::mouseClick(h.window.OpenImageButton(), Qt::LeftButton);
    QCOMPARE(title, QStringLiteral("Open image"));
    QVERIFY(nameField != nullptr);
    QCOMPARE(h.app.sources.files, std::vector<std::string>{TESSILON_DEMO_IMAGE});
    QCOMPARE(h.window.RowCount(kDriveList), 1);
    QCOMPARE(h.window.RowText(kDriveList, 0, 3), std::string("FAT32"));
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
