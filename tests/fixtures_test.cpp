// The fixture images, checked against The Sleuth Kit: what the builder's
// manifest says was written and deleted is what an independent reader finds
// on the volumes. Other suites trust these images and the manifest, so the
// builder itself is proven here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

#include "test_support.h"

namespace tsn::test {
namespace {

using nlohmann::json;

struct Volume {
  const char* image;
  std::uint64_t startLba;
  const char* fsType;  // as fsstat names it
  unsigned clusterSize;
  bool full;           // the full tree, not the small one of the partitions
};

const Volume kVolumes[] = {
    {"fat32-512.img", 0, "FAT32", 512, true},     {"fat32-4k.img", 0, "FAT32", 4096, true},
    {"fat32-32k.img", 0, "FAT32", 32768, true},   {"ntfs-4k.img", 0, "NTFS", 4096, true},
    {"ntfs-1k.img", 0, "NTFS", 1024, true},       {"mbr-disk.img", 2048, "FAT32", 512, false},
    {"mbr-disk.img", 83968, "NTFS", 4096, false}, {"mbr-disk.img", 118784, "NTFS", 1024, false},
    {"gpt-disk.img", 2048, "FAT32", 512, false},  {"gpt-disk.img", 83968, "NTFS", 2048, false},
};

// One name as fls -r -p -l lists it.
struct Listed {
  std::string path;
  bool deleted = false;
  std::string inode;  // "197" on FAT, "106-128-2" on NTFS
  std::string size;
};

bool HasByteFrom(const std::string& utf8, unsigned char lead) {
  return std::any_of(utf8.begin(), utf8.end(), [&](char c) { return static_cast<unsigned char>(c) >= lead; });
}

class FixtureVolume : public ::testing::TestWithParam<Volume> {
 protected:
  void SetUp() override {
    if (!HaveTool("fls") || !HaveTool("tsk_recover")) GTEST_SKIP() << "The Sleuth Kit is not installed";
    ASSERT_TRUE(std::filesystem::exists(Image())) << Image();
    for (const json& e : ManifestOf(GetParam().image))
      if (e.value("start_lba", std::uint64_t{0}) == GetParam().startLba) entries_.push_back(e);
    ASSERT_FALSE(entries_.empty()) << "the manifest lists nothing on " << GetParam().image;
    const CommandResult r = RunCommand("fls -r -p -l" + Offset() + Quote(Image()));
    ASSERT_EQ(r.status, 0) << r.err;
    for (const std::string& line : Split(r.out, '\n')) {
      // "r/r * 197:<TAB>path<TAB>4 times<TAB>size<TAB>uid<TAB>gid"
      const std::vector<std::string> f = Split(line, '\t');
      if (f.size() < 7) continue;
      const auto colon = f[0].rfind(':'), space = f[0].rfind(' ', colon);
      listing_.emplace(f[1], Listed{f[1], f[0].find('*') != std::string::npos,
                                    f[0].substr(space + 1, colon - space - 1), f[6]});
    }
  }
  std::string Image() const { return Fixture(GetParam().image); }
  std::string Offset() const { return " -o " + std::to_string(GetParam().startLba) + " "; }
  bool Fat() const { return std::string(GetParam().fsType) == "FAT32"; }
  const json* Get(const std::string& path) const {
    for (const json& e : entries_)
      if (e["path"] == path) return &e;
    return nullptr;
  }
  // The listings of an entry's path that agree with it on being deleted.
  std::vector<Listed> Find(const json& e) const {
    std::vector<Listed> out;
    const std::string path = e["path"];
    const bool deleted = e["deleted"];
    for (auto [it, hi] = listing_.equal_range(path); it != hi; ++it)
      if (it->second.deleted == deleted) out.push_back(it->second);
    // A deleted FAT entry without a long name has lost the first byte of
    // its short name, which fls shows as '_'.
    if (out.empty() && deleted && Fat())
      for (const auto& [listed, l] : listing_)
        if (l.deleted && DeletedNameKey(listed) == DeletedNameKey(path)) out.push_back(l);
    return out;
  }
  std::string Istat(const std::string& path, const std::string& flags = "") const {
    const json* e = Get(path);
    EXPECT_NE(e, nullptr) << path;
    const std::vector<Listed> found = e ? Find(*e) : std::vector<Listed>{};
    EXPECT_FALSE(found.empty()) << path << " not listed";
    if (found.empty()) return "";
    return RunCommand("istat " + flags + Offset() + Quote(Image()) + " " + found.front().inode).out;
  }
  std::vector<json> entries_;
  std::multimap<std::string, Listed> listing_;
};

TEST_P(FixtureVolume, TheFileSystemAndTheManifestAreWhatTheImageIsFor) {
  const Volume& v = GetParam();
  const CommandResult r = RunCommand("fsstat" + Offset() + Quote(Image()));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(std::string("File System Type: ") + v.fsType + "\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Cluster Size: " + std::to_string(v.clusterSize) + "\n"), std::string::npos) << r.out;
  int deletedFiles = 0, deletedFolders = 0, overwritten = 0, emptyFiles = 0, maxDepth = 0;
  bool wideName = false, surrogates = false, deletedInDeletedFolder = false;
  std::set<std::string> paths;
  for (const json& e : entries_) {
    const std::string path = e["path"];
    const bool folder = e["folder"], deleted = e["deleted"];
    EXPECT_TRUE(paths.insert(path).second) << "listed twice: " << path;
    EXPECT_FALSE(path.empty() || path.front() == '/' || path.back() == '/') << path;
    EXPECT_EQ(e.value("sha256", std::string()).size(), folder ? 0u : 64u) << path;
    EXPECT_TRUE(deleted || (!e["overwritten"] && !e["name_lost"])) << "a live entry marked lost: " << path;
    deletedFiles += deleted && !folder;
    deletedFolders += deleted && folder;
    overwritten += e["overwritten"].get<bool>();
    emptyFiles += !folder && e["size"] == 0;
    maxDepth = std::max(maxDepth, static_cast<int>(std::count(path.begin(), path.end(), '/')));
    wideName = wideName || HasByteFrom(path, 0xC4);  // a code point beyond U+00FF
    surrogates = surrogates || HasByteFrom(path, 0xF0);
    if (deleted && path.rfind('/') != std::string::npos) {
      const json* parent = Get(path.substr(0, path.rfind('/')));
      deletedInDeletedFolder = deletedInDeletedFolder || (parent != nullptr && (*parent)["deleted"]);
    }
  }
  EXPECT_GT(deletedFiles, 0);
  EXPECT_GT(deletedFolders, 0);
  EXPECT_TRUE(deletedInDeletedFolder);
  EXPECT_TRUE(wideName);
  if (!v.full) return;
  EXPECT_GT(overwritten, 0);
  EXPECT_GE(emptyFiles, 2);
  EXPECT_GE(maxDepth, 8);
  // Names that need UTF-16 surrogate pairs (mtools cannot write them).
  if (!Fat()) {
    EXPECT_TRUE(surrogates);
  }
  ASSERT_NE(Get("Documents/one-cluster.bin"), nullptr);
  ASSERT_NE(Get("Documents/many-clusters.bin"), nullptr);
  EXPECT_EQ((*Get("Documents/one-cluster.bin"))["size"], v.clusterSize);
  EXPECT_GT((*Get("Documents/many-clusters.bin"))["size"], 10u * v.clusterSize);
  // The layouts the full volumes promise, as istat sees them.
  if (Fat()) {
    // istat lists the sectors; count the breaks in the sequence.
    std::istringstream in(Istat("Frag/fragmented.bin"));
    std::string word;
    bool inSectors = false;
    long prev = -2, breaks = 0;
    while (in >> word) {
      if (word == "Sectors:") inSectors = true;
      else if (inSectors && std::all_of(word.begin(), word.end(), ::isdigit)) {
        const long s = std::stol(word);
        if (prev >= 0 && s != prev + 1) ++breaks;
        prev = s;
      }
    }
    EXPECT_GE(breaks, 2);
    return;
  }
  const std::string runs = Istat("Frag/fragmented.bin", "-r");
  std::size_t n = 0;
  for (auto p = runs.find("Starting address"); p != std::string::npos; p = runs.find("Starting address", p + 1)) ++n;
  EXPECT_GE(n, 3u) << runs;
  // The line istat prints for the unnamed $DATA attribute.
  auto dataLine = [&](const std::string& path) {
    for (const std::string& line : Split(Istat(path), '\n'))
      if (line.rfind("Type: $DATA (", 0) == 0 && line.find("Name: N/A") != std::string::npos) return line;
    return std::string();
  };
  for (const char* path : {"Resident/tiny-1.txt", "Resident/tiny-3.txt", "Documents/readme.txt"})
    EXPECT_NE(dataLine(path).find("  Resident"), std::string::npos) << path;
  EXPECT_NE(dataLine("Documents/many-clusters.bin").find("Non-Resident"), std::string::npos);
  EXPECT_NE(dataLine("Sparse/sparse.bin").find("Non-Resident, Sparse"), std::string::npos);
  EXPECT_NE(dataLine("Compressed/compressed-log.txt").find("Non-Resident, Compressed"), std::string::npos);
  // Thousands of names do not fit the index root.
  EXPECT_NE(Istat("Many").find("Type: $INDEX_ALLOCATION"), std::string::npos);
}

// Every entry is listed with its state and size, and its content read back
// through the oracle: live files must match; a deleted file whose clusters
// were not reused must still hold its bytes, and one marked overwritten must
// not, which proves the builder's measurement. tsk_recover exports every
// file, fragmented, sparse and compressed ones among them, in one pass.
TEST_P(FixtureVolume, EveryEntryIsListedAndEveryFileRecoveredHoldsWhatWasWritten) {
  ScratchDir out;
  const CommandResult rec = RunCommand("tsk_recover -e" + Offset() + Quote(Image()) + " " + Quote(out.dir()));
  ASSERT_EQ(rec.status, 0) << rec.err;
  // One sha256sum run for the lot; -z keeps names unescaped.
  const CommandResult sums = RunCommand("cd " + Quote(out.dir()) + " && find . -type f -print0 | xargs -0 -r sha256sum -z");
  std::map<std::string, std::string> recovered;
  for (const std::string& line : Split(sums.out, '\0'))
    if (line.size() > 68) recovered[line.substr(68)] = line.substr(0, 64);  // "HASH  ./path"
  const std::string emptySha = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
  int live = 0, deletedIntact = 0, overwritten = 0;
  for (const json& e : entries_) {
    if (e["name_lost"]) continue;  // its record or folder went to another file
    const std::string path = e["path"];
    const bool deleted = e["deleted"];
    const std::vector<Listed> found = Find(e);
    ASSERT_FALSE(found.empty()) << (deleted ? "deleted " : "live ") << path << " not listed";
    if (e["folder"]) continue;
    const std::string size = std::to_string(e["size"].get<std::uint64_t>()), sha = e["sha256"];
    EXPECT_TRUE(std::any_of(found.begin(), found.end(), [&](const Listed& l) { return l.size == size; }))
        << path << " listed as " << found.front().size << " bytes, written " << size;
    std::string hash;
    for (const Listed& l : found)
      if (recovered.count(l.path)) hash = recovered[l.path];
    if (hash.empty()) {
      // tsk_recover writes no file for an empty one.
      EXPECT_EQ(sha, emptySha) << path << " was not recovered";
    } else if (!deleted) {
      EXPECT_EQ(hash, sha) << "live " << path;
      ++live;
    } else if (!e["overwritten"]) {
      EXPECT_EQ(hash, sha) << "deleted, not overwritten, yet changed: " << path;
      ++deletedIntact;
    } else {
      EXPECT_NE(hash, sha) << "marked overwritten, yet intact: " << path;
      ++overwritten;
    }
  }
  EXPECT_GT(live, 0);
  EXPECT_GT(deletedIntact, 0);
  if (GetParam().full) {
    EXPECT_GT(overwritten, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Images, FixtureVolume, ::testing::ValuesIn(kVolumes), [](const auto& p) {
  std::string name = std::string(p.param.image) + "_" + std::to_string(p.param.startLba);
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
});

// The disk images carry real partition tables: mmls reads them, and every
// partition the manifest names holds a file system there.
TEST(FixtureDisks, PartitionTablesListTheirPartitions) {
  if (!HaveTool("mmls")) GTEST_SKIP() << "The Sleuth Kit is not installed";
  struct Want {
    const char* image;
    const char* table;
    std::vector<std::pair<std::uint64_t, std::string>> partitions;  // start, description
  };
  const Want wants[] = {
      {"mbr-disk.img", "DOS Partition Table",
       {{2048, "Win95 FAT32 (0x0c)"}, {83968, "NTFS / exFAT (0x07)"}, {116736, "DOS Extended (0x05)"},
        {118784, "NTFS / exFAT (0x07)"}}},
      {"gpt-disk.img", "GUID Partition Table",
       {{2048, "FAT32 data"}, {83968, "NTFS data"}, {116736, "no file system"}}},
  };
  std::set<std::tuple<std::string, int, std::uint64_t>> parts;
  for (const Want& w : wants) {
    const CommandResult r = RunCommand("mmls " + Quote(Fixture(w.image)));
    ASSERT_EQ(r.status, 0) << w.image << ": " << r.err;
    EXPECT_NE(r.out.find(w.table), std::string::npos) << r.out;
    for (const auto& [start, description] : w.partitions) {
      bool found = false;
      for (const std::string& line : Split(r.out, '\n')) {
        std::istringstream in(line);
        std::string slot, kind, startText;
        in >> slot >> kind >> startText;
        found = found || (!startText.empty() && std::all_of(startText.begin(), startText.end(), ::isdigit) &&
                          std::stoull(startText) == start && line.find(description) != std::string::npos);
      }
      EXPECT_TRUE(found) << w.image << " has no partition at " << start << " (" << description << ")\n" << r.out;
    }
    for (const json& e : ManifestOf(w.image))
      if (e.value("partition", 0) > 0) parts.emplace(w.image, e["partition"], e["start_lba"]);
  }
  // Each partition the manifest names is numbered as Linux numbers it and
  // holds a file system; the GPT partition left empty holds none.
  const std::set<std::tuple<std::string, int, std::uint64_t>> expected = {
      {"mbr-disk.img", 1, 2048}, {"mbr-disk.img", 2, 83968}, {"mbr-disk.img", 5, 118784},
      {"gpt-disk.img", 1, 2048}, {"gpt-disk.img", 2, 83968}};
  EXPECT_EQ(parts, expected);
  EXPECT_NE(RunCommand("fsstat -o 116736 " + Quote(Fixture("gpt-disk.img"))).status, 0);
}

}  // namespace
}  // namespace tsn::test
