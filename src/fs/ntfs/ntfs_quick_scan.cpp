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
#include "fs/ntfs/mft_sweep.h"
#include "fs/ntfs/record_table.h"
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

// What a pass's read of record N met, told once per record.
void TellRead(const LOGDRIVE_INFO& drive, DamageLog* damage, const DeletedEntries::ReadNote& note) {
  const std::uint64_t n = note.record;
  switch (note.kind) {
    case RecordKind::Unreadable:
      if (damage->Once(kUnreadableRecords, n))
        damage->Note(kUnreadableRecords,
                     "MFT record %" PRIu64 " could not be read (%s); whatever file or folder it held "
                     "is not known.",
                     n, UnreadableText(drive, note.unreadable).c_str());
      return;
    case RecordKind::Torn:
      if (damage->Once(kTornRecords, n))
        damage->Note(kTornRecords,
                     "MFT record %" PRIu64 " (sector %" PRId64 ") fails its update-sequence check, "
                     "a torn write or damage; it is passed over.",
                     n, note.sector);
      return;
    case RecordKind::NotARecord:
      if (damage->Once(kNotRecords, n))
        damage->Note(kNotRecords,
                     "MFT record %" PRIu64 " (sector %" PRId64 ") holds no file record; it is "
                     "passed over.",
                     n, note.sector);
      return;
    case RecordKind::Valid:
    case RecordKind::Empty:  // never used
      return;
  }
}

