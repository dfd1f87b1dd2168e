#include "source/volume_source.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

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


namespace {

// Every source's figures together, told on stderr at exit when
// TESSILON_READ_COUNTERS is set, so that a benchmark of the command line
// can see how much it read and copied.
struct ReadTotals {
  std::uint64_t deviceBytes = 0;
  std::uint64_t copiedBytes = 0;
  ~ReadTotals() {
    if (std::getenv("TESSILON_READ_COUNTERS") != nullptr)
      std::fprintf(stderr, "read counters: %" PRIu64 " bytes from the source, %" PRIu64 " bytes copied from the read-ahead window\n",
                   deviceBytes, copiedBytes);
  }
} totals;

// The logical sector of a block device; image files are read in 512-byte
// sectors, the smallest any disk has.
std::uint32_t LogicalSectorSize(int fd) {
  struct stat st {};
  int size = 0;
  if (::fstat(fd, &st) == 0 && S_ISBLK(st.st_mode) && ::ioctl(fd, BLKSSZGET, &size) == 0 &&
      size >= 512 && size <= 65536 && (size & (size - 1)) == 0)
    return static_cast<std::uint32_t>(size);
  return 512;
}

// An image file or a block device, read with positioned reads only.
class RawSource final : public ByteSource {
 public:
  RawSource(FileHandle fd, std::string path, std::uint64_t size, std::uint32_t sectorSize)
      : fd_(std::move(fd)), path_(std::move(path)), size_(size), sectorSize_(sectorSize) {}

  std::size_t ReadSome(std::uint64_t offset, std::span<std::uint8_t> out, int* error) override {
    std::size_t got = 0;
    while (got < out.size()) {
      const ssize_t r = ::pread(fd_.fd(), out.data() + got, out.size() - got, static_cast<off_t>(offset + got));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) {
        // Nothing more before the size it was opened with: the file shrank,
        // or the device answered short. Either way, not data.
        *error = r < 0 ? errno : 0;
        break;
      }
      got += static_cast<std::size_t>(r);
    }
    return got;
  }
  std::uint64_t Size() const override { return size_; }
  std::uint32_t SectorSize() const override { return sectorSize_; }
  const std::string& Path() const override { return path_; }
  // The kernel starts the reads and returns at once.
  void Prefetch(std::uint64_t offset, std::uint64_t length) override {
    ::posix_fadvise(fd_.fd(), static_cast<off_t>(offset), static_cast<off_t>(length), POSIX_FADV_WILLNEED);
  }

 private:
  FileHandle fd_;
  std::string path_;
  std::uint64_t size_;
  std::uint32_t sectorSize_;
};

ByteSourceOpen RawFromDescriptor(FileHandle fd, const std::string& path, const struct stat& st,
                                 std::uint32_t imageSectorSize) {
  ByteSourceOpen result;
  const auto size = SizeOfOpenFile(fd.fd());
  if (!size) {
    result.error = path + ": its size cannot be told";
    return result;
  }
  const std::uint32_t sectorSize =
      S_ISREG(st.st_mode) && imageSectorSize != 0 ? imageSectorSize : LogicalSectorSize(fd.fd());
  result.source = std::make_shared<RawSource>(std::move(fd), path, *size, sectorSize);
  return result;
}

}  // namespace

ByteSourceOpen OpenRawSource(const std::string& path, std::uint32_t imageSectorSize) {
  ByteSourceOpen result;
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
    if ((err == EACCES || err == EPERM) && S_ISBLK(st.st_mode)) {
      result.error += "; reading a device needs root or membership of its group";
      result.needsPermission = true;
    }
    return result;
  }
  return RawFromDescriptor(std::move(fd), path, st, imageSectorSize);
}

ByteSourceOpen OpenDescriptorSource(int fd, const std::string& path) {
  FileHandle handle(fd);
  ByteSourceOpen result;
  const int flags = ::fcntl(handle.fd(), F_GETFL);
  if (flags < 0) {
    result.error = path + ": the descriptor handed over cannot be used (" + std::strerror(errno) + ")";
    return result;
  }
  if ((flags & O_ACCMODE) != O_RDONLY) {
    result.error = path + ": refused: it was handed over open for writing, and only a read-only descriptor is read";
    return result;
  }
  struct stat st {};
  if (::fstat(handle.fd(), &st) != 0 || (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode))) {
    result.error = path + ": the descriptor handed over is not a disk image or block device";
    return result;
  }
  // Not passed on to the programs this one starts, whatever it came with.
  ::fcntl(handle.fd(), F_SETFD, FD_CLOEXEC);
  return RawFromDescriptor(std::move(handle), path, st, 0);
}

