// Directory entries as the scans judge them: hand-made bytes for the edge cases a real volume rarely shows.

#include <array>
#include <cstring>

#include "fs/fat/dir_entry.h"
#include "core/text.h"
#include "fs/fat/long_name.h"
#include "core/entry_records.h"
#include "fs/logdrive_info.h"
#include "test_support.h"

namespace tsn {
namespace {

using Entry = std::array<std::uint8_t, 32>;

Entry MakeEntry(const char name11[12], std::uint8_t attr = 0x20, std::uint32_t start = 10, std::uint32_t size = 100,
                int year = 2001, int month = 1, int day = 1, int hour = 12, int minute = 0, int secondPairs = 0) {
  Entry e{};
  const auto put = [&e](std::size_t at, std::uint32_t v, int n) { std::ranges::copy(test::Le(v, n), &e[at]); };
  std::memcpy(e.data(), name11, 11);
  e[11] = attr;
  put(20, start >> 16, 2);
  put(26, start, 2);
  put(22, (hour << 11) | (minute << 5) | secondPairs, 2);
  put(24, ((year - 1980) << 9) | (month << 5) | day, 2);
  put(28, size, 4);
  return e;
}

Entry Deleted(Entry e) {
  e[0] = 0xE5;
  return e;
}

LOGDRIVE_INFO Drive() {
  LOGDRIVE_INFO d;
  d.fsName = "FAT32", d.clusterCount = 1000, d.sectorsPerCluster = 8;
  return d;
}

bool Accepted(const Entry& e) {
  const LOGDRIVE_INFO d = Drive();
  return IsAcceptableEntry(&d, ShortEntry(e), 2026) == 1;
}

TEST(ShortName, RestoresTheDeletedFirstCharacterAndOmitsAnEmptyExtension) {
  EXPECT_EQ(ShortName(ShortEntry(Deleted(MakeEntry("XEADME  TXT")))), "DEADME.TXT");
  EXPECT_EQ(ShortName(ShortEntry(MakeEntry("FOO        "))), "FOO");
  Entry lower = MakeEntry("README  TXT");
  lower[12] = 0x18;  // name and extension stored lower case
  EXPECT_EQ(ShortName(ShortEntry(lower)), "readme.txt");
  Entry kanji = MakeEntry("XBC     TXT");
  kanji[0] = 0x05;  // a real first byte 0xE5, in code page 437 a sigma
  EXPECT_EQ(ShortName(ShortEntry(kanji)), "\xCF\x83" "BC.TXT");
}

TEST(IsAcceptableEntry, ChecksNameBytesDateTimeClusterAndSize) {
  for (const nlohmann::json& c : test::DataRows("fat-short-entries.jsonl")) {
    const std::vector<int> date = c.value("date", std::vector<int>{2001, 1, 1});
    const std::vector<int> time = c.value("time", std::vector<int>{12, 0, 0});
    const Entry e = !c.contains("name")
                        ? Entry{}
                        : MakeEntry(c["name"].get<std::string>().c_str(),
                                    static_cast<std::uint8_t>(c.value("attr", 0x20)), c.value("start", 10u),
                                    c.value("size", 100u), date[0], date[1], date[2], time[0], time[1], time[2]);
    EXPECT_EQ(Accepted(e), c["accepted"].get<bool>()) << c["why"];
  }
  // Code page bytes, as in the 8.3 name of "Müller.txt", are characters; a deleted entry's lost first byte is no fault.
  Entry high = MakeEntry("MLLER   TXT");
  high[1] = 0x9A;
  EXPECT_TRUE(Accepted(high));
  EXPECT_EQ(ShortName(ShortEntry(high)), "M\xC3\x9CLER.TXT");
  EXPECT_TRUE(Accepted(Deleted(MakeEntry("AB         "))));
}

TEST(AssessDeletedEntry, JudgesTheContiguousSpanAgainstTheTable) {
  LOGDRIVE_INFO d = Drive();
  d.fatTable.assign(1000, 0);
  const Entry e = Deleted(MakeEntry("AB         ", 0x20, 100, 10'000));  // needs clusters 100 to 102
  EXPECT_EQ(AssessDeletedEntry(&d, ShortEntry(e)), 0u);
  d.fatTable[103] = 5;  // beyond the span
  EXPECT_EQ(AssessDeletedEntry(&d, ShortEntry(e)), 0u);
  d.fatTable[102] = 0x0FFFFFFF;
  EXPECT_EQ(AssessDeletedEntry(&d, ShortEntry(e)), kFlagChainInUse);
  EXPECT_EQ(AssessDeletedEntry(&d, ShortEntry(MakeEntry("AB         ", 0x20, 100, 0))), kFlagBadSize);
  EXPECT_EQ(AssessDeletedEntry(&d, ShortEntry(MakeEntry("AB         ", 0x20, 1001, 5))), kFlagBadCluster);
  // A span running off the loaded table is judged in use, never read past it.
  d.fatTable.assign(200, 0);
  EXPECT_EQ(AssessDeletedEntry(&d, ShortEntry(MakeEntry("AB         ", 0x20, 190, 100 * 4096))), kFlagChainInUse);
}

TEST(LongName, DecodesUtf16WithSurrogatePairsToUtf8) {
  EXPECT_EQ(Utf16ToUtf8({'a', 0x00E9, 0x4E2D, 0xD83D, 0xDE00, 0, 'x'}), "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf16ToUtf8({0xD800, 'b'}), "\xEF\xBF\xBD" "b");  // lone surrogate
}

}  // namespace
}  // namespace tsn