// The damage that decoding record N's attributes met (Parse's bits).
void TellParse(DamageLog* damage, std::uint64_t n, unsigned found) {
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

template <typename Target>
unsigned Parse(EngineHost* app, const LOGDRIVE_INFO& drive, const MftFileInfo& mft, Bytes record,
               std::uint64_t n, bool listed, Target* target) {
  return listed ? ParseListedAttributes(app, drive, mft, record, n, target)
                : ParseRecordAttributes(app, drive, record, target);
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
                         const FoundFile& file) {
  for (const DataRun& r : file.Runs())
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
  MftSweep sweep(app, *drive, mft);
  for (std::uint64_t n = sweep.Next(0); n < mft.recordCount; n = sweep.Next(n + 1)) {
    app->PumpOneMessage();
    if (!app->Busy()) return 0;
    const SweptRecord& swept = sweep.Read(n);
    if (swept.sector == kNoSector) continue;
    TellRead(*drive, damage, {n, swept.kind, swept.sector, swept.unreadable});
    if (swept.kind != RecordKind::Valid) continue;
    const std::int64_t sector = swept.sector;
    const Bytes record(swept.bytes.data(), swept.bytes.size());
    if (!RecordInUse(record) || RecordBase(record) != 0) continue;
    const bool hasList = HasAttributeList(app, record) == 1;
    FileNameInfo names;
    TellParse(damage, n, Parse(app, *drive, mft, record, n, hasList, &names));
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
    TellParse(damage, n, Parse(app, *drive, mft, record, n, hasList, &data));
    FoundFile* file = app->Records().NewFile();
    app->Records().KeepName(file, names.name.empty() ? names.dosName : names.name);
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

void DeletedEntries::Take(EngineHost* app, const LOGDRIVE_INFO& drive, const MftFileInfo& mft,
                          const SweptRecord& swept) {
  const std::uint64_t n = swept.number;
  if (swept.sector == kNoSector) return;
  if (swept.kind != RecordKind::Valid) {
    if (swept.kind != RecordKind::Empty) notes.push_back({n, swept.kind, swept.sector, swept.unreadable});
    return;
  }
  const Bytes record(swept.bytes.data(), swept.bytes.size());
  const std::uint16_t flags = RecordFlags(record);
  // Extension records carry pieces of their base record's file.
  if ((flags & record::kFlagInUse) || RecordBase(record) != 0) return;
  const bool listed = HasAttributeList(app, record) == 1;
  FileNameInfo names;
  const unsigned namesDamage = Parse(app, drive, mft, record, n, listed, &names);
  if (flags & record::kFlagDirectory) {
    if (names.HasName() || namesDamage != 0)
      folders.push_back({n, static_cast<std::uint64_t>(swept.sector), namesDamage, std::move(names)});
    return;
  }
  FileDamage damaged{n, namesDamage, 0};
  FoundFile* file = nullptr;
  if (names.HasName()) {
    DataInfo data;
    damaged.data = Parse(app, drive, mft, record, n, listed, &data);
    if (data.size != 0 || !data.runs.empty()) {
      file = app->Records().NewFile();
      app->Records().KeepName(file, names.name.empty() ? names.dosName : names.name);
      file->created = names.created;
      file->modified = names.modified;
      file->size = data.size;
      app->Records().KeepRuns(file, data.runs);
      file->recordNumber = n;
      file->recordSector = static_cast<std::uint64_t>(swept.sector);
    }
  }
  if (damaged.names != 0 || damaged.data != 0) damage.push_back(damaged);
  if (file != nullptr) files.push_back({file, names.parentRecord});
}

int ReadMftOnce(EngineHost* app, LOGDRIVE_INFO* drive, const MftFileInfo& mft, DeletedEntries* entries,
                RecordTable* table) {
  MftSweep sweep(app, *drive, mft);
  std::uint64_t read = 0;
  for (std::uint64_t n = sweep.Next(0); n < mft.recordCount; n = sweep.Next(n + 1)) {
    // The user is heard every thousand records: a millisecond's work.
    if (read++ % 1024 == 0) {
      app->PumpOneMessage();
      if (!app->Busy()) return 0;
    }
    const SweptRecord& swept = sweep.Read(n);
    if (table != nullptr) table->Take(app, *drive, swept);
    entries->Take(app, *drive, mft, swept);
  }
  return 1;
}

int DeletedFolderPass(EngineHost* app, LOGDRIVE_INFO* drive, const MftFileInfo& mft, DeletedEntries& entries,
                      bool readHere, DamageLog* damage) {
  FolderPlacer placer(app, drive);
  MftSweep sweep(app, *drive, mft);
  std::size_t note = 0, folder = 0;
  for (std::uint64_t n = sweep.Next(0); n < mft.recordCount; n = sweep.Next(n + 1)) {
    app->PumpOneMessage();
    if (!app->Busy()) {
      placer.Finish();  // what was found stays shown
      return 0;
    }
    app->StepProgress();
    if (readHere) entries.Take(app, *drive, mft, sweep.Read(n));
    for (; note < entries.notes.size() && entries.notes[note].record == n; ++note)
      TellRead(*drive, damage, entries.notes[note]);
    for (; folder < entries.folders.size() && entries.folders[folder].record == n; ++folder) {
      DeletedEntries::Folder& kept = entries.folders[folder];
      TellParse(damage, n, kept.damage);
      if (!kept.names.HasName()) continue;
      MftFileInfo* info = app->Records().NewInfo();
      info->SetName(std::move(kept.names.name));
      info->SetDosName(std::move(kept.names.dosName));
      info->parentRecord = kept.names.parentRecord;
      info->created = kept.names.created;
      info->modified = kept.names.modified;
      info->recordNumber = n;
      info->recordSector = kept.sector;
      info->deletedEntry = true;
      placer.Offer(info);
    }
  }
  placer.Finish();
  return 1;
}

int DeletedFilePass(EngineHost* app, LOGDRIVE_INFO* drive, const MftFileInfo& mft, DeletedEntries& entries,
                    const VolumeBitmap& bitmap, FolderRef root, DamageLog* damage) {
  MftSweep sweep(app, *drive, mft);
  std::size_t next = 0, damaged = 0;
  for (std::uint64_t n = sweep.Next(0); n < mft.recordCount; n = sweep.Next(n + 1)) {
    if (!app->Busy()) return 0;
    app->PumpOneMessage();
    app->StepProgress();
    // What reading the record met was told by the folder pass.
    for (; damaged < entries.damage.size() && entries.damage[damaged].record == n; ++damaged) {
      TellParse(damage, n, entries.damage[damaged].names);
      TellParse(damage, n, entries.damage[damaged].data);
    }
    for (; next < entries.files.size() && entries.files[next].file->recordNumber == n; ++next) {
      const DeletedEntries::File& kept = entries.files[next];
      FoundFile* file = kept.file;
      file->flags = ChainInUse(app, *drive, bitmap, *file);
      const FolderRef parent = app->FindFolderByRecord(root, kept.parentRecord);
      if (parent != kNoFolder) {
        MftFileInfo* folder = app->FolderRecordOf(parent);
        if (folder == nullptr) continue;
        AppendFoundFile(app, drive, folder, file);
        app->MarkDeletedUpward(parent);
      } else {
        AddOrphanFilesFolder(app, drive, file, kept.parentRecord);
        ++drive->foundDirs;
        ShowFoundCounters(app, drive);
      }
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
  // The folder pass reads the MFT, once; the file pass places what it kept.
  DeletedEntries entries;
  DeletedFolderPass(app, drive, *mft, entries, true, &damage);
  if (DeletedFilePass(app, drive, *mft, entries, bitmap, root, &damage) == 0) return 0;
  damage.Flush();
  app->EndSteps();
  app->SetBusy(false);
  return 1;
}

}  // namespace tsn
