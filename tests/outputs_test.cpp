// The records an examiner takes away from the command line: the body file
// checked entry by entry against The Sleuth Kit's `fls -m` and read by
// mactime, the CSV against the JSON listing, the copy manifest against the
// copies' own hashes (its SHA256SUMS and MD5SUMS are run through sha256sum
// and md5sum in the NTFS read-error suite), `cat` against icat, --offset
// against --partition, and the man pages through groff.

#include <fstream>
#include <regex>
#include <sstream>

#include "results/copy_manifest.h"
#include "test_support.h"

namespace tsn {
namespace {

using test::TimedCli;
using test::Quote;
using test::RunCommand;

struct BodyEntry {
  std::string inode, mode;
  std::uint64_t size = 0;
  std::int64_t mtime = 0, crtime = 0;
};

// name -> entry, of the lines of a body file; the NTFS metadata files and
// named streams that fls adds are left out. The listings' times are those of
// a $FILE_NAME: a live entry's in its folder's index (which ntfs-3g keeps
// equal to $STANDARD_INFORMATION's, fls's own line), a deleted one's in its
// record, fls's "($FILE_NAME)" line, which a folder's later changes leave.
std::map<std::string, BodyEntry> ParseBody(const std::string& text) {
  std::map<std::string, BodyEntry> out, fileName;
  for (const std::string& line : test::Split(text, '\n')) {
    const std::vector<std::string> f = test::Split(line, '|');
    if (f.size() != 11) continue;
    std::string name = f[1];
    const std::size_t fn = name.find(" ($FILE_NAME)");
    if (fn != std::string::npos) name.erase(fn, 13);
    if (name.rfind("/$", 0) == 0 || name.substr(name.rfind('/')).find(':') != std::string::npos) continue;
    (fn == std::string::npos ? out : fileName)[name] = {f[2], f[3], std::stoull(f[6]), std::stoll(f[8]),
                                                        std::stoll(f[10])};
  }
  for (auto& [name, e] : out)
    if (const auto it = fileName.find(name); it != fileName.end() && test::Has(name, " (deleted)"))
      e.mtime = it->second.mtime, e.crtime = it->second.crtime;
  return out;
}

// The rows of a CSV with a header, each as column -> field, as Python's csv
// module reads them: a reader not ours, strict about quoting, and every row
// as wide as the header. Lines end in CRLF (no name in these listings holds
// a line break).
std::vector<std::map<std::string, std::string>> CsvRecords(const std::string& text) {
  EXPECT_EQ(test::Count(text, "\r\n"), test::Count(text, "\n"));
  const test::ScratchDir dir;
  test::WriteFile(dir.Path("csv"), std::vector<std::uint8_t>(text.begin(), text.end()));
  const std::string read =
      "import csv, json, sys\n"
      "for row in csv.DictReader(open(sys.argv[1], newline='', encoding='utf-8'), strict=True):\n"
      "  assert None not in row and None not in row.values(), row\n"
      "  print(json.dumps(row))";
  const auto r = RunCommand("python3 -c " + Quote(read) + " " + Quote(dir.Path("csv")));
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::map<std::string, std::string>> out;
  for (const std::string& line : test::Split(r.out, '\n')) out.push_back(nlohmann::json::parse(line));
  return out;
}

TEST(CliBodyFile, MatchesFlsEntryByEntry) {
  for (const std::string image : {"fat32-512.img", "ntfs-1k.img"}) {
    SCOPED_TRACE(image);
    const bool ntfs = image.rfind("ntfs", 0) == 0;
    const std::string path = test::Fixture(image);
    const auto ours = RunCommand(TimedCli("scan --bodyfile " + Quote(path)));
    ASSERT_EQ(ours.status, 0) << ours.err;
    // FAT stamps carry no zone: both read them as UTC.
    const auto tsk = RunCommand("fls -z UTC -r -m / " + Quote(path));
    ASSERT_EQ(tsk.status, 0) << tsk.err;
    std::map<std::string, BodyEntry> mine = ParseBody(ours.out), theirs = ParseBody(tsk.out);
    ASSERT_GT(mine.size(), 100u);
    // The volume label: fls tells it apart, the scan lists it as a file.
    std::erase_if(theirs, [&](const auto& entry) {
      const auto at = entry.first.find(" (Volume Label Entry)");
      if (at == std::string::npos) return false;
      EXPECT_EQ(mine.erase(entry.first.substr(0, entry.first.find_last_not_of(' ', at) + 1)), 1u) << entry.first;
      return true;
    });
    for (const auto& [name, e] : mine) {
      const auto t = theirs.find(name);
      if (t == theirs.end()) {
        ADD_FAILURE() << name << " is not in fls's body file";
        continue;
      }
      EXPECT_EQ(e.mode, t->second.mode) << name;
      EXPECT_EQ(e.mtime, t->second.mtime) << name;
      if (ntfs) {
        EXPECT_EQ(e.crtime, t->second.crtime) << name;
        EXPECT_EQ(e.inode, t->second.inode.substr(0, t->second.inode.find('-'))) << name;
      }
      if (e.mode[2] == 'r') {
        EXPECT_EQ(e.size, t->second.size) << name;
      }
    }
    // The scan passes over deleted NTFS files of no length (it has nothing
    // to bring back of them); everything else fls lists, it lists.
    for (const auto& [name, t] : theirs) {
      if (!mine.count(name)) {
        EXPECT_TRUE(ntfs && t.size == 0 && name.find(" (deleted)") != std::string::npos) << name << " is missing";
      }
    }

    const test::ScratchDir dir;
    test::WriteFile(dir.Path("body"), std::vector<std::uint8_t>(ours.out.begin(), ours.out.end()));
    const auto timeline = RunCommand("mactime -b " + Quote(dir.Path("body")) + " -d -z UTC");
    EXPECT_EQ(timeline.status, 0) << timeline.err;
    EXPECT_GT(test::Split(timeline.out, '\n').size(), mine.size() / 2);
    EXPECT_EQ(timeline.err, "");
  }
}

TEST(CliCsv, AgreesWithTheJsonListing) {
  const std::regex iso(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)");
  for (const std::string image : {"fat32-512.img", "ntfs-1k.img"}) {
    SCOPED_TRACE(image);
    const std::string path = test::Fixture(image);
    const auto csv = RunCommand(TimedCli("scan --csv " + Quote(path)));
    ASSERT_EQ(csv.status, 0) << csv.err;
    const test::Scan json = test::RunScan(path, false);
    const auto rows = CsvRecords(csv.out);
    ASSERT_EQ(rows.size(), json.entries.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const auto& r = rows[i];
      const auto& j = json.entries[i];
      EXPECT_EQ(r.at("path"), j["path"].get<std::string>());
      EXPECT_EQ(r.at("deleted"), j["deleted"].get<bool>() ? "true" : "false");
      EXPECT_EQ(r.at("type"), j["folder"].get<bool>() ? "dir" : "file");
      EXPECT_EQ(r.at("state"), j["state"].get<std::string>());
      EXPECT_EQ(r.at("size"), std::to_string(j["size"].get<std::uint64_t>()));
      EXPECT_EQ(r.at("locator"), std::to_string(j["record"].get<std::uint64_t>()));
      for (const char* time : {"created", "modified"}) {
        EXPECT_EQ(r.at(time), j[time].is_null() ? std::string() : j[time].get<std::string>()) << time;
        if (!r.at(time).empty()) {
          EXPECT_TRUE(std::regex_match(r.at(time), iso)) << r.at(time);
        }
      }
    }
    // Every file system's times are there, FAT's (read as UTC) too.
    ASSERT_NE(json.Find("/Deep/level-01"), nullptr);
    EXPECT_FALSE(json.Find("/Deep/level-01")->at("modified").is_null());
  }
}

// Times as the listings and manifests write them, from the first day an
// NTFS stamp can name to past the four-digit years, as date -u writes each.
TEST(IsoUtc, WritesEveryYearAStampCanHold) {
  const std::pair<std::int64_t, std::string> cases[] = {
      {0, "1970-01-01T00:00:00Z"},          {-11644473600, "1601-01-01T00:00:00Z"},
      {951782400, "2000-02-29T00:00:00Z"},  {4354819199, "2107-12-31T23:59:59Z"},
      {1700000000, "2023-11-14T22:13:20Z"}, {253402300799, "9999-12-31T23:59:59Z"},
      {253402300800, "10000-01-01T00:00:00Z"},
  };
  for (const auto& [seconds, text] : cases) {
    std::string appended = "at ";
    AppendIsoUtc(appended, seconds);
    EXPECT_EQ(IsoUtc(seconds) + " | " + appended, text + " | at " + text);
  }
}

TEST(CopyManifest, ItsHashesVerifyEveryCopy) {
  for (const std::string name : {"fat32-512.img", "ntfs-1k.img"}) {
    SCOPED_TRACE(name);
    const std::string image = test::Fixture(name);
    const test::ScratchDir dir;
    const std::string to = dir.Path("out");
    const auto r = RunCommand(TimedCli("copy --to " + Quote(to) + " " + Quote(image)));
    ASSERT_EQ(r.status, 0) << r.err;
    const auto rows = CsvRecords(test::ReadAll(to + "/tessilon-manifest.csv"));
    const test::Scan scan = test::RunScan(image, false);
    std::size_t deletedFiles = 0;
    for (const auto& e : scan.entries) deletedFiles += e["deleted"] == true && e["folder"] == false;
    ASSERT_EQ(rows.size(), deletedFiles);
    for (const auto& row : rows) {
      EXPECT_EQ(row.at("state"), "complete") << row.at("copy");
      EXPECT_EQ(row.at("source") + "|" + row.at("source_format") + "|" + row.at("source_size"),
                image + "|raw|" + std::to_string(std::filesystem::file_size(image)));
      const std::string copy = to + "/" + row.at("copy");
      EXPECT_EQ(row.at("size"), std::to_string(std::filesystem::file_size(copy)));
      EXPECT_EQ(row.at("sha256"), test::Sha256OfFile(copy));
      EXPECT_EQ(row.at("md5"), RunCommand("md5sum " + Quote(copy)).out.substr(0, 32));
      const nlohmann::json* e = scan.Find(row.at("source_path"));
      ASSERT_NE(e, nullptr) << row.at("source_path");
      EXPECT_EQ(row.at("locator"), std::to_string((*e)["record"].get<std::uint64_t>()));
    }
  }
}

TEST(CliCat, WritesWhatIcatDoes) {
  const struct {
    std::string image, path;
    bool byRecord;
  } cases[] = {
      {"ntfs-1k.img", "/Documents/readme.txt", false},
      {"ntfs-1k.img", "/Compressed/deleted-compressed.txt", true},
      {"ntfs-1k.img", "/Documents/deleted-many-clusters.bin", false},
      {"fat32-512.img", "/Documents/many-clusters.bin", false},
      {"fat32-512.img", "/Documents/deleted-many-clusters.bin", false},
      {"fat32-512.img", "/Documents/deleted-note.txt", true},
  };
  const test::ScratchDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.image + c.path);
    const std::string image = test::Fixture(c.image);
    const auto fls = ParseBody(RunCommand("fls -r -m / " + Quote(image)).out);
    const bool deleted = c.path.find("deleted") != std::string::npos;
    const auto t = fls.find(c.path + (deleted ? " (deleted)" : ""));
    ASSERT_NE(t, fls.end());
    const auto icat = RunCommand("icat " + Quote(image) + " " + t->second.inode);
    ASSERT_EQ(icat.status, 0) << icat.err;
    std::string args = "cat " + Quote(image) + " ";
    if (c.byRecord) {
      const test::Scan scan = test::RunScan(image, false);
      ASSERT_NE(scan.Find(c.path), nullptr);
      args += "--record " + std::to_string((*scan.Find(c.path))["record"].get<std::uint64_t>());
    } else {
      args += Quote(c.path);
    }
    const auto ours = RunCommand(TimedCli(args));
    EXPECT_EQ(ours.status, 0) << ours.err;
    EXPECT_TRUE(ours.out == icat.out) << ours.out.size() << " bytes, icat " << icat.out.size();
  }
  // Nothing on stdout when the file is not there.
  const auto missing = RunCommand(TimedCli("cat " + Quote(test::Fixture("fat32-512.img")) + " /no/such.txt"));
  EXPECT_EQ(std::to_string(missing.status) + "|" + missing.out, "1|");
  EXPECT_TRUE(test::Has(missing.err, "no file /no/such.txt")) << missing.err;
}

