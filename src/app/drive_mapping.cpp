#include "app/drive_mapping.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <new>
#include <span>

#include "app/app_state.h"
#include "app/main_dialog.h"
#include "app/message_log.h"
#include "app/folder_tree.h"
#include "app/overwrite_query.h"
#include "fs/boot_sector.h"
#include "fs/file_system.h"
#include "app/drive_list.h"
#include "source/drive_sources.h"
#include "source/read_sectors.h"

namespace tsn {

namespace {

constexpr char kFirstLetter = 'C';
constexpr char kLastLetter = 'Z';

// The sector sizes a backup may have been written with: the primary's own
// when it states one a disk can have, else both that disks have (a primary
// that cannot be read says nothing about its volume).
std::vector<std::uint32_t> BackupSectorSizes(Bytes primary) {
  const std::uint32_t stated = LeU16(primary, boot::kBytesPerSector);
  if (stated >= 512 && stated <= 4096 && (stated & (stated - 1)) == 0) return {stated};
  return {512, 4096};
}

// Takes a backup boot area in place of the volume's first sectors when they
// cannot be read or do not hang together, from the first file system that
// keeps one and finds it sound. The geometry then comes from the copy.
// False, with the first sectors left as they read, when no copy is sound.
bool TakeBackupBootArea(AppState* app, LOGDRIVE_INFO& d, const char* whatIsWrong) {
  const std::vector<std::uint32_t> sizes = BackupSectorSizes(d.Boot());
  for (const FileSystemType* row : FileSystemTable()) {
    if (row->findBackupBootArea == nullptr) continue;
    BootArea copy{};
    const std::uint64_t used = row->findBackupBootArea(app, d.volume.get(), d.Boot(), sizes, &copy);
    if (used == 0) continue;
    d.bootSector = copy;
    LogMessage(app, kError, app->logList,
               "%s (%s): its boot sector %s; the backup at sector %" PRIu64 " is used.",
               d.driveName.c_str(), d.sourceDescription.c_str(), whatIsWrong, used);
    return true;
  }
  return false;
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

// Fills the record from the volume's own bytes and mounts it with the file
// system that claims its boot sector; false when the drive is to be dropped.
bool DescribeDrive(AppState* app, LOGDRIVE_INFO& d) {
  ReadBootArea(app, d);
  const VolumeIdentity id = IdentifyVolume(d.Boot());
  d.volumeName = id.label;
  d.fsName = id.fsName;
  d.serialNumber = id.serialNumber;
  d.maxComponentLength = id.maxComponentLength;
  d.fileSystem = ProbeFileSystem(d.Boot());
  if (d.fileSystem == nullptr) {
    LogMessage(app, kStatus, app->logList, "%s (%s) holds %s; it is not listed.",
               d.driveName.c_str(), d.sourceDescription.c_str(),
               d.fsName.empty() ? NoKnownFileSystemText().c_str() : d.fsName.c_str());
    return false;
  }
  return d.fileSystem->mount(app, &d);
}

}  // namespace

bool OpenPermittedDrive(AppState* app, LOGDRIVE_INFO* drive) {
  DeviceOpening opening = app->ui->OpenDeviceForReading(drive->devicePath);
  if (opening.fd < 0) {
    LogMessage(app, kError, app->logList, "%s (%s) could not be opened for reading: %s",
               drive->driveName.c_str(), drive->devicePath.c_str(), opening.error.c_str());
    return false;
  }
  OpenResult opened = VolumeSource::OpenDescriptor(FileHandle(opening.fd), drive->devicePath,
                                                   drive->deviceOffset, drive->deviceLength);
  if (!opened.source) {
    LogMessage(app, kError, app->logList, "%s: %s", drive->driveName.c_str(), opened.error.c_str());
    return false;
  }
  drive->volume = std::move(opened.source);
  drive->needsPermission = false;
  LogMessage(app, kStatus, app->logList, "%s (%s) is open for reading.", drive->driveName.c_str(),
             drive->devicePath.c_str());
  const int row = DriveRowOf(*app, drive);
  const bool mounted = DescribeDrive(app, *drive);
  LogUnreadableRanges(app, drive->volume.get(), drive->driveName);
  if (!mounted) {
    // It stays greyed and says what it holds; the log says why. Nothing of
    // it is kept open.
    drive->fileSystem = nullptr;
    drive->volume.reset();
    drive->needsPermission = true;
    if (row >= 0) {
      app->ui->SetRowText(app->driveList, row, 2, "");
      app->ui->SetRowText(app->driveList, row, 3,
                          drive->fsName.empty() ? NoKnownFileSystemText() : drive->fsName);
    }
    return false;
  }
  if (row >= 0) FillDriveRow(app, drive, app->driveList, row);
  return true;
}

int BuildDriveList(AppState* app) {
  WindowSystem& ui = *app->ui;
  app->currentDrive = nullptr;
  ui.DeleteAllRows(app->fileList);
  ui.DeleteAllRows(app->driveList);
  ui.DeleteAllNodes();
  // The rows that pointed at them are gone, so the records of the previous
  // list and scan, and the open volumes, can go too.
  ReleaseScanRecords(app);
  ForgetOverwrites(app);
  app->drives.clear();
  app->heldCounters.held = false;
  ui.SetText(app->sizeText, "0");
  ui.SetText(app->clockText, "00:00:00");
  ui.SetText(app->filesText, "0");
  ui.SetText(app->dirsText, "0");
  ui.SetText(app->sourcesText, "");
  LogMessage(app, kStatus, app->logList, "Initiating drive mapping process.");

  DriveSources sources = app->sources;
  sources.isVolumeBootSector = &IsSoundBootSector;
  const CandidateList found = ListDriveCandidates(sources);
  for (const std::string& problem : found.problems)
    LogMessage(app, kError, app->logList, "%s", problem.c_str());
  // Sources that give no drive at all: the log says why, and the line above
  // the list says that it does, until the next mapping.
  std::size_t unreadable = found.problems.size();

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
    OpenResult opened;
    if (!c.needsPermission) opened = VolumeSource::Open(c.path, c.offset, c.length, c.imageSectorSize);
    const bool needsPermission = c.needsPermission || opened.needsPermission;
    if (!opened.source && !needsPermission) {
      LogMessage(app, kError, app->logList, "%s", opened.error.c_str());
      ++unreadable;
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
    if (needsPermission) {
      // Listed all the same, so that the user sees the disk is there and
      // can ask for it; choosing the row opens it.
      drive->needsPermission = true;
      drive->devicePath = c.path;
      drive->deviceOffset = c.offset;
      drive->deviceLength = c.length;
      LogMessage(app, kStatus, app->logList, "%s %s: choose it to open it for reading.",
                 drive->driveName.c_str(), kNeedsPermissionText);
      if (AddDriveRow(app, drive.get(), app->driveList) == 0) continue;
      app->drives.push_back(std::move(drive));
      continue;
    }
    const bool mounted = DescribeDrive(app, *drive);
    LogUnreadableRanges(app, drive->volume.get(), drive->driveName);
    if (!mounted) continue;
    if (AddDriveRow(app, drive.get(), app->driveList) == 0) continue;
    app->drives.push_back(std::move(drive));
  }
  LogMessage(app, kStatus, app->logList, "Drive mapping complete.");
  if (unreadable > 0) {
    char line[96];
    std::snprintf(line, sizeof line, "%zu source%s could not be read: see the log", unreadable,
                  unreadable == 1 ? "" : "s");
    ui.SetText(app->sourcesText, line);
  }
  app->busy = 0;
  return 1;
}

}  // namespace tsn
