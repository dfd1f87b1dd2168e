#include "fs/ntfs/mft_sweep.h"

#include <algorithm>

#include "fs/logdrive_info.h"

namespace tsn::ntfs {

namespace {
// Large enough that the source reads straight into it, past its window,
// and small enough to stay in the processor's cache while it is parsed.
constexpr std::uint64_t kChunkBytes = 1 << 20;
}  // namespace

MftSweep::MftSweep(EngineHost* app, const LOGDRIVE_INFO& drive, const MftFileInfo& mft)
    : app_(app),
      drive_(drive),
      mft_(mft),
      runs_(mft.runs ? std::span<const DataRun>(*mft.runs) : std::span<const DataRun>()),
      extents_(drive, runs_),
      count_(mft.recordCount),
      recordBytes_(RecordBytes(drive)) {}

std::uint64_t MftSweep::Next(std::uint64_t n) {
  if (n >= count_) return count_;
  if (n * recordBytes_ < extentEnd_) return n;
  const StreamExtent e = extents_.Next(n * recordBytes_);
  if (e.start == e.end) return count_;
  extentEnd_ = e.end;
  return e.start / recordBytes_;
}

void MftSweep::Load(std::uint64_t n) {
  // To the end of the held extent at most: what lies past it is passed over unread.
  const std::uint64_t extentRecords = (extentEnd_ + recordBytes_ - 1) / recordBytes_;
  const std::uint64_t perChunk = std::max<std::uint64_t>(1, kChunkBytes / recordBytes_);
  const std::uint64_t end = std::max(n + 1, std::min({count_, n + perChunk, extentRecords}));
  chunk_.resize(static_cast<std::size_t>((end - n) * recordBytes_));
  chunkUnreadable_.clear();
  ReadStreamBytes(app_, drive_, runs_, n * recordBytes_, chunk_, &chunkUnreadable_);
  chunkFirst_ = n;
  chunkEnd_ = end;
  // The disk fetches the next piece while this one is parsed.
  if (end < std::min(count_, extentRecords))
    PrefetchStreamBytes(drive_, runs_, end * recordBytes_,
                        std::min(perChunk, std::min(count_, extentRecords) - end) * recordBytes_);
}

const SweptRecord& MftSweep::Read(std::uint64_t n) {
  SweptRecord& r = current_;
  r.number = n;
  r.unreadable.clear();
  r.bytes = {};
  r.sector = MftRecordSector(app_, drive_, mft_, n);
  if (r.sector == kNoSector) return r;
  if (n < chunkFirst_ || n >= chunkEnd_) Load(n);
  r.bytes = std::span<std::uint8_t>(chunk_).subspan(static_cast<std::size_t>((n - chunkFirst_) * recordBytes_),
                                                    static_cast<std::size_t>(recordBytes_));
  // The chunk's unreadable parts, cut to this record, are what a read of
  // the record alone would have told.
  const std::uint64_t start = n * recordBytes_, end = start + recordBytes_;
  for (const UnreadablePart& p : chunkUnreadable_) {
    const std::uint64_t partEnd = p.streamOffset + p.onVolume.Bytes();
    if (partEnd <= start || p.streamOffset >= end) continue;
    const std::uint64_t from = std::max(start, p.streamOffset), to = std::min(end, partEnd);
    UnreadablePart cut = p;
    cut.streamOffset = from;
    cut.onVolume.first = p.onVolume.first + (from - p.streamOffset);
    cut.onVolume.last = cut.onVolume.first + (to - from) - 1;
    r.unreadable.push_back(cut);
  }
  r.kind = r.unreadable.empty() ? ClassifyRecord(app_, r.bytes) : RecordKind::Unreadable;
  if (r.kind == RecordKind::Valid) FixupRecord(app_, r.bytes, kFixupStride, kFixupRepair);
  return r;
}

}  // namespace tsn::ntfs
