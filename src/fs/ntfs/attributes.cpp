#include "fs/ntfs/attributes.h"

#include <algorithm>

#include "core/text.h"
#include "fs/ntfs/data_runs.h"

namespace tsn::ntfs {

std::vector<std::uint16_t> Utf16Units(Bytes b, std::size_t offset, std::size_t count) {
  std::vector<std::uint16_t> units;
  if (!FitsIn(b, offset, count * 2)) return units;
  units.reserve(count);
  for (std::size_t i = 0; i < count; ++i) units.push_back(LeU16(b, offset + 2 * i));
  return units;
}

std::string DecodeUtf16(Bytes b, std::size_t offset, std::size_t count) {
  return Utf16ToUtf8(Utf16Units(b, offset, count));
}

bool Attribute::ValueFits() const {
  if (nonResident) return false;
  const std::size_t length = LeU32(bytes, attr::kValueLength);
  const std::size_t at = LeU16(bytes, attr::kValueOffset);
  return at >= attr::kResidentHeader && FitsIn(bytes, at, length);
}

Bytes Attribute::Value() const {
  if (!ValueFits()) return {};
  return bytes.subspan(LeU16(bytes, attr::kValueOffset), LeU32(bytes, attr::kValueLength));
}

std::vector<std::uint16_t> Attribute::NameUnits() const {
  return Utf16Units(bytes, LeU16(bytes, attr::kNameOffset), LeU8(bytes, attr::kNameLength));
}

bool Attribute::NameIs(std::u16string_view name) const {
  const std::vector<std::uint16_t> units = NameUnits();
  return units.size() == name.size() && std::equal(units.begin(), units.end(), name.begin());
}

bool FileNameOf(Bytes value, std::string* name, std::vector<std::uint16_t>* units) {
  const std::size_t count = LeU8(value, filename::kNameLength);
  if (count == 0 || !FitsIn(value, filename::kName, count * 2)) return false;
  std::vector<std::uint16_t> u = Utf16Units(value, filename::kName, count);
  *name = Utf16ToUtf8(u);
  if (units != nullptr) *units = std::move(u);
  return !name->empty();
}

bool ReadFileNameAttribute(FileNameInfo* target, const Attribute& attribute) {
  const Bytes value = attribute.Value();
  if (value.size() < filename::kName) return false;
  std::string name;
  if (!FileNameOf(value, &name)) return false;
  target->parentRecord = RecordOf(LeU64(value, filename::kParent));
  target->created = LeU64(value, filename::kCreated);
  target->modified = LeU64(value, filename::kModified);
  // A POSIX name is as long a name as a Win32 one: it is what Linux writers
  // give every file, and the only name such a file has.
  if (LeU8(value, filename::kNamespace) == filename::kDos) target->dosName = std::move(name);
  else target->name = std::move(name);
  return true;
}

bool ReadResidentData(DataInfo* target, const Attribute& attribute) {
  if (!attribute.ValueFits()) return false;
  const Bytes value = attribute.Value();
  target->residentData = std::make_shared<const std::vector<std::uint8_t>>(value.begin(), value.end());
  target->size = value.size();
  return true;
}

unsigned ParseRecordAttributes(EngineHost*, const LOGDRIVE_INFO&, Bytes record, FileNameInfo* names) {
  unsigned damage = 0;
  const bool whole = WalkAttributes(record, [&](const Attribute& a) {
    if (a.type == kAttrFileName && !a.nonResident && !ReadFileNameAttribute(names, a))
      damage |= kDamageValue;
    return true;
  });
  if (!whole) damage |= kDamageAttributes;
  return damage;
}

unsigned ParseRecordAttributes(EngineHost*, const LOGDRIVE_INFO& drive, Bytes record, DataInfo* data) {
  unsigned damage = 0;
  const bool whole = WalkAttributes(record, [&](const Attribute& a) {
    // Only the file's own stream: named streams (alternate data streams such
    // as a download's zone mark) are not its contents.
    if (a.type != kAttrData || a.IsNamed()) return true;
    if (!a.nonResident) {
      if (!ReadResidentData(data, a)) damage |= kDamageValue;
      return true;
    }
    // The first extent carries the sizes of the whole stream.
    if (a.LowestVcn() == 0) data->size = a.DataSize();
    if (DecodeDataRuns(drive, a.bytes, data->runs).refused) damage |= kDamageRuns;
    return true;
  });
  if (!whole) damage |= kDamageAttributes;
  return damage;
}

int HasAttributeList(EngineHost*, Bytes record) {
  bool found = false;
  WalkAttributes(record, [&](const Attribute& a) {
    found = a.type == kAttrAttributeList;
    return !found;
  });
  return found ? 1 : 2;
}

}  // namespace tsn::ntfs
