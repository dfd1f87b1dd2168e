#pragma once
// "Copy files" as the window runs it: which files are ticked, the folder to
// copy them to, and what the copy came to.
#include <string>
#include <vector>

#include "results/copy_out.h"

namespace tsn {

struct AppState;
struct LOGDRIVE_INFO;

// Every file whose check box is ticked, with its folder path.
std::vector<CopyItem> TickedFiles(AppState* app);

// Copies the items and keeps the outcome in lastCopyResult.
CopyTotals CopyFilesTo(AppState* app, LOGDRIVE_INFO* drive, const std::string& destination,
                       const std::vector<CopyItem>& items);

// Command 5003: asks for the folder, then copies every ticked file.
void CopyTickedFiles(AppState* app);

}  // namespace tsn
