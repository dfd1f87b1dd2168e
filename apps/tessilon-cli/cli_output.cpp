#include "cli_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

namespace tsn::cli {

namespace {

// The length of the well-formed UTF-8 sequence at s[i], 0 when there is none.
std::size_t Utf8Length(std::string_view s, std::size_t i) {
  const auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b = at(i);
  std::size_t n = 0;
  unsigned char low = 0x80, high = 0xBF;  // the second byte's range
  if (b >= 0xC2 && b <= 0xDF) n = 2;
  else if (b >= 0xE0 && b <= 0xEF) n = 3, low = b == 0xE0 ? 0xA0 : 0x80, high = b == 0xED ? 0x9F : 0xBF;
  else if (b >= 0xF0 && b <= 0xF4) n = 4, low = b == 0xF0 ? 0x90 : 0x80, high = b == 0xF4 ? 0x8F : 0xBF;
  if (n == 0 || i + n > s.size()) return 0;
  if (at(i + 1) < low || at(i + 1) > high) return 0;
  for (std::size_t k = 2; k < n; ++k)
    if (at(i + k) < 0x80 || at(i + k) > 0xBF) return 0;
  return n;
}

void AppendHex(std::string& out, unsigned char b) {
  char hex[5];
  std::snprintf(hex, sizeof hex, "\\x%02x", b);
  out += hex;
}

}  // namespace

std::string EscapeControls(std::string_view text, Backslash backslash) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b >= 0x80) {
      const std::size_t n = Utf8Length(text, i);
      // U+0080 to U+009F are the C1 controls; some terminals act on them.
      const bool c1 = n == 2 && b == 0xC2 && static_cast<unsigned char>(text[i + 1]) <= 0x9F;
      if (n == 0 || c1) {
        const std::size_t shown = n == 0 ? 1 : n;
        for (std::size_t k = 0; k < shown; ++k) AppendHex(out, static_cast<unsigned char>(text[i + k]));
        i += shown;
      } else {
        out.append(text.substr(i, n));
        i += n;
      }
      continue;
    }
    switch (b) {
      case '\\': out += backslash == Backslash::Doubled ? "\\\\" : "\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default:
        if (b < 0x20 || b == 0x7F) AppendHex(out, b);
        else out += static_cast<char>(b);
    }
    ++i;
  }
  return out;
}

Output::~Output() {
  if (!partial_.empty() && !finished_) RemovePartial();
}

bool Output::OpenFile(const std::string& path) {
  namespace fs = std::filesystem;
  const fs::path target(path);
  path_ = path;
  partial_ = (target.parent_path() / (".partial-" + target.filename().string())).string();
  // A partial file left by a run that was killed is ours to replace; a
  // symbolic link in its place is not followed.
  for (int attempt = 0; attempt < 2; ++attempt) {
    fd_ = ::open(partial_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd_ >= 0 || errno != EEXIST || attempt > 0) break;
    ::unlink(partial_.c_str());
  }
  if (fd_ < 0) {
    error_ = errno;
    partial_.clear();  // not ours to remove
    return false;
  }
  return true;
}

void Output::Write(std::string_view bytes) {
  if (error_ != 0) return;
  held_.append(bytes);
  if (held_.size() >= 64 * 1024) Drain();
}

void Output::Drain() {
  std::size_t done = 0;
  while (error_ == 0 && done < held_.size()) {
    const ssize_t n = ::write(fd_, held_.data() + done, held_.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail(n < 0 ? errno : EIO);
    else done += static_cast<std::size_t>(n);
  }
  held_.clear();
}

void Output::Fail(int error) {
  if (error_ == 0) error_ = error;
}

bool Output::Finish() {
  Drain();
  if (partial_.empty()) {
    // Closing a second handle makes a file system that reports write errors
    // only at close (NFS) report them, and leaves stdout open.
    if (error_ == 0) {
      const int dup = ::dup(fd_);
      if (dup < 0 || ::close(dup) != 0) Fail(errno);
    }
    finished_ = true;
    return error_ == 0;
  }
  if (finished_) return error_ == 0;
  if (error_ == 0 && ::fsync(fd_) != 0) Fail(errno);
  if (::close(fd_) != 0) Fail(errno);
  fd_ = -1;
  if (error_ == 0 && ::rename(partial_.c_str(), path_.c_str()) != 0) Fail(errno);
  if (error_ != 0) RemovePartial();
  finished_ = true;
  return error_ == 0;
}

std::string Output::Cause() const { return std::strerror(error_); }

void Output::RemovePartial() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  ::unlink(partial_.c_str());
}

}  // namespace tsn::cli
