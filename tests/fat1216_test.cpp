// FAT12 and FAT16 volumes made with mkfs.fat and mtools, and one made by
// Windows XP: the drive row against fsstat and mdir, copies byte-exact
// against the manifest and icat, and the images left as they were (their
// scans are checked with the other FAT fixtures, in fat_fixture_test).
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "test_support.h"

namespace tsn {
namespace {

using test::RunCommand;

std::string Cli() { return TESSILON_CLI; }

// The number following `label` in fsstat's report.
std::uint64_t FsstatNumber(const std::string& fsstat, const std::string& label) {
  const auto at = fsstat.find(label);
  if (at == std::string::npos) return 0;
  return std::stoull(fsstat.substr(at + label.size()));
}

// Copied files under `root`, by DeletedNameKey of their path below it.
std::map<std::string, std::string> CopiedByKey(const std::string& root) {
  std::map<std::string, std::string> out;
  if (!std::filesystem::exists(root)) return out;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root))
    if (e.is_regular_file() && !test::IsCopyManifest(e.path()))
      out[test::DeletedNameKey("/" + std::filesystem::relative(e.path(), root).string())] =
          test::Sha256OfFile(e.path().string());
  return out;
}

struct Volume {
  const char* image;
  const char* fsType;
  std::uint32_t sectorBytes;
};

class Fat1216 : public ::testing::TestWithParam<Volume> {
 protected:
  std::string Image() const { return test::Fixture(GetParam().image); }
};

TEST_P(Fat1216, DriveRowAgreesWithFsstatAndMdir) {
  const std::string image = Image();
  const auto drives = RunCommand(Cli() + " drives --no-devices --json " + image);
  ASSERT_EQ(drives.status, 0) << drives.err;
  const auto row = nlohmann::json::parse(drives.out.substr(0, drives.out.find('\n')));
  EXPECT_EQ(row["FS Type"], GetParam().fsType);
  const std::string fsstat = RunCommand("fsstat " + image).out;
  ASSERT_NE(fsstat.find("File System Type: " + std::string(GetParam().fsType)), std::string::npos) << fsstat;
  EXPECT_EQ(FsstatNumber(fsstat, "Sector Size: "), GetParam().sectorBytes);
  const double bytes = double(FsstatNumber(fsstat, "Total Range: 0 - ") + 1) * GetParam().sectorBytes;
  char size[32];
  std::snprintf(size, sizeof size, "%.2f GB", bytes / (1024.0 * 1024.0 * 1024.0));
  EXPECT_EQ(row["Size"], std::string(size));
  // The free share is of the data clusters: mdir counts the free ones.
  const std::uint64_t clusters = FsstatNumber(fsstat, "Total Cluster Range: 2 - ") - 1;
  const std::uint64_t clusterBytes = FsstatNumber(fsstat, "Cluster Size: ");
  const std::string mdir = RunCommand("MTOOLS_SKIP_CHECK=1 mdir -i " + image + " :: | sed -n 's/ *\\([0-9 ]*\\) bytes free.*/\\1/p' | tr -d ' '").out;
  EXPECT_EQ(row["SPC"], std::to_string(clusterBytes / GetParam().sectorBytes));
  ASSERT_FALSE(mdir.empty());
  const double free = double(std::stoull(mdir) / clusterBytes) / double(clusters);
  char share[32];
  std::snprintf(share, sizeof share, "%% %.02f", free * 100.0);
  EXPECT_EQ(row["Sparse"], std::string(share));
}

TEST_P(Fat1216, CopiesMatchTheManifestAndIcat) {
  const std::string image = Image();
  const std::string before = test::Sha256OfFile(image);
  test::ScratchDir dir;
  const std::string out = dir.Path("out");
  const auto copy = RunCommand(Cli() + " copy " + image + " --to " + out);
  ASSERT_EQ(copy.status, 0) << copy.err;
  const auto copied = CopiedByKey(out);
  // Live files by path, through their chains (one of them fragmented).
  const auto live = RunCommand(Cli() + " copy " + image + " --to " + dir.Path("live") +
                               " /Frag/fragmented.bin /root-kept.txt /Documents/many-clusters.bin /Documents/one-cluster.bin");
  ASSERT_EQ(live.status, 0) << live.err;
  int checked = 0;
  for (const auto& m : test::ManifestOf(GetParam().image)) {
    if (m["folder"].get<bool>() || m["name_lost"].get<bool>()) continue;
    const std::string path = m["path"];
    if (!m["deleted"].get<bool>()) {
      const std::string at = dir.Path("live/" + path);
      if (std::filesystem::exists(at)) {
        EXPECT_EQ(test::Sha256OfFile(at), m["sha256"]) << path;
        ++checked;
      }
      continue;
    }
    if (m["overwritten"].get<bool>()) continue;
    const auto it = copied.find(test::DeletedNameKey("/" + path));
    ASSERT_NE(it, copied.end()) << path << "\n" << copy.err;
    EXPECT_EQ(it->second, m["sha256"]) << path;
    ++checked;
  }
  EXPECT_GE(checked, 25);
  // icat reads a deleted file as we do, contiguous from its first cluster,
  // where no other file has taken those clusters since.
  std::set<std::string> intact;
  for (const auto& m : test::ManifestOf(GetParam().image))
    if (m["deleted"].get<bool>() && !m["overwritten"].get<bool>())
      intact.insert(test::DeletedNameKey("/" + m["path"].get<std::string>()));
  int againstIcat = 0;
  std::istringstream fls(RunCommand("fls -r -p -d " + image).out);
  for (std::string line; std::getline(fls, line);) {
    if (line.rfind("r/r * ", 0) != 0) continue;
    const std::string inode = line.substr(6, line.find(':') - 6);
    const std::string key = test::DeletedNameKey("/" + line.substr(line.find('\t') + 1));
    const auto it = copied.find(key);
    if (it == copied.end() || intact.count(key) == 0) continue;
    EXPECT_EQ(RunCommand("icat " + image + " " + inode + " | sha256sum | cut -c1-64").out, it->second + "\n") << line;
    ++againstIcat;
  }
  EXPECT_GE(againstIcat, 20);
  EXPECT_EQ(test::Sha256OfFile(image), before);
}

