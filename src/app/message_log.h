#pragma once
#include <cstdint>

#include <string_view>

#include "core/engine_host.h"
#include "ui/window_system.h"

namespace tsn {

struct AppState;

const char* SeverityWord(std::uint32_t severity);

// Appends one row to the message log: the label "%d -- %s" in column 0 and
// the formatted message in column 1. printf conventions; 64-bit values with
// PRId64/%lld.
void LogMessage(AppState* app, std::uint32_t severity, ControlId list, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
// The same for a line already formatted.
void WriteLogRow(AppState* app, std::uint32_t severity, ControlId list, std::string_view text);

// Custom-draw handler of the log list.
std::uint32_t LogRowColour(CustomDrawRecord* record);

}  // namespace tsn
