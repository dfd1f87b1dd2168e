#pragma once
#include <cstdint>

#include "ui/window_system.h"

namespace tsn {
struct AppState;
struct LOGDRIVE_INFO;

// Appends the drive's row; 0 when the list refuses it.
int AddDriveRow(AppState* app, LOGDRIVE_INFO* drive, ControlId list);
std::uint32_t DriveRowColour(CustomDrawRecord* record);
}  // namespace tsn
