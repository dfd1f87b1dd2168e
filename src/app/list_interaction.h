#pragma once
// Colours and clicks of the file list and the folder tree.
#include <cstdint>

#include "ui/window_system.h"

namespace tsn {
struct AppState;

std::uint32_t FileListColour(CustomDrawRecord* record);
std::uint32_t FolderTreeColour(const AppState* app, CustomDrawRecord* record);
void FileListClick(AppState* app, const HitTest& hit);
}  // namespace tsn
