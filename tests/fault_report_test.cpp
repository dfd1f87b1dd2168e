// The last-resort fault report: a child process installs the filter the way
// the dialog does, then faults for real (or throws, or raises); the parent
// reads what it wrote on stderr and how it ended.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <functional>
#include <stdexcept>
#include <string>

#include "app/app_state.h"
#include "app/fault_report.h"
#include "core/trace.h"
#include "app/main_dialog.h"
#include "ui/headless/headless_window.h"

namespace tsn {
namespace {

// A window whose message box says on stderr that it was shown, since the
// child cannot report anything after it is gone.
class TellingWindow : public HeadlessWindow {
 public:
  void ShowMessageBox(std::string_view text, std::string_view caption) override {
    const std::string line = "BOX " + std::string(text) + "|" + std::string(caption) + "\n";
    (void)!::write(STDERR_FILENO, line.data(), line.size());
  }
};

struct Ended {
  std::string err;
  int signal = 0;  // 0 when it exited
  int status = -1;
};

// Runs body in a child whose stderr comes back through a pipe.
Ended InChild(const std::function<void(AppState&)>& body, bool withWindow = true) {
  int pipeFd[2];
  EXPECT_EQ(::pipe(pipeFd), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipeFd[1], STDERR_FILENO);
    ::close(pipeFd[0]);
    ::close(pipeFd[1]);
    AppState app;
    TellingWindow window;
    if (withWindow) {
      app.ui = &window;
      window.SetDialogProc([&app](const Message& m) { return MainDialogProc(&app, m); });
      MainDialogProc(&app, Message{.kind = MessageKind::InitDialog});  // installs the filter
    } else {
      InstallFaultFilter(&app);
    }
    // Nothing above the body may catch what it throws (the test framework
    // would): an exception that escapes a noexcept frame goes to terminate,
    // as one escaping the event loop does.
    [&]() noexcept { body(app); }();
    ::_exit(0);
  }
  ::close(pipeFd[1]);
  Ended e;
  char buffer[4096];
  for (ssize_t n; (n = ::read(pipeFd[0], buffer, sizeof buffer)) > 0;) e.err.append(buffer, static_cast<std::size_t>(n));
  ::close(pipeFd[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  e.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  e.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return e;
}

[[gnu::noinline]] int Deref(volatile int* p) { return *p; }
volatile bool gDeeper = true;
[[gnu::noinline]] int Recurse(int n) {
  volatile char pad[4096];
  pad[0] = static_cast<char>(n);
  return gDeeper ? Recurse(n + 1) + pad[0] : 0;
}

TEST(FaultReport, TheLineIsCutToItsBufferNeverOverrun) {
  char line[512];
  const std::size_t n = FormatFaultTrace(line, 12, "abcdef", "x", 1, 2);
  EXPECT_EQ(n, 11u);
  EXPECT_EQ(std::string(line), "Message (ab");
  AppState app;
  app.routineName = "FixupRecord";
  app.faultRecord = 41;
  EXPECT_EQ(FaultTraceOf(app), "Message () Function: (FixupRecord) LBASector (0) Rnum (41)");
}

// Each fault is reported once, by its line, then shown in a box when there
// is a window, and ends the process with its own signal. The handler runs
// on a stack of its own, so running out of stack is reported too; an
// exception is reported once, not again by the abort that follows.
TEST(FaultReport, EveryFatalSignalAStackOverflowAndAnUncaughtExceptionAreReportedOnceAndShown) {
  const struct {
    const char* what;
    std::function<void(AppState&)> body;
    bool withWindow;
    int signal;
    const char* line;
  } cases[] = {
      {"an access violation",
       [](AppState& app) {
         app.routineName = "BuildIndexAllocationAttribute";
         app.faultLba = (1ULL << 40) + 3;
         app.faultRecord = (1ULL << 63) + 1;
         Deref(nullptr);
       },
       true, SIGSEGV,
       "Message () Function: (BuildIndexAllocationAttribute) LBASector (1099511627779) Rnum (9223372036854775809)\n"},
      {"SIGBUS", [](AppState&) { std::raise(SIGBUS); }, true, SIGBUS, "Message () Function: () LBASector (0) Rnum (0)"},
      {"SIGFPE", [](AppState&) { std::raise(SIGFPE); }, true, SIGFPE, "Message () Function: () LBASector (0) Rnum (0)"},
      {"SIGILL", [](AppState&) { std::raise(SIGILL); }, true, SIGILL, "Message () Function: () LBASector (0) Rnum (0)"},
      {"SIGABRT", [](AppState&) { std::raise(SIGABRT); }, true, SIGABRT, "Message () Function: () LBASector (0) Rnum (0)"},
      {"a stack overflow",
       [](AppState& app) {
         app.routineName = "FixupRecord";
         Recurse(0);
       },
       true, SIGSEGV, "Function: (FixupRecord)"},
      {"an uncaught exception", [](AppState&) { throw std::runtime_error("disk on fire"); }, true, SIGABRT,
       "Message (uncaught exception: disk on fire) Function: ()"},
      {"no window", [](AppState&) { Deref(nullptr); }, false, SIGSEGV, "Message () Function: ()"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Ended e = InChild(c.body, c.withWindow);
    EXPECT_EQ(e.signal, c.signal);
    EXPECT_NE(e.err.find(c.line), std::string::npos) << e.err;
    EXPECT_EQ(e.err.find("Message ("), e.err.rfind("Message (")) << e.err;
    // The line comes before the box, and only a window shows one.
    const std::size_t box = e.err.find("BOX Waiting|Exception");
    EXPECT_EQ(box != std::string::npos, c.withWindow) << e.err;
    EXPECT_TRUE(!c.withWindow || e.err.find("Message (") < box) << e.err;
  }
}

TEST(TraceLines, GoToStderrFormatted) {
  const Ended e = InChild([](AppState&) {
    TraceLine("Fixup FAILED for (%s) Rnum (%d)", "Docs", 42);
    TraceLine("%s", std::string(40000, 'x').c_str());  // cut, not overrun
  });
  EXPECT_EQ(e.status, 0);
  EXPECT_EQ(e.err.substr(0, 33), "Fixup FAILED for (Docs) Rnum (42)");
  EXPECT_EQ(e.err.size(), 34u + 32766u + 1u);
}

}  // namespace
}  // namespace tsn
