#pragma once
// "Print": the Deleted File Report on the printer the user chooses, and a
// printer that prints it as plain text.
#include <string>

#include "app/report_layout.h"
#include "ui/window_system.h"

namespace tsn {

struct AppState;

// The handler of command 5006. Cancelling the print dialog, or a job that
// cannot start, ends it silently; failures at the end show a message box.
void PrintReport(AppState* app);

// What a text printer printed. The print handler releases its printer when
// the job ends, so the text lands in a result its caller keeps.
struct TextPrintout {
  bool ended = false;
  std::string text;  // one line per printed line, a form feed between pages
};

// A printer whose pages are text: what it is given is kept as a sheet, and
// once the job has ended the whole report is in `out`. Its page is a
// fixed-pitch page unless told otherwise.
class TextPrintSurface final : public PrintSurface {
 public:
  explicit TextPrintSurface(TextPrintout* out, ReportMetrics metrics = FixedPitchReportMetrics(),
                            int dotsPerColumn = kFixedPitchDotsPerColumn);
  bool StartDocument(std::string_view name) override;
  int PageWidth() const override { return sheet_.metrics.pageWidth; }
  int PageHeight() const override { return sheet_.metrics.pageHeight; }
  int LineHeight() const override { return sheet_.metrics.lineHeight; }
  int TextWidth(std::string_view text) const override;
  void TextOut(int x, int y, std::string_view text) override;
  bool NewPage() override;
  bool EndPage() override { return started_; }
  bool EndDocument() override;
  bool Release() override { return true; }

 private:
  TextPrintout* out_;
  ReportSheet sheet_;
  int dotsPerColumn_;
  bool started_ = false;
};

}  // namespace tsn
