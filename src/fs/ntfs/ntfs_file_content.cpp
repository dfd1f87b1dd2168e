#include "fs/ntfs/ntfs_file_content.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <limits>

#include "fs/ntfs/attribute_list.h"
#include "fs/ntfs/attributes.h"
#include "fs/ntfs/data_runs.h"
#include "fs/ntfs/lznt1.h"
#include "fs/ntfs/mft_record.h"
#include "fs/ntfs/volume_bitmap.h"
#include "fs/logdrive_info.h"
#include "source/read_sectors.h"

namespace tsn::ntfs {

namespace {

// Far beyond any real file: a list that names more extension records, or
// extents that hold more runs, is damage, and must not cost unbounded time
// or memory.
constexpr std::size_t kMaxExtensionRecords = 65536;
constexpr std::size_t kMaxStreamRuns = std::size_t{1} << 22;
// NTFS writes units of 16 clusters; anything far past that is damage.
constexpr unsigned kMaxCompressionUnitLog = 8;


std::string Record(std::uint64_t n) { return "MFT record " + std::to_string(n); }

void Note(FileStream* s, const std::string& text) {
  if (std::find(s->notes.begin(), s->notes.end(), text) == s->notes.end()) s->notes.push_back(text);
}

struct Gatherer {
  const LOGDRIVE_INFO& drive;
  FileStream* s;
  bool sizesSet = false;
  bool compressedFlag = false;
  unsigned compressionLog = 0;

  void TakeStandardInformation(const Attribute& a) {
    const Bytes v = a.Value();
    if (v.size() < stdinfo::kMinimumLength) return;
    s->created = LeU64(v, stdinfo::kCreated);
    s->modified = LeU64(v, stdinfo::kModified);
    s->accessed = LeU64(v, stdinfo::kAccessed);
    if (LeU32(v, stdinfo::kFileAttributes) & stdinfo::kAttributeEncrypted) s->encrypted = true;
  }

  void TakeData(const Attribute& a, std::uint64_t n) {
    s->found = true;
    const std::uint16_t flags = LeU16(a.bytes, attr::kFlags);
    if (flags & attr::kFlagEncrypted) s->encrypted = true;
    if (!a.nonResident) {
      if (!a.ValueFits()) Note(s, "the resident data of " + Record(n) + " runs past its attribute");
      const Bytes v = a.Value();
      s->resident = true;
      s->residentBytes.assign(v.begin(), v.end());
      s->dataSize = s->initializedSize = s->allocatedSize = v.size();
      sizesSet = true;
      return;
    }
    // The first extent carries the sizes and the compression of the whole stream.
    if (a.LowestVcn() == 0) {
      s->allocatedSize = LeU64(a.bytes, attr::kAllocatedSize);
      s->dataSize = a.DataSize();
      s->initializedSize = LeU64(a.bytes, attr::kInitializedSize);
      compressedFlag = (flags & attr::kFlagCompressionMask) != 0;
      compressionLog = LeU8(a.bytes, attr::kCompressionUnit);
      sizesSet = true;
    }
    if (DecodeDataRuns(drive, a.bytes, s->runs).refused)
      Note(s, "a data run in " + Record(n) + " lies outside the volume or is malformed");
  }

