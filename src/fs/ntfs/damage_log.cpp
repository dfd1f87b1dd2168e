#include "core/engine_host.h"
#include "fs/ntfs/damage_log.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <algorithm>


namespace tsn::ntfs {

void DamageLog::Note(const char* kind, const char* format, ...) {
  const std::uint64_t n = ++counts_[kind];
  if (n > limit_) return;
  char text[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  LogMessage(app_, kError, "%s", text);
}

void DamageLog::Flush() {
  for (const auto& [kind, count] : counts_) {
    std::uint64_t& summed = summed_[kind];
    if (count > limit_ + summed) {
      LogMessage(app_, kError, "%" PRIu64 " more %s were passed over.",
                 count - limit_ - summed, kind.c_str());
      summed = count - limit_;
    }
  }
}

}  // namespace tsn::ntfs
