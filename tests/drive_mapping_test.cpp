// Drive mapping over real images: bare volumes, MBR and GPT disks, and the
// sources that must be refused with a clear line.

#include <regex>
#include <sstream>

#include "app/main_dialog.h"
#include "test_support.h"
#include "app/drive_list.h"
#include "source/drive_sources.h"
#include "source/partition_table.h"

namespace tsn {
namespace {

using test::HeadlessApp;
using test::RunCommand;
using test::Sh;

TEST(DriveMapping, ListsABareFat32ImageLeavesItUnchangedAndReplacesTheListWhenBuiltAgain) {
  test::ScratchDir dir;
  const std::string img = dir.Path("fat.img");
  Sh("truncate -s 40M " + img + " && mkfs.fat -F 32 -s 1 -n MAPTEST " + img + " >/dev/null && echo hello > " +
     dir.Path("f.txt") + " && MTOOLS_SKIP_CHECK=1 mcopy -i " + img + " " + dir.Path("f.txt") + " ::/f.txt");
  const std::string before = test::Sha256OfFile(img);
  HeadlessApp h;
  h.OpenImages({img}, -1);
  ASSERT_EQ(h.ui.RowCount(kDriveList), 1) << h.LogText();
  std::vector<std::string> row;  // letter, label, file system, size, start sector, sectors a cluster
  for (const int column : {0, 2, 3, 4, 5, 6}) row.push_back(h.ui.RowText(kDriveList, 0, column));
  EXPECT_EQ(row, (std::vector<std::string>{"C:", "MAPTEST", "FAT32", "0.04 GB", "0", "1"}));
  EXPECT_EQ(h.LogMessages().front(), "Initiating drive mapping process.");
  EXPECT_TRUE(test::Has(h.LogText(), "Mapping drive C:.\n") && test::Has(h.LogText(), "Index loaded.")) << h.LogText();
  EXPECT_EQ(h.LogMessages().back(), "Drive mapping complete.");
  EXPECT_EQ(h.app.busy, 0u);
  EXPECT_EQ(h.app.currentDrive, nullptr);
  EXPECT_EQ(test::Sha256OfFile(img), before);

  // The free share counts every zero entry of the whole table: all but the
  // two reserved entries, the root folder's cluster and the file's. The
  // table's extent comes from fsstat, an independent reader.
  const auto fsstat = RunCommand("fsstat " + img + " | sed -n 's/^\\* FAT 0: \\([0-9]*\\) - \\([0-9]*\\)$/\\1 \\2/p'");
  std::istringstream extent(fsstat.out);
  std::uint64_t first = 0, last = 0;
  ASSERT_TRUE(extent >> first >> last) << fsstat.out;
  const auto* drive = static_cast<LOGDRIVE_INFO*>(h.ui.RowData(kDriveList, 0));
  EXPECT_EQ(drive->freeUnits, (last - first + 1) * 128 - 4);
  EXPECT_EQ(drive->clusterCount, 40u * 2048);
  EXPECT_EQ(drive->allocUnits, drive->clusterCount + 1);

  // Building the list again replaces its records.
  h.OpenImages({img, img}, -1);
  ASSERT_EQ(h.ui.RowCount(kDriveList), 2);
  EXPECT_EQ(h.ui.RowText(kDriveList, 1, 0), "D:");
  h.ui.SetRowSelected(kDriveList, 1, true);
  SelectCurrentDrive(&h.app);
  ASSERT_NE(h.app.currentDrive, nullptr);
  h.OpenImages({img}, -1);
  EXPECT_EQ(h.ui.RowCount(kDriveList), 1);
  EXPECT_EQ(h.app.drives.size(), 1u);
  EXPECT_EQ(h.app.currentDrive, nullptr);
  EXPECT_EQ(h.ui.RowData(kDriveList, 0), h.app.drives[0].get());
}

// Sectors of a partition table that answer EIO: what they would have named
// is missing for a reason the log gives; a backup is used where there is one.
TEST(DriveMapping, AnUnreadablePartitionTableSectorIsNamed) {
  struct Case {
    std::string image;
    std::uint64_t sector;
    std::size_t rows;  // the drive list
    std::string says;
  };
  const std::vector<Case> cases = {
      {"mbr-disk.img", 116736, 2, "an extended boot record (sector 116736) could not be read: Input/output error"},
      {"gpt-disk.img", 1, 2, "the GPT header (sector 1) could not be read: Input/output error"},
      {"mbr-disk.img", 0, 0, "its partition table or boot sector (sector 0) could not be read"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.image + " sector " + std::to_string(c.sector));
    test::FailingImage failing(test::Fixture(c.image), {{c.sector * 512, c.sector * 512 + 511}});
    if (failing.path().empty()) GTEST_SKIP() << failing.why();
    HeadlessApp h;
    h.OpenImages({failing.path()}, -1);
    EXPECT_EQ(static_cast<std::size_t>(h.ui.RowCount(kDriveList)), c.rows) << h.LogText();
    EXPECT_TRUE(test::Has(h.LogText(), c.says)) << h.LogText();
  }
}

TEST(DriveMapping, AgreesWithMmlsOnARealGptDisk) {
  const std::string img = test::RealImage("gpt-3-partitions.raw.gz");
  if (img.empty()) TESSILON_SKIP_WITHOUT_REAL_IMAGES();
  const CandidateList list = ListDriveCandidates(DriveSources{.files = {img}, .scanDevices = false});
  // mmls -a lists the partitions only, their start in the third column.
  const auto mmls = RunCommand("mmls -a " + img);
  std::vector<std::uint64_t> expected;
  const std::regex row(R"(^\d+:\s+\d+\s+(\d+)\s.*$)");
  for (const std::string& line : test::Split(mmls.out, '\n'))
    if (std::smatch m; std::regex_match(line, m, row)) expected.push_back(std::stoull(m[1]));
  ASSERT_EQ(expected.size(), 3u) << mmls.out;
  std::vector<std::uint64_t> ours;
  for (const auto& candidate : list.candidates) ours.push_back(candidate.startLba);
  EXPECT_EQ(ours, expected);

  HeadlessApp h;
  h.OpenImages({img}, -1);
  EXPECT_EQ(h.ui.RowCount(kDriveList), 0);  // no file systems on them
  EXPECT_TRUE(test::Has(h.LogText(), "E: (" + img + " partition 3) holds no exFAT, FAT12, FAT16, FAT32 or NTFS"))
      << h.LogText();
}

// Each bad source gets its own line and costs nothing but itself; a FAT32
// volume whose boot sector and backup both give 0 sectors per cluster is
// refused with the reason.
TEST(DriveMapping, BadSourcesGetOneClearLineEachAndTheRestIsListed) {
  test::ScratchDir dir;
  const std::string good = test::Fixture("fat32-512.img");
  test::WriteFile(dir.Path("short.img"), std::vector<std::uint8_t>(100, 1));
  const std::string zeroSpc = test::CopyOf(good, dir, "zero-spc.img");
  for (const std::uint64_t at : {13, 6 * 512 + 13}) test::WriteAt(zeroSpc, at, {0});
  HeadlessApp h;
  h.OpenImages({dir.Path("missing.img"), dir.dir(), dir.Path("short.img"), zeroSpc, good}, -1);
  for (const std::string& line : {dir.Path("missing.img") + ": No such file or directory", dir.dir() + ": is a folder",
                                  std::string("short.img: shorter than one sector"),
                                  "C: (" + zeroSpc + "): its boot sector gives 0 sectors per cluster"})
    EXPECT_TRUE(test::Has(h.LogText(), line)) << line << "\n" << h.LogText();
  ASSERT_EQ(h.ui.RowCount(kDriveList), 1);
  EXPECT_EQ(static_cast<LOGDRIVE_INFO*>(h.ui.RowData(kDriveList, 0))->sourceDescription, good);
  EXPECT_EQ(h.LogMessages().back(), "Drive mapping complete.");
}

TEST(DriveMapping, DevicesThisUserMayNotReadAreListedGreyedAndNeverOpenedForMore) {
  if (::geteuid() != 0 || !test::HaveTool("setpriv")) GTEST_SKIP() << "needs root to drop to nobody";
  test::ScratchDir dir;
  // A fake sysfs with a disk and a partition of another, their device nodes
  // readable by root only.
  Sh("mkdir -p " + dir.Path("sys/loop0") + " " + dir.Path("sys/loop1/loop1p2") + " " + dir.Path("dev") +
     " && echo 2048 > " + dir.Path("sys/loop0/size") + " && echo 4096 > " + dir.Path("sys/loop1/size") +
     " && echo 1024 > " + dir.Path("sys/loop1/loop1p2/size") + " && echo 2048 > " +
     dir.Path("sys/loop1/loop1p2/start") + " && touch " + dir.Path("sys/loop1/loop1p2/partition") +
     " && ln -s loop1/loop1p2 " + dir.Path("sys/loop1p2") + " && mknod -m 600 " + dir.Path("dev/loop0") +
     " b 7 0 && mknod -m 600 " + dir.Path("dev/loop1p2") + " b 259 0 && chmod 755 " + dir.dir());
  const std::string asNobody = "setpriv --reuid=65534 --regid=65534 --clear-groups env TESSILON_SYSFS_BLOCK=" +
                               dir.Path("sys") + " TESSILON_DEV_DIR=" + dir.Path("dev") + " " + TESSILON_CLI;
  const auto r = RunCommand(asNobody + " drives --json " + dir.Path("none.img"));
  EXPECT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> rows = test::Split(r.out, '\n');
  ASSERT_EQ(rows.size(), 2u) << r.out << r.err;
  const struct {
    const char* letter;
    std::string device;
    const char* startLba;
  } cases[] = {{"C", dir.Path("dev/loop0"), "0"}, {"D", dir.Path("dev/loop1p2"), "2048"}};
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto row = nlohmann::json::parse(rows[i]);
    auto expected = row;
    expected.merge_patch({{"LID", std::string(cases[i].letter) + ":"}, {"Volume", "needs permission"}, {"FS Type", ""},
                          {"Start LBA", cases[i].startLba}, {"source", cases[i].device}});
    EXPECT_EQ(row, expected);
    EXPECT_TRUE(test::Has(r.err, std::string(cases[i].letter) + ": needs permission: choose it to open it for reading."))
        << r.err;
  }
  // The missing image still gets its own line.
  EXPECT_TRUE(test::Has(r.err, dir.Path("none.img") + ": No such file or directory")) << r.err;

