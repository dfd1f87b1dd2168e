// The two NTFS scans end to end, checked against The Sleuth Kit: through the
// command line on volumes made by Windows (with their published ground truth)
// and by mkntfs and libntfs-3g (with the fixture manifest); and through the
// headless window for the tree, the counters, the log, and Exit in each phase.

#include <regex>

#include "app/app_state.h"
#include "app/file_list.h"
#include "app/folder_tree.h"
#include "app/main_dialog.h"
#include "fs/logdrive_info.h"
#include "ntfs_test_support.h"
#include "source/volume_source.h"

namespace tsn {
namespace {

using namespace ntfstest;
using test::Quote;
using test::RunCommand;

// The size istat gives for an attribute of a record: the unnamed $DATA,
// unless another attribute is named.
std::uint64_t IstatSize(const std::string& image, std::uint64_t record, const std::string& offset = "",
                        const std::string& attribute = R"(\$DATA \(128-\d+\)\s+Name: N/A\s+\S*\s*Resident)") {
  const auto r = RunCommand("istat " + offset + " '" + image + "' " + std::to_string(record));
  std::smatch m;
  return std::regex_search(r.out, m, std::regex("Type: " + attribute + R"(\s+size: (\d+))")) ? std::stoull(m[1]) : ~0ULL;
}

// A volume's geometry, a figure a line, to compare whole: ours from the
// drive record and the drive list's row, TSK's from fsstat and from the
// bytes of $Bitmap as icat reads them (whole free bytes count as free).
std::string Geometry(std::uint64_t sector, std::uint64_t cluster, std::uint64_t clusters, std::uint64_t freeBytes,
                     std::uint64_t record, std::uint64_t block, const std::string& label, const std::string& size) {
  std::ostringstream out;
  out << "sector " << sector << "\ncluster " << cluster << "\nclusters " << clusters << "\nbitmap bytes "
      << clusters / 8 << "\nfree bytes " << freeBytes << "\nrecord " << record << "\nindex block " << block
      << "\nlabel " << label << "\nsize " << size << "\n";
  return out.str();
}
std::string OurGeometry(const std::string& image) {
  test::HeadlessApp h;
  h.OpenImages({image}, -1);
  EXPECT_EQ(h.app.drives.size(), 1u) << h.LogText();
  if (h.app.drives.empty()) return "";
  const LOGDRIVE_INFO& d = *h.app.drives[0];
  const auto row = nlohmann::json::parse(RunCommand(test::TimedCli("drives --no-devices --json " + Quote(image))).out);
  EXPECT_EQ(row["Volume"], d.volumeName);
  EXPECT_EQ(row["SPC"], std::to_string(d.sectorsPerCluster));
  return Geometry(d.bytesPerSector, d.ClusterBytes(), d.clusterCount, d.freeUnits, d.mftRecordBytes,
                  d.indexBlockBytes, d.volumeName, row["Size"]) +
         "allocation units " + std::to_string(d.allocUnits) + "\n";
}
std::string TskGeometry(const std::string& image, const std::string& offset) {
  const std::string fs = RunCommand("fsstat " + offset + " " + Quote(image)).out;
  auto figure = [&](const std::string& pattern) {
    std::smatch m;
    EXPECT_TRUE(std::regex_search(fs, m, std::regex(pattern))) << pattern << "\n" << fs;
    return m.empty() ? 0 : std::stoull(m[1]);
  };
  const std::uint64_t sector = figure(R"(Sector Size: (\d+))"), clusters = figure(R"(Total Cluster Range: 0 - (\d+))") + 1;
  const std::string bitmap = RunCommand("icat " + offset + " " + Quote(image) + " 6").out;
  const std::uint64_t freeBytes = std::count(bitmap.begin(), bitmap.begin() + std::min(bitmap.size(), clusters / 8), '\0');
  char size[32];
  std::snprintf(size, sizeof size, "%.2f GB",
                static_cast<double>((figure(R"(Total Sector Range: 0 - (\d+))") + 1) * sector) / (1 << 30));
  std::smatch label;
  std::regex_search(fs, label, std::regex("Volume Name: ([^\n]*)"));
  return Geometry(sector, figure(R"(Cluster Size: (\d+))"), clusters, freeBytes,
                  figure(R"(Size of MFT Entries: (\d+) bytes)"), figure(R"(Size of Index Records: (\d+) bytes)"),
                  label.empty() ? "" : label[1].str(), size) +
         "allocation units " + std::to_string(clusters / 8) + "\n";
}

// The image a row of tests/data names: a fixture, or a member of a shared real image.
std::string ImageOf(const nlohmann::json& row) {
  return row.contains("fixture") ? test::Fixture(row["fixture"])
                                  : test::RealImage(row["archive"], row.value("member", ""));
}

TEST(NtfsGeometry, TheDriveRowAndRecordGiveWhatFsstatAndTheBitmapGive) {
  for (const auto& v : test::DataRows("ntfs-geometry-volumes.jsonl")) {
    const std::string image = ImageOf(v);
    SCOPED_TRACE(image);
    if (image.empty() || !std::ifstream(image)) continue;
    const std::string theirs = TskGeometry(image, v.value("tsk", ""));
    ASSERT_EQ(theirs.rfind("sector " + v["sector"].dump() + "\n", 0), 0u) << "the image is not what it is for";
    EXPECT_EQ(OurGeometry(image), theirs);
  }
}

// The milestones of the indexed scan's log, in order.
const char* const kMilestones[] = {"Begin phase 1...", "Phase 1 completed.", "Begin phase 2...",
                                   "Phase 2 completed", "Begin Phase 3...", "Phase 3 completed"};

// A line for each deleted entry and orphan folder of a scan of DFTT #7.
std::map<std::string, std::string> Dftt7View(const Scan& s) {
  std::map<std::string, std::string> out;
  for (const auto& e : s.entries) {
    const std::string path = e["path"];
    if (!e["deleted"].get<bool>() && path.rfind("/TSNF_Folder.", 0) != 0) continue;
    std::string& line = out[path];
    line = (e["deleted"].get<bool>() ? "deleted " : "live ") + std::to_string(e["record"].get<std::uint64_t>());
    if (!e["folder"].get<bool>())
      line += " " + std::to_string(e["size"].get<std::uint64_t>()) + " " + e["state"].get<std::string>() + " " +
              e["created"].get<std::string>().substr(0, 10);
  }
  return out;
}

TEST(NtfsRealImages, Dftt7GroundTruthInBothScansAndTheLiveTreeAsFlsListsIt) {
  const std::string image = Dftt7();
  if (image.empty()) TESSILON_SKIP_WITHOUT_REAL_IMAGES();
  // The sizes are the unnamed streams' (mult1.dat's ADS is 1234), and all
  // were made on the leap day of 2004; the orphan folder takes the number
  // of the missing parent.
  std::map<std::string, std::string> expected = {
      {"/dir1", "deleted 33"}, {"/dir1/dir2", "deleted 34"}, {"/TSNF_Folder.0", "live 37"}};
  for (const auto& t : test::DataRows("dftt-7-undel-ntfs.jsonl"))
    expected[t["path"]] =
        "deleted " + t["record"].dump() + " " + t["size"].dump() + " Recovery may be possible 2004-02-29";
  const std::string before = test::Sha256OfFile(image);
  const Scan quick = SoundScan(image, true), s = SoundScan(image, false);
  EXPECT_TRUE(quick.Logged("Beginning deleted file scan.")) << quick.log;
  EXPECT_EQ(Dftt7View(quick), expected);
  EXPECT_EQ(quick.entries.size(), expected.size());  // nothing live
  EXPECT_EQ(Dftt7View(s), expected);
  auto live = s.Records(false);
  live.erase("/TSNF_Folder.0");
  EXPECT_EQ(Difference(live, FlsEntries(image, false)), "");
  std::size_t at = s.log.find("Beginning file system scan.");
  for (const char* m : kMilestones) {
    at = s.log.find(m, at);
    ASSERT_NE(at, std::string::npos) << m << "\n" << s.log;
  }
  EXPECT_NE(s.log.find("File system scan completed.", at), std::string::npos) << s.log;
  EXPECT_EQ(test::Sha256OfFile(image), before);
}

TEST(NtfsRealImages, WindowsVolumesListAsFlsListsThemWithTheSizesOfTheirRecords) {
  for (const auto& c : test::DataRows("ntfs-windows-volumes.jsonl")) {
    const std::string image = ImageOf(c), tsk = c.value("tsk", "");
    if (image.empty()) TESSILON_SKIP_WITHOUT_REAL_IMAGES();
    SCOPED_TRACE(image);
    const Scan s = SoundScan(image, false);
    const auto fls = FlsEntries(image, false, tsk);
    EXPECT_GT(fls.size(), 30u);
    EXPECT_EQ(Difference(s.Records(false), fls), "");
    if (c["deleted"] != 0) {  // every deleted record that still holds its name, under its own name
      EXPECT_EQ(Difference(s.Records(true), FlsEntries(image, true, tsk)), "");
      EXPECT_EQ(s.Records(true).size(), c["deleted"]);
    }
    for (const auto& [path, record] : c["sized"].items()) {
      ASSERT_NE(s.Find(path), nullptr) << path;
      EXPECT_EQ((*s.Find(path))["size"], IstatSize(image, record, tsk)) << path;
    }
  }
}

// ---------------------------------------------------------------------------
// The fixture volumes, against what their builder wrote and deleted, and
// against The Sleuth Kit.

// A fixture and how many orphan folders at least its quick scan makes.
class NtfsFixture : public ::testing::TestWithParam<std::pair<const char*, std::size_t>> {
 protected:
  const char* Name() const { return GetParam().first; }
  std::string Image() const { return test::Fixture(Name()); }
  // fls's deleted entries, those without a byte left out.
  std::map<std::string, std::uint64_t> FlsDeleted() const {
    std::map<std::string, std::uint64_t> out = FlsEntries(Image(), true);
    for (const auto& e : test::ManifestOf(Name()))
      if (e["deleted"] && !e["folder"] && e["size"] == 0) out.erase("/" + e["path"].get<std::string>());
    return out;
  }
};

TEST_P(NtfsFixture, IndexedScanFindsWhatWasWrittenAndDeletedAndWhatFlsLists) {
  const std::string image = Image();
  const auto manifest = test::ManifestOf(Name());
  ASSERT_GT(manifest.size(), 10u) << "no fixtures in " << TESSILON_FIXTURES;
  const std::string before = test::Sha256OfFile(image);
  const Scan s = SoundScan(image, false);
  EXPECT_EQ(Difference(s.Records(true), FlsDeleted()), "");
  EXPECT_EQ(Difference(s.Records(false), FlsEntries(image, false)), "");
  std::set<std::uint64_t> allocated;
  std::istringstream blkls(RunCommand("blkls -e -l '" + image + "'").out);
  for (std::string line; std::getline(blkls, line);)
    if (line.size() > 2 && line.compare(line.size() - 2, 2, "|a") == 0) allocated.insert(std::stoull(line));
  std::size_t checked = 0;
  std::set<std::string> written;
  for (const auto& j : manifest) {
    const std::string path = "/" + j["path"].get<std::string>();
    const bool deleted = j["deleted"], folder = j["folder"];
    written.insert(path);
    const auto* e = s.Find(path);
    // A lost name cannot be found; an empty deleted file has nothing to recover.
    if (deleted && (j["name_lost"] || (!folder && j["size"] == 0))) {
      EXPECT_EQ(e, nullptr) << path;
      continue;
    }
    ASSERT_NE(e, nullptr) << path;
    ++checked;
    // Never reused: free. Reused: whatever the bitmap says now, as TSK sees it (a cluster may have been taken
    // and freed again).
    std::string state = "Recovery may be possible";
    if (j["overwritten"])
      for (const std::uint64_t c : test::IstatClusters(image, (*e)["record"]))
        if (allocated.count(c)) state = "Chain is in use";
    using J = nlohmann::json;
    EXPECT_EQ(J::array({(*e)["deleted"], (*e)["folder"], folder ? J(0) : (*e)["size"],
                        deleted && !folder ? (*e)["state"] : J("")}),
              J::array({deleted, folder, folder ? J(0) : j["size"], J(deleted && !folder ? state : "")}))
        << path;
  }
  EXPECT_GT(checked, manifest.size() / 2);
  // Nothing else but the volume's own files.
  for (const auto& e : s.entries)
    EXPECT_TRUE(written.count(e["path"]) || e["path"].get<std::string>().find("/$") != std::string::npos) << e["path"];
  EXPECT_EQ(test::Sha256OfFile(image), before);
}

TEST_P(NtfsFixture, QuickScanListsEveryDeletedFileOnceAndNumbersItsOrphanFolders) {
  const Scan s = SoundScan(Image(), true);
  // It knows no live folder: what stands under one stands in an orphan
  // folder, so names are compared, with their sizes and with fls's records.
  std::multiset<std::pair<std::string, std::uint64_t>> expected, found;
  for (const auto& m : test::ManifestOf(Name()))
    if (m["deleted"] && !m["name_lost"] && !m["folder"] && m["size"] > 0) {
      const std::string path = m["path"];
      expected.emplace(path.substr(path.rfind('/') + 1), m["size"]);
    }
  std::set<std::pair<std::string, std::uint64_t>> ours, theirs;
  for (const auto& [path, record] : FlsDeleted()) theirs.emplace(path.substr(path.rfind('/') + 1), record);
  std::vector<std::string> orphanFolders;
  for (const auto& e : s.entries) {
    const std::string path = e["path"];
    EXPECT_TRUE(e["deleted"].get<bool>() || path.find("_Folder.") != std::string::npos) << path;
    if (!e["folder"].get<bool>()) found.emplace(e["name"], e["size"]);
    if (e["deleted"].get<bool>()) ours.emplace(e["name"], e["record"]);
    if (e["folder"].get<bool>() && path.find('/', 1) == std::string::npos && path.find("_Folder.") != std::string::npos)
      orphanFolders.push_back(path.substr(1));
  }
  EXPECT_EQ(found, expected);
  EXPECT_EQ(ours, theirs);
  // Orphan folders stand under the root in the order they were made, and
  // the folder pass runs first: numbered 0, 1, 2, ... in that order, those
  // made for folders before those made for files.
  bool filesSeen = false;
  for (std::size_t i = 0; i < orphanFolders.size(); ++i) {
    const std::string& f = orphanFolders[i];
    EXPECT_EQ(f.substr(12), std::to_string(i));
    filesSeen = filesSeen || f.rfind("TSNF", 0) == 0;
    EXPECT_TRUE(filesSeen == (f.rfind("TSNF", 0) == 0)) << f << " was made after a folder for files";
  }
  EXPECT_GE(orphanFolders.size(), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, NtfsFixture,
                         ::testing::Values(std::pair{"ntfs-4k.img", 4}, std::pair{"ntfs-1k.img", 4},
                                           std::pair{"ntfs-4kn.img", 4}, std::pair{"ntfs-4kn-16k.img", 1}),
                         [](const auto& p) {
                           const std::string image = p.param.first;
                           return std::regex_replace(image.substr(0, image.find('.')), std::regex("-"), "_");
                         });

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
    EXPECT_EQ((std::vector<std::uint64_t>{s.Drive().foundDirs, s.Drive().foundFiles, s.Drive().foundBytes}),
              (std::vector<std::uint64_t>{dirs, files, bytes}));
    EXPECT_EQ((std::vector<std::string>{s.h.ui.NodeLabel(s.h.ui.RootNode()), s.h.ui.Text(kDirsText), s.h.ui.Text(kFilesText)}),
              (std::vector<std::string>{"Root", "DIRS: " + std::to_string(dirs), "FILES: " + std::to_string(files)}));
    EXPECT_EQ(s.h.ui.ProgressState().position, 0u);
    EXPECT_EQ(s.h.app.busy, 0u);
    // A folder holding deleted entries is no longer active, up to the root.
    EXPECT_EQ(FolderRecordOf(s.h.app, s.h.ui.RootNode())->flags & kFlagInUse, 0u);
  }
  // The quick scan's bar runs over both passes, one step a record and one
  // a file, in its own colour.
  const std::uint64_t records = s.h.ui.ProgressState().high / 3, stepsBefore = s.h.ui.ProgressState().steps;
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
  const std::uint64_t records = full.h.ui.ProgressState().high / 3, phase1 = full.Pumps() - 2 * records;
  ASSERT_GT(records, 1000u);
  ASSERT_GT(phase1, 3000u);  // one pump per index entry
  // Exit in the middle of phase 1, 2 and 3: the milestones before it are
  // logged and none after; past phase 1 the scan counts as done.
  const struct {
    std::uint64_t exitAfter;
    std::size_t reached;  // milestones logged
    int result;
  } cases[] = {{phase1 / 2, 1, 0}, {phase1 + records / 2, 3, 1}, {phase1 + records + records / 2, 5, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.exitAfter);
    Session s(image);
    s.Run(true, c.exitAfter);
    const auto log = s.ScanLog();
    for (std::size_t i = 0; i < std::size(kMilestones); ++i)
      EXPECT_EQ(std::count(log.begin(), log.end(), kMilestones[i]), i < c.reached ? 1 : 0) << kMilestones[i];
    EXPECT_EQ(std::count(log.begin(), log.end(), "Current function interrupted by user."), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), "File system scan completed."), c.result);
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
  const std::string one = HostFile(dir, "one.txt", "x\n"), piece = HostFile(dir, "piece.bin", std::string(1024, 'p'));
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
  const std::string image = MakeNtfsImage(dir, "biglist.img", 64, 1024, commands);
  const auto istat = RunCommand("istat '" + image + "' 64");
  ASSERT_NE(istat.out.find("$ATTRIBUTE_LIST"), std::string::npos) << "no attribute list was made";
  const Scan s = SoundScan(image, false);
  EXPECT_EQ(Difference(s.Records(false), FlsEntries(image, false)), "");
  EXPECT_NE(s.Find("/Big/Zzz 😀.txt"), nullptr);
}

