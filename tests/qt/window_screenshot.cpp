// Makes the README's picture of the window (scripts/screenshot.sh): the demo
// image after the indexed scan, a folder's deleted files, one in the preview.
#include <QCheckBox>
#include <cstdio>

#include "qt_test_support.h"

int main(int argc, char** argv) {
  QApplication qt(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: window_screenshot IMAGE OUTPUT.png\n");
    return 2;
  }
  tsn::qttest::QtApp h;
  if (!h.ScanImage(QFile::decodeName(argv[1]))) {
    std::fprintf(stderr, "window_screenshot: could not scan %s\n", argv[1]);
    return 1;
  }
  tsn::ItemView* files = h.OpenFolder(QStringLiteral("Documents/Old"));
  h.window.DeletedOnlyBox()->setChecked(true);
  if (files->model()->rowCount() > 0) files->setCurrentIndex(files->model()->index(0, 0));
  QTest::qWait(300);  // everything painted before the picture is taken
  if (h.window.grab().save(QFile::decodeName(argv[2]), "PNG")) return 0;
  std::fprintf(stderr, "window_screenshot: could not write %s\n", argv[2]);
  return 1;
}
