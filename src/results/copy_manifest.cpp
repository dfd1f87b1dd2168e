#include "results/copy_manifest.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "core/entry_records.h"
#include "fs/logdrive_info.h"
#include "results/copy_destination.h"

namespace tsn {

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
}

namespace {

// `value` in decimal, zero-padded to `width` digits, after a "-" when it is
// negative, as printf's %0Nd writes it (the sign counts in the width).
void AppendPadded(std::string& out, std::int64_t value, int width) {
  char digits[24];
  const bool negative = value < 0;
  const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  const auto end = std::to_chars(digits, digits + sizeof digits, magnitude).ptr;
  const int length = static_cast<int>(end - digits) + (negative ? 1 : 0);
  if (negative) out += '-';
  if (length < width) out.append(static_cast<std::size_t>(width - length), '0');
  out.append(digits, end);
}

}  // namespace

void AppendIsoUtc(std::string& out, std::int64_t seconds) {
  // Days from the civil date, after Howard Hinnant's public-domain method:
  // gmtime would do, but not for every year a damaged stamp can hold.
  std::int64_t days = seconds / 86400;
  std::int64_t rest = seconds % 86400;
  if (rest < 0) rest += 86400, --days;
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t doe = days - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  AppendPadded(out, year, 4);
  out += '-';
  AppendPadded(out, month, 2);
  out += '-';
  AppendPadded(out, day, 2);
  out += 'T';
  AppendPadded(out, rest / 3600, 2);
  out += ':';
  AppendPadded(out, rest / 60 % 60, 2);
  out += ':';
  AppendPadded(out, rest % 60, 2);
  out += 'Z';
}

std::string IsoUtc(std::int64_t seconds) {
  std::string out;
  AppendIsoUtc(out, seconds);
  return out;
}

CopyManifest::CopyManifest(const LOGDRIVE_INFO& drive) {
  if (drive.volume) {
    for (const std::string& file : drive.volume->Files())
      sourceFiles_ += (sourceFiles_.empty() ? "" : ";") + file;
    format_ = drive.volume->Format();
    mediaSize_ = drive.volume->MediaSize();
    volumeOffset_ = drive.volume->BaseOffset();
  }
  if (format_.empty()) format_ = "raw";
  copiedAt_ = IsoUtc(static_cast<std::int64_t>(std::time(nullptr)));
}

CopyManifest::Entry& CopyManifest::Add(const std::vector<std::string>& folders, const FoundFile& file) {
  Entry& e = entries_.emplace_back();
  for (const std::string& f : folders) e.sourcePath += "/" + f;
  e.sourcePath.append(1, '/').append(file.name);
  e.locatorKind = file.recordNumber != 0 ? "mft_record" : "first_cluster";
  e.locator = file.recordNumber != 0 ? file.recordNumber : file.startCluster;
  return e;
}

std::string CopyManifest::Csv() const {
  std::string out =
      "copy,size,md5,sha256,state,source_path,locator_kind,locator,note,source,source_format,source_size,"
      "volume_offset,copied_at\r\n";
  static const char* const kStates[] = {"not copied", "incomplete", "complete"};
  for (const Entry& e : entries_) {
    const bool kept = e.state != State::NotCopied;
    out += CsvField(e.copy) + ',' + (kept ? std::to_string(e.size) : "") + ',' + e.md5 + ',' + e.sha256 + ',' +
           kStates[static_cast<int>(e.state)] + ',' + CsvField(e.sourcePath) + ',' + e.locatorKind + ',' +
           std::to_string(e.locator) + ',' + CsvField(e.note) + ',' + CsvField(sourceFiles_) + ',' +
           CsvField(format_) + ',' + std::to_string(mediaSize_) + ',' + std::to_string(volumeOffset_) + ',' +
           copiedAt_ + "\r\n";
  }
  return out;
}

std::string CopyManifest::SumsFile(bool sha256) const {
  std::string out;
  for (const Entry& e : entries_) {
    if (e.state == State::NotCopied) continue;
    // As the coreutils write them: a name with a backslash or a line break
    // is escaped, and its line starts with a backslash.
    std::string name;
    bool escaped = false;
    for (char c : e.copy) {
      if (c == '\\') name += "\\\\", escaped = true;
      else if (c == '\n') name += "\\n", escaped = true;
      else if (c == '\r') name += "\\r", escaped = true;
      else name += c;
    }
    out += (escaped ? "\\" : "") + (sha256 ? e.sha256 : e.md5) + "  " + name + '\n';
  }
  return out;
}

namespace {

bool WriteNamed(CopyDestination& destination, const std::string& name, const std::string& text,
                std::vector<std::string>* saved, std::string* why) {
  const int dir = destination.Folder({}, why);
  if (dir < 0) return false;
  std::string partial;
  const int fd = destination.CreatePartial(dir, name, &partial);
  if (fd < 0) {
    *why = name + ": " + std::strerror(errno);
    return false;
  }
  std::size_t done = 0;
  bool ok = true;
  while (ok && done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    else done += static_cast<std::size_t>(n);
  }
  if (ok && ::fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  if (!ok) {
    *why = name + ": " + std::strerror(errno);
    destination.Discard(dir, partial);
    return false;
  }
  std::string as;
  if (!destination.Finish(dir, partial, name, &as, why)) {
    *why = name + ": " + *why;
    destination.Discard(dir, partial);
    return false;
  }
  saved->push_back(as);
  return true;
}

}  // namespace

bool CopyManifest::Write(CopyDestination& destination, std::vector<std::string>* saved, std::string* why) const {
  return WriteNamed(destination, "tessilon-manifest.csv", Csv(), saved, why) &&
         WriteNamed(destination, "SHA256SUMS", SumsFile(true), saved, why) &&
         WriteNamed(destination, "MD5SUMS", SumsFile(false), saved, why);
}

}  // namespace tsn
