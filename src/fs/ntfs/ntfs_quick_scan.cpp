// "Build File List ONLY!" on NTFS, and the two MFT passes that the indexed
// scan runs as its phases 2 and 3.
#include <algorithm>
#include <cinttypes>
#include <span>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/engine_host.h"
#include "fs/ntfs/attribute_list.h"
#include "fs/ntfs/attributes.h"
#include "fs/ntfs/damage_log.h"
#include "fs/ntfs/data_runs.h"
#include "fs/ntfs/index_walk.h"
#include "fs/ntfs/mft_descriptor.h"
#include "fs/ntfs/mft_record.h"
#include "fs/ntfs/ntfs_scans.h"
#include "fs/ntfs/orphan_folders.h"
#include "fs/ntfs/volume_bitmap.h"
#include "fs/logdrive_info.h"

namespace tsn {
namespace ntfs {

namespace {

constexpr const char* kTornRecords = "MFT records that fail their update-sequence check";
constexpr const char* kNotRecords = "MFT slots that hold no file record";
constexpr const char* kBrokenAttributes = "MFT records whose attributes run past the record";
constexpr const char* kBrokenRuns = "deleted files whose data runs are damaged";
constexpr const char* kForeignList = "attribute lists naming records of other files";
constexpr const char* kUnreadLists = "MFT records whose attribute list could not be read in full";

// The records a pass reads, without the stretches of the $MFT that lie in
// no cluster the volume holds: those read as zeros, and the $MFT of a
// damaged volume cut short may claim hundreds of millions of them past the
// end of its image.
class HeldRecords {
 public:
  HeldRecords(const LOGDRIVE_INFO& drive, const MftFileInfo& mft)
      : extents_(drive, mft.runs ? std::span<const DataRun>(*mft.runs) : std::span<const DataRun>()),
        count_(mft.recordCount),
        recordBytes_(RecordBytes(drive)) {}

  // The first record at or after n with a byte in a cluster the volume
  // holds; the record count when there is none.
  std::uint64_t Next(std::uint64_t n) {
    if (n >= count_) return count_;
    const StreamExtent e = extents_.Next(n * recordBytes_);
    return e.start == e.end ? count_ : e.start / recordBytes_;
  }

 private:
  HeldExtents extents_;
  std::uint64_t count_;
  std::uint64_t recordBytes_;
};

// Reads record N for a pass into buffer; its sector, or kNoSector when it
// is not there or not a sound file record (damage is told once per record).
std::int64_t ReadPassRecord(EngineHost* app, const LOGDRIVE_INFO& drive, const MftFileInfo& mft,
                            std::uint64_t n, std::span<std::uint8_t> buffer, DamageLog* damage) {
  const std::int64_t sector = MftRecordSector(app, drive, mft, n);
  if (sector == kNoSector) return kNoSector;
  std::vector<UnreadablePart> unreadable;
  ReadStreamBytes(app, drive, *mft.runs, n * RecordBytes(drive), buffer, &unreadable);
  if (!unreadable.empty()) {
    if (damage->Once(kUnreadableRecords, n))
      damage->Note(kUnreadableRecords,
                   "MFT record %" PRIu64 " could not be read (%s); whatever file or folder it held "
                   "is not known.",
                   n, UnreadableText(drive, unreadable).c_str());
    return kNoSector;
  }
  switch (ClassifyRecord(app, buffer)) {
    case RecordKind::Valid:
      FixupRecord(app, buffer, kFixupStride, kFixupRepair);
      return sector;
    case RecordKind::Empty:
      return kNoSector;  // never used
    case RecordKind::Torn:
      if (damage->Once(kTornRecords, n))
        damage->Note(kTornRecords,
                     "MFT record %" PRIu64 " (sector %" PRId64 ") fails its update-sequence check, "
                     "a torn write or damage; it is passed over.",
                     n, sector);
      return kNoSector;
    case RecordKind::Unreadable:
      return kNoSector;  // told above
    case RecordKind::NotARecord:
      if (damage->Once(kNotRecords, n))
        damage->Note(kNotRecords,
                     "MFT record %" PRIu64 " (sector %" PRId64 ") holds no file record; it is "
                     "passed over.",
                     n, sector);
      return kNoSector;
  }
  return kNoSector;
}

template <typename Target>
void ParseFor(EngineHost* app, const LOGDRIVE_INFO& drive, const MftFileInfo& mft, Bytes record,
              std::uint64_t n, bool listed, Target* target, DamageLog* damage) {
  const unsigned found = listed ? ParseListedAttributes(app, drive, mft, record, n, target)
                                : ParseRecordAttributes(app, drive, record, target);
  if ((found & kDamageAttributes) && damage->Once(kBrokenAttributes, n))
    damage->Note(kBrokenAttributes,
                 "MFT record %" PRIu64 ": an attribute runs past the end of the record; the "
                 "attributes before it are read.",
                 n);
  if ((found & kDamageRuns) && damage->Once(kBrokenRuns, n))
    damage->Note(kBrokenRuns,
                 "MFT record %" PRIu64 ": a data run lies outside the volume or is malformed; "
                 "the runs before it are kept.",
                 n);
  if ((found & kDamageForeignRecord) && damage->Once(kForeignList, n))
    damage->Note(kForeignList,
                 "MFT record %" PRIu64 ": its attribute list names a record that is not its "
                 "own; that part is passed over.",
                 n);
  if ((found & kUnreadableList) && damage->Once(kUnreadLists, n))
    damage->Note(kUnreadLists,
                 "MFT record %" PRIu64 ": its attribute list, or a record it names, could not be read; "
                 "the names or data kept there are missing.",
                 n);
}

// The names a pass takes from record N, through its attribute list if it has one.
FileNameInfo NamesOf(EngineHost* app, const LOGDRIVE_INFO& drive, const MftFileInfo& mft, Bytes record,
                     std::uint64_t n, bool listed, DamageLog* damage) {
  FileNameInfo names;
  ParseFor(app, drive, mft, record, n, listed, &names, damage);
  return names;
}

// Deleted folders are placed under their parent as soon as it is in the
// tree; one whose parent comes later in the MFT (records are reused in any
// order) waits for it, and only what is still waiting at the end of the
// pass goes to an orphan folder.
class FolderPlacer {
 public:
  FolderPlacer(EngineHost* app, LOGDRIVE_INFO* drive) : app_(app), drive_(drive) {}

