#include "fs/file_system.h"

#include <algorithm>
#include <cctype>
#include <array>
#include <vector>

#include "core/engine_host.h"
#include "fs/logdrive_info.h"
#include "source/read_sectors.h"

namespace tsn {

namespace {

// Linked by name rather than registered from each folder's own static
// initialiser: nothing else would pull those objects out of a static
// library, and a row the linker dropped would only show as volumes "not
// listed". The order is the one backup boot areas are looked for in: the
// NTFS copy in the volume's last sector before the FAT32 one in its
// reserved sectors.
constexpr std::array<const FileSystemType*, 5> kRows = {&kNtfsFileSystem, &kFat32FileSystem, &kExFatFileSystem,
                                                         &kFat16FileSystem, &kFat12FileSystem};

}  // namespace

std::span<const FileSystemType* const> FileSystemTable() { return kRows; }

char LOGDRIVE_INFO::Kind() const {
  if (fileSystem != nullptr) return fileSystem->kind;
  return fsName.empty() ? '\0' : fsName[0];
}

const FileSystemType* ProbeFileSystem(Bytes bootSector) {
  for (const FileSystemType* row : FileSystemTable())
    if (row->probe(bootSector)) return row;
  return nullptr;
}

std::string NoKnownFileSystemText() {
  std::vector<std::string> names;
  for (const FileSystemType* row : FileSystemTable()) names.push_back(row->name);
  // In the order a reader looks names up: "exFAT" beside "FAT12", not after "NTFS".
  const auto folded = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  std::sort(names.begin(), names.end(),
            [&](const std::string& a, const std::string& b) { return folded(a) < folded(b); });
  std::string text = "no ";
  for (std::size_t i = 0; i < names.size(); ++i)
    text += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
  return text + " file system";
}

BootArea ReadBootAreaCopy(EngineHost* host, VolumeSource* volume, std::uint64_t offset, std::size_t bytes) {
  BootArea copy{};
  ReadBytes(host, volume, offset, std::span(copy).first(bytes));
  return copy;
}

bool ReadSectorAndClusterSize(EngineHost* host, LOGDRIVE_INFO* d) {
  const Bytes b = d->Boot();
  d->bytesPerSector = LeU16(b, boot::kBytesPerSector);
  d->sectorsPerCluster = LeU8(b, boot::kSectorsPerCluster);
  if (d->bytesPerSector < 512 || d->bytesPerSector > 4096 || (d->bytesPerSector & (d->bytesPerSector - 1)) != 0) {
    // Every offset on the volume is counted in these: a size no disk has
    // would read everything from the wrong place, or divide by zero.
    LogMessage(host, kError,
               "%s (%s): its boot sector gives %u bytes per sector, which no disk has; it is read with "
               "512-byte sectors.",
               d->driveName.c_str(), d->sourceDescription.c_str(), d->bytesPerSector);
    d->bytesPerSector = 512;
  }
  if (d->sectorsPerCluster == 0) {
    LogMessage(host, kError, "%s (%s): its boot sector gives 0 sectors per cluster; it is not listed.",
               d->driveName.c_str(), d->sourceDescription.c_str());
    return false;
  }
  return true;
}

}  // namespace tsn
