#pragma once
#include <cstdint>
#include <span>

namespace tsn {

struct AppState;
class VolumeSource;

// Reads buffer.size() bytes at sector `lba` (512-byte sectors, 64-bit).
// The buffer is zero-filled first, so whatever a short or failed read leaves
// reads as zeros. Returns 1 when every byte was read, else 0.
int ReadSectors(AppState* app, VolumeSource* volume, std::uint64_t lba,
                std::span<std::uint8_t> buffer);

}  // namespace tsn
