// The file list, the folder tree with its check marks, and the counters.

#include <algorithm>
#include <span>

#include "app/progress.h"
#include "app/file_list.h"
#include "app/folder_tree.h"
#include "test_support.h"
#include "app/list_interaction.h"

namespace tsn {
namespace {

using test::HeadlessApp;

FoundFile* AddFile(HeadlessApp& h, MftFileInfo* folder, const std::string& name,
                   std::uint64_t size, std::uint32_t flags = kFlagInUse) {
  FoundFile* f = h.app.Records().NewFile();
  h.app.Records().KeepName(f, name);
  f->size = size;
  f->flags = flags;
  AppendToFolder(folder, f);
  return f;
}

struct Tree {
  NodeHandle root, a, b, c;
  MftFileInfo *rootInfo, *aInfo, *bInfo, *cInfo;
};

// Root -> A -> B, and C beside A.
Tree MakeTree(HeadlessApp& h, LOGDRIVE_INFO& drive) {
  Tree t{};
  t.root = CreateRootFolder(&h.app, &drive);
  t.rootInfo = FolderRecordOf(h.app, t.root);
  auto folder = [&](const char* name, std::uint64_t record, NodeHandle parent, MftFileInfo** info) {
    *info = h.app.Records().NewInfo();
    (*info)->SetName(name);
    (*info)->flags = kFlagInUse | kFlagFolder;
    (*info)->recordNumber = record;
    return InsertFolderNode(&h.app, *info, parent, InsertPosition::Sorted);
  };
  t.a = folder("A", 10, t.root, &t.aInfo);
  t.b = folder("B", 11, t.a, &t.bInfo);
  t.c = folder("C", 12, t.root, &t.cInfo);
  return t;
}

TEST(FileList, ShowsNameSizeDatesAndState) {
  HeadlessApp h;
  LOGDRIVE_INFO drive;
  const Tree t = MakeTree(h, drive);
  FoundFile* fat = AddFile(h, t.aInfo, "photo.jpg", 1234, 0);
  fat->fatDate = 0x2C21;
  fat->fatTime = 0x6000;
  FoundFile* ntfs = AddFile(h, t.aInfo, "x.js", 7, kFlagBadSize | kFlagChainInUse);
  ntfs->recordNumber = 64;
  AddFile(h, t.aInfo, "song.Mp3", 1, kFlagInUse | kFlagChainInUse);
  ShowFolderFiles(&h.app, t.a);
  ASSERT_EQ(h.ui.RowCount(kFileList), 3);
  const struct {
    int row, column;
    std::string text;
  } cells[] = {{0, 1, "1234"}, {0, 2, "FAT32 N/A"}, {0, 3, "01-01-2002 12:00"}, {0, 4, "Recovery may be possible"},
               {1, 2, "01-01-1601 00:00"},  // NTFS time 0
               {1, 4, "Bad File Size"}, {2, 4, "Active"}};
  for (const auto& c : cells) EXPECT_EQ(h.ui.RowText(kFileList, c.row, c.column), c.text) << c.row << "," << c.column;
  EXPECT_EQ((std::vector<int>{h.ui.RowImage(kFileList, 0), h.ui.RowImage(kFileList, 1), h.ui.RowImage(kFileList, 2)}),
            (std::vector<int>{9, 12, 11}));
  ShowFolderFiles(&h.app, kNoNode);
  EXPECT_EQ(h.ui.RowCount(kFileList), 0);
}

// A scan keeps its names and run lists packed in shared blocks: thousands of
// files of every length, up to the longest NTFS name (255 units of three UTF-8
// bytes) and a run list larger than a block, each read back as its own.
TEST(FileList, ManyNamesAndRunListsEachReadBackWhole) {
  HeadlessApp h;
  LOGDRIVE_INFO drive;
  const Tree t = MakeTree(h, drive);
  std::vector<std::string> names;
  std::vector<FoundFile*> files;
  for (int i = 0; i < 6000; ++i) {
    std::string name = std::to_string(i) + std::string(static_cast<std::size_t>(i % 37), 'n');
    if (i % 997 == 0)
      for (int u = 0; u < 255; ++u) name += "\xE6\x96\x87";
    names.push_back(name);
    files.push_back(AddFile(h, t.bInfo, name, static_cast<std::uint64_t>(i)));
    std::vector<DataRun> runs(static_cast<std::size_t>(i % 1500 == 7 ? 3000 : i % 4));
    for (std::size_t r = 0; r < runs.size(); ++r) runs[r] = {static_cast<std::int64_t>(r), i, 0, static_cast<std::int64_t>(r + 1)};
    h.app.Records().KeepRuns(files.back(), runs);
  }
  ShowFolderFiles(&h.app, t.b);
  ASSERT_EQ(h.ui.RowCount(kFileList), 6000);
  std::vector<std::string> shown;
  for (int r = 0; r < 6000; ++r) shown.push_back(h.ui.RowText(kFileList, r, 0));
  std::sort(shown.begin(), shown.end());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(shown, names);
  for (int i = 0; i < 6000; ++i) {
    const std::span<const DataRun> runs = files[static_cast<std::size_t>(i)]->Runs();
    ASSERT_EQ(runs.size(), i % 1500 == 7 ? 3000u : static_cast<std::size_t>(i % 4)) << i;
    for (std::size_t r = 0; r < runs.size(); ++r)
      ASSERT_TRUE(runs[r].startVcn == static_cast<std::int64_t>(r) && runs[r].lcn == i &&
                  runs[r].length == static_cast<std::int64_t>(r + 1)) << i << " run " << r;
  }
}

// A folder known by its 8.3 name only is shown by it; the lookups
// themselves are the found tree's (found_tree_test.cpp).
TEST(FolderTree, ADosOnlyNameIsTheLabel) {
  HeadlessApp h;
  LOGDRIVE_INFO drive;
  const NodeHandle root = CreateRootFolder(&h.app, &drive);
  EXPECT_EQ(drive.foundDirs, 1u);
  MftFileInfo* dos = h.app.Records().NewInfo();
  dos->SetDosName("DOSNAME");
  dos->recordNumber = 7;
  const NodeHandle node = InsertFolderNode(&h.app, dos, root, InsertPosition::Last);
  EXPECT_EQ(h.ui.NodeLabel(node), "DOSNAME");
  EXPECT_EQ(FindFolderByRecord(&h.app, root, 7), node);
}

// The window suite ticks and recounts on a real scan; what it cannot reach
// is a tick two folders down, an untick that must leave ancestors alone, and
// a box the window changed on its own, which must not stick.
TEST(CheckMarks, TicksSpreadDownAndUpButUnticksOnlyDown) {
  HeadlessApp h;
  LOGDRIVE_INFO drive;
  h.app.currentDrive = &drive;
  const Tree t = MakeTree(h, drive);
  FoundFile* rootFile = AddFile(h, t.rootInfo, "r.txt", 1);
  FoundFile* aFile = AddFile(h, t.aInfo, "a.txt", 1000);
  FoundFile* bFile = AddFile(h, t.bInfo, "b.txt", 3ULL << 30);
  h.ui.Click(kFolderTree, {-1, t.b, HitPart::CheckBox});
  for (NodeHandle n : {t.root, t.a, t.b}) EXPECT_EQ(h.ui.NodeCheck(n), kChecked);
  EXPECT_EQ(bFile->checkState, kCheckTicked);
  EXPECT_NE(aFile->checkState, kCheckTicked);  // ancestors' own files stay
  EXPECT_NE(rootFile->checkState, kCheckTicked);
  h.ui.RunDialog();
  EXPECT_EQ(h.ui.Text(kDirsText), "DIRS: 2");
  EXPECT_EQ(h.ui.Text(kSizeText), "3.00 GB");
  h.ui.Click(kFolderTree, {-1, t.a, HitPart::CheckBox});  // untick A
  EXPECT_EQ(h.ui.NodeCheck(t.b), kUnchecked);
  EXPECT_EQ(h.ui.NodeCheck(t.root), kChecked);
  EXPECT_EQ(bFile->checkState, kCheckCleared);
  // In the list: a tick reaches the ancestors, an untick leaves the tree.
  h.ui.Click(kFolderTree, {-1, t.b, HitPart::Label});
  ASSERT_EQ(h.ui.RowCount(kFileList), 1);
  h.ui.Click(kFileList, {0, kNoNode, HitPart::CheckBox});
  EXPECT_EQ(h.ui.NodeCheck(t.a), kChecked);
  h.ui.Click(kFileList, {0, kNoNode, HitPart::CheckBox});
  EXPECT_EQ(bFile->checkState, kCheckCleared);
  EXPECT_EQ(h.ui.NodeCheck(t.b), kChecked);
  h.ui.Click(kFileList, {0, kNoNode, HitPart::Label});  // a text click changes nothing
  EXPECT_EQ(bFile->checkState, kCheckCleared);
  // A box ticked by the window alone, with no click behind it, is what the
  // list shows only.
  h.ui.SetRowCheck(kFileList, 0, kChecked);
  ShowFolderFiles(&h.app, t.b);
  EXPECT_EQ(h.ui.RowCheck(kFileList, 0), kUnchecked);
}

TEST(Progress, ThousandsClockAndReset) {
  EXPECT_EQ(FormatThousands(999) + " " + FormatThousands(1234567), "999 1,234,567");
  HeadlessApp h;
  ProgressClock clock;
  clock.blocksTotal = 10;
  StartProgress(&h.app, &clock, kProgressBar, kSizeText, kClockText);
  EXPECT_EQ(h.ui.Text(kSizeText) + " " + h.ui.Text(kClockText), "0 00:00:00");
  EXPECT_EQ(h.ui.ProgressState().high, 10u);
  EXPECT_EQ(h.ui.ProgressState().colour, (Colour{255, 0, 0}));
  clock.blocksDone = 2;
  UpdateProgressClockAt(&h.app, &clock, clock.startTime + 20 * 10'000'000ULL);
  EXPECT_EQ(h.ui.Text(kSizeText) + " " + h.ui.Text(kClockText), "BLOCK: 2 00:01:20");
  // A new scan's view starts from nothing, but what was ticked stays.
  LOGDRIVE_INFO d;
  d.foundFiles = 3;
  d.tickedFiles = 4;
  ResetScanView(&h.app, &d);
  EXPECT_EQ(d.foundFiles, 0u);
  EXPECT_EQ(d.tickedFiles, 4u);
  EXPECT_EQ(h.ui.Text(kFilesText), "0");
}

}  // namespace
}  // namespace tsn
