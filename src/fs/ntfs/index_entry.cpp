#include "core/engine_host.h"
#include "fs/logdrive_info.h"
#include "fs/ntfs/index_entry.h"

#include <algorithm>

#include "fs/ntfs/attributes.h"
#include "fs/ntfs/data_runs.h"
#include "fs/ntfs/mft_record.h"
#include "core/entry_records.h"

namespace tsn::ntfs {

Bytes IndexEntry::Key() const {
  const std::size_t keyLength = LeU16(bytes, index::kEntryKeyLength);
  if (keyLength < filename::kName || !FitsIn(bytes, index::kEntryKey, keyLength)) return {};
  return bytes.subspan(index::kEntryKey, keyLength);
}

bool IndexEntry::Name(std::string* name, std::vector<std::uint16_t>* units) const {
  return FileNameOf(Key(), name, units);
}

EntryVerdict CheckEntryRecord(EngineHost* app, const LOGDRIVE_INFO& drive, const MftFileInfo& mft,
                              const IndexEntry& entry, std::uint64_t folderRecord,
                              std::span<std::uint8_t> record, std::int64_t* sector,
                              std::vector<UnreadablePart>* unreadable) {
  RecordKind kind = RecordKind::Valid;
  *sector = ReadMftRecord(app, drive, mft, record, entry.RecordNumber(), &kind, unreadable);
  if (*sector == kNoSector) return kind == RecordKind::Unreadable ? EntryVerdict::Unreadable : EntryVerdict::Unsound;
  const Bytes r(record.data(), record.size());
  // Index blocks that fell out of use keep their old entries, and a record
  // that was freed or given to another file no longer carries the name: the
  // sequence number and the record's own names tell.
  if (!RecordInUse(r) || RecordBase(r) != 0 || RecordSequence(r) != entry.Sequence())
    return EntryVerdict::Stale;
  std::vector<std::uint16_t> wanted;
  std::string ignored;
  if (!entry.Name(&ignored, &wanted)) return EntryVerdict::Stale;
  bool listed = false, namesSeen = false;
  WalkAttributes(r, [&](const Attribute& a) {
    if (a.type != kAttrFileName) return true;
    const Bytes v = a.Value();
    std::string n;
    std::vector<std::uint16_t> units;
    if (!FileNameOf(v, &n, &units)) return true;
    namesSeen = true;
    listed = RecordOf(LeU64(v, filename::kParent)) == folderRecord && units == wanted;
    return !listed;
  });
  // A record whose names moved to extension records cannot be checked by
  // name; its sequence number has to do.
  if (listed || (!namesSeen && HasAttributeList(app, r) == 1)) return EntryVerdict::Current;
  return EntryVerdict::Stale;
}

MftFileInfo* DescriptorFromIndexEntry(EngineHost* app, LOGDRIVE_INFO*, const IndexEntry& entry) {
  std::string name;
  if (!entry.Name(&name)) return nullptr;
  MftFileInfo* info = app->Records().NewInfo();
  info->SetName(std::move(name));
  info->flags = kFlagInUse | kFlagFolder;
  info->size = entry.Size();
  info->recordNumber = entry.RecordNumber();
  info->parentRecord = entry.ParentRecord();
  info->created = entry.Created();
  info->modified = entry.Modified();
  return info;
}

FoundFile* FoundFileFromIndexEntry(EngineHost* app, LOGDRIVE_INFO*, const IndexEntry& entry,
                                   std::string name, std::uint16_t recordFlags, std::int64_t sector) {
  if (name.empty()) return nullptr;
  FoundFile* file = app->Records().NewFile();
  app->Records().KeepName(file, name);
  file->flags = recordFlags;
  file->created = entry.Created();
  file->modified = entry.Modified();
  file->size = entry.Size();
  file->recordNumber = entry.RecordNumber();
  file->recordSector = static_cast<std::uint64_t>(sector);
  return file;
}

}  // namespace tsn::ntfs
