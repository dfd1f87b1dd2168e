// tessilon: the desktop program. The images and devices named on the command
// line join the drive list beside the machine's own block devices; with none
// named, the bundled demo image stands in so the window has something to show.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <QTimer>
#include <cstdio>
#include <string_view>

#include "app/app_state.h"
#include "app/main_dialog.h"
#include "core/version.h"
#include "ui/control_ids.h"
#include "ui/qt/qt_window.h"

#ifndef TESSILON_DEMO_IMAGE
#define TESSILON_DEMO_IMAGE ""
#endif
#ifndef TESSILON_DOC_DIR
#define TESSILON_DOC_DIR "share/doc/tessilon"
#endif

namespace {

// The help page beside the program in a build tree, else the package's
// documents below the prefix the program runs from (/usr/bin gives
// /usr/share/doc/tessilon), else the system's.
std::string HelpPage() {
  const QDir programDir(QCoreApplication::applicationDirPath());
  const QString page = QStringLiteral("help.html");
  const QString docDir = QStringLiteral(TESSILON_DOC_DIR);
  const QString candidates[] = {
      programDir.filePath(page),
      QDir::cleanPath(programDir.filePath(QStringLiteral("../") + docDir + QLatin1Char('/') + page)),
      QStringLiteral("/usr/") + docDir + QLatin1Char('/') + page,
  };
  for (const QString& path : candidates)
    if (QFileInfo(path).isFile()) return QFile::encodeName(path).toStdString();
  return QFile::encodeName(candidates[2]).toStdString();
}

// --screenshot FILE: once the drive list is built and painted, the window
// is saved as a PNG file and the program ends (0 when the file was
// written). For bug reports and pictures of the window, and to see that an
// installed copy starts on a machine without a display.
void SaveWhenIdle(tsn::AppState* app, tsn::QtWindow* window, const QString& file, int* status) {
  QTimer::singleShot(100, window, [=] {
    if (app->busy != 0) return SaveWhenIdle(app, window, file, status);
    *status = window->grab().save(file, "PNG") ? 0 : 1;
    if (*status != 0) std::fprintf(stderr, "tessilon: could not write %s\n", QFile::encodeName(file).constData());
    window->EndDialog(tsn::kCmdEndDialog);
  });
}

}  // namespace

int main(int argc, char** argv) {
  // Answered before Qt starts, so it needs no display.
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--version") {
      std::printf("%s\n", tsn::kWindowTitle);
      return 0;
    }
  }
  QApplication qt(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tessilon"));
  // The dialog's own end decides when the program stops, not the window.
  QApplication::setQuitOnLastWindowClosed(false);

  tsn::AppState app;
  QStringList paths = QApplication::arguments();  // Qt's own options already taken out
  paths.removeFirst();
  QString screenshot;
  if (const qsizetype at = paths.indexOf(QStringLiteral("--screenshot")); at >= 0) {
    if (at + 1 >= paths.size()) {
      std::fprintf(stderr, "usage: tessilon [--screenshot FILE.png] [IMAGE...]\n");
      return 2;
    }
    screenshot = paths[at + 1];
    paths.remove(at, 2);
  }
  for (const QString& path : paths) app.sources.files.push_back(QFile::encodeName(path).toStdString());
  if (app.sources.files.empty() && QFile::exists(QStringLiteral(TESSILON_DEMO_IMAGE)))
    app.sources.files.push_back(TESSILON_DEMO_IMAGE);
  app.helpPath = HelpPage();

  tsn::QtWindow window;
  // The window's size, columns and panes as the user left them last time.
  window.UseSettings(std::make_unique<QSettings>(QStringLiteral("Tessilon"), QStringLiteral("tessilon")));
  // The drive list is built as soon as the window runs, so it shows at once.
  window.PostCommand(tsn::kCmdBuildDriveList);
  int status = 0;
  if (!screenshot.isEmpty()) SaveWhenIdle(&app, &window, screenshot, &status);
  tsn::RunMainDialog(&app, &window);
  return status;
}