OpenResult VolumeSource::Open(const std::string& path, std::uint64_t offset,
                              std::uint64_t length, std::uint32_t imageSectorSize) {
  ByteSourceOpen opened = OpenImageSource(path, imageSectorSize);
  if (!opened.source) return {nullptr, opened.error, opened.needsPermission};
  return Window(std::move(opened.source), offset, length);
}

OpenResult VolumeSource::OpenDescriptor(FileHandle fd, const std::string& path, std::uint64_t offset,
                                        std::uint64_t length) {
  ByteSourceOpen opened = OpenDescriptorSource(fd.Release(), path);
  if (!opened.source) return {nullptr, opened.error};
  return Window(std::move(opened.source), offset, length);
}

OpenResult VolumeSource::Window(std::shared_ptr<ByteSource> bytes, std::uint64_t offset,
                                std::uint64_t length) {
  OpenResult result;
  const std::uint64_t size = bytes->Size();
  if (offset > size) {
    result.error = bytes->Path() + ": starts past the end of the file";
    return result;
  }
  const std::uint64_t available = size - offset;
  const std::uint64_t viewLength = length == 0 ? available : std::min(length, available);
  result.source.reset(new VolumeSource(std::move(bytes), offset, viewLength));
  return result;
}

VolumeSource::VolumeSource(std::shared_ptr<ByteSource> bytes, std::uint64_t base, std::uint64_t length)
    : bytes_(std::move(bytes)), base_(base), length_(length) {}

std::size_t VolumeSource::PreadSome(std::uint64_t offset, std::uint8_t* dst, std::size_t n, int* error) {
  ++deviceReads_;
  *error = 0;
  const std::size_t got = bytes_->ReadSome(base_ + offset, std::span<std::uint8_t>(dst, n), error);
  deviceBytes_ += got;
  totals.deviceBytes += got;
  return got;
}

void VolumeSource::Prefetch(std::uint64_t offset, std::uint64_t length) {
  if (offset >= length_ || length == 0) return;
  bytes_->Prefetch(base_ + offset, std::min(length, length_ - offset));
}

bool VolumeSource::PreadAll(std::uint64_t offset, std::uint8_t* dst, std::size_t n, int* error) {
  return PreadSome(offset, dst, n, error) == n;
}

void VolumeSource::ReadDevice(std::uint64_t offset, std::uint8_t* dst, std::size_t n) {
  // Known bad sectors are not read again: they read as zeros, and the
  // stretches between them are read whole.
  const std::uint64_t end = offset + n;
  std::uint64_t at = offset;
  for (const UnreadableRange& bad : UnreadableIn(offset, n)) {
    if (bad.first > at) ReadStretch(at, dst + (at - offset), static_cast<std::size_t>(bad.first - at));
    std::memset(dst + (bad.first - offset), 0, static_cast<std::size_t>(bad.last - bad.first + 1));
    at = bad.last + 1;
  }
  if (at < end) ReadStretch(at, dst + (at - offset), static_cast<std::size_t>(end - at));
}

void VolumeSource::ReadStretch(std::uint64_t offset, std::uint8_t* dst, std::size_t n) {
  // A device may hand back what it read before a bad sector, or fail the
  // whole request; either way what is left is found sector by sector.
  int error = 0;
  const std::size_t got = PreadSome(offset, dst, n, &error);
  if (got < n) ReadBySector(offset + got, dst + got, n - got);
}

void VolumeSource::ReadBySector(std::uint64_t offset, std::uint8_t* dst, std::size_t n) {
  const std::uint64_t end = offset + n;
  std::uint64_t at = offset;
  while (at < end) {
    // Pieces end on the device's sector boundaries, so that one bad sector
    // spoils only itself.
    const std::uint64_t onDevice = base_ + at;
    const std::uint64_t boundary = (onDevice / SectorSize() + 1) * SectorSize() - base_;
    const std::uint64_t pieceEnd = std::min(end, boundary);
    const std::size_t piece = static_cast<std::size_t>(pieceEnd - at);
    std::uint8_t* out = dst + (at - offset);
    int error = 0;
    const bool known = OverlapsUnreadable(at, piece);
    // Each bad sector is tried once more before it is given up.
    if (known || (!PreadAll(at, out, piece, &error) && !PreadAll(at, out, piece, &error))) {
      std::memset(out, 0, piece);
      if (!known) AddUnreadable(at, pieceEnd - 1, error);
    }
    at = pieceEnd;
  }
}

