#include "fs/ntfs/lznt1.h"

#include <algorithm>

namespace tsn::ntfs {

namespace {

constexpr std::uint16_t kChunkCompressed = 0x8000;
constexpr std::uint16_t kChunkSizeMask = 0x0FFF;  // stored size of the chunk, header included, less 3

// One compressed chunk into dst; false when it breaks the format. Tokens
// come in groups of eight behind a flag byte: a clear bit is a literal, a
// set bit a two-byte back reference whose split between offset and length
// moves with how far into the chunk the output has got, since a reference
// can only reach back that far.
bool DecodeCompressedChunk(Bytes data, std::span<std::uint8_t> dst) {
  std::size_t in = 0, out = 0;
  while (in < data.size()) {
    const std::uint8_t flags = data[in++];
    for (int bit = 0; bit < 8 && in < data.size(); ++bit) {
      if (((flags >> bit) & 1) == 0) {
        if (out >= dst.size()) return false;
        dst[out++] = data[in++];
        continue;
      }
      if (data.size() - in < 2) return false;
      const std::uint16_t token = static_cast<std::uint16_t>(data[in] | (data[in + 1] << 8));
      in += 2;
      if (out == 0) return false;  // nothing yet to refer back to
      unsigned shift = 12;         // bits left for the length
      for (std::size_t i = out - 1; i >= 0x10 && shift > 4; i >>= 1) --shift;
      const std::size_t offset = (token >> shift) + 1u;
      const std::size_t length = (token & ((1u << shift) - 1u)) + 3u;
      if (offset > out || length > dst.size() - out) return false;
      // The source may overlap what is being written: byte by byte, forward.
      for (std::size_t k = 0; k < length; ++k, ++out) dst[out] = dst[out - offset];
    }
  }
  return true;
}

}  // namespace

Lznt1Result DecompressLznt1(Bytes in, std::span<std::uint8_t> out) {
  Lznt1Result result;
  std::fill(out.begin(), out.end(), std::uint8_t{0});
  std::size_t at = 0;
  for (std::size_t start = 0; start < out.size(); start += kLznt1ChunkBytes) {
    if (in.size() - at < 2) break;  // the unit's data ends: the rest is zeros
    const std::uint16_t header = LeU16(in, at);
    if (header == 0) break;  // the end mark
    const std::size_t size = (header & kChunkSizeMask) + 3u;
    const auto dst = out.subspan(start, std::min(kLznt1ChunkBytes, out.size() - start));
    const std::size_t index = result.chunks++;
    const auto bad = [&] {
      if (result.badChunks++ == 0) result.firstBad = index;
      std::fill(dst.begin(), dst.end(), std::uint8_t{0});
    };
    if (size > in.size() - at) {
      // Its header claims more than the unit holds: nothing after it can
      // be placed either.
      result.truncated = true;
      bad();
      break;
    }
    const Bytes data = in.subspan(at + 2, size - 2);
    bool good = true;
    if (header & kChunkCompressed) {
      good = DecodeCompressedChunk(data, dst);
    } else {
      good = data.size() <= dst.size();
      if (good) std::copy(data.begin(), data.end(), dst.begin());
    }
    if (!good) bad();
    at += size;
  }
  return result;
}

}  // namespace tsn::ntfs
