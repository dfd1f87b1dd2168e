// Volumes and disks of 4096-byte sectors, made by the real tools: FAT32
// formatted with -S 4096, and a GPT disk of 4096-byte blocks partitioned
// through a loop device of that sector size. The Sleuth Kit, told the
// sector size where it needs it, is the independent reader they are held to
// (their scans are checked with the other FAT fixtures, in fat_fixture_test).
#include <gtest/gtest.h>

#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "test_support.h"

namespace tsn {
namespace {

using nlohmann::json;
using test::Quote;
using test::RunCommand;

struct Case {
  const char* name;
  const char* image;
  std::uint64_t startLba;  // in the disk's own sectors; 0 for a bare volume
  const char* tsk;         // what fls and fsstat need to find the volume
  const char* cli;         // what tessilon-cli is told
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.image << ' ' << c.cli; }

const Case kCases[] = {
    {"fat32_4kn", "fat32-4kn.img", 0, "", ""},
    {"fat32_4kn_16k", "fat32-4kn-16k.img", 0, "", ""},
    {"gpt_4kn", "gpt-4kn-disk.img", 256, "-b 4096 -o 256", ""},
    {"gpt_4kn_told", "gpt-4kn-disk.img", 256, "-b 4096 -o 256", "--sector-size 4096"},
};


class FourKn : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    if (!test::HaveTool("fls")) GTEST_SKIP() << "The Sleuth Kit is not installed";
    ASSERT_TRUE(std::filesystem::exists(Image())) << Image() << " (fixtures not built)";
  }
  std::string Image() const { return test::Fixture(GetParam().image); }
  std::string Cli() const { return std::string(GetParam().cli) + " "; }
  std::string Tsk(const std::string& tool, const std::string& flags = "") const {
    return RunCommand(tool + " " + flags + " " + GetParam().tsk + " " + Quote(Image())).out;
  }
  std::vector<json> Manifest() const {
    std::vector<json> out;
    for (json& e : test::ManifestOf(GetParam().image))
      if (e.value("start_lba", std::uint64_t{0}) == GetParam().startLba) out.push_back(std::move(e));
    return out;
  }
  // A line of fsstat's, "Sector Size: 4096" -> 4096.
  std::uint64_t FsstatNumber(const std::string& fsstat, const std::string& label) const {
    const auto at = fsstat.find(label);
    EXPECT_NE(at, std::string::npos) << label << " not in\n" << fsstat;
    return at == std::string::npos ? 0 : std::stoull(fsstat.substr(at + label.size()));
  }
};

TEST_P(FourKn, CopiedDeletedFilesHaveTheBytesThatWereWritten) {
  test::ScratchDir dir;
  const std::string before = test::Sha256OfFile(Image());
  const auto r = RunCommand(std::string(TESSILON_CLI) + " copy " + Cli() + Quote(Image()) + " --to " +
                            Quote(dir.Path("out")));
  ASSERT_TRUE(r.status == 0 || r.status == 3) << r.err;
  std::map<std::string, std::string> copied;  // Key of the path -> file
  for (const auto& f : std::filesystem::recursive_directory_iterator(dir.Path("out")))
    if (f.is_regular_file() && !test::IsCopyManifest(f.path()))
      copied[test::DeletedNameKey("/" + std::filesystem::relative(f.path(), dir.Path("out")).string())] = f.path().string();
  std::size_t checked = 0;
  bool severalClusters = false;
  for (const json& e : Manifest()) {
    if (!e["deleted"].get<bool>() || e["folder"].get<bool>() || e["overwritten"].get<bool>() ||
        e["name_lost"].get<bool>() || e["size"].get<std::uint64_t>() == 0)
      continue;
    const std::string path = e["path"];
    const auto it = copied.find(test::DeletedNameKey("/" + path));
    ASSERT_NE(it, copied.end()) << path << " was not copied\n" << r.err;
    EXPECT_EQ(test::Sha256OfFile(it->second), e["sha256"].get<std::string>()) << path;
    severalClusters = severalClusters || e["size"].get<std::uint64_t>() > 4 * 4096;
    ++checked;
  }
  EXPECT_GE(checked, GetParam().startLba ? 3u : 12u);
  EXPECT_TRUE(severalClusters);
  EXPECT_EQ(test::Sha256OfFile(Image()), before);
}

