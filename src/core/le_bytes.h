#pragma once
// Little-endian reads from on-disk bytes. Every read is bounds-checked: a
// field that does not lie wholly inside the span reads as 0, so a truncated or
// hostile structure can never make us read past a buffer. Callers that must
// tell "zero" from "absent" ask FitsIn() first.
#include <cstddef>
#include <cstdint>
#include <span>

namespace tsn {

using Bytes = std::span<const std::uint8_t>;

constexpr bool FitsIn(Bytes b, std::size_t offset, std::size_t width) {
  return offset <= b.size() && width <= b.size() - offset;
}

template <typename T>
constexpr T LeRead(Bytes b, std::size_t offset) {
  if (!FitsIn(b, offset, sizeof(T))) return 0;
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i)
    v |= static_cast<std::uint64_t>(b[offset + i]) << (8 * i);
  return static_cast<T>(v);
}

constexpr std::uint8_t LeU8(Bytes b, std::size_t o) { return LeRead<std::uint8_t>(b, o); }
constexpr std::uint16_t LeU16(Bytes b, std::size_t o) { return LeRead<std::uint16_t>(b, o); }
constexpr std::uint32_t LeU32(Bytes b, std::size_t o) { return LeRead<std::uint32_t>(b, o); }
constexpr std::uint64_t LeU64(Bytes b, std::size_t o) { return LeRead<std::uint64_t>(b, o); }
constexpr std::int64_t LeI64(Bytes b, std::size_t o) { return LeRead<std::int64_t>(b, o); }

// The span [offset, offset + width), clipped to what exists.
constexpr Bytes SubBytes(Bytes b, std::size_t offset, std::size_t width) {
  if (offset >= b.size()) return {};
  return b.subspan(offset, std::min(width, b.size() - offset));
}

}  // namespace tsn
