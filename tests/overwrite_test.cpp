// Which live files overwrote a deleted file, checked against The Sleuth
// Kit: each file named must hold some of the deleted file's clusters by
// istat, every cluster no named file holds must be free by blkstat, and the
// share said to be free must be what those two make.

#include <algorithm>
#include <sstream>

#include "app/overwrite_query.h"
#include "test_support.h"

namespace tsn {
namespace {

using test::Quote;
using test::RunCommand;

// Where The Sleuth Kit puts clusters: NTFS counts clusters, FAT and exFAT
// sectors from which the clusters are found.
struct TskVolume {
  std::string image;
  bool ntfs = false;
  std::uint64_t clusterBytes = 0, sectorBytes = 0, heapSector = 0;

  explicit TskVolume(const std::string& path) : image(path) {
    std::istringstream in(RunCommand("fsstat " + Quote(image)).out);
    for (std::string line; std::getline(in, line);) {
      if (line.find("File System Type: NTFS") != std::string::npos) ntfs = true;
      if (line.rfind("Cluster Size: ", 0) == 0) clusterBytes = std::stoull(line.substr(14));
      if (line.rfind("Sector Size: ", 0) == 0) sectorBytes = std::stoull(line.substr(13));
      for (const char* heap : {"** Cluster Area: ", "** Cluster Heap: "})
        if (line.rfind(heap, 0) == 0) heapSector = std::stoull(line.substr(std::string(heap).size()));
    }
  }
  std::uint64_t SectorsPerCluster() const { return clusterBytes / sectorBytes; }
  std::uint64_t Address(std::uint64_t cluster) const {
    return ntfs ? cluster : heapSector + (cluster - 2) * SectorsPerCluster();
  }

  // Every cluster istat gives a file: all its attributes' runs on NTFS, its
  // sectors elsewhere.
  std::set<std::uint64_t> Clusters(const std::string& inode) const {
    std::istringstream in(RunCommand("istat " + Quote(image) + " " + inode).out);
    std::set<std::uint64_t> out;
    bool listing = false;
    for (std::string line; std::getline(in, line);) {
      if (line.rfind(ntfs ? "Attributes:" : "Sectors:", 0) == 0) {
        listing = true;
        continue;
      }
      if (!listing || line.rfind("Type:", 0) == 0) continue;
      std::istringstream nums(line);
      for (std::uint64_t a; nums >> a;)
        if (a != 0) out.insert(ntfs ? a : (a - heapSector) / SectorsPerCluster() + 2);
    }
    return out;
  }

  bool Allocated(std::uint64_t cluster) const {
    const std::string out = RunCommand("blkstat " + Quote(image) + " " + std::to_string(Address(cluster))).out;
    return out.find("Not Allocated") == std::string::npos && out.find("Allocated") != std::string::npos;
  }

  std::string InodeOf(const std::string& path) const {
    std::string out = RunCommand("ifind -n " + Quote(path) + " " + Quote(image)).out;
    out.erase(out.find_last_not_of("\n ") + 1);
    return out;
  }

