#include "volume/read_sectors.h"

#include <algorithm>
#include <limits>

#include "volume/logdrive_info.h"
#include "volume/volume_source.h"

namespace tsn {

int ReadSectors(AppState*, VolumeSource* volume, std::uint64_t lba,
                std::span<std::uint8_t> buffer) {
  std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
  if (volume == nullptr) return 0;
  if (lba > std::numeric_limits<std::uint64_t>::max() / kSectorSize) return 0;
  const std::size_t got = volume->ReadAt(lba * kSectorSize, buffer);
  return got == buffer.size() ? 1 : 0;
}

}  // namespace tsn
