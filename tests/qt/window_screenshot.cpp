// Makes the README's picture of the window: the real program on the demo
// image, the drive list built, the indexed scan run and a folder with a
// deleted file opened, its list narrowed to the deleted files and one of
// them shown in the preview, then the window grabbed into a PNG file.
// Usage: window_screenshot IMAGE OUTPUT.png (run it on a display; see
// scripts/screenshot.sh).
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QPixmap>
#include <QTimer>
#include <QToolButton>
#include <cstdio>

#include "app/app_state.h"
#include "app/main_dialog.h"
#include "ui/control_ids.h"
#include "ui/qt/qt_window.h"

namespace {

QModelIndex Child(QAbstractItemModel* model, const QModelIndex& parent, const QString& label) {
  for (int i = 0; i < model->rowCount(parent); ++i)
    if (model->index(i, 0, parent).data().toString() == label) return model->index(i, 0, parent);
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  QApplication qt(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  if (argc != 3) {
    std::fprintf(stderr, "usage: window_screenshot IMAGE OUTPUT.png\n");
    return 2;
  }
  const QString output = QFile::decodeName(argv[2]);
  tsn::AppState app;
  app.sources.files = {argv[1]};
  app.sources.scanDevices = false;  // the machine's own disks are nobody's business
  tsn::QtWindow window;
  int status = 1;
  QTimer::singleShot(0, &window, [&] {
    // As a user does it: build the list, pick the drive, run the full scan.
    window.ToolButtons()[0]->click();
    window.SetRowSelected(tsn::kDriveList, 0, true);
    tsn::SelectCurrentDrive(&app);
    window.ToolButtons()[1]->click();
    tsn::ItemView* tree = window.TreeView();
    tree->expandAll();
    QAbstractItemModel* model = tree->model();
    const QModelIndex documents = Child(model, model->index(0, 0), QStringLiteral("Documents"));
    const QModelIndex old = Child(model, documents, QStringLiteral("Old"));
    // Chosen as a user chooses: the folder, then its deleted files only,
    // then the deleted file, whose first bytes the preview shows.
    if (old.isValid()) tree->setCurrentIndex(old);
    window.DeletedOnlyBox()->setChecked(true);
    tsn::ItemView* files = window.ListView(tsn::kFileList);
    if (files->model()->rowCount() > 0) files->setCurrentIndex(files->model()->index(0, 0));
    // Let everything paint before the picture is taken.
    QTimer::singleShot(300, &window, [&] {
      status = window.grab().save(output, "PNG") ? 0 : 1;
      window.EndDialog(tsn::kCmdEndDialog);
    });
  });
  tsn::RunMainDialog(&app, &window);
  if (status != 0) std::fprintf(stderr, "window_screenshot: could not write %s\n", argv[2]);
  return status;
}
