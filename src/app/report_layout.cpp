#include "app/report_layout.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <map>

#include "app/app_state.h"
#include "app/file_list.h"
#include "app/folder_tree.h"
#include "ui/control_ids.h"

namespace tsn {

namespace {

void Text(ReportSheet* sheet, int x, int y, std::string text) {
  if (sheet->pages.empty()) sheet->pages.emplace_back();
  sheet->pages.back().texts.push_back({x, y, std::move(text)});
}

int TextWidth(const ReportSheet& sheet, std::string_view text) {
  return sheet.metrics.textWidth ? sheet.metrics.textWidth(text) : 0;
}

void Centred(ReportSheet* sheet, int y, const char* text) {
  const int x = sheet->metrics.pageWidth / 2 - TextWidth(*sheet, text) / 2;
  Text(sheet, x, y, text);
}

const char* ReportStatus(std::uint32_t flags) {
  if (flags & kFlagBadSize) return "Bad File Size";
  if (flags & kFlagBadCluster) return "Bad Cluster Value";
  if (flags & kFlagChainInUse) return "Chain is in use";
  return "Recovery may be possible";
}

void PrintDeletedFilesOf(AppState* app, const MftFileInfo* folder, ReportSheet* sheet, int h,
                         int* y) {
  if (folder == nullptr) return;
  for (const FoundFile* f = folder->firstFile; f != nullptr; f = f->next)
    if ((f->flags & kFlagInUse) == 0) PrintFileRow(app, *f, sheet, h, y);
}

}  // namespace

int PrintReportHeader(AppState*, ReportSheet* sheet, int h) {
  Centred(sheet, kReportTop, kWindowTitle);
  Centred(sheet, kReportTop + h, "Deleted File Report");
  Text(sheet, kReportNameX, kReportTop + 2 * h, "File Name");
  Text(sheet, kReportCreatedX, kReportTop + 3 * h, "Create Data");
  Text(sheet, kReportModifiedX, kReportTop + 3 * h, "Modified Data");
  Text(sheet, kReportSizeX, kReportTop + 3 * h, "Size");
  Text(sheet, kReportStatusX, kReportTop + 3 * h, "Status");
  return kReportTop + 4 * h;
}

void PrintFileRow(AppState* app, const FoundFile& file, ReportSheet* sheet, int h, int* y) {
  Text(sheet, kReportNameX, *y, std::string(file.name.substr(0, file.nameLength)));
  *y += h;
  if (file.recordNumber != 0) {
    // NTFS times as stored, in UTC.
    Text(sheet, kReportCreatedX, *y, FormatFileTime(file.created));
    Text(sheet, kReportModifiedX, *y, FormatFileTime(file.modified));
  } else {
    Text(sheet, kReportCreatedX, *y, "FAT N/A");
    Text(sheet, kReportModifiedX, *y, FormatFatDateTime(file.fatDate, file.fatTime));
  }
  char size[32];
  std::snprintf(size, sizeof size, "%" PRId64, static_cast<std::int64_t>(file.size));
  Text(sheet, kReportSizeX, *y, size);
  Text(sheet, kReportStatusX, *y, ReportStatus(file.flags));
  *y += h;
  if (*y + 6 * h >= sheet->metrics.pageHeight) {
    sheet->pages.emplace_back();
    *y = PrintReportHeader(app, sheet, h);
  }
}

int PrintFolderFiles(AppState* app, FolderRef folder, ReportSheet* sheet, int h, int* y) {
  const FoundTree& results = app->results;
  // Depth first with an explicit stack: a folder's files, then its
  // subfolders in tree order, however deep the tree goes.
  std::vector<FolderRef> pending;
  auto pushChildren = [&](FolderRef parent) {
    const std::vector<FolderRef>& children = results.Children(parent);
    pending.insert(pending.end(), children.rbegin(), children.rend());
  };
  pushChildren(folder);
  while (!pending.empty()) {
    const FolderRef child = pending.back();
    pending.pop_back();
    PrintDeletedFilesOf(app, results.FolderRecordOf(child), sheet, h, y);
    pushChildren(child);
  }
  return 1;
}

ReportSheet LayOutReport(AppState* app, const ReportMetrics& metrics) {
  ReportSheet sheet;
  sheet.metrics = metrics;
  sheet.pages.emplace_back();
  const int h = metrics.lineHeight;
  int y = PrintReportHeader(app, &sheet, h);
  const FolderRef root = app->results.RootFolder();
  if (root != kNoFolder) {
    PrintDeletedFilesOf(app, app->results.FolderRecordOf(root), &sheet, h, &y);
    PrintFolderFiles(app, root, &sheet, h, &y);
  }
  return sheet;
}

ReportMetrics FixedPitchReportMetrics() {
  // A4 is 8.27 x 11.69 inches; a quarter inch of margin on every side.
  ReportMetrics m;
  m.pageWidth = (827 - 50) * kReportDotsPerInch / 100;
  m.pageHeight = (1169 - 50) * kReportDotsPerInch / 100;
  m.lineHeight = 50;
  m.textWidth = [](std::string_view text) {
    return static_cast<int>(text.size()) * kFixedPitchDotsPerColumn;
  };
  return m;
}

std::string ReportAsText(const ReportSheet& sheet, int dotsPerColumn) {
  std::string out;
  const int perColumn = std::max(dotsPerColumn, 1);
  for (std::size_t p = 0; p < sheet.pages.size(); ++p) {
    if (p > 0) out += '\f';
    std::map<int, std::vector<const ReportText*>> lines;  // by y, texts in print order
    for (const ReportText& t : sheet.pages[p].texts) lines[t.y].push_back(&t);
    for (auto& [y, texts] : lines) {
      std::stable_sort(texts.begin(), texts.end(),
                       [](const ReportText* a, const ReportText* b) { return a->x < b->x; });
      std::string line;
      for (const ReportText* t : texts) {
        std::size_t column = static_cast<std::size_t>(std::max(t->x, 0) / perColumn);
        if (!line.empty()) column = std::max(column, line.size() + 1);
        line.resize(std::max(line.size(), column), ' ');
        line += t->text;
      }
      out += line;
      out += '\n';
    }
  }
  return out;
}

}  // namespace tsn
