#pragma once
// The last-resort fault report: when a fatal signal or an exception that
// nothing caught reaches the top, the fault context is written to stderr,
// the window (if there is one) says so, and the process ends. And the
// diagnostic trace lines, which go to stderr.
#include <cstddef>
#include <cstdint>
#include <string>

namespace tsn {

struct AppState;

// Installs the handlers for SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGABRT (on
// an alternate stack, so a stack overflow is reported too) and the terminate
// handler, reporting from `app`'s fault context. Returns 1.
int InstallFaultFilter(AppState* app);

// The report's line, "Message (%s) Function: (%s) LBASector (%I64d) Rnum
// (%I64d)", written into out without allocating (it is made inside a signal
// handler). Returns its length; the text is always NUL-terminated.
std::size_t FormatFaultTrace(char* out, std::size_t size, const char* message, const char* function,
                             std::uint64_t lba, std::uint64_t record);
std::string FaultTraceOf(const AppState& app);



}  // namespace tsn
