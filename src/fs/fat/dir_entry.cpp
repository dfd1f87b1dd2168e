#include "core/engine_host.h"
#include "fs/fat/dir_entry.h"

#include <cinttypes>
#include <ctime>

#include "core/text.h"
#include "fs/fat/fat_table.h"
#include "core/entry_records.h"
#include "source/read_sectors.h"
#include "core/le_bytes.h"
#include "fs/logdrive_info.h"

namespace tsn {

namespace {

constexpr std::uint64_t kNoSector = ~std::uint64_t{0};

bool IsInvalidNameByte(std::uint8_t b) {
  if (b <= 0x04 || (b >= 0x06 && b <= 0x1F)) return true;
  switch (b) {
    case 0x22: case 0x2A: case 0x2B: case 0x2C: case 0x2F: case 0x3A: case 0x3B: case 0x3C:
    case 0x3D: case 0x3E: case 0x3F: case 0x5B: case 0x5C: case 0x5D: case 0x7C: case 0x7F:
      return true;
    default:
      return false;
  }
}

bool IsLower(std::uint8_t b) { return b >= 'a' && b <= 'z'; }

// After the first space (from position `from` on) only spaces may follow.
bool SpacesOnlyAfterFirstSpace(const std::uint8_t* field, int from, int width) {
  int i = from;
  while (i < width && field[i] != ' ') ++i;
  for (; i < width; ++i)
    if (field[i] != ' ') return false;
  return true;
}

bool IsValidDate(std::uint16_t date, int latestYear) {
  const int day = date & 0x1F, month = (date >> 5) & 0x0F, year = (date >> 9) + 1980;
  if (day < 1 || day > 31 || month < 1 || month > 12) return false;
  if (day == 31 && (month == 4 || month == 6 || month == 9 || month == 11)) return false;
  if (month == 2 && day > 29) return false;  // 29 in every year, as it always has been
  return year >= 1990 && year <= latestYear;
}

bool IsValidTime(std::uint16_t time) {
  return (time >> 11) <= 23 && ((time >> 5) & 0x3F) <= 59 && (time & 0x1F) <= 30;
}

// Most writers give a folder size 0; some (Windows XP among them) record
// the clusters it holds. Any other size is what garbage looks like.
bool IsFolderSize(const LOGDRIVE_INFO& drive, std::uint32_t size) {
  if (size == 0) return true;
  const std::uint64_t clusterBytes = drive.ClusterBytes();
  return clusterBytes != 0 && size % clusterBytes == 0 && size / clusterBytes <= drive.clusterCount;
}

std::uint32_t StartOf(const LOGDRIVE_INFO* drive, ShortEntry entry) {
  return EntryStartCluster(*drive, entry.StartCluster());
}

}  // namespace

std::uint8_t ShortEntry::Attributes() const { return LeU8(bytes, 11); }
std::uint32_t ShortEntry::StartCluster() const {
  return (std::uint32_t{LeU16(bytes, 20)} << 16) | LeU16(bytes, 26);
}
std::uint32_t ShortEntry::Size() const { return LeU32(bytes, 28); }
std::uint16_t ShortEntry::Date() const { return LeU16(bytes, 24); }
std::uint16_t ShortEntry::Time() const { return LeU16(bytes, 22); }

int CurrentYearUtc() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  return utc.tm_year + 1900;
}

int IsAcceptableEntry(const LOGDRIVE_INFO* drive, ShortEntry entry, int latestYear) {
  const std::uint8_t* b = entry.bytes.data();
  if (entry.bytes.size() < kDirEntrySize || IsLongNameEntry(entry.bytes)) return 0;
  if (b[0] == ' ') return 0;
  // Bytes 0x80 and above are characters of the OEM code page: Windows and
  // Linux write them into the 8.3 name of "Müller.txt" and the like, so they
  // are taken; refusing them would hide such files, live ones included.
  for (int i = 0; i < 11; ++i)
    if (IsInvalidNameByte(b[i]) || IsLower(b[i])) return 0;
  const std::uint8_t attr = entry.Attributes();
  if (!(attr & kAttrVolumeLabel)) {
    if (!SpacesOnlyAfterFirstSpace(b, 1, 8)) return 0;
    if (!SpacesOnlyAfterFirstSpace(b + 8, 1, 3)) return 0;
  }
  if (!IsValidDate(entry.Date(), latestYear) || !IsValidTime(entry.Time())) return 0;
  if (StartOf(drive, entry) > drive->clusterCount) return 0;
  if ((attr & kAttrVolumeLabel) && entry.Size() != 0) return 0;
  if ((attr & kAttrDirectory) && !IsFolderSize(*drive, entry.Size())) return 0;
  return 1;
}

std::string ShortName(ShortEntry entry) {
  const std::uint8_t* b = entry.bytes.data();
  // Windows keeps all-lower-case 8.3 names as upper case plus two case bits.
  const std::uint8_t caseBits = LeU8(entry.bytes, 12);
  auto part = [&](int from, int width, bool lower) {
    std::string out;
    for (int i = from; i < from + width && b[i] != ' '; ++i) {
      std::uint8_t c = b[i];
      if (i == 0 && c == 0x05) c = 0xE5;  // a real 0xE5 first byte is stored as 0x05
      if (i == 0 && c == kDeletedMark && entry.IsDeleted()) c = 'D';  // its lost first character
      if (lower && c >= 'A' && c <= 'Z') c = static_cast<std::uint8_t>(c - 'A' + 'a');
      AppendCp437(out, c);
    }
    return out;
  };
  const std::string name = part(0, 8, caseBits & 0x08);
  const std::string ext = part(8, 3, caseBits & 0x10);
  return ext.empty() ? name : name + "." + ext;
}

