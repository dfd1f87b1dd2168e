#pragma once
// Runs a command the way the benchmarks time their references beside our
// own program: a child process, its output thrown away.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace tsn::bench {

struct CommandRun {
  double seconds = -1;  // wall time; -1 when the command failed
  long peakKib = 0;     // the child's peak resident set
};

inline CommandRun RunCommand(const std::vector<std::string>& argv) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return {ok ? seconds : -1, usage.ru_maxrss};
}

}  // namespace tsn::bench
