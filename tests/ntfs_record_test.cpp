// The NTFS decoders on hand-made bytes: the update-sequence fixup, locating
// records through the $MFT's runs, mapping pairs, the attribute walk and the
// $FILE_NAME and $DATA decoders, attribute lists and index entries. These
// are the shapes a real volume rarely shows: torn writes, lengths that run
// past their record, runs outside the volume, names that need surrogates.
#include <gtest/gtest.h>

#include <random>

#include "app/app_state.h"
#include "fs/ntfs/attribute_list.h"
#include "fs/ntfs/attributes.h"
#include "fs/ntfs/data_runs.h"
#include "fs/ntfs/index_entry.h"
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
  d.fsName = "NTFS";
  d.clusterCount = clusters;
  d.sectorsPerCluster = spc;
  return d;
}

Bytes View(const Buffer& b) { return Bytes(b.data(), b.size()); }

std::vector<Attribute> AttributesOf(const Buffer& record, bool* whole = nullptr) {
  std::vector<Attribute> out;
  const bool w = WalkAttributes(View(record), [&](const Attribute& a) {
    out.push_back(a);
    return true;
  });
  if (whole) *whole = w;
  return out;
}

MftFileInfo MftWithRuns(std::vector<DataRun> runs) {
  MftFileInfo m;
  m.runCount = static_cast<std::uint32_t>(runs.size());
  m.runs = std::make_shared<const std::vector<DataRun>>(std::move(runs));
  return m;
}

TEST(Fixup, RepairsASoundRecordAndLeavesAFailedOneAsRead) {
  Buffer sound = RecordBuilder().Build(0x0042);
  EXPECT_EQ(ntfstest::GetU16(sound, 510), 0x0042);
  EXPECT_EQ(ntfstest::GetU16(sound, 1022), 0x0042);
  Buffer repaired = sound;
  AppState app;
  ASSERT_EQ(FixupRecord(&app, repaired, 512, kFixupRepair), 1);
  EXPECT_EQ(app.routineName, "FixupRecord");  // the fault report names it
  // The sector ends hold entries 1 and 2 of the array again (zeros here).
  EXPECT_EQ(ntfstest::GetU16(repaired, 510), ntfstest::GetU16(sound, 50));
  EXPECT_EQ(ntfstest::GetU16(repaired, 1022), ntfstest::GetU16(sound, 52));
  // Check-only mode changes nothing.
  Buffer checked = sound;
  EXPECT_EQ(FixupRecord(&app, checked, 512, kFixupCheck), 1);
  EXPECT_EQ(checked, sound);

  // A torn write: the second sector end does not carry the sequence number.
  // Nothing is repaired, not even the first sector.
  Buffer torn = sound;
  ntfstest::PutU16(torn, 1022, 0x1234);
  const Buffer asRead = torn;
  EXPECT_EQ(FixupRecord(&app, torn, 512, kFixupRepair), 0);
  EXPECT_EQ(torn, asRead);
  EXPECT_EQ(IsValidMftRecord(&app, torn, 512), 0);
  EXPECT_EQ(ClassifyRecord(&app, torn), RecordKind::Torn);

  // An array that does not cover exactly the buffer fails before any compare.
  for (const int count : {0, 1, 2, 4, 9}) {
    Buffer wrong = sound;
    ntfstest::PutU16(wrong, 6, static_cast<std::uint16_t>(count));
    EXPECT_EQ(FixupRecord(&app, wrong, 512, kFixupRepair), 0) << count;
  }
  // An array offset past the end of the buffer fails.
  Buffer outside = sound;
  ntfstest::PutU16(outside, 4, 1023);
  EXPECT_EQ(FixupRecord(&app, outside, 512, kFixupRepair), 0);
}

TEST(Fixup, TellsEmptySlotsFromDamage) {
  AppState app;
  Buffer zeros(1024, 0);
  EXPECT_EQ(IsValidMftRecord(&app, zeros, 512), 0);
  EXPECT_EQ(ClassifyRecord(&app, zeros), RecordKind::Empty);
  Buffer garbage(1024, 0xA5);
  EXPECT_EQ(ClassifyRecord(&app, garbage), RecordKind::NotARecord);
  Buffer noAttributes = RecordBuilder().Build();
  ntfstest::PutU16(noAttributes, 20, 0);
  EXPECT_EQ(IsValidMftRecord(&app, noAttributes, 512), 0);
  Buffer good = RecordBuilder().Build();
  EXPECT_EQ(ClassifyRecord(&app, good), RecordKind::Valid);
}

