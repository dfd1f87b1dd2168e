// What fuzzing and the corrupted-volume corpus found, each kept as a case:
// partition tables whose damage was passed over in silence or read from the
// wrong place, a cut-short volume the indexed scan said nothing about, and a
// root directory of thousands of entries whose display cost the square of
// their number. Real volumes from mkfs.fat and sgdisk, damaged by hand.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "app/main_dialog.h"
#include "test_support.h"
#include "source/partition_table.h"
#include "source/volume_source.h"

namespace tsn {
namespace {

using test::RunCommand;
using test::Sh;

void PutLe(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v, int width) {
  for (int i = 0; i < width; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void Poke(const std::string& path, std::uint64_t offset, std::uint64_t v, int width) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(width));
  PutLe(bytes, 0, v, width);
  const int fd = ::open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)), width);
  ::close(fd);
}

PartitionScan ScanTable(const std::string& path) {
  OpenResult opened = VolumeSource::Open(path);
  EXPECT_TRUE(opened.source) << opened.error;
  if (!opened.source) return {};
  return ReadPartitionTable(*opened.source, "disk");
}

std::string Problems(const PartitionScan& scan) {
  std::string out;
  for (const auto& p : scan.problems) out += p + "\n";
  return out;
}

// An MBR disk of 64 sectors: one FAT32 partition and an extended one, with
// the entries given; hand-made, as no partitioning tool writes such tables.
std::vector<std::uint8_t> MbrDisk(std::uint32_t extendedStart) {
  std::vector<std::uint8_t> disk(64 * 512, 0);
  PutLe(disk, 446 + 4, 0x0C, 1);
  PutLe(disk, 446 + 8, 8, 4);
  PutLe(disk, 446 + 12, 16, 4);
  PutLe(disk, 446 + 16 + 4, 0x05, 1);
  PutLe(disk, 446 + 16 + 8, extendedStart, 4);
  PutLe(disk, 446 + 16 + 12, 30, 4);
  disk[510] = 0x55, disk[511] = 0xAA;
  return disk;
}

TEST(DamagedPartitionTables, AnExtendedPartitionPastTheEndOfTheDiskIsNamed) {
  test::ScratchDir dir;
  test::WriteFile(dir.Path("disk"), MbrDisk(100000));
  const PartitionScan scan = ScanTable(dir.Path("disk"));
  ASSERT_EQ(scan.partitions.size(), 1u);
  EXPECT_NE(Problems(scan).find("partition 2, the extended partition, starts at sector 100000, past the end "
                                "of the disk (64 sectors)"),
            std::string::npos)
      << Problems(scan);
}

TEST(DamagedPartitionTables, AChainOfLogicalPartitionsThatLeadsNowhereSaysWhere) {
  test::ScratchDir dir;
  // The first EBR at sector 30 holds logical partition 5 and links on.
  std::vector<std::uint8_t> disk = MbrDisk(30);
  const std::size_t ebr = 30 * 512;
  PutLe(disk, ebr + 446 + 4, 0x0C, 1);
  PutLe(disk, ebr + 446 + 8, 2, 4);
  PutLe(disk, ebr + 446 + 12, 4, 4);
  PutLe(disk, ebr + 446 + 16 + 4, 0x05, 1);
  disk[ebr + 510] = 0x55, disk[ebr + 511] = 0xAA;
  struct Case {
    std::uint32_t link;
    const char* line;
  } cases[] = {
      {500000, "the chain of logical partitions leads to sector 500030, past the end of the disk"},
      {10, "the chain of logical partitions leads to sector 40, which holds no extended boot record"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.link);
    PutLe(disk, ebr + 446 + 16 + 8, c.link, 4);
    PutLe(disk, ebr + 446 + 16 + 12, 4, 4);
    test::WriteFile(dir.Path("disk"), disk);
    const PartitionScan scan = ScanTable(dir.Path("disk"));
    ASSERT_EQ(scan.partitions.size(), 2u);  // partition 1 and logical partition 5
    EXPECT_EQ(scan.partitions[1].number, 5);
    EXPECT_NE(Problems(scan).find(c.line), std::string::npos) << Problems(scan);
  }
  // An extended partition with nothing in it yet is no damage.
  test::WriteFile(dir.Path("empty"), MbrDisk(30));
  EXPECT_TRUE(ScanTable(dir.Path("empty")).problems.empty()) << Problems(ScanTable(dir.Path("empty")));
}

