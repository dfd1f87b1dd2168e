// A whole FAT32 volume, in the compact form of compact_image.h, through what
// a user does with it (see whole_volume.h).
#include "whole_volume.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tsn::fuzz::WholeVolume fat;
  fat.kind = 'F';
  fat.maxRecords = 512;
  // 64 MiB: room for the smallest FAT32 volume with 512-byte clusters and
  // more; the quick scan reads all of it on every execution.
  fat.maxSectors = 1u << 17;
  fat.cutShortIsTold = true;
  return tsn::fuzz::RunWholeVolume({data, size}, fat);
}
