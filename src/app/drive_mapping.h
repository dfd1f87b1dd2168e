#pragma once

namespace tsn {
struct AppState;
struct LOGDRIVE_INFO;

// "Build Drive List": tries every candidate volume, keeps the ones a file
// system of the table mounts as drive-list rows. 1 when the candidates were
// tried (also after an interruption), 0 when it stopped for want of memory.
int BuildDriveList(AppState* app);

// Has the window open a drive listed as needing permission, then reads and
// mounts it as drive mapping does the others and fills its row. False, with
// the reason in the log and the row left greyed, when it cannot be opened
// or holds no file system the program reads.
bool OpenPermittedDrive(AppState* app, LOGDRIVE_INFO* drive);
}  // namespace tsn