TEST(MftRecords, AreLocatedThroughTheRunsIn64Bits) {
  AppState app;
  // Eight sectors a cluster: four records a cluster.
  const LOGDRIVE_INFO d8 = Drive(1ULL << 40, 8);
  const MftFileInfo mft = MftWithRuns({{0, 100, 100, 16}, {16, 5000, 4900, 16}});
  EXPECT_EQ(MftRecordSector(&app, d8, mft, 128), kNoSector);  // past the last run: no read
  EXPECT_EQ(MftRecordSector(&app, d8, MftWithRuns({}), 0), kNoSector);
  // A sparse stretch holds no records.
  EXPECT_EQ(MftRecordSector(&app, d8, MftWithRuns({{0, kSparseLcn, 0, 4}}), 1), kNoSector);
  // Record 2^32 lies at byte 2^42 of the $MFT, VCN 2^30.
  const MftFileInfo far = MftWithRuns({{0, 10, 10, 1LL << 30}, {1LL << 30, 3LL << 32, 0, 8}});
  EXPECT_EQ(MftRecordSector(&app, d8, far, 1ULL << 32), static_cast<std::int64_t>((3ULL << 32) * 8));
  EXPECT_EQ(MftRecordSector(&app, d8, far, (1ULL << 32) + 5),
            static_cast<std::int64_t>((3ULL << 32) * 8 + 10));
  // One sector a cluster: a record spans two clusters, and may span two runs.
  const LOGDRIVE_INFO d1 = Drive(1000, 1);
  const MftFileInfo split = MftWithRuns({{0, 10, 10, 3}, {3, 100, 90, 5}});
  EXPECT_EQ(MftRecordSector(&app, d1, split, 4), kNoSector);
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
  // Record 0 lies in zeros: located, read, refused.
  RecordKind kind = RecordKind::Valid;
  EXPECT_EQ(ReadMftRecord(&app, d, mft, buffer, 0, &kind), kNoSector);
  EXPECT_EQ(kind, RecordKind::Empty);
}

std::vector<DataRun> Decode(const Buffer& pairs, std::uint64_t clusters = 100000, bool* refused = nullptr,
                            std::uint64_t lowestVcn = 0) {
  const Buffer a = ntfstest::NonResidentAttribute(0x80, pairs, 4096, lowestVcn);
  std::vector<DataRun> runs;
  const RunDecode r = DecodeDataRuns(Drive(clusters), View(a), runs);
  if (refused) *refused = r.refused;
  EXPECT_EQ(r.added, static_cast<int>(runs.size()));
  return runs;
}

TEST(DataRuns, RunsOutsideTheVolumeZeroOrHugeLengthsAndRunawayPairsEndTheList) {
  const struct {
    const char* what;
    Buffer pairs;
    std::uint64_t clusters;
    std::size_t kept;
  } cases[] = {
      {"a second run that ends past the volume: the first stays",
       {0x21, 0x10, 0x00, 0x01, 0x21, 0x10, 0xE0, 0x02, 0x00}, 1000, 1},
      {"one cluster past the last", {0x21, 0x19, 0xE8, 0x03, 0x00}, 1024, 0},
      {"a zero length", {0x11, 0x00, 0x05, 0x00}, 1000, 0},
      {"no length field", {0x10, 0x05, 0x00}, 1000, 0},
      {"a length of 2^62", {0x18, 0, 0, 0, 0, 0, 0, 0, 0x40, 0x05, 0x00}, 1000, 0},
      {"a negative first lcn", {0x11, 0x04, 0xF0, 0x00}, 1000, 0},
  };
  for (const auto& c : cases) {
    bool refused = false;
    const auto runs = Decode(c.pairs, c.clusters, &refused);
    EXPECT_TRUE(refused) << c.what;
    ASSERT_EQ(runs.size(), c.kept) << c.what;
    if (c.kept) {
      EXPECT_EQ(runs[0].lcn, 256) << c.what;
    }
  }
  // A run reaching exactly the last cluster is fine.
  EXPECT_EQ(Decode({0x21, 0x18, 0xE8, 0x03, 0x00}, 1024).size(), 1u);
  // Pairs that run off the end of the attribute, with no terminating zero.
  Buffer a = ntfstest::NonResidentAttribute(0x80, {}, 0);
  for (std::size_t i = 64; i < a.size(); ++i) a[i] = 0x11;
  std::vector<DataRun> out;
  EXPECT_TRUE(DecodeDataRuns(Drive(), View(a), out).refused);
  // A mapping-pairs offset inside the header, or past the attribute.
  for (const std::uint16_t at : {std::uint16_t{8}, static_cast<std::uint16_t>(a.size())}) {
    Buffer bad = ntfstest::NonResidentAttribute(0x80, {0x11, 0x01, 0x01, 0x00}, 512);
    ntfstest::PutU16(bad, 32, at);
    out.clear();
    EXPECT_TRUE(DecodeDataRuns(Drive(), View(bad), out).refused);
    EXPECT_TRUE(out.empty());
  }
}

