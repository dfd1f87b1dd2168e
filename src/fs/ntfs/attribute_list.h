#pragma once
// $ATTRIBUTE_LIST: where the attributes of a file that outgrew its base
// record lie, and the reading of the attributes it names.
#include <cstdint>
#include <vector>

#include "fs/ntfs/attributes.h"
#include "fs/ntfs/data_runs.h"
#include "core/entry_records.h"
#include "core/le_bytes.h"

namespace tsn {

class EngineHost;
struct LOGDRIVE_INFO;
struct MftFileInfo;

namespace ntfs {

struct ListEntry {
  std::uint32_t type = 0;
  std::uint64_t record = 0;  // the record that holds the attribute (48 bits)
  std::uint64_t lowestVcn = 0;
};

// The largest attribute list read; a longer one is damage (a real one holds a
// few hundred entries at most).
constexpr std::uint64_t kMaxAttributeListBytes = 4 * 1024 * 1024;

// The runs of a non-resident $ATTRIBUTE_LIST in the record; empty when there
// is none, or it is resident.
std::vector<DataRun> AttributeListRuns(EngineHost* app, const LOGDRIVE_INFO& drive, Bytes record);

// The entries of the record's attribute list, resident or not; the list's
// own data size bounds it. *damaged tells that part of it is damaged or lies
// in no cluster; `unreadable`, when given, receives the parts whose clusters
// could not be read (and they do not count as damage then).
std::vector<ListEntry> ReadAttributeList(EngineHost* app, const LOGDRIVE_INFO& drive, Bytes record,
                                         bool* damaged, std::vector<UnreadablePart>* unreadable = nullptr);
// The entries of one list value (the bytes of the list).
std::vector<ListEntry> ListEntriesOf(Bytes list, bool* damaged);

// The records that the list names for attributes of `type`, each once, in
// the order they are first named.
std::vector<std::uint64_t> ListedRecords(const std::vector<ListEntry>& entries, std::uint32_t type);

// Reads a record that a list names and checks that it belongs to the file:
// the base record itself, or an extension record whose base is it. Returns
// false when it cannot be read or belongs elsewhere; `unreadable`, when
// given, receives where it could not be read.
bool ReadListedRecord(EngineHost* app, const LOGDRIVE_INFO& drive, const MftFileInfo& mft,
                      std::uint64_t baseRecord, std::uint64_t listed, std::span<std::uint8_t> buffer,
                      std::vector<UnreadablePart>* unreadable = nullptr);

// Fills the target from the records that the record's list names for the
// type, each read once. `record` is the base record itself, number
// `baseRecord`. Returns the damage met (kDamage... bits), and
// kDamageForeignRecord when the list names records of other files,
// kUnreadableList when the list or a record it names could not be read.
constexpr unsigned kDamageForeignRecord = 8;
constexpr unsigned kUnreadableList = 16;
unsigned ParseListedAttributes(EngineHost* app, const LOGDRIVE_INFO& drive, const MftFileInfo& mft,
                               Bytes record, std::uint64_t baseRecord, FileNameInfo* names);
unsigned ParseListedAttributes(EngineHost* app, const LOGDRIVE_INFO& drive, const MftFileInfo& mft,
                               Bytes record, std::uint64_t baseRecord, DataInfo* data);

}  // namespace ntfs
}  // namespace tsn
