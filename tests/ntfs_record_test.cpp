// The NTFS decoders on hand-made bytes, for what a real volume rarely shows
// and a fuzzer cannot judge. That hostile bytes are walked safely is the fuzz
// targets' to show.

#include <random>

#include "app/app_state.h"
#include "fs/ntfs/attribute_list.h"
#include "fs/ntfs/attributes.h"
#include "fs/ntfs/data_runs.h"
#include "fs/ntfs/mft_record.h"
#include "fs/ntfs/orphan_folders.h"
#include "fs/ntfs/volume_bitmap.h"
#include "ntfs_test_support.h"
#include "fs/logdrive_info.h"

namespace tsn {
namespace {

using namespace ntfs;
using ntfstest::Buffer;
using ntfstest::RecordBuilder;

LOGDRIVE_INFO Drive(std::uint64_t clusters = 100000, std::uint32_t spc = 8) {
  LOGDRIVE_INFO d;
  d.fsName = "NTFS", d.clusterCount = clusters, d.sectorsPerCluster = spc;
  return d;
}

Bytes View(const Buffer& b) { return Bytes(b.data(), b.size()); }

MftFileInfo MftWithRuns(std::vector<DataRun> runs) {
  MftFileInfo m;
  m.runCount = static_cast<std::uint32_t>(runs.size());
  m.runs = std::make_shared<const std::vector<DataRun>>(std::move(runs));
  return m;
}

TEST(Fixup, RepairsASoundRecordAndRefusesATornOneWhole) {
  const Buffer sound = RecordBuilder().Build(0x0042);
  ASSERT_EQ(ntfstest::GetU16(sound, 1022), 0x0042);
  Buffer repaired = sound;
  AppState app;
  ASSERT_EQ(FixupRecord(&app, repaired, 512, kFixupRepair), 1);
  EXPECT_EQ(app.routineName, "FixupRecord");  // the fault report names it
  // The sector ends hold entries 1 and 2 of the array again.
  EXPECT_EQ(std::pair(ntfstest::GetU16(repaired, 510), ntfstest::GetU16(repaired, 1022)),
            std::pair(ntfstest::GetU16(sound, 50), ntfstest::GetU16(sound, 52)));
  Buffer checked = sound;
  EXPECT_EQ(FixupRecord(&app, checked, 512, kFixupCheck), 1);
  EXPECT_EQ(checked, sound);
  // Only the second sector end lacks the sequence number: not even the
  // first sector is repaired.
  Buffer torn = sound;
  ntfstest::PutU16(torn, 1022, 0x1234);
  const Buffer asRead = torn;
  EXPECT_EQ(FixupRecord(&app, torn, 512, kFixupRepair), 0);
  EXPECT_EQ(torn, asRead);
  EXPECT_EQ(ClassifyRecord(&app, torn), RecordKind::Torn);
}

TEST(MftRecords, AreLocatedThroughTheRunsIn64Bits) {
  AppState app;
  const LOGDRIVE_INFO d8 = Drive(1ULL << 40, 8);  // four records a cluster
  EXPECT_EQ(MftRecordSector(&app, d8, MftWithRuns({{0, 100, 100, 16}, {16, 5000, 4900, 16}}), 128), kNoSector);
  EXPECT_EQ(MftRecordSector(&app, d8, MftWithRuns({{0, kSparseLcn, 0, 4}}), 1), kNoSector);
  // Record 2^32 lies at byte 2^42 of the $MFT, VCN 2^30.
  const MftFileInfo far = MftWithRuns({{0, 10, 10, 1LL << 30}, {1LL << 30, 3LL << 32, 0, 8}});
  EXPECT_EQ(MftRecordSector(&app, d8, far, (1ULL << 32) + 5), static_cast<std::int64_t>((3ULL << 32) * 8 + 10));
}

TEST(MftRecords, ARecordSplitBetweenTwoRunsIsReadFromBoth) {
  test::ScratchDir dir;
  const std::string image = dir.Path("split.img");
  Buffer disk(200 * 512, 0);
  const Buffer record = RecordBuilder().Add(ntfstest::ResidentAttribute(0x30,
      ntfstest::FileNameValue(5, 1, u"split.txt"))).Build(0x0101);
  std::copy(record.begin(), record.begin() + 512, disk.begin() + 12 * 512);
  std::copy(record.begin() + 512, record.end(), disk.begin() + 100 * 512);
  test::WriteFile(image, disk);
  LOGDRIVE_INFO d = Drive(200, 1);
  d.volume = VolumeSource::Open(image).source;
  ASSERT_TRUE(d.volume);
  AppState app;
  const MftFileInfo mft = MftWithRuns({{0, 10, 10, 3}, {3, 100, 90, 5}});
  Buffer buffer(1024, 0);
  EXPECT_EQ(ReadMftRecord(&app, d, mft, buffer, 1), 12);
  FileNameInfo names;
  ParseRecordAttributes(&app, d, View(buffer), &names);
  EXPECT_EQ(names.name, "split.txt");
  EXPECT_EQ(ProbeMftRecord(&app, d, mft, 1), 12);
}

TEST(DataRuns, ARunMayEndAtTheLastClusterButNotPastIt) {
  for (const auto& c : test::DataRows("ntfs-data-runs.jsonl")) {
    const std::string hex = c["pairs"];
    Buffer pairs;
    for (std::size_t i = 0; i < hex.size(); i += 2)
      pairs.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    std::vector<DataRun> runs;
    const RunDecode r = DecodeDataRuns(Drive(1024), View(ntfstest::NonResidentAttribute(0x80, pairs, 4096)), runs);
    std::vector<std::int64_t> lcns;
    for (const DataRun& run : runs) lcns.push_back(run.lcn);
    EXPECT_EQ(std::pair(r.refused, lcns), (std::pair<bool, std::vector<std::int64_t>>(c["refused"], c["lcns"])))
        << c["what"];
  }
  // Validity does not overflow at the top of the range; holes may be any size.
  EXPECT_EQ(IsValidRun({0, kSparseLcn, 0, 1LL << 50}, 10), 1);
  EXPECT_EQ(IsValidRun({0, 1, 0, static_cast<std::int64_t>(~0ULL >> 1)}, ~0ULL), 1);
  EXPECT_EQ(IsValidRun({0, 2, 0, static_cast<std::int64_t>(~0ULL >> 1)}, ~0ULL >> 1), 0);
}

TEST(Names, ALoneSurrogateBecomesAReplacementCharacter) {
  AppState app;
  Buffer r = RecordBuilder().Add(ntfstest::ResidentAttribute(
      0x30, ntfstest::FileNameValue(5, 1, std::u16string(u"a") + char16_t(0xD83D) + u"b"))).Build();
  ASSERT_EQ(FixupRecord(&app, r, 512, kFixupRepair), 1);
  FileNameInfo n;
  EXPECT_EQ(ParseRecordAttributes(&app, Drive(), View(r), &n), 0u);
  EXPECT_EQ(n.name, "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(OrphanFolderLabel(true, 1ULL << 40), "TSNF_Folder.1099511627776");  // numbered in full
}

TEST(AttributeLists, EachRecordIsNamedOnce) {
  Buffer list;
  for (const auto& [type, record] : {std::pair{0x10u, 40u}, {0x30u, 40u}, {0x80u, 40u}, {0x80u, 41u}, {0x80u, 41u},
                                     {0x80u, 40u}, {0x80u, 77u}}) {
    Buffer e(32, 0);
    ntfstest::PutU32(e, 0, type);
    ntfstest::PutU16(e, 4, 32);
    ntfstest::PutU64(e, 16, record | (1ULL << 48));
    list.insert(list.end(), e.begin(), e.end());
  }
  bool damaged = false;
  const auto entries = ListEntriesOf(View(list), &damaged);
  EXPECT_FALSE(damaged);
  EXPECT_EQ(ListedRecords(entries, 0x80), (std::vector<std::uint64_t>{40, 41, 77}));
}

TEST(VolumeBitmapRanges, AnyAllocatedMatchesABitByBitScan) {
  std::mt19937 rng(7);
  std::vector<std::uint8_t> bytes(1000);
  for (auto& b : bytes) b = (rng() % 5 == 0) ? static_cast<std::uint8_t>(1u << (rng() % 8)) : std::uint8_t{0};
  const VolumeBitmap bitmap(bytes, 7990);  // the last 10 bits lie past the volume
  for (int i = 0; i < 3000; ++i) {
    const std::uint64_t first = rng() % 8100, count = rng() % 900;
    bool expected = false;
    for (std::uint64_t c = first; c < first + count && c < 7990; ++c)
      expected |= ((bytes[c / 8] >> (c % 8)) & 1) != 0;
    ASSERT_EQ(bitmap.AnyAllocated(first, count), expected) << first << " " << count;
  }
  const VolumeBitmap all(std::vector<std::uint8_t>(16, 0xFF), 128);
  EXPECT_TRUE(all.AnyAllocated(127, 1));
  EXPECT_FALSE(all.AnyAllocated(128, 1000));  // past the bitmap: not tested
  EXPECT_FALSE(all.AnyAllocated(0, 0));
}

}  // namespace
}  // namespace tsn
