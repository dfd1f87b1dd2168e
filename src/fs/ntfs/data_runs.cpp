#include "fs/ntfs/data_runs.h"

#include <algorithm>

#include "fs/ntfs/ntfs_layout.h"
#include "fs/logdrive_info.h"
#include "source/read_sectors.h"

namespace tsn::ntfs {

std::int64_t ReadRunField(Bytes pairs, std::size_t offset, unsigned width) {
  if (width == 0 || width > 8 || !FitsIn(pairs, offset, width)) return 0;
  std::uint64_t v = 0;
  for (unsigned i = 0; i < width; ++i) v |= std::uint64_t{pairs[offset + i]} << (8 * i);
  if (width < 8 && (v >> (8 * width - 1)) & 1) v |= ~std::uint64_t{0} << (8 * width);
  return static_cast<std::int64_t>(v);
}

std::size_t DecodeRun(Bytes pairs, std::size_t offset, DataRun* run, bool* hasOffset) {
  if (!FitsIn(pairs, offset, 1)) return 0;
  const std::uint8_t header = pairs[offset];
  if (header == 0) return 0;
  const unsigned lengthWidth = header & 0x0F;
  const unsigned offsetWidth = header >> 4;
  const std::size_t size = 1 + lengthWidth + offsetWidth;
  if (lengthWidth > 8 || offsetWidth > 8 || !FitsIn(pairs, offset, size)) return 0;
  run->length = ReadRunField(pairs, offset + 1, lengthWidth);
  run->offsetDelta = ReadRunField(pairs, offset + 1 + lengthWidth, offsetWidth);
  *hasOffset = offsetWidth != 0;
  return size;
}

int IsValidRun(const DataRun& run, std::uint64_t clusterCount) {
  if (run.length <= 0 || run.startVcn < 0) return 0;
  if (run.lcn == kSparseLcn) return 1;
  if (run.lcn < 0) return 0;
  const auto lcn = static_cast<std::uint64_t>(run.lcn);
  const auto length = static_cast<std::uint64_t>(run.length);
  return lcn < clusterCount && length <= clusterCount - lcn ? 1 : 0;
}

int AppendRun(std::vector<DataRun>& runs, const DataRun& run, std::uint64_t clusterCount) {
  if (IsValidRun(run, clusterCount) == 0) return 0;
  runs.push_back(run);
  return 1;
}

RunDecode DecodeDataRuns(const LOGDRIVE_INFO& drive, Bytes attribute, std::vector<DataRun>& runs) {
  RunDecode result;
  const std::size_t start = LeU16(attribute, attr::kMappingPairs);
  if (start < attr::kNonResidentHeader || start >= attribute.size()) {
    result.refused = true;
    return result;
  }
  std::int64_t vcn = static_cast<std::int64_t>(LeU64(attribute, attr::kLowestVcn));
  if (vcn < 0) {
    result.refused = true;
    return result;
  }
  // Each attribute's pairs start from lcn 0; the delta of a pair counts from
  // the last run that had clusters, sparse runs in between do not move it.
  std::int64_t lcn = 0;
  std::size_t at = start;
  while (at < attribute.size()) {
    DataRun run;
    bool hasOffset = false;
    const std::size_t used = DecodeRun(attribute, at, &run, &hasOffset);
    if (used == 0) {
      // The terminating zero ends the list; a pair running off the end is damage.
      if (attribute[at] != 0) result.refused = true;
      return result;
    }
    at += used;
    run.startVcn = vcn;
    if (hasOffset) {
      if (__builtin_add_overflow(lcn, run.offsetDelta, &run.lcn)) run.lcn = -2;
      lcn = run.lcn;
    } else {
      run.lcn = kSparseLcn;
    }
    if (__builtin_add_overflow(vcn, run.length, &vcn) ||
        AppendRun(runs, run, drive.clusterCount) == 0) {
      result.refused = true;
      return result;
    }
    ++result.added;
  }
  result.refused = true;  // no terminating zero inside the attribute
  return result;
}

void SortRunsByVcn(std::vector<DataRun>& runs) {
  std::stable_sort(runs.begin(), runs.end(),
                   [](const DataRun& a, const DataRun& b) { return a.startVcn < b.startVcn; });
}

const DataRun* RunAt(std::span<const DataRun> runs, std::int64_t vcn) {
  auto it = std::upper_bound(runs.begin(), runs.end(), vcn,
                             [](std::int64_t v, const DataRun& r) { return v < r.startVcn; });
  if (it == runs.begin()) return nullptr;
  --it;
  if (vcn - it->startVcn < it->length) return &*it;
  return nullptr;
}

std::int64_t VcnEnd(std::span<const DataRun> runs) {
  std::int64_t end = 0;
  for (const DataRun& r : runs) end = std::max(end, r.startVcn + r.length);
  return end;
}

std::uint64_t HeldClusters(const LOGDRIVE_INFO& drive) {
  const std::uint64_t clusterBytes = drive.ClusterBytes();
  if (clusterBytes == 0) return 0;
  if (!drive.volume) return drive.clusterCount;
  return std::min(drive.clusterCount, (drive.volume->Size() + clusterBytes - 1) / clusterBytes);
}

namespace {

// The bytes of the stream that run `r` maps to clusters below
// `heldClusters`; none for a sparse run or one wholly past them.
StreamExtent HeldPart(const DataRun& r, std::uint64_t clusterBytes, std::uint64_t heldClusters) {
  if (r.lcn < 0 || r.length <= 0 || r.startVcn < 0 || static_cast<std::uint64_t>(r.lcn) >= heldClusters)
    return {};
  const std::uint64_t held =
      std::min(static_cast<std::uint64_t>(r.length), heldClusters - static_cast<std::uint64_t>(r.lcn));
  // A run after a huge sparse one may start past any byte offset; the
  // stream's size, a 64-bit count of bytes, never reaches it.
  StreamExtent e;
  if (__builtin_mul_overflow(static_cast<std::uint64_t>(r.startVcn), clusterBytes, &e.start)) return {};
  if (__builtin_mul_overflow(static_cast<std::uint64_t>(r.startVcn) + held, clusterBytes, &e.end))
    e.end = UINT64_MAX;
  return e;
}

}  // namespace

HeldExtents::HeldExtents(const LOGDRIVE_INFO& drive, std::span<const DataRun> runs)
    : runs_(runs),
      clusterBytes_(drive.ClusterBytes()),
      heldClusters_(HeldClusters(drive)) {}

StreamExtent HeldExtents::Next(std::uint64_t from) {
  // Sorted by start, the first run still ending past `from` starts first;
  // the runs before it end before any later `from` too.
  for (; next_ < runs_.size(); ++next_) {
    const StreamExtent e = HeldPart(runs_[next_], clusterBytes_, heldClusters_);
    if (e.start != e.end && e.end > from) return {std::max(e.start, from), e.end};
  }
  return {};
}

std::int64_t StreamSector(const LOGDRIVE_INFO& drive, std::span<const DataRun> runs,
                          std::uint64_t offset) {
  const std::uint64_t clusterBytes = drive.ClusterBytes();
  if (clusterBytes == 0) return kNoSector;
  const std::uint64_t vcn = offset / clusterBytes;
  if (vcn > static_cast<std::uint64_t>(INT64_MAX)) return kNoSector;
  const DataRun* run = RunAt(runs, static_cast<std::int64_t>(vcn));
  if (run == nullptr || run->lcn < 0) return kNoSector;
  // Valid runs lie inside the volume, so these products stay far below 2^63.
  const auto cluster = static_cast<std::uint64_t>(run->lcn) +
                       (vcn - static_cast<std::uint64_t>(run->startVcn));
  return static_cast<std::int64_t>(cluster * drive.sectorsPerCluster +
                                   (offset % clusterBytes) / drive.bytesPerSector);
}

std::string UnreadableText(const LOGDRIVE_INFO& drive, std::span<const UnreadablePart> parts) {
  if (parts.empty()) return {};
  const std::uint64_t base = drive.volume ? drive.volume->BaseOffset() : 0;
  std::string text;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const UnreadableRange& r = parts[i].onVolume;
    // Pieces of one read that meet on the source are one stretch.
    std::uint64_t last = r.last;
    while (i + 1 < parts.size() && parts[i + 1].onVolume.first == last + 1) last = parts[++i].onVolume.last;
    text += text.empty() ? RangeText(base + r.first, base + last)
                         : ", " + std::to_string(base + r.first) + "\u2013" + std::to_string(base + last);
  }
  return text + ": " + ReadErrorText(parts.front().onVolume.error);
}

