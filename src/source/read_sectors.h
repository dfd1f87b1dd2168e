#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tsn {

class EngineHost;
class VolumeSource;
struct UnreadableRange;

// The unit ReadSectors counts in. A volume's own sectors may be larger: its
// geometry says how large.
constexpr std::size_t kSectorSize = 512;

// Reads buffer.size() bytes at sector `lba` (512-byte sectors, 64-bit).
// Every sector that could be read is in the buffer; those that could not,
// and whatever lies past the end of the volume, read as zeros. Returns 1
// when every byte was read, else 0.
int ReadSectors(EngineHost* app, VolumeSource* volume, std::uint64_t lba,
                std::span<std::uint8_t> buffer);

// The same at a byte offset of the volume.
int ReadBytes(EngineHost* app, VolumeSource* volume, std::uint64_t offset, std::span<std::uint8_t> buffer);

// True when some of `bytes` bytes at sector `lba` are known to be unreadable
// (as opposed to lying past the end of the volume).
bool SectorsUnreadable(const VolumeSource* volume, std::uint64_t lba, std::uint64_t bytes);
// The same at a byte offset of the volume.
bool BytesUnreadable(const VolumeSource* volume, std::uint64_t offset, std::uint64_t bytes);

// "bytes 40960–45055" style text of a range, and the cause.
std::string RangeText(std::uint64_t first, std::uint64_t last);
std::string ReadErrorText(int error);

// Logs, with severity Error, the areas of the drive's source that could not
// be read: one line for each of the first few, a count of the rest. Offsets
// are those of the image file or device, for tools that work on it. Nothing
// is logged when everything could be read.
void LogUnreadableRanges(EngineHost* app, const VolumeSource* volume, const std::string& driveName);

}  // namespace tsn
