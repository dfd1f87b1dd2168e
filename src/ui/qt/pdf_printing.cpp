#include "ui/qt/pdf_printing.h"

#include <QFile>
#include <QGuiApplication>

#include "ui/qt/print_surface.h"

namespace tsn {

struct PdfPrinting::Impl {
  int argc = 1;
  char name[16] = "tessilon";
  char* argv[2] = {name, nullptr};
  std::unique_ptr<QGuiApplication> app;
};

PdfPrinting::PdfPrinting() : impl_(std::make_unique<Impl>()) {
  if (QCoreApplication::instance() != nullptr) return;
  // Writing a file needs fonts, not a display: a server has none.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  impl_->app = std::make_unique<QGuiApplication>(impl_->argc, impl_->argv);
}

PdfPrinting::~PdfPrinting() = default;

std::unique_ptr<PrintSurface> PdfPrinting::FilePrinter(const std::string& path) {
  return QtPrintSurface::ForPdfFile(QFile::decodeName(path.c_str()));
}

}  // namespace tsn
