#pragma once
// Read-only bytes with a size and a logical sector size: the raw image file
// or block device here, container formats beside it. Everything above reads
// through a VolumeSource, which views a window of one of these and copes
// with its failures.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

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
  // Every file its bytes come from: the segments of a split or E01 image,
  // the extents of a VMDK, the parents of a differencing disk. None of them
  // may be written to while it is read.
  virtual std::vector<std::string> Files() const { return {Path()}; }
  // What kind of container it is, for the drive list ("E01, 3 segments");
  // empty for a raw image or a device.
  virtual std::string Format() const { return {}; }
  // A hint that `length` bytes at `offset` are about to be read, so that a
  // disk can fetch them while the caller works on what it has. Reads nothing.
  virtual void Prefetch(std::uint64_t /*offset*/, std::uint64_t /*length*/) {}
};

struct ByteSourceOpen {
  std::shared_ptr<ByteSource> source;
  std::string error;  // why it could not be opened, for the log
  // A block device this user may not open: the window can still ask the
  // system to open it for reading on the user's behalf.
  bool needsPermission = false;
};

// Opens an image file or a block device read-only. An image's sectors are
// `imageSectorSize` bytes when given (a copy of a 4Kn disk says nothing of
// it), 512 otherwise; a device's are always its own.
ByteSourceOpen OpenRawSource(const std::string& path, std::uint32_t imageSectorSize = 0);

// Takes a block device or image file that something else opened for us (a
// device the system opened on the user's behalf). It must be open read-only:
// a descriptor that could write is refused, so that nothing handed in can
// make this program a writer. The sector size comes from the descriptor as
// OpenRawSource takes it from a path; `path` names it in the log. The
// descriptor is taken over: closed with the source, or at once if refused.
ByteSourceOpen OpenDescriptorSource(int fd, const std::string& path);

// Opens an image as its content says it is: E01, VHD, VHDX, VMDK or QCOW2
// through their libraries, IMG.001 or IMG.aa with its sibling segments as one
// split raw image, anything else (and every block device) as OpenRawSource
// does. A container that cannot be read (AD1, AFF4, zip...) is an error that
// names it. The sector size given overrides the one a container records.
ByteSourceOpen OpenImageSource(const std::string& path, std::uint32_t imageSectorSize = 0);

// Whether OpenImageSource looks at content for container formats (on by
// default). The fuzz targets turn it off: their inputs are meant for our own
// parsers, and a container signature the fuzzer stumbles on would only hand
// the bytes to a library we do not build or fix.
void SetContainerFormatsRead(bool read);

// The files OpenImageSource reads for path: the path alone when it cannot
// be opened or is a raw image or a device.
std::vector<std::string> ImageFilesOf(const std::string& path);

}  // namespace tsn
