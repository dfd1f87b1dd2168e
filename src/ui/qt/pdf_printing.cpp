#include "ui/qt/pdf_printing.h"

#include <QGuiApplication>
#include <QIODevice>

#include "ui/qt/print_surface.h"

namespace tsn {

namespace {

// Qt's PDF writer does not look at what its device's writes return, so a
// full disk would pass unseen through a QFile: each write goes to a caller
// that does look.
class CallbackDevice final : public QIODevice {
 public:
  explicit CallbackDevice(std::function<bool(std::string_view)> write) : write_(std::move(write)) {}
  bool isSequential() const override { return true; }

 protected:
  qint64 readData(char*, qint64) override { return -1; }
  qint64 writeData(const char* data, qint64 size) override {
    return write_(std::string_view(data, static_cast<std::size_t>(size))) ? size : -1;
  }

 private:
  std::function<bool(std::string_view)> write_;
};

}  // namespace

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

std::unique_ptr<PrintSurface> PdfPrinting::StreamPrinter(std::function<bool(std::string_view)> write) {
  return QtPrintSurface::ForPdfDevice(std::make_unique<CallbackDevice>(std::move(write)));
}

}  // namespace tsn
