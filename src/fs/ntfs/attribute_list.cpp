#include "fs/ntfs/attribute_list.h"

#include <algorithm>
#include <array>
#include <unordered_set>

#include "fs/ntfs/data_runs.h"
#include "fs/ntfs/mft_record.h"
#include "fs/logdrive_info.h"

namespace tsn::ntfs {

std::vector<ListEntry> ListEntriesOf(Bytes list, bool* damaged) {
  std::vector<ListEntry> entries;
  std::size_t at = 0;
  while (at < list.size()) {
    const std::size_t length = LeU16(list, at + listentry::kLength);
    // Entries are at least a header long, so the walk always moves on.
    if (length < listentry::kMinimumLength || length > list.size() - at) {
      // Zeros after the last entry are the list's slack, not damage.
      if (LeU32(list, at + listentry::kType) != 0) *damaged = true;
      break;
    }
    ListEntry e;
    e.type = LeU32(list, at + listentry::kType);
    e.record = RecordOf(LeU64(list, at + listentry::kRecord));
    e.lowestVcn = LeU64(list, at + listentry::kLowestVcn);
    entries.push_back(e);
    at += length;
  }
  return entries;
}

std::vector<DataRun> AttributeListRuns(EngineHost*, const LOGDRIVE_INFO& drive, Bytes record) {
  std::vector<DataRun> runs;
  WalkAttributes(record, [&](const Attribute& a) {
    if (a.type != kAttrAttributeList) return true;
    if (a.nonResident) DecodeDataRuns(drive, a.bytes, runs);
    return false;
  });
  SortRunsByVcn(runs);
  return runs;
}

std::vector<ListEntry> ReadAttributeList(EngineHost* app, const LOGDRIVE_INFO& drive, Bytes record,
                                         bool* damaged, std::vector<UnreadablePart>* unreadable) {
  std::vector<ListEntry> entries;
  WalkAttributes(record, [&](const Attribute& a) {
    if (a.type != kAttrAttributeList) return true;
    if (!a.nonResident) {
      if (!a.ValueFits()) *damaged = true;
      entries = ListEntriesOf(a.Value(), damaged);
      return false;
    }
    std::vector<DataRun> runs;
    if (DecodeDataRuns(drive, a.bytes, runs).refused) *damaged = true;
    SortRunsByVcn(runs);
    std::uint64_t size = a.DataSize();
    if (size > kMaxAttributeListBytes) {
      *damaged = true;
      size = kMaxAttributeListBytes;
    }
    std::vector<std::uint8_t> bytes((size + kSectorSize - 1) / kSectorSize * kSectorSize);
    std::vector<UnreadablePart> bad;
    if (ReadStreamBytes(app, drive, runs, 0, bytes, &bad) == 0 && (bad.empty() || unreadable == nullptr))
      *damaged = true;
    if (unreadable != nullptr) unreadable->insert(unreadable->end(), bad.begin(), bad.end());
    entries = ListEntriesOf(Bytes(bytes.data(), static_cast<std::size_t>(size)), damaged);
    return false;
  });
  return entries;
}

std::vector<std::uint64_t> ListedRecords(const std::vector<ListEntry>& entries, std::uint32_t type) {
  std::vector<std::uint64_t> records;
  std::unordered_set<std::uint64_t> seen;
  for (const ListEntry& e : entries)
    if (e.type == type && seen.insert(e.record).second) records.push_back(e.record);
  return records;
}

bool ReadListedRecord(EngineHost* app, const LOGDRIVE_INFO& drive, const MftFileInfo& mft,
                      std::uint64_t baseRecord, std::uint64_t listed, std::span<std::uint8_t> buffer,
                      std::vector<UnreadablePart>* unreadable) {
  if (ReadMftRecord(app, drive, mft, buffer, listed, nullptr, unreadable) == kNoSector) return false;
  return RecordBase(Bytes(buffer.data(), buffer.size())) == baseRecord;
}

namespace {

template <typename Target>
unsigned ParseListed(EngineHost* app, const LOGDRIVE_INFO& drive, const MftFileInfo& mft,
                     Bytes record, std::uint64_t baseRecord, std::uint32_t type, Target* target) {
  bool damaged = false;
  std::vector<UnreadablePart> unreadable;
  const std::vector<ListEntry> entries = ReadAttributeList(app, drive, record, &damaged, &unreadable);
  unsigned damage = damaged ? unsigned{kDamageAttributes} : 0u;
  if (!unreadable.empty()) damage |= kUnreadableList;
  std::vector<std::uint8_t> extension(RecordBytes(drive));
  for (const std::uint64_t listed : ListedRecords(entries, type)) {
    if (listed == baseRecord) {
      damage |= ParseRecordAttributes(app, drive, record, target);
      continue;
    }
    unreadable.clear();
    if (!ReadListedRecord(app, drive, mft, baseRecord, listed, extension, &unreadable)) {
      damage |= unreadable.empty() ? kDamageForeignRecord : kUnreadableList;
      continue;
    }
    damage |= ParseRecordAttributes(app, drive, Bytes(extension.data(), extension.size()), target);
  }
  return damage;
}

}  // namespace

unsigned ParseListedAttributes(EngineHost* app, const LOGDRIVE_INFO& drive, const MftFileInfo& mft,
                               Bytes record, std::uint64_t baseRecord, FileNameInfo* names) {
  return ParseListed(app, drive, mft, record, baseRecord, kAttrFileName, names);
}

unsigned ParseListedAttributes(EngineHost* app, const LOGDRIVE_INFO& drive, const MftFileInfo& mft,
                               Bytes record, std::uint64_t baseRecord, DataInfo* data) {
  const unsigned damage = ParseListed(app, drive, mft, record, baseRecord, kAttrData, data);
  SortRunsByVcn(data->runs);
  return damage;
}

}  // namespace tsn::ntfs
