// A whole NTFS volume, in the compact form of compact_image.h, through what
// a user does with it (see whole_volume.h).
#include "whole_volume.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tsn::fuzz::WholeVolume ntfs;
  ntfs.kind = 'N';
  ntfs.maxRecords = 1024;
  // 8 MiB, twice the seed volume: a volume claiming more than its image
  // holds is still made by mutating its boot sector. More only made the
  // allocation bitmap of a boot sector claiming a huge volume bigger, and
  // every execution slower, with no new code reached.
  ntfs.maxSectors = 1u << 14;
  return tsn::fuzz::RunWholeVolume({data, size}, ntfs);
}
