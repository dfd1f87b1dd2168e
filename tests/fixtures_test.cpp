// The fixture images hold what other suites mean to test on them: the file system and cluster size fsstat sees, the
// cases the manifest lists (deleted folders, overwritten files, deep paths, wide names), and the layouts istat sees
// (fragmented, resident, sparse and compressed files). The manifest itself is held to The Sleuth Kit by the scan tests.

#include <algorithm>
#include <sstream>

#include "test_support.h"

namespace tsn::test {
namespace {

using nlohmann::json;

bool HasByteFrom(const std::string& utf8, unsigned char lead) {
  return std::any_of(utf8.begin(), utf8.end(), [&](char c) { return static_cast<unsigned char>(c) >= lead; });
}

class FixtureVolume : public ::testing::TestWithParam<json> {
 protected:
  void SetUp() override {
    if (!HaveTool("fls")) GTEST_SKIP() << "The Sleuth Kit is not installed";
    for (const json& e : ManifestOf(GetParam()["image"]))
      if (e.value("start_lba", 0) == GetParam()["start_lba"]) entries_.push_back(e);
    ASSERT_FALSE(entries_.empty()) << "the manifest lists nothing on " << GetParam()["image"];
    // "r/r 197:<TAB>path" for the live names
    for (const std::string& line : Split(RunCommand("fls -r -p -u" + Offset() + Quote(Image())).out, '\n'))
      if (const auto tab = line.find('\t'); tab != std::string::npos)
        inodes_[line.substr(tab + 1)] = line.substr(4, line.find(':') - 4);
  }
  std::string Image() const { return Fixture(GetParam()["image"]); }
  std::string Offset() const { return " -o " + GetParam()["start_lba"].dump() + " "; }
  bool Fat() const { return GetParam()["fs_type"] == "FAT32"; }
  const json* Get(const std::string& path) const {
    for (const json& e : entries_)
      if (e["path"] == path) return &e;
    return nullptr;
  }
  std::string Istat(const std::string& path, const std::string& flags = "") const {
    EXPECT_TRUE(inodes_.count(path)) << path << " not listed";
    return inodes_.count(path) ? RunCommand("istat " + flags + Offset() + Quote(Image()) + " " + inodes_.at(path)).out
                               : "";
  }
  std::vector<json> entries_;
  std::map<std::string, std::string> inodes_;  // of the live names, by path
};

TEST_P(FixtureVolume, TheFileSystemAndTheManifestAreWhatTheImageIsFor) {
  const json& v = GetParam();
  const std::uint64_t cluster = v["cluster_size"];
  const std::string fsstat = RunCommand("fsstat" + Offset() + Quote(Image())).out;
  EXPECT_TRUE(Has(fsstat, "File System Type: " + v["fs_type"].get<std::string>() + "\n")) << fsstat;
  EXPECT_TRUE(Has(fsstat, "Cluster Size: " + std::to_string(cluster) + "\n")) << fsstat;
  std::map<std::string, int> n;  // entries of each case
  std::set<std::string> paths;
  for (const json& e : entries_) {
    const std::string path = e["path"];
    const bool folder = e["folder"], deleted = e["deleted"];
    paths.insert(path);
    const json* parent = path.rfind('/') == std::string::npos ? nullptr : Get(path.substr(0, path.rfind('/')));
    n["deleted file"] += deleted && !folder;
    n["deleted folder"] += deleted && folder;
    n["deleted in a deleted folder"] += deleted && parent != nullptr && (*parent)["deleted"];
    n["name beyond U+00FF"] += HasByteFrom(path, 0xC4);
    n["name of surrogate pairs"] += HasByteFrom(path, 0xF0);
    n["overwritten"] += e["overwritten"].get<bool>();
    n["empty file"] += !folder && e["size"] == 0;
    n["8 folders deep"] += std::count(path.begin(), path.end(), '/') >= 8;
    EXPECT_TRUE(deleted || (!e["overwritten"] && !e["name_lost"])) << "a live entry marked lost: " << path;
  }
  EXPECT_EQ(paths.size(), entries_.size()) << "a path listed twice";
  std::vector<std::string> promised{"deleted file", "deleted folder", "deleted in a deleted folder", "name beyond U+00FF"};
  if (v["full"]) promised.insert(promised.end(), {"overwritten", "8 folders deep"});
  for (const std::string& c : promised) EXPECT_GT(n[c], 0) << c;
  if (!v["full"]) return;
  EXPECT_GE(n["empty file"], 2);
  EXPECT_TRUE(Fat() || n["name of surrogate pairs"] > 0);  // mtools cannot write them
  ASSERT_NE(Get("Documents/one-cluster.bin"), nullptr);
  ASSERT_NE(Get("Documents/many-clusters.bin"), nullptr);
  EXPECT_EQ((*Get("Documents/one-cluster.bin"))["size"], cluster);
  EXPECT_GT((*Get("Documents/many-clusters.bin"))["size"], 10 * cluster);
  if (Fat()) {
    // istat lists the sectors: count the breaks in the sequence.
    const std::string istat = Istat("Frag/fragmented.bin");
    ASSERT_TRUE(Has(istat, "Sectors:")) << istat;
    std::istringstream in(istat.substr(istat.find("Sectors:") + 8));
    long prev = -2, breaks = 0;
    for (long s; in >> s; prev = s) breaks += prev >= 0 && s != prev + 1;
    EXPECT_GE(breaks, 2);
    return;
  }
  EXPECT_GE(Count(Istat("Frag/fragmented.bin", "-r"), "Starting address"), 3u);
  // The line istat prints for the unnamed $DATA attribute.
  const std::pair<const char*, const char*> layouts[] = {
      {"Resident/tiny-1.txt", "  Resident"}, {"Resident/tiny-3.txt", "  Resident"},
      {"Documents/readme.txt", "  Resident"}, {"Documents/many-clusters.bin", "Non-Resident"},
      {"Sparse/sparse.bin", "Non-Resident, Sparse"}, {"Compressed/compressed-log.txt", "Non-Resident, Compressed"}};
  for (const auto& [path, layout] : layouts) {
    std::string data;
    for (const std::string& line : Split(Istat(path), '\n'))
      if (line.rfind("Type: $DATA (", 0) == 0 && Has(line, "Name: N/A")) data = line;
    EXPECT_TRUE(Has(data, layout)) << path << ": " << data;
  }
  // Thousands of names do not fit the index root.
  EXPECT_TRUE(Has(Istat("Many"), "Type: $INDEX_ALLOCATION"));
}

INSTANTIATE_TEST_SUITE_P(Images, FixtureVolume, ::testing::ValuesIn(DataRows("fixture-volumes.jsonl")),
                         [](const ::testing::TestParamInfo<json>& volume) {
                           return volume.param["name"].get<std::string>();
                         });

}  // namespace
}  // namespace tsn::test
