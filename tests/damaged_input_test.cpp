// What fuzzing and the corrupted-volume corpus found, each kept as a case: partition tables whose damage was passed
// over in silence or read from the wrong place, and a root directory of thousands of entries whose display cost the
// square of their number. Real volumes from mkfs.fat and sgdisk, damaged by hand.

#include <algorithm>
#include <cstring>
#include <tuple>

#include "app/main_dialog.h"
#include "core/le_bytes.h"
#include "test_support.h"
#include "source/partition_table.h"
#include "source/volume_source.h"

namespace tsn {
namespace {

using Pokes = std::vector<std::tuple<std::uint64_t, std::uint64_t, int>>;  // offset, value, width

// The tables of tests/data/partition-tables.jsonl, on the MBR or the GPT disk they describe.
TEST(DamagedPartitionTables, EachDamageIsNamedAndWhatCanBeReadIsRead) {
  constexpr std::uint64_t kEbr = 30 * 512, kLink = kEbr + 446 + 16;
  const Pokes mbr = {{446 + 4, 0x0C, 1}, {446 + 8, 8, 4}, {446 + 12, 16, 4}, {446 + 16 + 4, 0x05, 1},
                     {446 + 16 + 8, 30, 4}, {446 + 16 + 12, 30, 4}, {510, 0xAA55, 2}};
  auto ebrLinkingTo = [&](std::uint64_t link) {
    return Pokes{{kEbr + 446 + 4, 0x0C, 1}, {kEbr + 446 + 8, 2, 4}, {kEbr + 446 + 12, 4, 4}, {kEbr + 510, 0xAA55, 2},
                 {kLink + 4, 5, 1}, {kLink + 8, link, 4}, {kLink + 12, 4, 4}};
  };
  test::ScratchDir dir;
  for (const nlohmann::json& c : test::DataRows("partition-tables.jsonl")) {
    const std::string disk = dir.Path(c["name"]), line = c.value("line", "");
    SCOPED_TRACE(disk);
    if (c["gpt"]) {
      test::Sh("truncate -s 128K '" + disk + "' && sgdisk -a 1 -n 1:40:200 -t 1:0700 '" + disk + "' >/dev/null");
    } else {
      test::WriteFile(disk, std::vector<std::uint8_t>(64 * 512, 0));
      for (const auto& [at, v, width] : mbr) test::WriteAt(disk, at, test::Le(v, width));
    }
    Pokes pokes = c.contains("ebr_link") ? ebrLinkingTo(c["ebr_link"]) : Pokes{};
    for (const auto& p : c.value("pokes", nlohmann::json::array()))
      pokes.emplace_back(p[0].get<std::uint64_t>(), p[1].get<std::uint64_t>(), p[2].get<int>());
    for (const auto& [at, v, width] : pokes) test::WriteAt(disk, at, test::Le(v, width));
    OpenResult opened = VolumeSource::Open(disk);
    ASSERT_TRUE(opened.source) << opened.error;
    const PartitionScan scan = ReadPartitionTable(*opened.source, "disk");
    std::string problems;
    for (const auto& p : scan.problems) problems += p + "\n";
    ASSERT_EQ(scan.partitions.size(), c["partitions"]) << problems;
    EXPECT_TRUE(line.empty() ? problems.empty() : test::Has(problems, line)) << problems;
    EXPECT_TRUE(c["partitions"] != 2 || scan.partitions[1].number == 5);
    if (c.contains("first")) {
      EXPECT_EQ(nlohmann::json({scan.partitions[0].startLba, scan.partitions[0].sectorCount}), c["first"]);
    }
  }
}

class CountingWindow : public HeadlessWindow {  // counts the rows put into the file list
 public:
  int InsertRow(ControlId list, int index, std::string_view text, int image, void* data) override {
    if (list == kFileList) ++fileRows;
    return HeadlessWindow::InsertRow(list, index, text, image, data);
  }
  std::uint64_t fileRows = 0;
};

std::vector<std::string> Labels(const HeadlessWindow& ui, NodeHandle parent) {
  std::vector<std::string> out;
  for (NodeHandle n = ui.FirstChild(parent); n != kNoNode; n = ui.NextSibling(n)) out.push_back(ui.NodeLabel(n));
  return out;
}

// Overwrites the root with a chain of `clusters` clusters of 16 entries, folders and files by turns; the folders start
// at cluster 0, so there is nothing below them to walk. No tool writes such a root, but anyone can.
void WriteRootOfThousands(const std::string& image, std::uint32_t clusters) {
  const std::vector<std::uint8_t> boot = test::ReadAt(image, 0, 512);
  const std::uint64_t reserved = LeU16(boot, 14), fats = boot[16], fatSectors = LeU32(boot, 36);
  const std::uint64_t data = reserved + fats * fatSectors;
  for (std::uint32_t k = 0; k < clusters; ++k) {
    const std::uint32_t c = LeU32(boot, 44) + k, next = k + 1 < clusters ? c + 1 : 0x0FFFFFFF;
    for (std::uint64_t f = 0; f < fats; ++f) test::WriteAt(image, (reserved + f * fatSectors) * 512 + c * 4, test::Le(next, 4));
    std::vector<std::uint8_t> cluster(512, 0);
    const auto put = [&](std::size_t at, const std::vector<std::uint8_t>& b) { std::ranges::copy(b, &cluster[at]); };
    for (std::uint32_t s = 0; s < 16; ++s) {
      char name[16];
      std::snprintf(name, sizeof name, "E%06u    ", k * 16 + s);  // 8.3, padded to 11
      const bool folder = s % 2 == 0;
      put(32 * s, {name, name + 11});
      put(32 * s + 11, {static_cast<std::uint8_t>(folder ? 0x10 : 0x20)});
      put(32 * s + 22, test::Le(12 << 11, 2));                              // 12:00
      put(32 * s + 24, test::Le(((2010 - 1980) << 9) | (1 << 5) | 1, 2));  // 1 January 2010
      if (!folder) put(32 * s + 28, test::Le(10, 4));
    }
    test::WriteAt(image, (data + c - 2) * 512, cluster);
  }
}

// On a FAT32 volume of 512-byte clusters, as small as FAT32 allows.
TEST(HostileFat32, ARootOfThousandsOfEntriesIsShownAtTheCostOfItsEntries) {
  constexpr std::uint32_t kClusters = 256;  // 2,048 folders and 2,048 files
  test::ScratchDir dir;
  const std::string image = dir.Path("vol.img");
  test::Sh("truncate -s 34M " + image + " && mkfs.fat -F 32 -s 1 -n HOSTILE " + image + " >/dev/null");
  WriteRootOfThousands(image, kClusters);
  AppState app;
  CountingWindow ui;
  test::Wire(app, ui);
  test::OpenImages(app, ui, {image});
  ASSERT_EQ(ui.RowCount(kDriveList), 1);
  const std::uint64_t comparisonsBefore = ui.NodeComparisons();
  ui.PostCommand(kCmdBuildIndexedFileList);
  ui.RunDialog();
  ASSERT_EQ(app.lastScanResult, 1);

  // Everything is there: the folders in name order, the files in disk order.
  const std::uint64_t files = kClusters * 8, folders = kClusters * 8;
  EXPECT_EQ(std::pair(app.currentDrive->foundFiles, app.currentDrive->foundDirs), std::pair(files, folders + 1));
  ASSERT_EQ(static_cast<std::uint64_t>(ui.RowCount(kFileList)), files);
  EXPECT_EQ(ui.RowText(kFileList, 0, 0), "E000001");
  EXPECT_EQ(ui.RowText(kFileList, static_cast<int>(files - 1), 0), "E004095");
  const std::vector<std::string> labels = Labels(ui, ui.RootNode());
  ASSERT_EQ(labels.size(), folders);
  EXPECT_TRUE(std::is_sorted(labels.begin(), labels.end()));
  EXPECT_EQ(labels.front(), "E000000");

  // ... at the cost of the entries, not of their square: each file row put in about twice (as found, and once more at
  // the end), each folder placed by halving the folders already there.
  EXPECT_LE(ui.fileRows, 2 * files + 1);
  EXPECT_LE(ui.NodeComparisons() - comparisonsBefore, folders * 13);
}

TEST(HeadlessTree, SortedInsertionsGoWhereAWalkWouldPutThemWhateverCameBefore) {
  HeadlessWindow ui;
  const auto labels = [&ui](NodeHandle parent) { return Labels(ui, parent); };
  const NodeHandle root = ui.InsertNode(kNoNode, "Root", 0, 0, nullptr, false);
  // In order: sorted insertions by name, without regard to case, equal names after the ones already there.
  for (const char* l : {"delta", "Alpha", "charlie", "bravo", "ALPHA", "echo"})
    ui.InsertNode(root, l, 0, 0, nullptr, true);
  EXPECT_EQ(labels(root), (std::vector<std::string>{"Alpha", "ALPHA", "bravo", "charlie", "delta", "echo"}));
  // Appended in order, the order holds; appended out of it, a sorted insertion goes before the first sibling named
  // after it, as it always did.
  const NodeHandle mixed = ui.InsertNode(root, "mixed", 0, 0, nullptr, true);
  for (const char* l : {"b", "d", "a"}) ui.InsertNode(mixed, l, 0, 0, nullptr, false);
  ui.InsertNode(mixed, "c", 0, 0, nullptr, true);
  EXPECT_EQ(labels(mixed), (std::vector<std::string>{"b", "c", "d", "a"}));
  ui.InsertNode(mixed, "aa", 0, 0, nullptr, true);
  EXPECT_EQ(labels(mixed), (std::vector<std::string>{"aa", "b", "c", "d", "a"}));
  // A walk goes on rightly from where it stood when insertions moved its siblings, and walks nested in it do not lose
  // its place.
  NodeHandle at = ui.NextSibling(ui.FirstChild(mixed));
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
