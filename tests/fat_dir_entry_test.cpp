// Directory entries as the scans judge them: hand-made bytes for the edge
// cases a real volume rarely shows.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "fs/fat/dir_entry.h"
#include "core/text.h"
#include "fs/fat/long_name.h"
#include "core/entry_records.h"
#include "fs/logdrive_info.h"

namespace tsn {
namespace {

using Entry = std::array<std::uint8_t, 32>;

Entry MakeEntry(const char name11[12], std::uint8_t attr = 0x20, std::uint32_t start = 10,
                std::uint32_t size = 100, int year = 2001, int month = 1, int day = 1,
                int hour = 12, int minute = 0, int secondPairs = 0) {
  Entry e{};
  std::memcpy(e.data(), name11, 11);
  e[11] = attr;
  e[20] = static_cast<std::uint8_t>(start >> 16);
  e[21] = static_cast<std::uint8_t>(start >> 24);
  e[26] = static_cast<std::uint8_t>(start);
  e[27] = static_cast<std::uint8_t>(start >> 8);
  const int date = ((year - 1980) << 9) | (month << 5) | day;
  const int time = (hour << 11) | (minute << 5) | secondPairs;
  e[22] = static_cast<std::uint8_t>(time);
  e[23] = static_cast<std::uint8_t>(time >> 8);
  e[24] = static_cast<std::uint8_t>(date);
  e[25] = static_cast<std::uint8_t>(date >> 8);
  for (int i = 0; i < 4; ++i) e[28 + i] = static_cast<std::uint8_t>(size >> (8 * i));
  return e;
}

LOGDRIVE_INFO Drive(std::uint64_t clusters = 1000, std::uint32_t spc = 8) {
  LOGDRIVE_INFO d;
  d.fsName = "FAT32";
  d.clusterCount = clusters;
  d.sectorsPerCluster = spc;
  return d;
}

bool Accepted(const Entry& e, const LOGDRIVE_INFO& d = Drive()) {
  return IsAcceptableEntry(&d, ShortEntry(e), 2026) == 1;
}

TEST(ShortName, RestoresTheDeletedFirstCharacterAndOmitsAnEmptyExtension) {
  Entry deleted = MakeEntry("XEADME  TXT");
  deleted[0] = 0xE5;
  EXPECT_EQ(ShortName(ShortEntry(deleted)), "DEADME.TXT");
  EXPECT_EQ(ShortName(ShortEntry(MakeEntry("FOO        "))), "FOO");
  Entry lower = MakeEntry("README  TXT");
  lower[12] = 0x18;  // name and extension stored lower case
  EXPECT_EQ(ShortName(ShortEntry(lower)), "readme.txt");
  Entry kanji = MakeEntry("XBC     TXT");
  kanji[0] = 0x05;  // a real first byte 0xE5, in code page 437 a sigma
  EXPECT_EQ(ShortName(ShortEntry(kanji)), "\xCF\x83" "BC.TXT");
}

TEST(IsAcceptableEntry, ChecksNameBytesDateTimeClusterAndSize) {
  struct Case {
    const char* why;
    Entry entry;
    bool accepted;
  };
  const Case cases[] = {
      {"plain", MakeEntry("AB         "), true},
      {"lower case", MakeEntry("Ab         "), false},
      {"a space inside the name", MakeEntry("A B        "), false},
      {"but a label may", MakeEntry("A B        ", 0x08, 0, 0), true},
      {"leading space", MakeEntry(" AB        "), false},
      {"invalid byte", MakeEntry("A*B        "), false},
      {"space inside the extension", MakeEntry("AB      T X"), false},
      {"never used", Entry{}, false},
      {"31 April", MakeEntry("AB         ", 0x20, 10, 100, 2001, 4, 31), false},
      {"30 February", MakeEntry("AB         ", 0x20, 10, 100, 2001, 2, 30), false},
      {"29 February", MakeEntry("AB         ", 0x20, 10, 100, 2001, 2, 29), true},
      {"1989", MakeEntry("AB         ", 0x20, 10, 100, 1989), false},
      {"next year", MakeEntry("AB         ", 0x20, 10, 100, 2027), false},
      {"this year", MakeEntry("AB         ", 0x20, 10, 100, 2026), true},
      {"23:59:60", MakeEntry("AB         ", 0x20, 10, 100, 2001, 1, 1, 23, 59, 30), true},
      {"23:59:62", MakeEntry("AB         ", 0x20, 10, 100, 2001, 1, 1, 23, 59, 31), false},
      {"hour 24", MakeEntry("AB         ", 0x20, 10, 100, 2001, 1, 1, 24), false},
      {"the last cluster", MakeEntry("AB         ", 0x20, 1000), true},
      {"past the last cluster", MakeEntry("AB         ", 0x20, 1001), false},
      {"a folder with a size", MakeEntry("DIR        ", 0x10, 10, 1), false},
      // Some writers record a folder's clusters as its size.
      {"a folder of one cluster's size", MakeEntry("DIR        ", 0x10, 10, 4096), true},
      {"a folder of three clusters' size", MakeEntry("DIR        ", 0x10, 10, 3 * 4096), true},
      {"a folder of a sector's size", MakeEntry("DIR        ", 0x10, 10, 512), false},
      {"a folder of clusters and a byte", MakeEntry("DIR        ", 0x10, 10, 4097), false},
      {"a folder of every cluster's size", MakeEntry("DIR        ", 0x10, 10, 1000 * 4096), true},
      {"a folder larger than the volume", MakeEntry("DIR        ", 0x10, 10, 1001 * 4096), false},
      {"a label with a cluster's size", MakeEntry("LABEL      ", 0x08, 0, 4096), false},
      {"a long-name entry", MakeEntry("AB         ", 0x0F, 0), false},
  };
  for (const Case& c : cases) EXPECT_EQ(Accepted(c.entry), c.accepted) << c.why;
  // Code page bytes, as in the 8.3 name of "Müller.txt", are characters;
  // a deleted entry's lost first byte is no fault.
  Entry high = MakeEntry("MLLER   TXT");
  high[1] = 0x9A;
  EXPECT_TRUE(Accepted(high));
  EXPECT_EQ(ShortName(ShortEntry(high)), "M\xC3\x9CLER.TXT");
  Entry deleted = MakeEntry("AB         ");
  deleted[0] = 0xE5;
  EXPECT_TRUE(Accepted(deleted));
}

TEST(AssessDeletedEntry, JudgesTheContiguousSpanAgainstTheTable) {
  LOGDRIVE_INFO d = Drive(1000, 8);
  d.fatTable.assign(1000, 0);
  Entry e = MakeEntry("AB         ", 0x20, 100, 10'000);  // needs clusters 100 to 102
  e[0] = 0xE5;
  EXPECT_EQ(AssessDeletedEntry(&d, ShortEntry(e)), 0u);
  d.fatTable[103] = 5;  // beyond the span
  EXPECT_EQ(AssessDeletedEntry(&d, ShortEntry(e)), 0u);
  d.fatTable[102] = 0x0FFFFFFF;
  EXPECT_EQ(AssessDeletedEntry(&d, ShortEntry(e)), kFlagChainInUse);
  EXPECT_EQ(AssessDeletedEntry(&d, ShortEntry(MakeEntry("AB         ", 0x20, 100, 0))), kFlagBadSize);
  EXPECT_EQ(AssessDeletedEntry(&d, ShortEntry(MakeEntry("AB         ", 0x20, 1001, 5))), kFlagBadCluster);
  // A span running off the loaded table is judged in use, never read past it.
  d.fatTable.assign(200, 0);
  EXPECT_EQ(AssessDeletedEntry(&d, ShortEntry(MakeEntry("AB         ", 0x20, 190, 100 * 4096))),
            kFlagChainInUse);
}

TEST(LongName, DecodesUtf16WithSurrogatePairsToUtf8) {
  EXPECT_EQ(Utf16ToUtf8({'a', 0x00E9, 0x4E2D, 0xD83D, 0xDE00, 0, 'x'}),
            "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf16ToUtf8({0xD800, 'b'}), "\xEF\xBF\xBD" "b");  // lone surrogate
}

}  // namespace
}  // namespace tsn
