#pragma once
// What the whole-volume targets do with their input, the FAT32 and the NTFS
// one alike: the compact image made into a volume, then the drive list, the
// quick scan, the indexed scan, and copying every file found (up to a size)
// into a scratch folder, with the promises every volume keeps checked.
#include <cstdint>
#include <span>

namespace tsn::fuzz {

struct WholeVolume {
  char kind = 'F';                  // the drive kind byte of the file system fuzzed
  std::uint32_t maxRecords = 0;     // longer inputs are refused
  std::uint32_t maxSectors = 0;     // the image size is clipped to this
  // Bigger files add nothing but time; a damaged record may claim
  // terabytes of sparse clusters, which would be copied as zeros for hours.
  std::uint64_t maxCopiedFile = 256u << 10;
  int maxCopiedFiles = 128;
  // Both scans must say so when the volume claims more than its image holds.
  bool cutShortIsTold = false;
};

// The libFuzzer return value: -1 for an input refused, else 0.
int RunWholeVolume(std::span<const std::uint8_t> input, const WholeVolume& target);

}  // namespace tsn::fuzz
