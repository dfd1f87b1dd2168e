// tessilon: the desktop program. The images and devices named on the command
// line join the drive list beside the machine's own block devices; with none
// named, the bundled demo image stands in so the window has something to show.
#include <QApplication>
#include <QFile>
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

int main(int argc, char** argv) {
  QApplication qt(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tessilon"));
  // The dialog's own end decides when the program stops, not the window.
  QApplication::setQuitOnLastWindowClosed(false);

  tsn::AppState app;
  QStringList paths = QApplication::arguments();  // Qt's own options already taken out
  paths.removeFirst();
  for (const QString& path : paths) app.sources.files.push_back(QFile::encodeName(path).toStdString());
  if (app.sources.files.empty() && TESSILON_DEMO_IMAGE[0] != '\0')
    app.sources.files.push_back(TESSILON_DEMO_IMAGE);
  app.helpPath = TESSILON_HELP_PAGE;

  tsn::QtWindow window;
  // The drive list is built as soon as the window runs, so it shows at once.
  window.PostCommand(tsn::kCmdBuildDriveList);
  tsn::RunMainDialog(&app, &window);
  return 0;
}
