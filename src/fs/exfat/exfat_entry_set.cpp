#include "fs/exfat/exfat_entry_set.h"

#include <vector>

#include "core/text.h"

namespace tsn {

namespace {

constexpr std::size_t kNameUnitsPerSlot = 15;

ExFatStamp StampAt(Bytes file, std::size_t stamp, std::size_t tenMs, std::size_t offset) {
  const std::uint32_t v = LeU32(file, stamp);
  return {static_cast<std::uint16_t>(v >> 16), static_cast<std::uint16_t>(v & 0xFFFF),
          tenMs == 0 ? std::uint8_t{0} : LeU8(file, tenMs), LeU8(file, offset)};
}

// Characters no exFAT name may hold.
bool IsForbiddenNameUnit(std::uint16_t u) {
  if (u < 0x20) return true;
  switch (u) {
    case '"': case '*': case '/': case ':': case '<': case '>': case '?': case '\\': case '|':
      return true;
    default:
      return false;
  }
}

}  // namespace

timespec ExFatStampToTime(const ExFatStamp& s) {
  std::tm tm{};
  tm.tm_year = (s.date >> 9) + 80;
  tm.tm_mon = ((s.date >> 5) & 0x0F) - 1;
  tm.tm_mday = s.date & 0x1F;
  tm.tm_hour = s.time >> 11;
  tm.tm_min = (s.time >> 5) & 0x3F;
  tm.tm_sec = (s.time & 0x1F) * 2;
  const unsigned tenMs = s.tenMs < 200 ? s.tenMs : 0;
  timespec t{};
  if (s.utcOffset & 0x80) {
    // Seven bits, signed: quarter hours east of UTC.
    const int quarters = (s.utcOffset & 0x40) ? static_cast<int>(s.utcOffset & 0x7F) - 128 : s.utcOffset & 0x3F;
    t.tv_sec = timegm(&tm) - quarters * 15 * 60;
  } else {
    tm.tm_isdst = -1;
    t.tv_sec = std::mktime(&tm);
  }
  t.tv_sec += tenMs / 100;
  t.tv_nsec = static_cast<long>(tenMs % 100) * 10'000'000L;
  return t;
}

std::uint16_t ExFatSetChecksum(Bytes bytes) {
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i == 2 || i == 3) continue;  // the checksum's own field
    std::uint8_t b = bytes[i];
    if (i % kExFatSlotSize == 0) b |= kExFatInUse;
    sum = static_cast<std::uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + b);
  }
  return sum;
}

bool ExFatEntrySet::NameAndStreamSound() const {
  if (status != Status::Sound || nameLength == 0) return false;
  if (validDataLength > dataLength) return false;
  if (dataLength != 0 && firstCluster == 0) return false;
  if (name.empty() || name.find("\xEF\xBF\xBD") != std::string::npos) return false;
  return true;
}

ExFatEntrySet ParseEntrySet(Bytes slots, bool deleted) {
  ExFatEntrySet set;
  const std::uint8_t inUse = deleted ? 0 : kExFatInUse;
  if (slots.size() < kExFatSlotSize || LeU8(slots, 0) != (kExFatDeletedFile | inUse)) return set;
  set.deleted = deleted;
  const Bytes file = slots.first(kExFatSlotSize);
  const std::size_t secondaries = LeU8(file, 1);
  set.slots = 1 + secondaries;
  if (secondaries < 2 || secondaries > kExFatMaxSetSlots - 1) {
    set.status = ExFatEntrySet::Status::Broken;
    set.fault = "its File entry names " + std::to_string(secondaries) + " secondary entries";
    return set;
  }
  if (slots.size() < set.slots * kExFatSlotSize) {
    set.status = ExFatEntrySet::Status::Incomplete;
    return set;
  }
  const Bytes stream = slots.subspan(kExFatSlotSize, kExFatSlotSize);
  if (LeU8(stream, 0) != ((kExFatStream & 0x7F) | inUse)) {
    set.status = ExFatEntrySet::Status::Broken;
    set.fault = "its File entry is not followed by a Stream Extension entry";
    return set;
  }
  set.attributes = LeU16(file, 4);
  set.created = StampAt(file, 8, 20, 22);
  set.modified = StampAt(file, 12, 21, 23);
  set.streamFlags = LeU8(stream, 1);
  set.nameLength = LeU8(stream, 3);
  set.validDataLength = LeU64(stream, 8);
  set.firstCluster = LeU32(stream, 20);
  set.dataLength = LeU64(stream, 24);
  const std::size_t nameSlots = (set.nameLength + kNameUnitsPerSlot - 1) / kNameUnitsPerSlot;
  if (set.nameLength == 0 || nameSlots > secondaries - 1) {
    set.status = ExFatEntrySet::Status::Broken;
    set.fault = "its name of " + std::to_string(set.nameLength) + " characters does not fit its " +
                std::to_string(secondaries - 1) + " name entries";
    return set;
  }
  std::vector<std::uint16_t> units;
  units.reserve(set.nameLength + 1);
  for (std::size_t n = 0; n < nameSlots; ++n) {
    const Bytes name = slots.subspan((2 + n) * kExFatSlotSize, kExFatSlotSize);
    if (LeU8(name, 0) != ((kExFatName & 0x7F) | inUse)) {
      set.status = ExFatEntrySet::Status::Broken;
      set.fault = "its name entry " + std::to_string(n + 1) + " of " + std::to_string(nameSlots) + " is missing";
      return set;
    }
    for (std::size_t u = 0; u < kNameUnitsPerSlot && units.size() < set.nameLength; ++u) {
      const std::uint16_t unit = LeU16(name, 2 + 2 * u);
      if (IsForbiddenNameUnit(unit)) {
        set.status = ExFatEntrySet::Status::Broken;
        set.fault = "its name holds a character no name may hold";
        return set;
      }
      units.push_back(unit);
    }
  }
  // Secondaries past the names are of other kinds (vendor extensions); they
  // must still be secondaries of the same state.
  for (std::size_t n = 2 + nameSlots; n < set.slots; ++n) {
    const std::uint8_t type = LeU8(slots, n * kExFatSlotSize);
    if ((type & kExFatInUse) != inUse || (type & 0x40) == 0) {
      set.status = ExFatEntrySet::Status::Broken;
      set.fault = "its entry " + std::to_string(n + 1) + " of " + std::to_string(set.slots) +
                  " is no secondary entry of it";
      return set;
    }
  }
  set.name = Utf16ToUtf8(units);
  set.checksumOk = ExFatSetChecksum(slots.first(set.slots * kExFatSlotSize)) == LeU16(file, 2);
  set.status = ExFatEntrySet::Status::Sound;
  return set;
}

}  // namespace tsn
