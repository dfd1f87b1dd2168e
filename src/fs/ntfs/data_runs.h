#pragma once
// Mapping pairs: the run lists of non-resident attributes, decoded into
// DataRuns, and reads of the bytes that a run list maps.
#include <cstdint>
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

// The lcn of a sparse run: clusters that hold no data and read as zeros.
constexpr std::int64_t kSparseLcn = -1;

// A little-endian signed field of `width` bytes (1 to 8), sign-extended.
// Width 0 gives 0. Offsets of runs on volumes of more than 2^31 clusters
// take five bytes or more, so all eight widths are read.
std::int64_t ReadRunField(Bytes pairs, std::size_t offset, unsigned width);

// Decodes the mapping pair at `offset` into its length and lcn delta.
// Returns the bytes it takes (0 for the terminating zero byte or a pair that
// does not fit); *hasOffset is false for a sparse pair.
std::size_t DecodeRun(Bytes pairs, std::size_t offset, DataRun* run, bool* hasOffset);

// A run lies on the volume: a positive length, and either sparse or wholly
// inside clusters [0, clusterCount).
int IsValidRun(const DataRun& run, std::uint64_t clusterCount);

// Appends the run when it is valid; 0 when it is refused.
int AppendRun(std::vector<DataRun>& runs, const DataRun& run, std::uint64_t clusterCount);

struct RunDecode {
  int added = 0;
  bool refused = false;  // a run outside the volume, or a malformed pair, ended the list
};

// Decodes the mapping pairs of one non-resident attribute (its whole bytes)
// and appends the runs. The first run starts at the attribute's own lowest
// VCN, so the extents of an attribute split over several records line up.
RunDecode DecodeDataRuns(const LOGDRIVE_INFO& drive, Bytes attribute, std::vector<DataRun>& runs);

// Sorts runs by startVcn (extents may come in any order).
void SortRunsByVcn(std::vector<DataRun>& runs);

// The run that holds virtual cluster `vcn`, or null. Runs sorted by startVcn.
const DataRun* RunAt(std::span<const DataRun> runs, std::int64_t vcn);

// The first VCN past the last run.
std::int64_t VcnEnd(std::span<const DataRun> runs);

// Bytes of a stream that could not be read: where they start in the stream,
// and where they lie in the volume's source, with the cause.
struct UnreadablePart {
  std::uint64_t streamOffset = 0;
  UnreadableRange onVolume;
};

// "bytes 40960–41471: Input/output error": where the parts lie in the image
// file or device (as the scan's summary of unreadable areas names them), and
// the cause of the first.
std::string UnreadableText(const LOGDRIVE_INFO& drive, std::span<const UnreadablePart> parts);

// Reads out.size() bytes at byte `offset` of the stream that `runs` map
// (both multiples of 512). Sparse parts read as zeros. Returns 1 when every
// byte was mapped and read; 0 otherwise, with the unmapped and unreadable
// parts zero. `unreadable`, when given, receives the parts that lie on the
// volume but could not be read, as against those no run maps.
int ReadStreamBytes(EngineHost* app, const LOGDRIVE_INFO& drive, std::span<const DataRun> runs,
                    std::uint64_t offset, std::span<std::uint8_t> out,
                    std::vector<UnreadablePart>* unreadable = nullptr);

// Tells the volume's source that `length` bytes at byte `offset` of the
// stream are about to be read. Reads nothing.
void PrefetchStreamBytes(const LOGDRIVE_INFO& drive, std::span<const DataRun> runs, std::uint64_t offset,
                         std::uint64_t length);

// Bytes [start, end) of a stream that its runs map to clusters on disk.
struct StreamExtent {
  std::uint64_t start = 0;
  std::uint64_t end = 0;  // start == end: there is none
};

// The clusters that can be read: those the boot sector claims, cut to what
// a cut-short image holds.
std::uint64_t HeldClusters(const LOGDRIVE_INFO& drive);

// The extents of a stream whose clusters the volume holds (HeldClusters),
// asked for in the order of the stream. What lies outside them (sparse, unmapped,
// past the end of a cut-short image) reads as zeros, so a reader can pass
// over it without reading it. The runs are sorted by startVcn and may
// overlap; a whole walk of the stream looks at each run once.
class HeldExtents {
 public:
  HeldExtents(const LOGDRIVE_INFO& drive, std::span<const DataRun> runs);
  // The first extent that ends past byte `from`, cut to start there at the
  // earliest; none (start == end) when no held byte lies past it. `from`
  // never goes back from one call to the next.
  StreamExtent Next(std::uint64_t from);

 private:
  std::span<const DataRun> runs_;
  std::uint64_t clusterBytes_;
  std::uint64_t heldClusters_;
  std::size_t next_ = 0;
};

// The sector (of the volume's own size) that holds byte `offset` of the
// stream, or kNoSector.
std::int64_t StreamSector(const LOGDRIVE_INFO& drive, std::span<const DataRun> runs,
                          std::uint64_t offset);

}  // namespace ntfs
}  // namespace tsn
