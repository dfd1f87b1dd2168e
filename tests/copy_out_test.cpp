// Copying found files back out of FAT32 volumes made with mtools: byte-exact
// copies, checked against what was written (what icat recovers of a deleted
// file whose clusters are free is those very bytes); refusals; and no file
// ever overwritten.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "app/copy_command.h"
#include "ui/control_ids.h"
#include "test_support.h"

namespace tsn {
namespace {

using test::RunCommand;

std::string Cli() { return TESSILON_CLI; }

// A FAT32 volume with one-cluster, many-cluster, empty and fragmented files,
// some deleted, and one deleted file whose clusters a later file took.
class FatCopy : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    const int spc = GetParam();
    image_ = dir_.Path("vol.img");
    const std::string d = dir_.dir();
    const std::string clusterBytes = std::to_string(spc * 512);
    const auto r = RunCommand(
        "set -e; cd " + d + "; export MTOOLS_SKIP_CHECK=1; truncate -s " + std::string(spc == 1 ? "40M" : "300M") + " vol.img;"
        " mkfs.fat -F 32 -s " + std::to_string(spc) + " vol.img >/dev/null;"
        " head -c " + clusterBytes + " /dev/urandom > one.bin; head -c 300000 /dev/urandom > many.bin;"
        " printf '' > empty.txt; head -c 1000 /dev/urandom > small.bin;"
        " for i in 1 2 3 4 5 6; do head -c " + clusterBytes + " /dev/urandom > gap$i.bin; mcopy -i vol.img gap$i.bin ::/gap$i.bin; done;"
        " mdel -i vol.img ::/gap2.bin ::/gap4.bin;"  // holes for the fragmented file
        // Forgetting the next-free hint makes the next file take the first
        // free clusters: the holes, and later the victim's.
        " forget() { printf '\\377\\377\\377\\377' | dd of=vol.img bs=1 seek=1004 conv=notrunc status=none; }; forget;"
        " head -c 200000 /dev/urandom > frag.bin; mcopy -i vol.img frag.bin ::/frag.bin;"
        " mmd -i vol.img ::/Kept ::/Gone;"
        " mcopy -i vol.img small.bin ::/victim.bin; mdel -i vol.img ::/victim.bin;"
        " forget;"
        " head -c 5000 /dev/urandom > taker.bin; mcopy -i vol.img taker.bin ::/Kept/taker.bin;"
        " mcopy -i vol.img one.bin ::/Gone/one.bin; mcopy -i vol.img many.bin ::/Gone/many.bin;"
        " mcopy -i vol.img small.bin ::/Kept/small.bin; mcopy -i vol.img empty.txt ::/Kept/empty.txt;"
        " mdel -i vol.img ::/Gone/one.bin ::/Gone/many.bin");
    ASSERT_EQ(r.status, 0) << r.err;
  }

  std::string Hash(const std::string& name) { return test::Sha256OfFile(dir_.Path(name)); }

  test::ScratchDir dir_;
  std::string image_;
};

TEST_P(FatCopy, DeletedAndLiveFilesComeBackByteExact) {
  const std::string before = test::Sha256OfFile(image_);
  const std::string out = dir_.Path("out");
  // Every deleted file, then three live ones by path. Deleted 8.3 names have
  // lost their first character, which the copies show as "_".
  const auto all = RunCommand(Cli() + " copy " + image_ + " --to " + out);
  EXPECT_EQ(all.status, 0) << all.err;
  EXPECT_EQ(test::Sha256OfFile(out + "/Gone/_ne.bin"), Hash("one.bin"));
  EXPECT_EQ(test::Sha256OfFile(out + "/Gone/_any.bin"), Hash("many.bin"));
  EXPECT_NE(all.err.find("_ictim.bin was copied, but"), std::string::npos) << all.err;
  EXPECT_NE(all.err.find("its content is likely overwritten"), std::string::npos);
  const auto live = RunCommand(Cli() + " copy " + image_ + " --to " + out +
                               " /frag.bin /Kept/small.bin /Kept/empty.txt");
  EXPECT_EQ(live.status, 0) << live.err;
  EXPECT_EQ(test::Sha256OfFile(out + "/frag.bin"), Hash("frag.bin"));  // follows its chain
  // ... which really is in pieces, as istat tells.
  const auto jumps = RunCommand("istat " + image_ + " $(fls " + image_ +
                                " | sed -n 's/^r\\/r \\([0-9]*\\):\\tfrag.bin$/\\1/p') | sed -n '/Sectors/,$p' |"
                                " tr ' ' '\\n' | grep '^[1-9]' | awk 'p && $1 != p + 1 {n++} {p = $1} END {print n + 0}'");
  EXPECT_GE(std::stoi(jumps.out), 2) << jumps.out << jumps.err;
  EXPECT_EQ(test::Sha256OfFile(out + "/Kept/small.bin"), Hash("small.bin"));
  EXPECT_EQ(std::filesystem::file_size(out + "/Kept/empty.txt"), 0u);
  EXPECT_EQ(test::Sha256OfFile(image_), before);
}

