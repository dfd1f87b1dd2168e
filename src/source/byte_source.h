#pragma once
// Read-only bytes with a size and a logical sector size: the raw image file
// or block device here, container formats beside it. Everything above reads
// through a VolumeSource, which views a window of one of these and copes
// with its failures.
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace tsn {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to out.size() bytes at `offset`. Returns how many were read
  // from the start before the first that could not be; *error then says
  // why (an errno; 0 when the source ended first).
  virtual std::size_t ReadSome(std::uint64_t offset, std::span<std::uint8_t> out, int* error) = 0;
  virtual std::uint64_t Size() const = 0;
  // The unit in which reads fail and partition tables count.
  virtual std::uint32_t SectorSize() const = 0;
  // The file or device read, as the log and the destination checks name it.
  virtual const std::string& Path() const = 0;
};

struct ByteSourceOpen {
  std::shared_ptr<ByteSource> source;
  std::string error;  // why it could not be opened, for the log
};

// Opens an image file or a block device read-only. An image's sectors are
// `imageSectorSize` bytes when given (a copy of a 4Kn disk says nothing of
// it), 512 otherwise; a device's are always its own.
ByteSourceOpen OpenRawSource(const std::string& path, std::uint32_t imageSectorSize = 0);

}  // namespace tsn
