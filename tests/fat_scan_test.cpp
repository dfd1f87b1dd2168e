// The FAT scans, end to end, on real-world volumes, damaged ones among them, and interrupted. The Sleuth Kit's fls is
// the independent oracle; the fixture volumes are checked in fat_fixture_test.

#include <algorithm>

#include "app/main_dialog.h"
#include "fs/fat/fat_table.h"
#include "test_support.h"

namespace tsn {
namespace {

template <typename Map>
std::set<std::string> Keys(const Map& map) {
  std::set<std::string> keys;
  for (const auto& [key, value] : map) keys.insert(key);
  return keys;
}

using test::RunCommand;
using test::Scan;

Scan RunScan(const std::string& image, bool quick) { return test::RunScan(image, quick, "", 120); }

// The FAT fixture of 512-byte clusters: long enough a scan to stop.
TEST(FatScan, ExitDuringAScanKeepsWhatWasFound) {
  for (const bool quick : {true, false}) {
    test::HeadlessApp h;
    h.OpenImages({test::Fixture("fat32-512.img")});
    ASSERT_EQ(h.ui.RowCount(kDriveList), 1);
    // The FAT load takes one pump per table sector; Exit lands after it.
    const std::uint64_t fatSectors = FatGeometryOf(*h.app.drives[0]).sectorsPerFat;
    h.ui.PostCommand(quick ? kCmdBuildFileListOnly : kCmdBuildIndexedFileList);
    h.ui.PostCommand(kCmdExit, fatSectors + (quick ? 60'000 : 200));
    h.ui.RunDialog();
    const std::string log = h.LogText();
    EXPECT_NE(log.find("Current function interrupted by user."), std::string::npos) << log;
    EXPECT_TRUE(test::Has(log, quick ? "File system scan interrupted." : "File system scan complete.")) << log;
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

TEST(FatRealImages, LiveTreeMatchesThePublishedListing) {
  const std::string img = test::RealImage("fat32-full-test.tgz", "fat32_full_test.raw");
  if (img.empty()) TESSILON_SKIP_WITHOUT_REAL_IMAGES();
  std::map<std::string, std::string> expected;  // path -> "mm:ss" of its "YYYY-MM-DD+hh:mm:ss"
  for (const std::string& line : test::Split(test::ReadAll(test::RealImagesDir() + "/fat32-full-test.txt"), '\n'))
    expected[line.substr(0, line.find('\t'))] = line.substr(line.find('\t') + 15, 5);
  const Scan s = RunScan(img, false);
  ASSERT_EQ(s.status, 0);
  std::map<std::string, std::string> live;
  std::size_t deleted = 0;
  // The listing was taken in another time zone: whole hours apart.
  for (const auto& e : s.entries)
    if (e["deleted"].get<bool>()) ++deleted;
    else live[e["path"]] = e["modified"].get<std::string>().substr(14, 5);
  EXPECT_EQ(live, expected);
  EXPECT_EQ(deleted, 3u);
}

TEST(FatRealImages, ADeletedFolderAndItsDeletedEntries) {
  const std::string img = test::RealImage("fat32-deleted-dir.raw.gz");
  if (img.empty()) TESSILON_SKIP_WITHOUT_REAL_IMAGES();
  const Scan indexed = RunScan(img, false);
  ASSERT_EQ(indexed.status, 0);
  EXPECT_TRUE(indexed.Paths(true).count("/test"));
  for (const char* kept : {"/test_2/1.txt", "/test_2/2.txt"}) EXPECT_NE(indexed.Find(kept), nullptr) << kept;
  std::map<bool, int> inTest;  // live, deleted -> entries in /test
  for (const auto& e : indexed.entries)
    inTest[e["deleted"].get<bool>()] += e["path"].get<std::string>().starts_with("/test/");
  EXPECT_EQ(inTest[false], 0);
  // Its chain is gone from the table, so only its first cluster is read: one cluster of 16 slots, less the "." and ".."
  // entries. fls, which takes the folder as contiguous, lists all 30.
  EXPECT_EQ(inTest[true], 14);
  // The quick scan takes deleted entries wherever they lie, the orphans fls finds outside the tree among them.
  const Scan quick = RunScan(img, true);
  EXPECT_GE(quick.entries.size(), 480u);
  // Each file fls lists: "r/r * 4:" or, of an unknown type, "-/r * 7:".
  EXPECT_LE(quick.entries.size(), test::Count(RunCommand("fls -r -d '" + img + "'").out, "/r "));
}

// Windows XP's FAT16 volume from the Digital Forensics Tool Testing images, with its published sizes and MD5s. Deleted
// files are copied contiguously from their first cluster: the three fragmented ones come out with the MD5s the table
// gives for that. XP never marked the entries inside the deleted \dir1 deleted, so only the indexed scan, walking it,
// finds them. The deleted entries it lists are fls -r -d's, the earlier System Volume Information tree included.
TEST(Fat16RealImage, DfttUndeleteFilesComeBackWithThePublishedMd5s) {
  const std::string image = test::RealImage("dftt-6-undel-fat.zip", "6-undel-fat/6-fat-undel.dd");
  if (image.empty()) TESSILON_SKIP_WITHOUT_REAL_IMAGES();
  const std::string before = test::Sha256OfFile(image);
  const std::vector<nlohmann::json> published = test::DataRows("dftt-6-undel-fat.jsonl");
  std::set<std::string> flsDeleted, flsFiles;
  for (const std::string& line : test::Split(RunCommand("fls -r -p -d " + image).out, '\n')) {
    const std::string key = test::DeletedNameKey("/" + line.substr(line.find('\t') + 1));
    flsDeleted.insert(key);
    if (line.rfind("r/r", 0) == 0) flsFiles.insert(key);
  }
  ASSERT_EQ(flsFiles.size(), 7u);
  for (const bool quick : {false, true}) {
    SCOPED_TRACE(quick ? "quick" : "indexed");
    const test::Scan scan = test::RunScan(image, quick);
    ASSERT_EQ(scan.status, 0) << scan.log;
    std::map<std::string, const nlohmann::json*> deleted;
    for (const auto& e : scan.entries)
      if (e["deleted"].get<bool>()) deleted[test::DeletedNameKey(e["path"].get<std::string>())] = &e;
    for (const nlohmann::json& p : published) {
      if (quick && !p["in_root"]) continue;
      const auto it = deleted.find(test::DeletedNameKey(p["path"]));
      ASSERT_NE(it, deleted.end()) << p["path"] << "\n" << scan.log;
      EXPECT_EQ((*it->second)["size"], p["size"]) << p["path"];
      EXPECT_EQ((*it->second)["state"], "Recovery may be possible") << p["path"];
    }
    if (quick) EXPECT_EQ(deleted.size(), 4u) << scan.log;
    else EXPECT_EQ(Keys(deleted), flsDeleted) << scan.log;
    EXPECT_TRUE(scan.Logged("claims 12033 sectors but its image holds 12032")) << scan.log;
  }
  test::ScratchDir dir;
  const auto copy = RunCommand(test::Cli("copy " + image + " --to " + dir.Path("out")));
  ASSERT_EQ(copy.status, 0) << copy.err;
  std::map<std::string, std::string> md5;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir.Path("out")))
    if (e.is_regular_file() && !test::IsCopyManifest(e.path()))
      md5[test::DeletedNameKey("/" + std::filesystem::relative(e.path(), dir.Path("out")).string())] =
          RunCommand("md5sum < " + test::Quote(e.path().string()) + " | cut -c1-32").out;
  EXPECT_EQ(Keys(md5), flsFiles);
  for (const nlohmann::json& p : published)
    EXPECT_EQ(md5[test::DeletedNameKey(p["path"])], p["md5"].get<std::string>() + "\n") << p["path"];
  EXPECT_EQ(test::Sha256OfFile(image), before);
}

}  // namespace
}  // namespace tsn
