#pragma once
// Long names: the run of 0x0F entries standing before a short entry.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tsn {

class EngineHost;
struct LOGDRIVE_INFO;

// A long name needs at most 20 entries (255 characters); a longer run of
// long-name entries is leftovers, and only the nearest 20 are taken.
constexpr int kMaxLongNameEntries = 20;

// Where the short entry stands: its index in the buffer that holds the whole
// directory cluster `dirCluster`.
struct EntryPosition {
  std::span<const std::uint8_t> cluster;
  std::size_t index = 0;
  std::uint32_t dirCluster = 0;
  // The cluster before dirCluster in the folder's chain, when known (0 if
  // not). A folder's clusters need not be neighbours on the volume: a name
  // whose long-name entries end the previous cluster of the chain is found
  // there, not in whatever sector happens to lie before.
  std::uint32_t previousCluster = 0;
};

// The long-name entries before the entry, nearest first. The walk steps
// back across the start of the cluster into the last sector of the previous
// cluster of the chain, or, when that is not known, into the sector before it
// on the volume; it stops at the start of the data area. When it stops at a
// sector that could not be read, *unreadableAt (if given) gets that sector's
// number, in the volume's own sectors: the run may go on in it.
std::vector<std::array<std::uint8_t, 32>> CollectLongNameEntries(EngineHost* app,
                                                                 LOGDRIVE_INFO* drive,
                                                                 const EntryPosition& at,
                                                                 std::uint64_t* unreadableAt = nullptr);
int CountLongNameEntries(EngineHost* app, LOGDRIVE_INFO* drive, const EntryPosition& at);
// The name the entries carry, decoded from UTF-16 to UTF-8.
std::string GatherLongName(const std::vector<std::array<std::uint8_t, 32>>& entries);
// Whether the entries hold the whole name: the farthest carries the mark of
// a name's last entry, or the name's end (a unit 0) lies within them.
bool LongNameIsWhole(const std::vector<std::array<std::uint8_t, 32>>& entries);

bool IsLongNameEntry(std::span<const std::uint8_t> entry);


}  // namespace tsn