class DamagedGpt : public ::testing::Test {
 protected:
  void SetUp() override {
    disk_ = dir_.Path("gpt.img");
    // 256 sectors: the header at 1, its 128 entries at 2 to 33, one partition.
    Sh("truncate -s 128K '" + disk_ + "' && sgdisk -a 1 -n 1:40:200 -t 1:0700 '" + disk_ + "' >/dev/null");
    const PartitionScan clean = ScanTable(disk_);
    ASSERT_EQ(clean.partitions.size(), 1u) << Problems(clean);
    ASSERT_TRUE(clean.problems.empty()) << Problems(clean);
  }
  test::ScratchDir dir_;
  std::string disk_;
};

TEST_F(DamagedGpt, EntriesPastTheEndOfTheDiskAreNotReadFromItsStart) {
  // 2^55 + 2 sectors is byte 1024 once multiplied out in 64 bits: where the
  // real entries lie. They must not be found there.
  Poke(disk_, 512 + 72, (std::uint64_t{1} << 55) + 2, 8);
  const PartitionScan scan = ScanTable(disk_);
  EXPECT_TRUE(scan.partitions.empty());
  EXPECT_NE(Problems(scan).find("the GPT's partition entries start at sector 36028797018963970, past the end "
                                "of the disk (256 sectors); the table is passed over."),
            std::string::npos)
      << Problems(scan);
}

TEST_F(DamagedGpt, EntriesRunningOffTheDiskAreReadAsFarAsTheyGo) {
  // The array moved to the last four sectors: room for 16 of its 128 entries.
  Poke(disk_, 512 + 72, 252, 8);
  const PartitionScan scan = ScanTable(disk_);
  EXPECT_NE(Problems(scan).find("the GPT's 128 partition entries run past the end of the disk; only the first "
                                "16 are read."),
            std::string::npos)
      << Problems(scan);
}

TEST_F(DamagedGpt, AnEntryOverEverySectorIsClippedToTheDiskNotDropped) {
  Poke(disk_, 1024 + 32, 0, 8);
  Poke(disk_, 1024 + 40, ~std::uint64_t{0}, 8);
  const PartitionScan scan = ScanTable(disk_);
  ASSERT_EQ(scan.partitions.size(), 1u) << Problems(scan);
  EXPECT_EQ(scan.partitions[0].startLba, 0u);
  EXPECT_EQ(scan.partitions[0].sectorCount, 256u);
  EXPECT_NE(Problems(scan).find("partition 1 runs past the end of the disk"), std::string::npos) << Problems(scan);
}

// A FAT32 volume of 512-byte clusters, as small as FAT32 allows.
class SmallFat32 : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = dir_.Path("vol.img");
    Sh("cd '" + dir_.dir() + "' && export MTOOLS_SKIP_CHECK=1 && truncate -s 34M vol.img && "
       "mkfs.fat -F 32 -s 1 -n HOSTILE vol.img >/dev/null && printf 'kept\\n' > k.txt && "
       "mmd -i vol.img ::/Docs && mcopy -i vol.img k.txt ::/Docs/kept.txt && mcopy -i vol.img k.txt ::/gone.txt && "
       "mdel -i vol.img ::/gone.txt");
  }
  test::ScratchDir dir_;
  std::string image_;
};

TEST_F(SmallFat32, BothScansSayWhenTheVolumeIsCutShort) {
  Sh("truncate -s 2M '" + image_ + "'");
  for (const char* scan : {"--quick", "--indexed"}) {
    SCOPED_TRACE(scan);
    const auto r = RunCommand(std::string(TESSILON_CLI) + " scan " + scan + " '" + image_ + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("C: claims 69632 sectors but its image holds 4096; the clusters beyond are not there "
                         "to read."),
              std::string::npos)
        << r.err;
  }
}

