// A whole NTFS volume, in the compact form of compact_image.h, through what
// a user does with it (see whole_volume.h).
#include "whole_volume.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tsn::fuzz::WholeVolume ntfs;
  ntfs.kind = 'N';
  ntfs.maxRecords = 1024;
  // 32 MiB, eight times the seed volume: a volume claiming more than its
  // image holds is still made by mutating its boot sector.
  ntfs.maxSectors = 1u << 16;
  return tsn::fuzz::RunWholeVolume({data, size}, ntfs);
}
