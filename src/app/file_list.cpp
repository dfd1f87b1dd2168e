#include "app/file_list.h"

#include <cinttypes>
#include <cstdio>

#include "app/app_state.h"
#include "app/message_log.h"

namespace tsn {

void ShowFolderFiles(AppState* app, NodeHandle treeItem) {
  app->ui->DeleteAllRows(app->fileList);
  const MftFileInfo* folder = app->results.FolderRecordOf(app->FolderOf(treeItem));
  if (folder == nullptr) return;
  for (FoundFile* f = folder->firstFile; f != nullptr; f = f->next) AddFileToDisplayList(app, f);
}

const char* FileStateText(std::uint32_t flags) {
  if (flags & kFlagInUse) return "Active";
  if (flags & kFlagBadSize) return "Bad File Size";
  if (flags & kFlagBadCluster) return "Bad Cluster Value";
  if (flags & kFlagChainInUse) return "Chain is in use";
  return "Recovery may be possible";
}

std::string FormatFileTime(std::uint64_t fileTime) {
  // Days since 1601-01-01 to a civil date (proleptic Gregorian).
  const std::uint64_t minutes = fileTime / 600'000'000ULL;
  const std::int64_t days = static_cast<std::int64_t>(minutes / 1440);
  const int hour = static_cast<int>(minutes % 1440 / 60), minute = static_cast<int>(minutes % 60);
  // Count from 0000-03-01 instead, where leap days fall at the end of a year:
  // 1601-01-01 is day 584,694 of that count.
  const std::int64_t z = days + 584694;
  const std::int64_t era = z / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  char text[48];
  std::snprintf(text, sizeof text, "%02d-%02d-%04d %02d:%02d", month, day, static_cast<int>(year),
                hour, minute);
  return text;
}

std::string FormatFatDateTime(std::uint16_t date, std::uint16_t time) {
  char text[48];
  std::snprintf(text, sizeof text, "%02d-%02d-%04d %02d:%02d", (date >> 5) & 0x0F, date & 0x1F,
                (date >> 9) + 1980, time >> 11, (time >> 5) & 0x3F);
  return text;
}

void AddFileToDisplayList(AppState* app, FoundFile* file) {
  if (file->name.empty()) return;
  WindowSystem& ui = *app->ui;
  const int n = ui.RowCount(app->fileList);
  const int row = ui.InsertRow(app->fileList, n, file->name, FileTypeImage(*file), file);
  if (row < 0) {
    LogMessage(app, kError, app->logList, "AddFileToDisplayList: InsertItem FAILED");
    return;
  }
  if (file->recordNumber != 0) {
    ui.SetRowText(app->fileList, row, 2, FormatFileTime(file->created));
    ui.SetRowText(app->fileList, row, 3, FormatFileTime(file->modified));
  } else {
    ui.SetRowText(app->fileList, row, 3, FormatFatDateTime(file->fatDate, file->fatTime));
    ui.SetRowText(app->fileList, row, 2, "FAT32 N/A");
  }
  ui.SetRowText(app->fileList, row, 1, std::to_string(file->size));
  ui.SetRowText(app->fileList, row, 4, FileStateText(file->flags));
  if (file->checkState == kCheckTicked) ui.SetRowCheck(app->fileList, row, kChecked);
}

std::string UpperExtension(const std::string& name, bool* found) {
  const std::size_t dot = name.rfind('.');
  *found = dot != std::string::npos && dot != 0;
  if (!*found) return {};
  std::string ext = name.substr(dot + 1);
  for (char& c : ext)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return ext;
}

int FileTypeImage(const FoundFile& file) {
  struct TypeRow {
    int image;
    const char* extensions[9];
  };
  static const TypeRow kTable[] = {
      {9, {"BMP", "JPG", "JPEG", "TIFF", "GIF", "PCX", "PNG", "TGA", nullptr}},
      {12, {"EXE", "DLL", "COM", "JS", "VBS", "HTML", nullptr}},
      {10, {"ZIP", "ARJ", "ARC", "LZH", "RAR", "TAR", "GZIP", "GZ", nullptr}},
      {8, {"MID", "MOD", "VOC", "WAV", nullptr}},
      {7, {"AVI", "FLI", "FLIC", "MOV", "MPG", "MPEG", "ASF", "QT", nullptr}},
      {11, {"MP3", nullptr}},
  };
  constexpr int kPlainDocument = 6;
  if (file.nameLength < 4) return kPlainDocument;
  bool found = false;
  const std::string ext = UpperExtension(std::string(file.name), &found);
  if (!found) return kPlainDocument;
  for (const TypeRow& row : kTable)
    for (const char* const* e = row.extensions; *e != nullptr; ++e)
      if (ext == *e) return row.image;
  return kPlainDocument;
}

}  // namespace tsn
