#include "fs/fat/long_name.h"

#include <array>

#include "core/text.h"
#include "fs/fat/fat_table.h"
#include "fs/logdrive_info.h"
#include "source/read_sectors.h"

namespace tsn {

namespace {
constexpr std::size_t kEntrySize = 32;
// Offsets of the 13 UTF-16 units a long-name entry carries, in name order.
constexpr std::size_t kUnitOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
}  // namespace

bool IsLongNameEntry(std::span<const std::uint8_t> e) {
  return e.size() >= kEntrySize && e[11] == 0x0F && e[26] == 0 && e[27] == 0;
}

std::vector<std::array<std::uint8_t, 32>> CollectLongNameEntries(EngineHost* app,
                                                                 LOGDRIVE_INFO* drive,
                                                                 const EntryPosition& at,
                                                                 std::uint64_t* unreadableAt) {
  const FatGeometry g = FatGeometryOf(*drive);
  const std::uint64_t dataStart = g.ClusterLba(2);
  std::vector<std::array<std::uint8_t, 32>> found;
  std::span<const std::uint8_t> buffer = at.cluster;
  // FAT12/16's fixed root folder is read whole, as one buffer: nothing of
  // it lies before that buffer's first entry.
  const bool fixedRoot = g.entryBits != 32 && at.dirCluster < 2;
  std::uint64_t bufferLba = fixedRoot ? g.RootSector() : g.ClusterLba(at.dirCluster);
  std::vector<std::uint8_t> sector(g.bytesPerSector);
  const std::size_t entriesPerSector = sector.size() / kEntrySize;
  std::size_t index = at.index;
  while (found.size() < kMaxLongNameEntries) {
    if (index == 0) {
      if (fixedRoot) break;
      const bool leavingCluster = buffer.data() == at.cluster.data();
      std::uint64_t before = bufferLba - 1;
      if (leavingCluster && at.previousCluster >= 2)
        before = g.ClusterLba(at.previousCluster) + g.sectorsPerCluster - 1;
      else if (bufferLba <= dataStart)
        break;
      ReadBytes(app, drive->volume.get(), g.SectorOffset(before), sector);
      buffer = sector;
      bufferLba = before;
      index = entriesPerSector;
    }
    --index;
    const auto entry = buffer.subspan(index * kEntrySize, kEntrySize);
    if (!IsLongNameEntry(entry)) {
      // An unreadable sector reads as zeros, which look like no long name:
      // the caller must hear that the walk ended there for want of data.
      const std::uint64_t lba = bufferLba + index * kEntrySize / g.bytesPerSector;
      if (unreadableAt != nullptr && BytesUnreadable(drive->volume.get(), g.SectorOffset(lba), g.bytesPerSector))
        *unreadableAt = lba;
      break;
    }
    std::array<std::uint8_t, 32> copy{};
    std::copy(entry.begin(), entry.end(), copy.begin());
    found.push_back(copy);
  }
  return found;
}

int CountLongNameEntries(EngineHost* app, LOGDRIVE_INFO* drive, const EntryPosition& at) {
  return static_cast<int>(CollectLongNameEntries(app, drive, at).size());
}

bool LongNameIsWhole(const std::vector<std::array<std::uint8_t, 32>>& entries) {
  if (entries.empty()) return false;
  // A deleted entry has lost its sequence byte, and with it the mark.
  const std::uint8_t sequence = entries.back()[0];
  if (sequence != 0xE5 && (sequence & 0x40)) return true;
  for (const auto& e : entries)
    for (const std::size_t off : kUnitOffsets)
      if (e[off] == 0 && e[off + 1] == 0) return true;
  return false;
}

std::string GatherLongName(const std::vector<std::array<std::uint8_t, 32>>& entries) {
  std::vector<std::uint16_t> units;
  units.reserve(entries.size() * 13);
  for (const auto& e : entries)
    for (const std::size_t off : kUnitOffsets)
      units.push_back(static_cast<std::uint16_t>(e[off] | (e[off + 1] << 8)));
  return Utf16ToUtf8(units);
}

}  // namespace tsn
