#include "volume/read_sectors.h"

#include <algorithm>
#include <limits>

#include "volume/logdrive_info.h"
#include "volume/volume_source.h"

namespace tsn {

int ReadSectors(AppState*, VolumeSource* volume, std::uint64_t lba,
                std::span<std::uint8_t> buffer) {
  std::size_t got = 0;
  if (volume != nullptr && lba <= std::numeric_limits<std::uint64_t>::max() / kSectorSize)
    got = volume->ReadAt(lba * kSectorSize, buffer);
  // Whatever was not read reads as zeros.
  std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(got), buffer.end(), std::uint8_t{0});
  return got == buffer.size() ? 1 : 0;
}

}  // namespace tsn
