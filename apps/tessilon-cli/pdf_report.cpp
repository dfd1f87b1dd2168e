#include "pdf_report.h"

#ifdef TESSILON_CLI_PDF
#include "ui/qt/pdf_printing.h"
#endif

namespace tsn::cli {

#ifdef TESSILON_CLI_PDF

bool CanWritePdf() { return true; }

struct PdfSupport::Impl {
  PdfPrinting printing;
};

PdfSupport::PdfSupport() : impl_(std::make_unique<Impl>()) {}
PdfSupport::~PdfSupport() = default;

std::unique_ptr<PrintSurface> PdfSupport::StreamSurface(std::function<bool(std::string_view)> write) {
  return impl_->printing.StreamPrinter(std::move(write));
}

#else

bool CanWritePdf() { return false; }
struct PdfSupport::Impl {};
PdfSupport::PdfSupport() = default;
PdfSupport::~PdfSupport() = default;
std::unique_ptr<PrintSurface> PdfSupport::StreamSurface(std::function<bool(std::string_view)>) {
  return nullptr;
}

#endif

}  // namespace tsn::cli