// The headless window, counting the rows put into the file list.
class CountingWindow : public HeadlessWindow {
 public:
  int InsertRow(ControlId list, int index, std::string_view text, int image, void* data) override {
    if (list == kFileList) ++fileRows;
    return HeadlessWindow::InsertRow(list, index, text, image, data);
  }
  std::uint64_t fileRows = 0;
};

// Overwrites the root directory with a chain of `clusters` clusters, each
// holding 16 entries, folders and files by turns; the folders start at
// cluster 0, so there is nothing below them to walk. Hand-made: no tool
// writes such a root, but anyone can.
void WriteRootOfThousands(const std::string& image, std::uint32_t clusters) {
  const int fd = ::open(image.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  std::uint8_t boot[512];
  ASSERT_EQ(::pread(fd, boot, sizeof boot, 0), 512);
  const std::uint32_t reserved = boot[14] | boot[15] << 8, fats = boot[16];
  std::uint32_t fatSectors = 0, root = 0;
  std::memcpy(&fatSectors, boot + 36, 4);
  std::memcpy(&root, boot + 44, 4);
  const std::uint64_t data = reserved + std::uint64_t{fats} * fatSectors;
  for (std::uint32_t k = 0; k < clusters; ++k) {
    const std::uint32_t c = root + k, next = k + 1 < clusters ? c + 1 : 0x0FFFFFFF;
    for (std::uint32_t f = 0; f < fats; ++f)
      ASSERT_EQ(::pwrite(fd, &next, 4, static_cast<off_t>((reserved + std::uint64_t{f} * fatSectors) * 512 + c * 4)), 4);
    std::vector<std::uint8_t> cluster(512, 0);
    for (int s = 0; s < 16; ++s) {
      std::vector<std::uint8_t> e(32, 0);
      char name[16];
      std::snprintf(name, sizeof name, "E%06u    ", k * 16 + s);  // 8.3, padded to 11
      std::memcpy(e.data(), name, 11);
      const bool folder = s % 2 == 0;
      e[11] = folder ? 0x10 : 0x20;
      PutLe(e, 22, 12 << 11, 2);                            // 12:00
      PutLe(e, 24, ((2010 - 1980) << 9) | (1 << 5) | 1, 2);  // 1 January 2010
      if (!folder) PutLe(e, 28, 10, 4);
      std::copy(e.begin(), e.end(), cluster.begin() + 32 * s);
    }
    ASSERT_EQ(::pwrite(fd, cluster.data(), 512, static_cast<off_t>((data + c - 2) * 512)), 512);
  }
  ::close(fd);
}

TEST_F(SmallFat32, ARootOfThousandsOfEntriesIsShownAtTheCostOfItsEntries) {
  constexpr std::uint32_t kClusters = 256;  // 2,048 folders and 2,048 files
  WriteRootOfThousands(image_, kClusters);
  AppState app;
  CountingWindow ui;
  app.sources.files = {image_};
  app.sources.scanDevices = false;
  app.ui = &ui;
  ui.SetDialogProc([&](const Message& m) { return MainDialogProc(&app, m); });
  MainDialogProc(&app, Message{MessageKind::InitDialog});
  ui.PostCommand(kCmdBuildDriveList);
  ui.RunDialog();
  ASSERT_EQ(ui.RowCount(kDriveList), 1);
  ui.SetRowSelected(kDriveList, 0, true);
  SelectCurrentDrive(&app);
  const std::uint64_t comparisonsBefore = ui.NodeComparisons();
  ui.PostCommand(kCmdBuildIndexedFileList);
  ui.RunDialog();
  ASSERT_EQ(app.lastScanResult, 1);

  // Everything is there: the folders in name order, the files in disk order.
  const std::uint64_t files = kClusters * 8, folders = kClusters * 8;
  EXPECT_EQ(app.currentDrive->foundFiles, files);
  EXPECT_EQ(app.currentDrive->foundDirs, folders + 1);
  ASSERT_EQ(static_cast<std::uint64_t>(ui.RowCount(kFileList)), files);
  EXPECT_EQ(ui.RowText(kFileList, 0, 0), "E000001");
  EXPECT_EQ(ui.RowText(kFileList, static_cast<int>(files - 1), 0), "E004095");
  std::vector<std::string> labels;
  for (NodeHandle n = ui.FirstChild(ui.RootNode()); n != kNoNode; n = ui.NextSibling(n))
    labels.push_back(ui.NodeLabel(n));
  ASSERT_EQ(labels.size(), folders);
  EXPECT_TRUE(std::is_sorted(labels.begin(), labels.end()));
  EXPECT_EQ(labels.front(), "E000000");

  // ... at the cost of the entries, not of their square: each file row put
  // in about twice (as found, and once more at the end), each folder placed
  // by halving the folders already there.
  EXPECT_LE(ui.fileRows, 2 * files + 1);
  EXPECT_LE(ui.NodeComparisons() - comparisonsBefore, folders * 13);
}

TEST(HeadlessTree, SortedInsertionsGoWhereAWalkWouldPutThemWhateverCameBefore) {
  HeadlessWindow ui;
  auto labels = [&](NodeHandle parent) {
    std::vector<std::string> out;
    for (NodeHandle n = ui.FirstChild(parent); n != kNoNode; n = ui.NextSibling(n)) out.push_back(ui.NodeLabel(n));
    return out;
  };
  const NodeHandle root = ui.InsertNode(kNoNode, "Root", 0, 0, nullptr, false);
  // In order: sorted insertions by name, without regard to case, equal
  // names after the ones already there.
  for (const char* l : {"delta", "Alpha", "charlie", "bravo", "ALPHA", "echo"})
    ui.InsertNode(root, l, 0, 0, nullptr, true);
  EXPECT_EQ(labels(root), (std::vector<std::string>{"Alpha", "ALPHA", "bravo", "charlie", "delta", "echo"}));
  // Appended in order, the order holds; appended out of it, a sorted
  // insertion goes before the first sibling named after it, as it always did.
  const NodeHandle mixed = ui.InsertNode(root, "mixed", 0, 0, nullptr, true);
  for (const char* l : {"b", "d", "a"}) ui.InsertNode(mixed, l, 0, 0, nullptr, false);
  ui.InsertNode(mixed, "c", 0, 0, nullptr, true);
  EXPECT_EQ(labels(mixed), (std::vector<std::string>{"b", "c", "d", "a"}));
  ui.InsertNode(mixed, "aa", 0, 0, nullptr, true);
  EXPECT_EQ(labels(mixed), (std::vector<std::string>{"aa", "b", "c", "d", "a"}));
  // A walk goes on rightly from where it stood when insertions moved its
  // siblings, and walks nested in it do not lose its place.
  NodeHandle at = ui.FirstChild(mixed);
  at = ui.NextSibling(at);
  ASSERT_EQ(ui.NodeLabel(at), "b");
  ui.InsertNode(mixed, "0", 0, 0, nullptr, false);
  ui.InsertNode(mixed, "ab", 0, 0, nullptr, true);
  const std::vector<std::string> rootLabels = labels(root);
  std::vector<std::string> walked;
  for (at = ui.NextSibling(at); at != kNoNode; at = ui.NextSibling(at)) {
    walked.push_back(ui.NodeLabel(at));
    EXPECT_EQ(labels(root), rootLabels);
  }
  EXPECT_EQ(walked, (std::vector<std::string>{"c", "d", "a", "0"}));
  EXPECT_EQ(labels(mixed), (std::vector<std::string>{"aa", "ab", "b", "c", "d", "a", "0"}));
  // A new tree starts in order again.
  ui.DeleteAllNodes();
  const NodeHandle again = ui.InsertNode(kNoNode, "Root", 0, 0, nullptr, false);
  for (const char* l : {"b", "a"}) ui.InsertNode(again, l, 0, 0, nullptr, true);
  EXPECT_EQ(labels(again), (std::vector<std::string>{"a", "b"}));
}

}  // namespace
}  // namespace tsn
