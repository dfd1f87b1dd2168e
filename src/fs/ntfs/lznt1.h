#pragma once
// LZNT1, the compression of NTFS compressed streams: each compression unit
// that saves space is stored as a run of chunks that each stand for 4096
// bytes of the file.
#include <cstddef>
#include <cstdint>
#include <span>

#include "core/le_bytes.h"

namespace tsn::ntfs {

constexpr std::size_t kLznt1ChunkBytes = 4096;

struct Lznt1Result {
  std::size_t chunks = 0;     // chunks decoded, good or bad
  std::size_t badChunks = 0;  // chunks that broke the format; their share reads as zeros
  std::size_t firstBad = 0;   // index of the first bad chunk, when there is one
  bool truncated = false;     // a chunk ran past the end of the input
};

// Decompresses one compression unit from `in` into `out` (the unit's size).
// Every byte of `out` is written: what no chunk fills is zeros. The input
// comes straight from a volume that may be damaged or hostile, so every read
// and write is checked; a chunk that breaks the format gives zeros for its
// 4096 bytes and decoding goes on with the next one, as far as its header
// can still be trusted.
Lznt1Result DecompressLznt1(Bytes in, std::span<std::uint8_t> out);

}  // namespace tsn::ntfs
