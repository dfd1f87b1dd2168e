// The corrupted-volume corpus (tests/fixtures/make_corpus.sh): hundreds of copies of the fixture images, each damaged
// at one structure, scanned with both scans through the command line under a time and a memory bound. Each scan must
// end, by itself, with status 0 or 1; it must say in the log what it passed over where the damage is of a kind the
// program detects; and the image must be exactly as it was.

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <tuple>

#include "test_support.h"

namespace tsn {
namespace {

// TESSILON_TEST_CORPUS points the suite at another corpus, as TESSILON_TEST_FIXTURES does for the fixtures.
const std::string kCorpus = std::getenv("TESSILON_TEST_CORPUS") != nullptr && *std::getenv("TESSILON_TEST_CORPUS") != '\0'
                                ? std::getenv("TESSILON_TEST_CORPUS")
                                : TESSILON_CORPUS;

struct Variant {
  std::string file, kind, expect, stamp;  // stamp: inode, size, change times
  std::string line;  // as corpus.tsv has it (with the partition), for the scanning script
};

std::vector<Variant> ReadCorpus() {
  std::vector<Variant> out;
  for (const std::string& line : test::Split(test::ReadAll(kCorpus + "/corpus.tsv"), '\n')) {
    const std::vector<std::string> f = test::Split(line, '\t');
    if (f.size() >= 5) out.push_back({f[0], f[2], f[3], f[4], line});
  }
  return out;
}

// The damage families, each a test of its own, by the kinds they hold.
const std::map<std::string, std::set<std::string>>& Families() {
  static const std::map<std::string, std::set<std::string>> families = [] {
    std::map<std::string, std::set<std::string>> out;
    for (const auto& row : test::DataRows("corpus-families.jsonl")) out[row["family"]] = row["kinds"];
    return out;
  }();
  return families;
}

std::vector<std::string> FamilyNames() {
  std::vector<std::string> names;
  for (const auto& [family, kinds] : Families()) names.push_back(family);
  return names;
}

std::string Tail(const std::string& text, std::size_t lines) {
  std::size_t at = text.size();
  while (lines-- > 0 && at != std::string::npos && at > 0) at = text.rfind('\n', at - 1);
  return at == std::string::npos ? text : text.substr(at);
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
  }
  for (const auto& [family, kinds] : Families()) EXPECT_GE(perFamily[family], 10) << family;
}

class CorpusFamily : public ::testing::TestWithParam<std::string> {};

TEST_P(CorpusFamily, EveryImageEndsCleanlySaysWhatItPassedOverAndIsLeftUnchanged) {
  const auto& kinds = Families().at(GetParam());
  // TESSILON_CORPUS_SAMPLE=N scans every Nth image of the family, the first included, for a build that is not the one
  // meant to scan them all.
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
  std::string lines;
  for (const Variant& v : variants) lines += v.line + '\n';
  test::WriteFile(list, {lines.begin(), lines.end()});
  const std::string script = std::string(TESSILON_SOURCE_DIR) + "/tests/corpus/scan_variant.sh";
  const auto run = test::RunCommand(std::string("TESSILON_CORPUS_SANITIZED=") + (TESSILON_SANITIZED ? "1" : "0") +
                                    " xargs -d '\\n' -n1 -P2 -a '" + list + "' '" + script + "' '" + TESSILON_CLI +
                                    "' '" + kCorpus + "/variants' '" + results.dir() + "'");
  ASSERT_EQ(run.status, 0) << run.err;

  for (const Variant& v : variants) {
    SCOPED_TRACE(v.file + " (" + v.kind + ")");
    std::istringstream result(test::ReadAll(results.Path(v.file + ".result")));
    std::string name, after, quickSays, indexedSays;
    int quick = -1, indexed = -1;
    ASSERT_TRUE(result >> name >> quick >> indexed >> after >> quickSays >> indexedSays) << "no result for " << v.file;
    EXPECT_EQ(after, v.stamp) << "the image was changed";
    for (const auto& [scan, status, says] :
         {std::tuple{"quick", quick, quickSays}, std::tuple{"indexed", indexed, indexedSays}}) {
      const std::string log = test::ReadAll(results.Path(v.file + "." + scan + ".log"));
      // It ends, by itself, without a fault: 0 scanned, 1 nothing to scan.
      EXPECT_TRUE(status == 0 || status == 1) << scan << " scan: status " << status << "\n" << Tail(log, 30);
      EXPECT_NE(says, "0") << "the " << scan << " scan's log does not say /" << v.expect << "/\n" << Tail(log, 40);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Damage, CorpusFamily, ::testing::ValuesIn(FamilyNames()),
                         [](const ::testing::TestParamInfo<std::string>& family) { return family.param; });

}  // namespace
}  // namespace tsn
