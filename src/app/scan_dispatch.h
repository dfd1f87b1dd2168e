#pragma once
// Operations the dispatcher hands work to that live in the scanner, results
// and window-logic layers.
#include <cstdint>

#include "fat/fat_scans.h"
#include "ntfs/ntfs_scans.h"
#include "results/folder_tree.h"
#include "ui/list_interaction.h"
#include "ui/window_system.h"

namespace tsn {

struct AppState;
struct LOGDRIVE_INFO;

void CopyTickedFiles(AppState* app);
void PrintReport(AppState* app);

void SplitterMouseMove(AppState* app, Point point);
int SplitterButtonDown(AppState* app, Point point);
int SplitterButtonUp(AppState* app, Point point);

}  // namespace tsn
