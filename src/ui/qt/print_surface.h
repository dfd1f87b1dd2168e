#pragma once
// The report's printer on Qt: a QPrinter the user chose in the print
// dialog, or a PDF file. Both print at 300 dots an inch, where the report's
// fixed columns fit the page, in a 10-point report font.
#include <QFont>
#include <QString>
#include <memory>

#include "ui/window_system.h"

class QIODevice;
class QPaintDevice;
class QPagedPaintDevice;
class QPdfWriter;
class QPainter;
class QPrinter;

namespace tsn {

// Whether every character of the text has a glyph in the font or in the
// fonts Qt falls back to for it, as drawn on the device.
bool DrawsEveryCharacter(const QFont& font, QPaintDevice* device, const QString& text);

class QtPrintSurface final : public PrintSurface {
 public:
  static constexpr double kReportFontPoints = 10.0;

  // Prints on a printer that outlives the surface.
  explicit QtPrintSurface(QPrinter* printer);
  // A PDF file on A4 paper with quarter-inch margins.
  static std::unique_ptr<QtPrintSurface> ForPdfFile(const QString& path);
  // The same, written to a device the surface keeps; it is opened here.
  static std::unique_ptr<QtPrintSurface> ForPdfDevice(std::unique_ptr<QIODevice> out);
  ~QtPrintSurface() override;

  bool StartDocument(std::string_view name) override;
  int PageWidth() const override;
  int PageHeight() const override;
  int LineHeight() const override;
  int TextWidth(std::string_view text) const override;
  void TextOut(int x, int y, std::string_view text) override;
  std::vector<char32_t> MissingGlyphs(std::string_view text) const override;
  bool NewPage() override;
  bool EndPage() override;
  bool EndDocument() override;
  bool Release() override;

  QPagedPaintDevice* Device() const { return device_; }

 private:
  explicit QtPrintSurface(std::unique_ptr<QPagedPaintDevice> owned);
  static std::unique_ptr<QtPrintSurface> ForPdfWriter(std::unique_ptr<QPdfWriter> writer);

  std::unique_ptr<QIODevice> out_;  // outlives the writer that writes to it
  std::unique_ptr<QPagedPaintDevice> owned_;
  QPagedPaintDevice* device_ = nullptr;
  QPrinter* printer_ = nullptr;  // the device, when it is a printer
  std::unique_ptr<QPainter> painter_;
  QFont font_;
};

}  // namespace tsn