  // The record's own attributes that make up the file's content.
  void TakeRecord(Bytes record, std::uint64_t n, bool base) {
    const bool whole = WalkAttributes(record, [&](const Attribute& a) {
      if (a.type == kAttrStandardInformation && base && !a.nonResident) TakeStandardInformation(a);
      if (a.type == kAttrData && !a.IsNamed()) TakeData(a, n);
      return s->runs.size() <= kMaxStreamRuns;
    });
    if (!whole) Note(s, "an attribute of " + Record(n) + " runs past the end of the record");
  }
};

}  // namespace

bool ReadFileStream(EngineHost* app, const LOGDRIVE_INFO& drive, const MftFileInfo& mft,
                    std::uint64_t record, std::uint64_t fallbackSize, FileStream* stream,
                    std::string* why) {
  *stream = FileStream{};
  stream->record = record;
  const std::uint64_t clusterBytes = drive.ClusterBytes();
  if (clusterBytes == 0) {
    *why = "the volume gives no cluster size";
    return false;
  }
  std::vector<std::uint8_t> buffer(RecordBytes(drive));
  const Bytes base(buffer.data(), buffer.size());
  RecordKind kind = RecordKind::Empty;
  std::vector<UnreadablePart> unreadable;
  if (ReadMftRecord(app, drive, mft, buffer, record, &kind, &unreadable) == kNoSector) {
    *why = Record(record) + (kind == RecordKind::Unreadable ? " could not be read (" + UnreadableText(drive, unreadable) + ")"
                             : kind == RecordKind::Torn     ? " no longer passes its update-sequence check"
                                                            : " no longer reads as a file record");
    return false;
  }
  if (RecordBase(base) != 0) {
    *why = Record(record) + " is now an extension record of record " + std::to_string(RecordBase(base));
    return false;
  }
  if (RecordIsDirectory(base)) {
    *why = Record(record) + " now holds a folder";
    return false;
  }
  stream->inUse = RecordInUse(base);
  Gatherer g{drive, stream};
  g.TakeRecord(base, record, true);
  if (HasAttributeList(app, base) == 1) {
    bool damaged = false;
    const std::vector<ListEntry> entries = ReadAttributeList(app, drive, base, &damaged, &unreadable);
    if (damaged) Note(stream, "the attribute list of " + Record(record) + " is damaged");
    if (!unreadable.empty())
      Note(stream, "part of the attribute list of " + Record(record) + " could not be read (" +
                       UnreadableText(drive, unreadable) + ")");
    std::vector<std::uint8_t> extension(RecordBytes(drive));
    std::size_t taken = 0;
    for (const std::uint64_t listed : ListedRecords(entries, kAttrData)) {
      if (listed == record) continue;  // its own attributes are taken already
      if (++taken > kMaxExtensionRecords || stream->runs.size() > kMaxStreamRuns) {
        Note(stream, "its attribute list names more extension records than any file has");
        break;
      }
      unreadable.clear();
      if (!ReadListedRecord(app, drive, mft, record, listed, extension, &unreadable)) {
        Note(stream, "its attribute list names " + Record(listed) +
                         (unreadable.empty() ? std::string(", which cannot be read or belongs to another file")
                                             : ", which could not be read (" + UnreadableText(drive, unreadable) + ")"));
        continue;
      }
      g.TakeRecord(Bytes(extension.data(), extension.size()), listed, false);
    }
  }
  if (stream->runs.size() > kMaxStreamRuns) {
    Note(stream, "its extents hold more data runs than any file has; the rest are left out");
    stream->runs.resize(kMaxStreamRuns);
  }
  SortRunsByVcn(stream->runs);
  if (!stream->found) {
    *why = Record(record) + " holds no data attribute";
    return false;
  }
  if (stream->resident) return true;
  const std::uint64_t mapped = static_cast<std::uint64_t>(VcnEnd(stream->runs));
  const std::uint64_t mappedBytes =
      mapped > std::numeric_limits<std::uint64_t>::max() / clusterBytes ? std::numeric_limits<std::uint64_t>::max()
                                                                        : mapped * clusterBytes;
  if (!g.sizesSet) {
    Note(stream, "the first extent of its data, which gives its size, is missing");
    stream->dataSize = stream->initializedSize = fallbackSize;
    stream->allocatedSize = std::max(fallbackSize, mappedBytes);
  }
  if (g.compressedFlag) {
    if (g.compressionLog == 0 || g.compressionLog > kMaxCompressionUnitLog) {
      *why = "it is marked compressed, but its compression unit of " +
             (g.compressionLog == 0 ? std::string("no") : "2^" + std::to_string(g.compressionLog)) +
             " clusters is not one NTFS writes";
      return false;
    }
    stream->compressionUnitClusters = 1u << g.compressionLog;
  }
  if (stream->dataSize > stream->allocatedSize) {
    Note(stream, "its size of " + std::to_string(stream->dataSize) + " bytes is more than the " +
                     std::to_string(stream->allocatedSize) + " allocated to it; only those are copied");
    stream->dataSize = stream->allocatedSize;
  }
  // A size past everything the runs map and past the whole volume is not a
  // file of this volume, even a sparse one: its runs would map it.
  const std::uint64_t volumeBytes = drive.clusterCount > std::numeric_limits<std::uint64_t>::max() / clusterBytes
                                        ? std::numeric_limits<std::uint64_t>::max()
                                        : drive.clusterCount * clusterBytes;
  if (stream->dataSize > mappedBytes && stream->dataSize - mappedBytes > volumeBytes) {
    Note(stream, "its size of " + std::to_string(stream->dataSize) +
                     " bytes lies far past what its runs map; only the mapped part is copied");
    stream->dataSize = mappedBytes;
  }
  stream->initializedSize = std::min(stream->initializedSize, stream->dataSize);
  return true;
}

ClustersInUse StreamClustersInUse(const FileStream& stream, const VolumeBitmap& bitmap) {
  ClustersInUse c;
  for (const DataRun& r : stream.runs) {
    if (r.lcn < 0 || r.length <= 0) continue;
    const auto lcn = static_cast<std::uint64_t>(r.lcn), length = static_cast<std::uint64_t>(r.length);
    c.owned += length;
    // Clusters of unknown state are set in the bitmap, as in use.
    const std::uint64_t unknown = bitmap.UnknownIn(lcn, length);
    c.unknown += unknown;
    c.inUse += bitmap.AllocatedIn(lcn, length) - unknown;
  }
  return c;
}

namespace {

class ContentReader {
 public:
  ContentReader(EngineHost* app, const LOGDRIVE_INFO& drive, const FileStream& s,
                std::span<std::uint8_t> scratch, const StreamSink& sink)
      : app_(app), drive_(drive), s_(s), scratch_(scratch), sink_(sink), clusterBytes_(drive.ClusterBytes()) {}