int ReadStreamBytes(EngineHost* app, const LOGDRIVE_INFO& drive, std::span<const DataRun> runs,
                    std::uint64_t offset, std::span<std::uint8_t> out,
                    std::vector<UnreadablePart>* unreadable) {
  std::fill(out.begin(), out.end(), std::uint8_t{0});
  const std::uint64_t clusterBytes = drive.ClusterBytes();
  if (clusterBytes == 0 || offset % kSectorSize != 0 || out.size() % kSectorSize != 0) return 0;
  int whole = 1;
  std::size_t done = 0;
  while (done < out.size()) {
    const std::uint64_t at = offset + done;
    const std::uint64_t vcn = at / clusterBytes;
    const std::uint64_t within = at % clusterBytes;
    const DataRun* run =
        vcn <= static_cast<std::uint64_t>(INT64_MAX) ? RunAt(runs, static_cast<std::int64_t>(vcn)) : nullptr;
    if (run == nullptr) {
      // Unmapped: this cluster's share reads as zeros.
      whole = 0;
      done += static_cast<std::size_t>(std::min<std::uint64_t>(clusterBytes - within, out.size() - done));
      continue;
    }
    const std::uint64_t clustersLeft =
        static_cast<std::uint64_t>(run->length) - (vcn - static_cast<std::uint64_t>(run->startVcn));
    // Bounded by the run's clusters and by what is still wanted.
    std::uint64_t piece = clustersLeft > (out.size() - done) / clusterBytes + 1
                              ? out.size() - done
                              : clustersLeft * clusterBytes - within;
    piece = std::min<std::uint64_t>(piece, out.size() - done);
    const auto span = out.subspan(done, static_cast<std::size_t>(piece));
    if (run->lcn >= 0) {
      const std::uint64_t byte =
          (static_cast<std::uint64_t>(run->lcn) + vcn - static_cast<std::uint64_t>(run->startVcn)) * clusterBytes +
          within;
      if (ReadBytes(app, drive.volume.get(), byte, span) == 0) {
        whole = 0;
        if (unreadable != nullptr && drive.volume)
          for (const UnreadableRange& r : drive.volume->UnreadableIn(byte, span.size()))
            unreadable->push_back({at + (r.first - byte), r});
      }
    }
    done += span.size();
  }
  return whole;
}

