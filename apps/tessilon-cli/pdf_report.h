#pragma once
// The report's PDF printer for the command line, on Qt's PDF writer with no
// display: the same 300 dpi surface the window prints on.
#include <memory>
#include <string>

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
  // A printer that writes the report to a PDF file; null without PDF support.
  std::unique_ptr<PrintSurface> FileSurface(const std::string& path);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tsn::cli