  StreamRead Run() {
    if (s_.resident) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(s_.dataSize, s_.residentBytes.size()));
      if (n > 0) Emit(Bytes(s_.residentBytes.data(), n));
    } else if (clusterBytes_ == 0 || scratch_.size() < kSectorSize) {
      Incomplete("it cannot be read with no cluster size or buffer");
    } else if (s_.compressionUnitClusters != 0) {
      ReadCompressed();
    } else {
      ReadPlain();
    }
    if (holeBytes_ > 0)
      Incomplete(std::to_string(holeBytes_) +
                 " bytes of it lie where none of its data runs reach (a lost extent); they are written as zeros");
    if (badChunks_ > 0)
      Incomplete(std::to_string(badChunks_) + " compressed chunks of it are damaged (the first in the unit at byte " +
                 std::to_string(firstBadUnit_) + "); they are written as zeros");
    if (!result_.unreadable.empty()) {
      std::uint64_t bytes = 0;
      for (const UnreadableRange& r : result_.unreadable) bytes += r.Bytes();
      Incomplete(std::to_string(bytes) + " bytes of it could not be read, in " +
                 std::to_string(result_.unreadable.size()) + (result_.unreadable.size() == 1 ? " place" : " places") +
                 "; they are written as zeros");
    }
    if (unreadUnits_ > 0)
      Incomplete(std::to_string(unreadUnits_) + " of its compressed units could not be read in full and so "
                 "cannot be decompressed; each is written as zeros");
    return result_;
  }

