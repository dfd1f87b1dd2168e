// Devices this user may not read, through the real window: listed greyed with "needs permission", and opened through
// UDisks2 over Qt D-Bus when chosen. The suite runs as root and starts a system bus, polkitd and udisksd of its own on
// a loop device that holds a fixture image (start_udisks.sh). The window runs as an unprivileged user: a copy of this
// program started with setpriv, which runs the child half below.
#include <unistd.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QTemporaryDir>

#include "app/drive_list.h"
#include "qt_test_support.h"
#include "results/found_tree.h"

namespace tsn {
namespace {
using namespace qttest;

const QString kImage = QStringLiteral("fat12-512.img");
constexpr uid_t kAllowedUser = 65534;  // nobody: the polkit rule below lets it open devices
constexpr uid_t kRefusedUser = 1;      // daemon: no rule, and no agent to ask for a password

QString Env(const char* name) { return qEnvironmentVariable(name); }

struct Found { quint64 size = 0; bool deleted = false; };

// A deleted 8.3 name has lost its first character, which the scan fills in its own way: keyed without it and case.
QString Key(const QString& path, bool deleted) {
  if (!deleted) return path;
  QStringList parts = path.toLower().split(QLatin1Char('/'));
  for (QString& p : parts)
    if (!p.isEmpty()) p[0] = QLatin1Char('?');
  return parts.join(QLatin1Char('/'));
}

void Collect(const FoundTree& tree, FolderRef folder, const QString& prefix, QMap<QString, Found>& out) {
  const MftFileInfo* record = tree.FolderRecordOf(folder);
  if (record == nullptr) return;
  for (const FoundFile* f = record->firstFile; f != nullptr; f = f->next)
    if (const bool deleted = (f->flags & kFlagInUse) == 0; (f->flags & kFlagFolder) == 0)
      out[Key(prefix + QString::fromUtf8(f->name.data(), static_cast<qsizetype>(f->name.size())), deleted)] = {f->size, deleted};
  for (FolderRef child : tree.Children(folder)) {
    const MftFileInfo* c = tree.FolderRecordOf(child);
    const QString path = prefix + QString::fromStdString(c->Label());
    out[Key(path, c->deletedEntry)] = {0, c->deletedEntry};
    Collect(tree, child, path + QLatin1Char('/'), out);
  }
}

bool Greyed(const QtWindow& w, int row) {
  CustomDrawRecord record;
  record.stage = DrawStage::SubItemPrepaint;
  record.subItem = 3;
  record.itemData = w.RowData(kDriveList, row);
  DriveRowColour(&record);
  return record.textColourSet && record.textColour == Colour{128, 128, 128};
}

}  // namespace

// Runs as the unprivileged user, told by the parent which case it is.
class UdisksChild : public QObject {
  Q_OBJECT

