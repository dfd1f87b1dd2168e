#pragma once
// Directory index entries: the keys of a folder's $I30 index, each a
// $FILE_NAME value naming one file or folder, and what the scans make of them.
#include <cstdint>
#include <string>
#include <vector>

#include "fs/ntfs/ntfs_layout.h"
#include "core/le_bytes.h"

namespace tsn {

class EngineHost;
struct LOGDRIVE_INFO;
struct MftFileInfo;
struct FoundFile;

namespace ntfs {

struct UnreadablePart;

// One entry of an index node; `bytes` is the whole entry as its length gives it.
struct IndexEntry {
  Bytes bytes;

  std::uint64_t Reference() const { return LeU64(bytes, index::kEntryReference); }
  std::uint64_t RecordNumber() const { return RecordOf(Reference()); }
  std::uint16_t Sequence() const { return SequenceOf(Reference()); }
  bool IsLast() const { return (LeU8(bytes, index::kEntryFlags) & index::kEntryLast) != 0; }
  // The key, a $FILE_NAME value; empty when it would not lie inside the entry.
  Bytes Key() const;
  std::uint8_t Namespace() const { return LeU8(Key(), filename::kNamespace); }
  bool IsFolder() const { return (LeU32(Key(), filename::kFileAttributes) & filename::kIsDirectory) != 0; }
  std::uint64_t ParentRecord() const { return RecordOf(LeU64(Key(), filename::kParent)); }
  std::uint64_t Created() const { return LeU64(Key(), filename::kCreated); }
  std::uint64_t Modified() const { return LeU64(Key(), filename::kModified); }
  std::uint64_t Size() const { return LeU64(Key(), filename::kDataSize); }
  // The decoded name and its UTF-16 units; false when there is none that fits.
  bool Name(std::string* name, std::vector<std::uint16_t>* units = nullptr) const;
};

// Calls visit(entry) for each entry of the node lying in [first, end) of
// `node`, up to and including the last-entry mark; visit returns false to
// stop. Each entry must be at least an entry header long and lie inside the
// range, so a damaged node cannot make the walk run away. Returns false when
// it stopped on damage.
template <typename Visit>
bool WalkIndexEntries(Bytes node, std::size_t first, std::size_t end, Visit&& visit) {
  if (end > node.size()) end = node.size();
  std::size_t at = first;
  while (at < end) {
    if (end - at < index::kEntryMinimum) return false;
    const std::size_t length = LeU16(node, at + index::kEntryLength);
    if (length < index::kEntryMinimum || length > end - at) return false;
    const IndexEntry entry{node.subspan(at, length)};
    if (!visit(entry)) return true;
    if (entry.IsLast()) return true;
    at += length;
  }
  return false;  // no last-entry mark inside the node
}

// Why an entry's record does not hold the entry any more.
enum class EntryVerdict {
  Current,     // the record is in use and carries this name under this folder
  Unsound,     // the record cannot be located or is not a sound file record
  Unreadable,  // the record could not be read: whether the entry stands is not known
  Stale,       // the record was freed or reused: the entry is a leftover
};

// Checks an entry against the MFT record it names (read into `record`).
// `unreadable` receives where the record could not be read.
EntryVerdict CheckEntryRecord(EngineHost* app, const LOGDRIVE_INFO& drive, const MftFileInfo& mft,
                              const IndexEntry& entry, std::uint64_t folderRecord,
                              std::span<std::uint8_t> record, std::int64_t* sector,
                              std::vector<UnreadablePart>* unreadable);

// A folder's record made from its index entry, owned by the scan's records.
MftFileInfo* DescriptorFromIndexEntry(EngineHost* app, LOGDRIVE_INFO* drive, const IndexEntry& entry);
// A file's record from its index entry, its decoded name and its MFT
// record's header flags (the record already checked), owned by the scan's
// records.
FoundFile* FoundFileFromIndexEntry(EngineHost* app, LOGDRIVE_INFO* drive, const IndexEntry& entry,
                                   std::string name, std::uint16_t recordFlags, std::int64_t sector);

}  // namespace ntfs
}  // namespace tsn
