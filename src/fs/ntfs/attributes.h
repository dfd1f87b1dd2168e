#pragma once
// The attributes of an MFT record: the walk over their headers, and the
// decoders of $FILE_NAME and $DATA into the records the scans keep.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fs/ntfs/ntfs_layout.h"
#include "core/entry_records.h"
#include "core/le_bytes.h"

namespace tsn {

class EngineHost;
struct LOGDRIVE_INFO;

namespace ntfs {

// One attribute of a record. `bytes` is the whole attribute, its length as its
// header gives it; the walk has checked that it lies inside the record.
struct Attribute {
  Bytes bytes;
  std::size_t offset = 0;  // from the start of the record
  std::uint32_t type = 0;
  bool nonResident = false;

  // The resident value; empty when it would not lie inside the attribute.
  Bytes Value() const;
  bool ValueFits() const;
  // The attribute's name in UTF-16 units; empty when unnamed (or out of bounds).
  std::vector<std::uint16_t> NameUnits() const;
  bool IsNamed() const { return LeU8(bytes, attr::kNameLength) != 0; }
  bool NameIs(std::u16string_view name) const;
  std::uint64_t LowestVcn() const { return LeU64(bytes, attr::kLowestVcn); }
  std::uint64_t DataSize() const { return LeU64(bytes, attr::kDataSize); }
};

// Calls visit(attribute) for each attribute from the record's first one to
// the end marker; visit returns false to stop. Every header must lie inside
// the record and its length must be at least a header and stay inside the
// record, so the walk ends on any record, however damaged. Returns false when
// the walk stopped on damage rather than at the end marker or at visit's wish.
template <typename Visit>
bool WalkAttributes(Bytes record, Visit&& visit);

// Kinds of damage met while decoding a record, as a bit set.
enum : unsigned {
  kDamageAttributes = 1,  // an attribute header or length runs past the record
  kDamageRuns = 2,        // a run outside the volume, or a malformed mapping pair
  kDamageValue = 4,       // a value or name that would not lie inside its attribute
};

// What $FILE_NAME gives for one record.
struct FileNameInfo {
  std::string name;     // long name (POSIX, Win32, or Win32 and DOS), UTF-8
  std::string dosName;  // DOS 8.3 name, UTF-8
  std::uint64_t parentRecord = 0;
  std::uint64_t created = 0;
  std::uint64_t modified = 0;
  bool HasName() const { return !name.empty() || !dosName.empty(); }
};

// What the unnamed $DATA gives for one record.
struct DataInfo {
  ResidentData residentData;
  std::uint64_t size = 0;
  std::vector<DataRun> runs;
};

// Decodes every attribute of `type` (kAttrFileName into names, kAttrData into
// data) of one record. Returns the damage met, 0 for none.
unsigned ParseRecordAttributes(EngineHost* app, const LOGDRIVE_INFO& drive, Bytes record,
                               FileNameInfo* names);
unsigned ParseRecordAttributes(EngineHost* app, const LOGDRIVE_INFO& drive, Bytes record,
                               DataInfo* data);

// One $FILE_NAME into the names; false when its value does not fit.
bool ReadFileNameAttribute(FileNameInfo* target, const Attribute& attribute);
// One resident $DATA value; false when it does not fit.
bool ReadResidentData(DataInfo* target, const Attribute& attribute);

// The UTF-16 name of a $FILE_NAME value (or an index key), decoded; false
// when the name would not lie inside the value.
bool FileNameOf(Bytes value, std::string* name, std::vector<std::uint16_t>* units = nullptr);

// 1 when the record has an $ATTRIBUTE_LIST, 2 when it has not.
int HasAttributeList(EngineHost* app, Bytes record);

// UTF-16 units read from bytes, and decoded to UTF-8.
std::vector<std::uint16_t> Utf16Units(Bytes b, std::size_t offset, std::size_t count);
std::string DecodeUtf16(Bytes b, std::size_t offset, std::size_t count);

// ---------------------------------------------------------------------------

template <typename Visit>
bool WalkAttributes(Bytes record, Visit&& visit) {
  std::size_t at = LeU16(record, record::kFirstAttribute);
  // A record says how much of it is in use; past that lies stale data.
  const std::size_t inUse = LeU32(record, record::kBytesInUse);
  const std::size_t end = inUse > at && inUse <= record.size() ? inUse : record.size();
  while (true) {
    if (!FitsIn(record, at, 4) || at >= end) return false;
    const std::uint32_t type = LeU32(record, at + attr::kType);
    if (type == kAttrEnd) return true;
    if (!FitsIn(record, at, attr::kResidentHeader)) return false;
    const std::uint32_t length = LeU32(record, at + attr::kLength);
    if (length < attr::kResidentHeader || length > end - at) return false;
    Attribute a;
    a.bytes = record.subspan(at, length);
    a.offset = at;
    a.type = type;
    a.nonResident = LeU8(record, at + attr::kNonResident) != 0;
    if (!a.nonResident || length >= attr::kNonResidentHeader)
      if (!visit(static_cast<const Attribute&>(a))) return true;
    at += length;
  }
}

}  // namespace ntfs
}  // namespace tsn
