// A FAT32 volume made by mkfs.fat and mtools, served through FUSE with chosen sectors answering EIO: what the scans
// and copy-out make of the rest, against The Sleuth Kit's reading of the intact image.

#include <regex>
#include <sstream>

#include "test_support.h"

namespace tsn {
namespace {

using test::RunCommand;
using test::Scan;
using Sectors = std::vector<std::uint64_t>;

std::string Bytes(std::uint64_t sector) {
  return "bytes " + std::to_string(sector * 512) + "\u2013" + std::to_string(sector * 512 + 511);
}

// The volume tests/data/fat-read-errors-volume.sh makes, with the numbers fls and fsstat give its entries and areas.
class FatReadErrors : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::ScratchDir;
    image_ = dir_->Path("vol.img");
    const auto r = RunCommand("cd " + test::Quote(dir_->dir()) + " && bash " + TESSILON_SOURCE_DIR +
                              "/tests/data/fat-read-errors-volume.sh");
    ASSERT_EQ(r.status, 0) << r.err;
    for (const std::string& line : test::Split(RunCommand("fls -r -p " + image_).out, '\n')) {
      const auto colon = line.find(':'), tab = line.find('\t');
      if (tab == std::string::npos || line.find('$') != std::string::npos) continue;
      inodes_["/" + line.substr(tab + 1)] = std::stoull(line.substr(line.find_last_of(" *", colon) + 1));
    }
    const std::string layout = RunCommand("fsstat " + image_).out;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(layout, m, std::regex("Cluster Area: (\\d+)"))) << layout;
    dataStart_ = std::stoull(m[1]);
    ASSERT_TRUE(std::regex_search(layout, m, std::regex("\\* FAT 1: (\\d+)")));
    secondFat_ = std::stoull(m[1]);
  }
  static void TearDownTestSuite() { delete dir_; }

  // The sector of an entry, from fls's numbering: three, then sixteen a sector.
  static std::uint64_t EntrySector(const std::string& path) { return dataStart_ + (inodes_.at(path) - 3) / 16; }

  // The sectors of a file as istat gives them.
  static Sectors FileSectors(const std::string& path) {
    std::istringstream in(RunCommand("istat " + image_ + " " + std::to_string(inodes_.at(path)) +
                                     " | sed -n '/Sectors:/,$p' | tail -n +2").out);
    Sectors out;
    for (std::uint64_t s; in >> s;) out.push_back(s);
    return out;
  }

  static test::FailingImage Failing(const Sectors& bad) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
    for (const std::uint64_t s : bad) ranges.emplace_back(s * 512, s * 512 + 511);
    return test::FailingImage(image_, ranges);
  }

  static inline test::ScratchDir* dir_ = nullptr;
  static inline std::string image_;
  static inline std::map<std::string, std::uint64_t> inodes_;  // fls's path -> its number
  static inline std::uint64_t dataStart_ = 0, secondFat_ = 0;
};

// One unreadable folder cluster: the folder stays, a line names it, and every entry whose own slots (long-name entries
// included) and whose folders' entries all lie elsewhere is listed as fls lists it. An entry whose long name ran into
// the bad sector is listed by its short name.
TEST_F(FatReadErrors, AnUnreadableFolderClusterCostsOnlyItsOwnEntries) {
  const struct {
    std::string firstLost, said;
  } cases[] = {
      {"/Lost", "cluster 2 of the root folder could not be read ("},
      {"/Keep/Kept file 08", "of folder \"/Keep\" could not be read ("},
      {"/Names/A rather longer file name 01.txt", "of folder \"/Names\" could not be read ("},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.firstLost);
    const std::uint64_t bad = EntrySector(c.firstLost);
    test::FailingImage failing = Failing({bad});
    if (failing.path().empty()) GTEST_SKIP() << failing.why();
    const Scan s = test::RunScan(failing.path(), false);
    EXPECT_NE(s.log.find(c.said + Bytes(bad)), std::string::npos) << s.log;
    std::set<std::string> expected;
    std::size_t cutNames = 0;
    std::map<std::string, std::uint64_t> lastSectorIn;  // folder -> sector of its entry before
    for (const auto& [path, inode] : inodes_) {
      const std::string folder = path.substr(0, path.rfind('/')), name = path.substr(path.rfind('/') + 1);
      bool lost = false;
      for (std::size_t at = path.find('/', 1); !lost; at = path.find('/', at + 1)) {
        lost = EntrySector(path.substr(0, at)) == bad;
        if (at == std::string::npos) break;
      }
      // A name of 27 to 39 characters has three long-name entries, which may begin in the cluster before.
      const bool cut = !lost && name.size() > 26 && (inode - 3) % 16 < 3 && lastSectorIn[folder] == bad;
      lastSectorIn[folder] = EntrySector(path);
      if (lost || inode == 3 || name[0] == '_') continue;  // the label; deleted 8.3 names, which fls spells its way
      if (cut) ++cutNames;
      else expected.insert(path);
    }
    std::set<std::string> listed, shortNames;
    for (const auto& e : s.entries) {
      const std::string path = e["path"];
      (path.find('~') != std::string::npos ? shortNames : listed).insert(path);
    }
    listed.erase("/READERR");
    for (const char* d : {"/dictim.bin", "/dreed.bin", "/done.bin"}) listed.erase(d);  // fls: _ictim.bin...
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(shortNames.size(), cutNames);
    if (cutNames > 0) {
      EXPECT_TRUE(test::Has(s.log, "runs on into " + Bytes(bad) + ", which could not be read"));
    }
  }
}

