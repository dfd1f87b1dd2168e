#pragma once
#include <cstdint>

#include "ui/window_system.h"

namespace tsn {

struct AppState;

enum Severity : std::uint32_t { kError = 0, kStatus = 1, kAlert = 2, kUser = 3 };

const char* SeverityWord(std::uint32_t severity);

// Appends one row to the message log: the label "%d -- %s" in column 0 and
// the formatted message in column 1. printf conventions; 64-bit values with
// PRId64/%lld.
void LogMessage(AppState* app, std::uint32_t severity, ControlId list, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

// Custom-draw handler of the log list.
std::uint32_t LogRowColour(CustomDrawRecord* record);

}  // namespace tsn
