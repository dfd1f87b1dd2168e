// "Print" on the real window: the print dialog, its cancel, and a report
// printed through it to a PDF file and read back with pdftotext; and the
// command line's PDF, whose page breaks follow the report's arithmetic on
// the 300 dpi surface both print on.
#include <QDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QTemporaryDir>
#include <memory>

#include "qt_test_support.h"
#include "app/report_layout.h"
#include "ui/qt/print_surface.h"

namespace tsn {
namespace {
using namespace qttest;

// Rows on a full page: the first count after which fewer than six lines
// remain below the last row.
int RowsPerPage(int pageHeight, int h) {
  int rows = 1;
  while (kReportTop + 4 * h + 2 * rows * h + 6 * h < pageHeight) ++rows;
  return rows;
}

// The pages of a PDF as pdftotext lays them out.
QStringList PdfPages(const QString& pdf) {
  QStringList pages = Run(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")})
                          .split(QLatin1Char('\f'));
  if (!pages.isEmpty() && pages.back().trimmed().isEmpty()) pages.pop_back();
  return pages;
}

// The deleted files' names on each page of a PDF.
QList<QStringList> NamesByPage(const QString& pdf, const QStringList& names) {
  QList<QStringList> pages;
  for (const QString& page : PdfPages(pdf)) {
    QStringList onPage;
    for (const QString& line : page.split(QLatin1Char('\n')))
      if (names.contains(line.trimmed())) onPage << line.trimmed();
    pages << onPage;
  }
  return pages;
}

bool EveryPageHasTheHeader(const QString& pdf) {
  const QStringList pages = PdfPages(pdf);
  for (const QString& page : pages) {
    const QStringList lines = page.split(QLatin1Char('\n'));
    if (lines.size() < 4 || lines[0].trimmed() != QStringLiteral("Tessilon ver 5.03222.05") ||
        lines[1].trimmed() != QStringLiteral("Deleted File Report") ||
        lines[2].trimmed() != QStringLiteral("File Name") || !lines[3].contains(QStringLiteral("Modified Data")))
      return false;
  }
  return !pages.isEmpty();
}

QList<QStringList> Expected(const QStringList& names, int rows) {
  QList<QStringList> pages{{}};
  for (const QString& n : names) {
    pages.back() << n;
    if (pages.back().size() == rows) pages << QStringList();
  }
  return pages;
}

}  // namespace

class PrintWindowTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  QString image_;
  QStringList deleted_;

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    image_ = dir_.filePath(QStringLiteral("report.img"));
    int status = -1;
    const QString names = Run(QStringLiteral("bash"),
                              {QStringLiteral(TESSILON_SOURCE_DIR "/tests/fixtures/make_report_image.sh"), image_},
                              &status);
    QCOMPARE(status, 0);
    deleted_ = names.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(deleted_.size(), 60);
  }

  // Cancelled, the dialog prints nothing; accepted, it prints the report.
  // Whatever comes up after it (a message box would) is noted and closed, so
  // a wrong one cannot hang the test.
  void printsThroughTheDialogToAPdfFileAndNothingWhenCancelled() {
    QtApp h;
    QVERIFY(h.ScanImage(image_));
    const QString pdf = dir_.filePath(QStringLiteral("window.pdf"));
    QPrinter* printer = h.window.Printer();
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(pdf);
    for (const bool accept : {false, true}) {
      bool offeredPageRange = true;
      QString afterwards;
      std::unique_ptr<WhenModal> then;
      const WhenModal first([&](QWidget* modal) {
        auto* dialog = qobject_cast<QPrintDialog*>(modal);
        if (dialog == nullptr) {
          afterwards = QStringLiteral("not a print dialog");
          static_cast<QDialog*>(modal)->reject();
          return;
        }
        offeredPageRange = dialog->testOption(QAbstractPrintDialog::PrintPageRange) ||
                           dialog->testOption(QAbstractPrintDialog::PrintSelection);
        then = std::make_unique<WhenModal>([&](QWidget* next) {
          afterwards = QString::fromLatin1(next->metaObject()->className());
          static_cast<QDialog*>(next)->reject();
        });
        accept ? dialog->accept() : dialog->reject();
      });
      QTest::mouseClick(h.window.ToolButtons()[6], Qt::LeftButton);
      QTest::qWait(100);
      QVERIFY(!offeredPageRange);
      QVERIFY2(afterwards.isEmpty(), qPrintable(afterwards));  // no "EndPage FAILED" and the like
      QCOMPARE(QFile::exists(pdf), accept);
    }
    QVERIFY(EveryPageHasTheHeader(pdf));
    // The surface measures the printer the dialog left behind.
    const QtPrintSurface measure(printer);
    const int rows = RowsPerPage(measure.PageHeight(), measure.LineHeight());
    QVERIFY(rows > 10 && rows < 60);  // at 300 dpi a page holds a few dozen rows
    QCOMPARE(NamesByPage(pdf, deleted_), Expected(deleted_, rows));
  }

  void commandLinePdfBreaksPagesByTheArithmetic() {
    const QString pdf = dir_.filePath(QStringLiteral("cli.pdf"));
    int status = -1;
    Run(QStringLiteral(TESSILON_CLI), {QStringLiteral("report"), image_, QStringLiteral("--out"), pdf}, &status);
    QCOMPARE(status, 0);
    QVERIFY(EveryPageHasTheHeader(pdf));
    const auto measure = QtPrintSurface::ForPdfFile(dir_.filePath(QStringLiteral("unused.pdf")));
    // A4 less quarter-inch margins at 300 dots an inch.
    QVERIFY2(qAbs(measure->PageWidth() - 2330) <= 2, qPrintable(QString::number(measure->PageWidth())));
    QVERIFY2(qAbs(measure->PageHeight() - 3358) <= 2, qPrintable(QString::number(measure->PageHeight())));
    const int rows = RowsPerPage(measure->PageHeight(), measure->LineHeight());
    qInfo("PDF page %d x %d dots, line height %d, %d rows a page", measure->PageWidth(),
          measure->PageHeight(), measure->LineHeight(), rows);
    QCOMPARE(NamesByPage(pdf, deleted_), Expected(deleted_, rows));
    const QString info = Run(QStringLiteral("pdfinfo"), {pdf});
    QVERIFY2(info.contains(QStringLiteral("595 x 842 pts")), qPrintable(info));
  }
};

}  // namespace tsn

TSN_QT_TEST_MAIN(tsn::PrintWindowTest)
#include "print_window_test.moc"
