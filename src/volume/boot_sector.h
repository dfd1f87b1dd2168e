#pragma once
// What a volume's own boot sector says about it: the questions that Windows
// answered from its mounted volume, answered from the bytes instead.
#include <cstdint>
#include <string>

#include "volume/le_bytes.h"

namespace tsn {

struct VolumeIdentity {
  std::string fsName;      // "NTFS", "FAT32", "FAT16", "FAT12", "exFAT" or "" when unknown
  std::string label;       // from the boot sector; may be empty
  std::uint32_t serialNumber = 0;
  std::uint32_t maxComponentLength = 0;
};

VolumeIdentity IdentifyVolume(Bytes bootSector);

}  // namespace tsn