TEST_P(FourKn, TheDriveRowCountsTheVolumesOwnSectors) {
  const auto r = RunCommand(std::string(TESSILON_CLI) + " drives --no-devices --json " + Cli() + Quote(Image()));
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> rows = test::Split(r.out, '\n');
  ASSERT_EQ(rows.size(), 1u) << r.out << r.err;
  const json row = json::parse(rows[0]);
  const std::string fsstat = Tsk("fsstat");
  const std::uint64_t sector = FsstatNumber(fsstat, "Sector Size: ");
  const std::uint64_t cluster = FsstatNumber(fsstat, "Cluster Size: ");
  const std::uint64_t sectors = FsstatNumber(fsstat, "Total Range: 0 - ") + 1;
  EXPECT_EQ(sector, 4096u);
  char size[32];
  std::snprintf(size, sizeof size, "%.2f GB", static_cast<double>(sectors * sector) / (1u << 30));
  EXPECT_EQ(row["Size"], size);
  EXPECT_EQ(row["SPC"], std::to_string(cluster / sector));
  EXPECT_EQ(row["Start LBA"], std::to_string(GetParam().startLba));
  EXPECT_EQ(row["FS Type"], "FAT32");
  // Nothing can be more than all free, however the table is rounded.
  const double free = std::stod(row["Sparse"].get<std::string>().substr(2));
  EXPECT_GT(free, 90.0);
  EXPECT_LE(free, 100.0);
}

INSTANTIATE_TEST_SUITE_P(Images, FourKn, ::testing::ValuesIn(kCases),
                         [](const auto& instance) { return std::string(instance.param.name); });

// An image does not say the sector size of the disk it was copied from. An
// MBR counts the disk's logical sectors, so an image of a 4Kn disk with an
// MBR is misread unless told; fdisk -b 4096 writes such a table here, over
// the FAT32 volume of the 4Kn GPT disk moved into place.
TEST(SectorSizeOption, AnImageOfAnMbrDiskWith4096ByteSectorsIsReadWhenTold) {
  const std::string gpt = test::Fixture("gpt-4kn-disk.img");
  ASSERT_TRUE(std::filesystem::exists(gpt)) << gpt;
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
  EXPECT_TRUE(deleted.count(test::DeletedNameKey("/Photos/holiday.jpg"))) << scan.log;
  EXPECT_TRUE(deleted.count(test::DeletedNameKey("/Old/Drafts/draft-1.txt"))) << scan.log;
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
  ASSERT_TRUE(std::filesystem::exists(gpt)) << gpt;
  test::ScratchDir dir;
  const std::string disk = dir.Path("no-gpt.img");
  // Both headers: block 1 and the last block, of 4096 bytes.
  test::Sh("cp --sparse=always " + Quote(gpt) + " " + Quote(disk) + " && dd if=/dev/zero of=" + Quote(disk) + " bs=4096 seek=1 count=1 conv=notrunc status=none && dd if=/dev/zero of=" +
           Quote(disk) + " bs=4096 seek=76799 count=1 conv=notrunc status=none");
  const auto r = RunCommand(std::string(TESSILON_CLI) + " drives --no-devices " + Quote(disk));
  EXPECT_NE(r.err.find("protective MBR, but no GPT header was found with blocks of 512 or 4096 bytes"),
            std::string::npos)
      << r.err;
}

// Sectors of a 4096-byte-sector volume that answer EIO: what stands in for
// them is found in the volume's own sectors, the boot sector's backup at
// its sector 6, a FAT sector in the second FAT, and the scan is the same.
TEST(FourKnReadErrors, CopiesStandInForUnreadableSectorsAtTheVolumesOwnSectors) {
  struct BadSector {
    const char* what;
    std::uint64_t sector;  // of 4096 bytes
    const char* says;
  };
  const BadSector cases[] = {
      {"boot sector", 0, "its boot sector is unreadable; the backup at sector 6 is used."},
      {"FAT sector", 32 + 1, "1 sector of the first FAT could not be read; it was read from the second FAT instead."},
  };
  const std::string image = test::Fixture("fat32-4kn.img");
  const test::Scan clean = test::RunScan(image, false, "", 120);
  ASSERT_EQ(clean.status, 0) << clean.log;
  for (const BadSector& c : cases) {
    SCOPED_TRACE(c.what);
    test::FailingImage failing(image, {{c.sector * 4096, c.sector * 4096 + 4095}});
    if (failing.path().empty()) GTEST_SKIP() << failing.why();
    const test::Scan scan = test::RunScan(failing.path(), false, "", 120);
    EXPECT_EQ(scan.status, 3) << scan.log;
    EXPECT_TRUE(scan.Logged(c.says)) << scan.log;
    EXPECT_EQ(scan.entries, clean.entries);
  }
}

}  // namespace
}  // namespace tsn
