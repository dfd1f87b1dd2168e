#pragma once
// What the index walk needs of each MFT record to judge an index entry
// (in use, sequence number, the names it carries under which folders, the
// size of its data), taken from one sweep of the MFT. An entry is then
// judged without reading the record it names; only folders, whose index is
// read from their record, and records the table cannot vouch for are read.
#include <cstdint>
#include <span>
#include <vector>

namespace tsn {

class EngineHost;
struct LOGDRIVE_INFO;
struct MftFileInfo;

namespace ntfs {

struct SweptRecord;

class RecordTable {
 public:
  explicit RecordTable(std::uint64_t records) : slots_(static_cast<std::size_t>(records)) {}

  // Takes what the sweep read of one record.
  void Take(EngineHost* app, const LOGDRIVE_INFO& drive, const SweptRecord& record);

  enum class Verdict {
    Read,     // not known here: the record has to be read and checked
    Stale,    // freed, reused, an extension record, or not carrying this name here
    Current,  // in use, and carries the name under the folder
  };
  // The verdict on an entry naming `record` with `sequence` and the UTF-16
  // name `units` under folder `folderRecord`.
  Verdict Judge(std::uint64_t record, std::uint16_t sequence, std::uint64_t folderRecord,
                std::span<const std::uint16_t> units) const;

  // Of a record judged Current: its header flags, and its data's size when
  // the record's own $DATA tells one (false when it has no unnamed $DATA).
  std::uint16_t Flags(std::uint64_t record) const { return slots_[record].flags; }
  bool DataSize(std::uint64_t record, std::uint64_t* size) const;

 private:
  enum : std::uint8_t { kUnknown = 0, kStale = 1, kKnown = 2 };
  struct Slot {
    std::uint64_t dataSize = 0;
    std::uint32_t names = 0;   // where its names start in names_
    std::uint16_t flags = 0;
    std::uint16_t sequence = 0;
    std::uint8_t state = kUnknown;
    std::uint8_t nameCount = 0;
    bool hasData = false;
  };
  std::vector<Slot> slots_;
  // Each name: its folder's record number in three units, its length, its units.
  std::vector<std::uint16_t> names_;
};

}  // namespace ntfs
}  // namespace tsn
