#pragma once
// A read-only view of a volume: an image file, a block device, or a partition
// inside either. Nothing here can write: the descriptor is opened O_RDONLY and
// every read is a positioned pread. Small reads are served from a read-ahead
// window so that sector-at-a-time callers run at the speed of large reads.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

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

 private:
  int fd_ = -1;
};

struct OpenResult;

class VolumeSource {
 public:
  // Opens path read-only and views `length` bytes from byte `offset`
  // (length 0: to the end of the file or device).
  static OpenResult Open(const std::string& path, std::uint64_t offset = 0,
                         std::uint64_t length = 0);

  // Reads up to out.size() bytes at byte `offset` from the start of the view.
  // Returns the number of bytes read; bytes past the end are not touched.
  std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out);

  std::uint64_t Size() const { return length_; }
  std::uint64_t BaseOffset() const { return base_; }
  const std::string& Path() const { return path_; }

  // Figures for the read-ahead window, for benchmarks and tests.
  std::uint64_t DeviceReads() const { return deviceReads_; }

 private:
  VolumeSource(FileHandle fd, std::string path, std::uint64_t base, std::uint64_t length);
  std::size_t FillWindow(std::uint64_t offset);

  FileHandle fd_;
  std::string path_;
  std::uint64_t base_ = 0;
  std::uint64_t length_ = 0;

  // Never cleared: only what pread filled is read from it.
  std::unique_ptr<std::uint8_t[]> window_;
  std::size_t windowCapacity_ = 0;
  std::uint64_t windowStart_ = 0;
  std::size_t windowFilled_ = 0;
  std::size_t readAhead_ = kMinReadAhead;
  std::uint64_t deviceReads_ = 0;

  static constexpr std::size_t kMinReadAhead = 64 * 1024;
  static constexpr std::size_t kMaxReadAhead = 1024 * 1024;
};

struct OpenResult {
  std::unique_ptr<VolumeSource> source;
  std::string error;  // why it could not be opened, for the log
};

// Size in bytes of an open file or block device; nullopt if it cannot be told.
std::optional<std::uint64_t> SizeOfOpenFile(int fd);

}  // namespace tsn