 private:
  bool Emit(Bytes data) {
    if (result_.stopped || sink_(data, 0)) return !result_.stopped;
    result_.stopped = true;
    return false;
  }
  bool Zeros(std::uint64_t n) {
    if (n == 0 || result_.stopped) return !result_.stopped;
    if (!sink_({}, n)) result_.stopped = true;
    return !result_.stopped;
  }
  void Incomplete(const std::string& why) {
    result_.whole = false;
    result_.notes.push_back(why);
  }
  std::uint64_t VcnByte(std::int64_t vcn) const {
    const auto v = static_cast<std::uint64_t>(vcn);
    return v > std::numeric_limits<std::uint64_t>::max() / clusterBytes_ ? std::numeric_limits<std::uint64_t>::max()
                                                                         : v * clusterBytes_;
  }
  // Where the next run at or after vcn starts, as a byte of the stream.
  std::uint64_t NextRunByte(std::int64_t vcn) const {
    const auto it = std::upper_bound(s_.runs.begin(), s_.runs.end(), vcn,
                                     [](std::int64_t v, const DataRun& r) { return v < r.startVcn; });
    return it == s_.runs.end() ? std::numeric_limits<std::uint64_t>::max() : VcnByte(it->startVcn);
  }
  // Reads bytes [within, within + out.size()) of the run from cluster vcn on.
  // Returns the bytes of `out` (as offsets in it) that could not be read.
  std::vector<UnreadableRange> ReadFromRun(const DataRun& run, std::uint64_t vcn, std::uint64_t within,
                                           std::span<std::uint8_t> out) {
    // Valid runs lie inside the volume, so the offset stays far below 2^64.
    const std::uint64_t at =
        (static_cast<std::uint64_t>(run.lcn) + vcn - static_cast<std::uint64_t>(run.startVcn)) * clusterBytes_ +
        within;
    std::vector<UnreadableRange> bad;
    if (ReadBytes(app_, drive_.volume.get(), at, out) == 0 && drive_.volume)
      for (const UnreadableRange& r : drive_.volume->UnreadableIn(at, out.size()))
        bad.push_back({r.first - at, r.last - at, r.error});
    return bad;
  }
  // Bytes [first, last] of the file could not be read.
  void Unreadable(std::uint64_t first, std::uint64_t last, int error) {
    std::vector<UnreadableRange>& u = result_.unreadable;
    if (!u.empty() && u.back().last + 1 == first && u.back().error == error) u.back().last = last;
    else u.push_back({first, last, error});
  }
  // The unreadable parts of a piece read for file bytes [pos, pos + n), as
  // offsets in the piece, cut to it.
  void UnreadableIn(std::uint64_t pos, std::uint64_t n, const std::vector<UnreadableRange>& bad) {
    for (const UnreadableRange& r : bad)
      if (r.first < n) Unreadable(pos + r.first, pos + std::min(r.last, n - 1), r.error);
  }

  void ReadPlain() {
    const std::uint64_t limit = s_.dataSize, init = s_.initializedSize;
    // Pieces of whole sectors that fit the buffer.
    const std::uint64_t piece = scratch_.size() / kSectorSize * kSectorSize;
    std::uint64_t pos = 0;
    while (pos < limit && !result_.stopped) {
      if (pos >= init) {
        Zeros(limit - pos);
        return;
      }
      const std::uint64_t vcn = pos / clusterBytes_, within = pos % clusterBytes_;
      const DataRun* run = RunAt(s_.runs, static_cast<std::int64_t>(vcn));
      if (run == nullptr) {
        const std::uint64_t end = std::min(NextRunByte(static_cast<std::int64_t>(vcn)), limit);
        holeBytes_ += std::min(end, init) - pos;
        Zeros(end - pos);
        pos = end;
        continue;
      }
      const std::uint64_t runEnd = std::min(VcnByte(run->startVcn + run->length), limit);
      if (run->lcn < 0) {  // sparse: no clusters, zeros
        Zeros(runEnd - pos);
        pos = runEnd;
        continue;
      }
      const std::uint64_t n = std::min({runEnd, init, pos + std::min(piece, limit - pos)}) - pos;
      const auto span = scratch_.first(static_cast<std::size_t>((n + kSectorSize - 1) / kSectorSize * kSectorSize));
      UnreadableIn(pos, n, ReadFromRun(*run, vcn, within, span));
      Emit(Bytes(span.data(), static_cast<std::size_t>(n)));
      pos += n;
    }
  }

