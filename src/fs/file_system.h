#pragma once
// The file systems a volume can be read as, one row each: how its boot
// sector is told, how it is mounted and measured, how it is scanned, and
// how a found file's content is laid out for copying. Drive mapping, the
// scans' dispatch and copy-out go through a volume's row and know no file
// system by name.
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/le_bytes.h"
#include "fs/cluster_owners.h"
#include "fs/content_plan.h"
#include "fs/logdrive_info.h"

namespace tsn {

class EngineHost;
class VolumeSource;

using BootArea = std::array<std::uint8_t, kBootAreaSize>;

struct FileSystemType {
  // The name the drive list shows for volumes of this row ("FAT32").
  std::string name;
  // The first letter of fsName of a volume of this row.
  char kind = '\0';
  // Whether the boot area's first sector is of this row.
  bool (*probe)(Bytes bootSector) = nullptr;
  // The sector, counted in sectors of the size it was found with, of a
  // sound copy of the boot area that volumes of this row keep, read into
  // *copy; tried with each of `sectorSizes` the volume may have. Null when
  // such volumes keep none; 0 when none is found.
  std::uint64_t (*findBackupBootArea)(EngineHost* host, VolumeSource* volume, Bytes primary,
                                      std::span<const std::uint32_t> sectorSizes, BootArea* copy) = nullptr;
  // Fills the drive's geometry from its boot area and measures the volume:
  // size, free share, label. False, with a log line saying why, when the
  // volume is not to be listed.
  bool (*mount)(EngineHost* host, LOGDRIVE_INFO* drive) = nullptr;
  // "Build File List ONLY!" and "Build Indexed File List"; 1 when they ran
  // to their end.
  int (*quickScan)(EngineHost* host, LOGDRIVE_INFO* drive) = nullptr;
  int (*indexedScan)(EngineHost* host, LOGDRIVE_INFO* drive) = nullptr;
  // Reads the tables a volume's found files are planned from (content_plan.h);
  // null, with a log line when one is due, when they cannot be read.
  std::unique_ptr<ContentPlanner> (*openContent)(EngineHost* host, LOGDRIVE_INFO* drive) = nullptr;
  // Which live files hold a deleted file's clusters (cluster_owners.h). It
  // reads nothing until first asked, then keeps its index for the volume.
  std::unique_ptr<OwnerIndex> (*openOwners)(EngineHost* host, LOGDRIVE_INFO* drive) = nullptr;
};

// Every row, in the order their backup boot areas are looked for.
std::span<const FileSystemType* const> FileSystemTable();

// The row whose probe claims the boot sector, or null.
const FileSystemType* ProbeFileSystem(Bytes bootSector);

// "no exFAT, FAT12, FAT16, FAT32 or NTFS file system", the rows by name:
// what a volume of no row holds.
std::string NoKnownFileSystemText();

// Geometry every row reads the same way: the sector and cluster sizes. A
// sector size no disk has is logged and taken as 512; no sectors per
// cluster is logged and refused (false).
bool ReadSectorAndClusterSize(EngineHost* host, LOGDRIVE_INFO* drive);

// A copy of the boot area at byte `offset` of the volume, `bytes` of it
// read; whatever cannot be read is zeros.
BootArea ReadBootAreaCopy(EngineHost* host, VolumeSource* volume, std::uint64_t offset, std::size_t bytes);

// Each file system defines its row in its own folder.
extern const FileSystemType kFat32FileSystem;
extern const FileSystemType kFat16FileSystem;
extern const FileSystemType kFat12FileSystem;
extern const FileSystemType kNtfsFileSystem;
extern const FileSystemType kExFatFileSystem;

}  // namespace tsn
