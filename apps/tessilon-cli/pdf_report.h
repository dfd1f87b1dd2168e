#pragma once
// The report's PDF printer for the command line, on Qt's PDF writer with no
// display: the same 300 dpi surface the window prints on.
#include <functional>
#include <memory>
#include <string_view>

#include "ui/window_system.h"

namespace tsn::cli {

// Whether this build can write PDF files.
bool CanWritePdf();

// What writing PDF files needs while it runs (fonts need an application
// object); printers are made and used only while one is alive.
class PdfSupport {
 public:
  PdfSupport();
  ~PdfSupport();
  PdfSupport(const PdfSupport&) = delete;
  PdfSupport& operator=(const PdfSupport&) = delete;
  // A printer that hands the report's PDF to `write` as it is made (false:
  // the bytes could not be written); null without PDF support.
  std::unique_ptr<PrintSurface> StreamSurface(std::function<bool(std::string_view)> write);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tsn::cli
