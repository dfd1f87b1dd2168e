#include "app/print_report.h"

#include <memory>

#include "app/app_state.h"

namespace tsn {

void PrintReport(AppState* app) {
  WindowSystem& ui = *app->ui;
  const std::unique_ptr<PrintSurface> printer = ui.ChoosePrinter();
  if (printer == nullptr) return;
  if (!printer->StartDocument("Document Name")) return;
  ReportMetrics metrics;
  metrics.pageWidth = printer->PageWidth();
  metrics.pageHeight = printer->PageHeight();
  metrics.lineHeight = printer->LineHeight();
  metrics.textWidth = [&printer](std::string_view text) { return printer->TextWidth(text); };
  // Printing runs between two units of a scan at most: the tree cannot
  // change while it is laid out and printed.
  const ReportSheet sheet = LayOutReport(app, metrics);
  for (std::size_t page = 0; page < sheet.pages.size(); ++page) {
    if (page > 0) printer->NewPage();  // a page break that fails is ignored
    for (const ReportText& t : sheet.pages[page].texts) printer->TextOut(t.x, t.y, t.text);
  }
  if (!printer->EndPage()) {
    ui.ShowMessageBox("EndPage FAILED", "ERROR");
    return;
  }
  if (!printer->EndDocument()) {
    ui.ShowMessageBox("EndDoc FAILED", "ERROR");
    return;
  }
  if (!printer->Release()) ui.ShowMessageBox("Could not DeleteDC", "ERROR");
}

TextPrintSurface::TextPrintSurface(TextPrintout* out, ReportMetrics metrics, int dotsPerColumn)
    : out_(out), dotsPerColumn_(dotsPerColumn) {
  sheet_.metrics = std::move(metrics);
}

bool TextPrintSurface::StartDocument(std::string_view) {
  started_ = true;
  sheet_.pages.assign(1, ReportPage{});
  return true;
}

int TextPrintSurface::TextWidth(std::string_view text) const {
  return sheet_.metrics.textWidth ? sheet_.metrics.textWidth(text) : 0;
}

void TextPrintSurface::TextOut(int x, int y, std::string_view text) {
  if (!started_) return;
  sheet_.pages.back().texts.push_back({x, y, std::string(text)});
}

bool TextPrintSurface::NewPage() {
  if (!started_) return false;
  sheet_.pages.emplace_back();
  return true;
}

bool TextPrintSurface::EndDocument() {
  if (!started_) return false;
  out_->text = ReportAsText(sheet_, dotsPerColumn_);
  out_->ended = true;
  return true;
}

}  // namespace tsn
