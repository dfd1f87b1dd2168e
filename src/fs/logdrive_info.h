#pragma once
// The record of one usable drive, and the boot-sector fields the program reads.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/engine_host.h"
#include "core/le_bytes.h"
#include "source/read_sectors.h"
#include "source/volume_source.h"

namespace tsn {

struct FileSystemType;

// Boot-sector field offsets (FAT32 layout for the FAT side).
namespace boot {
constexpr std::size_t kOemId = 3;               // 8 bytes of text, both
constexpr std::size_t kBytesPerSector = 11;     // u16, both
constexpr std::size_t kSectorsPerCluster = 13;  // u8, both
constexpr std::size_t kReservedSectors = 14;    // u16, FAT
constexpr std::size_t kNumberOfFats = 16;       // u8, FAT
constexpr std::size_t kRootEntries = 17;        // u16, FAT12/16
constexpr std::size_t kTotalSectors16 = 19;     // u16, FAT
constexpr std::size_t kSectorsPerFat16 = 22;    // u16, FAT12/16 field
constexpr std::size_t kTotalSectors32 = 32;     // u32, FAT
constexpr std::size_t kSectorsPerFat32 = 36;    // u32, FAT32
constexpr std::size_t kRootCluster = 44;        // u32, FAT32
constexpr std::size_t kBackupBootSector = 50;   // u16, FAT32: sector of the boot area's copy
constexpr std::size_t kNtfsTotalSectors = 40;   // u64, NTFS
constexpr std::size_t kNtfsMftCluster = 48;     // u64, NTFS
constexpr std::size_t kNtfsMirrorCluster = 56;  // u64, NTFS
constexpr std::size_t kNtfsClustersPerRecord = 64;  // i8, NTFS: clusters, or 2^-n bytes when negative
constexpr std::size_t kNtfsClustersPerIndexBlock = 68;  // i8, NTFS: the same way
constexpr std::size_t kSignature = 510;         // 0x55 0xAA, both
}  // namespace boot

// exFAT boot-sector fields; sectors and clusters are powers of two.
namespace exfat {
constexpr std::size_t kVolumeLength = 72;             // u64, sectors
constexpr std::size_t kFatOffset = 80;                // u32, sectors
constexpr std::size_t kFatLength = 84;                // u32, sectors
constexpr std::size_t kClusterHeapOffset = 88;        // u32, sectors
constexpr std::size_t kClusterCount = 92;             // u32
constexpr std::size_t kRootCluster = 96;              // u32
constexpr std::size_t kSerialNumber = 100;            // u32
constexpr std::size_t kVolumeFlags = 106;             // u16: bit 0, the second FAT is the active one
constexpr std::size_t kBytesPerSectorShift = 108;     // u8, 9..12
constexpr std::size_t kSectorsPerClusterShift = 109;  // u8, up to 25 less the sector shift
constexpr std::size_t kNumberOfFats = 110;            // u8, 1 or 2
}  // namespace exfat

constexpr std::size_t kBootAreaSize = 1536;

struct LOGDRIVE_INFO {
  std::vector<std::uint32_t> fatTable;           // FAT volumes: the first FAT, while loaded
  // FAT volumes: the entries of fatTable (first, last) that no copy of the
  // FAT on the volume could give, in order.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> fatUnreadable;
  std::array<std::uint8_t, kBootAreaSize> bootSector{};
  char driveLetter = 0;
  std::string driveName;                         // "C:"
  std::string volumeName;
  std::string fsName;                            // "FAT32", "NTFS", ...: its first byte is the kind
  const FileSystemType* fileSystem = nullptr;    // the row it was mounted with (fs/file_system.h)
  std::uint32_t maxComponentLength = 0;
  std::uint32_t fsFlags = 0;
  std::uint32_t serialNumber = 0;
  // The volume's own geometry, as its boot sector states it: every byte
  // offset on the volume derives from these, never from a fixed 512.
  std::uint32_t bytesPerSector = 512;
  std::uint32_t sectorsPerCluster = 0;
  std::uint32_t mftRecordBytes = 0;    // NTFS
  std::uint32_t indexBlockBytes = 0;   // NTFS
  std::uint32_t diskNumber = 0;
  std::int32_t dirEntriesPerCluster = 0;
  // Sizes are kept in 64 bits: the 32-bit fields of old cut volumes over
  // 2 TiB (and partitions starting beyond 2 TiB) short.
  std::uint64_t allocUnits = 0;
  std::uint64_t freeUnits = 0;
  std::uint64_t startLba = 0;
  std::uint64_t clusterCount = 0;
  std::uint64_t totalSectors = 0;
  std::int64_t rootDirSector = 0;
  std::uint64_t foundBytes = 0;
  std::uint64_t foundFiles = 0;
  std::uint64_t foundDirs = 0;
  std::uint64_t tickedFiles = 0;
  std::uint64_t tickedDirs = 0;
  std::uint64_t tickedBytes = 0;
  std::uint64_t orphanFolderSeq = 0;             // NTFS: orphan folders made by this scan
  std::unique_ptr<VolumeSource> volume;
  std::string sourceDescription;                 // which file or device, for the log
  // A device listed before this user could read it: no volume, no file
  // system, until choosing it has it opened through the window.
  bool needsPermission = false;
  std::string devicePath;
  std::uint64_t deviceOffset = 0;                // bytes of the device the volume lies in
  std::uint64_t deviceLength = 0;

  std::uint64_t ClusterBytes() const { return std::uint64_t{bytesPerSector} * sectorsPerCluster; }
  // The row's kind when the volume was mounted with one, else the first
  // letter of its name ("exFAT" would otherwise pass for 'e').
  char Kind() const;
  Bytes Boot() const { return Bytes(bootSector.data(), bootSector.size()); }
};

// Starts the found results of a scan of the drive: its counters and the
// "Root" folder.
inline FolderRef StartFoundTree(EngineHost* host, LOGDRIVE_INFO* drive) {
  drive->foundDirs = 1;
  drive->foundFiles = 0;
  return host->CreateRootFolder();
}

inline void ShowFoundCounters(EngineHost* host, const LOGDRIVE_INFO* drive) {
  host->ShowCounters(drive->foundDirs, drive->foundFiles, drive->foundBytes);
}

}  // namespace tsn
