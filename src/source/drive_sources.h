#pragma once
// The volumes drive mapping tries, in a stable order: first the files the user
// named (one per partition when the file holds a partition table), then the
// machine's block devices as sysfs lists them.
#include <cstdint>
#include <string>
#include <vector>

#include "source/partition_table.h"

namespace tsn {

// Where drive mapping looks for volumes. On Windows this was the drive
// letters; here it is the images the user named and the machine's block
// devices as sysfs lists them.
struct DriveSources {
  std::vector<std::string> files;       // images or devices the user named
  std::uint32_t imageSectorSize = 0;    // of the named image files; 0: 512
  // A volume this many sectors (of imageSectorSize) into each named file,
  // read as it is without looking for a partition table; 0: none.
  std::uint64_t volumeOffsetSectors = 0;
  bool scanDevices = true;              // also list /sys/class/block
  std::string sysfsBlockDir = "/sys/class/block";
  std::string deviceDir = "/dev";
  // Tells a volume's boot sector from a partition table where their own
  // fields cannot; the file systems' probe, set by drive mapping.
  BootSectorProbe isVolumeBootSector = nullptr;
};


struct DriveCandidate {
  std::string path;             // file or device node to open
  std::uint64_t offset = 0;     // byte offset of the volume inside it
  std::uint64_t length = 0;     // bytes of the volume (0: to the end)
  std::uint32_t imageSectorSize = 0;  // as VolumeSource::Open takes it
  std::uint64_t startLba = 0;   // partition start on its disk, in its sectors (0 for a bare volume)
  std::uint32_t diskNumber = 0;
  std::string description;      // "disk.img partition 2", "/dev/sdb1"
  // A device this user may not open: listed all the same, to be opened
  // through the window when it is chosen.
  bool needsPermission = false;
};

struct CandidateList {
  std::vector<DriveCandidate> candidates;
  std::vector<std::string> problems;  // one log line for each source passed over
};

CandidateList ListDriveCandidates(const DriveSources& sources);

}  // namespace tsn
