#include "pdf_report.h"

#ifdef TESSILON_CLI_PDF
#include <QFile>
#include <QGuiApplication>

#include "ui/qt/print_surface.h"
#endif

namespace tsn::cli {

#ifdef TESSILON_CLI_PDF

bool CanWritePdf() { return true; }

struct PdfSupport::Impl {
  int argc = 1;
  char name[16] = "tessilon-cli";
  char* argv[2] = {name, nullptr};
  std::unique_ptr<QGuiApplication> app;
};

PdfSupport::PdfSupport() : impl_(std::make_unique<Impl>()) {
  if (QGuiApplication::instance() != nullptr) return;
  // A server has no display, and none is needed to write a file.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  impl_->app = std::make_unique<QGuiApplication>(impl_->argc, impl_->argv);
}

PdfSupport::~PdfSupport() = default;

std::unique_ptr<PrintSurface> PdfSupport::FileSurface(const std::string& path) {
  return QtPrintSurface::ForPdfFile(QFile::decodeName(path.c_str()));
}

#else

bool CanWritePdf() { return false; }
struct PdfSupport::Impl {};
PdfSupport::PdfSupport() = default;
PdfSupport::~PdfSupport() = default;
std::unique_ptr<PrintSurface> PdfSupport::FileSurface(const std::string&) { return nullptr; }

#endif

}  // namespace tsn::cli
