// NTFS volumes damaged on purpose where the damage has a known outcome: each
// case pins the lines logged, the files still found, and that nothing is
// listed twice. That damage of every kind ends cleanly and leaves the image
// alone is the corpus's to show.

#include <random>
#include <tuple>

#include "app/main_dialog.h"
#include "ntfs_test_support.h"

namespace tsn {
namespace {

using namespace ntfstest;
using test::RunCommand;

// The deleted files of DFTT #7 a scan still shows, by name.
std::set<std::string> DeletedNames(const Scan& s) {
  std::set<std::string> out;
  for (const auto& e : s.entries)
    if (e["deleted"].get<bool>() && !e["folder"].get<bool>()) out.insert(e["name"].get<std::string>());
  return out;
}
const std::set<std::string> kAllDeleted = {"frag1.dat", "frag2.dat", "sing1.dat", "mult1.dat", "res1.dat",
                                           "mult2.dat", "frag3.dat", "sing2.dat"};
std::set<std::string> Without(std::set<std::string> s, const std::string& name) {
  s.erase(name);
  return s;
}

// Inserts bytes into an unprotected record at `at`, keeping its in-use size.
void InsertInRecord(Buffer& r, std::size_t at, const Buffer& bytes) {
  const std::uint32_t inUse = GetU32(r, 24);
  ASSERT_LE(inUse + bytes.size(), r.size());
  std::copy_backward(r.begin() + static_cast<std::ptrdiff_t>(at), r.begin() + inUse,
                     r.begin() + inUse + static_cast<std::ptrdiff_t>(bytes.size()));
  std::copy(bytes.begin(), bytes.end(), r.begin() + static_cast<std::ptrdiff_t>(at));
  PutU32(r, 24, static_cast<std::uint32_t>(inUse + bytes.size()));
}
void RemoveFromRecord(Buffer& r, std::size_t at, std::size_t n) {
  const std::uint32_t inUse = GetU32(r, 24);
  std::copy(r.begin() + static_cast<std::ptrdiff_t>(at + n), r.begin() + inUse,
            r.begin() + static_cast<std::ptrdiff_t>(at));
  std::fill(r.begin() + inUse - static_cast<std::ptrdiff_t>(n), r.begin() + inUse, 0);
  PutU32(r, 24, static_cast<std::uint32_t>(inUse - n));
}

using Img = const std::string&;
using Geo = const NtfsGeometry&;
struct Damaged {
  std::string name;
  std::function<void(Img image, Geo g)> damage;
  std::vector<std::string> logged;       // lines (or parts) the scans must log
  std::set<std::string> stillFound;      // deleted files both scans still show (none when the scan fails)
  int status = 0;
};

// An $ATTRIBUTE_LIST put before the record's $FILE_NAME, one entry for each
// (type, lowest VCN, file reference).
void InsertAttributeList(Buffer& r, std::initializer_list<std::tuple<std::uint32_t, std::uint64_t, std::uint64_t>> entries) {
  Buffer list;
  for (const auto& [type, vcn, reference] : entries) {
    Buffer e(32, 0);
    PutU32(e, 0, type);
    PutU16(e, 4, 32);
    e[7] = 26;  // name offset
    PutU64(e, 8, vcn);
    PutU64(e, 16, reference);
    list.insert(list.end(), e.begin(), e.end());
  }
  InsertInRecord(r, FindAttribute(r, 0x30), ResidentAttribute(0x20, list));
}

void RunDamaged(const std::string& source, const std::vector<Damaged>& cases) {
  test::ScratchDir dir;
  for (const Damaged& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string image = test::CopyOf(source, dir, c.name + ".img");
    c.damage(image, GeometryOf(image));
    for (const bool quick : {true, false}) {
      SCOPED_TRACE(quick ? "quick" : "indexed");
      const Scan s = RunScan(image, quick);
      ASSERT_EQ(s.status, c.status) << s.log;  // 124 would be the timeout
      for (const auto& line : c.logged) EXPECT_TRUE(s.Logged(line)) << line << "\n" << s.log;
      EXPECT_EQ(DeletedNames(s), c.stillFound) << s.log;
      // Nothing twice: damage must not make a record show up again.
      std::set<std::string> paths;
      for (const auto& e : s.entries) EXPECT_TRUE(paths.insert(e["path"]).second) << e["path"];
    }
  }
}

TEST(NtfsDamage, BrokenRecordsRunsRecordZeroAndCutsArePassedOverAndTold) {
  const std::string source = Dftt7();
  if (source.empty()) TESSILON_SKIP_WITHOUT_REAL_IMAGES();
  auto data = [](Buffer& r) { return FindAttribute(r, 0x80); };
  std::mt19937 rng(3);
  auto garbage = [&] {
    Buffer b(1024);
    for (auto& v : b) v = static_cast<std::uint8_t>(rng());
    return b;
  };
  const std::vector<Damaged> cases = {
      {"torn-record",  // its second sector end
       [](Img img, Geo g) { WriteAt(img, RecordOffset(img, g, 31) + 1022, {0x12, 0x34}); },
       {"MFT record 31 (sector ", "fails its update-sequence check"}, Without(kAllDeleted, "sing1.dat")},
      {"attribute-past-record",
       [&](Img img, Geo g) {
         EditRecord(img, RecordOffset(img, g, 29), [&](Buffer& r) { PutU32(r, data(r) + 4, 2000); });
       },
       {"MFT record 29: an attribute runs past the end of the record"}, Without(kAllDeleted, "frag1.dat")},
      {"zero-run-length",
       [&](Img img, Geo g) {
         EditRecord(img, RecordOffset(img, g, 30), [&](Buffer& r) {
           const std::size_t pairs = data(r) + GetU16(r, data(r) + 32);
           for (unsigned i = 1; i <= (r[pairs] & 0x0F); ++i) r[pairs + i] = 0;
         });
       },
       {"MFT record 30: a data run lies outside the volume or is malformed"},
       kAllDeleted},  // its size is still known; no run is left to judge
      {"many-torn-records",
       [](Img img, Geo g) {
         for (std::uint64_t n = 24; n <= 35; ++n) WriteAt(img, RecordOffset(img, g, n) + 510, {0x12, 0x34});
       },
       {"fails its update-sequence check", "7 more MFT records that fail their update-sequence check were passed over."},
       {"res1.dat", "sing2.dat", "mult2.dat"}},
      {"garbage-record-0",
       [&](Img img, Geo g) { WriteAt(img, g.MftOffset(), garbage()); },
       {"record 0 of the $MFT at cluster 2005 cannot be used (it is not a file record); its copy in "
        "$MFTMirr at cluster 4069 is tried."},
       kAllDeleted},
      {"zeroed-record-0-and-mirror",
       [&](Img img, Geo g) {
         WriteAt(img, g.MftOffset(), Buffer(1024, 0));
         WriteAt(img, g.ClusterOffset(g.mirrorCluster), garbage());
       },
       {"(it reads as zeros)", "the copy of record 0 in $MFTMirr cannot be used either (it is not a file "
                               "record); without the $MFT's runs no record can be found"},
       {}, 1},
      {"record-0-claims-2^50-bytes",
       [&](Img img, Geo g) { EditRecord(img, g.MftOffset(), [&](Buffer& r) { PutU64(r, data(r) + 48, 1ULL << 50); }); },
       {"the $MFT claims 1099511627776 records, but its runs and the volume hold only 48; the records "
        "beyond are not read."},
       kAllDeleted},
      {"mft-runs-overlap",
       [&](Img img, Geo g) {
         EditRecord(img, g.MftOffset(), [&](Buffer& r) {
           // Its second run made to claim the first run's clusters again.
           const std::size_t at = data(r), pairs = at + GetU16(r, at + 32);
           const Buffer twice{0x21, 0x10, 0xD5, 0x07, 0x11, 0x18, 0x00, 0x00};
           std::copy(twice.begin(), twice.end(), r.begin() + static_cast<std::ptrdiff_t>(pairs));
         });
       },
       {"On C:, 1 of the $MFT's data runs claim clusters or records that another run already holds; "
        "they are left out."},
       {}},  // the deleted files lay in the run left out
      // The second extent of the $MFT, and the bitmap's cluster, lie past 4 MiB.
      {"cut-at-4MiB", [](Img img, Geo) { std::filesystem::resize_file(img, 4 << 20); },
       {"C: claims 12032 sectors but its image holds 8192; what lies beyond reads as zeros.",
        "C: part of $Bitmap could not be read; its clusters count as free."},
       {}},
  };
  RunDamaged(source, cases);
}

// mult2.dat (record 36) rebuilt as a file that outgrew its record: its $DATA
// moved into record 17, an extension record, and an attribute list in the
// base record saying so.
void SplitIntoExtension(Img img, Geo g, std::uint64_t dataAt, std::uint64_t extensionBase) {
  const std::uint64_t self = FileReference(img, g, 36);
  Buffer moved;
  EditRecord(img, RecordOffset(img, g, 36), [&](Buffer& r) {
    const std::size_t at = FindAttribute(r, 0x80);
    moved.assign(r.begin() + static_cast<std::ptrdiff_t>(at), r.begin() + static_cast<std::ptrdiff_t>(at + GetU32(r, at + 4)));
    RemoveFromRecord(r, at, moved.size());
    InsertAttributeList(r, {{0x10, 0, self}, {0x30, 0, self},
                            {0x80, 0, dataAt == 36 ? self : dataAt | std::uint64_t{1} << 48}});
  });
  WriteAt(img, RecordOffset(img, g, 17), RecordBuilder(0, 1, extensionBase | (self >> 48 << 48)).Add(moved).Build());
}

// DFTT #7's $MFT rebuilt the way Windows stores a fragmented one: record 0
// keeps the first extent (VCNs 0-15) and an attribute list; the second
// extent (VCNs 16-47) moves to record 15, which the first extent maps. The
// deleted files lie in the second extent, so they are found only when the
// extents are joined in VCN order and the count of records is the whole
// $MFT's.
void SplitMft(Img img, Geo g, bool listNamesItself) {
  const std::uint64_t extension = g.MftOffset() + 15 * 1024;
  EditRecord(img, g.MftOffset(), [&](Buffer& r) {
    const std::size_t data = FindAttribute(r, 0x80), pairs = data + GetU16(r, data + 32);
    PutU64(r, data + 24, 15);  // highest VCN of this extent
    const Buffer first{0x21, 0x10, 0xD5, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00};
    std::copy(first.begin(), first.end(), r.begin() + static_cast<std::ptrdiff_t>(pairs));
    const std::uint64_t self = 1ULL << 48, record15 = 15 | 15ULL << 48;
    InsertAttributeList(r, {{0x10, 0, self}, {0x30, 0, self}, {0x80, 0, self},
                            {0x80, 16, listNamesItself ? self : record15}, {0xB0, 0, self}});
  });
  Buffer second = NonResidentAttribute(0x80, {0x21, 0x20, 0x97, 0x10}, 0, 16);
  PutU64(second, 24, 47);
  WriteAt(img, extension, RecordBuilder(1, 15, 1ULL << 48).Add(second).Build());
}

TEST(NtfsDamage, AttributeListsAreFollowedOnceOnlyIntoTheirOwnRecordsAndJoinedInVcnOrder) {
  const std::string source = Dftt7();
  if (source.empty()) TESSILON_SKIP_WITHOUT_REAL_IMAGES();
  test::ScratchDir dir;
  {
    // TSK reads the rebuilt $MFT as a sound one.
    const std::string image = test::CopyOf(source, dir, "split-mft.img");
    SplitMft(image, GeometryOf(image), false);
    const auto istat = RunCommand("istat '" + image + "' 0");
    ASSERT_NE(istat.out.find("$ATTRIBUTE_LIST"), std::string::npos);
    ASSERT_EQ(FlsEntries(image, true), FlsEntries(source, true)) << RunCommand("fls -rd '" + image + "'").out;
  }
  const std::vector<Damaged> cases = {
      {"data-in-an-extension-record", [](Img img, Geo g) { SplitIntoExtension(img, g, 17, 36); }, {}, kAllDeleted},
      {"list-points-at-itself", [](Img img, Geo g) { SplitIntoExtension(img, g, 36, 36); }, {},
       Without(kAllDeleted, "mult2.dat")},  // no data left to find
      {"list-points-at-another-file", [](Img img, Geo g) { SplitIntoExtension(img, g, 17, 29); },
       {"MFT record 36: its attribute list names a record that is not its own; that part is passed over."},
       Without(kAllDeleted, "mult2.dat")},
      {"split-mft", [](Img img, Geo g) { SplitMft(img, g, false); }, {}, kAllDeleted},
      // A list that names record 0 for the second extent too: it is read
      // once, and the records past the first extent are not there.
      {"split-mft-list-names-itself", [](Img img, Geo g) { SplitMft(img, g, true); },
       {"the $MFT claims 39 records, but its runs and the volume hold only 16"}, {}},
  };
  RunDamaged(source, cases);
  // The runs read through the list are the file's own: its bytes are those
  // icat reads of the undamaged file.
  const std::string image = test::CopyOf(source, dir, "split.img");
  SplitIntoExtension(image, GeometryOf(image), 17, 36);
  const auto ours = RunCommand(test::TimedCli("cat " + test::Quote(image) + " --record 36"));
  ASSERT_EQ(ours.status, 0) << ours.err;
  const std::string theirs = RunCommand("icat " + test::Quote(source) + " 36").out;
  EXPECT_EQ(theirs.size(), 1715u);
  EXPECT_TRUE(ours.out == theirs);
}

TEST(NtfsDamage, IndexBlocksThatFailTheirCheckLoseOnlyTheirOwnEntries) {
  const std::string source = test::RealImage("win10-ntfs-index.raw.gz");
  if (source.empty()) TESSILON_SKIP_WITHOUT_REAL_IMAGES();
  test::ScratchDir dir;
  const std::string image = test::CopyOf(source, dir, "index.img");
  const NtfsGeometry g = GeometryOf(image, 128 * 512);
  // The root's index blocks: clusters 72-73, 1825-1826, 1827-1828 and
  // 1829-1830 (istat 5). The third block is torn; the fourth gets an entry of
  // length 0. The second, which names test_dir, stays sound.
  const std::uint64_t second = g.ClusterOffset(1827), fourth = g.ClusterOffset(1829);
  Buffer secondBlock = ReadAt(image, second, 4096), fourthAsRead = ReadAt(image, fourth, 4096);
  Unprotect(secondBlock);  // names may cross a sector end
  Unprotect(fourthAsRead);
  WriteAt(image, second + 1534, {0xAB, 0xCD});
  Buffer fourthBlock = fourthAsRead;
  PutU16(fourthBlock, 24 + GetU32(fourthBlock, 24) + 8, 0);  // the first entry's length
  Protect(fourthBlock, GetU16(fourthBlock, GetU16(fourthBlock, 4)));
  WriteAt(image, fourth, fourthBlock);
  const Scan s = RunScan(image, false);
  ASSERT_EQ(s.status, 0) << s.log;
  // The trace line names the folder, the block's VCN and the index bitmap.
  for (const char* line : {"Folder \"Root\" (record 5): 1 of its index blocks fail their update-sequence check; "
                           "the entries in them are passed over.",
                           "Folder \"Root\" (record 5): an entry of an index block runs past its end; the entries "
                           "after it are passed over.",
                           "Fixup FAILED for (Root) Rnum (5) VCN (4) BMPSize (8) 0F00000000000000"})
    EXPECT_TRUE(s.Logged(line)) << line << "\n" << s.log;
  // What is missing is what stood in the two blocks: its names are in their
  // bytes; every other folder is read. fls gives up on the torn block's
  // whole folder: it lists the undamaged image.
  const auto fls = FlsEntries(source, false, "-o 128");
  const auto ours = s.Records(false);
  std::size_t missing = 0;
  for (const auto& [path, record] : fls) {
    if (ours.count(path)) continue;
    ++missing;
    const std::string name = path.substr(1);
    ASSERT_EQ(name.find('/'), std::string::npos) << path << " is not in the root";
    const Buffer utf16 = Utf16(std::u16string(name.begin(), name.end()));
    auto in = [&](const Buffer& b) { return std::search(b.begin(), b.end(), utf16.begin(), utf16.end()) != b.end(); };
    EXPECT_TRUE(in(secondBlock) || in(fourthAsRead)) << path;
  }
  EXPECT_GT(missing, 0u);
  EXPECT_NE(ours.count("/test_dir/999999999999999.txt"), 0u);
}

TEST(NtfsDamage, AFolderThatListsItsOwnAncestorIsWalkedOnce) {
  test::ScratchDir dir;
  const std::string note = HostFile(dir, "note.txt", "note\n");
  const std::string image = MakeNtfsImage(dir, "loop.img", 16, 4096,
                                          "mkdir\t/A\nmkdir\t/A/B\nfile\t/A/B/x.txt\t" + note + "\n");
  const auto live = FlsEntries(image, false);
  const std::uint64_t a = live.at("/A"), b = live.at("/A/B");
  const NtfsGeometry g = GeometryOf(image);
  const std::uint64_t aAt = RecordOffset(image, g, a), bAt = RecordOffset(image, g, b);
  const std::uint64_t aRef = FileReference(image, g, a), bRef = FileReference(image, g, b);
  const Buffer key = FileNameValue(bRef, 1, u"loop", 0, 0, 0, 0x10000000);
  // A gets a second name, "loop" inside B: a hard link to a folder above.
  EditRecord(image, aAt, [&](Buffer& r) {
    InsertInRecord(r, FindAttribute(r, 0x30) + GetU32(r, FindAttribute(r, 0x30) + 4), ResidentAttribute(0x30, key));
  });
  // And B's index root lists it.
  EditRecord(image, bAt, [&](Buffer& r) {
    const std::size_t root = FindAttribute(r, 0x90), value = root + GetU16(r, root + 20);
    Buffer entry(16 + (key.size() + 7) / 8 * 8, 0);
    PutU64(entry, 0, aRef);
    PutU16(entry, 8, static_cast<std::uint16_t>(entry.size()));
    PutU16(entry, 10, static_cast<std::uint16_t>(key.size()));
    std::copy(key.begin(), key.end(), entry.begin() + 16);
    const std::size_t header = value + 16;
    InsertInRecord(r, header + GetU32(r, header), entry);
    const auto grow = static_cast<std::uint32_t>(entry.size());
    PutU32(r, root + 4, GetU32(r, root + 4) + grow);
    PutU32(r, root + 16, GetU32(r, root + 16) + grow);
    PutU32(r, header + 4, GetU32(r, header + 4) + grow);
    PutU32(r, header + 8, GetU32(r, header + 8) + grow);
  });
  // fls lists the new entry in B (asked for B alone: a recursive listing
  // would have to cope with the loop).
  ASSERT_NE(RunCommand("fls '" + image + "' " + std::to_string(b)).out.find("loop"), std::string::npos)
      << "the edit did not take";
  const Scan s = RunScan(image, false);
  ASSERT_EQ(s.status, 0) << s.log;
  EXPECT_TRUE(s.Logged("Folder \"B\" (record " + std::to_string(b) + ") lists folder \"loop\" (record " +
                       std::to_string(a) + "), which has been walked already; it is not walked again."))
      << s.log;
  EXPECT_NE(s.Find("/A/B/x.txt"), nullptr);
  for (const auto& e : s.entries) EXPECT_EQ(e["path"].get<std::string>().find("/loop"), std::string::npos);
}

// Folder /many's index allocation (120 long names: it outgrew its record)
// rebuilt two ways NTFS allows. In two extents, the second (which alone
// does not tell the size) in an extension record an attribute list names:
// both extents' blocks are read, as one index. Or behind a sparse run of
// 2^20 clusters (4 GiB): the blocks in it read as zeros and must cost
// neither the walk's budget nor the folder's entries after them.
void SplitIndexAllocation(const std::string& image, const NtfsGeometry& g, std::uint64_t many) {
  const std::uint64_t self = FileReference(image, g, many);
  std::uint64_t lcn = 0, clusters = 0;
  EditRecord(image, RecordOffset(image, g, many), [&](Buffer& r) {
    const std::size_t at = FindAttribute(r, 0xA0), pairs = at + GetU16(r, at + 32);
    // One run, one byte of length and two of offset, as ntfs-3g writes it.
    ASSERT_EQ(r[pairs], 0x21);
    ASSERT_EQ(r[pairs + 4], 0);
    clusters = r[pairs + 1];
    lcn = GetU16(r, pairs + 2);
    ASSERT_GE(clusters, 4u);
    r[pairs + 1] = static_cast<std::uint8_t>(clusters / 2);  // this extent: the first half
    PutU64(r, at + 24, clusters / 2 - 1);
    InsertAttributeList(r, {{0x10, 0, self}, {0x30, 0, self}, {0x90, 0, self}, {0xA0, 0, self},
                            {0xA0, clusters / 2, 17 | std::uint64_t{1} << 48}, {0xB0, 0, self}});
  });
  // The second extent, named $I30 as NTFS names it, sizes 0; its name goes
  // where the mapping pairs stood, and they move 8 bytes on.
  const std::uint64_t second = lcn + clusters / 2, rest = clusters - clusters / 2;
  Buffer pairs = Utf16(u"$I30");
  pairs.insert(pairs.end(), {0x21, static_cast<std::uint8_t>(rest), static_cast<std::uint8_t>(second),
                             static_cast<std::uint8_t>(second >> 8)});
  Buffer a = NonResidentAttribute(0xA0, pairs, 0, clusters / 2);
  a[9] = 4;  // name length, at 64
  PutU16(a, 32, 72);
  PutU64(a, 24, clusters - 1);
  WriteAt(image, RecordOffset(image, g, 17), RecordBuilder(1, 1, self).Add(a).Build());
}
void PutSparseRunFirst(const std::string& image, const NtfsGeometry& g, std::uint64_t many) {
  constexpr std::uint64_t kSparse = 1 << 20;
  EditRecord(image, RecordOffset(image, g, many), [&](Buffer& r) {
    const std::size_t at = FindAttribute(r, 0xA0);
    Buffer pair(8, 0);
    pair[0] = 0x07;  // 7 bytes of length, no offset: sparse
    for (int i = 0; i < 7; ++i) pair[1 + i] = static_cast<std::uint8_t>(kSparse >> (8 * i));
    InsertInRecord(r, at + GetU16(r, at + 32), pair);
    PutU32(r, at + 4, GetU32(r, at + 4) + 8);
    PutU64(r, at + 24, GetU64(r, at + 24) + kSparse);
    for (const std::size_t size : {40, 48, 56}) PutU64(r, at + size, GetU64(r, at + size) + kSparse * 4096);
  });
}

TEST(NtfsDamage, AFolderIndexInTwoExtentsOrBehindASparseRunIsReadWhole) {
  test::ScratchDir dir;
  const std::string note = HostFile(dir, "note.txt", "note\n");
  std::string commands = "mkdir\t/many\n";
  for (int i = 0; i < 120; ++i) commands += "file\t/many/file-with-a-long-name-" + std::to_string(i) + ".txt\t" + note + "\n";
  const std::string source = MakeNtfsImage(dir, "many.img", 16, 4096, commands + "mkdir\t/after\nfile\t/after/last.txt\t" + note + "\n");
  const auto live = FlsEntries(source, false);
  ASSERT_TRUE(live.count("/many/file-with-a-long-name-119.txt") && live.count("/after/last.txt"));
  const std::uint64_t many = live.at("/many");
  const std::string told = "Folder \"many\" (record " + std::to_string(many) + "): ";
  const struct {
    const char* name;
    void (*edit)(const std::string&, const NtfsGeometry&, std::uint64_t);
    std::vector<std::string> logged, absent;
    bool tskReadsIt;
  } cases[] = {
      {"two-extents", SplitIndexAllocation, {}, {"of its index blocks"}, true},
      {"sparse-run", PutSparseRunFirst,
       {told, "of its index blocks lie in no cluster the volume holds (sparse, unmapped or past the end of its "
              "image); they are passed over."},
       {"the walk of the indexes was cut short", "fail their update-sequence check"}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string image = test::CopyOf(source, dir, std::string(c.name) + ".img");
    const NtfsGeometry g = GeometryOf(image);
    ASSERT_NE(FindAttribute(ReadAt(image, RecordOffset(image, g, many), 1024), 0xA0), 0u)
        << "the folder's index did not outgrow its record";
    c.edit(image, g, many);
    ASSERT_TRUE(!c.tskReadsIt || FlsEntries(image, false) == live) << "The Sleuth Kit does not read the folder whole";
    const Scan s = RunScan(image, false);
    ASSERT_EQ(s.status, 0) << s.log;
    for (const auto& line : c.logged) EXPECT_TRUE(s.Logged(line)) << line << "\n" << s.log;
    for (const auto& line : c.absent) EXPECT_FALSE(s.Logged(line)) << line << "\n" << s.log;
    EXPECT_EQ(Difference(s.Records(false), live), "");
  }
}

// A volume cut short whose $MFT claims 2^22 clusters (16 M records) past the
// end of its 16 MiB image: the passes read the records the image holds and
// pass over the rest unread, zeros as they would be.
TEST(NtfsDamage, MftRecordsPastTheEndOfACutShortImageAreNotRead) {
  test::ScratchDir dir;
  const std::string note = HostFile(dir, "note.txt", "note\n");
  const std::string image = MakeNtfsImage(dir, "cut.img", 16, 4096, "file\t/gone.txt\t" + note + "\nrm\t/gone.txt\n");
  const NtfsGeometry g = GeometryOf(image);
  const std::uint64_t record0 = RecordOffset(image, g, 0), record6 = RecordOffset(image, g, 6);
  constexpr std::uint64_t kClaimed = 2000 * 4096, kMftClusters = 1 << 22;  // clusters: of the volume and the $MFT
  auto setRun = [](Buffer& r, std::size_t at, const Buffer& pair, std::uint64_t clusters, std::uint64_t size) {
    const std::size_t pairs = at + GetU16(r, at + 32);
    ASSERT_GE(at + GetU32(r, at + 4), pairs + pair.size() + 1);
    std::copy(pair.begin(), pair.end(), r.begin() + static_cast<std::ptrdiff_t>(pairs));
    r[pairs + pair.size()] = 0;
    PutU64(r, at + 24, clusters - 1);
    PutU64(r, at + 40, clusters * 4096);
    PutU64(r, at + 48, size);
    PutU64(r, at + 56, size);
  };
  // $Bitmap sized for the whole claimed volume, its clusters past the cut.
  EditRecord(image, record6, [&](Buffer& r) {
    const std::uint64_t bytes = kClaimed / 8, clusters = bytes / 4096;
    setRun(r, FindAttribute(r, 0x80), {0x32, static_cast<std::uint8_t>(clusters), static_cast<std::uint8_t>(clusters >> 8), 0x00, 0x00, 0x20},
           clusters, bytes);
  });
  // The $MFT's one run from cluster 4 on, far past the cut.
  EditRecord(image, record0, [&](Buffer& r) {
    ASSERT_EQ(g.mftCluster, 4u);
    setRun(r, FindAttribute(r, 0x80), {0x14, 0x00, 0x00, 0x40, 0x00, 0x04}, kMftClusters, kMftClusters * 4096);
  });
  Buffer boot = ReadAt(image, 0, 512);
  PutU64(boot, 40, kClaimed * 8);
  WriteAt(image, 0, boot);
  const std::uintmax_t imageBytes = std::filesystem::file_size(image);

  for (const auto command : {kCmdBuildFileListOnly, kCmdBuildIndexedFileList}) {
    SCOPED_TRACE(command);
    test::HeadlessApp h;
    h.OpenImages({image});
    h.ui.PostCommand(command);
    h.ui.RunDialog();
    const std::string log = h.LogText();
    ASSERT_NE(log.find("claims 65536000 sectors but its image holds 32768"), std::string::npos) << log;
    ASSERT_EQ(log.find("cannot be scanned"), std::string::npos) << log;
    // Each record read is a step of the progress bar: both passes, and for
    // the indexed scan the walk before them, over no more than the image holds.
    EXPECT_LE(h.ui.ProgressState().steps, 3 * imageBytes / 1024) << log;
    const Scan s = RunScan(image, command == kCmdBuildFileListOnly);
    EXPECT_NE(s.Find("/gone.txt"), nullptr) << s.log;
  }
  EXPECT_EQ(std::filesystem::file_size(image), imageBytes);
}

}  // namespace
}  // namespace tsn
