#include "core/engine_host.h"
#include "source/read_sectors.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <limits>

#include "source/volume_source.h"

namespace tsn {

namespace {
constexpr std::size_t kRangesLogged = 5;
}  // namespace

int ReadSectors(EngineHost* app, VolumeSource* volume, std::uint64_t lba,
                std::span<std::uint8_t> buffer) {
  if (lba > std::numeric_limits<std::uint64_t>::max() / kSectorSize) {
    std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
    return 0;
  }
  return ReadBytes(app, volume, lba * kSectorSize, buffer);
}

int ReadBytes(EngineHost*, VolumeSource* volume, std::uint64_t offset, std::span<std::uint8_t> buffer) {
  ReadOutcome outcome;
  if (volume != nullptr) outcome = volume->Read(offset, buffer);
  // Whatever lies past the end reads as zeros.
  std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(outcome.inView), buffer.end(), std::uint8_t{0});
  return outcome.Whole(buffer.size()) ? 1 : 0;
}

bool SectorsUnreadable(const VolumeSource* volume, std::uint64_t lba, std::uint64_t bytes) {
  if (volume == nullptr || volume->UnreadableRanges().empty()) return false;
  if (lba > std::numeric_limits<std::uint64_t>::max() / kSectorSize) return false;
  return !volume->UnreadableIn(lba * kSectorSize, bytes).empty();
}

bool BytesUnreadable(const VolumeSource* volume, std::uint64_t offset, std::uint64_t bytes) {
  return volume != nullptr && !volume->UnreadableRanges().empty() && !volume->UnreadableIn(offset, bytes).empty();
}

std::string RangeText(std::uint64_t first, std::uint64_t last) {
  return "bytes " + std::to_string(first) + "\u2013" + std::to_string(last);
}

std::string ReadErrorText(int error) {
  return error == 0 ? std::string("the source ended before its size") : std::string(std::strerror(error));
}

void LogUnreadableRanges(EngineHost* app, const VolumeSource* volume, const std::string& driveName) {
  if (volume == nullptr) return;
  const std::vector<UnreadableRange>& ranges = volume->UnreadableRanges();
  if (ranges.empty()) return;
  const VolumeSource& v = *volume;
  std::uint64_t total = 0;
  for (const UnreadableRange& r : ranges) total += r.Bytes();
  const std::string places = ranges.size() == 1 ? "in one place" : "in " + std::to_string(ranges.size()) + " places";
  LogMessage(app, kError, "%s %" PRIu64 " bytes of %s could not be read, %s; they read as zeros, and what lies in "
             "them may be missing or incomplete.",
             driveName.c_str(), total, v.Path().c_str(), places.c_str());
  for (std::size_t i = 0; i < ranges.size() && i < kRangesLogged; ++i) {
    const UnreadableRange& r = ranges[i];
    const std::uint64_t first = v.BaseOffset() + r.first, last = v.BaseOffset() + r.last;
    const std::uint64_t firstSector = first / v.SectorSize(), lastSector = last / v.SectorSize();
    const std::string sectors = firstSector == lastSector
                                    ? "sector " + std::to_string(firstSector)
                                    : "sectors " + std::to_string(firstSector) + "\u2013" + std::to_string(lastSector);
    LogMessage(app, kError, "%s %s of %s (%s) could not be read: %s.", driveName.c_str(),
               RangeText(first, last).c_str(), v.Path().c_str(), sectors.c_str(), ReadErrorText(r.error).c_str());
  }
  if (ranges.size() > kRangesLogged)
    LogMessage(app, kError, "%s %zu more unreadable ranges of %s are not listed.",
               driveName.c_str(), ranges.size() - kRangesLogged, v.Path().c_str());
}

}  // namespace tsn
