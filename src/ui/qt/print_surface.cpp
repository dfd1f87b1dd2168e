#include "ui/qt/print_surface.h"

#include <QFontMetrics>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QIODevice>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QTextLayout>
#include <algorithm>

#include "app/report_layout.h"

namespace tsn {

namespace {
QString ToQString(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QFont ReportFont() {
  QFont font = QGuiApplication::font();
  font.setPointSizeF(QtPrintSurface::kReportFontPoints);
  // No ligatures: "fi" stays two letters, for whoever reads the text back.
  font.setStyleStrategy(QFont::PreferNoShaping);
  return font;
}
}  // namespace

bool DrawsEveryCharacter(const QFont& font, QPaintDevice* device, const QString& text) {
  // Laid out as it is drawn, fallback fonts and all; a character no font
  // covers comes out as glyph 0, which PDF viewers show as nothing.
  QTextLayout layout(text, font, device);
  layout.beginLayout();
  layout.createLine();
  layout.endLayout();
  for (const QGlyphRun& run : layout.glyphRuns()) {
    const QList<quint32> glyphs = run.glyphIndexes();
    if (std::find(glyphs.begin(), glyphs.end(), 0u) != glyphs.end()) return false;
  }
  return true;
}

QtPrintSurface::QtPrintSurface(std::unique_ptr<QPagedPaintDevice> owned)
    : owned_(std::move(owned)), device_(owned_.get()), font_(ReportFont()) {}

QtPrintSurface::QtPrintSurface(QPrinter* printer)
    : device_(printer), printer_(printer), font_(ReportFont()) {
  // The dialog may have swapped the print engine, which forgets the
  // resolution asked for before it.
  printer_->setResolution(kReportDotsPerInch);
  printer_->setFullPage(false);
}

std::unique_ptr<QtPrintSurface> QtPrintSurface::ForPdfFile(const QString& path) {
  return ForPdfWriter(std::make_unique<QPdfWriter>(path));
}

std::unique_ptr<QtPrintSurface> QtPrintSurface::ForPdfDevice(std::unique_ptr<QIODevice> out) {
  if (!out->isOpen()) out->open(QIODevice::WriteOnly);
  auto surface = ForPdfWriter(std::make_unique<QPdfWriter>(out.get()));
  surface->out_ = std::move(out);
  return surface;
}

std::unique_ptr<QtPrintSurface> QtPrintSurface::ForPdfWriter(std::unique_ptr<QPdfWriter> writer) {
  writer->setResolution(kReportDotsPerInch);
  writer->setCreator(QStringLiteral("Tessilon"));
  const double quarterInch = 25.4 / 4;
  writer->setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                    QMarginsF(quarterInch, quarterInch, quarterInch, quarterInch),
                                    QPageLayout::Millimeter));
  return std::unique_ptr<QtPrintSurface>(
      new QtPrintSurface(std::unique_ptr<QPagedPaintDevice>(writer.release())));
}

QtPrintSurface::~QtPrintSurface() {
  // A job left open (after a failed end) is closed before its device goes.
  painter_.reset();
}

bool QtPrintSurface::StartDocument(std::string_view name) {
  if (printer_ != nullptr) printer_->setDocName(ToQString(name));
  else if (auto* pdf = dynamic_cast<QPdfWriter*>(device_)) pdf->setTitle(ToQString(name));
  painter_ = std::make_unique<QPainter>();
  // Beginning to paint starts the job and its first page.
  if (!painter_->begin(device_)) {
    painter_.reset();
    return false;
  }
  painter_->setFont(font_);
  painter_->setPen(Qt::black);
  return true;
}

int QtPrintSurface::PageWidth() const { return device_->width(); }
int QtPrintSurface::PageHeight() const { return device_->height(); }

int QtPrintSurface::LineHeight() const {
  return QFontMetrics(font_, device_).height();  // ascent + descent
}

int QtPrintSurface::TextWidth(std::string_view text) const {
  return QFontMetrics(font_, device_).horizontalAdvance(ToQString(text));
}

void QtPrintSurface::TextOut(int x, int y, std::string_view text) {
  if (painter_ == nullptr || !painter_->isActive()) return;
  // Text is placed by its top, as the report's rows are; Qt draws from the
  // baseline.
  painter_->drawText(QPoint(x, y + painter_->fontMetrics().ascent()), ToQString(text));
}

std::vector<char32_t> QtPrintSurface::MissingGlyphs(std::string_view text) const {
  const QString s = ToQString(text);
  if (DrawsEveryCharacter(font_, device_, s)) return {};
  // Only a name that does not draw whole is looked at character by
  // character, to tell which ones are missing.
  std::vector<char32_t> missing;
  for (const char32_t c : s.toUcs4()) {
    if (std::find(missing.begin(), missing.end(), c) != missing.end()) continue;
    if (!DrawsEveryCharacter(font_, device_, QString::fromUcs4(&c, 1))) missing.push_back(c);
  }
  return missing;
}

bool QtPrintSurface::NewPage() { return device_->newPage(); }

bool QtPrintSurface::EndPage() {
  // Ending the painter ends the last page and hands the job over.
  return painter_ != nullptr && painter_->end();
}

bool QtPrintSurface::EndDocument() {
  return printer_ == nullptr || printer_->printerState() != QPrinter::Error;
}

bool QtPrintSurface::Release() {
  painter_.reset();
  return true;
}

}  // namespace tsn