void PrefetchStreamBytes(const LOGDRIVE_INFO& drive, std::span<const DataRun> runs, std::uint64_t offset,
                         std::uint64_t length) {
  const std::uint64_t clusterBytes = drive.ClusterBytes();
  if (clusterBytes == 0 || !drive.volume) return;
  std::uint64_t at = offset;
  const std::uint64_t end = offset + length < offset ? UINT64_MAX : offset + length;
  // One hint a run; bounded by the runs, each met at most once.
  for (std::size_t guard = 0; at < end && guard <= runs.size(); ++guard) {
    const std::uint64_t vcn = at / clusterBytes;
    if (vcn > static_cast<std::uint64_t>(INT64_MAX)) return;
    const DataRun* run = RunAt(runs, static_cast<std::int64_t>(vcn));
    if (run == nullptr) return;
    std::uint64_t runEnd = 0;
    if (__builtin_mul_overflow(static_cast<std::uint64_t>(run->startVcn + run->length), clusterBytes, &runEnd))
      runEnd = UINT64_MAX;
    const std::uint64_t pieceEnd = std::min(end, runEnd);
    if (run->lcn >= 0)
      drive.volume->Prefetch(
          (static_cast<std::uint64_t>(run->lcn) + vcn - static_cast<std::uint64_t>(run->startVcn)) * clusterBytes +
              at % clusterBytes,
          pieceEnd - at);
    at = pieceEnd;
  }
}

}  // namespace tsn::ntfs
