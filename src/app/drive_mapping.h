#pragma once

namespace tsn {
struct AppState;
struct LOGDRIVE_INFO;

// "Build Drive List": tries every candidate volume, keeps the ones a file
// system of the table mounts as drive-list rows. 1 when the candidates were
// tried (also after an interruption), 0 when it stopped for want of memory.
int BuildDriveList(AppState* app);
}  // namespace tsn