std::uint32_t AssessDeletedEntry(const LOGDRIVE_INFO* drive, ShortEntry entry) {
  const std::uint32_t start = StartOf(drive, entry);
  if (start > drive->clusterCount) return kFlagBadCluster;
  const std::uint32_t size = entry.Size();
  if (size == 0) return kFlagBadSize;
  const std::uint64_t clusterBytes = drive->ClusterBytes();
  const std::uint64_t needed = (size + clusterBytes - 1) / clusterBytes;
  // Clusters past the loaded table read as in use (FatEntry), so a span that
  // runs off the table is judged "in use" rather than read out of bounds.
  for (std::uint64_t i = 0; i < needed; ++i) {
    const std::uint64_t c = std::uint64_t{start} + i;
    if (c > 0xFFFFFFFFu || FatEntry(drive->fatTable, static_cast<std::uint32_t>(c)) != 0)
      return kFlagChainInUse;
  }
  return 0;
}

bool JudgedOnUnreadableFat(const LOGDRIVE_INFO* drive, ShortEntry entry) {
  if (drive->fatUnreadable.empty() || entry.Size() == 0 || StartOf(drive, entry) > drive->clusterCount)
    return false;
  const std::uint64_t clusterBytes = drive->ClusterBytes();
  const std::uint64_t needed = (entry.Size() + clusterBytes - 1) / clusterBytes;
  const std::uint64_t start = StartOf(drive, entry);
  if (UnreadableFatEntriesIn(*drive, start, needed) == 0) return false;
  for (std::uint64_t c = start; c < start + needed; ++c)
    if (c > 0xFFFFFFFFu ||
        (FatEntry(drive->fatTable, static_cast<std::uint32_t>(c)) != 0 && !FatEntryUnreadable(*drive, c)))
      return false;  // a cluster known to be taken decides it
  return true;
}

void ReportJudgedWithoutFat(EngineHost* app, const LOGDRIVE_INFO& drive, std::uint64_t files) {
  if (files == 0) return;
  LogMessage(app, kAlert, "%s %" PRIu64 " deleted %s on clusters whose FAT entries could not be read; %s shown as "
             "\"Chain is in use\", since whether those clusters are free is not known.",
             drive.driveName.c_str(), files, files == 1 ? "file lies" : "files lie", files == 1 ? "it is" : "they are");
}

MftFileInfo EntryToFileInfo(EngineHost* app, LOGDRIVE_INFO* drive, const EntryPosition& at, bool inDeletedFolder) {
  const ShortEntry entry(at.cluster.subspan(at.index * kDirEntrySize, kDirEntrySize));
  std::uint64_t unreadable = kNoSector;
  const auto longEntries = CollectLongNameEntries(app, drive, at, &unreadable);
  std::string name = longEntries.empty() ? std::string() : GatherLongName(longEntries);
  if (unreadable != kNoSector && !LongNameIsWhole(longEntries)) {
    // The rest of its long name may stand in the sector that could not be
    // read; a name cut short would pass for another file's, the short
    // name is the entry's own.
    const std::string shortName = ShortName(entry);
    const std::uint64_t first = drive->volume->BaseOffset() + unreadable * drive->bytesPerSector;
    const std::uint64_t last = first + drive->bytesPerSector - 1;
    if (longEntries.empty())
      LogMessage(app, kAlert, "%s \"%s\" (folder cluster %u) follows %s, which could not be read; any long name of it "
                 "would stand there, so it is shown by its short name.",
                 drive->driveName.c_str(), shortName.c_str(), at.dirCluster,
                 RangeText(first, last).c_str());
    else
      LogMessage(app, kError, "%s the long name of \"%s\" (folder cluster %u) runs on into %s, which could not be read; "
                 "it is shown by its short name, and its name began \"%s\".",
                 drive->driveName.c_str(), shortName.c_str(), at.dirCluster,
                 RangeText(first, last).c_str(), name.c_str());
    name.clear();
  }
  MftFileInfo info;
  if (name.empty()) {
    name = ShortName(entry);
    info.firstCharLost = entry.IsDeleted() && !name.empty();
  }
  info.deletedEntry = entry.IsDeleted() || inDeletedFolder;
  if (!info.deletedEntry) info.flags |= kFlagInUse;
  if (entry.Attributes() & kAttrDirectory) info.flags |= kFlagFolder;
  if (info.flags == 0) info.flags = AssessDeletedEntry(drive, entry);
  info.SetName(std::move(name));
  info.fatDate = entry.Date();
  info.fatTime = entry.Time();
  info.size = entry.Size();
  info.recordNumber = StartOf(drive, entry);
  info.parentRecord = at.dirCluster;
  return info;
}

}  // namespace tsn
