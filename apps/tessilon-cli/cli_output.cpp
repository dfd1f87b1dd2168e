#include "cli_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

namespace tsn::cli {

namespace {

// How the UTF-8 sequence that starts with byte b goes on: its length, and
// the range of its second byte (overlong forms, surrogates and code points
// past U+10FFFF excluded); length 0 when no sequence starts with b.
struct Utf8Lead {
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;
};

Utf8Lead LeadOf(unsigned char b) {
  if (b >= 0xC2 && b <= 0xDF) return {2};
  if (b >= 0xE0 && b <= 0xEF) return {3, static_cast<unsigned char>(b == 0xE0 ? 0xA0 : 0x80),
                                      static_cast<unsigned char>(b == 0xED ? 0x9F : 0xBF)};
  if (b >= 0xF0 && b <= 0xF4) return {4, static_cast<unsigned char>(b == 0xF0 ? 0x90 : 0x80),
                                      static_cast<unsigned char>(b == 0xF4 ? 0x8F : 0xBF)};
  return {0};
}

// How many bytes from s[i] on belong to the UTF-8 sequence begun there:
// all of it when it is whole and well formed, else the bytes before the
// first that breaks it (0 when s[i] starts none).
std::size_t Utf8Run(std::string_view s, std::size_t i, const Utf8Lead& lead) {
  if (lead.length == 0) return 0;
  std::size_t k = 1;
  for (; k < lead.length && i + k < s.size(); ++k) {
    const auto c = static_cast<unsigned char>(s[i + k]);
    const unsigned char low = k == 1 ? lead.low : 0x80, high = k == 1 ? lead.high : 0xBF;
    if (c < low || c > high) break;
  }
  return k;
}

// The length of the well-formed UTF-8 sequence at s[i], 0 when there is none.
std::size_t Utf8Length(std::string_view s, std::size_t i) {
  const Utf8Lead lead = LeadOf(static_cast<unsigned char>(s[i]));
  const std::size_t run = Utf8Run(s, i, lead);
  return run == lead.length ? run : 0;
}

void AppendHex(std::string& out, unsigned char b) {
  constexpr char kDigits[] = "0123456789abcdef";
  const char hex[4] = {'\\', 'x', kDigits[b >> 4], kDigits[b & 0x0F]};
  out.append(hex, sizeof hex);
}

}  // namespace

std::string EscapeControls(std::string_view text, Backslash backslash) {
  std::string out;
  AppendEscapedControls(out, text, backslash);
  return out;
}

void AppendEscapedControls(std::string& out, std::string_view text, Backslash backslash) {
  out.reserve(out.size() + text.size());
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
}

void AppendJsonString(std::string& out, std::string_view text) {
  static constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD
  std::size_t plain = 0;  // where the bytes not yet appended begin
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b >= 0x20 && b < 0x80 && b != '"' && b != '\\') {
      ++i;
      continue;
    }
    if (b >= 0x80) {
      const Utf8Lead lead = LeadOf(b);
      const std::size_t run = Utf8Run(text, i, lead);
      if (lead.length != 0 && run == lead.length) {
        i += run;
        continue;
      }
      out.append(text.substr(plain, i - plain));
      out.append(kReplacement, 3);
      i += run == 0 ? 1 : run;
      plain = i;
      continue;
    }
    out.append(text.substr(plain, i - plain));
    switch (b) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: {
        constexpr char kDigits[] = "0123456789abcdef";
        const char u[6] = {'\\', 'u', '0', '0', kDigits[b >> 4], kDigits[b & 0x0F]};
        out.append(u, sizeof u);
      }
    }
    plain = ++i;
  }
  out.append(text.substr(plain));
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