INSTANTIATE_TEST_SUITE_P(Images, Fat1216,
                         ::testing::Values(Volume{"fat12-512.img", "FAT12", 512}, Volume{"fat16-2k.img", "FAT16", 512},
                                           Volume{"fat16-4kn.img", "FAT16", 4096}),
                         [](const auto& instance) {
                           std::string n = instance.param.image;
                           n = n.substr(0, n.find('.'));
                           for (char& c : n) if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return n;
                         });

// Windows XP's FAT16 volume from the Digital Forensics Tool Testing images,
// with its published sizes and MD5s. Deleted files are copied contiguously
// from their first cluster, as FAT leaves nothing else to go by: the three
// fragmented ones come out with the MD5s the table gives for that
// assumption. XP recorded the deleted \dir1 and \dir1\dir2 with the size of
// their one cluster and never marked the entries inside \dir1 deleted, so
// only the indexed scan, walking the deleted folder, finds what it held.
// The deleted entries it lists are those fls -r -d lists, the earlier
// System Volume Information tree (whose last folder's cluster \dir1\dir2
// took over) included.
TEST(Fat16RealImage, DfttUndeleteFilesComeBackWithThePublishedMd5s) {
  const std::string image = test::RealImage("dftt-6-undel-fat.zip", "6-undel-fat/6-fat-undel.dd");
  if (image.empty()) TESSILON_SKIP_WITHOUT_REAL_IMAGES();
  const std::string before = test::Sha256OfFile(image);
  struct Published {
    std::string path;
    std::uint64_t size;
    std::string md5;
    bool inRoot;
  };
  const std::vector<Published> published = {
      {"/sing.dat", 780, "59b20779f69ff9f0ac5fcd2c38835a79", true},
      {"/mult1.dat", 3801, "ffd27bd782bdce67750b6b9ee069d2ef", true},
      {"/dir1/mult2.dat", 1715, "59cf0e9cd107bc1e75afb7374f6e05bb", false},
      // fragmented: the table's MD5s for a contiguous reading
      {"/frag1.dat", 1584, "c4f3b9a0f17d464f4fc61b94ecf6cc21", true},
      {"/frag2.dat", 3873, "965370acfa85aa7e26ab04bbd45cdcae", true},
      {"/dir1/dir2/frag3.dat", 2027, "a7a14ac62f79fdea4056ed5e8bcf97ef", false},
  };
  std::set<std::string> flsDeleted, flsFiles;
  std::istringstream fls(RunCommand("fls -r -p -d " + image).out);
  for (std::string line; std::getline(fls, line);) {
    const std::string key = test::DeletedNameKey("/" + line.substr(line.find('\t') + 1));
    flsDeleted.insert(key);
    if (line.rfind("r/r", 0) == 0) flsFiles.insert(key);
  }
  ASSERT_EQ(flsFiles.size(), 7u);
  for (const bool quick : {false, true}) {
    SCOPED_TRACE(quick ? "quick" : "indexed");
    const test::Scan scan = test::RunScan(image, quick);
    ASSERT_EQ(scan.status, 0) << scan.log;
    std::map<std::string, const nlohmann::json*> deleted;
    for (const auto& e : scan.entries)
      if (e["deleted"].get<bool>()) deleted[test::DeletedNameKey(e["path"].get<std::string>())] = &e;
    for (const Published& p : published) {
      if (quick && !p.inRoot) continue;
      const auto it = deleted.find(test::DeletedNameKey(p.path));
      ASSERT_NE(it, deleted.end()) << p.path << "\n" << scan.log;
      EXPECT_EQ((*it->second)["size"], p.size) << p.path;
      EXPECT_EQ((*it->second)["state"], "Recovery may be possible") << p.path;
    }
    std::set<std::string> keys;
    for (const auto& [key, entry] : deleted) keys.insert(key);
    if (quick) EXPECT_EQ(keys.size(), 4u) << scan.log;
    else EXPECT_EQ(keys, flsDeleted) << scan.log;
    EXPECT_TRUE(scan.Logged("claims 12033 sectors but its image holds 12032")) << scan.log;
  }
  test::ScratchDir dir;
  const auto copy = RunCommand(Cli() + " copy " + image + " --to " + dir.Path("out"));
  ASSERT_EQ(copy.status, 0) << copy.err;
  std::map<std::string, std::string> md5;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir.Path("out")))
    if (e.is_regular_file() && !test::IsCopyManifest(e.path()))
      md5[test::DeletedNameKey("/" + std::filesystem::relative(e.path(), dir.Path("out")).string())] =
          RunCommand("md5sum < " + test::Quote(e.path().string()) + " | cut -c1-32").out;
  std::set<std::string> copied;
  for (const auto& [key, sum] : md5) copied.insert(key);
  EXPECT_EQ(copied, flsFiles);
  for (const Published& p : published) EXPECT_EQ(md5[test::DeletedNameKey(p.path)], p.md5 + "\n") << p.path;
  EXPECT_EQ(test::Sha256OfFile(image), before);
}

}  // namespace
}  // namespace tsn