// The quick scan reads many clusters at once; one unreadable sector of a folder loses only the deleted entries in it,
// and the log says where.
TEST_F(FatReadErrors, TheQuickScanLosesOnlyTheDeletedEntriesInTheBadSector) {
  const std::uint64_t bad = EntrySector("/Lost/Lost file 08");
  test::FailingImage failing = Failing({bad});
  if (failing.path().empty()) GTEST_SKIP() << failing.why();
  const Scan s = test::RunScan(failing.path(), true);
  std::set<std::string> expected, listed;
  for (const auto& [path, inode] : inodes_)
    if (path.rfind("/Lost/", 0) == 0 && EntrySector(path) != bad) expected.insert(path.substr(5));
  for (const auto& e : s.entries) listed.insert(e["path"]);
  EXPECT_EQ(expected.size(), 22u);
  for (const char* other : {"/dictim.bin", "/dreed.bin", "/done.bin"}) EXPECT_EQ(listed.erase(other), 1u) << other;
  EXPECT_EQ(listed, expected);
  EXPECT_TRUE(test::Has(s.log, "cluster " + std::to_string(bad - dataStart_ + 2) + " could not be read in full (" +
                                    Bytes(bad) + " of " + failing.path() + "); deleted entries")) << s.log;
}

// The FAT sector holding the entries of a deleted file whose cluster was taken, and of one whose cluster is free:
// unreadable in the first FAT, it comes from the second and nothing changes; unreadable in both, the free one is no
// longer judged recoverable, nor are unknown entries counted free.
TEST_F(FatReadErrors, AnUnreadableFatSectorIsTakenFromTheSecondFatOrJudgedUnknown) {
  const Scan intact = test::RunScan(image_, false);
  ASSERT_NE(intact.Find("/dreed.bin"), nullptr);
  const std::uint64_t k = (*intact.Find("/dreed.bin"))["record"].get<std::uint64_t>() / 128;
  ASSERT_EQ((*intact.Find("/dictim.bin"))["record"].get<std::uint64_t>() / 128, k);
  EXPECT_EQ((*intact.Find("/dictim.bin"))["state"], "Chain is in use");
  EXPECT_EQ((*intact.Find("/dreed.bin"))["state"], "Recovery may be possible");
  auto freeShare = [](const std::string& image) {
    const auto j = nlohmann::json::parse(RunCommand(test::Cli("drives --no-devices --json " + image)).out);
    return std::stod(j["Sparse"].get<std::string>().substr(2));
  };
  const double intactShare = freeShare(image_);
  const struct {
    Sectors bad;
    std::string freedState, said;
  } cases[] = {
      {{32 + k}, "Recovery may be possible",
       "1 sector of the first FAT could not be read; it was read from the second FAT instead."},
      // And a sector of free clusters, so that the free share shows it.
      {{32 + k, secondFat_ + k, 32 + 700, secondFat_ + 700}, "Chain is in use",
       "256 entries of the FAT (clusters " + std::to_string(k * 128) + "\u2013" + std::to_string(k * 128 + 127) +
           ", 89600\u201389727) could not be read in any copy of it"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.said);
    test::FailingImage failing = Failing(c.bad);
    if (failing.path().empty()) GTEST_SKIP() << failing.why();
    for (const bool quick : {false, true}) {
      const Scan s = test::RunScan(failing.path(), quick);
      ASSERT_NE(s.Find("/dictim.bin"), nullptr) << s.log;
      EXPECT_EQ((*s.Find("/dictim.bin"))["state"], "Chain is in use");
      EXPECT_EQ((*s.Find("/dreed.bin"))["state"], c.freedState);
      EXPECT_NE(s.log.find(c.said), std::string::npos) << s.log;
    }
    // 128 clusters of 98,304 fewer free: 0.13 points.
    EXPECT_NEAR(freeShare(failing.path()), intactShare - (c.bad.size() == 1 ? 0 : 0.13), 0.011);
  }
}

// One unreadable sector in the middle of a 1 MiB file, live and deleted: the copy keeps every other byte as icat reads
// it, zeros for the sector, and the log names its bytes within the file.
TEST_F(FatReadErrors, CopyKeepsEveryReadableByteAndZerosTheBadSector) {
  const Sectors big = FileSectors("/big.bin"), gone = FileSectors("/_one.bin");
  ASSERT_EQ(std::pair(big.size(), gone.size()), std::pair(std::size_t{2048}, std::size_t{2048}));
  test::FailingImage failing = Failing({big[1024], gone[1024]});
  if (failing.path().empty()) GTEST_SKIP() << failing.why();
  const std::string out = dir_->Path("out");
  const auto r = RunCommand(test::Cli("copy " + failing.path() + " --to " + out + " /big.bin /done.bin"));
  EXPECT_NE(r.err.find("2 could not be copied in full"), std::string::npos) << r.err;
  for (const auto& [ours, theirs] : {std::pair{"big.bin", "/big.bin"}, std::pair{"_one.bin", "/_one.bin"}}) {
    SCOPED_TRACE(ours);
    EXPECT_TRUE(test::Has(r.err, "Error  bytes 524288\u2013524799 of " + out + "/" + ours + " could not be read."))
        << r.err;
    std::string icat = RunCommand("icat -r " + image_ + " " + std::to_string(inodes_.at(theirs))).out;
    ASSERT_EQ(icat.size(), 1048576u);
    EXPECT_TRUE(test::ReadAll(out + "/" + ours) == icat.replace(524288, 512, 512, '\0'));
  }
}

}  // namespace
}  // namespace tsn
