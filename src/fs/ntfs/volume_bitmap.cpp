#include "core/engine_host.h"
#include "fs/ntfs/volume_bitmap.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cinttypes>
#include <cstring>
#include <new>
#include <span>

#include "fs/ntfs/attributes.h"
#include "fs/ntfs/data_runs.h"
#include "fs/ntfs/mft_record.h"
#include "fs/logdrive_info.h"

namespace tsn::ntfs {

namespace {

// The words were filled with the volume's little-endian bytes.
void ToHostOrder(std::vector<std::uint64_t>& words) {
  if constexpr (std::endian::native != std::endian::little)
    for (auto& w : words) w = LeU64(Bytes(reinterpret_cast<std::uint8_t*>(&w), 8), 0);
}

// A bitmap's bytes as 64-bit words, with one spare zero word so a count up
// to the last cluster never reads past the end. Copied whole rather than
// byte by byte: a large volume's bitmap is tens of megabytes, read on every
// drive list and every scan.
std::vector<std::uint64_t> PackWords(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::uint64_t> words((bytes.size() + 7) / 8 + 1, 0);
  if (!bytes.empty()) std::memcpy(words.data(), bytes.data(), bytes.size());
  ToHostOrder(words);
  return words;
}

}  // namespace

VolumeBitmap::VolumeBitmap(const std::vector<std::uint8_t>& bytes, std::uint64_t clusters)
    : VolumeBitmap(PackWords(bytes), bytes.size(), clusters) {}

VolumeBitmap::VolumeBitmap(std::vector<std::uint64_t> words, std::uint64_t byteCount,
                           std::uint64_t clusters)
    : words_(std::move(words)), byteCount_(byteCount) {
  clusters_ = std::min<std::uint64_t>(clusters, byteCount_ * 8);
  rank_.assign(words_.size() / 8 + 2, 0);
  for (std::size_t b = 0; b + 1 < rank_.size(); ++b) {
    std::uint64_t n = 0;
    for (std::size_t w = b * 8; w < std::min(words_.size(), b * 8 + 8); ++w)
      n += static_cast<std::uint64_t>(std::popcount(words_[w]));
    rank_[b + 1] = rank_[b] + n;
  }
}

bool VolumeBitmap::Allocated(std::uint64_t cluster) const {
  return cluster < clusters_ && ((words_[cluster / 64] >> (cluster % 64)) & 1) != 0;
}

std::uint64_t VolumeBitmap::SetBelow(std::uint64_t cluster) const {
  const std::uint64_t w = cluster / 64, bit = cluster % 64;
  std::uint64_t n = rank_[w / 8];
  for (std::uint64_t i = w / 8 * 8; i < w; ++i) n += static_cast<std::uint64_t>(std::popcount(words_[i]));
  if (bit != 0) n += static_cast<std::uint64_t>(std::popcount(words_[w] & ((std::uint64_t{1} << bit) - 1)));
  return n;
}

bool VolumeBitmap::AnyAllocated(std::uint64_t first, std::uint64_t count) const {
  return AllocatedIn(first, count) > 0;
}

std::uint64_t VolumeBitmap::AllocatedIn(std::uint64_t first, std::uint64_t count) const {
  if (first >= clusters_ || count == 0) return 0;
  const std::uint64_t end = count > clusters_ - first ? clusters_ : first + count;
  return SetBelow(end) - SetBelow(first);
}

std::uint64_t VolumeBitmap::UnknownIn(std::uint64_t first, std::uint64_t count) const {
  std::uint64_t n = 0;
  const std::uint64_t end = count > UINT64_MAX - first ? UINT64_MAX : first + count;
  for (const auto& [from, to] : unknown_)
    if (from < end && to > first) n += std::min(to, end) - std::max(from, first);
  return n;
}

namespace {

// The unnamed $DATA of a system record: its runs and size, or its resident value.
struct SystemStream {
  std::vector<DataRun> runs;
  std::vector<std::uint8_t> resident;
  std::uint64_t size = 0;
  bool found = false;
};

// False, with *why ("could not be read (...)" or "is not a sound file
// record"), when the record cannot be used.
bool ReadSystemRecord(EngineHost* app, LOGDRIVE_INFO* drive, const MftFileInfo& mft,
                      std::uint64_t number, std::vector<std::uint8_t>& record,
                      std::string* why = nullptr) {
  RecordKind kind = RecordKind::Valid;
  std::vector<UnreadablePart> unreadable;
  if (ReadMftRecord(app, *drive, mft, record, number, &kind, &unreadable) != kNoSector) return true;
  if (why != nullptr)
    *why = kind == RecordKind::Unreadable ? "could not be read (" + UnreadableText(*drive, unreadable) + ")"
                                          : std::string("is not a sound file record");
  return false;
}

}  // namespace

bool ReadVolumeBitmap(EngineHost* app, LOGDRIVE_INFO* drive, const MftFileInfo& mft, VolumeBitmap* out) try {
  std::vector<std::uint8_t> record(RecordBytes(*drive));
  std::string why;
  if (!ReadSystemRecord(app, drive, mft, kBitmapRecord, record, &why)) {
    LogMessage(app, kError, "%s the $Bitmap record (record 6) %s, so which clusters are in use is not known.",
               drive->driveName.c_str(), why.c_str());
    return false;
  }
  SystemStream s;
  WalkAttributes(Bytes(record.data(), record.size()), [&](const Attribute& a) {
    if (a.type != kAttrData || a.IsNamed()) return true;
    s.found = true;
    if (!a.nonResident) {
      const Bytes v = a.Value();
      s.resident.assign(v.begin(), v.end());
      s.size = v.size();
      return false;
    }
    if (a.LowestVcn() == 0) s.size = a.DataSize();
    DecodeDataRuns(*drive, a.bytes, s.runs);
    return true;
  });
  SortRunsByVcn(s.runs);
  // The bitmap covers every cluster; more bytes than that are its padding,
  // and a damaged size must not make us read the whole volume. Nor need it
  // describe clusters the source does not hold: a boot sector claiming a
  // volume of petabytes on a small image, with a $Bitmap size to match,
  // would otherwise have gigabytes allocated.
  const std::uint64_t needed = (drive->clusterCount + 7) / 8;
  const std::uint64_t held = (HeldClusters(*drive) + 7) / 8;
  const std::uint64_t size = std::min({s.size, needed, held});
  // Its own size is rounded up, at most to whole clusters of the bitmap.
  const std::uint64_t clusterBytes = drive->ClusterBytes();
  if (s.size > needed && s.size - needed >= clusterBytes)
    LogMessage(app, kError, "%s $Bitmap claims %" PRIu64 " bytes, more than the volume's %" PRIu64
               " clusters need; only its first %" PRIu64 " bytes are read.",
               drive->driveName.c_str(), s.size, drive->clusterCount, size);
  if (!s.found || size == 0) {
    LogMessage(app, kError, "%s $Bitmap holds no data, so which clusters are in use is not known.",
               drive->driveName.c_str());
    return false;
  }
  if (!s.resident.empty()) {
    const auto take = static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(size, s.resident.size()));
    *out = VolumeBitmap(std::vector<std::uint8_t>(s.resident.begin(), s.resident.begin() + take),
                        drive->clusterCount);
  } else {
    // Read straight into the words: no byte copy to pack afterwards.
    const std::uint64_t sectorBytes = (size + kSectorSize - 1) / kSectorSize * kSectorSize;
    std::vector<std::uint64_t> words(static_cast<std::size_t>(sectorBytes / 8 + 1));
    const std::span<std::uint8_t> into(reinterpret_cast<std::uint8_t*>(words.data()),
                                       static_cast<std::size_t>(sectorBytes));
    std::vector<UnreadablePart> unreadable;
    if (ReadStreamBytes(app, *drive, s.runs, 0, into, &unreadable) == 0 && unreadable.empty())
      LogMessage(app, kError, "%s part of $Bitmap could not be read; its clusters count as free.",
                 drive->driveName.c_str());
    // Bytes that could not be read say nothing of their clusters; taken as
    // in use, none of them is thought free to recover from.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> unknown;
    std::uint64_t unreadBytes = 0;
    for (const UnreadablePart& p : unreadable) {
      const std::uint64_t from = std::min(p.streamOffset, size);
      const std::uint64_t to = std::min(p.streamOffset + p.onVolume.Bytes(), size);
      if (from >= to) continue;
      unreadBytes += to - from;
      std::fill(into.begin() + static_cast<std::ptrdiff_t>(from), into.begin() + static_cast<std::ptrdiff_t>(to),
                std::uint8_t{0xFF});
      const std::uint64_t first = std::min(from * 8, drive->clusterCount), end = std::min(to * 8, drive->clusterCount);
      if (first >= end) continue;
      if (!unknown.empty() && unknown.back().second == first) unknown.back().second = end;
      else unknown.emplace_back(first, end);
    }
    // The padding past the size is not the volume's: it must count as free.
    std::fill(into.begin() + static_cast<std::ptrdiff_t>(size), into.end(), std::uint8_t{0});
    ToHostOrder(words);
    *out = VolumeBitmap(std::move(words), size, drive->clusterCount);
    for (const auto& [first, end] : unknown) out->unknownClusters_ += end - first;
    out->unknown_ = std::move(unknown);
    if (unreadBytes != 0)
      LogMessage(app, kError, "%s %" PRIu64 " bytes of $Bitmap could not be read (%s), so whether the %" PRIu64
                 " clusters they describe are in use is not known; they count as in use: no deleted "
                 "file in them is judged recoverable, and the free share leaves them out.",
                 drive->driveName.c_str(), unreadBytes, UnreadableText(*drive, unreadable).c_str(),
                 out->unknownClusters_);
  }
  if (size < needed)
    LogMessage(app, kError, "%s $Bitmap describes %" PRIu64 " clusters of the volume's %" PRIu64
               "; the rest are not judged.",
               drive->driveName.c_str(), size * 8, drive->clusterCount);
  return true;
} catch (const std::bad_alloc&) {
  // What is allocated is bounded by the volume and by its source, but a
  // large volume's bitmap may still not fit in what memory is left.
  *out = VolumeBitmap();
  LogMessage(app, kError, "%s there is not enough memory to hold its bitmap of %" PRIu64
             " clusters, so the volume cannot be read.",
             drive->driveName.c_str(), std::min(drive->clusterCount, HeldClusters(*drive)));
  return false;
}

std::string ReadVolumeLabel(EngineHost* app, LOGDRIVE_INFO* drive, const MftFileInfo& mft) {
  std::vector<std::uint8_t> record(RecordBytes(*drive));
  if (!ReadSystemRecord(app, drive, mft, kVolumeRecord, record)) return {};
  std::string label;
  WalkAttributes(Bytes(record.data(), record.size()), [&](const Attribute& a) {
    if (a.type != kAttrVolumeName || a.nonResident) return true;
    const Bytes v = a.Value();
    label = DecodeUtf16(v, 0, v.size() / 2);
    return false;
  });
  return label;
}

}  // namespace tsn::ntfs
