#include "core/trace.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>

namespace tsn {

namespace {
int gTraceFd = STDERR_FILENO;
}  // namespace

int TraceLine(const char* format, ...) {
  static char text[32768];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(text, sizeof text - 1, format, args);
  va_end(args);
  if (n < 0) return 1;
  std::size_t length = std::min<std::size_t>(static_cast<std::size_t>(n), sizeof text - 2);
  text[length++] = '\n';
  for (std::size_t done = 0; gTraceFd >= 0 && done < length;) {
    const ssize_t w = ::write(gTraceFd, text + done, length - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) break;
    done += static_cast<std::size_t>(w);
  }
  return 1;
}

void SetTraceOutput(int fd) { gTraceFd = fd; }

}  // namespace tsn