bool VolumeSource::OverlapsUnreadable(std::uint64_t offset, std::uint64_t length) const {
  if (unreadable_.empty() || length == 0) return false;
  // The first range that ends at or after offset.
  const auto it = std::lower_bound(unreadable_.begin(), unreadable_.end(), offset,
                                   [](const UnreadableRange& r, std::uint64_t v) { return r.last < v; });
  return it != unreadable_.end() && it->first <= offset + length - 1;
}

void VolumeSource::AddUnreadable(std::uint64_t first, std::uint64_t last, int error) {
  auto it = std::lower_bound(unreadable_.begin(), unreadable_.end(), first,
                             [](const UnreadableRange& r, std::uint64_t v) { return r.first < v; });
  it = unreadable_.insert(it, {first, last, error});
  // Neighbours with the same cause become one range.
  if (it != unreadable_.begin()) {
    auto before = std::prev(it);
    if (before->last + 1 >= it->first && before->error == it->error) {
      before->last = std::max(before->last, it->last);
      it = std::prev(unreadable_.erase(it));
    }
  }
  auto after = std::next(it);
  while (after != unreadable_.end() && it->last + 1 >= after->first && after->error == it->error) {
    it->last = std::max(it->last, after->last);
    after = unreadable_.erase(after);
  }
}

std::vector<UnreadableRange> VolumeSource::UnreadableIn(std::uint64_t offset,
                                                        std::uint64_t length) const {
  std::vector<UnreadableRange> out;
  if (length == 0) return out;
  const std::uint64_t last = offset + length - 1;
  auto it = std::lower_bound(unreadable_.begin(), unreadable_.end(), offset,
                             [](const UnreadableRange& r, std::uint64_t v) { return r.last < v; });
  for (; it != unreadable_.end() && it->first <= last; ++it)
    out.push_back({std::max(it->first, offset), std::min(it->last, last), it->error});
  return out;
}

std::size_t VolumeSource::FillWindow(std::uint64_t offset) {
  // Grow the window while reads run on from where the last one ended, as the
  // kernel's read-ahead does; a jump elsewhere starts small again so random
  // record and index-block reads do not pay for more than their page.
  const bool sequential = windowFilled_ > 0 && offset == windowStart_ + windowFilled_;
  readAhead_ = sequential ? std::min(readAhead_ * 2, kMaxReadAhead) : kMinReadAhead;
  // Replaced, not resized, when it grows: the old bytes would only be
  // copied to be overwritten. A source opened for a few sectors (every
  // candidate of the drive list) does not clear a megabyte.
  if (windowCapacity_ < readAhead_) {
    window_ = std::make_unique_for_overwrite<std::uint8_t[]>(readAhead_);
    windowCapacity_ = readAhead_;
  }
  const std::uint64_t want = std::min<std::uint64_t>(readAhead_, length_ - offset);
  ReadDevice(offset, window_.get(), static_cast<std::size_t>(want));
  windowStart_ = offset;
  windowFilled_ = static_cast<std::size_t>(want);
  return windowFilled_;
}

ReadOutcome VolumeSource::Read(std::uint64_t offset, std::span<std::uint8_t> out) {
  ReadOutcome outcome;
  if (offset >= length_ || out.empty()) return outcome;
  const std::size_t want =
      static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), length_ - offset));
  std::size_t done = 0;
  while (done < want) {
    const std::uint64_t at = offset + done;
    if (at >= windowStart_ && at < windowStart_ + windowFilled_) {
      const std::size_t inWindow = static_cast<std::size_t>(at - windowStart_);
      const std::size_t n = std::min(want - done, windowFilled_ - inWindow);
      std::memcpy(out.data() + done, window_.get() + inWindow, n);
      copiedBytes_ += n;
      totals.copiedBytes += n;
      done += n;
      continue;
    }
    if (want - done >= kDirectRead) {
      // Large reads go straight to the device; copying them through the
      // window would only cost time.
      ReadDevice(at, out.data() + done, want - done);
      done = want;
      continue;
    }
    FillWindow(at);
  }
  outcome.inView = want;
  outcome.readable = want;
  if (!unreadable_.empty()) {
    const std::vector<UnreadableRange> bad = UnreadableIn(offset, want);
    if (!bad.empty()) {
      outcome.unreadable = true;
      outcome.error = bad.front().error;
      outcome.readable = static_cast<std::size_t>(bad.front().first - offset);
    }
  }
  return outcome;
}

}  // namespace tsn
