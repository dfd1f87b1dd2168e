#pragma once
// What a volume's own boot sector says about it: the questions that Windows
// answered from its mounted volume, answered from the bytes instead.
#include <cstdint>
#include <string>
#include <vector>

#include "core/le_bytes.h"

namespace tsn {

struct VolumeIdentity {
  std::string fsName;      // "NTFS", "FAT32", "FAT16", "FAT12", "exFAT" or "" when unknown
  std::string label;       // from the boot sector; may be empty
  std::uint32_t serialNumber = 0;
  std::uint32_t maxComponentLength = 0;
  // An NTFS boot sector known by its fields while its OEM ID is damaged:
  // the ID as it reads, with bytes that are not printable written \xNN.
  std::string damagedOemId;
};

VolumeIdentity IdentifyVolume(Bytes bootSector);

// The layout a boot sector's fields describe when they hang together,
// whatever its OEM ID or type text say: what a damaged copy is told from,
// and what a backup copy must be before it is used.
enum class BootLayout { Unsound, Ntfs, Fat32, Fat12Or16, ExFat };
BootLayout SoundLayout(Bytes bootSector);
// The same as a yes or no on a first sector of 512 bytes: what drive mapping
// asks when that sector could be a partition table.
bool IsSoundBootSector(const std::uint8_t* sector512);

// Whether an exFAT boot sector's fields hang together: what a volume is
// mounted on and a backup copy is taken by.
bool IsSoundExFatBootSector(Bytes bootSector);

// NTFS keeps its backup boot sector in the volume's last sector, which its
// total-sectors field counts up to but not including: true when `copy`,
// read at 512-byte sector `sector`, is a sound NTFS boot sector that places
// itself there.
bool IsNtfsBackupAt(Bytes copy, std::uint64_t sector);

// The sectors where a FAT32 volume's backup boot area may lie, in the order
// to try them: the one the primary's BPB_BkBootSec names when that field can
// be believed, then 6, where every formatter puts it. Both are the volume's
// own sectors, of the size its boot sector states.
std::vector<std::uint64_t> Fat32BackupSectors(Bytes primary);

}  // namespace tsn