  // Compression works in units of a fixed number of clusters. A unit whose
  // clusters are all on disk is stored as it is; one that ends in sparse
  // clusters holds its LZNT1 form in the clusters before them; one wholly
  // sparse is zeros.
  void ReadCompressed() {
    const std::uint64_t unitClusters = s_.compressionUnitClusters;
    const std::uint64_t unitBytes = unitClusters * clusterBytes_;
    if (unitBytes > scratch_.size()) {
      Incomplete("its compression unit of " + std::to_string(unitBytes) + " bytes is larger than any NTFS writes");
      return;
    }
    packed_.resize(static_cast<std::size_t>(unitBytes));
    const std::uint64_t limit = s_.dataSize, init = s_.initializedSize;
    std::uint64_t pos = 0;
    while (pos < limit && !result_.stopped) {
      if (pos >= init) {
        Zeros(limit - pos);
        return;
      }
      const std::uint64_t first = pos / clusterBytes_;
      // Whole units inside one sparse run, or where no run reaches, go in
      // one step, however many.
      const DataRun* at = RunAt(s_.runs, static_cast<std::int64_t>(first));
      if (at == nullptr || at->lcn < 0) {
        const std::uint64_t next = at != nullptr ? static_cast<std::uint64_t>(at->startVcn + at->length)
                                                 : NextRunByte(static_cast<std::int64_t>(first)) / clusterBytes_;
        const std::uint64_t units = (next - first) / unitClusters;
        if (units > 0) {
          const std::uint64_t end = units > (limit - pos) / unitBytes ? limit : pos + units * unitBytes;
          if (at == nullptr) holeBytes_ += std::min(end, init) - pos;
          Zeros(end - pos);
          pos = end;
          continue;
        }
      }
      const std::uint64_t n = std::min(unitBytes, limit - pos);
      const std::uint64_t wanted = std::min(pos + n, init);  // bytes below it must come from disk
      std::uint64_t onDisk = 0;
      std::vector<UnreadableRange> bad;  // as offsets in packed_
      for (std::uint64_t v = first; v < first + unitClusters;) {
        const DataRun* run = RunAt(s_.runs, static_cast<std::int64_t>(v));
        if (run == nullptr) {
          const std::uint64_t next = std::min(NextRunByte(static_cast<std::int64_t>(v)) / clusterBytes_, first + unitClusters);
          const std::uint64_t from = std::max(v * clusterBytes_, pos), to = std::min(next * clusterBytes_, wanted);
          if (to > from) holeBytes_ += to - from;
          v = next;
          continue;
        }
        const std::uint64_t end = std::min(static_cast<std::uint64_t>(run->startVcn + run->length), first + unitClusters);
        if (run->lcn >= 0) {
          const std::uint64_t packedAt = onDisk * clusterBytes_;
          for (const UnreadableRange& r :
               ReadFromRun(*run, v, 0,
                           std::span(packed_).subspan(static_cast<std::size_t>(packedAt),
                                                      static_cast<std::size_t>((end - v) * clusterBytes_))))
            bad.push_back({packedAt + r.first, packedAt + r.last, r.error});
          onDisk += end - v;
        }
        v = end;
      }
      // The last unit of a stream may be cut short by its size: stored as
      // it is, it takes just the clusters that its bytes need.
      const std::uint64_t needed = (n + clusterBytes_ - 1) / clusterBytes_;
      std::span<std::uint8_t> unit;
      if (onDisk >= needed) {
        // Stored as it is: what could not be read costs only itself.
        unit = std::span(packed_);
        UnreadableIn(pos, wanted - pos, bad);
      } else if (!bad.empty()) {
        // LZNT1 cannot be decoded past a gap: the whole unit is lost.
        ++unreadUnits_;
        Unreadable(pos, wanted - 1, bad.front().error);
      } else if (onDisk > 0) {
        unit = scratch_.first(static_cast<std::size_t>(unitBytes));
        const Lznt1Result r =
            DecompressLznt1(Bytes(packed_.data(), static_cast<std::size_t>(onDisk * clusterBytes_)), unit);
        if (r.badChunks > 0 && badChunks_ == 0) firstBadUnit_ = pos;
        badChunks_ += r.badChunks;
      }
      if (unit.empty()) {
        Zeros(n);
      } else {
        if (init < pos + n)
          std::fill(unit.begin() + static_cast<std::ptrdiff_t>(init - pos), unit.end(), std::uint8_t{0});
        Emit(Bytes(unit.data(), static_cast<std::size_t>(n)));
      }
      pos += n;
    }
  }

  EngineHost* app_;
  const LOGDRIVE_INFO& drive_;
  const FileStream& s_;
  std::span<std::uint8_t> scratch_;
  const StreamSink& sink_;
  const std::uint64_t clusterBytes_;
  std::vector<std::uint8_t> packed_;
  StreamRead result_;
  std::uint64_t holeBytes_ = 0;
  std::uint64_t badChunks_ = 0;
  std::uint64_t firstBadUnit_ = 0;
  std::uint64_t unreadUnits_ = 0;
};

}  // namespace

StreamRead ReadStreamContent(EngineHost* app, const LOGDRIVE_INFO& drive, const FileStream& stream,
                             std::span<std::uint8_t> scratch, const StreamSink& sink) {
  return ContentReader(app, drive, stream, scratch, sink).Run();
}

}  // namespace tsn::ntfs