  // Choosing one from the command line asks for nothing more than this
  // user may do: the plain open fails, the log says so, and nothing scans.
  const auto scan = RunCommand(asNobody + " scan " + dir.Path("dev/loop0"));
  EXPECT_EQ(scan.status, 1) << scan.err;
  EXPECT_TRUE(test::Has(scan.err, "C: (" + dir.Path("dev/loop0") +
                                      ") could not be opened for reading: it cannot be opened (Permission denied)"))
      << scan.err;
  EXPECT_TRUE(test::Has(scan.err, "Please choose a drive to search")) << scan.err;
}

TEST(DriveRow, FormatsSizeFreeShareUsedSpaceAndA64BitStart) {
  HeadlessApp h;
  LOGDRIVE_INFO d;
  d.driveName = "E:";
  d.fsName = "NTFS";
  d.totalSectors = 41'943'040;  // 20 GiB
  d.allocUnits = 400;
  d.freeUnits = 100;
  d.startLba = 5'000'000'000ULL;  // beyond 32 bits on a large disk
  d.sectorsPerCluster = 8;
  ASSERT_EQ(AddDriveRow(&h.app, &d, kDriveList), 1);
  std::vector<std::string> row;  // size, start sector, free share, used space
  for (const int column : {4, 5, 7, 8}) row.push_back(h.ui.RowText(kDriveList, 0, column));
  EXPECT_EQ(row, (std::vector<std::string>{"20.00 GB", "5000000000", "% 25.00", "15.00 GB"}));
  h.ui.SetRowRefusal(kDriveList, true);
  EXPECT_EQ(AddDriveRow(&h.app, &d, kDriveList), 0);
}

}  // namespace
}  // namespace tsn
