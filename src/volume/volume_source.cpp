#include "volume/volume_source.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tsn {

FileHandle& FileHandle::operator=(FileHandle&& o) noexcept {
  if (this != &o) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = o.fd_;
    o.fd_ = -1;
  }
  return *this;
}

FileHandle::~FileHandle() {
  if (fd_ >= 0) ::close(fd_);
}

std::optional<std::uint64_t> SizeOfOpenFile(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return std::nullopt;
  if (S_ISBLK(st.st_mode)) {
    std::uint64_t bytes = 0;
    if (::ioctl(fd, BLKGETSIZE64, &bytes) != 0) return std::nullopt;
    return bytes;
  }
  if (S_ISREG(st.st_mode)) return static_cast<std::uint64_t>(st.st_size);
  return std::nullopt;
}

OpenResult VolumeSource::Open(const std::string& path, std::uint64_t offset,
                              std::uint64_t length) {
  OpenResult result;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    result.error = path + ": " + std::strerror(errno);
    return result;
  }
  if (S_ISDIR(st.st_mode)) {
    result.error = path + ": is a folder, not a disk image or device";
    return result;
  }
  if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
    result.error = path + ": not a disk image or block device";
    return result;
  }
  // Read-only, always: this program never writes to what it examines.
  FileHandle fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) {
    const int err = errno;
    result.error = path + ": cannot be read (" + std::strerror(err) + ")";
    if (err == EACCES && S_ISBLK(st.st_mode))
      result.error += "; reading a device needs root or membership of its group";
    return result;
  }
  const auto size = SizeOfOpenFile(fd.fd());
  if (!size) {
    result.error = path + ": its size cannot be told";
    return result;
  }
  if (offset > *size) {
    result.error = path + ": starts past the end of the file";
    return result;
  }
  const std::uint64_t available = *size - offset;
  const std::uint64_t viewLength = length == 0 ? available : std::min(length, available);
  result.source.reset(new VolumeSource(std::move(fd), path, offset, viewLength));
  return result;
}

VolumeSource::VolumeSource(FileHandle fd, std::string path, std::uint64_t base,
                           std::uint64_t length)
    : fd_(std::move(fd)), path_(std::move(path)), base_(base), length_(length) {}

std::size_t VolumeSource::FillWindow(std::uint64_t offset) {
  // Grow the window while reads run on from where the last one ended, as the
  // kernel's read-ahead does; a jump elsewhere starts small again so random
  // record reads do not pay for a megabyte each.
  const bool sequential = windowFilled_ > 0 && offset == windowStart_ + windowFilled_;
  readAhead_ = sequential ? std::min(readAhead_ * 2, kMaxReadAhead) : kMinReadAhead;
  // Grown with the window, not at once: a source opened for a few sectors
  // (every candidate of the drive list) does not clear a megabyte.
  if (windowCapacity_ < readAhead_) {
    window_ = std::make_unique_for_overwrite<std::uint8_t[]>(readAhead_);
    windowCapacity_ = readAhead_;
  }
  const std::uint64_t want = std::min<std::uint64_t>(readAhead_, length_ - offset);
  std::size_t got = 0;
  while (got < want) {
    const ssize_t n = ::pread(fd_.fd(), window_.get() + got, want - got,
                              static_cast<off_t>(base_ + offset + got));
    ++deviceReads_;
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  windowStart_ = offset;
  windowFilled_ = got;
  return got;
}

std::size_t VolumeSource::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) {
  if (offset >= length_ || out.empty()) return 0;
  const std::size_t want =
      static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), length_ - offset));
  std::size_t done = 0;
  while (done < want) {
    const std::uint64_t at = offset + done;
    if (at >= windowStart_ && at < windowStart_ + windowFilled_) {
      const std::size_t inWindow = static_cast<std::size_t>(at - windowStart_);
      const std::size_t n = std::min(want - done, windowFilled_ - inWindow);
      std::memcpy(out.data() + done, window_.get() + inWindow, n);
      done += n;
      continue;
    }
    if (want - done >= kMinReadAhead) {
      // Large reads go straight to the device; copying them through the
      // window would only cost time.
      const ssize_t n = ::pread(fd_.fd(), out.data() + done, want - done,
                                static_cast<off_t>(base_ + at));
      ++deviceReads_;
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (FillWindow(at) == 0) break;
  }
  return done;
}

}  // namespace tsn
