// The FAT fixture images, 512-byte and 4096-byte sectors alike, against
// their manifest and against fls: the live tree exactly, every deleted entry
// of the manifest with its verdict, and every deleted entry fls can name
// found by both scans, with its size. The 4Kn GPT disk
// needs The Sleuth Kit told its block size and where the volume starts.
#include <gtest/gtest.h>

#include <cctype>
#include <set>

#include "test_support.h"

namespace tsn {
namespace {

using test::RunCommand;

struct Volume {
  const char* image;
  std::uint64_t startLba;  // in the disk's own sectors; 0 for a bare volume
  const char* tsk;         // what fls needs to find the volume
  const char* cli;         // what tessilon-cli is told
  std::size_t live, deleted;  // at least this many checked
};

void PrintTo(const Volume& v, std::ostream* os) { *os << v.image << ' ' << v.cli; }

struct Found {
  std::uint64_t size = 0;
  bool deleted = false;
  std::string state;
};

class FatFixture : public ::testing::TestWithParam<Volume> {
 protected:
  std::string Image() const { return test::Fixture(GetParam().image); }
  std::map<std::string, Found> Scan(bool quick) const {
    const test::Scan s = test::RunScan(Image(), quick, GetParam().cli, 600);
    EXPECT_EQ(s.status, 0) << s.log;
    std::map<std::string, Found> out;
    for (const auto& j : s.entries) out[j["path"]] = {j["size"], j["deleted"], j["state"]};
    return out;
  }
  // The fields of each line fls -r -p -d -l gives.
  std::vector<std::vector<std::string>> FlsDeleted() const {
    std::vector<std::vector<std::string>> out;
    for (const std::string& line :
         test::Split(RunCommand(std::string("fls -r -p -d -l ") + GetParam().tsk + " " + Image()).out, '\n'))
      out.push_back(test::Split(line, '\t'));
    return out;
  }
};

TEST_P(FatFixture, IndexedScanShowsTheManifestsLiveTreeAndWhatFlsFindsDeleted) {
  // Hashing the 2 GiB image costs more than its scan; the smaller ones do.
  const bool hash = std::string(GetParam().image) != "fat32-32k.img";
  const std::string before = hash ? test::Sha256OfFile(Image()) : "";
  const auto found = Scan(false);

  std::map<std::string, Found> ours;  // the deleted entries, by DeletedNameKey
  for (const auto& [path, f] : found)
    if (f.deleted) ours[test::DeletedNameKey(path)] = f;
  // The live tree exactly; every deleted entry whose name survives, with its
  // size and the verdict its clusters call for.
  std::size_t live = 0;
  for (const auto& e : test::ManifestOf(GetParam().image)) {
    if (e.value("start_lba", std::uint64_t{0}) != GetParam().startLba || e["name_lost"].get<bool>()) continue;
    const std::string path = "/" + e["path"].get<std::string>();
    const std::uint64_t size = e["size"];
    if (e["deleted"].get<bool>()) {
      const auto it = ours.find(test::DeletedNameKey(path));
      ASSERT_NE(it, ours.end()) << path;
      if (e["folder"].get<bool>()) continue;
      EXPECT_EQ(it->second.size, size) << path;
      EXPECT_EQ(it->second.state, e["overwritten"].get<bool>() ? "Chain is in use"
                                  : size == 0                  ? "Bad File Size"
                                                               : "Recovery may be possible")
          << path;
      continue;
    }
    ++live;
    const auto it = found.find(path);
    ASSERT_NE(it, found.end()) << path;
    EXPECT_FALSE(it->second.deleted) << path;
    if (!e["folder"].get<bool>()) {
      EXPECT_EQ(it->second.state, "Active") << path;
      EXPECT_EQ(it->second.size, size) << path;
    }
  }
  EXPECT_GE(live, GetParam().live);

  // Every deleted entry fls names, with the same path and size.
  std::size_t checked = 0;
  for (const auto& fields : FlsDeleted()) {
    if (fields.size() < 8 || fields[0].find('*') == std::string::npos ||
        fields[0].rfind("-/", 0) == 0 || fields[1].find("$OrphanFiles") != std::string::npos)
      continue;  // orphans lie outside the tree, which only the quick scan reads
    const auto it = ours.find(test::DeletedNameKey("/" + fields[1]));
    ASSERT_NE(it, ours.end()) << fields[1];
    if (fields[0].rfind("r/r", 0) == 0) {
      EXPECT_EQ(std::to_string(it->second.size), fields[6]) << fields[1];
    }
    ++checked;
  }
  EXPECT_GE(checked, GetParam().deleted);
  if (hash) {
    EXPECT_EQ(test::Sha256OfFile(Image()), before);
  }
}

TEST_P(FatFixture, QuickScanListsEveryDeletedFileWhoseEntrySurvives) {
  const auto quick = Scan(true);
  std::multiset<std::pair<std::string, std::uint64_t>> ours;  // name, size
  for (const auto& [path, f] : quick) {
    EXPECT_TRUE(f.deleted);
    ours.insert({test::DeletedNameKey(path.substr(path.rfind('/'))), f.size});
  }
  std::size_t checked = 0;
  for (const auto& fields : FlsDeleted()) {
    if (fields.size() < 8 || fields[0].rfind("r/r *", 0) != 0) continue;
    const std::string name = fields[1].substr(fields[1].rfind('/') == std::string::npos ? 0 : fields[1].rfind('/') + 1);
    const auto it = ours.find({test::DeletedNameKey("/" + name), std::stoull(fields[6])});
    EXPECT_NE(it, ours.end()) << fields[1];
    if (it != ours.end()) ours.erase(it);
    ++checked;
  }
  EXPECT_GE(checked, GetParam().deleted);
}

const Volume kVolumes[] = {
    {"fat32-512.img", 0, "", "", 40, 20},       {"fat32-4k.img", 0, "", "", 40, 20},
    {"fat32-32k.img", 0, "", "", 40, 20},       {"fat12-512.img", 0, "", "", 40, 20},
    {"fat16-2k.img", 0, "", "", 40, 20},        {"fat16-4kn.img", 0, "", "", 40, 20},
    {"fat32-4kn.img", 0, "", "", 40, 20},       {"fat32-4kn-16k.img", 0, "", "", 40, 20},
    {"gpt-4kn-disk.img", 256, "-b 4096 -o 256", "", 3, 3},
    {"gpt-4kn-disk.img", 256, "-b 4096 -o 256", "--sector-size 4096", 3, 3},
};

INSTANTIATE_TEST_SUITE_P(Images, FatFixture, ::testing::ValuesIn(kVolumes), [](const auto& instance) {
  std::string image = instance.param.image;
  std::string n = image.substr(0, image.find('.')) + (*instance.param.cli ? "_told" : "");
  for (char& c : n)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return n;
});

}  // namespace
}  // namespace tsn
