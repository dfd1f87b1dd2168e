#pragma once
// The $MFT read front to back a megabyte at a time, so that a scan reads
// each record once, in the order it lies on disk, and the source reads
// large stretches instead of a record between two index blocks.
#include <cstdint>
#include <span>
#include <vector>

#include "core/entry_records.h"
#include "fs/ntfs/data_runs.h"
#include "fs/ntfs/mft_record.h"

namespace tsn {

class EngineHost;
struct LOGDRIVE_INFO;

namespace ntfs {

// One record as the sweep read it.
struct SweptRecord {
  std::uint64_t number = 0;
  std::int64_t sector = kNoSector;        // kNoSector: no cluster holds its start; nothing else is set
  RecordKind kind = RecordKind::Empty;
  std::span<std::uint8_t> bytes;          // fixed up when kind is Valid
  std::vector<UnreadablePart> unreadable; // where it could not be read, as a read of it alone tells
};

class MftSweep {
 public:
  MftSweep(EngineHost* app, const LOGDRIVE_INFO& drive, const MftFileInfo& mft);
  MftSweep(const MftSweep&) = delete;
  MftSweep& operator=(const MftSweep&) = delete;

  // The first record at or after n with a byte in a cluster the volume
  // holds; the record count when there is none. n never goes back.
  std::uint64_t Next(std::uint64_t n);
  // Record n, one that Next gave, in increasing order.
  const SweptRecord& Read(std::uint64_t n);

 private:
  void Load(std::uint64_t n);

  EngineHost* app_;
  const LOGDRIVE_INFO& drive_;
  const MftFileInfo& mft_;
  std::span<const DataRun> runs_;
  HeldExtents extents_;
  std::uint64_t count_;
  std::uint64_t recordBytes_;
  std::uint64_t extentEnd_ = 0;  // the stream byte where the held extent of the last Next ends
  std::vector<std::uint8_t> chunk_;
  std::uint64_t chunkFirst_ = 0, chunkEnd_ = 0;  // records [first, end) in chunk_
  std::vector<UnreadablePart> chunkUnreadable_;
  SweptRecord current_;
};

}  // namespace ntfs
}  // namespace tsn
