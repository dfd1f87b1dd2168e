#include "core/engine_host.h"
#include "fs/ntfs/mft_record.h"

#include <algorithm>
#include <array>

#include "fs/ntfs/data_runs.h"
#include "core/entry_records.h"
#include "fs/logdrive_info.h"

namespace tsn::ntfs {

namespace {
void WriteU16(std::span<std::uint8_t> b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
}  // namespace

int FixupRecord(EngineHost* app, std::span<std::uint8_t> buffer, std::uint32_t stride, int mode) {
  if (app != nullptr) app->SetRoutineName("FixupRecord");
  const Bytes b(buffer.data(), buffer.size());
  const std::int64_t length = static_cast<std::int64_t>(buffer.size());
  const std::int64_t k = std::int64_t{LeU16(b, record::kUsaOffset + 2)} - 1;  // sectors covered
  const std::int64_t u = LeU16(b, record::kUsaOffset);
  // The array must cover exactly the buffer, and stand inside it.
  if (length != 0 && k * stride != length) return 0;
  if (u > length - 2) return 0;
  const std::uint16_t sequence = LeU16(b, static_cast<std::size_t>(u));
  if (k <= 0) return k == 0 ? 1 : 0;
  for (std::int64_t i = 1; i <= k; ++i) {
    const auto p = static_cast<std::size_t>(i * stride - 2);
    const auto e = static_cast<std::size_t>(u + 2 * i);
    if (!FitsIn(b, p, 2) || !FitsIn(b, e, 2)) return 0;
    if (LeU16(b, p) != sequence) return 0;
  }
  if (mode == kFixupRepair)
    for (std::int64_t i = 1; i <= k; ++i)
      WriteU16(buffer, static_cast<std::size_t>(i * stride - 2),
               LeU16(b, static_cast<std::size_t>(u + 2 * i)));
  return 1;
}

int IsValidMftRecord(EngineHost* app, std::span<std::uint8_t> buffer, std::uint32_t stride) {
  const Bytes b(buffer.data(), buffer.size());
  if (LeU32(b, record::kSignature) != record::kSignatureFile) return 0;
  if (FixupRecord(app, buffer, stride, kFixupCheck) == 0) return 0;
  const std::size_t first = LeU16(b, record::kFirstAttribute);
  return first != 0 && first < buffer.size() ? 1 : 0;
}

RecordKind ClassifyRecord(EngineHost* app, std::span<std::uint8_t> buffer) {
  if (IsValidMftRecord(app, buffer, kFixupStride)) return RecordKind::Valid;
  if (std::all_of(buffer.begin(), buffer.end(), [](std::uint8_t v) { return v == 0; }))
    return RecordKind::Empty;
  const std::uint32_t signature = LeU32(Bytes(buffer.data(), buffer.size()), 0);
  if (signature == record::kSignatureFile || signature == 0x44414142 /* "BAAD" */)
    return RecordKind::Torn;
  return RecordKind::NotARecord;
}

std::uint32_t RecordBytes(const LOGDRIVE_INFO& drive) {
  return drive.mftRecordBytes != 0 ? drive.mftRecordBytes : static_cast<std::uint32_t>(kMftRecordSize);
}

std::int64_t MftRecordSector(EngineHost*, const LOGDRIVE_INFO& drive, const MftFileInfo& mft,
                             std::uint64_t record) {
  if (!mft.runs || mft.runs->empty()) return kNoSector;
  if (record > (~std::uint64_t{0}) / RecordBytes(drive)) return kNoSector;
  return StreamSector(drive, *mft.runs, record * RecordBytes(drive));
}

std::int64_t ReadMftRecord(EngineHost* app, const LOGDRIVE_INFO& drive, const MftFileInfo& mft,
                           std::span<std::uint8_t> buffer, std::uint64_t record, RecordKind* kind,
                           std::vector<UnreadablePart>* unreadable) {
  const std::int64_t sector = MftRecordSector(app, drive, mft, record);
  if (sector == kNoSector || buffer.size() != RecordBytes(drive)) return kNoSector;
  // Through the runs, so that a record split between two runs (clusters
  // smaller than a record) is read from both.
  std::vector<UnreadablePart> bad;
  ReadStreamBytes(app, drive, *mft.runs, record * RecordBytes(drive), buffer, &bad);
  // Zeros standing in for a sector that could not be read would pass for a
  // record never used, or a torn one: neither is known.
  const RecordKind k = bad.empty() ? ClassifyRecord(app, buffer) : RecordKind::Unreadable;
  if (unreadable != nullptr) *unreadable = std::move(bad);
  if (kind != nullptr) *kind = k;
  if (k != RecordKind::Valid) return kNoSector;
  FixupRecord(app, buffer, kFixupStride, kFixupRepair);
  return sector;
}

std::int64_t ProbeMftRecord(EngineHost* app, const LOGDRIVE_INFO& drive, const MftFileInfo& mft,
                            std::uint64_t record) {
  std::vector<std::uint8_t> buffer(RecordBytes(drive));
  const std::int64_t sector = MftRecordSector(app, drive, mft, record);
  if (sector == kNoSector) return kNoSector;
  ReadStreamBytes(app, drive, *mft.runs, record * RecordBytes(drive), buffer);
  return IsValidMftRecord(app, buffer, kFixupStride) ? sector : kNoSector;
}

}  // namespace tsn::ntfs