 private slots:
  void theDeviceIsListedGreyedThenChosen() {
    QVERIFY2(geteuid() != 0, "the window half must not run as root");
    QtApp h;
    h.app.sources.files.clear();
    h.app.sources.sysfsBlockDir = Env("TSN_UDISKS_SYSFS").toStdString();
    QVERIFY(h.Show());
    QTest::mouseClick(h.window.ToolButtons()[0], Qt::LeftButton);
    ItemView* drives = h.window.ListView(kDriveList);
    QAbstractItemModel* model = drives->model();
    // Its label column, whether it is greyed, and whether it is the drive chosen.
    const auto row = [&] {
      return model->index(0, 2).data().toString() + (Greyed(h.window, 0) ? " greyed" : "") +
             (h.app.currentDrive != nullptr ? " chosen" : "");
    };
    QCOMPARE(model->rowCount(), 1);
    QCOMPARE(model->index(0, 9).data().toString(), Env("TSN_UDISKS_DEVICE"));
    QCOMPARE(row(), QStringLiteral("needs permission greyed"));
    // Moving onto it with the keys asks nothing and chooses nothing.
    drives->setFocus();
    QTest::keyClick(drives, Qt::Key_Down);
    QVERIFY(h.window.IsRowSelected(kDriveList, 0));
    QCOMPARE(row(), QStringLiteral("needs permission greyed"));
    QVERIFY2(!LogText(h.window).contains(QStringLiteral("could not be opened")), qPrintable(LogText(h.window)));

    ClickCell(drives, 0);
    const QString log = LogText(h.window);
    const QString mode = Env("TSN_UDISKS_CHILD");
    if (mode != QLatin1String("allowed")) {
      // Refused, or no one to ask: the row stays as it was and one log line says why.
      QCOMPARE(row(), QStringLiteral("needs permission greyed"));
      const QString expected = mode == QLatin1String("refused")
                                   ? QStringLiteral("could not be opened for reading: UDisks2 did not open it "
                                                    "(Not authorized to perform operation)")
                                   : QStringLiteral("could not be opened for reading: UDisks2 cannot be reached (");
      QVERIFY2(log.count(QStringLiteral("could not be opened for reading")) == 1 && log.contains(expected),
               qPrintable(log));
      QTest::mouseClick(h.window.ToolButtons()[1], Qt::LeftButton);
      QVERIFY(LogText(h.window).contains(QStringLiteral("Please choose a drive to search")));
      return;
    }

    QVERIFY2(h.app.currentDrive != nullptr, qPrintable(log));
    QVERIFY(!Greyed(h.window, 0));
    QCOMPARE(model->index(0, 3).data().toString(), QStringLiteral("FAT12"));
    QTest::mouseClick(h.window.ToolButtons()[1], Qt::LeftButton);
    QCOMPARE(h.app.lastScanResult, 1);

    QMap<QString, Found> found;
    Collect(h.app.results, h.app.results.RootFolder(), QString(), found);
    QFile manifest(Env("TSN_UDISKS_MANIFEST"));
    QVERIFY(manifest.open(QIODevice::ReadOnly));
    int live = 0, gone = 0;
    while (!manifest.atEnd()) {
      const QJsonObject e = QJsonDocument::fromJson(manifest.readLine()).object();
      if (e["image"].toString() != kImage || e["name_lost"].toBool()) continue;
      const bool deleted = e["deleted"].toBool();
      const QString key = Key(e["path"].toString(), deleted);
      QVERIFY2(found.contains(key) && found[key].deleted == deleted, qPrintable(key));
      if (!e["folder"].toBool()) QCOMPARE(found[key].size, static_cast<quint64>(e["size"].toDouble()));
      ++(deleted ? gone : live);
    }
    QVERIFY(live > 20 && gone > 5);
  }
};

class UdisksWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    const QString fixture = QStringLiteral(TESSILON_FIXTURES "/") + kImage;
    const QString missing = RunBash(QStringLiteral(
        "[ $(id -u) = 0 ] || printf 'root (to attach a loop device and start udisksd) ';"
        " for t in /usr/libexec/udisks2/udisksd /usr/lib/polkit-1/polkitd /usr/bin/dbus-daemon '%1' unshare setpriv"
        " losetup dbus-send; do [ -e \"$t\" ] || command -v \"$t\" >/dev/null || printf '%s ' \"$t\"; done").arg(fixture));
    if (!missing.isEmpty()) {
      const QByteArray why = "needs " + missing.toUtf8() + "(the tools come with udisks2, polkitd, dbus-daemon and util-linux)";
      if (!qEnvironmentVariableIsEmpty("CI")) QFAIL(why.constData());
      QSKIP(why.constData());
    }
    QVERIFY(dir_.isValid());
    QFile::setPermissions(dir_.path(), QFile::permissions(dir_.path()) | QFileDevice::ReadOther | QFileDevice::ExeOther);
    // The child runs a copy of this program from here: the build folder may lie where that user cannot go.
    QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), Path("window")));
    const QString started = RunBash(QStringLiteral("'" TESSILON_SOURCE_DIR "/tests/qt/start_udisks.sh' '%1' '%2' '"
                                                   TESSILON_FIXTURES "/manifest.jsonl'").arg(dir_.path(), fixture));
    QVERIFY2(!started.isNull(), qPrintable(Tail("setup.log") + Tail("udisksd.log") + Tail("polkitd.log")));
    device_ = started.trimmed();
  }

  void cleanupTestCase() {
    if (!dir_.isValid()) return;
    // Only what this suite started, by the ids it wrote down.
    RunBash(QStringLiteral("cd %1; for p in udisksd polkitd dbus; do [ -s $p.pid ] && kill $(cat $p.pid); done;"
                           " sleep 0.5; [ -s loop ] && losetup -d $(cat loop); true").arg(dir_.path()));
  }

  void aUserPolkitAllowsOpensTheDeviceAndScansIt() { RunChild(kAllowedUser, "allowed", Bus()); }

  void aUserWithoutAuthorisationIsRefusedAndTheRowStaysGreyed() { RunChild(kRefusedUser, "refused", Bus()); }

  void withoutUDisksTheRowStaysGreyedAndTheLogSaysWhy() {
    RunChild(kAllowedUser, "unreachable", QStringLiteral("unix:path=") + Path("no-bus-here"));
  }

 private:
  QString Path(const QString& name) const { return dir_.filePath(name); }
  QString Bus() const { return QStringLiteral("unix:path=") + Path("bus"); }
  QString Tail(const char* log) const {
    QFile f(Path(QString::fromLatin1(log)));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll().right(2000)) : QString();
  }

  void RunChild(uid_t user, const char* mode, const QString& bus) {
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QStringList vars = {"TSN_UDISKS_CHILD", mode, "TSN_UDISKS_DEVICE", device_, "TSN_UDISKS_SYSFS", Path("sysfs"),
                              "TSN_UDISKS_MANIFEST", Path("manifest.jsonl"), "DBUS_SYSTEM_BUS_ADDRESS", bus,
                              "QT_QPA_PLATFORM", "offscreen", "HOME", Path("home")};
    for (qsizetype i = 0; i < vars.size(); i += 2) env.insert(vars[i], vars[i + 1]);
    env.remove("XDG_RUNTIME_DIR");
    env.remove("DBUS_SESSION_BUS_ADDRESS");
    child.setProcessEnvironment(env);
    child.setWorkingDirectory(Path("home"));
    const QString id = QString::number(user);
    child.start("setpriv", {"--reuid=" + id, "--regid=" + id, "--clear-groups", Path("window")});
    QVERIFY(child.waitForFinished(120000));
    const QString out = QString::fromUtf8(child.readAllStandardOutput() + child.readAllStandardError());
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, qPrintable(out));
    QVERIFY2(out.contains(QStringLiteral("Totals: 3 passed, 0 failed, 0 skipped")), qPrintable(out));
  }

  QTemporaryDir dir_;
  QString device_;
};

}  // namespace tsn

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication qtApp(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  if (!qEnvironmentVariableIsEmpty("TSN_UDISKS_CHILD")) {
    tsn::UdisksChild child;
    return QTest::qExec(&child, argc, argv);
  }
  tsn::UdisksWindowTest suite;
  return QTest::qExec(&suite, argc, argv);
}

#include "udisks_window_test.moc"
