#include "core/engine_host.h"

#include <cstdarg>
#include <cstdio>

namespace tsn {

void LogMessage(EngineHost* host, std::uint32_t severity, const char* format, ...) {
  if (host == nullptr) return;
  // The log has always cut a line at this length.
  char text[3000];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  host->Log(severity, text);
}

}  // namespace tsn
