// Directory entries as the scans judge them: hand-made bytes for the edge
// cases a real volume rarely shows.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "fat/dir_entry.h"
#include "fat/long_name.h"
#include "results/entry_records.h"
#include "volume/logdrive_info.h"

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

TEST(IsAcceptableEntry, ChecksNameBytes) {
  EXPECT_TRUE(Accepted(MakeEntry("AB         ")));
  EXPECT_FALSE(Accepted(MakeEntry("Ab         ")));      // lower case
  EXPECT_FALSE(Accepted(MakeEntry("A B        ")));      // a space inside the name
  EXPECT_TRUE(Accepted(MakeEntry("A B        ", 0x08, 0, 0)));  // but a label may
  EXPECT_FALSE(Accepted(MakeEntry(" AB        ")));      // leading space
  EXPECT_FALSE(Accepted(MakeEntry("A*B        ")));      // invalid byte
  EXPECT_FALSE(Accepted(MakeEntry("AB      T X")));      // space inside the extension
  // Code page bytes, as in the 8.3 name of "Müller.txt", are characters.
  Entry high = MakeEntry("MLLER   TXT");
  high[1] = 0x9A;
  EXPECT_TRUE(Accepted(high));
  EXPECT_EQ(ShortName(ShortEntry(high)), "M\xC3\x9CLER.TXT");
  Entry deleted = MakeEntry("AB         ");
  deleted[0] = 0xE5;
  EXPECT_TRUE(Accepted(deleted));
  EXPECT_FALSE(Accepted(Entry{}));  // never used
}

TEST(IsAcceptableEntry, ChecksDateTimeClusterAndSize) {
  EXPECT_FALSE(Accepted(MakeEntry("AB         ", 0x20, 10, 100, 2001, 4, 31)));
  EXPECT_FALSE(Accepted(MakeEntry("AB         ", 0x20, 10, 100, 2001, 2, 30)));
  EXPECT_TRUE(Accepted(MakeEntry("AB         ", 0x20, 10, 100, 2001, 2, 29)));
  EXPECT_FALSE(Accepted(MakeEntry("AB         ", 0x20, 10, 100, 1989)));
  EXPECT_FALSE(Accepted(MakeEntry("AB         ", 0x20, 10, 100, 2027)));
  EXPECT_TRUE(Accepted(MakeEntry("AB         ", 0x20, 10, 100, 2026)));
  EXPECT_TRUE(Accepted(MakeEntry("AB         ", 0x20, 10, 100, 2001, 1, 1, 23, 59, 30)));
  EXPECT_FALSE(Accepted(MakeEntry("AB         ", 0x20, 10, 100, 2001, 1, 1, 23, 59, 31)));
  EXPECT_FALSE(Accepted(MakeEntry("AB         ", 0x20, 10, 100, 2001, 1, 1, 24)));
  EXPECT_TRUE(Accepted(MakeEntry("AB         ", 0x20, 1000)));   // at most clusterCount
  EXPECT_FALSE(Accepted(MakeEntry("AB         ", 0x20, 1001)));
  EXPECT_FALSE(Accepted(MakeEntry("DIR        ", 0x10, 10, 1)));  // a folder has no size
  EXPECT_TRUE(Accepted(MakeEntry("LABEL      ", 0x08, 0, 0)));
  Entry lfn = MakeEntry("AB         ", 0x0F, 0);
  EXPECT_FALSE(Accepted(lfn));
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

TEST(LongName, GathersTheEntriesBeforeTheShortOne) {
  // "A long file name.txt" (20 characters) in two long-name entries.
  const std::u16string text = u"A long file name.txt";
  auto lfn = [&](int part) {
    Entry e{};
    e[11] = 0x0F;
    static const int offsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    for (int i = 0; i < 13; ++i) {
      const std::size_t k = static_cast<std::size_t>(part * 13 + i);
      const char16_t u = k < text.size() ? text[k] : (k == text.size() ? 0 : 0xFFFF);
      e[static_cast<std::size_t>(offsets[i])] = static_cast<std::uint8_t>(u);
      e[static_cast<std::size_t>(offsets[i]) + 1] = static_cast<std::uint8_t>(u >> 8);
    }
    return e;
  };
  std::vector<std::uint8_t> cluster(4096, 0);
  const Entry parts[3] = {lfn(1), lfn(0), MakeEntry("ALONGF~1TXT")};
  for (int i = 0; i < 3; ++i)
    std::memcpy(cluster.data() + 32 * (4 + i), parts[i].data(), 32);
  LOGDRIVE_INFO d = Drive();
  const EntryPosition at{cluster, 6, 2};
  ASSERT_EQ(CountLongNameEntries(nullptr, &d, at), 2);
  EXPECT_EQ(GatherLongName(CollectLongNameEntries(nullptr, &d, at)), "A long file name.txt");
  const MftFileInfo info = EntryToFileInfo(nullptr, &d, at);
  EXPECT_EQ(info.name, "A long file name.txt");
  EXPECT_EQ(info.recordNumber, 10u);
  EXPECT_EQ(info.parentRecord, 2u);
  EXPECT_EQ(info.flags, kFlagInUse);
}

}  // namespace
}  // namespace tsn
