// Disks of 4096-byte sectors and the option that tells the sector size of
// an image: an MBR of such a disk, and a protective MBR without its GPT.
// The 4Kn fixture volumes themselves are checked with the other FAT
// fixtures, in fat_fixture_test; their unreadable sectors in
// boot_sector_test.

#include "test_support.h"

namespace tsn {
namespace {

using nlohmann::json;
using test::Quote;
using test::RunCommand;

// An image does not say the sector size of the disk it was copied from. An
// MBR counts the disk's logical sectors, so an image of a 4Kn disk with an
// MBR is misread unless told; fdisk -b 4096 writes such a table here, over
// the FAT32 volume of the 4Kn GPT disk moved into place.
TEST(SectorSizeOption, AnImageOfAnMbrDiskWith4096ByteSectorsIsReadWhenTold) {
  const std::string gpt = test::Fixture("gpt-4kn-disk.img");
  if (!test::HaveTool("fdisk")) GTEST_SKIP() << "fdisk is not installed";
  test::ScratchDir dir;
  const std::string disk = dir.Path("mbr-4kn.img");
  test::Sh("truncate -s 300M " + Quote(disk) + " && printf 'o\\nn\\np\\n1\\n256\\n71935\\nt\\nc\\nw\\n' | fdisk -b 4096 " +
           Quote(disk) + " >/dev/null && dd if=" + Quote(gpt) + " of=" + Quote(disk) +
           " bs=1M skip=1 seek=1 count=280 conv=notrunc,sparse status=none");
  const std::string cli = std::string(TESSILON_CLI) + " drives --no-devices --json ";

  // Read in 512-byte sectors the partition starts 1 MiB early, where the
  // volume is not.
  const auto untold = RunCommand(cli + Quote(disk));
  EXPECT_EQ(untold.out.find("FAT32"), std::string::npos) << untold.out;

  const auto told = RunCommand(cli + "--sector-size 4096 " + Quote(disk));
  ASSERT_EQ(told.status, 0) << told.err;
  const json row = json::parse(test::Split(told.out, '\n').at(0));
  EXPECT_EQ(row["FS Type"], "FAT32");
  EXPECT_EQ(row["Start LBA"], "256");
  EXPECT_EQ(row["Volume"], "GPT4KN");
  const test::Scan scan = test::RunScan(disk, false, "--sector-size 4096", 120);
  ASSERT_EQ(scan.status, 0) << scan.log;
  std::set<std::string> deleted;
  for (const std::string& p : scan.Paths(true)) deleted.insert(test::DeletedNameKey(p));
  for (const char* path : {"/Photos/holiday.jpg", "/Old/Drafts/draft-1.txt"})
    EXPECT_TRUE(deleted.count(test::DeletedNameKey(path))) << path << "\n" << scan.log;
}

TEST(SectorSizeOption, ASizeNoDiskHasIsRefused) {
  for (const char* bad : {"0", "100", "8192", "4k"}) {
    for (const char* command : {"drives --no-devices", "scan", "copy --to /tmp/x"}) {
      const auto r = RunCommand(std::string(TESSILON_CLI) + " " + command + " --sector-size " + bad + " " +
                                Quote(test::Fixture("fat32-4kn.img")));
      EXPECT_EQ(r.status, 2) << command << " " << bad;
      EXPECT_NE(r.err.find(std::string("512, 1024, 2048 or 4096 bytes, not ") + bad), std::string::npos) << r.err;
    }
  }
}

// A protective MBR whose GPT is at neither block size: the log says so, and
// the disk is read as what its MBR says.
TEST(SectorSizeOption, AProtectiveMbrWithoutItsGptIsSaidSo) {
  const std::string gpt = test::Fixture("gpt-4kn-disk.img");
  test::ScratchDir dir;
  const std::string disk = dir.Path("no-gpt.img");
  // Both headers: block 1 and the last block, of 4096 bytes.
  test::Sh("cp --sparse=always " + Quote(gpt) + " " + Quote(disk) + " && dd if=/dev/zero of=" + Quote(disk) + " bs=4096 seek=1 count=1 conv=notrunc status=none && dd if=/dev/zero of=" +
           Quote(disk) + " bs=4096 seek=76799 count=1 conv=notrunc status=none");
  const auto r = RunCommand(std::string(TESSILON_CLI) + " drives --no-devices " + Quote(disk));
  EXPECT_TRUE(test::Has(r.err, "protective MBR, but no GPT header was found with blocks of 512 or 4096 bytes"))
      << r.err;
}

}  // namespace
}  // namespace tsn
