#include "app/drive_mapping.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <new>
#include <optional>
#include <span>

#include "app/app_state.h"
#include "app/main_dialog.h"
#include "app/message_log.h"
#include "fs/fat/fat_table.h"
#include "fs/ntfs/data_runs.h"
#include "fs/ntfs/mft_descriptor.h"
#include "fs/ntfs/volume_bitmap.h"
#include "app/folder_tree.h"
#include "fs/boot_sector.h"
#include "app/drive_list.h"
#include "source/drive_sources.h"
#include "source/read_sectors.h"

namespace tsn {

namespace {

constexpr char kFirstLetter = 'C';
constexpr char kLastLetter = 'Z';

// Reads a copy of the boot area at byte `offset`; whatever cannot be read is zeros.
std::array<std::uint8_t, kBootAreaSize> BootAreaCopy(AppState* app, VolumeSource* volume,
                                                     std::uint64_t offset, std::size_t bytes) {
  std::array<std::uint8_t, kBootAreaSize> copy{};
  ReadBytes(app, volume, offset, std::span(copy).first(bytes));
  return copy;
}

// The sector sizes a backup may have been written with: the primary's own
// when it states one a disk can have, else both that disks have (a primary
// that cannot be read says nothing about its volume).
std::vector<std::uint32_t> BackupSectorSizes(Bytes primary) {
  const std::uint32_t stated = LeU16(primary, boot::kBytesPerSector);
  if (stated >= 512 && stated <= 4096 && (stated & (stated - 1)) == 0) return {stated};
  return {512, 4096};
}

// Takes a backup boot area in place of the volume's first sectors when they
// cannot be read or do not hang together: NTFS keeps one copy of its boot
// sector in the volume's last sector, FAT32 one of its three-sector boot
// area in the reserved sectors. Both count in the volume's own sectors, so
// a copy is taken only where its own sector size places it. The geometry
// then comes from the copy. False, with the first sectors left as they
// read, when no copy is sound.
bool TakeBackupBootArea(AppState* app, LOGDRIVE_INFO& d, const char* whatIsWrong) {
  VolumeSource* volume = d.volume.get();
  const std::uint64_t size = volume->Size();
  const std::vector<std::uint32_t> sizes = BackupSectorSizes(d.Boot());
  std::optional<std::uint64_t> used;  // in the copy's own sectors
  std::array<std::uint8_t, kBootAreaSize> copy{};
  for (const std::uint32_t bytes : sizes) {
    if (used || size < 2 * std::uint64_t{bytes}) continue;
    const std::uint64_t last = size / bytes - 1;
    copy = BootAreaCopy(app, volume, last * bytes, kSectorSize);
    if (LeU16(Bytes(copy.data(), kSectorSize), boot::kBytesPerSector) == bytes &&
        IsNtfsBackupAt(Bytes(copy.data(), kSectorSize), last * (bytes / kSectorSize)))
      used = last;
  }
  for (const std::uint64_t at : Fat32BackupSectors(d.Boot())) {
    for (const std::uint32_t bytes : sizes) {
      if (used) break;
      if (at * bytes + kBootAreaSize > size) continue;
      copy = BootAreaCopy(app, volume, at * bytes, kBootAreaSize);
      const Bytes c(copy.data(), copy.size());
      if (SoundLayout(c) == BootLayout::Fat32 && LeU16(c, boot::kBytesPerSector) == bytes) used = at;
    }
  }
  if (!used) return false;
  d.bootSector = copy;
  LogMessage(app, kError, app->logList,
             "%s (%s): its boot sector %s; the backup at sector %" PRIu64 " is used.",
             d.driveName.c_str(), d.sourceDescription.c_str(), whatIsWrong, *used);
  return true;
}

// The first sectors, or a backup of them when they are damaged and the
// volume keeps one.
void ReadBootArea(AppState* app, LOGDRIVE_INFO& d) {
  const std::span<std::uint8_t> area(d.bootSector);
  // The boot sector on its own first, so that its own failure is known
  // apart from that of the two FAT32 sectors after it.
  const bool readable = ReadSectors(app, d.volume.get(), 0, area.first(kSectorSize)) == 1;
  ReadSectors(app, d.volume.get(), 1, area.subspan(kSectorSize));
  const BootLayout layout = SoundLayout(Bytes(area.data(), kSectorSize));
  if (readable && layout != BootLayout::Unsound) return;
  const bool blank = std::all_of(area.begin(), area.begin() + kSectorSize, [](std::uint8_t v) { return v == 0; });
  const char* whatIsWrong = !readable ? "is unreadable" : blank ? "reads as zeros" : "is unsound";
  if (!TakeBackupBootArea(app, d, whatIsWrong) && !readable)
    LogMessage(app, kError, app->logList,
               "%s (%s): its boot sector cannot be read, and no backup of it is sound.",
               d.driveName.c_str(), d.sourceDescription.c_str());
}

// Fills the record from the volume's own bytes; false when the drive is to
// be dropped.
bool DescribeDrive(AppState* app, LOGDRIVE_INFO& d) {
  ReadBootArea(app, d);
  const VolumeIdentity id = IdentifyVolume(d.Boot());
  if (!id.damagedOemId.empty())
    LogMessage(app, kError, app->logList,
               "%s (%s): its boot sector's OEM ID reads \"%s\"; the volume is read as NTFS from the "
               "rest of its boot sector.",
               d.driveName.c_str(), d.sourceDescription.c_str(), id.damagedOemId.c_str());
  d.volumeName = id.label;
  d.fsName = id.fsName;
  d.serialNumber = id.serialNumber;
  d.maxComponentLength = id.maxComponentLength;
  const Bytes b = d.Boot();
  d.bytesPerSector = LeU16(b, boot::kBytesPerSector);
  d.sectorsPerCluster = LeU8(b, boot::kSectorsPerCluster);
  if ((d.Kind() == 'F' || d.Kind() == 'N') &&
      (d.bytesPerSector < 512 || d.bytesPerSector > 4096 || (d.bytesPerSector & (d.bytesPerSector - 1)) != 0)) {
    // Every offset on the volume is counted in these: a size no disk has
    // would read everything from the wrong place, or divide by zero.
    LogMessage(app, kError, app->logList,
               "%s (%s): its boot sector gives %u bytes per sector, which no disk has; it is read with "
               "512-byte sectors.",
               d.driveName.c_str(), d.sourceDescription.c_str(), d.bytesPerSector);
    d.bytesPerSector = 512;
  }
  if (d.Kind() == 'N') {
    d.totalSectors = LeU64(b, boot::kNtfsTotalSectors);
  } else {
    d.totalSectors = LeU32(b, boot::kTotalSectors32);
    d.rootDirSector = std::int64_t{LeU16(b, boot::kSectorsPerFat16)} * LeU8(b, boot::kNumberOfFats) +
                      LeU16(b, boot::kReservedSectors);
  }
  if (d.Kind() != 'F' && d.Kind() != 'N') {
    LogMessage(app, kStatus, app->logList, "%s (%s) holds %s; it is not listed.",
               d.driveName.c_str(), d.sourceDescription.c_str(),
               d.fsName.empty() ? "neither a FAT32 nor an NTFS file system" : d.fsName.c_str());
    return false;
  }
  if (d.sectorsPerCluster == 0) {
    LogMessage(app, kError, app->logList,
               "%s (%s): its boot sector gives 0 sectors per cluster; it is not listed.",
               d.driveName.c_str(), d.sourceDescription.c_str());
    return false;
  }
  if (d.Kind() == 'F' && d.fsName != "FAT32") {
    LogMessage(app, kError, app->logList,
               "%s (%s) is a %s volume; only FAT32 and NTFS volumes can be scanned, so it is "
               "not listed.",
               d.driveName.c_str(), d.sourceDescription.c_str(), d.fsName.c_str());
    return false;
  }
  return true;
}

}  // namespace

int BuildDriveList(AppState* app) {
  WindowSystem& ui = *app->ui;
  app->currentDrive = nullptr;
  ui.DeleteAllRows(app->fileList);
  ui.DeleteAllRows(app->driveList);
  ui.DeleteAllNodes();
  // The rows that pointed at them are gone, so the records of the previous
  // list and scan, and the open volumes, can go too.
  ReleaseScanRecords(app);
  app->drives.clear();
  ui.SetText(app->sizeText, "0");
  ui.SetText(app->clockText, "00:00:00");
  ui.SetText(app->filesText, "0");
  ui.SetText(app->dirsText, "0");
  LogMessage(app, kStatus, app->logList, "Initiating drive mapping process.");

  DriveSources sources = app->sources;
  sources.isVolumeBootSector = &IsSoundBootSector;
  const CandidateList found = ListDriveCandidates(sources);
  for (const std::string& problem : found.problems)
    LogMessage(app, kError, app->logList, "%s", problem.c_str());

  app->busy = 1;
  char letter = kFirstLetter;
  for (const DriveCandidate& c : found.candidates) {
    if (app->busy == 0) break;
    if (letter > kLastLetter) {
      LogMessage(app, kError, app->logList,
                 "Only %d volumes can be listed at once; %s and the ones after it are left out.",
                 kLastLetter - kFirstLetter + 1, c.description.c_str());
      break;
    }
    std::unique_ptr<LOGDRIVE_INFO> drive(new (std::nothrow) LOGDRIVE_INFO);
    if (!drive) {
      LogMessage(app, kError, app->logList, "Could not Allocate Memory for LOGDRIVE_INFO structure");
      app->busy = 0;
      return 0;
    }
    OpenResult opened = VolumeSource::Open(c.path, c.offset, c.length, c.imageSectorSize);
    if (!opened.source) {
      LogMessage(app, kError, app->logList, "%s", opened.error.c_str());
      continue;
    }
    drive->volume = std::move(opened.source);
    drive->driveLetter = letter++;
    drive->driveName = std::string(1, drive->driveLetter) + ":";
    drive->diskNumber = c.diskNumber;
    drive->startLba = c.startLba;
    drive->sourceDescription = c.description;
    LogMessage(app, kStatus, app->logList, "Mapping drive %c:.", drive->driveLetter);
    LogMessage(app, kStatus, app->logList, "%s is %s.", drive->driveName.c_str(),
               c.description.c_str());
    if (!DescribeDrive(app, *drive)) {
      LogUnreadableRanges(app, drive->volume.get(), drive->driveName);
      continue;
    }
    const int measured = drive->Kind() == 'N' ? MeasureNtfsVolume(app, drive.get())
                                              : MeasureFatVolume(app, drive.get());
    LogUnreadableRanges(app, drive->volume.get(), drive->driveName);
    if (measured == 0) continue;
    if (drive->Kind() == 'F')
      drive->dirEntriesPerCluster = static_cast<std::int32_t>(drive->ClusterBytes() / 32);
    if (AddDriveRow(app, drive.get(), app->driveList) == 0) continue;
    app->drives.push_back(std::move(drive));
  }
  LogMessage(app, kStatus, app->logList, "Drive mapping complete.");
  app->busy = 0;
  return 1;
}

int MeasureFatVolume(AppState* app, LOGDRIVE_INFO* drive) {
  drive->freeUnits = 0;
  drive->clusterCount = drive->totalSectors / drive->sectorsPerCluster;
  drive->allocUnits = drive->clusterCount + 1;
  if (LoadFat(app, drive) == 0) return 0;
  // Every entry of the table counts, the two reserved ones and those past
  // the last cluster included, as the free share has always been shown; but
  // no more of them than there are units, or a table rounded up to whole
  // 4096-byte sectors would show more than all of the volume free.
  const std::size_t counted = static_cast<std::size_t>(std::min<std::uint64_t>(drive->fatTable.size(), drive->allocUnits));
  for (std::size_t i = 0; i < counted; ++i)
    if (drive->fatTable[i] == 0) ++drive->freeUnits;
  drive->fatTable = {};
  return 1;
}

// The NTFS free share comes from the volume's own $Bitmap, found through the
// $MFT's runs (Linux has no query for it). Free space is counted in whole
// bytes of the bitmap, eight clusters at a time, as it has always been
// shown. The label comes from $Volume, as the boot sector has none.
int MeasureNtfsVolume(AppState* app, LOGDRIVE_INFO* drive) {
  drive->clusterCount = drive->totalSectors / drive->sectorsPerCluster;
  drive->allocUnits = 0;
  drive->freeUnits = 0;
  const std::unique_ptr<MftFileInfo> mft = ntfs::BuildMftDescriptor(app, drive);
  if (!mft) return 0;
  ntfs::VolumeBitmap bitmap;
  if (!ntfs::ReadVolumeBitmap(app, drive, *mft, &bitmap)) return 0;
  // A $Bitmap cut short by its own size leaves the clusters past it
  // unjudged. One cut to what a cut-short image holds leaves the volume its
  // size: the clusters past the cut read as zeros, like any read past the end.
  if (bitmap.Clusters() < ntfs::HeldClusters(*drive)) drive->clusterCount = bitmap.Clusters();
  drive->allocUnits = bitmap.Clusters() / 8;
  for (std::uint64_t i = 0; i < drive->allocUnits; ++i) {
    PumpOneMessage(app);
    if (bitmap.ByteAt(i) == 0) ++drive->freeUnits;
  }
  drive->volumeName = ntfs::ReadVolumeLabel(app, drive, *mft);
  return drive->allocUnits == 0 ? 0 : 1;
}

}  // namespace tsn
