// A whole exFAT volume, in the compact form of compact_image.h, through what
// a user does with it (see whole_volume.h).
#include "whole_volume.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tsn::fuzz::WholeVolume exfat;
  exfat.kind = 'E';
  exfat.maxRecords = 512;
  // 64 MiB: the smallest volume mkfs.exfat makes, read whole by the quick
  // scan on every execution.
  exfat.maxSectors = 1u << 17;
  return tsn::fuzz::RunWholeVolume({data, size}, exfat);
}
