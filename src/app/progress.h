#pragma once
// The status strip: progress bar, block counter, time-remaining clock and the
// folder, file and size counters.
#include <cstdint>
#include <string>

#include "core/engine_host.h"
#include "ui/window_system.h"

namespace tsn {

struct AppState;
struct LOGDRIVE_INFO;

// Local wall-clock time in 100-ns units since 1601-01-01.
std::uint64_t LocalTimeNow();

// 1234567 -> "1,234,567".
std::string FormatThousands(std::uint64_t value);

void StartProgress(AppState* app, ProgressClock* clock, ControlId bar, ControlId blockControl,
                   ControlId clockControl);
void UpdateProgressClock(AppState* app, ProgressClock* clock);
// The same, at a given time: the clock arithmetic without the wall clock.
void UpdateProgressClockAt(AppState* app, ProgressClock* clock, std::uint64_t now);

void ShowScanCounters(AppState* app, const LOGDRIVE_INFO* drive);
void ShowCounters(AppState* app, std::uint64_t dirs, std::uint64_t files, std::uint64_t bytes);
void ResetScanView(AppState* app, LOGDRIVE_INFO* drive);

}  // namespace tsn
