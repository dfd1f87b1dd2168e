// NTFS volumes read through a FUSE file system that answers EIO for chosen
// sectors, as a failing disk does, compared with the same scan or copy of the
// intact image and with The Sleuth Kit's reading of it: only what lies in the
// bad sectors may be lost, and the log says what could not be read rather
// than call it damage.

#include <random>

#include "ntfs_test_support.h"

namespace tsn {
namespace {

using namespace ntfstest;
using test::Count;
using test::Fixture;
using test::Quote;
using test::ReadAll;
using test::RunCommand;
using Ranges = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

std::string Range(std::uint64_t first, std::uint64_t last) {
  return "bytes " + std::to_string(first) + "\u2013" + std::to_string(last);
}

// The log of the scan itself: the drive list before it reads record 0 and
// $Bitmap too, and says so in its own right.
std::string ScanLog(const Scan& s) {
  const std::size_t at = s.log.find("Drive mapping complete.");
  return at == std::string::npos ? std::string() : s.log.substr(at);
}

// Every entry a scan lists, path -> state, without the entries of `lost` records.
std::map<std::string, std::string> Listing(const Scan& s, const std::set<std::uint64_t>& lost = {}) {
  std::map<std::string, std::string> out;
  for (const auto& e : s.entries)
    if (!lost.count(e["record"].get<std::uint64_t>())) out[e["path"]] = e["state"];
  return out;
}

// ---------------------------------------------------------------------------
// Scans of the 4 KiB-cluster fixture with unreadable MFT records, index
// blocks and $Bitmap sectors.

class NtfsReadErrors : public ::testing::Test {
 protected:
  static const Scan& Intact(bool quick) {
    static const Scan scans[2] = {RunScan(image_, false), RunScan(image_, true)};
    return scans[quick ? 1 : 0];
  }
  static std::uint64_t Record(const std::string& path, bool deleted = false) {
    return FlsEntries(image_, deleted).at(path);
  }
  static std::uint64_t RecordAt(std::uint64_t n) { return RecordOffset(image_, GeometryOf(image_), n); }
  static inline const std::string image_ = Fixture("ntfs-4k.img");
};

TEST_F(NtfsReadErrors, WhatLiesInUnreadableSectorsIsToldAndNothingElseIsLost) {
  const NtfsGeometry g = GeometryOf(image_);
  const std::uint64_t readme = Record("/Documents/readme.txt"), note = Record("/Documents/deleted-note.txt", true);
  const std::uint64_t documents = Record("/Documents"), many = Record("/Many"), mft = 0;
  const std::uint64_t rootBlock = g.ClusterOffset(test::IstatClusters(image_, 5, "$INDEX_ALLOCATION").at(0));
  const std::vector<std::uint64_t> manyIndex = test::IstatClusters(image_, many, "$INDEX_ALLOCATION");
  auto manyBlock = [&](std::size_t n) { return g.ClusterOffset(manyIndex.at(n)); };
  auto manyTold = [&](std::size_t n) {
    return "Folder \"/Many\" (record " + std::to_string(many) + "): index block " + std::to_string(n) + " (bytes " +
           std::to_string(n * 4096) + "\u2013" + std::to_string(n * 4096 + 4095) + " of its index) could not be read (";
  };
  struct Case {
    std::string name;
    Ranges bad;
    std::set<std::uint64_t> lost[2];    // records whose entries go, indexed and quick scan
    std::vector<std::string> told[2];   // lines each scan logs exactly once
  };
  const std::vector<Case> cases = {
      {"a-file-record-and-a-deleted-one",
       {{RecordAt(readme), RecordAt(readme) + 1023}, {RecordAt(note) + 512, RecordAt(note) + 1023}},
       {{readme, note}, {note}},
       {{"Folder \"/Documents\" (record " + std::to_string(documents) + "): MFT record " + std::to_string(readme) +
             " of \"readme.txt\" could not be read (" + Range(RecordAt(readme), RecordAt(readme) + 1023) +
             ": Input/output error); the file is not listed.",
         "MFT record " + std::to_string(note) + " could not be read (" +
             Range(RecordAt(note) + 512, RecordAt(note) + 1023) + ": Input/output error)"},
        {"MFT record " + std::to_string(readme) + " could not be read (",
         "MFT record " + std::to_string(note) + " could not be read ("}}},
      // The folder stays listed from its entry in the root's index; what it
      // holds comes from the MFT records that name it as their parent.
      {"a-folder-record",
       {{RecordAt(documents) + 512, RecordAt(documents) + 1023}},
       {{}, {}},
       {{"Folder \"/Documents\" (record " + std::to_string(documents) + "): MFT record " +
             std::to_string(documents) + " could not be read (" +
             Range(RecordAt(documents) + 512, RecordAt(documents) + 1023) +
             ": Input/output error); the folder is listed, and what it holds is looked for in the MFT."},
        {"MFT record " + std::to_string(documents) + " could not be read ("}}},
      // The root's only index block: every top folder and system file is
      // found through the MFT, and each folder is walked as usual.
      {"the-root-index-block",
       {{rootBlock + 512, rootBlock + 1023}},
       {{}, {}},
       {{"Folder \"/\" (record 5): index block 0 (bytes 0\u20134095 of its index) could not be read (" +
             Range(rootBlock + 512, rootBlock + 1023) + ": Input/output error); the entries it held are looked "
                                                       "for in the MFT.",
         "10 files and 10 folders that the unreadable parts of folder indexes held were found through the MFT."},
        {}}},
      // The root's own record: what it holds is found through the MFT.
      {"the-root-record",
       {{RecordAt(5) + 512, RecordAt(5) + 1023}},
       {{}, {}},
       {{"Folder \"/\" (record 5): MFT record 5 could not be read (" + Range(RecordAt(5) + 512, RecordAt(5) + 1023) +
         ": Input/output error); its index cannot be read, and what it holds is looked for in the MFT."},
        {"MFT record 5 could not be read (" + Range(RecordAt(5) + 512, RecordAt(5) + 1023) + ": Input/output error)"}}},
      // Blocks of /Many, one whole, two in part.
      {"index-blocks-of-many",
       {{manyBlock(2), manyBlock(2) + 4095}, {manyBlock(9) + 2048, manyBlock(9) + 2559},
        {manyBlock(40), manyBlock(40) + 511}},
       {{}, {}},
       {{manyTold(2), manyTold(9), manyTold(40)}, {}}},
      // The mirror's copy serves; the $MFT's own entry in the root's index
      // names the record that could not be read.
      {"record-0",
       {{g.MftOffset(), g.MftOffset() + 511}},
       {{mft}, {}},
       {{"record 0 of the $MFT at cluster " + std::to_string(g.mftCluster) + " cannot be used (it could not be read: " +
             Range(g.MftOffset(), g.MftOffset() + 511) + ": Input/output error); its copy in $MFTMirr at cluster " +
             std::to_string(g.mirrorCluster) + " is tried.",
         "MFT record 0 of \"$MFT\" could not be read ("},
        {"its copy in $MFTMirr at cluster " + std::to_string(g.mirrorCluster) + " is tried."}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::FailingImage failing(image_, c.bad);
    if (failing.path().empty()) GTEST_SKIP() << failing.why();
    for (const bool quick : {false, true}) {
      SCOPED_TRACE(quick ? "quick" : "indexed");
      const Scan s = RunScan(failing.path(), quick);
      EXPECT_EQ(Listing(s), Listing(Intact(quick), c.lost[quick])) << s.log;
      for (const std::string& line : c.told[quick]) EXPECT_EQ(Count(ScanLog(s), line), 1u) << line << "\n" << s.log;
      // An unreadable sector is not damage, and not an empty record.
      for (const char* misread : {"update-sequence", "holds no file record", "not a sound file record", "reads as zeros",
                                  "runs past", "attribute list"})
        EXPECT_FALSE(s.Logged(misread)) << misread << "\n" << s.log;
    }
  }
}

// Unreadable sectors of $Bitmap: the clusters they describe count as in use.
TEST_F(NtfsReadErrors, ClustersWhoseBitmapCannotBeReadAreNeitherFreeNorRecoverable) {
  const NtfsGeometry g = GeometryOf(image_);
  const std::vector<std::uint64_t> bitmapClusters = test::IstatClusters(image_, 6);
  const std::uint64_t sector = 3;  // clusters 12288-16383
  const std::uint64_t at = g.ClusterOffset(bitmapClusters.at(0)) + sector * 512;
  test::FailingImage failing(image_, {{at, at + 511}});
  if (failing.path().empty()) GTEST_SKIP() << failing.why();
  const std::uint64_t clusters = g.totalSectors * 512 / g.clusterBytes;
  const std::uint64_t unknown = std::min<std::uint64_t>(clusters, (sector + 1) * 4096) - sector * 4096;
  std::map<std::uint64_t, bool> inThere;  // by record: a cluster of its data lies there
  for (const auto& e : Intact(false).entries)
    if (e["deleted"].get<bool>() && !e["folder"].get<bool>())
      for (const std::uint64_t c : test::IstatClusters(image_, e["record"].get<std::uint64_t>()))
        inThere[e["record"]] = inThere[e["record"]] || (c >= sector * 4096 && c < (sector + 1) * 4096);
  for (const bool quick : {false, true}) {
    SCOPED_TRACE(quick ? "quick" : "indexed");
    const Scan s = RunScan(failing.path(), quick);
    EXPECT_EQ(Count(ScanLog(s), "C: 512 bytes of $Bitmap could not be read (" + Range(at, at + 511) +
                                    ": Input/output error), so whether the " + std::to_string(unknown) +
                                    " clusters they describe are in use is not known"), 1u) << s.log;
    // A deleted file with a cluster there is judged in use; no other changes.
    const auto before = Listing(Intact(quick)), after = Listing(s);
    ASSERT_EQ(before.size(), after.size());
    int changed = 0;
    for (const auto& e : Intact(quick).entries) {
      if (!e["deleted"].get<bool>() || e["folder"].get<bool>()) continue;
      const std::string path = e["path"];
      const bool judgedInUse = inThere[e["record"]];
      EXPECT_EQ(after.at(path), judgedInUse ? "Chain is in use" : before.at(path)) << path;
      changed += judgedInUse && before.at(path) == "Recovery may be possible";
    }
    EXPECT_GE(changed, 2);
  }
  // The free share counts whole free bytes of the bitmap; the unread ones are not.
  const std::string bitmap = RunCommand("icat " + Quote(image_) + " 6").out;
  std::uint64_t freeBytes = 0;
  for (std::uint64_t i = 0; i < clusters / 8; ++i) freeBytes += bitmap[i] == 0 && i / 512 != sector;
  char share[32];
  std::snprintf(share, sizeof share, "%% %.02f", 100.0 * static_cast<double>(freeBytes) / static_cast<double>(clusters / 8));
  const auto drives = RunCommand(test::TimedCli("drives --no-devices --json " + Quote(failing.path())));
  EXPECT_EQ(nlohmann::json::parse(drives.out)["Sparse"], share) << drives.err;
}

// ---------------------------------------------------------------------------
// Copy-out through bad sectors, and its manifest.

// The copy holds icat's bytes of the intact image but in `zeros` (inclusive
// offsets of the file), which hold zeros.
void ExpectIcatBytesBut(const std::string& image, std::uint64_t record, const std::string& copy, const Ranges& zeros) {
  std::string expected = RunCommand("icat " + Quote(image) + " " + std::to_string(record)).out;
  ASSERT_FALSE(expected.empty());
  for (const auto& [first, last] : zeros) std::fill(expected.begin() + first, expected.begin() + last + 1, '\0');
  EXPECT_TRUE(ReadAll(copy) == expected) << copy;
}

TEST(NtfsCopyReadErrors, EveryReadableByteIsKeptAndEachUnreadableStretchIsNamed) {
  test::ScratchDir dir;
  std::mt19937 rng(18);  // the same bytes every run, so a failure can be repeated
  std::string random(1 << 20, '\0');
  for (char& b : random) b = static_cast<char>(rng());
  HostFile(dir, "random.bin", random);
  const std::string image = MakeNtfsImage(dir, "big.img", 16, 4096,
                                          "mkdir\t/Big\nfile\t/Big/random.bin\t" + dir.Path("random.bin") +
                                              "\nrm\t/Big/random.bin\n");
  const std::uint64_t record = FlsEntries(image, true).at("/Big/random.bin");
  const std::vector<std::uint64_t> clusters = test::IstatClusters(image, record);
  ASSERT_EQ(clusters.size(), 256u);
  const NtfsGeometry g = GeometryOf(image);
  auto onDisk = [&](std::uint64_t offset) { return g.ClusterOffset(clusters.at(offset / 4096)) + offset % 4096; };
  // One sector in the middle, and two that straddle a cluster's end.
  const Ranges inFile{{524288 + 1536, 524288 + 2047}, {823296 - 512, 823296 + 511}};
  Ranges bad;
  for (const auto& [first, last] : inFile)
    for (std::uint64_t sector = first; sector < last; sector += 512) bad.emplace_back(onDisk(sector), onDisk(sector) + 511);
  test::FailingImage failing(image, bad);
  if (failing.path().empty()) GTEST_SKIP() << failing.why();
  const std::string out = dir.Path("out");
  const auto r = test::CliCopy(failing.path(), out);
  ExpectIcatBytesBut(image, record, out + "/Big/random.bin", inFile);
  for (const auto& [first, last] : inFile)
    EXPECT_EQ(Count(r.err, Range(first, last) + " of " + out + "/Big/random.bin could not be read (Input/output error)."), 1u)
        << r.err;
  EXPECT_EQ(Count(r.err, "could not be read ("), 2u) << r.err;
  EXPECT_TRUE(test::Has(r.err, out + "/Big/random.bin was not copied in full: 1536 bytes of it could not be read, in "
                                   "2 places; they are written as zeros")) << r.err;
  // The manifest keeps the copy as incomplete, says why, and its sums
  // verify the copy as written, zeros and all.
  const std::string manifest = ReadAll(out + "/tessilon-manifest.csv");
  EXPECT_EQ(Count(manifest, "\r\n"), 2u) << manifest;
  for (const char* part : {"Big/random.bin,1048576,", ",incomplete,/Big/random.bin,", "could not be read"})
    EXPECT_TRUE(test::Has(manifest, part)) << part << "\n" << manifest;
  const auto sums = RunCommand("cd " + Quote(out) + " && sha256sum -c --strict SHA256SUMS && md5sum -c --strict MD5SUMS");
  EXPECT_EQ(sums.status, 0) << sums.out << sums.err;
}

// A compressed unit with a bad sector cannot be decompressed: the whole unit
// is zeros and named, and the units after it come back.
TEST(NtfsCopyReadErrors, ACompressedUnitWithAnUnreadableSectorIsZerosAndNamed) {
  const std::string image = Fixture("ntfs-4k.img");
  const std::string path = "/Compressed/deleted-compressed.txt";
  const std::uint64_t record = FlsEntries(image, true).at(path);
  const std::vector<std::uint64_t> clusters = test::IstatClusters(image, record);
  ASSERT_EQ(clusters.at(15), 0u) << "the first unit is not stored compressed";
  const NtfsGeometry g = GeometryOf(image);
  const std::uint64_t at = g.ClusterOffset(clusters.at(1)) + 1024;
  test::FailingImage failing(image, {{at, at + 511}});
  if (failing.path().empty()) GTEST_SKIP() << failing.why();
  test::ScratchDir dir;
  const auto r = test::CliCopy(failing.path(), dir.Path("out"), {path});
  ExpectIcatBytesBut(image, record, dir.Path("out") + path, {{0, 65535}});
  EXPECT_EQ(Count(r.err, Range(0, 65535) + " of " + dir.Path("out") + "/Compressed/deleted-compressed.txt could not be read"), 1u) << r.err;
  EXPECT_TRUE(test::Has(r.err, "1 of its compressed units could not be read in full and so cannot be decompressed"))
      << r.err;
}

}  // namespace
}  // namespace tsn
