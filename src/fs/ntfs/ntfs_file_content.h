#pragma once
// The content of a found NTFS file: its unnamed $DATA read afresh from its
// MFT record (and the extension records its attribute list names), and the
// bytes that stream stands for, in file order: resident, plain, sparse or
// compressed.
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "core/entry_records.h"
#include "core/le_bytes.h"
#include "source/volume_source.h"

namespace tsn {

class EngineHost;
struct LOGDRIVE_INFO;

namespace ntfs {

class VolumeBitmap;

// The unnamed $DATA of one file as its records give it now.
struct FileStream {
  std::uint64_t record = 0;
  bool inUse = false;      // the record's in-use flag as read now
  bool found = false;      // an unnamed $DATA was met
  bool resident = false;
  std::vector<std::uint8_t> residentBytes;
  std::vector<DataRun> runs;  // every extent's, sorted by VCN
  std::uint64_t dataSize = 0;
  std::uint64_t initializedSize = 0;  // past it the stream reads as zeros
  std::uint64_t allocatedSize = 0;
  std::uint32_t compressionUnitClusters = 0;  // 0: not compressed
  bool encrypted = false;
  // File times from $STANDARD_INFORMATION, 100 ns since 1601; 0 when absent.
  std::uint64_t created = 0;
  std::uint64_t modified = 0;
  std::uint64_t accessed = 0;
  // Damage met while gathering, for the log: the copy may be wrong.
  std::vector<std::string> notes;
};

// Reads record `record` afresh (its update sequence checked) and gathers its
// unnamed $DATA, through its attribute list when it has one: every record
// the list names is read once, and only those whose base record is this one
// are taken. `fallbackSize` stands in for the size when the extent that
// carries it cannot be found. False, with *why, when the record no longer
// reads as a sound base file record.
bool ReadFileStream(EngineHost* app, const LOGDRIVE_INFO& drive, const MftFileInfo& mft,
                    std::uint64_t record, std::uint64_t fallbackSize, FileStream* stream,
                    std::string* why);

// How many of the stream's clusters the bitmap says are in use, of how many
// it owns on disk; those whose state could not be read are counted apart.
struct ClustersInUse {
  std::uint64_t inUse = 0;
  std::uint64_t unknown = 0;
  std::uint64_t owned = 0;
};
ClustersInUse StreamClustersInUse(const FileStream& stream, const VolumeBitmap& bitmap);

// Receives the stream's bytes in file order: either `data`, or (data empty)
// `zeros` bytes of zeros. Returns false to stop.
using StreamSink = std::function<bool(Bytes data, std::uint64_t zeros)>;

struct StreamRead {
  bool stopped = false;  // the sink asked to stop
  bool whole = true;     // every byte is the file's own
  std::vector<std::string> notes;  // why it is not, for the log
  // Bytes of the file (first and last, inclusive, as offsets in the file)
  // that could not be read, in order: zeros stand in their place. A
  // compressed unit that could not be read in full cannot be decompressed:
  // the whole unit is zeros and named here.
  std::vector<UnreadableRange> unreadable;
};

// Hands the stream's dataSize bytes to the sink: resident bytes as they
// are, runs read from the volume in pieces of at most scratch.size() bytes,
// sparse runs and bytes past the initialised size as zeros, compressed
// units decompressed. VCNs that no run maps, and sectors that could not be
// read, read as zeros and make the read not whole.
StreamRead ReadStreamContent(EngineHost* app, const LOGDRIVE_INFO& drive, const FileStream& stream,
                             std::span<std::uint8_t> scratch, const StreamSink& sink);

}  // namespace ntfs
}  // namespace tsn
