#pragma once
// 32-byte directory entries: which are plausible, what they are called, and
// what a deleted one's chances are.
#include <cstdint>
#include <span>
#include <string>

#include "fs/fat/long_name.h"
#include "core/entry_records.h"

namespace tsn {

class EngineHost;
struct LOGDRIVE_INFO;

constexpr std::size_t kDirEntrySize = 32;
constexpr std::uint8_t kDeletedMark = 0xE5;
constexpr std::uint8_t kAttrVolumeLabel = 0x08;
constexpr std::uint8_t kAttrDirectory = 0x10;

struct ShortEntry {
  std::span<const std::uint8_t> bytes;
  explicit ShortEntry(std::span<const std::uint8_t> b) : bytes(b) {}
  std::uint8_t Attributes() const;
  std::uint32_t StartCluster() const;
  std::uint32_t Size() const;
  std::uint16_t Date() const;
  std::uint16_t Time() const;
  bool IsDeleted() const { return bytes[0] == kDeletedMark; }
};

// The latest year an entry may carry; the clock's year in UTC by default.
int CurrentYearUtc();

int IsAcceptableEntry(const LOGDRIVE_INFO* drive, ShortEntry entry, int latestYear);
// Builds the record of an accepted entry. Callers keep the records of
// folders (they become tree nodes) and let those of files go once their
// FoundFile is made. An entry read in a deleted folder is deleted with it,
// though its first byte was never marked: deleting a folder frees the
// chains of what it holds.
MftFileInfo EntryToFileInfo(EngineHost* app, LOGDRIVE_INFO* drive, const EntryPosition& at,
                            bool inDeletedFolder = false);
std::uint32_t AssessDeletedEntry(const LOGDRIVE_INFO* drive, ShortEntry entry);
// Whether a deleted file is judged "chain in use" only because FAT entries
// of its span could not be read: whether it could be recovered is unknown.
bool JudgedOnUnreadableFat(const LOGDRIVE_INFO* drive, ShortEntry entry);
// Logs how many deleted files a scan judged so, when there are any.
void ReportJudgedWithoutFat(EngineHost* app, const LOGDRIVE_INFO& drive, std::uint64_t files);
// The 8.3 name, as UTF-8 through code page 437.
std::string ShortName(ShortEntry entry);

}  // namespace tsn