  void Offer(MftFileInfo* folder) {
    const FolderRef parent = app_->FindFolderByRecord(app_->RootFolder(), folder->parentRecord);
    if (parent != kNoFolder) {
      if (app_->FolderRecordOf(parent) != nullptr) Place(folder, parent, InsertPosition::Sorted);
      return;
    }
    waiting_.emplace(folder->parentRecord, folder);
    order_.push_back(folder);
  }

  // What still waits: under its parent if that came in after all, else in an
  // orphan folder.
  void Finish() {
    for (MftFileInfo* folder : order_) {
      if (!Unwait(folder)) continue;  // placed already, under a parent that came later
      const FolderRef parent = app_->FindFolderByRecord(app_->RootFolder(), folder->parentRecord);
      if (parent != kNoFolder) {
        Place(folder, parent, InsertPosition::Sorted);
        continue;
      }
      const FolderRef orphan = AddOrphanDirsFolder(app_, drive_, folder);
      if (orphan != kNoFolder) Place(folder, orphan, InsertPosition::Last);
    }
    order_.clear();
  }

 private:
  bool Unwait(MftFileInfo* folder) {
    auto [first, last] = waiting_.equal_range(folder->parentRecord);
    for (auto it = first; it != last; ++it)
      if (it->second == folder) {
        waiting_.erase(it);
        return true;
      }
    return false;
  }

  // Inserts the folder, then every folder that waits for it, and theirs.
  void Place(MftFileInfo* folder, FolderRef parent, InsertPosition position) {
    std::vector<std::pair<MftFileInfo*, FolderRef>> pending{{folder, parent}};
    while (!pending.empty()) {
      auto [f, under] = pending.back();
      pending.pop_back();
      const FolderRef node = app_->InsertFolderNode(f, under, position);
      position = InsertPosition::Sorted;
      if (node == kNoFolder) continue;
      ++drive_->foundDirs;
      ShowFoundCounters(app_, drive_);
      app_->MarkDeletedUpward(node);
      auto [first, last] = waiting_.equal_range(f->recordNumber);
      for (auto it = first; it != last; ++it) pending.emplace_back(it->second, node);
      waiting_.erase(first, last);
    }
  }