TEST(NtfsBuilt, ADeletedFolderThatComesBeforeItsParentInTheMftStillLandsUnderIt) {
  test::ScratchDir dir;
  const std::string note = HostFile(dir, "note.txt", std::string(5000, 'n'));
  // The remount makes the allocator hand out the record freed before it:
  // C gets a lower record number than its parent P.
  const std::string image = MakeNtfsImage(
      dir, "order.img", 16, 4096,
      "mkdir\t/early\nmkdir\t/P\nrm\t/early\nremount\nmkdir\t/P/C\nfile\t/P/C/inner.txt\t" + note +
          "\nrm\t/P/C/inner.txt\nrm\t/P/C\nrm\t/P\n");
  const auto fls = FlsEntries(image, true);
  ASSERT_LT(fls.at("/P/C"), fls.at("/P")) << "the records came out in another order";
  for (const bool quick : {true, false}) {
    const Scan s = SoundScan(image, quick);
    EXPECT_EQ(Difference(s.Records(true), fls), "");
    for (const auto& e : s.entries) EXPECT_EQ(e["path"].get<std::string>().find("_Folder."), std::string::npos);
  }
}

TEST(NtfsBuilt, EachScanReadsTheMftOnceWhateverTheIndexesInterleave) {
  test::ScratchDir dir;
  const std::string one = HostFile(dir, "one.txt", "x\n");
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
  const std::string image = MakeNtfsImage(dir, "folders.img", 64, 4096, commands + removals);
  const std::uint64_t mft = IstatSize(image, 0);
  ASSERT_GT(mft, 2400u * 1024);
  std::uint64_t folders = 0, indexes = 0;
  for (const auto& [path, record] : FlsEntries(image, false))
    if (path.rfind("/Folder ", 0) == 0 && path.find('/', 1) == std::string::npos) {
      ++folders;
      indexes += IstatSize(image, record, "", R"(\$INDEX_ALLOCATION \(160-\d+\)\s+Name: \$I30\s+Non-Resident)");
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
  const std::string content = HostFile(dir, "content.bin", std::string(200000, 'c'));
  // A sparse image: clusters of 64 KiB keep its bitmap at 10 MiB.
  const std::string image = MakeNtfsImage(
      dir, "huge.img", 5 * 1024 * 1024, 65536,
      "mkdir\t/Far\nfile\t/Far/kept.txt\t" + content + "\nfile\t/Far/gone.bin\t" + content +
          "\nrm\t/Far/gone.bin\n",
      "HUGE");
  const std::string theirs = TskGeometry(image, "");
  ASSERT_TRUE(test::Has(theirs, "clusters 83886079\nbitmap bytes 10485759\n")) << theirs;
  EXPECT_EQ(OurGeometry(image), theirs);
  // With record 0 unreadable the copy in $MFTMirr, 2.5 TiB into the
  // volume, past sector 2^32, is what the scan has to go by.
  const NtfsGeometry g = GeometryOf(image);
  ASSERT_GT(g.mirrorCluster * g.clusterBytes / 512, 1ULL << 32);
  WriteAt(image, g.MftOffset(), Buffer(1024, 0));
  const Scan s = RunScan(image, false);
  ASSERT_EQ(s.status, 0) << s.log;
  EXPECT_TRUE(s.Logged("its copy in $MFTMirr at cluster 41943039 is tried.")) << s.log;
  ASSERT_NE(s.Find("/Far/gone.bin"), nullptr) << s.log;
  EXPECT_EQ((*s.Find("/Far/gone.bin"))["size"], 200000);
  EXPECT_EQ((*s.Find("/Far/gone.bin"))["state"], "Recovery may be possible");
  EXPECT_NE(s.Find("/Far/kept.txt"), nullptr);
}

// Boot sectors that state a record or index-block size the volume does not
// have: the volume is refused, or read without that size, and the log says
// which; nothing is read past a record.
TEST(NtfsStatedSizes, SizesTheVolumeDoesNotHaveAreToldAndNotReadWith) {
  test::ScratchDir dir;
  const std::string source = test::Fixture("ntfs-4kn-16k.img");
  for (const auto& c : test::DataRows("ntfs-stated-sizes.jsonl")) {
    SCOPED_TRACE(c["what"]);
    // The boot sector and its backup in the volume's last sector alike.
    const std::string image = test::CopyOf(source, dir, "edited.img");
    const std::uint64_t field = c["field"];
    for (const std::uint64_t at : {field, std::filesystem::file_size(image) - 4096 + field})
      WriteAt(image, at, {c["value"].get<std::uint8_t>()});
    const auto rows = RunCommand(test::TimedCli("drives --no-devices " + Quote(image)));
    EXPECT_TRUE(test::Has(rows.err, c["logged"])) << rows.err;
    EXPECT_EQ(test::Has(rows.out, "NTFS4KN16K"), c["listed"].get<bool>()) << rows.out;
    // Each folder's own index root gives its block size.
    if (c["listed"]) {
      EXPECT_EQ(Difference(RunScan(image, false).Records(true), FlsEntries(source, true)), "");
    }
    std::filesystem::remove(image);
  }
}

}  // namespace
}  // namespace tsn
