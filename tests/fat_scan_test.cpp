// The two FAT32 scans, end to end through the command line, on volumes made
// by mkfs.fat and mtools and on real-world volumes, damaged ones among them.
// The Sleuth Kit's fls is the independent oracle.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "app/main_dialog.h"
#include "fs/fat/fat_table.h"
#include "test_support.h"

namespace tsn {
namespace {

using test::RunCommand;
using test::Scan;

Scan RunScan(const std::string& image, bool quick) { return test::RunScan(image, quick, "", 120); }

// fls -r -p: the live (or deleted) regular files and folders by path.
std::set<std::string> FlsPaths(const std::string& image, bool deleted) {
  const auto r = RunCommand("fls -r -p " + std::string(deleted ? "-d " : "-u ") + "'" + image + "'");
  std::set<std::string> out;
  std::istringstream in(r.out);
  for (std::string line; std::getline(in, line);) {
    const auto tab = line.find('\t');
    if (tab == std::string::npos || line.find("$") != std::string::npos ||
        line.find("(Volume Label Entry)") != std::string::npos)
      continue;
    if (line.rfind("r/r", 0) != 0 && line.rfind("d/d", 0) != 0) continue;
    out.insert("/" + line.substr(tab + 1));
  }
  return out;
}

// A FAT32 volume with 512-byte clusters, so folders span many clusters and
// long names run across cluster edges.
class FatVolume : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::ScratchDir;
    image_ = dir_->Path("vol.img");
    const std::string d = dir_->dir();
    std::string script = "set -e; export MTOOLS_SKIP_CHECK=1; truncate -s 48M " + image_ +
                         "; mkfs.fat -F 32 -s 1 -n FATSCAN " + image_ + " >/dev/null; cd " + d +
                         "; printf 'keep me\\n' > keep.txt; head -c 5000 /dev/urandom > blob.bin;"
                         " printf '' > empty.txt;"
                         " mmd -i vol.img ::/Docs ::/Trash ::/Docs/Deeper;";
    for (int i = 0; i < 40; ++i)
      script += " mcopy -i vol.img keep.txt '::/Docs/Long document name number " +
                std::to_string(i) + ".txt';";
    script += " mcopy -i vol.img blob.bin ::/Trash/a.bin; mcopy -i vol.img keep.txt ::/Trash/b.txt;"
              " mcopy -i vol.img blob.bin '::/Docs/Deeper/中文 文件名 résumé.bin';"
              " mcopy -i vol.img blob.bin ::/root-deleted.bin; mcopy -i vol.img empty.txt ::/empty.txt;"
              " mdeltree -i vol.img ::/Trash; mdel -i vol.img ::/root-deleted.bin;"
              " mdel -i vol.img '::/Docs/Long document name number 7.txt'";
    const auto r = RunCommand(script);
    ASSERT_EQ(r.status, 0) << r.err;
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static test::ScratchDir* dir_;
  static std::string image_;
};
test::ScratchDir* FatVolume::dir_ = nullptr;
std::string FatVolume::image_;

TEST_F(FatVolume, IndexedScanShowsTheLiveTreeAsFlsDoesAndTheDeletedEntries) {
  const std::string before = test::Sha256OfFile(image_);
  const Scan s = RunScan(image_, false);
  ASSERT_EQ(s.status, 0) << s.log;
  EXPECT_NE(s.log.find("Beginning file system scan."), std::string::npos);
  EXPECT_NE(s.log.find("File system scan complete."), std::string::npos);
  // Every live name, long ones across cluster edges and Unicode included.
  std::set<std::string> live = s.Paths(false);
  live.erase("/FATSCAN");  // the volume label, which the list shows like a file
  const std::set<std::string> fls = FlsPaths(image_, false);
  std::vector<std::string> onlyOurs, onlyFls;
  std::set_difference(live.begin(), live.end(), fls.begin(), fls.end(), std::back_inserter(onlyOurs));
  std::set_difference(fls.begin(), fls.end(), live.begin(), live.end(), std::back_inserter(onlyFls));
  EXPECT_TRUE(onlyOurs.empty() && onlyFls.empty())
      << "only ours: " << testing::PrintToString(onlyOurs) << "\nonly fls: " << testing::PrintToString(onlyFls);
  ASSERT_NE(s.Find("/Docs/Deeper/中文 文件名 résumé.bin"), nullptr);
  EXPECT_EQ((*s.Find("/Docs/Deeper/中文 文件名 résumé.bin"))["size"], 5000);
  // A deleted folder is walked through its first cluster.
  const auto* trash = s.Find("/Trash");
  ASSERT_NE(trash, nullptr);
  EXPECT_TRUE((*trash)["deleted"].get<bool>());
  // 8.3 names lose their first character at deletion: it shows as 'D'.
  ASSERT_NE(s.Find("/Trash/d.bin"), nullptr);
  EXPECT_EQ((*s.Find("/Trash/d.bin"))["state"], "Recovery may be possible");
  EXPECT_EQ((*s.Find("/Trash/d.bin"))["size"], 5000);
  EXPECT_NE(s.Find("/Trash/d.txt"), nullptr);
  EXPECT_EQ((*s.Find("/root-deleted.bin"))["state"], "Recovery may be possible");
  EXPECT_EQ((*s.Find("/Docs/Long document name number 7.txt"))["deleted"], true);
  EXPECT_EQ((*s.Find("/empty.txt"))["state"], "Active");
  EXPECT_EQ(test::Sha256OfFile(image_), before);
}

TEST_F(FatVolume, QuickScanFindsEveryDeletedFileEntryUnderRoot) {
  const std::string before = test::Sha256OfFile(image_);
  const Scan s = RunScan(image_, true);
  ASSERT_EQ(s.status, 0) << s.log;
  EXPECT_NE(s.log.find("File system scan complete."), std::string::npos);
  std::set<std::string> names;
  for (const auto& e : s.entries) {
    EXPECT_TRUE(e["deleted"].get<bool>());
    EXPECT_FALSE(e["folder"].get<bool>());
    names.insert(e["path"].get<std::string>());
  }
  EXPECT_EQ(names, (std::set<std::string>{"/d.bin", "/d.txt", "/root-deleted.bin",
                                          "/Long document name number 7.txt"}));
  // fls counts the same deleted files (folders aside), wherever they stand.
  std::size_t flsFiles = 0;
  for (const auto& p : FlsPaths(image_, true))
    if (p != "/Trash") ++flsFiles;
  EXPECT_EQ(names.size(), flsFiles);
  EXPECT_EQ(test::Sha256OfFile(image_), before);
}

TEST_F(FatVolume, ExitDuringAScanKeepsWhatWasFound) {
  for (const bool quick : {true, false}) {
    test::HeadlessApp h;
    h.OpenImages({image_});
    ASSERT_EQ(h.ui.RowCount(kDriveList), 1);
    // The FAT load takes one pump per table sector; Exit lands after it.
    const std::uint64_t fatSectors = FatGeometryOf(*h.app.drives[0]).sectorsPerFat;
    h.ui.PostCommand(quick ? kCmdBuildFileListOnly : kCmdBuildIndexedFileList);
    h.ui.PostCommand(kCmdExit, fatSectors + (quick ? 60'000 : 200));
    h.ui.RunDialog();
    const std::string log = h.LogText();
    EXPECT_NE(log.find("Current function interrupted by user."), std::string::npos) << log;
    if (quick) EXPECT_NE(log.find("File system scan interrupted."), std::string::npos) << log;
    else EXPECT_NE(log.find("File system scan complete."), std::string::npos);
    EXPECT_EQ(h.app.busy, 0u);
    // Whatever the scan's own last line says, it was cut short.
    EXPECT_EQ(h.app.lastScanOutcome.ending, Outcome::Ending::Interrupted);
    EXPECT_FALSE(h.app.lastScanOutcome.Whole());
    EXPECT_FALSE(h.ui.DialogEnded());
    EXPECT_GT(h.app.currentDrive->foundDirs, 0u);
    EXPECT_TRUE(h.ui.IsControlEnabled(kDriveList));
  }
}

TEST(FatRealImages, LoopsEndAndSayWhere) {
  for (const char* name : {"fat32-loop.raw.gz", "fatcat-directory-loop.img.gz"}) {
    SCOPED_TRACE(name);
    const std::string img = test::RealImage(name);
    if (img.empty()) TESSILON_SKIP_WITHOUT_REAL_IMAGES();
    const Scan s = RunScan(img, false);
    ASSERT_EQ(s.status, 0) << s.log;
    EXPECT_NE(s.log.find("it is not walked again"), std::string::npos) << s.log;
    if (std::string(name) == "fat32-loop.raw.gz") {
      EXPECT_GE(s.entries.size(), 50u);
      EXPECT_LE(s.entries.size(), 100u);
    }
  }
}

TEST(FatRealImages, AVolumeClaimingATerabyteFailsCleanly) {
  const std::string img = test::RealImage("fatcat-fake-big-disk-1T.img.gz");
  if (img.empty()) TESSILON_SKIP_WITHOUT_REAL_IMAGES();
  const Scan s = RunScan(img, true);
  EXPECT_EQ(s.status, 0);
  EXPECT_NE(s.log.find("claims 2181300224 sectors but its image holds 262144"), std::string::npos) << s.log;
  EXPECT_NE(s.log.find("the FAT size field"), std::string::npos);
}

TEST(FatRealImages, LiveTreeMatchesThePublishedListing) {
  const std::string img = test::RealImage("fat32-full-test.tgz", "fat32_full_test.raw");
  if (img.empty()) TESSILON_SKIP_WITHOUT_REAL_IMAGES();
  std::ifstream truth(std::string(TESSILON_SOURCE_DIR) + "/../shared/realimages/fat32-full-test.txt");
  std::map<std::string, std::string> expected;  // path -> minutes and seconds of its mtime
  for (std::string line; std::getline(truth, line);) {
    const auto tab = line.find('\t');
    expected[line.substr(0, tab)] = line.substr(tab + 15, 5);  // "mm:ss" of "YYYY-MM-DD+hh:mm:ss"
  }
  const Scan s = RunScan(img, false);
  ASSERT_EQ(s.status, 0);
  std::map<std::string, std::string> live;
  std::size_t deleted = 0;
  for (const auto& e : s.entries) {
    if (e["deleted"].get<bool>()) {
      ++deleted;
      continue;
    }
    // The listing was taken in another time zone: whole hours apart.
    live[e["path"]] = e["modified"].get<std::string>().substr(14, 5);
  }
  EXPECT_EQ(live, expected);
  EXPECT_EQ(deleted, 3u);
}

TEST(FatRealImages, ADeletedFolderAndItsDeletedEntries) {
  const std::string img = test::RealImage("fat32-deleted-dir.raw.gz");
  if (img.empty()) TESSILON_SKIP_WITHOUT_REAL_IMAGES();
  const Scan indexed = RunScan(img, false);
  ASSERT_EQ(indexed.status, 0);
  ASSERT_NE(indexed.Find("/test"), nullptr);
  EXPECT_TRUE((*indexed.Find("/test"))["deleted"].get<bool>());
  EXPECT_NE(indexed.Find("/test_2/1.txt"), nullptr);
  EXPECT_NE(indexed.Find("/test_2/2.txt"), nullptr);
  std::size_t inTest = 0;
  for (const auto& e : indexed.entries)
    if (e["path"].get<std::string>().rfind("/test/", 0) == 0) {
      ++inTest;
      EXPECT_TRUE(e["deleted"].get<bool>());
    }
  // Its chain is gone from the table, so only its first cluster is read: one
  // cluster of 16 slots, less the "." and ".." entries. fls, which takes the
  // folder as contiguous, lists all 30.
  EXPECT_EQ(inTest, 14u);
  // The quick scan takes deleted file entries wherever they lie, the orphans
  // that fls finds outside the tree among them.
  const Scan quick = RunScan(img, true);
  std::size_t flsDeletedFiles = 0;
  const auto fls = RunCommand("fls -r -d '" + img + "'");
  std::istringstream in(fls.out);
  for (std::string line; std::getline(in, line);)
    if (line.find("r/r") != std::string::npos || line.rfind("-/r", 0) == 0) ++flsDeletedFiles;
  EXPECT_GE(quick.entries.size(), 480u);
  EXPECT_LE(quick.entries.size(), flsDeletedFiles);
}

}  // namespace
}  // namespace tsn
