#pragma once
// The main dialog's spine: start, message dispatch, the busy protocol and the
// two scan commands.
#include "ui/window_system.h"

namespace tsn {

struct AppState;

void InitMainDialog(AppState* app);
ProcResult MainDialogProc(AppState* app, const Message& message);
// Connects app to its window layer and runs the dialog until it ends.
int RunMainDialog(AppState* app, WindowSystem* ui);

// Lets the window breathe inside a long loop: dispatches at most one waiting
// message and returns at once when none waits.
void PumpOneMessage(AppState* app);

// Makes the selected row's drive current; one that needs permission is
// opened first when `openIfNeeded`, and is not current while it stays shut.
void SelectCurrentDrive(AppState* app, bool openIfNeeded = true);
void BuildIndexedFileList(AppState* app);
void BuildFileListOnly(AppState* app);

}  // namespace tsn
