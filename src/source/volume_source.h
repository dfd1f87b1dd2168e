#pragma once
// A read-only view of a volume: an image file, a block device, or a partition
// inside either, read through its ByteSource. Nothing here can write: files
// and devices are opened O_RDONLY and every read is a positioned pread. Small reads are served from a read-ahead
// window so that sector-at-a-time callers run at the speed of large reads.
//
// Failing media: a read that fails is tried again sector by sector, each bad
// sector once more, so that one bad sector costs only itself. What still
// cannot be read reads as zeros, is remembered as an unreadable range, and is
// never read again (a bad sector on a dying disk can take seconds a try).
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "source/byte_source.h"

namespace tsn {

class FileHandle {
 public:
  FileHandle() = default;
  explicit FileHandle(int fd) : fd_(fd) {}
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  FileHandle(FileHandle&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  FileHandle& operator=(FileHandle&& o) noexcept;
  ~FileHandle();
  int fd() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Hands the descriptor on; it is no longer closed here.
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_ = -1;
};

struct OpenResult;

// Bytes of the view that could not be read, first and last inclusive, with
// the cause (an errno; 0 when the file ended before the size it was opened
// with).
struct UnreadableRange {
  std::uint64_t first = 0;
  std::uint64_t last = 0;
  int error = 0;
  std::uint64_t Bytes() const { return last - first + 1; }
};

// What became of one read.
struct ReadOutcome {
  std::size_t inView = 0;      // bytes asked for that lie in the view; the rest is untouched
  std::size_t readable = 0;    // bytes from the start that were read, up to the first bad one
  bool unreadable = false;     // some bytes could not be read; zeros stand in their place
  int error = 0;               // the cause of the first of them
  bool Whole(std::size_t asked) const { return inView == asked && !unreadable; }
};

class VolumeSource {
 public:
  // Opens path read-only and views `length` bytes from byte `offset`
  // (length 0: to the end of the file or device). An image file's sectors
  // are `imageSectorSize` bytes when given (a copy of a 4Kn disk says
  // nothing of it), 512 otherwise; a device's are always its own.
  static OpenResult Open(const std::string& path, std::uint64_t offset = 0,
                         std::uint64_t length = 0, std::uint32_t imageSectorSize = 0);
  // Views `length` bytes of an open source from byte `offset` (length 0: to
  // its end): a partition of a disk, or the whole of it.
  static OpenResult Window(std::shared_ptr<ByteSource> bytes, std::uint64_t offset = 0,
                           std::uint64_t length = 0);
  // Views `length` bytes from byte `offset` of a read-only descriptor that
  // was opened elsewhere (see OpenDescriptorSource); it is closed with the
  // view, or at once when it is refused.
  static OpenResult OpenDescriptor(FileHandle fd, const std::string& path, std::uint64_t offset = 0,
                                   std::uint64_t length = 0);

  // Reads up to out.size() bytes at byte `offset` from the start of the view.
  // Unreadable sectors read as zeros; bytes past the end are not touched.
  ReadOutcome Read(std::uint64_t offset, std::span<std::uint8_t> out);
  // The same, counting only the bytes read before the first that could not be.
  std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) {
    return Read(offset, out).readable;
  }

  // Every range found unreadable so far, in order and merged.
  const std::vector<UnreadableRange>& UnreadableRanges() const { return unreadable_; }
  // Those that overlap `length` bytes at `offset`, clipped to them.
  std::vector<UnreadableRange> UnreadableIn(std::uint64_t offset, std::uint64_t length) const;

  std::uint64_t Size() const { return length_; }
  // The device's logical sector (512 for image files unless told): the
  // unit in which reads fail and are retried, and partition tables count.
  std::uint32_t SectorSize() const { return bytes_->SectorSize(); }
  std::uint64_t BaseOffset() const { return base_; }
  // Bytes of the whole disk or image the view lies in.
  std::uint64_t MediaSize() const { return bytes_->Size(); }
  const std::string& Path() const { return bytes_->Path(); }
  // The container it is read from ("E01, 2 segments"; empty for a raw image
  // or a device), and every file that holds its bytes.
  std::string Format() const { return bytes_->Format(); }
  std::vector<std::string> Files() const { return bytes_->Files(); }

  // Tells the source that these bytes are wanted soon (see ByteSource::Prefetch).
  void Prefetch(std::uint64_t offset, std::uint64_t length);

  // Figures for the read-ahead window, for benchmarks and tests: reads
  // handed to the source, the bytes they brought, and the bytes copied out
  // of the window on top of them.
  std::uint64_t DeviceReads() const { return deviceReads_; }
  std::uint64_t DeviceBytes() const { return deviceBytes_; }
  std::uint64_t CopiedBytes() const { return copiedBytes_; }

 private:
  VolumeSource(std::shared_ptr<ByteSource> bytes, std::uint64_t base, std::uint64_t length);
  std::size_t FillWindow(std::uint64_t offset);
  // Fills all of dst from the device; what cannot be read becomes zeros and
  // an unreadable range.
  void ReadDevice(std::uint64_t offset, std::uint8_t* dst, std::size_t n);
  void ReadStretch(std::uint64_t offset, std::uint8_t* dst, std::size_t n);
  void ReadBySector(std::uint64_t offset, std::uint8_t* dst, std::size_t n);
  // The bytes read from the start before a failure (its errno in *error).
  std::size_t PreadSome(std::uint64_t offset, std::uint8_t* dst, std::size_t n, int* error);
  bool PreadAll(std::uint64_t offset, std::uint8_t* dst, std::size_t n, int* error);
  bool OverlapsUnreadable(std::uint64_t offset, std::uint64_t length) const;
  void AddUnreadable(std::uint64_t first, std::uint64_t last, int error);

  std::shared_ptr<ByteSource> bytes_;
  std::uint64_t base_ = 0;
  std::uint64_t length_ = 0;
  std::vector<UnreadableRange> unreadable_;

  // Never cleared: only what pread filled is read from it.
  std::unique_ptr<std::uint8_t[]> window_;
  std::size_t windowCapacity_ = 0;
  std::uint64_t windowStart_ = 0;
  std::size_t windowFilled_ = 0;
  std::size_t readAhead_ = kMinReadAhead;
  std::uint64_t deviceReads_ = 0;
  std::uint64_t deviceBytes_ = 0;
  std::uint64_t copiedBytes_ = 0;

  // A read at a new place brings one page: scattered reads (index blocks,
  // records) cost what they ask for, and a reader that runs on doubles the
  // window each time it reaches the end of it.
  static constexpr std::size_t kMinReadAhead = 4 * 1024;
  static constexpr std::size_t kMaxReadAhead = 1024 * 1024;
  // Reads at least this large go straight to the device.
  static constexpr std::size_t kDirectRead = 64 * 1024;
};

struct OpenResult {
  std::unique_ptr<VolumeSource> source;
  std::string error;  // why it could not be opened, for the log
  bool needsPermission = false;  // as ByteSourceOpen's
};

// Size in bytes of an open file or block device; nullopt if it cannot be told.
std::optional<std::uint64_t> SizeOfOpenFile(int fd);

}  // namespace tsn