TEST(CliOffset, ReadsTheVolumeThePartitionDoes) {
  const std::string disk = test::Fixture("mbr-disk.img");
  const auto table = RunCommand("mmls " + Quote(disk));
  ASSERT_EQ(table.status, 0);
  const struct {
    int partition;
    std::string offset;
  } cases[] = {{1, "2048"}, {2, "83968"}};
  for (const auto& c : cases) {
    EXPECT_TRUE(test::Has(table.out, std::string(10 - c.offset.size(), '0') + c.offset)) << table.out;
    const auto byPartition =
        RunCommand(TimedCli("scan --json --partition " + std::to_string(c.partition) + " " + Quote(disk)));
    const auto byOffset = RunCommand(TimedCli("scan --json --offset " + c.offset + " " + Quote(disk)));
    EXPECT_EQ(byOffset.status, 0) << byOffset.err;
    EXPECT_GT(byOffset.out.size(), 1000u);
    EXPECT_EQ(byOffset.out, byPartition.out);
  }
  const auto past = RunCommand(TimedCli("scan --offset 999999999 " + Quote(disk)));
  EXPECT_EQ(past.status, 1);
  EXPECT_TRUE(test::Has(past.err, "sector 999999999 lies past its end")) << past.err;
  EXPECT_EQ(RunCommand(TimedCli("scan --offset 2048 --partition 1 " + Quote(disk))).status, 2);
}

// The version each program gives is checked against the package's in
// tests/package_test.sh.
TEST(CliDocs, ManPagesRenderClean) {
  for (const char* page : {"tessilon.1", "tessilon-cli.1"}) {
    const auto r = RunCommand("groff -man -ww -z " + Quote(std::string(TESSILON_SOURCE_DIR) + "/docs/" + page));
    EXPECT_EQ(r.status, 0) << page;
    EXPECT_EQ(r.err, "") << page;
  }
}

}  // namespace
}  // namespace tsn
