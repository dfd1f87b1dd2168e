#pragma once
// The compact form of a volume image that the whole-volume target takes: a
// FAT32 volume needs at least 65,525 clusters (33 MB with 512-byte ones),
// far too much to mutate byte by byte, but one that mkfs.fat and mtools made
// is nearly all zeros. So the input is the image's size and its non-zero
// sectors only:
//
//   u32 LE        the image's size in sectors (at most kMaxCompactSectors)
//   then, repeated:
//   u32 LE        a sector number
//   512 bytes     that sector's contents (a short last one is zero-padded)
//
// Everything else reads as zeros; sectors at or past the size are dropped,
// and a later record for the same sector replaces an earlier one. Mutations
// of a record's bytes damage that structure; mutations of its number move
// it; of the size, truncate the volume.
#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

namespace tsn::fuzz {

constexpr std::uint32_t kMaxCompactSectors = 1u << 20;  // 512 MiB, sparse
constexpr std::size_t kCompactRecord = 4 + 512;

struct CompactSector {
  std::uint32_t sector = 0;
  std::span<const std::uint8_t> bytes;  // up to 512; the rest is zero
};

struct CompactImage {
  std::uint32_t sectors = 0;
  std::vector<CompactSector> records;
};

inline std::uint32_t ReadU32(std::span<const std::uint8_t> b, std::size_t at) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < 4 && at + i < b.size(); ++i) v |= std::uint32_t{b[at + i]} << (8 * i);
  return v;
}

// `maxSectors` clips the size: a target whose every execution reads the
// whole image keeps mutations of the size from making it slow.
inline CompactImage ParseCompact(std::span<const std::uint8_t> in,
                                 std::uint32_t maxSectors = kMaxCompactSectors) {
  CompactImage img;
  img.sectors = std::min({ReadU32(in, 0), maxSectors, kMaxCompactSectors});
  for (std::size_t at = 4; at + 4 < in.size(); at += kCompactRecord) {
    const std::uint32_t sector = ReadU32(in, at);
    const std::size_t n = std::min<std::size_t>(512, in.size() - at - 4);
    if (sector < img.sectors) img.records.push_back({sector, in.subspan(at + 4, n)});
  }
  return img;
}

}  // namespace tsn::fuzz
