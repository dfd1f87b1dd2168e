// tessilon: the desktop program. The images and devices named on the command
// line join the drive list beside the machine's own block devices; with none
// named, the bundled demo image stands in so the window has something to show.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>

#include "app/app_state.h"
#include "app/main_dialog.h"
#include "ui/control_ids.h"
#include "ui/qt/qt_window.h"

#ifndef TESSILON_DEMO_IMAGE
#define TESSILON_DEMO_IMAGE ""
#endif
#ifndef TESSILON_HELP_PAGE
#define TESSILON_HELP_PAGE ""
#endif

namespace {

// The help page installed beside the program, else the one in the source
// tree it was built from.
std::string HelpPage() {
  const QString beside = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("help.html"));
  if (QFileInfo(beside).isFile()) return QFile::encodeName(beside).toStdString();
  return TESSILON_HELP_PAGE;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication qt(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tessilon"));
  // The dialog's own end decides when the program stops, not the window.
  QApplication::setQuitOnLastWindowClosed(false);

  tsn::AppState app;
  QStringList paths = QApplication::arguments();  // Qt's own options already taken out
  paths.removeFirst();
  for (const QString& path : paths) app.sources.files.push_back(QFile::encodeName(path).toStdString());
  if (app.sources.files.empty() && QFile::exists(QStringLiteral(TESSILON_DEMO_IMAGE)))
    app.sources.files.push_back(TESSILON_DEMO_IMAGE);
  app.helpPath = HelpPage();

  tsn::QtWindow window;
  // The window's size, columns and panes as the user left them last time.
  window.UseSettings(std::make_unique<QSettings>(QStringLiteral("Tessilon"), QStringLiteral("tessilon")));
  // The drive list is built as soon as the window runs, so it shows at once.
  window.PostCommand(tsn::kCmdBuildDriveList);
  tsn::RunMainDialog(&app, &window);
  return 0;
}
