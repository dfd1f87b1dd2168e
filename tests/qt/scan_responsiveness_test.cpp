// A scan in the real window keeps it alive: the status strip repaints while
// the scan runs, and Exit, pressed on the toolbar mid-scan, stops it and
// leaves the window running.
#include <QLabel>
#include <QTemporaryDir>

#include "qt_test_support.h"

namespace tsn {
namespace {
using qttest::QtApp;

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
 public:
  int paints = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

bool Logged(const QtWindow& w, const std::string& text) {
  for (int r = 0; r < w.RowCount(kLogList); ++r)
    if (w.RowText(kLogList, r, 1) == text) return true;
  return false;
}
}  // namespace

class ScanResponsivenessTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  QString image_;

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    // 512-byte clusters: the quick scan would read some two million of them.
    image_ = dir_.filePath(QStringLiteral("big.img"));
    QVERIFY(!qttest::RunBash(
                 QStringLiteral("set -e; truncate -s 1G '%1'; mkfs.fat -F 32 -s 1 -n BIG '%1' >/dev/null; echo done")
                     .arg(image_))
                 .isNull());
  }

  void exitStopsAQuickScanAndTheWindowPaintsMeanwhile() {
    QtApp h;
    QCOMPARE(h.ListImages({image_}), 1);
    h.window.SetRowSelected(kDriveList, 0, true);
    SelectCurrentDrive(&h.app);

    PaintCounter counter;
    QWidget* status = h.window.Control(kDirsText);  // "CLUSTER: n" as the scan goes
    status->installEventFilter(&counter);
    // Exit is pressed from the event loop once the scan is well under way,
    // as a user's click arrives: through a pump of the scan.
    bool busyWhenPressed = false;
    std::string clusterWhenPressed;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &h.window, [&] {
      // What the label itself holds: the text reaches the screen while the
      // scan runs, not only the window's record of it.
      const std::string shown = qobject_cast<QLabel*>(status)->text().toStdString();
      if (h.app.busy != 1 || shown.rfind("CLUSTER: ", 0) != 0 || counter.paints < 3) return;
      poll.stop();
      busyWhenPressed = true;
      clusterWhenPressed = shown;
      QTest::mouseClick(h.window.ToolButtons()[7], Qt::LeftButton);
    });
    poll.start(10);
    QTest::mouseClick(h.window.ToolButtons()[2], Qt::LeftButton);  // returns when the scan ends
    QVERIFY(busyWhenPressed);
    QVERIFY2(clusterWhenPressed.rfind("CLUSTER: ", 0) == 0, clusterWhenPressed.c_str());
    QVERIFY(counter.paints >= 3);  // repainted while the scan ran
    QCOMPARE(h.app.busy, 0u);
    QVERIFY(Logged(h.window, "Current function interrupted by user."));
    QVERIFY(Logged(h.window, "File system scan interrupted."));
    QVERIFY(!Logged(h.window, "File system scan complete."));
    QVERIFY(h.window.isVisible());  // Exit during a scan does not end the program
    QTRY_COMPARE(qobject_cast<QLabel*>(status)->text().toStdString(), h.window.Text(kDirsText));
  }
};

}  // namespace tsn

TSN_QT_TEST_MAIN(tsn::ScanResponsivenessTest)
#include "scan_responsiveness_test.moc"