TEST_P(FatCopy, ExistingFilesAreNeverOverwritten) {
  const std::string out = dir_.Path("out");
  std::filesystem::create_directories(out + "/Kept");
  test::WriteFile(out + "/Kept/small.bin", {1, 2, 3});
  for (int i = 0; i < 2; ++i)
    ASSERT_EQ(RunCommand(Cli() + " copy " + image_ + " --to " + out + " /Kept/small.bin").status, 0);
  EXPECT_EQ(std::filesystem::file_size(out + "/Kept/small.bin"), 3u);
  EXPECT_EQ(test::Sha256OfFile(out + "/Kept/small (2).bin"), Hash("small.bin"));
  EXPECT_EQ(test::Sha256OfFile(out + "/Kept/small (3).bin"), Hash("small.bin"));
}

TEST_P(FatCopy, FilesWithNothingToReadLeaveNothingBehindAndExitStillStopsTheCopy) {
  test::HeadlessApp h;
  h.OpenImages({image_});
  ASSERT_NE(h.app.currentDrive, nullptr);
  // Start clusters past the volume's end: not a byte of them can be read.
  const std::string out = dir_.Path("out");
  ScanRecords records;
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
  EXPECT_NE(h.LogText().find(out + "/Kept/f49.bin was not copied: its start cluster 268435440 lies outside the "
                                   "volume; nothing of it is kept."),
            std::string::npos)
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

INSTANTIATE_TEST_SUITE_P(ClusterSizes, FatCopy, ::testing::Values(1, 8));

// A deleted entry with no long name has lost the first character of its 8.3
// name. The list shows "D" in its place; the copy must not pass that letter
// off as the file's own, so it gets the "_" that fls shows, and the log says
// why. A deleted long name, first letter "d" and all, is copied as it was.
TEST(FatCopyNames, ALostFirstCharacterIsCopiedAsAnUnderscore) {
  const std::string image = test::Fixture("fat32-4k.img");
  const auto scan = RunCommand(Cli() + " scan " + image);
  ASSERT_EQ(scan.status, 0) << scan.err;
  EXPECT_NE(scan.out.find("/Documents/DELNOTE.TXT\n"), std::string::npos) << scan.out;
  test::ScratchDir dir;
  const std::string out = dir.Path("out");
  const auto copy = RunCommand(Cli() + " copy " + image + " --to " + out +
                               " /Documents/DELNOTE.TXT /Documents/deleted-note.txt");
  ASSERT_EQ(copy.status, 0) << copy.err;
  EXPECT_NE(copy.err.find("Alert  The file name \"DELNOTE.TXT\" in " + out +
                          "/Documents is a deleted 8.3 name whose first character is lost; it is saved as "
                          "\"_ELNOTE.TXT\"."),
            std::string::npos)
      << copy.err;
  EXPECT_EQ(copy.err.find("deleted-note.txt\" in"), std::string::npos) << copy.err;
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(out + "/Documents"))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"_ELNOTE.TXT", "deleted-note.txt"}));
  // The content is the file's, as icat recovers it under fls's name.
  if (!test::HaveTool("icat")) return;
  const auto inode = RunCommand("fls -r -p -d " + image + " | sed -n 's/^r\\/r \\* \\([0-9]*\\):\\tDocuments\\/_ELNOTE.TXT$/\\1/p'");
  const std::string number = inode.out.substr(0, inode.out.find('\n'));
  ASSERT_FALSE(number.empty()) << inode.err;
  const auto recovered = RunCommand("icat -r " + image + " " + number + " | sha256sum");
  EXPECT_EQ(recovered.out.substr(0, 64), test::Sha256OfFile(out + "/Documents/_ELNOTE.TXT"));
}

}  // namespace
}  // namespace tsn
