// The fixture images, checked against The Sleuth Kit: what the builder's
// manifest says was written and deleted is what an independent reader finds
// on the volumes. Other suites trust these images and the manifest, so the
// builder itself is proven here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
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

const std::string kFixtures = TESSILON_FIXTURES;

struct Entry {
  std::string image;
  std::string path;
  bool folder = false;
  std::uint64_t size = 0;
  std::string sha256;
  bool deleted = false;
  bool overwritten = false;
  bool nameLost = false;
  int partition = 0;
  std::uint64_t startLba = 0;
};

// Reads manifest.jsonl, failing the test on any malformed line.
std::vector<Entry> LoadManifest() {
  std::vector<Entry> entries;
  std::ifstream in(kFixtures + "/manifest.jsonl");
  EXPECT_TRUE(in.good()) << "no manifest in " << kFixtures;
  int lineNo = 0;
  for (std::string line; std::getline(in, line);) {
    ++lineNo;
    nlohmann::json j;
    try {
      j = nlohmann::json::parse(line);
    } catch (const nlohmann::json::exception& e) {
      ADD_FAILURE() << "manifest line " << lineNo << ": " << e.what();
      continue;
    }
    Entry e;
    e.image = j.at("image").get<std::string>();
    e.path = j.at("path").get<std::string>();
    e.folder = j.at("folder").get<bool>();
    e.size = j.at("size").get<std::uint64_t>();
    if (j.contains("sha256")) e.sha256 = j.at("sha256").get<std::string>();
    e.deleted = j.at("deleted").get<bool>();
    e.overwritten = j.at("overwritten").get<bool>();
    e.nameLost = j.at("name_lost").get<bool>();
    if (j.contains("partition")) {
      e.partition = j.at("partition").get<int>();
      e.startLba = j.at("start_lba").get<std::uint64_t>();
    }
    entries.push_back(std::move(e));
  }
  return entries;
}

const std::vector<Entry>& Manifest() {
  static const std::vector<Entry> entries = LoadManifest();
  return entries;
}

struct Volume {
  const char* image;
  std::uint64_t startLba;
  const char* fsType;  // as fsstat names it
  unsigned clusterSize;
  bool full;           // the full tree, not the small one of the partitions
};

std::ostream& operator<<(std::ostream& os, const Volume& v) {
  return os << v.image << "@" << v.startLba;
}

const Volume kVolumes[] = {
    {"fat32-512.img", 0, "FAT32", 512, true},     {"fat32-4k.img", 0, "FAT32", 4096, true},
    {"fat32-32k.img", 0, "FAT32", 32768, true},   {"ntfs-4k.img", 0, "NTFS", 4096, true},
    {"ntfs-1k.img", 0, "NTFS", 1024, true},       {"mbr-disk.img", 2048, "FAT32", 512, false},
    {"mbr-disk.img", 83968, "NTFS", 4096, false}, {"mbr-disk.img", 118784, "NTFS", 1024, false},
    {"gpt-disk.img", 2048, "FAT32", 512, false},  {"gpt-disk.img", 83968, "NTFS", 2048, false},
};

std::vector<Entry> EntriesOf(const Volume& v) {
  std::vector<Entry> out;
  for (const Entry& e : Manifest())
    if (e.image == v.image && e.startLba == v.startLba) out.push_back(e);
  return out;
}

std::string ImagePath(const Volume& v) { return kFixtures + "/" + v.image; }
std::string Offset(const Volume& v) { return " -o " + std::to_string(v.startLba) + " "; }

// One name as fls -r -p -l lists it.
struct Listed {
  std::string path;
  bool deleted = false;
  std::string inode;  // "197" on FAT, "106-128-2" on NTFS
  std::string size;
};

std::multimap<std::string, Listed> ListVolume(const Volume& v) {
  const CommandResult r = RunCommand("fls -r -p -l" + Offset(v) + "'" + ImagePath(v) + "'");
  EXPECT_EQ(r.status, 0) << r.err;
  std::multimap<std::string, Listed> out;
  for (const std::string& line : Split(r.out, '\n')) {
    // "r/r * 197:<TAB>path<TAB>4 times<TAB>size<TAB>uid<TAB>gid"
    const std::vector<std::string> f = Split(line, '\t');
    if (f.size() < 7) continue;
    Listed l;
    l.path = f[1];
    l.deleted = f[0].find('*') != std::string::npos;
    const auto colon = f[0].rfind(':');
    const auto space = f[0].rfind(' ', colon);
    l.inode = f[0].substr(space + 1, colon - space - 1);
    l.size = f[6];
    out.emplace(f[1], l);
  }
  return out;
}

bool EqualsIgnoringAsciiCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

// A deleted FAT entry without a long name has lost the first byte of its
// short name, which fls shows as '_' ("DELNOTE.TXT" -> "_ELNOTE.TXT").
bool SameFatDeletedPath(const std::string& listed, const std::string& written) {
  const std::vector<std::string> a = Split(listed, '/');
  const std::vector<std::string> b = Split(written, '/');
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] == b[i]) continue;
    if (a[i].size() != b[i].size() || a[i].empty() || a[i][0] != '_' ||
        !EqualsIgnoringAsciiCase(a[i].substr(1), b[i].substr(1)))
      return false;
  }
  return true;
}

// The listings of an entry's path that agree with it on being deleted.
std::vector<Listed> Find(const std::multimap<std::string, Listed>& listing, const Entry& e,
                         bool fat) {
  std::vector<Listed> out;
  auto [lo, hi] = listing.equal_range(e.path);
  for (auto it = lo; it != hi; ++it)
    if (it->second.deleted == e.deleted) out.push_back(it->second);
  if (out.empty() && e.deleted && fat) {
    for (const auto& [path, l] : listing)
      if (l.deleted && SameFatDeletedPath(path, e.path)) out.push_back(l);
  }
  return out;
}

std::string IstatOf(const Volume& v, const std::string& inode, const std::string& flags = "") {
  return RunCommand("istat " + flags + Offset(v) + "'" + ImagePath(v) + "' " + inode).out;
}

int Depth(const std::string& path) { return static_cast<int>(std::count(path.begin(), path.end(), '/')); }

bool HasOutsideLatin1(const std::string& utf8) {
  // A lead byte of 0xC4 or above starts a code point beyond U+00FF.
  return std::any_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) >= 0xC4; });
}
bool HasOutsideBmp(const std::string& utf8) {
  return std::any_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) >= 0xF0; });
}

