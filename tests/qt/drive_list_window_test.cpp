// "Build Drive List" through the real window, on the demo image that the
// build makes with mkfs.fat and mtools.
#include "qt_test_support.h"

namespace tsn {
namespace {
using qttest::QtApp;

int RowWith(const QtWindow& w, const char* letter) {
  for (int row = 0; row < w.RowCount(kDriveList); ++row)
    if (w.RowText(kDriveList, row, 0) == letter) return row;
  return -1;
}

void UseDemoImage(AppState& app) {
  app.sources.files = {TESSILON_DEMO_IMAGE};
  app.sources.scanDevices = false;  // the machine's own disks differ from one test host to the next
}
}  // namespace

class DriveListWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QVERIFY2(QFile::exists(TESSILON_DEMO_IMAGE), TESSILON_DEMO_IMAGE); }

  void buildButtonListsTheDemoImageAndAClickMakesItCurrent() {
    QtApp h;
    UseDemoImage(h.app);
    QVERIFY(h.Show());
    QTest::mouseClick(h.window.ToolButtons()[0], Qt::LeftButton);
    QCOMPARE(h.app.busy, 0u);
    const int row = RowWith(h.window, "C:");
    QVERIFY(row >= 0);
    // The view shows the drive, in the columns their headers name.
    QAbstractItemModel* model = h.window.ListView(kDriveList)->model();
    QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("LID"));
    QCOMPARE(model->headerData(3, Qt::Horizontal).toString(), QStringLiteral("FS Type"));
    QCOMPARE(model->index(row, 2).data().toString(), QStringLiteral("TESSDEMO"));
    QCOMPARE(model->index(row, 3).data().toString(), QStringLiteral("FAT32"));
    // The log says what happened, newest row last.
    QCOMPARE(h.window.RowText(kLogList, h.window.RowCount(kLogList) - 1, 1), std::string("Drive mapping complete."));
    QCOMPARE(h.app.currentDrive, nullptr);
    ItemView* view = h.window.ListView(kDriveList);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(model->index(row, 1)).center());
    QCOMPARE(h.app.currentDrive, h.app.drives.front().get());
  }

  void postedBuildRunsOnceTheDialogRuns() {
    // As the program starts: the command is posted before the loop runs.
    AppState app;
    UseDemoImage(app);
    QtWindow window;
    window.PostCommand(kCmdBuildDriveList);
    // Exit is pressed once the loop has run the posted command to its end.
    int rowsWhenExitPressed = -1;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &window, [&] {
      if (app.busy != 0 || window.RowCount(kDriveList) == 0) return;
      poll.stop();
      rowsWhenExitPressed = window.RowCount(kDriveList);
      QTest::mouseClick(window.ToolButtons()[7], Qt::LeftButton);
    });
    poll.start(10);
    QTimer::singleShot(10000, &window, [&] { window.EndDialog(-2); });
    QCOMPARE(RunMainDialog(&app, &window), kCmdExit);
    QCOMPARE(rowsWhenExitPressed, 1);
    QCOMPARE(window.RowText(kDriveList, 0, 3), std::string("FAT32"));
  }
};

}  // namespace tsn

TSN_QT_TEST_MAIN(tsn::DriveListWindowTest)
#include "drive_list_window_test.moc"
