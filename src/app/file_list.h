#pragma once
// The file list: the found files of one folder, one row each.
#include <cstdint>
#include <string>

#include "ui/window_system.h"

namespace tsn {

struct AppState;
struct MftFileInfo;
struct FoundFile;
struct ScanRecords;

void ShowFolderFiles(AppState* app, NodeHandle treeItem);
void AddFileToDisplayList(AppState* app, FoundFile* file);
int FileTypeImage(const FoundFile& file);
// The extension after the last dot, upper-cased; empty when there is none.
// `found` tells an empty extension ("readme.") from none at all.
std::string UpperExtension(const std::string& name, bool* found);

// The verdict shown in the "State" column.
const char* FileStateText(std::uint32_t flags);
// "MM-DD-YYYY hh:mm" of a file time (UTC) and of a FAT date and time.
std::string FormatFileTime(std::uint64_t fileTime);
std::string FormatFatDateTime(std::uint16_t date, std::uint16_t time);

}  // namespace tsn