// "fat32_512_img_0": gtest names allow letters, digits and '_' only.
std::string VolumeTestName(const ::testing::TestParamInfo<Volume>& p) {
  std::string name = std::string(p.param.image) + "_" + std::to_string(p.param.startLba);
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

class FixtureVolume : public ::testing::TestWithParam<Volume> {
 protected:
  void SetUp() override {
    if (!HaveTool("fls") || !HaveTool("icat")) GTEST_SKIP() << "The Sleuth Kit is not installed";
    ASSERT_TRUE(std::filesystem::exists(ImagePath(GetParam()))) << ImagePath(GetParam());
    entries_ = EntriesOf(GetParam());
    ASSERT_FALSE(entries_.empty()) << "the manifest lists nothing on " << GetParam();
  }
  const Entry* Get(const std::string& path) const {
    for (const Entry& e : entries_)
      if (e.path == path) return &e;
    return nullptr;
  }
  bool Fat() const { return std::string(GetParam().fsType) == "FAT32"; }
  std::vector<Entry> entries_;
};

TEST_P(FixtureVolume, TheFileSystemAndTheManifestAreWhatTheImageIsFor) {
  const Volume& v = GetParam();
  const CommandResult r = RunCommand("fsstat" + Offset(v) + "'" + ImagePath(v) + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(std::string("File System Type: ") + v.fsType + "\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Cluster Size: " + std::to_string(v.clusterSize) + "\n"), std::string::npos) << r.out;
  int deletedFiles = 0, deletedFolders = 0, overwritten = 0, emptyFiles = 0, maxDepth = 0;
  bool wideName = false, deletedInDeletedFolder = false;
  std::set<std::string> paths;
  for (const Entry& e : entries_) {
    EXPECT_TRUE(paths.insert(e.path).second) << "listed twice: " << e.path;
    EXPECT_FALSE(e.path.empty() || e.path.front() == '/' || e.path.back() == '/') << e.path;
    if (e.folder) {
      EXPECT_TRUE(e.sha256.empty()) << e.path;
    } else {
      EXPECT_EQ(e.sha256.size(), 64u) << e.path;
    }
    EXPECT_TRUE(e.deleted || (!e.overwritten && !e.nameLost)) << "a live entry marked lost: " << e.path;
    deletedFiles += e.deleted && !e.folder;
    deletedFolders += e.deleted && e.folder;
    overwritten += e.overwritten;
    emptyFiles += !e.folder && e.size == 0;
    maxDepth = std::max(maxDepth, Depth(e.path));
    wideName = wideName || HasOutsideLatin1(e.path);
    if (e.deleted) {
      const auto slash = e.path.rfind('/');
      const Entry* parent = slash == std::string::npos ? nullptr : Get(e.path.substr(0, slash));
      deletedInDeletedFolder = deletedInDeletedFolder || (parent != nullptr && parent->deleted);
    }
  }
  EXPECT_GT(deletedFiles, 0);
  EXPECT_GT(deletedFolders, 0);
  EXPECT_TRUE(deletedInDeletedFolder);
  EXPECT_TRUE(wideName);
  if (!GetParam().full) return;
  EXPECT_GT(overwritten, 0);
  EXPECT_GE(emptyFiles, 2);
  EXPECT_GE(maxDepth, 8);
  for (const char* path : {"Documents/one-cluster.bin", "Documents/many-clusters.bin",
                           "Frag/fragmented.bin"})
    ASSERT_NE(Get(path), nullptr) << path;
  EXPECT_EQ(Get("Documents/one-cluster.bin")->size, GetParam().clusterSize);
  EXPECT_GT(Get("Documents/many-clusters.bin")->size, 10u * GetParam().clusterSize);
  if (!Fat()) {
    // Names that need UTF-16 surrogate pairs (mtools cannot write them).
    EXPECT_TRUE(std::any_of(entries_.begin(), entries_.end(),
                            [](const Entry& e) { return HasOutsideBmp(e.path); }));
  }
}

TEST_P(FixtureVolume, EveryEntryIsListedWithItsStateAndSize) {
  const auto listing = ListVolume(GetParam());
  int checked = 0;
  for (const Entry& e : entries_) {
    if (e.nameLost) continue;  // its record or folder went to another file
    const std::vector<Listed> found = Find(listing, e, Fat());
    ASSERT_FALSE(found.empty()) << (e.deleted ? "deleted " : "live ") << e.path << " not listed";
    if (!e.folder) {
      const bool sizeMatches = std::any_of(found.begin(), found.end(), [&](const Listed& l) {
        return l.size == std::to_string(e.size);
      });
      EXPECT_TRUE(sizeMatches) << e.path << " listed as " << found.front().size << " bytes, written "
                               << e.size;
    }
    ++checked;
  }
  EXPECT_GT(checked, 0);
}

// Content read back through the oracle: live files must match; a deleted
// file whose clusters were not reused must still hold its bytes, and one
// marked overwritten must not, which proves the builder's measurement.
// tsk_recover exports every file, fragmented, sparse and compressed ones
// among them, in one pass over the volume.
TEST_P(FixtureVolume, EveryFileRecoveredHoldsWhatWasWritten) {
  if (!HaveTool("tsk_recover")) GTEST_SKIP() << "tsk_recover is not installed";
  const auto listing = ListVolume(GetParam());
  ScratchDir out;
  const CommandResult rec =
      RunCommand("tsk_recover -e" + Offset(GetParam()) + "'" + ImagePath(GetParam()) + "' '" + out.dir() + "'");
  ASSERT_EQ(rec.status, 0) << rec.err;
  // One sha256sum run for the lot; -z keeps names unescaped.
  const CommandResult sums = RunCommand("cd '" + out.dir() + "' && find . -type f -print0 | xargs -0 -r sha256sum -z");
  std::map<std::string, std::string> recovered;
  for (const std::string& rec0 : Split(sums.out, '\0'))
    if (rec0.size() > 68) recovered[rec0.substr(68)] = rec0.substr(0, 64);  // "HASH  ./path"

  const std::string emptySha = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
  int live = 0, deletedIntact = 0, overwritten = 0;
  for (const Entry& e : entries_) {
    if (e.folder || e.nameLost) continue;
    std::string hash;
    for (const Listed& l : Find(listing, e, Fat())) {
      auto it = recovered.find(l.path);
      if (it != recovered.end()) hash = it->second;
    }
    if (hash.empty()) {
      // tsk_recover writes no file for an empty one.
      EXPECT_EQ(e.sha256, emptySha) << e.path << " was not recovered";
      continue;
    }
    if (!e.deleted) {
      EXPECT_EQ(hash, e.sha256) << "live " << e.path;
      ++live;
    } else if (!e.overwritten) {
      EXPECT_EQ(hash, e.sha256) << "deleted, not overwritten, yet changed: " << e.path;
      ++deletedIntact;
    } else {
      EXPECT_NE(hash, e.sha256) << "marked overwritten, yet intact: " << e.path;
      ++overwritten;
    }
  }
  EXPECT_GT(live, 0);
  EXPECT_GT(deletedIntact, 0);
  if (GetParam().full) {
    EXPECT_GT(overwritten, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Images, FixtureVolume, ::testing::ValuesIn(kVolumes), VolumeTestName);

// The layouts the full volumes promise, as istat sees them.
class FullVolume : public FixtureVolume {};

TEST_P(FullVolume, FragmentedFileIsFragmented) {
  const auto listing = ListVolume(GetParam());
  const Entry* e = Get("Frag/fragmented.bin");
  ASSERT_NE(e, nullptr);
  const std::vector<Listed> found = Find(listing, *e, Fat());
  ASSERT_FALSE(found.empty());
  if (Fat()) {
    // istat lists the sectors; count the breaks in the sequence.
    std::istringstream in(IstatOf(GetParam(), found.front().inode));
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
    EXPECT_GE(breaks, 2) << IstatOf(GetParam(), found.front().inode);
  } else {
    const std::string runs = IstatOf(GetParam(), found.front().inode, "-r");
    std::size_t n = 0;
    for (auto p = runs.find("Starting address"); p != std::string::npos; p = runs.find("Starting address", p + 1)) ++n;
    EXPECT_GE(n, 3u) << runs;
  }
}

class NtfsFullVolume : public FixtureVolume {};

TEST_P(NtfsFullVolume, AttributesAreStoredAsIntended) {
  const auto listing = ListVolume(GetParam());
  auto inodeOf = [&](const std::string& path) {
    auto it = listing.find(path);
    return it == listing.end() ? std::string() : it->second.inode;
  };
  // The line istat prints for the unnamed $DATA attribute.
  auto dataLine = [&](const std::string& path) {
    const std::string inode = inodeOf(path);
    EXPECT_FALSE(inode.empty()) << path << " not listed";
    for (const std::string& line : Split(IstatOf(GetParam(), inode), '\n'))
      if (line.rfind("Type: $DATA (", 0) == 0 && line.find("Name: N/A") != std::string::npos) return line;
    return std::string();
  };
  for (const char* path : {"Resident/tiny-1.txt", "Resident/tiny-3.txt", "Documents/readme.txt"}) {
    const std::string line = dataLine(path);
    EXPECT_NE(line.find("  Resident"), std::string::npos) << path << ": " << line;
  }
  EXPECT_NE(dataLine("Documents/many-clusters.bin").find("Non-Resident"), std::string::npos);
  EXPECT_NE(dataLine("Sparse/sparse.bin").find("Non-Resident, Sparse"), std::string::npos);
  EXPECT_NE(dataLine("Compressed/compressed-log.txt").find("Non-Resident, Compressed"), std::string::npos);
  // Thousands of names do not fit the index root.
  const std::string many = inodeOf("Many");
  ASSERT_FALSE(many.empty());
  EXPECT_NE(IstatOf(GetParam(), many).find("Type: $INDEX_ALLOCATION"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Images, FullVolume,
                         ::testing::Values(kVolumes[0], kVolumes[1], kVolumes[2], kVolumes[3], kVolumes[4]),
                         VolumeTestName);
INSTANTIATE_TEST_SUITE_P(Images, NtfsFullVolume, ::testing::Values(kVolumes[3], kVolumes[4]),
                         VolumeTestName);

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
  for (const Want& w : wants) {
    const CommandResult r = RunCommand("mmls '" + kFixtures + "/" + w.image + "'");
    ASSERT_EQ(r.status, 0) << w.image << ": " << r.err;
    EXPECT_NE(r.out.find(w.table), std::string::npos) << r.out;
    for (const auto& [start, description] : w.partitions) {
      bool found = false;
      for (const std::string& line : Split(r.out, '\n')) {
        std::istringstream in(line);
        std::string slot, kind, startText;
        in >> slot >> kind >> startText;
        if (!startText.empty() && std::all_of(startText.begin(), startText.end(), ::isdigit) &&
            std::stoull(startText) == start && line.find(description) != std::string::npos)
          found = true;
      }
      EXPECT_TRUE(found) << w.image << " has no partition at " << start << " (" << description << ")\n" << r.out;
    }
  }
  // Each partition the manifest names is numbered as Linux numbers it and
  // holds a file system; the GPT partition left empty holds none.
  std::set<std::tuple<std::string, int, std::uint64_t>> parts;
  for (const Entry& e : Manifest())
    if (e.partition > 0) parts.emplace(e.image, e.partition, e.startLba);
  const std::set<std::tuple<std::string, int, std::uint64_t>> expected = {
      {"mbr-disk.img", 1, 2048}, {"mbr-disk.img", 2, 83968}, {"mbr-disk.img", 5, 118784},
      {"gpt-disk.img", 1, 2048}, {"gpt-disk.img", 2, 83968}};
  EXPECT_EQ(parts, expected);
  EXPECT_NE(RunCommand("fsstat -o 116736 '" + kFixtures + "/gpt-disk.img'").status, 0);
}

}  // namespace
}  // namespace tsn::test
