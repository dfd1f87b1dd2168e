#pragma once
// MBR and GPT partition tables of a disk or disk image.
#include <cstdint>
#include <string>
#include <vector>

namespace tsn {

class VolumeSource;

struct Partition {
  int number = 0;               // 1-based, as fdisk numbers them
  std::uint64_t startLba = 0;   // sectors of the table (sectorBytes) from the start of the disk
  std::uint64_t sectorCount = 0;
};

struct PartitionScan {
  enum class Scheme { None, Mbr, Gpt } scheme = Scheme::None;
  // The unit of the partitions' sectors: an MBR counts the disk's logical
  // sectors, a GPT its own blocks, which its header's place tells.
  std::uint32_t sectorBytes = 512;
  std::vector<Partition> partitions;  // only those that lie (at least partly) on the disk
  std::vector<std::string> problems;  // one line per entry passed over, for the log
};

// Whether a first sector is a boot sector that a file system recognizes
// (its OEM ID damaged, say), as the file systems' probes judge it.
using BootSectorProbe = bool (*)(const std::uint8_t* sector512);

// True when the sector is the boot sector of a FAT, NTFS or exFAT volume
// rather than a partition table (both end in 55 AA).
bool LooksLikeVolumeBootSector(const std::uint8_t* sector512, BootSectorProbe probe = nullptr);

// Reads the partition table of `disk`, if it has one, in the disk's logical
// sectors (VolumeSource::SectorSize). `diskName` names the disk in problem
// lines.
PartitionScan ReadPartitionTable(VolumeSource& disk, const std::string& diskName,
                                 BootSectorProbe probe = nullptr);

}  // namespace tsn
