// The FAT fixture images against their manifest and against fls: the
// live tree exactly, and every deleted entry fls can name found by both scans.
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>

#include "test_support.h"

namespace tsn {
namespace {

using test::RunCommand;

struct Found {
  std::uint64_t size = 0;
  bool deleted = false;
  std::string state;
};

std::map<std::string, Found> Scan(const std::string& image, bool quick) {
  const test::Scan s = test::RunScan(image, quick, "", 600);
  EXPECT_EQ(s.status, 0) << s.log;
  std::map<std::string, Found> out;
  for (const auto& j : s.entries) out[j["path"]] = {j["size"], j["deleted"], j["state"]};
  return out;
}

// The fields of each line fls -r -p -d -l gives.
std::vector<std::vector<std::string>> FlsDeleted(const std::string& image) {
  std::vector<std::vector<std::string>> out;
  for (const std::string& line : test::Split(RunCommand("fls -r -p -d -l " + image).out, '\n'))
    out.push_back(test::Split(line, '\t'));
  return out;
}


class FatFixture : public ::testing::TestWithParam<std::string> {};

TEST_P(FatFixture, IndexedScanShowsTheManifestsLiveTreeAndWhatFlsFindsDeleted) {
  const std::string image = test::Fixture(GetParam());
  std::ifstream manifest(test::Fixture("manifest.jsonl"));
  ASSERT_TRUE(manifest) << "fixtures not built";
  // Hashing the 2 GiB image costs more than its scan; the smaller ones do.
  const bool hash = GetParam() != "fat32-32k.img";
  const std::string before = hash ? test::Sha256OfFile(image) : "";
  const auto found = Scan(image, false);

  std::size_t live = 0;
  for (std::string line; std::getline(manifest, line);) {
    const auto e = nlohmann::json::parse(line);
    if (e["image"] != GetParam() || e["deleted"].get<bool>()) continue;
    ++live;
    const std::string path = "/" + e["path"].get<std::string>();
    const auto it = found.find(path);
    ASSERT_NE(it, found.end()) << path;
    EXPECT_FALSE(it->second.deleted) << path;
    if (!e["folder"].get<bool>()) {
      EXPECT_EQ(it->second.state, "Active") << path;
      EXPECT_EQ(it->second.size, e["size"].get<std::uint64_t>()) << path;
    }
  }
  EXPECT_GT(live, 40u);

  // Every deleted entry fls names, with the same path and size.
  std::map<std::string, Found> ours;
  for (const auto& [path, f] : found)
    if (f.deleted) ours[test::DeletedNameKey(path)] = f;
  std::size_t checked = 0;
  for (const auto& fields : FlsDeleted(image)) {
    if (fields.size() < 8 || fields[0].find('*') == std::string::npos ||
        fields[0].rfind("-/", 0) == 0 || fields[1].find("$OrphanFiles") != std::string::npos)
      continue;  // orphans lie outside the tree, which only the quick scan reads
    const std::string key = test::DeletedNameKey("/" + fields[1]);
    const auto it = ours.find(key);
    ASSERT_NE(it, ours.end()) << fields[1];
    if (fields[0].rfind("r/r", 0) == 0) {
      EXPECT_EQ(std::to_string(it->second.size), fields[6]) << fields[1];
    }
    ++checked;
  }
  EXPECT_GT(checked, 20u);
  if (hash) {
    EXPECT_EQ(test::Sha256OfFile(image), before);
  }
}

TEST_P(FatFixture, QuickScanListsEveryDeletedFileWhoseEntrySurvives) {
  const std::string image = test::Fixture(GetParam());
  const auto quick = Scan(image, true);
  std::multiset<std::pair<std::string, std::uint64_t>> ours;  // name, size
  for (const auto& [path, f] : quick) {
    EXPECT_TRUE(f.deleted);
    ours.insert({test::DeletedNameKey(path.substr(path.rfind('/'))), f.size});
  }
  std::size_t checked = 0;
  for (const auto& fields : FlsDeleted(image)) {
    if (fields.size() < 8 || fields[0].rfind("r/r *", 0) != 0) continue;
    const std::string name = fields[1].substr(fields[1].rfind('/') == std::string::npos ? 0 : fields[1].rfind('/') + 1);
    const auto it = ours.find({test::DeletedNameKey("/" + name), std::stoull(fields[6])});
    EXPECT_NE(it, ours.end()) << fields[1];
    if (it != ours.end()) ours.erase(it);
    ++checked;
  }
  EXPECT_GT(checked, 20u);
}

INSTANTIATE_TEST_SUITE_P(Images, FatFixture,
                         ::testing::Values("fat32-512.img", "fat32-4k.img", "fat32-32k.img", "fat12-512.img",
                                           "fat16-2k.img", "fat16-4kn.img"),
                         [](const auto& instance) {
                           std::string n = instance.param.substr(0, instance.param.find('.'));
                           for (char& c : n) if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return n;
                         });

}  // namespace
}  // namespace tsn
