#pragma once
// Printing the Deleted File Report to PDF files in a program without a
// window (the command line): the same 300 dpi surface the window prints on.
// This header holds no Qt, so such programs stay free of it.
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "ui/window_system.h"

namespace tsn {

class PdfPrinting {
 public:
  // Starts Qt without a display unless the program already runs it; the
  // printers it makes are used while it lives.
  PdfPrinting();
  ~PdfPrinting();
  PdfPrinting(const PdfPrinting&) = delete;
  PdfPrinting& operator=(const PdfPrinting&) = delete;

  // A printer that makes a PDF on A4 paper with quarter-inch margins and
  // hands it to `write` as it is made; `write` returns false when the bytes
  // could not be written, so that the caller, not Qt, checks every write.
  std::unique_ptr<PrintSurface> StreamPrinter(std::function<bool(std::string_view)> write);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tsn
