#include "fs/ntfs/record_table.h"

#include <algorithm>
#include <limits>

#include "fs/ntfs/attributes.h"
#include "fs/ntfs/mft_record.h"
#include "fs/ntfs/mft_sweep.h"

namespace tsn::ntfs {

namespace {
constexpr std::size_t kNameHeader = 4;  // three units of the folder's record number, one of length
// More names than this (hard links) are rare; such a record is read when an entry names it.
constexpr std::size_t kMaxNames = 255;
}  // namespace

void RecordTable::Take(EngineHost* app, const LOGDRIVE_INFO& drive, const SweptRecord& record) {
  if (record.number >= slots_.size() || record.sector == kNoSector || record.kind != RecordKind::Valid) return;
  Slot& slot = slots_[record.number];
  const Bytes r(record.bytes.data(), record.bytes.size());
  if (!RecordInUse(r) || RecordBase(r) != 0) {
    slot.state = kStale;
    return;
  }
  // Names that an attribute list keeps in other records, and the data
  // size it gathers from them, are read with the record.
  if (HasAttributeList(app, r) == 1) return;
  const std::size_t start = names_.size();
  if (start > std::numeric_limits<std::uint32_t>::max()) return;
  std::size_t count = 0;
  bool fits = true;
  WalkAttributes(r, [&](const Attribute& a) {
    if (a.type != kAttrFileName) return true;
    const Bytes v = a.Value();
    std::string name;
    std::vector<std::uint16_t> units;
    if (!FileNameOf(v, &name, &units)) return true;
    if (++count > kMaxNames) {
      fits = false;
      return false;
    }
    const std::uint64_t parent = RecordOf(LeU64(v, filename::kParent));
    names_.insert(names_.end(), {static_cast<std::uint16_t>(parent), static_cast<std::uint16_t>(parent >> 16),
                                 static_cast<std::uint16_t>(parent >> 32), static_cast<std::uint16_t>(units.size())});
    names_.insert(names_.end(), units.begin(), units.end());
    return true;
  });
  if (!fits) {
    names_.resize(start);
    return;
  }
  DataInfo data;
  ParseRecordAttributes(app, drive, r, &data);
  slot.state = kKnown;
  slot.flags = RecordFlags(r);
  slot.sequence = RecordSequence(r);
  slot.names = static_cast<std::uint32_t>(start);
  slot.nameCount = static_cast<std::uint8_t>(count);
  slot.hasData = data.size != 0 || !data.runs.empty() || data.residentData;
  slot.dataSize = data.size;
}

RecordTable::Verdict RecordTable::Judge(std::uint64_t record, std::uint16_t sequence, std::uint64_t folderRecord,
                                        std::span<const std::uint16_t> units) const {
  if (record >= slots_.size()) return Verdict::Read;
  const Slot& slot = slots_[record];
  if (slot.state == kStale) return Verdict::Stale;
  if (slot.state != kKnown) return Verdict::Read;
  if (slot.sequence != sequence) return Verdict::Stale;
  std::size_t at = slot.names;
  for (std::size_t i = 0; i < slot.nameCount; ++i) {
    const std::uint64_t parent = std::uint64_t{names_[at]} | std::uint64_t{names_[at + 1]} << 16 |
                                 std::uint64_t{names_[at + 2]} << 32;
    const std::size_t length = names_[at + 3];
    const auto name = std::span<const std::uint16_t>(names_).subspan(at + kNameHeader, length);
    if (parent == folderRecord && std::equal(name.begin(), name.end(), units.begin(), units.end()))
      return Verdict::Current;
    at += kNameHeader + length;
  }
  return Verdict::Stale;
}

bool RecordTable::DataSize(std::uint64_t record, std::uint64_t* size) const {
  const Slot& slot = slots_[record];
  *size = slot.dataSize;
  return slot.hasData;
}

}  // namespace tsn::ntfs
