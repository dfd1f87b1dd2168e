#pragma once
// Shared pieces of the window-layer suites: the program wired to a real QtWindow.
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QProcess>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <functional>
#include <memory>
#include <vector>

#include "app/app_state.h"
#include "app/main_dialog.h"
#include "ui/control_ids.h"
#include "ui/qt/qt_window.h"

namespace tsn::qttest {

// The tree's folder at a path below its root ("Docs/Old"; "" is the root); invalid when there is none.
inline QModelIndex Folder(ItemView* tree, const QString& path) {
  QAbstractItemModel* model = tree->model();
  QModelIndex at = model->index(0, 0);
  for (const QString& part : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
    int row = 0;
    while (at.isValid() && row < model->rowCount(at) && model->index(row, 0, at).data().toString() != part) ++row;
    at = at.isValid() && row < model->rowCount(at) ? model->index(row, 0, at) : QModelIndex();
  }
  return at;
}

inline void ClickCell(ItemView* view, int row, int column = 1) {
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(view->model()->index(row, column)).center());
}

// The program's dialog on a real window, initialised as the program starts it, but not yet running its modal loop.
// `seen` holds every message that reached the dialog procedure since the last Clear.
struct QtApp {
  AppState app;
  // Before the window, so that they outlive what it sends while it closes.
  std::vector<Message> seen;
  bool forward = true;  // hand each message on to the program's dialog procedure
  QtWindow window;

  // With `settings`, the window keeps its sizes there instead of the user's own.
  explicit QtApp(std::unique_ptr<QSettings> settings = nullptr) {
    if (settings != nullptr) window.UseSettings(std::move(settings));
    app.ui = &window;
    window.SetDialogProc([this](const Message& m) {
      seen.push_back(m);
      return forward ? MainDialogProc(&app, m) : ProcResult{};
    });
    MainDialogProc(&app, Message{MessageKind::InitDialog});
  }
  void Clear() { seen.clear(); }
  bool Show() {
    window.show();
    return QTest::qWaitForWindowExposed(&window);
  }
  std::vector<Message> Of(MessageKind kind) const {
    std::vector<Message> out;
    for (const Message& m : seen)
      if (m.kind == kind) out.push_back(m);
    return out;
  }
  std::vector<int> Ids(MessageKind kind) const {
    std::vector<int> out;
    for (const Message& m : Of(kind)) out.push_back(m.id);
    return out;
  }
  // As a user does it: the drive list of these image files alone; the rows it shows, or -1 when the window did not show.
  int ListImages(const QStringList& images) {
    app.sources.files.clear();
    for (const QString& image : images) app.sources.files.push_back(QFile::encodeName(image).toStdString());
    app.sources.scanDevices = false;
    if (!Show()) return -1;
    QTest::mouseClick(window.ToolButtons()[0], Qt::LeftButton);
    return window.RowCount(kDriveList);
  }
  // And then clicks the image's row and runs the indexed scan; true when it all went.
  bool ScanImage(const QString& image) {
    if (ListImages({image}) != 1) return false;
    ClickCell(window.ListView(kDriveList), 0);
    if (app.currentDrive == nullptr) return false;
    QTest::mouseClick(window.ToolButtons()[1], Qt::LeftButton);
    window.TreeView()->expandAll();
    return app.lastScanResult == 1;
  }
  // Chooses the tree's folder at `path`, as a click does; the file list, which then shows its files.
  ItemView* OpenFolder(const QString& path) {
    window.TreeView()->setCurrentIndex(Folder(window.TreeView(), path));
    return window.ListView(kFileList);
  }
  // Keys go to the focus widget of the active window only.
  bool Activate() {
    window.activateWindow();
    return QTest::qWaitForWindowActive(&window);
  }
};

// Runs a program; its standard output, and in `status` its exit code (-1 when it crashed or never ended).
inline QString Run(const QString& program, const QStringList& args, int* status = nullptr) {
  QProcess p;
  p.start(program, args);
  const bool ended = p.waitForFinished(120000);
  if (status != nullptr) *status = ended && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  return QString::fromUtf8(p.readAllStandardOutput());
}

// Runs a bash script; its standard output, or a null string when it failed.
inline QString RunBash(const QString& script) {
  int status = -1;
  const QString out = Run(QStringLiteral("bash"), {QStringLiteral("-c"), script}, &status);
  return status == 0 ? out : QString();
}

inline int PixelsOf(const QImage& image, const QRect& area, QColor colour) {
  int n = 0;
  const QRect r = area.intersected(image.rect());
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x) n += image.pixelColor(x, y).rgb() == colour.rgb();
  return n;
}

// Plain pixels, so the glyphs carry exactly the colour they are drawn in.
inline void PlainFont(QWidget* view) {
  QFont font = view->font();
  font.setStyleStrategy(QFont::NoAntialias);
  font.setPixelSize(12);
  view->setFont(font);
}

inline Point ScreenOf(QWidget* widget, QPoint local) {
  const QPoint g = widget->mapToGlobal(local);
  return {g.x(), g.y()};
}

inline QString LogText(const QtWindow& w) {
  QString text;
  for (int row = 0; row < w.RowCount(kLogList); ++row)
    text += QString::fromStdString(w.RowText(kLogList, row, 1)) + QLatin1Char('\n');
  return text;
}

// The row of the view that shows this name in its first column; -1 when none does.
inline int RowNamed(ItemView* view, const QString& name) {
  for (int r = 0; r < view->model()->rowCount(); ++r)
    if (view->model()->index(r, 0).data().toString() == name) return r;
  return -1;
}

// A point on the given part of an item, found by the window's own hit test.
inline QPoint PartOf(QtWindow& w, ControlId control, ItemView* view, const QModelIndex& index, HitPart part) {
  const QRect r = view->visualRect(index);
  for (int x = 0; x < view->viewport()->width(); ++x)
    if (w.HitTestAt(control, ScreenOf(view->viewport(), {x, r.center().y()})).part == part)
      return {x + 2, r.center().y()};
  return {};
}

// Answers the next modal window (a dialog's exec) once it shows, from the event loop that exec runs.
class WhenModal {
 public:
  explicit WhenModal(std::function<void(QWidget*)> answer) : answer_(std::move(answer)) {
    QObject::connect(&poll_, &QTimer::timeout, &poll_, [this] {
      if (QWidget* modal = QApplication::activeModalWidget()) {
        poll_.stop();
        answer_(modal);
      }
    });
    poll_.start(20);
  }

 private:
  std::function<void(QWidget*)> answer_;
  QTimer poll_;
};

// What a user's answer to a file dialog met: its title, whether it had the name field, its filters.
struct FileDialogSeen {
  QString title;
  bool nameField = false;
  QStringList nameFilters;
};

// The answer a user gives a file dialog by typing `path` into its name field and choosing it, for WhenModal; any
// other modal is turned down. Typed, because selectFile() on a shown dialog only selects in the list view once the
// folder has been read on Qt's gatherer thread, so the answer could come too early.
inline std::function<void(QWidget*)> TypeIntoFileDialog(QString path, FileDialogSeen* seen) {
  return [path, seen](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    if (dialog == nullptr) {
      static_cast<QDialog*>(modal)->reject();
      return;
    }
    seen->title = dialog->windowTitle();
    seen->nameFilters = dialog->nameFilters();
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    seen->nameField = name != nullptr;
    if (name != nullptr) name->setText(path);
    static_cast<QDialog*>(dialog)->accept();  // as its Open or Choose button does
    if (dialog->isVisible()) dialog->reject();  // fail in the test, never hang
  };
}

}  // namespace tsn::qttest
