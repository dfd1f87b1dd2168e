#include "app/fault_report.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <exception>

#include "app/app_state.h"
#include "core/trace.h"

namespace tsn {

namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr std::size_t kFieldLimit = 2048;  // the fault context's text fields

AppState* gApp = nullptr;
std::atomic<int> gReporting{0};
// Room for the report's line, made ready before anything can go wrong.
char gLine[2 * kFieldLimit + 256];
alignas(16) char gAltStack[64 * 1024];

// Appends text to out[at..size), leaving room for the NUL.
std::size_t Put(char* out, std::size_t size, std::size_t at, const char* text, std::size_t limit) {
  for (std::size_t i = 0; text != nullptr && text[i] != '\0' && i < limit && at + 1 < size; ++i)
    out[at++] = text[i];
  return at;
}

std::size_t PutNumber(char* out, std::size_t size, std::size_t at, std::uint64_t v) {
  char digits[24];
  std::size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  while (n > 0 && at + 1 < size) out[at++] = digits[--n];
  return at;
}

// The context's strings, bounded: a context caught in the middle of a
// change must not make the report read without end.
const char* FieldText(const std::string& s) { return s.data(); }


void WriteAll(const char* text, std::size_t length, int fd = STDERR_FILENO) {
  while (length > 0) {
    const ssize_t n = ::write(fd, text, length);
    if (n <= 0) return;
    text += n;
    length -= static_cast<std::size_t>(n);
  }
}

void Report(const char* message) {
  // A fault inside the report must not report again.
  if (gReporting.exchange(1) != 0) return;
  std::size_t n = 0;
  if (gApp != nullptr)
    n = FormatFaultTrace(gLine, sizeof gLine, message != nullptr ? message : FieldText(gApp->faultMessage),
                         FieldText(gApp->routineName), gApp->faultLba, gApp->faultRecord);
  else
    n = FormatFaultTrace(gLine, sizeof gLine, message, "", 0, 0);
  gLine[n] = '\n';
  WriteAll(gLine, n + 1);
  if (gApp != nullptr && gApp->ui != nullptr) gApp->ui->ShowMessageBox("Waiting", "Exception");
}

void OnFatalSignal(int signal) {
  Report(nullptr);
  // End the way the signal would have ended us, so a parent sees which it was.
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal, &fallback, nullptr);
  sigset_t unblock;
  sigemptyset(&unblock);
  sigaddset(&unblock, signal);
  sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
  raise(signal);
  _exit(128 + signal);
}

void OnTerminate() {
  static char what[kFieldLimit];
  what[0] = '\0';
  if (const std::exception_ptr current = std::current_exception()) {
    try {
      std::rethrow_exception(current);
    } catch (const std::exception& e) {
      std::snprintf(what, sizeof what, "uncaught exception: %s", e.what());
    } catch (...) {
      std::snprintf(what, sizeof what, "uncaught exception of unknown type");
    }
  }
  Report(what[0] != '\0' ? what : nullptr);
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(SIGABRT, &fallback, nullptr);
  std::abort();
}

}  // namespace

std::size_t FormatFaultTrace(char* out, std::size_t size, const char* message, const char* function,
                             std::uint64_t lba, std::uint64_t record) {
  if (size == 0) return 0;
  std::size_t at = 0;
  at = Put(out, size, at, "Message (", 16);
  at = Put(out, size, at, message, kFieldLimit);
  at = Put(out, size, at, ") Function: (", 16);
  at = Put(out, size, at, function, kFieldLimit);
  at = Put(out, size, at, ") LBASector (", 16);
  at = PutNumber(out, size, at, lba);
  at = Put(out, size, at, ") Rnum (", 16);
  at = PutNumber(out, size, at, record);
  at = Put(out, size, at, ")", 16);
  out[at] = '\0';
  return at;
}

std::string FaultTraceOf(const AppState& app) {
  char line[sizeof gLine];
  const std::size_t n = FormatFaultTrace(line, sizeof line, app.faultMessage.c_str(),
                                         app.routineName.c_str(), app.faultLba, app.faultRecord);
  return std::string(line, n);
}

int InstallFaultFilter(AppState* app) {
  gApp = app;
  gReporting = 0;
  stack_t alt{};
  alt.ss_sp = gAltStack;
  alt.ss_size = sizeof gAltStack;
  sigaltstack(&alt, nullptr);
  struct sigaction action {};
  action.sa_handler = OnFatalSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_ONSTACK;
  for (const int s : kFatalSignals) sigaction(s, &action, nullptr);
  std::set_terminate(OnTerminate);
  return 1;
}


}  // namespace tsn