TEST(DataRuns, ValidityDoesNotOverflowAtTheTopOfTheRange) {
  EXPECT_EQ(IsValidRun({0, kSparseLcn, 0, 1LL << 50}, 10), 1);  // holes may be any size
  EXPECT_EQ(IsValidRun({0, 1, 0, static_cast<std::int64_t>(~0ULL >> 1)}, ~0ULL), 1);
  EXPECT_EQ(IsValidRun({0, 2, 0, static_cast<std::int64_t>(~0ULL >> 1)}, ~0ULL >> 1), 0);
}

TEST(Attributes, TheWalkEndsOnAnyRecordAndSaysWhenItMetDamage) {
  const Buffer name = ntfstest::ResidentAttribute(0x30, ntfstest::FileNameValue(5, 1, u"a"));
  const Buffer data = ntfstest::ResidentAttribute(0x80, {1, 2, 3});
  bool whole = false;
  EXPECT_EQ(AttributesOf(RecordBuilder().Add(name).Add(data).Build(), &whole).size(), 2u);
  EXPECT_TRUE(whole);
  // A length of 0, a length that runs past the record, a header that does
  // not fit: the attributes before are seen, the walk ends, damage is told.
  for (const std::uint32_t length : {0u, 20u, 2000u, 0xFFFFFFF0u}) {
    RecordBuilder b;
    b.Add(name).Add(data);
    ntfstest::PutU32(b.bytes, 56 + name.size() + 4, length);
    const Buffer r = b.Build();
    const auto seen = AttributesOf(r, &whole);
    EXPECT_FALSE(whole) << length;
    ASSERT_EQ(seen.size(), 1u) << length;
    EXPECT_EQ(seen[0].type, 0x30u);
  }
  Buffer noEnd = RecordBuilder().Add(name).Build();
  std::fill(noEnd.begin() + 56 + static_cast<std::ptrdiff_t>(name.size()), noEnd.end() - 8, 0x11);
  EXPECT_EQ(AttributesOf(noEnd, &whole).size(), 1u);
  // A first-attribute offset past the record.
  Buffer far = RecordBuilder().Build();
  ntfstest::PutU16(far, 20, 1020);
  EXPECT_TRUE(AttributesOf(far, &whole).empty());
  EXPECT_FALSE(whole);
  // A value that does not lie inside its attribute is not read.
  Buffer bad = name;
  ntfstest::PutU32(bad, 16, 4000);
  const Buffer badRecord = RecordBuilder().Add(bad).Build();
  const auto a = AttributesOf(badRecord);
  ASSERT_EQ(a.size(), 1u);
  EXPECT_FALSE(a[0].ValueFits());
  EXPECT_TRUE(a[0].Value().empty());
  FileNameInfo names;
  EXPECT_FALSE(ReadFileNameAttribute(&names, a[0]));
  EXPECT_FALSE(names.HasName());
}

TEST(Attributes, BrokenNamesAndRunsPastTheVolumeAreDamageNotGarbage) {
  AppState app;
  const LOGDRIVE_INFO d = Drive(1000);
  auto record = [&](const Buffer& attribute) {
    Buffer r = RecordBuilder().Add(attribute).Build();
    EXPECT_EQ(FixupRecord(&app, r, 512, kFixupRepair), 1);
    return r;
  };
  // A lone high surrogate becomes U+FFFD, not a broken byte sequence.
  const Buffer lone = record(ntfstest::ResidentAttribute(
      0x30, ntfstest::FileNameValue(5, 1, std::u16string(u"a") + char16_t(0xD83D) + u"b")));
  FileNameInfo n;
  EXPECT_EQ(ParseRecordAttributes(&app, d, View(lone), &n), 0u);
  EXPECT_EQ(n.name, "a\xEF\xBF\xBD" "b");
  // A name length that runs past the value.
  Buffer longer = ntfstest::FileNameValue(5, 1, u"abc");
  longer[64] = 200;
  FileNameInfo cut;
  EXPECT_EQ(ParseRecordAttributes(&app, d, View(record(ntfstest::ResidentAttribute(0x30, longer))), &cut),
            kDamageValue);
  EXPECT_FALSE(cut.HasName());
  // A run past the volume: damage, and the runs before it are kept.
  DataInfo data;
  const Buffer runs = record(ntfstest::NonResidentAttribute(0x80, {0x11, 0x04, 0x20, 0x21, 0x04, 0x00, 0x7F}, 9000));
  EXPECT_EQ(ParseRecordAttributes(&app, d, View(runs), &data), kDamageRuns);
  EXPECT_EQ(data.runs.size(), 1u);
}

