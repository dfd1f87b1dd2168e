#pragma once
// Operations the dispatcher hands work to that live in the scanner, results
// and window-logic layers.
#include <cstdint>

#include "fat/fat_scans.h"
#include "results/folder_tree.h"
#include "ui/list_interaction.h"
#include "ui/window_system.h"

namespace tsn {

struct AppState;
struct LOGDRIVE_INFO;

// The four scans. Each returns 1 when it ran to its end, 0 when it stopped
// early (interrupted or unable to start).
int NtfsIndexedScan(AppState* app, LOGDRIVE_INFO* drive);
int NtfsFileListScan(AppState* app, LOGDRIVE_INFO* drive);

void CopyTickedFiles(AppState* app);
void PrintReport(AppState* app);

void SplitterMouseMove(AppState* app, Point point);
int SplitterButtonDown(AppState* app, Point point);
int SplitterButtonUp(AppState* app, Point point);

}  // namespace tsn