  EngineHost* app_;
  LOGDRIVE_INFO* drive_;
  std::unordered_multimap<std::uint64_t, MftFileInfo*> waiting_;  // by missing parent
  std::vector<MftFileInfo*> order_;                              // record order
};

}  // namespace

std::uint32_t ChainInUse(EngineHost*, const LOGDRIVE_INFO&, const VolumeBitmap& bitmap,
                         const MftFileInfo& file) {
  if (file.runCount == 0 || !file.runs) return 0;
  for (const DataRun& r : *file.runs)
    if (r.length > 0 && r.lcn >= 0 &&
        bitmap.AnyAllocated(static_cast<std::uint64_t>(r.lcn), static_cast<std::uint64_t>(r.length)))
      return kFlagChainInUse;
  return 0;
}

int UnindexedEntriesPass(EngineHost* app, LOGDRIVE_INFO* drive, const MftFileInfo& mft,
                         std::vector<std::uint64_t>& folders, DamageLog* damage) {
  std::unordered_set<std::uint64_t> wanted(folders.begin(), folders.end());
  // The files each of them lists already, gathered when first needed.
  std::unordered_map<std::uint64_t, std::unordered_set<std::uint64_t>> listed;
  std::uint64_t files = 0, dirs = 0;
  std::vector<std::uint8_t> buffer(RecordBytes(*drive));
  const Bytes record(buffer.data(), buffer.size());
  HeldRecords held(*drive, mft);
  for (std::uint64_t n = held.Next(0); n < mft.recordCount; n = held.Next(n + 1)) {
    app->PumpOneMessage();
    if (!app->Busy()) return 0;
    const std::int64_t sector = ReadPassRecord(app, *drive, mft, n, buffer, damage);
    if (sector == kNoSector || !RecordInUse(record) || RecordBase(record) != 0) continue;
    const FileNameInfo names =
        NamesOf(app, *drive, mft, record, n, HasAttributeList(app, record) == 1, damage);
    // The root folder names itself as its parent.
    if (!names.HasName() || names.parentRecord == n || !wanted.count(names.parentRecord)) continue;
    const FolderRef parent = app->FindFolderByRecord(app->RootFolder(), names.parentRecord);
    MftFileInfo* folder = parent != kNoFolder ? app->FolderRecordOf(parent) : nullptr;
    if (folder == nullptr) continue;
    if (RecordIsDirectory(record)) {
      if (app->FindFolderByRecord(app->RootFolder(), n) != kNoFolder) continue;  // listed by the walk
      MftFileInfo* sub = app->Records().NewInfo();
      sub->SetName(names.name);
      sub->SetDosName(names.dosName);
      sub->flags = kFlagInUse | kFlagFolder;
      sub->parentRecord = names.parentRecord;
      sub->created = names.created;
      sub->modified = names.modified;
      sub->recordNumber = n;
      sub->recordSector = static_cast<std::uint64_t>(sector);
      const FolderRef node = app->InsertFolderNode(sub, parent, InsertPosition::Sorted);
      if (node == kNoFolder) continue;
      ++drive->foundDirs;
      ++dirs;
      ShowFoundCounters(app, drive);
      const std::size_t before = folders.size();
      if (WalkDirectory(app, drive, mft, n, node, damage, &folders) == 0) return 0;
      wanted.insert(folders.begin() + static_cast<std::ptrdiff_t>(before), folders.end());
      continue;
    }
    auto [known, first] = listed.try_emplace(names.parentRecord);
    if (first)
      for (const FoundFile* f = folder->firstFile; f != nullptr; f = f->next) known->second.insert(f->recordNumber);
    if (!known->second.insert(n).second) continue;
    DataInfo data;
    ParseFor(app, *drive, mft, record, n, HasAttributeList(app, record) == 1, &data, damage);
    FoundFile* file = app->Records().NewFile();
    file->name = names.name.empty() ? names.dosName : names.name;
    file->nameLength = static_cast<std::uint32_t>(file->name.size());
    file->flags = RecordFlags(record);
    file->created = names.created;
    file->modified = names.modified;
    file->size = data.size;
    file->recordNumber = n;
    file->recordSector = static_cast<std::uint64_t>(sector);
    AppendToFolder(folder, file);
    ++folder->fileCount;
    ++drive->foundFiles;
    drive->foundBytes += file->size;
    ++files;
    ShowFoundCounters(app, drive);
  }
  LogMessage(app, kAlert, "%" PRIu64 " files and %" PRIu64 " folders that the unreadable parts of folder indexes "
             "held were found through the MFT.",
             files, dirs);
  return 1;
}

int DeletedFolderPass(EngineHost* app, LOGDRIVE_INFO* drive, const MftFileInfo& mft,
                      const VolumeBitmap&, DamageLog* damage) {
  std::vector<std::uint8_t> buffer(RecordBytes(*drive));
  const Bytes record(buffer.data(), buffer.size());
  FolderPlacer placer(app, drive);
  HeldRecords held(*drive, mft);
  for (std::uint64_t n = held.Next(0); n < mft.recordCount; n = held.Next(n + 1)) {
    app->PumpOneMessage();
    if (!app->Busy()) {
      placer.Finish();  // what was found stays shown
      return 0;
    }
    app->StepProgress();
    const std::int64_t sector = ReadPassRecord(app, *drive, mft, n, buffer, damage);
    if (sector == kNoSector) continue;
    const std::uint16_t flags = RecordFlags(record);
    if ((flags & record::kFlagInUse) || !(flags & record::kFlagDirectory) || RecordBase(record) != 0)
      continue;
    const FileNameInfo names =
        NamesOf(app, *drive, mft, record, n, HasAttributeList(app, record) == 1, damage);
    if (!names.HasName()) continue;
    MftFileInfo* folder = app->Records().NewInfo();
    folder->SetName(names.name);
    folder->SetDosName(names.dosName);
    folder->parentRecord = names.parentRecord;
    folder->created = names.created;
    folder->modified = names.modified;
    folder->recordNumber = n;
    folder->recordSector = static_cast<std::uint64_t>(sector);
    folder->deletedEntry = true;
    placer.Offer(folder);
  }
  placer.Finish();
  return 1;
}

int DeletedFilePass(EngineHost* app, LOGDRIVE_INFO* drive, const MftFileInfo& mft,
                    const VolumeBitmap& bitmap, FolderRef root, DamageLog* damage) {
  std::vector<std::uint8_t> buffer(RecordBytes(*drive));
  const Bytes record(buffer.data(), buffer.size());
  HeldRecords held(*drive, mft);
  for (std::uint64_t n = held.Next(0); n < mft.recordCount; n = held.Next(n + 1)) {
    if (!app->Busy()) return 0;
    app->PumpOneMessage();
    app->StepProgress();
    const std::int64_t sector = ReadPassRecord(app, *drive, mft, n, buffer, damage);
    if (sector == kNoSector) continue;
    const std::uint16_t flags = RecordFlags(record);
    // Extension records carry pieces of their base record's file.
    if ((flags & (record::kFlagInUse | record::kFlagDirectory)) || RecordBase(record) != 0) continue;
    const bool listed = HasAttributeList(app, record) == 1;
    const FileNameInfo names = NamesOf(app, *drive, mft, record, n, listed, damage);
    if (!names.HasName()) continue;
    DataInfo data;
    ParseFor(app, *drive, mft, record, n, listed, &data, damage);
    if (data.size == 0 && data.runs.empty()) continue;
    MftFileInfo* file = app->Records().NewInfo();
    file->SetName(names.name);
    file->SetDosName(names.dosName);
    file->parentRecord = names.parentRecord;
    file->created = names.created;
    file->modified = names.modified;
    file->residentData = data.residentData;
    file->size = data.size;
    file->runCount = static_cast<std::uint32_t>(data.runs.size());
    file->runs = std::make_shared<const std::vector<DataRun>>(std::move(data.runs));
    file->recordNumber = n;
    file->recordSector = static_cast<std::uint64_t>(sector);
    file->deletedEntry = true;
    file->flags = ChainInUse(app, *drive, bitmap, *file);
    const FolderRef parent = app->FindFolderByRecord(root, file->parentRecord);
    if (parent != kNoFolder) {
      MftFileInfo* folder = app->FolderRecordOf(parent);
      if (folder == nullptr) continue;
      AppendFoundFile(app, drive, folder, *file);
      app->MarkDeletedUpward(parent);
    } else {
      AddOrphanFilesFolder(app, drive, file);
      ++drive->foundDirs;
      ShowFoundCounters(app, drive);
    }
  }
  return 1;
}

void NoteTruncatedImage(EngineHost* app, const LOGDRIVE_INFO& drive) {
  const std::uint64_t imageSectors = drive.volume && drive.bytesPerSector != 0 ? drive.volume->Size() / drive.bytesPerSector : 0;
  if (drive.totalSectors > imageSectors)
    LogMessage(app, kError, "%s claims %" PRIu64 " sectors but its image holds %" PRIu64
               "; what lies beyond reads as zeros.",
               drive.driveName.c_str(), drive.totalSectors, imageSectors);
}

}  // namespace ntfs

int NtfsFileListScan(EngineHost* app, LOGDRIVE_INFO* drive) {
  using namespace ntfs;
  NoteTruncatedImage(app, *drive);
  const std::unique_ptr<MftFileInfo> mft = BuildMftDescriptor(app, drive);
  if (!mft) return 0;
  VolumeBitmap bitmap;
  if (!ReadVolumeBitmap(app, drive, *mft, &bitmap)) return 0;
  const FolderRef root = StartFoundTree(app, drive);
  if (root == kNoFolder) return 0;
  ProgressClock clock;
  clock.blocksTotal = 2 * mft->recordCount;
  app->StartProgress(&clock);
  LogMessage(app, kAlert, "Beginning deleted file scan.");
  drive->orphanFolderSeq = 0;
  app->SetBusy(true);
  app->StartSteps(2 * mft->recordCount, {190, 0, 0});
  DamageLog damage(app);
  DeletedFolderPass(app, drive, *mft, bitmap, &damage);
  if (DeletedFilePass(app, drive, *mft, bitmap, root, &damage) == 0) return 0;
  damage.Flush();
  app->EndSteps();
  app->SetBusy(false);
  return 1;
}

}  // namespace tsn