TEST(AttributeLists, EntriesAreBoundedByTheListAndEachRecordIsNamedOnce) {
  auto entry = [](std::uint32_t type, std::uint64_t record, std::uint16_t length = 32) {
    Buffer e(length, 0);
    ntfstest::PutU32(e, 0, type);
    ntfstest::PutU16(e, 4, length);
    ntfstest::PutU64(e, 16, record | (1ULL << 48));
    return e;
  };
  Buffer list;
  for (const auto& e : {entry(0x10, 40), entry(0x30, 40), entry(0x80, 40), entry(0x80, 41),
                        entry(0x80, 41), entry(0x80, 40), entry(0x80, 77)})
    list.insert(list.end(), e.begin(), e.end());
  bool damaged = false;
  const auto entries = ListEntriesOf(View(list), &damaged);
  EXPECT_FALSE(damaged);
  ASSERT_EQ(entries.size(), 7u);
  EXPECT_EQ(entries[3].record, 41u);
  EXPECT_EQ(ListedRecords(entries, 0x80), (std::vector<std::uint64_t>{40, 41, 77}));
  // An entry of length 0 or past the list ends the walk as damage; zeros
  // after the last entry are the list's slack.
  Buffer zeroLength = list;
  ntfstest::PutU16(zeroLength, 64 + 4, 0);
  EXPECT_EQ(ListEntriesOf(View(zeroLength), &damaged).size(), 2u);
  EXPECT_TRUE(damaged);
  damaged = false;
  Buffer past = list;
  ntfstest::PutU16(past, 6 * 32 + 4, 200);
  EXPECT_EQ(ListEntriesOf(View(past), &damaged).size(), 6u);
  EXPECT_TRUE(damaged);
  damaged = false;
  Buffer slack = list;
  slack.resize(slack.size() + 40, 0);
  EXPECT_EQ(ListEntriesOf(View(slack), &damaged).size(), 7u);
  EXPECT_FALSE(damaged);
}

Buffer IndexEntryBytes(std::uint64_t reference, const std::u16string& name, std::uint8_t flags = 0,
                       std::uint8_t nameSpace = 1) {
  const Buffer key = ntfstest::FileNameValue(5, nameSpace, name, 1, 2, 300);
  Buffer e(16 + (key.size() + 7) / 8 * 8, 0);
  ntfstest::PutU64(e, 0, reference);
  ntfstest::PutU16(e, 8, static_cast<std::uint16_t>(e.size()));
  ntfstest::PutU16(e, 10, static_cast<std::uint16_t>(key.size()));
  e[12] = flags;
  std::copy(key.begin(), key.end(), e.begin() + 16);
  return e;
}

std::size_t GetEntryLength(const Buffer& node) { return ntfstest::GetU16(node, 8); }

TEST(IndexEntries, AWalkOverANodeEndsAtTheLastMarkOrAtDamage) {
  Buffer node;
  for (const auto& e : {IndexEntryBytes(0x0002000000000040ULL, u"first.txt"),
                        IndexEntryBytes(0x41, u"SECOND~1.TXT", 0, 2), IndexEntryBytes(0, u"", 2)})
    node.insert(node.end(), e.begin(), e.end());
  std::vector<std::string> names;
  auto walk = [&](const Buffer& n, std::size_t end) {
    names.clear();
    return WalkIndexEntries(View(n), 0, end, [&](const IndexEntry& e) {
      std::string name;
      names.push_back(e.IsLast() ? "(last)" : (e.Name(&name), name));
      return true;
    });
  };
  EXPECT_TRUE(walk(node, node.size()));
  EXPECT_EQ(names, (std::vector<std::string>{"first.txt", "SECOND~1.TXT", "(last)"}));
  // An entry length of 0, or past the node's end, stops the walk as damage.
  Buffer zero = node;
  ntfstest::PutU16(zero, GetEntryLength(node) + 8, 0);
  EXPECT_FALSE(walk(zero, zero.size()));
  EXPECT_EQ(names.size(), 1u);
  EXPECT_FALSE(walk(node, node.size() - 8));  // the last entry does not fit
  EXPECT_EQ(names.size(), 2u);
  // A key length past the entry gives no name.
  Buffer badKey = node;
  ntfstest::PutU16(badKey, 10, 4000);
  const IndexEntry broken{View(badKey).subspan(0, GetEntryLength(node))};
  std::string name;
  EXPECT_TRUE(broken.Key().empty());
  EXPECT_FALSE(broken.Name(&name));
}

TEST(OrphanFolders, AreNumberedInFull) {
  EXPECT_EQ(OrphanFolderLabel(true, 1ULL << 40), "TSNF_Folder.1099511627776");
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
  std::vector<std::uint8_t> full(16, 0xFF);
  const VolumeBitmap all(full, 128);
  EXPECT_TRUE(all.AnyAllocated(127, 1));
  EXPECT_FALSE(all.AnyAllocated(128, 1000));  // past the bitmap: not tested
  EXPECT_FALSE(all.AnyAllocated(0, 0));
}

}  // namespace
}  // namespace tsn
