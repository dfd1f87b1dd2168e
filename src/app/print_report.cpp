#include "app/print_report.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <utility>

#include "app/app_state.h"
#include "app/message_log.h"

namespace tsn {

namespace {

// The code point at text[at], and how many bytes it takes; a byte that
// starts no valid sequence stands for itself.
std::pair<char32_t, std::size_t> NextCodePoint(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  const std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
  if (length <= 1 || at + length > text.size()) return {lead, 1};
  char32_t c = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return {lead, 1};
    c = (c << 6) | (byte(at + i) & 0x3F);
  }
  return {c, length};
}

// A text the printer cannot draw whole is not left with blanks: each
// character that no font has is printed as its code, <U+XXXX>, and the log
// says which name it was.
std::string DrawableText(AppState* app, const PrintSurface& printer, const std::string& text) {
  const std::vector<char32_t> missing = printer.MissingGlyphs(text);
  if (missing.empty()) return text;
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    const auto [c, length] = NextCodePoint(text, at);
    if (std::find(missing.begin(), missing.end(), c) != missing.end()) {
      char code[16];
      std::snprintf(code, sizeof code, "<U+%04X>", static_cast<unsigned>(c));
      out += code;
    } else {
      out.append(text, at, length);
    }
    at += length;
  }
  LogMessage(app, kAlert, app->logList,
             "No font on this machine draws every character of \"%s\"; the report prints it as \"%s\".",
             text.c_str(), out.c_str());
  return out;
}

}  // namespace

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
    for (const ReportText& t : sheet.pages[page].texts) printer->TextOut(t.x, t.y, DrawableText(app, *printer, t.text));
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
