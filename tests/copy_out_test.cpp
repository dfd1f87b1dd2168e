// Copying found files back out of FAT32 volumes: files with nothing to
// read, and the name of a deleted 8.3 entry.

#include "app/copy_command.h"
#include "ui/control_ids.h"
#include "test_support.h"

namespace tsn {
namespace {

using test::RunCommand;

// A FAT32 fixture volume; the copies themselves are checked against the
// manifest with the other FAT fixtures.
const std::string kImage = test::Fixture("fat32-4k.img");

TEST(FatCopy, FilesWithNothingToReadLeaveNothingBehindAndExitStillStopsTheCopy) {
  test::HeadlessApp h;
  h.OpenImages({kImage});
  ASSERT_NE(h.app.currentDrive, nullptr);
  test::ScratchDir dir;
  const std::string out = dir.Path("out");
  ScanRecords records;
  // Start clusters past the volume's end: not a byte of them can be read.
  FoundFile files[50];
  std::vector<CopyItem> items;
  for (FoundFile& f : files) {
    records.KeepName(&f, "f" + std::to_string(items.size()) + ".bin");
    f.size = 1000;
    f.startCluster = 0x0FFFFFF0;
    items.push_back({&f, {"Kept"}});
  }
  const std::uint64_t before = h.ui.PumpCalls();
  CopyTotals t = CopyFilesTo(&h.app, h.app.currentDrive, out, items);
  EXPECT_EQ(t.failed, 50u);
  EXPECT_TRUE(test::Has(h.LogText(), out + "/Kept/f49.bin was not copied: its start cluster 268435440 lies outside "
                                         "the volume; nothing of it is kept."))
      << h.LogText();
  EXPECT_TRUE(std::filesystem::is_empty(out + "/Kept"));  // no empty copies, no partial files
  EXPECT_EQ(h.app.lastCopyResult, 2);
  // The window runs after every file, a failed one too, so Exit pressed
  // while such files go by stops the copy there.
  const std::uint64_t pumps = h.ui.PumpCalls() - before;
  ASSERT_GE(pumps, 50u);
  h.ui.PostCommand(kCmdExit, pumps - 45);
  t = CopyFilesTo(&h.app, h.app.currentDrive, out, items);
  EXPECT_TRUE(t.interrupted);
  EXPECT_LT(t.failed, 50u);
  EXPECT_EQ(h.app.busy, 0u);
}

// A deleted entry with no long name has lost the first character of its 8.3
// name. The list shows "D" in its place; the copy must not pass that letter
// off as the file's own, so it gets the "_" that fls shows, and the log says
// why. A deleted long name, first letter "d" and all, is copied as it was.
TEST(FatCopyNames, ALostFirstCharacterIsCopiedAsAnUnderscore) {
  const auto scan = RunCommand(test::Cli("scan " + kImage));
  ASSERT_EQ(scan.status, 0) << scan.err;
  EXPECT_TRUE(test::Has(scan.out, "/Documents/DELNOTE.TXT\n")) << scan.out;
  test::ScratchDir dir;
  const std::string out = dir.Path("out");
  const auto copy = RunCommand(test::Cli("copy " + kImage + " --to " + out +
                               " /Documents/DELNOTE.TXT /Documents/deleted-note.txt"));
  ASSERT_EQ(copy.status, 0) << copy.err;
  EXPECT_TRUE(test::Has(copy.err, "Alert  The file name \"DELNOTE.TXT\" in " + out +
                                  "/Documents is a deleted 8.3 name whose first character is lost; it is "
                                  "saved as \"_ELNOTE.TXT\"."))
      << copy.err;
  EXPECT_FALSE(test::Has(copy.err, "deleted-note.txt\" in")) << copy.err;
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(out + "/Documents")) names.insert(e.path().filename());
  EXPECT_EQ(names, (std::set<std::string>{"_ELNOTE.TXT", "deleted-note.txt"}));
  // The content is the file's, as icat recovers it under fls's name.
  if (!test::HaveTool("icat")) return;
  const auto inode = RunCommand("fls -r -p -d " + kImage + " | sed -n 's/^r\\/r \\* \\([0-9]*\\):\\tDocuments\\/_ELNOTE.TXT$/\\1/p'");
  const std::string number = inode.out.substr(0, inode.out.find('\n'));
  ASSERT_FALSE(number.empty()) << inode.err;
  const auto recovered = RunCommand("icat -r " + kImage + " " + number + " | sha256sum");
  EXPECT_EQ(recovered.out.substr(0, 64), test::Sha256OfFile(out + "/Documents/_ELNOTE.TXT"));
}

}  // namespace
}  // namespace tsn