  // Where the deleted file lay: its $DATA runs on NTFS; one run from its
  // first cluster for its size elsewhere, as both tools take it.
  std::vector<std::uint64_t> DeletedClusters(const nlohmann::json& e) const {
    std::vector<std::uint64_t> out;
    if (ntfs) {
      for (const std::uint64_t c : test::IstatClusters(image, e["record"].get<std::uint64_t>()))
        if (c != 0) out.push_back(c);
      return out;
    }
    const auto first = e["record"].get<std::uint64_t>();
    const std::uint64_t count = (e["size"].get<std::uint64_t>() + clusterBytes - 1) / clusterBytes;
    for (std::uint64_t i = 0; i < count; ++i) out.push_back(first + i);
    return out;
  }
};

class OverwriteAgainstTsk : public ::testing::TestWithParam<const char*> {};

TEST_P(OverwriteAgainstTsk, NamesWhatHoldsTheClustersOfEachFileWhoseChainIsInUse) {
  const TskVolume tsk(test::Fixture(GetParam()));
  ASSERT_GT(tsk.clusterBytes, 0u);
  const test::Scan scan = test::RunScan(tsk.image, false);
  ASSERT_EQ(scan.status, 0) << scan.log;
  int checked = 0;
  for (const nlohmann::json& e : scan.entries) {
    const bool judged = e["state"] == "Chain is in use";
    ASSERT_EQ(e.contains("overwritten_by"), judged) << e.dump();
    ASSERT_EQ(e.contains("recoverable_percent"), judged) << e.dump();
    if (!judged) continue;
    const std::vector<std::uint64_t> clusters = tsk.DeletedClusters(e);
    // A few thousand blkstat runs would say no more than a few dozen.
    if (clusters.empty() || clusters.size() > 64) continue;
    SCOPED_TRACE(e.dump());
    std::set<std::uint64_t> held;
    for (const auto& owner : e["overwritten_by"]) {
      const std::string inode = tsk.InodeOf(owner.get<std::string>());
      ASSERT_FALSE(inode.empty()) << owner;
      const std::set<std::uint64_t> its = tsk.Clusters(inode);
      std::size_t shared = 0;
      for (const std::uint64_t c : clusters) shared += its.count(c) != 0 && held.insert(c).second;
      EXPECT_GT(shared, 0u) << owner << " holds none of its clusters";
    }
    for (const std::uint64_t c : clusters)
      EXPECT_FALSE(held.count(c) == 0 && tsk.Allocated(c)) << "cluster " << c << " is in use by a file not named";
    const std::uint64_t permille = (clusters.size() - held.size()) * 1000 / clusters.size();
    EXPECT_DOUBLE_EQ(e["recoverable_percent"].get<double>(), static_cast<double>(permille) / 10);
    ++checked;
  }
  EXPECT_GT(checked, 0) << "no deleted file whose chain is in use was checked";
}

INSTANTIATE_TEST_SUITE_P(Fixtures, OverwriteAgainstTsk,
                         ::testing::Values("fat12-512.img", "fat16-2k.img", "fat32-4k.img", "ntfs-4k.img",
                                           "exfat-4k.img"),
                         [](const auto& param) {
                           std::string name = param.param;
                           std::erase_if(name, [](char c) { return !isalnum(c); });
                           return name;
                         });

// The first file of the listing that lost clusters to live files.
const nlohmann::json* FirstOverwritten(const test::Scan& scan) {
  for (const nlohmann::json& e : scan.entries)
    if (e.contains("overwritten_by") && !e["overwritten_by"].empty() && e["recoverable_percent"] > 0) return &e;
  return nullptr;
}

// Copy-out, the window's query and the listing give one answer.
TEST(Overwrite, CopyLogAndWindowQueryAgreeWithTheListing) {
  for (const char* image : {"fat16-2k.img", "ntfs-4k.img"}) {
    SCOPED_TRACE(image);
    const std::string path = test::Fixture(image);
    const test::Scan scan = test::RunScan(path, false);
    const nlohmann::json* e = FirstOverwritten(scan);
    ASSERT_NE(e, nullptr);
    char percent[16];
    std::snprintf(percent, sizeof percent, "%.1f", e->at("recoverable_percent").get<double>());
    test::ScratchDir dir;
    const test::CommandResult copy = test::CliCopy(path, dir.Path("out"), {e->at("path")});
    std::string owners;
    for (const auto& o : e->at("overwritten_by")) owners += (owners.empty() ? "" : ", ") + o.get<std::string>();
    const std::string line = "was overwritten by " + owners + "; " + percent + "% of its clusters are still free.";
    EXPECT_TRUE(test::Has(copy.err, line)) << copy.err;
    test::HeadlessApp h;
    h.OpenImages({path});
    h.ui.PostCommand(kCmdBuildIndexedFileList);
    h.ui.RunDialog();
    const FoundFile* file = nullptr;
    for (const FoundFile& f : h.app.Records().files)
      if (f.name == e->at("name") && f.recordNumber + f.startCluster == e->at("record")) file = &f;
    ASSERT_NE(file, nullptr);
    const OverwriteAnswer answer = WhoOverwrote(&h.app, *file);
    EXPECT_TRUE(answer.known && answer.complete);
    EXPECT_EQ(answer.freePercent, percent);
    EXPECT_EQ(nlohmann::json(answer.owners), e->at("overwritten_by"));
  }
}

// An MFT record that cannot be read may hold the very file that took the
// clusters: the answer leaves it out and says it is not known in full.
TEST(Overwrite, AnUnreadableOwnerRecordMakesTheAnswerIncomplete) {
  const std::string image = test::Fixture("ntfs-4k.img");
  const TskVolume tsk(image);
  const test::Scan whole = test::RunScan(image, false);
  const nlohmann::json* e = FirstOverwritten(whole);
  ASSERT_NE(e, nullptr);
  const std::string owner = e->at("overwritten_by")[0];
  const std::uint64_t record = std::stoull(tsk.InodeOf(owner));
  const std::uint64_t recordBytes = 1024;
  const std::vector<std::uint64_t> mft = test::IstatClusters(image, 0);
  const std::uint64_t at = record * recordBytes;
  ASSERT_LT(at / tsk.clusterBytes, mft.size());
  const std::uint64_t offset = mft[at / tsk.clusterBytes] * tsk.clusterBytes + at % tsk.clusterBytes;
  test::FailingImage failing(image, {{offset, offset + recordBytes - 1}});
  ASSERT_FALSE(failing.path().empty()) << failing.why();

  const test::Scan scan = test::RunScan(failing.path(), false);
  const nlohmann::json* again = scan.Find(e->at("path"));
  ASSERT_NE(again, nullptr) << scan.log;
  for (const auto& o : again->at("overwritten_by")) EXPECT_NE(o, owner);
  EXPECT_TRUE(scan.Logged("which files overwrote deleted ones is not known in full: 1 MFT records could not be read"))
      << scan.log;
}

// Damage in the live files' chains: two files cross-linked onto the
// clusters a deleted one had are both named; a live chain that loops back
// on itself still ends, and still names its file.
TEST(Overwrite, CrossLinkedAndLoopingLiveChainsAreNamedAndEnd) {
  test::ScratchDir dir;
  const std::string image = dir.Path("vol.img");
  // FAT16 keeps no hint of where to allocate next: B.BIN takes the
  // clusters VICTIM.BIN left, the first free ones. The victim lies in a
  // folder of its own, or B.BIN's entry would take its slot too.
  const std::string data = Quote(dir.Path("data")), i = " -i " + Quote(image) + " ";
  test::Sh("export MTOOLS_SKIP_CHECK=1; mkfs.fat -F 16 -s 4 -C " + Quote(image) + " 16384 >/dev/null && head -c 6000 " +
           "/dev/zero > " + data + " && mcopy" + i + data + " ::/A.BIN && mmd" + i + "::/D && mcopy" + i + data +
           " ::/D/VICTIM.BIN && mdel" + i + "::/D/VICTIM.BIN && mcopy" + i + data + " ::/B.BIN");
  // A deleted 8.3 name has lost its first character.
  const auto victimIn = [](const test::Scan& scan) -> const nlohmann::json* {
    for (const nlohmann::json& e : scan.entries)
      if (e["deleted"] == true && e["path"].get<std::string>().ends_with("ICTIM.BIN")) return &e;
    return nullptr;
  };
  const test::Scan before = test::RunScan(image, false);
  const nlohmann::json* victim = victimIn(before);
  const nlohmann::json* b = before.Find("/B.BIN");
  ASSERT_TRUE(victim != nullptr && b != nullptr) << before.log;
  ASSERT_EQ(victim->at("overwritten_by"), nlohmann::json({"/B.BIN"}));
  const auto start = b->at("record").get<std::uint16_t>();

  // A.BIN's entry points at B.BIN's chain, whose last entry leads back to
  // its first.
  const std::vector<std::uint8_t> reserved = test::ReadAt(image, 14, 2);
  const std::size_t fat = 512 * (reserved[0] | reserved[1] << 8);
  const std::size_t entry = test::ReadAll(image).find("A       BIN");
  ASSERT_NE(entry, std::string::npos);
  test::WriteAt(image, entry + 26, test::Le(start, 2));
  test::WriteAt(image, fat + 2 * (start + 2u), test::Le(start, 2));

  const test::Scan after = test::RunScan(image, false);
  ASSERT_EQ(after.status, 0) << after.log;
  const nlohmann::json* again = victimIn(after);
  ASSERT_NE(again, nullptr) << after.log;
  EXPECT_EQ(again->at("overwritten_by").get<std::set<std::string>>(), (std::set<std::string>{"/A.BIN", "/B.BIN"}));
  EXPECT_EQ(again->at("recoverable_percent"), 0.0);
}

}  // namespace
}  // namespace tsn
