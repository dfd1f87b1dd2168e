// The corrupted-volume corpus (tests/fixtures/make_corpus.sh): hundreds of
// copies of the fixture images, each damaged at one structure, scanned with
// both scans through the command line under a time and a memory bound. Each
// scan must end, by itself, with status 0 or 1; it must say in the log what
// it passed over where the damage is of a kind the program detects; and the
// image must be exactly as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>

#include "test_support.h"

namespace tsn {
namespace {

// TESSILON_TEST_CORPUS points the suite at another corpus, as
// TESSILON_TEST_FIXTURES does for the fixtures.
const std::string kCorpus = std::getenv("TESSILON_TEST_CORPUS") != nullptr && *std::getenv("TESSILON_TEST_CORPUS") != '\0'
                                ? std::getenv("TESSILON_TEST_CORPUS")
                                : TESSILON_CORPUS;

struct Variant {
  std::string file, kind, expect, stamp;  // stamp: inode, size, change times
  int partition = 0;
  std::string line;  // as corpus.tsv has it, for the scanning script
};

std::vector<Variant> ReadCorpus() {
  std::vector<Variant> out;
  std::ifstream in(kCorpus + "/corpus.tsv");
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    Variant v;
    std::string partition;
    std::getline(fields, v.file, '\t');
    std::getline(fields, partition, '\t');
    std::getline(fields, v.kind, '\t');
    std::getline(fields, v.expect, '\t');
    std::getline(fields, v.stamp, '\t');
    v.partition = std::stoi(partition);
    v.line = line;
    out.push_back(std::move(v));
  }
  return out;
}

// The damage families, each a test of its own, by the kinds they hold.
const std::map<std::string, std::set<std::string>>& Families() {
  static const std::map<std::string, std::set<std::string>> families = {
      {"FatBootSector", {"boot-field", "boot-bitflip", "boot-random", "boot-backup"}},
      {"FatTable", {"fat-entry", "fat-bitflip", "fat-noise", "file-chain-loop"}},
      {"FatEntries", {"entry-bitflip", "entry-random", "entry-start", "entry-size", "entry-attribute",
                      "lfn-bitflip", "lfn-random", "lfn-long-run", "root-entry"}},
      {"Cycles", {"folder-cycle", "chain-loop", "chain-into-parent", "root-chain-loop"}},
      {"Truncation", {"truncated"}},
      {"PartitionTables", {"mbr-entry", "mbr-bitflip", "ebr-loop", "ebr-entry", "gpt-header",
                           "gpt-entry", "gpt-bitflip"}},
      {"Ntfs", {"mft-record-header", "mft-record-bitflip", "attribute-header", "run-list",
                "mft-runs-overlap", "index-root", "index-block", "self-pointing-attribute-list",
                "attribute-list", "ntfs-boot"}},
      {"ExFat", {"exfat-boot", "exfat-bitmap", "exfat-fat", "exfat-entry"}},
  };
  return families;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string Tail(const std::string& text, std::size_t lines) {
  std::size_t at = text.size();
  for (std::size_t n = 0; at > 0 && n <= lines; ) {
    --at;
    if (text[at] == '\n') ++n;
  }
  return text.substr(at);
}

TEST(Corpus, HoldsEveryFamilyAndAtLeastFiveHundredImages) {
  const std::vector<Variant> corpus = ReadCorpus();
  ASSERT_GE(corpus.size(), 500u) << "no corpus at " << kCorpus;
  std::set<std::string> known;
  for (const auto& [family, kinds] : Families()) known.insert(kinds.begin(), kinds.end());
  std::map<std::string, int> perFamily;
  for (const Variant& v : corpus) {
    EXPECT_TRUE(known.count(v.kind)) << v.file << ": kind " << v.kind << " belongs to no family";
    for (const auto& [family, kinds] : Families())
      if (kinds.count(v.kind)) ++perFamily[family];
    EXPECT_EQ(std::count(v.stamp.begin(), v.stamp.end(), ':'), 3) << v.file;
  }
  for (const auto& [family, kinds] : Families()) EXPECT_GE(perFamily[family], 10) << family;
}

class CorpusFamily : public ::testing::TestWithParam<std::string> {};

TEST_P(CorpusFamily, EveryImageEndsCleanlySaysWhatItPassedOverAndIsLeftUnchanged) {
  const auto& kinds = Families().at(GetParam());
  // TESSILON_CORPUS_SAMPLE=N scans every Nth image of the family, the first
  // included, for a build that is not the one meant to scan them all.
  const char* sampleVar = std::getenv("TESSILON_CORPUS_SAMPLE");
  const long sample = sampleVar != nullptr ? std::max(1L, std::strtol(sampleVar, nullptr, 10)) : 1;
  std::vector<Variant> variants;
  long seen = 0;
  for (Variant& v : ReadCorpus())
    if (kinds.count(v.kind) && seen++ % sample == 0) variants.push_back(std::move(v));
  ASSERT_FALSE(variants.empty()) << "no corpus at " << kCorpus;
  if (sample > 1) std::cout << "scanning " << variants.size() << " of " << seen << " images (TESSILON_CORPUS_SAMPLE)\n";

  test::ScratchDir results;
  const std::string list = results.Path("list");
  {
    std::ofstream out(list);
    for (const Variant& v : variants) out << v.line << '\n';
  }
  const std::string script = std::string(TESSILON_SOURCE_DIR) + "/tests/corpus/scan_variant.sh";
  const auto run = test::RunCommand(
      std::string("TESSILON_CORPUS_SANITIZED=") + (TESSILON_SANITIZED ? "1" : "0") +
      " xargs -d '\\n' -n1 -P2 -a '" + list + "' '" + script + "' '" + TESSILON_CLI + "' '" +
      kCorpus + "/variants' '" + results.dir() + "'");
  ASSERT_EQ(run.status, 0) << run.err;

  int checked = 0;
  for (const Variant& v : variants) {
    SCOPED_TRACE(v.file + " (" + v.kind + ")");
    std::istringstream result(Slurp(results.Path(v.file + ".result")));
    std::string name, after, quickSays, indexedSays;
    int quick = -1, indexed = -1;
    ASSERT_TRUE(result >> name >> quick >> indexed >> after >> quickSays >> indexedSays)
        << "no result for " << v.file;
    const std::string quickLog = Slurp(results.Path(v.file + ".quick.log"));
    const std::string indexedLog = Slurp(results.Path(v.file + ".indexed.log"));
    // It ends, by itself, without a fault: 0 scanned, 1 nothing to scan.
    EXPECT_TRUE(quick == 0 || quick == 1) << "quick scan: status " << quick << "\n" << Tail(quickLog, 30);
    EXPECT_TRUE(indexed == 0 || indexed == 1) << "indexed scan: status " << indexed << "\n"
                                              << Tail(indexedLog, 30);
    EXPECT_EQ(after, v.stamp) << "the image was changed";
    EXPECT_NE(quickSays, "0") << "the quick scan's log does not say /" << v.expect << "/\n" << Tail(quickLog, 40);
    EXPECT_NE(indexedSays, "0") << "the indexed scan's log does not say /" << v.expect << "/\n"
                                << Tail(indexedLog, 40);
    ++checked;
  }
  EXPECT_EQ(checked, static_cast<int>(variants.size()));
}

// Failing media: the fixtures served through FUSE with the sectors of one
// structure answering EIO. Each scan must end by itself, name what it could
// not read where it had to read it, and leave the image as it was.
struct UnreadableVariant {
  std::string image, what;
  std::uint64_t first, last;  // bytes of the image
  bool quickReads, indexedReads;  // whether each scan must meet the range
};

std::uint32_t U16(const std::string& b, std::size_t at) {
  return static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8;
}
std::uint64_t U32(const std::string& b, std::size_t at) { return U16(b, at) | std::uint64_t{U16(b, at + 2)} << 16; }
std::uint64_t U64(const std::string& b, std::size_t at) { return U32(b, at) | U32(b, at + 4) << 32; }

std::vector<UnreadableVariant> UnreadableVariants() {
  std::vector<UnreadableVariant> out;
  for (const std::string name : {"fat32-512.img", "fat32-4k.img"}) {
    const std::string image = test::Fixture(name);
    const std::string boot = Slurp(image).substr(0, 512);
    const std::uint64_t bps = U16(boot, 11), cluster = bps * static_cast<unsigned char>(boot[13]);
    const std::uint64_t fat = U16(boot, 14) * bps, fatBytes = U32(boot, 36) * bps;
    const std::uint64_t data = fat + static_cast<unsigned char>(boot[16]) * fatBytes;
    const std::uint64_t root = data + (U32(boot, 44) - 2) * cluster;
    out.push_back({image, "boot sector", 0, 511, true, true});
    out.push_back({image, "first FAT", fat, fat + 4 * bps - 1, true, true});
    out.push_back({image, "root folder", root, root + cluster - 1, true, true});
    out.push_back({image, "folders and files", data + 64 * cluster, data + 64 * cluster + 65535, true, false});
  }
  for (const std::string name : {"ntfs-4k.img", "ntfs-1k.img"}) {
    const std::string image = test::Fixture(name);
    const std::string boot = Slurp(image).substr(0, 512);
    const std::uint64_t cluster = U16(boot, 11) * std::uint64_t{static_cast<unsigned char>(boot[13])};
    const std::uint64_t mft = U64(boot, 48) * cluster;
    out.push_back({image, "boot sector", 0, 511, true, true});
    out.push_back({image, "MFT record 0", mft, mft + 1023, true, true});
    out.push_back({image, "root folder's record", mft + 5 * 1024, mft + 6 * 1024 - 1, true, true});
    out.push_back({image, "MFT records of files", mft + 40 * 1024, mft + 48 * 1024 - 1, true, true});
  }
  return out;
}

TEST(CorpusUnreadable, EveryScanEndsNamesWhatItCouldNotReadAndLeavesTheImage) {
  for (const UnreadableVariant& v : UnreadableVariants()) {
    SCOPED_TRACE(v.image + ", " + v.what);
    const std::string before = test::Sha256OfFile(v.image);
    {
      test::FailingImage failing(v.image, {{v.first, v.last}});
      if (failing.path().empty()) GTEST_SKIP() << failing.why();
      for (const bool quick : {true, false}) {
        const auto r = test::RunCommand(std::string("timeout -k 5 120 prlimit --as=") +
                                        (TESSILON_SANITIZED ? "unlimited" : std::to_string(1024 << 20)) + " -- " +
                                        TESSILON_CLI + " scan --json " + (quick ? "--quick " : "--indexed ") +
                                        test::Quote(failing.path()));
        EXPECT_TRUE(r.status == 0 || r.status == 1 || r.status == 3)
            << (quick ? "quick" : "indexed") << " scan: status " << r.status << "\n" << Tail(r.err, 30);
        if (quick ? v.quickReads : v.indexedReads) {
          EXPECT_NE(r.err.find("could not be read"), std::string::npos)
              << (quick ? "quick" : "indexed") << " scan does not say what it could not read\n" << Tail(r.err, 30);
        }
      }
    }
    EXPECT_EQ(test::Sha256OfFile(v.image), before);
  }
}

INSTANTIATE_TEST_SUITE_P(Damage, CorpusFamily,
                         ::testing::Values("FatBootSector", "FatTable", "FatEntries", "Cycles",
                                           "Truncation", "PartitionTables", "Ntfs", "ExFat"),
                         [](const ::testing::TestParamInfo<std::string>& family) { return family.param; });

}  // namespace
}  // namespace tsn
