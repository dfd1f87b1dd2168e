#pragma once
#include <cstdint>

#include "ui/window_system.h"

namespace tsn {
struct AppState;
struct LOGDRIVE_INFO;

// What the "Volume" column of a device this user may not read says.
inline constexpr const char* kNeedsPermissionText = "needs permission";

// Appends the drive's row; 0 when the list refuses it. A drive that needs
// permission shows where it is and that it needs it, greyed.
int AddDriveRow(AppState* app, LOGDRIVE_INFO* drive, ControlId list);
// Sets the columns of row n from the drive: every one once it is mounted;
// before that, where it is and that it needs permission.
void FillDriveRow(AppState* app, LOGDRIVE_INFO* drive, ControlId list, int n);
// The drive list's row of the drive; -1 when it has none.
int DriveRowOf(const AppState& app, const LOGDRIVE_INFO* drive);
std::uint32_t DriveRowColour(CustomDrawRecord* record);
}  // namespace tsn
