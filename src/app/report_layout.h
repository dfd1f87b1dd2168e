#pragma once
// The "Deleted File Report" laid out on pages: every deleted file of the
// folder tree, folder by folder, at fixed positions in printer dots. The
// layout knows the printer only by its page size, line height and text
// widths; PrintReport hands the pages to the printer the user chose.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/engine_host.h"
#include "ui/window_system.h"

namespace tsn {

struct AppState;
struct FoundFile;

// Columns of the report, in dots, whatever the printer's resolution.
constexpr int kReportTop = 30;
constexpr int kReportNameX = 40;
constexpr int kReportCreatedX = 100;
constexpr int kReportModifiedX = 550;
constexpr int kReportSizeX = 1000;
constexpr int kReportStatusX = 1300;
// The fixed columns above fit a page printed at this resolution.
constexpr int kReportDotsPerInch = 300;

struct ReportText {
  int x = 0;
  int y = 0;  // top of the text
  std::string text;
  friend bool operator==(const ReportText&, const ReportText&) = default;
};

struct ReportPage {
  std::vector<ReportText> texts;  // in the order they are printed
};

// What the layout knows of the printer.
struct ReportMetrics {
  int pageWidth = 0;
  int pageHeight = 0;
  int lineHeight = 0;
  std::function<int(std::string_view)> textWidth;
};

// The printer as the layout writes on it: the pages so far, the last one
// being written.
struct ReportSheet {
  ReportMetrics metrics;
  std::vector<ReportPage> pages;
};

// Prints the page header on the last page; returns the y of the first row.
int PrintReportHeader(AppState* app, ReportSheet* sheet, int h);
// The deleted files of every folder below the found folder, depth first,
// each folder's files before its subfolders. Returns 1.
int PrintFolderFiles(AppState* app, FolderRef folder, ReportSheet* sheet, int h, int* y);
// One file on two lines; starts a new page when fewer than six lines remain.
void PrintFileRow(AppState* app, const FoundFile& file, ReportSheet* sheet, int h, int* y);
// The whole report of the tree shown: the root's own deleted files, then
// those of every folder below it.
ReportSheet LayOutReport(AppState* app, const ReportMetrics& metrics);

// A fixed-pitch page of the size the report prints on at 300 dots an inch
// (A4 less quarter-inch margins), 20 dots a character and 50 a line.
ReportMetrics FixedPitchReportMetrics();
constexpr int kFixedPitchDotsPerColumn = 20;
// The report as plain text: one line per printed line, each text at its
// column (x / dotsPerColumn, pushed right to keep a blank after the text
// before it), pages separated by a form feed.
std::string ReportAsText(const ReportSheet& sheet, int dotsPerColumn);

}  // namespace tsn
