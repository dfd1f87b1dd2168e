#pragma once
// What bringing back a found file takes, as its file system lays it out:
// its size, its pieces in file order, and why a copy of it may not be the
// file. Copy-out reads the pieces and knows no file system.
#include <sys/stat.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/le_bytes.h"
#include "source/volume_source.h"

namespace tsn {

class EngineHost;
struct FoundFile;

// Receives decoded bytes in file order: either `data`, or (data empty)
// `zeros` bytes of zeros. False to stop.
using PieceSink = std::function<bool(Bytes data, std::uint64_t zeros)>;

struct DecodedRead {
  bool stopped = false;            // the sink asked to stop
  bool whole = true;               // every byte is the file's own
  std::vector<std::string> notes;  // why it is not, or what else a reader should know
  // Bytes of the piece (first and last, inclusive) that could not be read,
  // in order, with the error: zeros stand in their place.
  std::vector<UnreadableRange> unreadable;
};

// Bytes that only their file system can produce (a compressed stream, say):
// it is handed a buffer and gives them to the sink in order.
class PieceDecoder {
 public:
  virtual ~PieceDecoder() = default;
  virtual DecodedRead Read(EngineHost* host, std::span<std::uint8_t> scratch, const PieceSink& sink) = 0;
};

struct ContentPiece {
  enum class Kind {
    Extent,    // `length` bytes of the volume from `volumeOffset`, read in whole sectors
    Zeros,     // `length` bytes that read as zeros: a hole in the copy
    Resident,  // `bytes`, kept in the file system's own records
    Decoded,   // `length` bytes of the file that `decoder` gives
  };
  Kind kind = Kind::Zeros;
  std::uint64_t length = 0;
  std::uint64_t volumeOffset = 0;
  std::vector<std::uint8_t> bytes;
  std::shared_ptr<PieceDecoder> decoder;
};

struct ContentPlan {
  std::uint64_t size = 0;
  // In file order. Extents may hold more than the size (a last cluster's
  // slack): the copy stops at the size.
  std::vector<ContentPiece> pieces;
  // Why the copy may not be the file, known before it is read.
  std::vector<std::string> notes;
  // Not empty: the file cannot be brought back, and nothing is to be made
  // for it (its record is gone, or it is encrypted).
  std::string refusal;
  // False: nothing in the plan is sound to copy; whatever was made is
  // discarded, with the notes as the reason.
  bool readable = true;
  // How many bytes a read buffer should hold to take its pieces at once.
  std::uint64_t readBytes = 0;
  // The times the copy is to get; UTIME_OMIT where not known.
  timespec modified{0, UTIME_OMIT};
  timespec accessed{0, UTIME_OMIT};
};

// Plans found files of one volume, with the tables it has read for them.
class ContentPlanner {
 public:
  virtual ~ContentPlanner() = default;
  virtual ContentPlan Plan(const FoundFile& file) = 0;
};

}  // namespace tsn
