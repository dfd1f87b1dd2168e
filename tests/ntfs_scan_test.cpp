// The two NTFS scans end to end: through the command line on volumes made by
// Windows (with their published ground truth) and by mkntfs and libntfs-3g
// (with the fixture manifest, and with sectors of 4096 bytes), checked
// against The Sleuth Kit; and through the headless window for what the
// window shows: the tree, the counters, the log, and Exit pressed in each
// phase.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>

#include "app/app_state.h"
#include "app/main_dialog.h"
#include "ntfs_test_support.h"
#include "app/file_list.h"
#include "app/folder_tree.h"
#include "test_support.h"
#include "fs/logdrive_info.h"
#include "source/volume_source.h"

namespace tsn {
namespace {

using ntfstest::Dftt7;
using ntfstest::Difference;
using ntfstest::FlsEntries;
using test::Quote;
using test::RunCommand;
using test::RunScan;
using test::Scan;

// The size of the unnamed $DATA of a record, as istat reads it.
std::uint64_t IstatSize(const std::string& image, std::uint64_t record, const std::string& offset = "") {
  const auto r = RunCommand("istat " + offset + " '" + image + "' " + std::to_string(record));
  std::smatch m;
  static const std::regex data(R"(Type: \$DATA \(128-\d+\)\s+Name: N/A\s+\S*\s*Resident\s+size: (\d+))");
  if (std::regex_search(r.out, m, data)) return std::stoull(m[1]);
  return ~0ULL;
}

// One "Name: value" figure of fsstat's report.
std::uint64_t FsstatFigure(const std::string& report, const std::string& pattern) {
  std::smatch m;
  EXPECT_TRUE(std::regex_search(report, m, std::regex(pattern))) << pattern << "\n" << report;
  return m.empty() ? 0 : std::stoull(m[1]);
}

// What "tessilon-cli drives" lists for one image, as JSON.
std::string Drives(const std::string& image) { return RunCommand(test::TimedCli("drives --no-devices --json " + test::Quote(image))).out; }

struct Truth {
  std::uint64_t record;
  const char* path;
  std::uint64_t size;
};
// DFTT #7's published table: MFT entry, path and size of every deleted
// file. sing2.dat's folder (dir3) lost its record to res1.dat, so its parent
// is record 37, a file: it lands in an orphan folder.
const Truth kDftt7Files[] = {
    {29, "/frag1.dat", 1584},         {30, "/frag2.dat", 3873},
    {31, "/sing1.dat", 780},          {32, "/mult1.dat", 3801},
    {37, "/res1.dat", 101},           {36, "/dir1/mult2.dat", 1715},
    {35, "/dir1/dir2/frag3.dat", 2027}, {38, "/TSNF_Folder.0/sing2.dat", 1005},
};

void ExpectDftt7Deleted(const Scan& s) {
  for (const Truth& t : kDftt7Files) {
    SCOPED_TRACE(t.path);
    const auto* e = s.Find(t.path);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ((*e)["record"], t.record);
    EXPECT_EQ((*e)["size"], t.size);  // the unnamed stream: mult1.dat's ADS is 1234
    EXPECT_TRUE((*e)["deleted"].get<bool>());
    EXPECT_EQ((*e)["state"], "Recovery may be possible");
    // Made on the leap day of 2004.
    EXPECT_EQ((*e)["created"].get<std::string>().substr(0, 10), "2004-02-29");
  }
  for (const auto& [path, record] : {std::pair{"/dir1", 33}, {"/dir1/dir2", 34}}) {
    const auto* e = s.Find(path);
    ASSERT_NE(e, nullptr) << path;
    EXPECT_TRUE((*e)["folder"].get<bool>());
    EXPECT_TRUE((*e)["deleted"].get<bool>());
    EXPECT_EQ((*e)["record"], record);
  }
  const auto* orphan = s.Find("/TSNF_Folder.0");
  ASSERT_NE(orphan, nullptr);
  EXPECT_EQ((*orphan)["record"], 37);  // the missing parent's number
}

TEST(NtfsRealImages, Dftt7GroundTruthInBothScansAndTheLiveTreeAsFlsListsIt) {
  const std::string image = Dftt7();
  if (image.empty()) TESSILON_SKIP_WITHOUT_REAL_IMAGES();
  const std::string before = test::Sha256OfFile(image);
  const Scan quick = RunScan(image, true);
  ASSERT_EQ(quick.status, 0) << quick.log;
  EXPECT_TRUE(quick.Logged("Beginning deleted file scan.")) << quick.log;
  EXPECT_FALSE(quick.Logged("-- Error")) << quick.log;  // a sound volume reports no damage
  ExpectDftt7Deleted(quick);
  EXPECT_EQ(quick.entries.size(), 11u);  // 8 files, 2 folders, 1 orphan folder; nothing live
  EXPECT_TRUE(quick.Paths(false) == std::set<std::string>{"/TSNF_Folder.0"});

  const Scan s = RunScan(image, false);
  ASSERT_EQ(s.status, 0) << s.log;
  EXPECT_FALSE(s.Logged("-- Error")) << s.log;
  ExpectDftt7Deleted(s);
  auto live = s.Records(false);
  live.erase("/TSNF_Folder.0");
  EXPECT_EQ(Difference(live, FlsEntries(image, false)), "");
  // The log's milestones, in order.
  std::size_t at = 0;
  for (const char* m : {"Beginning file system scan.", "Begin phase 1...", "Phase 1 completed.",
                        "Begin phase 2...", "Phase 2 completed", "Begin Phase 3...", "Phase 3 completed",
                        "File system scan completed."}) {
    const std::size_t next = s.log.find(m, at);
    ASSERT_NE(next, std::string::npos) << m << "\n" << s.log;
    at = next;
  }
  EXPECT_EQ(test::Sha256OfFile(image), before);
}

TEST(NtfsRealImages, Dftt8RecordsSpanTwoClustersOfHalfAKilobyte) {
  const std::string image = test::RealImage("dftt-8-jpeg-search.zip", "8-jpeg-search/8-jpeg-search.dd");
  if (image.empty()) TESSILON_SKIP_WITHOUT_REAL_IMAGES();
  const Scan indexed = RunScan(image, false);
  ASSERT_EQ(indexed.status, 0) << indexed.log;
  EXPECT_EQ(Difference(indexed.Records(false), FlsEntries(image, false)), "");
  EXPECT_EQ(Difference(indexed.Records(true), FlsEntries(image, true)), "");
  for (const std::uint64_t record : {31u, 32u}) {
    bool found = false;
    for (const auto& e : indexed.entries) {
      if (e["record"] == record && e["deleted"].get<bool>()) {
        found = true;
        EXPECT_EQ(e["size"], IstatSize(image, record));
      }
    }
    EXPECT_TRUE(found) << record;
  }
  // Their folders are live: the quick scan, which has no live folders, puts
  // them in orphan folders, numbered from 0 in record order.
  const Scan quick = RunScan(image, true);
  ASSERT_EQ(quick.status, 0);
  ASSERT_NE(quick.Find("/TSNF_Folder.0/file7.hmm"), nullptr) << quick.log;
  ASSERT_NE(quick.Find("/TSNF_Folder.1/file6.jpg"), nullptr);
  EXPECT_EQ((*quick.Find("/TSNF_Folder.0"))["record"], 47);
  EXPECT_EQ((*quick.Find("/TSNF_Folder.1"))["record"], 30);
}

// Volumes Windows made: a folder index in blocks of two clusters (clusters
// of 2048 bytes, blocks of 4096: blocks are read by their own size, or every
// one of them would fail its check); Cyrillic names on a 128 GiB volume.
TEST(NtfsRealImages, WindowsVolumesListAsFlsListsThemWithTheSizesOfTheirRecords) {
  const struct {
    std::string image, tskOffset, label, size;
    std::size_t deleted;  // named deleted records, all checked against fls
    std::vector<std::pair<std::string, std::uint64_t>> sized;  // path, record
  } cases[] = {
      // Sizes from the records, not the index copies (which Windows leaves at
      // 0 for its own files).
      {test::RealImage("win10-ntfs-index.raw.gz"), "-o 128", "\"Test index\"", "", 0, {{"/$MFT", 0}, {"/$LogFile", 2}}},
      {test::RealImage("win2003-ntfs-mbr.tgz", "vss_2003.raw"), "-o 63", "\"Новый том\"", "128.00 GB", 30,
       {{"/Копия (38) Текстовый документ.txt", 67}}},
  };
  for (const auto& c : cases) {
    if (c.image.empty()) TESSILON_SKIP_WITHOUT_REAL_IMAGES();
    SCOPED_TRACE(c.image);
    const Scan s = RunScan(c.image, false);
    ASSERT_EQ(s.status, 0) << s.log;
    EXPECT_FALSE(s.Logged("-- Error")) << s.log;
    const auto fls = FlsEntries(c.image, false, c.tskOffset);
    EXPECT_GT(fls.size(), 50u);
    EXPECT_EQ(Difference(s.Records(false), fls), "");
    if (c.deleted != 0) {
      // Every deleted record that still holds its name, under its own name.
      EXPECT_EQ(Difference(s.Records(true), FlsEntries(c.image, true, c.tskOffset)), "");
      EXPECT_EQ(s.Records(true).size(), c.deleted);
    }
    for (const auto& [path, record] : c.sized) {
      ASSERT_NE(s.Find(path), nullptr) << path;
      EXPECT_EQ((*s.Find(path))["size"], IstatSize(c.image, record, c.tskOffset)) << path;
    }
    const std::string drives = Drives(c.image);
    EXPECT_TRUE(test::Has(drives, c.label)) << drives;
    EXPECT_TRUE(test::Has(drives, c.size)) << drives;
  }
}

// ---------------------------------------------------------------------------
// The measurement of NTFS volumes from their own $Bitmap.

struct Measured {
  std::uint64_t clusterCount = 0, allocUnits = 0, freeUnits = 0;
  std::string label;
};
Measured Measure(const std::string& image) {
  test::HeadlessApp h;
  h.OpenImages({image}, -1);
  EXPECT_EQ(h.app.drives.size(), 1u) << h.LogText();
  if (h.app.drives.empty()) return {};
  const LOGDRIVE_INFO& d = *h.app.drives[0];
  return {d.clusterCount, d.allocUnits, d.freeUnits, d.volumeName};
}

TEST(NtfsMeasure, FreeSpaceCountsAllFreeBytesOfTheBitmapAsTskReadsIt) {
  const std::vector<std::tuple<std::string, std::string, std::string>> volumes = {
      {Dftt7(), "", "NTFS_DEL"},
      {test::Fixture("ntfs-4k.img"), "", "NTFS4K"},
      {test::RealImage("win2003-ntfs-mbr.tgz", "vss_2003.raw"), "-o 63", "Новый том"},
  };
  for (const auto& [image, offset, label] : volumes) {
    SCOPED_TRACE(image);
    if (image.empty() || !std::ifstream(image)) continue;
    const Measured m = Measure(image);
    // The oracle: $Bitmap's bytes as icat reads them, and fsstat's clusters.
    test::ScratchDir dir;
    const std::string bitmap = dir.Path("bitmap");
    ASSERT_EQ(RunCommand("icat " + offset + " '" + image + "' 6 > '" + bitmap + "'").status, 0);
    const std::uint64_t clusters =
        FsstatFigure(RunCommand("fsstat " + offset + " '" + image + "'").out, R"(Total Cluster Range: 0 - (\d+))") + 1;
    EXPECT_EQ(m.clusterCount, clusters);
    EXPECT_EQ(m.allocUnits, clusters / 8);
    std::ifstream in(bitmap, std::ios::binary);
    std::uint64_t zeros = 0;
    for (std::uint64_t i = 0; i < clusters / 8; ++i) zeros += in.get() == 0 ? 1 : 0;
    EXPECT_EQ(m.freeUnits, zeros);
    EXPECT_EQ(m.label, label);
  }
}

// ---------------------------------------------------------------------------
// The fixture volumes, against what their builder wrote and deleted.

// Whether any cluster of a deleted file's runs is in use now, as TSK sees
// the volume: its clusters from istat, their state from blkls.
bool TskChainInUse(const std::string& image, std::uint64_t record, const std::set<std::uint64_t>& allocated) {
  for (const std::uint64_t c : test::IstatDataClusters(image, record))
    if (allocated.count(c)) return true;
  return false;
}

class NtfsFixture : public ::testing::TestWithParam<const char*> {};

TEST_P(NtfsFixture, IndexedScanFindsWhatWasWrittenAndDeleted) {
  const std::string name = GetParam();
  const std::string image = test::Fixture(name);
  const auto manifest = test::ManifestOf(name);
  ASSERT_GT(manifest.size(), 3000u) << "no fixtures in " << TESSILON_FIXTURES;
  const std::string before = test::Sha256OfFile(image);
  const Scan s = RunScan(image, false);
  ASSERT_EQ(s.status, 0) << s.log;
  EXPECT_FALSE(s.Logged("-- Error")) << s.log;
  std::set<std::uint64_t> allocated;
  {
    std::istringstream in(RunCommand("blkls -e -l '" + image + "'").out);
    for (std::string line; std::getline(in, line);)
      if (line.size() > 2 && line.compare(line.size() - 2, 2, "|a") == 0) allocated.insert(std::stoull(line));
  }
  std::size_t checked = 0;
  std::set<std::string> written;
  for (const auto& j : manifest) {
    const std::string path = "/" + j["path"].get<std::string>();
    const bool deleted = j["deleted"], folder = j["folder"], overwritten = j["overwritten"];
    const std::uint64_t size = j["size"];
    SCOPED_TRACE(path);
    written.insert(path);
    const auto* e = s.Find(path);
    if (deleted && (j["name_lost"] || (!folder && size == 0))) {
      // A lost name cannot be found; an empty deleted file has nothing to recover.
      EXPECT_EQ(e, nullptr);
      continue;
    }
    ASSERT_NE(e, nullptr);
    ++checked;
    EXPECT_EQ((*e)["deleted"].get<bool>(), deleted);
    EXPECT_EQ((*e)["folder"].get<bool>(), folder);
    if (!folder) {
      EXPECT_EQ((*e)["size"], size);
    }
    if (!deleted || folder) continue;
    // Never reused: free. Reused: whatever the bitmap says now (a cluster
    // may have been taken and freed again).
    const bool inUse = overwritten && TskChainInUse(image, (*e)["record"], allocated);
    EXPECT_EQ((*e)["state"], inUse ? "Chain is in use" : "Recovery may be possible");
  }
  EXPECT_GT(checked, 3000u);
  // Nothing else but the volume's own files.
  for (const auto& e : s.entries) {
    const std::string path = e["path"];
    if (path.find("/$") == std::string::npos) {
      EXPECT_TRUE(written.count(path)) << path;
    }
  }
  EXPECT_EQ(test::Sha256OfFile(image), before);
}

TEST_P(NtfsFixture, QuickScanListsEveryDeletedFileOnceAndNumbersItsOrphanFolders) {
  const std::string name = GetParam();
  const Scan s = RunScan(test::Fixture(name), true);
  ASSERT_EQ(s.status, 0) << s.log;
  std::multiset<std::pair<std::string, std::uint64_t>> expected, found;
  for (const auto& m : test::ManifestOf(name))
    if (m["deleted"] && !m["name_lost"] && !m["folder"] && m["size"] > 0) {
      const std::string path = m["path"];
      expected.emplace(path.substr(path.rfind('/') + 1), m["size"]);
    }
  std::vector<std::string> orphanFolders;
  for (const auto& e : s.entries) {
    EXPECT_TRUE(e["deleted"].get<bool>() || e["path"].get<std::string>().find("_Folder.") != std::string::npos)
        << e["path"];
    if (!e["folder"].get<bool>()) found.emplace(e["name"], e["size"]);
    const std::string path = e["path"];
    if (e["folder"].get<bool>() && path.find('/', 1) == std::string::npos && path.find("_Folder.") != std::string::npos)
      orphanFolders.push_back(path.substr(1));
  }
  EXPECT_EQ(found, expected);
  // Orphan folders stand under the root in the order they were made, and
  // the folder pass runs first: numbered 0, 1, 2, ... in that order, those
  // made for folders before those made for files.
  std::vector<int> numbers;
  bool filesSeen = false;
  for (const auto& f : orphanFolders) {
    numbers.push_back(std::stoi(f.substr(12)));
    if (f.rfind("TSNF", 0) == 0) {
      filesSeen = true;
    } else {
      EXPECT_FALSE(filesSeen) << f << " was made after a folder for files";
    }
  }
  for (std::size_t i = 0; i < numbers.size(); ++i) EXPECT_EQ(numbers[i], static_cast<int>(i));
  EXPECT_GT(numbers.size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Clusters, NtfsFixture, ::testing::Values("ntfs-4k.img", "ntfs-1k.img"),
                         [](const auto& param) { return std::string(param.param).substr(5, 2); });

// ---------------------------------------------------------------------------
// What the window shows, through the headless layer.

struct Session {
  test::HeadlessApp h;
  explicit Session(const std::string& image) { h.OpenImages({image}); }
  LOGDRIVE_INFO& Drive() { return *h.app.currentDrive; }
  // Runs a scan, with Exit pressed after `exitAfter` pumps (0: never).
  void Run(bool indexed, std::uint64_t exitAfter = 0) {
    pumpsBefore = h.ui.PumpCalls();
    logBefore = h.ui.RowCount(kLogList);
    h.ui.PostCommand(indexed ? kCmdBuildIndexedFileList : kCmdBuildFileListOnly);
    if (exitAfter != 0) h.ui.PostCommand(kCmdExit, exitAfter);
    h.ui.RunDialog();
  }
  std::vector<std::string> ScanLog() const {
    const auto all = h.LogMessages();
    return {all.begin() + logBefore, all.end()};
  }
  std::uint64_t Pumps() const { return h.ui.PumpCalls() - pumpsBefore; }
  std::uint64_t pumpsBefore = 0;
  int logBefore = 0;
};

// Folders and files of the tree, as counted by showing each folder's files.
void CountTree(test::HeadlessApp& h, NodeHandle node, std::uint64_t* dirs, std::uint64_t* files, std::uint64_t* bytes) {
  ++*dirs;
  ShowFolderFiles(&h.app, node);
  for (int row = 0; row < h.ui.RowCount(kFileList); ++row) {
    ++*files;
    *bytes += std::stoull(h.ui.RowText(kFileList, row, 1));
  }
  for (NodeHandle c = h.ui.FirstChild(node); c != kNoNode; c = h.ui.NextSibling(c)) CountTree(h, c, dirs, files, bytes);
}

TEST(NtfsWindow, CountersMatchTheTreeAndTheRootIsLabelledRoot) {
  Session s(test::Fixture("ntfs-4k.img"));
  for (const bool indexed : {false, true}) {
    SCOPED_TRACE(indexed ? "indexed" : "quick");
    s.Run(indexed);
    ASSERT_EQ(s.h.app.lastScanResult, 1) << s.h.LogText();
    std::uint64_t dirs = 0, files = 0, bytes = 0;
    CountTree(s.h, s.h.ui.RootNode(), &dirs, &files, &bytes);
    EXPECT_EQ(s.Drive().foundDirs, dirs);
    EXPECT_EQ(s.Drive().foundFiles, files);
    EXPECT_EQ(s.Drive().foundBytes, bytes);
    EXPECT_EQ(s.h.ui.NodeLabel(s.h.ui.RootNode()), "Root");
    EXPECT_EQ(s.h.ui.Text(kDirsText), "DIRS: " + std::to_string(dirs));
    EXPECT_EQ(s.h.ui.Text(kFilesText), "FILES: " + std::to_string(files));
    EXPECT_EQ(s.h.ui.ProgressState().position, 0u);
    EXPECT_EQ(s.h.app.busy, 0u);
    // A folder holding deleted entries is no longer active, up to the root.
    const MftFileInfo* root = FolderRecordOf(s.h.app, s.h.ui.RootNode());
    EXPECT_EQ(root->flags & kFlagInUse, 0u);
  }
  // The quick scan's bar runs over both passes, one step a record and one
  // a file, in its own colour.
  const std::uint64_t records = s.h.ui.ProgressState().high / 3;
  const std::uint64_t stepsBefore = s.h.ui.ProgressState().steps;
  s.Run(false);
  EXPECT_EQ(s.h.ui.ProgressState().high, 2 * records);
  EXPECT_EQ(s.h.ui.ProgressState().steps - stepsBefore, 2 * records + s.Drive().foundFiles);
  EXPECT_EQ(s.h.ui.ProgressState().colour, (Colour{190, 0, 0}));
}

TEST(NtfsWindow, ExitInEachPhaseStopsThereAndKeepsWhatWasFound) {
  const std::string image = test::Fixture("ntfs-1k.img");
  // One whole run to learn how many pumps each phase takes: phases 2 and 3
  // pump once per MFT record each.
  Session full(image);
  full.Run(true);
  ASSERT_EQ(full.h.app.lastScanResult, 1);
  const std::uint64_t total = full.Pumps();
  const std::uint64_t records = full.h.ui.ProgressState().high / 3;
  ASSERT_GT(records, 1000u);
  const std::uint64_t phase1 = total - 2 * records;
  ASSERT_GT(phase1, 3000u);  // one pump per index entry
  struct Case {
    std::uint64_t exitAfter;
    std::vector<std::string> logged, absent;
    int result;
  };
  const std::vector<Case> cases = {
      {phase1 / 2, {"Begin phase 1...", "Current function interrupted by user."},
       {"Phase 1 completed.", "Begin phase 2...", "File system scan completed."}, 0},
      {phase1 + records / 2,
       {"Phase 1 completed.", "Begin phase 2...", "Current function interrupted by user.", "File system scan completed."},
       {"Phase 2 completed", "Begin Phase 3...", "Phase 3 completed"}, 1},
      {phase1 + records + records / 2,
       {"Begin Phase 3...", "Current function interrupted by user.", "File system scan completed."},
       {"Phase 3 completed"}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.exitAfter);
    Session s(image);
    s.Run(true, c.exitAfter);
    const auto log = s.ScanLog();
    auto has = [&](const std::string& m) { return std::find(log.begin(), log.end(), m) != log.end(); };
    for (const auto& m : c.logged) EXPECT_TRUE(has(m)) << m;
    for (const auto& m : c.absent) EXPECT_FALSE(has(m)) << m;
    EXPECT_EQ(s.h.app.lastScanResult, c.result);
    EXPECT_EQ(s.h.app.busy, 0u);
    EXPECT_TRUE(s.h.ui.IsControlEnabled(kDriveList));
    EXPECT_GT(s.Drive().foundDirs, 1u);  // what was found stays
    EXPECT_FALSE(s.h.ui.DialogEnded());
  }
  // The quick scan stopped in its file pass: no message of its own, and the
  // bar stays where it was.
  Session q(image);
  q.Run(false, records + records / 2);
  EXPECT_EQ(q.h.app.lastScanResult, 0);
  EXPECT_EQ(q.ScanLog(), (std::vector<std::string>{"Beginning deleted file scan.",
                                                  "Current function interrupted by user."}));
  EXPECT_GT(q.h.ui.ProgressState().position, 0u);
}

// ---------------------------------------------------------------------------
// Built here: a folder whose index outgrew its record.

TEST(NtfsBuilt, AFolderIndexReachedThroughAnAttributeList) {
  test::ScratchDir dir;
  const std::string one = dir.Path("one.txt"), piece = dir.Path("piece.bin");
  std::ofstream(one) << "x\n";
  std::ofstream(piece) << std::string(1024, 'p');
  // Long names fill index blocks quickly; a cluster of another file after
  // every few entries scatters the index allocation over hundreds of runs,
  // until its mapping pairs no longer fit and the index root moves to an
  // extension record named by an attribute list.
  std::string commands = "mkdir\t/Big\n";
  for (int i = 0; i < 2400; ++i) {
    char line[400];
    std::snprintf(line, sizeof line, "file\t/Big/%04d %s.txt\t%s\n", i, std::string(200, 'n').c_str(), one.c_str());
    commands += line;
    if (i % 8 == 7) commands += "chunk\t/filler.bin\t" + piece + "\t0\t1024\n";
  }
  commands += "file\t/Big/Zzz 😀.txt\t" + one + "\n";
  const std::string image = ntfstest::MakeNtfsImage(dir, "biglist.img", 64, 1024, commands);
  const auto istat = RunCommand("istat '" + image + "' 64");
  ASSERT_NE(istat.out.find("$ATTRIBUTE_LIST"), std::string::npos) << "no attribute list was made";
  const Scan s = RunScan(image, false);
  ASSERT_EQ(s.status, 0) << s.log;
  EXPECT_FALSE(s.Logged("-- Error")) << s.log;
  EXPECT_EQ(Difference(s.Records(false), FlsEntries(image, false)), "");
  EXPECT_NE(s.Find("/Big/Zzz 😀.txt"), nullptr);
}

TEST(NtfsBuilt, ADeletedFolderThatComesBeforeItsParentInTheMftStillLandsUnderIt) {
  test::ScratchDir dir;
  const std::string note = dir.Path("note.txt");
  std::ofstream(note) << std::string(5000, 'n');
  // The remount makes the allocator hand out the record freed before it:
  // C gets a lower record number than its parent P.
  const std::string image = ntfstest::MakeNtfsImage(
      dir, "order.img", 16, 4096,
      "mkdir\t/early\nmkdir\t/P\nrm\t/early\nremount\nmkdir\t/P/C\nfile\t/P/C/inner.txt\t" + note +
          "\nrm\t/P/C/inner.txt\nrm\t/P/C\nrm\t/P\n");
  const auto fls = FlsEntries(image, true);
  ASSERT_LT(fls.at("/P/C"), fls.at("/P")) << "the records came out in another order";
  for (const bool quick : {true, false}) {
    const Scan s = RunScan(image, quick);
    ASSERT_EQ(s.status, 0) << s.log;
    EXPECT_EQ(Difference(s.Records(true), fls), "");
    for (const auto& e : s.entries) EXPECT_EQ(e["path"].get<std::string>().find("_Folder."), std::string::npos);
  }
}

// The bytes of a folder's $I30 index allocation, as istat reads them.
std::uint64_t IstatIndexBytes(const std::string& image, std::uint64_t record) {
  const auto r = RunCommand("istat '" + image + "' " + std::to_string(record));
  std::smatch m;
  static const std::regex alloc(R"(Type: \$INDEX_ALLOCATION \(160-\d+\)\s+Name: \$I30\s+Non-Resident\s+size: (\d+))");
  return std::regex_search(r.out, m, alloc) ? std::stoull(m[1]) : 0;
}

TEST(NtfsBuilt, EachScanReadsTheMftOnceWhateverTheIndexesInterleave) {
  test::ScratchDir dir;
  const std::string one = dir.Path("one.txt");
  std::ofstream(one) << "x\n";
  // Folders of a few hundred files, half of them deleted: the index walk
  // meets an entry for every file, the passes a record for every one.
  std::string commands, removals;
  for (int d = 0; d < 4; ++d) {
    commands += "mkdir\t/Folder " + std::to_string(d) + "\n";
    for (int f = 0; f < 600; ++f) {
      const std::string path = "/Folder " + std::to_string(d) + "/document " + std::to_string(f) + ".txt";
      commands += "file\t" + path + "\t" + one + "\n";
      if (f % 2 == 0) removals += "rm\t" + path + "\n";
    }
  }
  const std::string image = ntfstest::MakeNtfsImage(dir, "folders.img", 64, 4096, commands + removals);
  const std::uint64_t mft = IstatSize(image, 0);
  ASSERT_GT(mft, 2400u * 1024);
  std::uint64_t folders = 0, indexes = 0;
  for (const auto& [path, record] : FlsEntries(image, false))
    if (path.rfind("/Folder ", 0) == 0 && path.find('/', 1) == std::string::npos) {
      ++folders;
      indexes += IstatIndexBytes(image, record);
    }
  ASSERT_EQ(folders, 4u);
  const std::uint64_t bitmap = IstatSize(image, 6);
  for (const bool indexed : {false, true}) {
    SCOPED_TRACE(indexed ? "indexed" : "quick");
    Session s(image);
    const VolumeSource& v = *s.Drive().volume;
    const std::uint64_t before = v.DeviceBytes() + v.CopiedBytes();
    s.Run(indexed);
    ASSERT_EQ(s.h.app.lastScanResult, 1) << s.h.LogText();
    EXPECT_GE(s.Drive().foundFiles, indexed ? 2400u : 1200u);  // and the system files, live
    // What the source brought in and what its window copied out: the MFT
    // once, each index block once or twice (through the window), a
    // read-ahead window for each folder's own record, and the bitmap.
    const std::uint64_t moved = v.DeviceBytes() + v.CopiedBytes() - before;
    const std::uint64_t bound = mft * 3 / 2 + (indexed ? 2 * indexes + 16 * 65536 : 0) + 2 * bitmap + 65536;
    EXPECT_LE(moved, bound) << "MFT " << mft << ", indexes " << indexes << ", bitmap " << bitmap;
  }
}

TEST(NtfsBuilt, AVolumeOfFiveTebibytesIsMeasuredAndReadIn64Bits) {
  test::ScratchDir dir;
  const std::string content = dir.Path("content.bin");
  std::ofstream(content) << std::string(200000, 'c');
  // A sparse image: clusters of 64 KiB keep its bitmap at 10 MiB.
  const std::string image = ntfstest::MakeNtfsImage(
      dir, "huge.img", 5 * 1024 * 1024, 65536,
      "mkdir\t/Far\nfile\t/Far/kept.txt\t" + content + "\nfile\t/Far/gone.bin\t" + content +
          "\nrm\t/Far/gone.bin\n",
      "HUGE");
  const Measured m = Measure(image);
  EXPECT_EQ(m.clusterCount, 83886079u);  // fsstat: clusters 0 - 83886078
  EXPECT_EQ(m.label, "HUGE");
  EXPECT_NE(Drives(image).find("5120.00 GB"), std::string::npos);
  // With record 0 unreadable the copy in $MFTMirr, 2.5 TiB into the
  // volume, past sector 2^32, is what the scan has to go by.
  const ntfstest::NtfsGeometry g = ntfstest::GeometryOf(image);
  ASSERT_GT(g.mirrorCluster * g.clusterBytes / 512, 1ULL << 32);
  ntfstest::WriteAt(image, g.MftOffset(), ntfstest::Buffer(1024, 0));
  const Scan s = RunScan(image, false);
  ASSERT_EQ(s.status, 0) << s.log;
  EXPECT_TRUE(s.Logged("its copy in $MFTMirr at cluster 41943039 is tried.")) << s.log;
  ASSERT_NE(s.Find("/Far/gone.bin"), nullptr) << s.log;
  EXPECT_EQ((*s.Find("/Far/gone.bin"))["size"], 200000);
  EXPECT_EQ((*s.Find("/Far/gone.bin"))["state"], "Recovery may be possible");
  EXPECT_NE(s.Find("/Far/kept.txt"), nullptr);
}

// ---------------------------------------------------------------------------
// Volumes of 4096-byte sectors, made by mkntfs -s 4096 (so their MFT records
// and index blocks are 4096 bytes): the drive row and the drive record
// against fsstat, both scans against fls; and boot sectors edited to state
// record sizes the volume does not have.

struct Volume {
  const char* image;
  std::uint32_t clusterBytes;
};
void PrintTo(const Volume& v, std::ostream* os) { *os << v.image; }

class NtfsSectorSize : public ::testing::TestWithParam<Volume> {
 protected:
  std::string Image() const { return test::Fixture(GetParam().image); }
  // fls's deleted entries, those without a byte left out.
  std::map<std::string, std::uint64_t> FlsDeleted() const {
    std::map<std::string, std::uint64_t> out = FlsEntries(Image(), true);
    for (const auto& e : test::ManifestOf(GetParam().image))
      if (e["deleted"] && !e["folder"] && e["size"] == 0) out.erase("/" + e["path"].get<std::string>());
    return out;
  }
};

TEST_P(NtfsSectorSize, TheDriveRowAndRecordGiveTheVolumesOwnGeometry) {
  const std::string fs = RunCommand("fsstat " + Quote(Image())).out;
  const std::uint64_t sector = FsstatFigure(fs, R"(Sector Size: (\d+))");
  const std::uint64_t cluster = FsstatFigure(fs, R"(Cluster Size: (\d+))");
  const std::uint64_t sectors = FsstatFigure(fs, R"(Total Sector Range: 0 - (\d+))") + 1;
  // The image is what it is for.
  ASSERT_EQ(sector, 4096u);
  ASSERT_EQ(cluster, GetParam().clusterBytes);
  ASSERT_EQ(FsstatFigure(fs, R"(Size of MFT Entries: (\d+) bytes)"), 4096u);
  ASSERT_EQ(FsstatFigure(fs, R"(Size of Index Records: (\d+) bytes)"), 4096u);

  const auto rows = RunCommand(test::TimedCli("drives --no-devices --json " + Quote(Image())));
  ASSERT_EQ(rows.status, 0) << rows.err;
  const auto row = nlohmann::json::parse(rows.out.substr(0, rows.out.find('\n')));
  char size[32];
  std::snprintf(size, sizeof size, "%.2f GB", static_cast<double>(sectors * sector) / (1 << 30));
  EXPECT_EQ(row["Size"], size);
  EXPECT_EQ(row["SPC"], std::to_string(cluster / sector));

  test::HeadlessApp h;
  h.OpenImages({Image()});
  ASSERT_EQ(h.app.drives.size(), 1u) << h.LogText();
  const LOGDRIVE_INFO& d = *h.app.drives[0];
  EXPECT_EQ(d.bytesPerSector, sector);
  EXPECT_EQ(d.ClusterBytes(), cluster);
  EXPECT_EQ(d.mftRecordBytes, 4096u);
  EXPECT_EQ(d.indexBlockBytes, 4096u);
  EXPECT_EQ(d.clusterCount, FsstatFigure(fs, R"(Total Cluster Range: 0 - (\d+))") + 1);
}

TEST_P(NtfsSectorSize, BothScansListTheDeletedEntriesFlsLists) {
  const std::string before = test::Sha256OfFile(Image());
  const auto fls = FlsDeleted();
  ASSERT_GE(fls.size(), 5u);

  const test::Scan indexed = test::RunScan(Image(), false);
  ASSERT_EQ(indexed.status, 0) << indexed.log;
  EXPECT_FALSE(indexed.Logged("-- Error")) << indexed.log;
  EXPECT_EQ(Difference(indexed.Records(true), fls), "");
  EXPECT_EQ(Difference(indexed.Records(false), FlsEntries(Image(), false)), "");

  // The quick scan knows no live folder: what fls places under one stands
  // in an orphan folder, so names and records are compared.
  const test::Scan quick = test::RunScan(Image(), true);
  ASSERT_EQ(quick.status, 0) << quick.log;
  EXPECT_FALSE(quick.Logged("-- Error")) << quick.log;
  std::set<std::pair<std::string, std::uint64_t>> ours, theirs;
  for (const auto& e : quick.entries)
    if (e["deleted"]) ours.emplace(e["name"], e["record"]);
  for (const auto& [path, record] : fls) theirs.emplace(path.substr(path.rfind('/') + 1), record);
  EXPECT_EQ(ours, theirs);

  EXPECT_EQ(test::Sha256OfFile(Image()), before);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, NtfsSectorSize, ::testing::Values(Volume{"ntfs-4kn.img", 4096}, Volume{"ntfs-4kn-16k.img", 16384}), [](const auto& p) {
  std::string name = p.param.image;
  name = name.substr(0, name.find('.'));
  for (char& c : name)
    if (c == '-') c = '_';
  return name;
});

// Boot sectors that state a record or index-block size the volume does not
// have: the volume is refused, or read without that size, and the log says
// which; nothing is read past a record.
TEST(NtfsStatedSizes, SizesTheVolumeDoesNotHaveAreToldAndNotReadWith) {
  struct Case {
    const char* what;
    std::size_t field;
    std::uint8_t value;
    bool listed;
    const char* logged;
  };
  const Case cases[] = {
      {"records of 128 KiB", 0x40, 0xEF, false, "its boot sector gives MFT records of 131072 bytes"},
      {"records of 16 clusters", 0x40, 16, false, "its boot sector gives MFT records of 262144 bytes"},
      // 1024-byte records on a volume of 4096-byte ones: record 0 and its
      // mirror fail their update sequence, read at that size.
      {"records of 1 KiB", 0x40, 0xF6, false, "its update sequence does not check"},
      {"index blocks of 3 clusters", 0x44, 3, true, "its boot sector gives index blocks of 49152 bytes"},
  };
  test::ScratchDir dir;
  const std::string source = test::Fixture("ntfs-4kn-16k.img");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // The boot sector and its backup in the volume's last sector alike.
    const std::string image = test::CopyOf(source, dir, "edited.img");
    ntfstest::WriteAt(image, c.field, {c.value});
    ntfstest::WriteAt(image, std::filesystem::file_size(image) - 4096 + c.field, {c.value});
    const std::string before = test::Sha256OfFile(image);
    const auto rows = RunCommand(test::TimedCli("drives --no-devices " + Quote(image)));
    EXPECT_NE(rows.err.find(c.logged), std::string::npos) << rows.err;
    EXPECT_EQ(rows.out.find("NTFS4KN16K") != std::string::npos, c.listed) << rows.out;
    if (c.listed) {
      // Each folder's own index root gives its block size.
      const test::Scan s = test::RunScan(image, false);
      EXPECT_EQ(s.status, 0) << s.log;
      EXPECT_EQ(Difference(s.Records(true), FlsEntries(source, true)), "");
    }
    EXPECT_EQ(test::Sha256OfFile(image), before);
    std::filesystem::remove(image);
  }
}

}  // namespace
}  // namespace tsn
