// NTFS volumes of 4096-byte sectors, made by mkntfs -s 4096 (so their MFT
// records and index blocks are 4096 bytes) and filled through libntfs-3g:
// the drive row and the drive record against fsstat, both scans against
// fls, copies against the manifest and icat; and boot sectors edited to
// state record sizes the volume does not have.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include "ntfs_test_support.h"
#include "test_support.h"
#include "fs/logdrive_info.h"

namespace tsn {
namespace {

using ntfstest::Difference;
using ntfstest::FlsEntries;
using test::Quote;
using test::RunCommand;

struct Volume {
  const char* image;
  std::uint32_t clusterBytes;
  std::vector<std::string> mustCopy;  // deleted files among those checked byte for byte
  std::vector<std::string> live;      // live files to copy by name
};

const Volume kVolumes[] = {
    {"ntfs-4kn.img", 4096,
     {"Resident/deleted-tiny.txt", "Documents/deleted-many-clusters.bin", "Compressed/deleted-compressed.txt",
      "Sparse/deleted-sparse.bin", "Trash/Old Photos/photo-001.jpg", "Unicode/𝄞 deleted clef.txt"},
     {"/Frag/fragmented.bin", "/Compressed/compressed-log.txt", "/Resident/tiny-3.txt"}},
    {"ntfs-4kn-16k.img", 16384,
     {"Photos/holiday.jpg", "Old/letter.txt", "Old/Drafts/draft-1.txt"},
     {"/Documents/many-clusters.bin", "/Documents/Отчёт за год.txt"}},
};

void PrintTo(const Volume& v, std::ostream* os) { *os << v.image; }

// One "Name: value" figure of fsstat's report.
std::uint64_t FsstatFigure(const std::string& report, const std::string& pattern) {
  std::smatch m;
  EXPECT_TRUE(std::regex_search(report, m, std::regex(pattern))) << pattern << "\n" << report;
  return m.empty() ? 0 : std::stoull(m[1]);
}

class NtfsSectorSize : public ::testing::TestWithParam<Volume> {
 protected:
  std::string Image() const { return test::Fixture(GetParam().image); }
  // The manifest's deleted files that still hold their bytes; the scans
  // list no deleted file without any.
  std::vector<nlohmann::json> Recoverable() const {
    std::vector<nlohmann::json> out;
    for (const auto& e : test::ManifestOf(GetParam().image))
      if (e["deleted"] && !e["folder"] && !e["overwritten"] && !e["name_lost"] && e["size"] > 0) out.push_back(e);
    return out;
  }
  // fls's deleted entries, those without a byte left out.
  std::map<std::string, std::uint64_t> FlsDeleted() const {
    std::map<std::string, std::uint64_t> out = FlsEntries(Image(), true);
    for (const auto& e : test::ManifestOf(GetParam().image))
      if (e["deleted"] && !e["folder"] && e["size"] == 0) out.erase("/" + e["path"].get<std::string>());
    return out;
  }
};

TEST_P(NtfsSectorSize, TheDriveRowAndRecordGiveTheVolumesOwnGeometry) {
  const std::string fs = RunCommand("fsstat " + Quote(Image())).out;
  const std::uint64_t sector = FsstatFigure(fs, R"(Sector Size: (\d+))");
  const std::uint64_t cluster = FsstatFigure(fs, R"(Cluster Size: (\d+))");
  const std::uint64_t sectors = FsstatFigure(fs, R"(Total Sector Range: 0 - (\d+))") + 1;
  // The image is what it is for.
  ASSERT_EQ(sector, 4096u);
  ASSERT_EQ(cluster, GetParam().clusterBytes);
  ASSERT_EQ(FsstatFigure(fs, R"(Size of MFT Entries: (\d+) bytes)"), 4096u);
  ASSERT_EQ(FsstatFigure(fs, R"(Size of Index Records: (\d+) bytes)"), 4096u);

  const auto rows = RunCommand(std::string(TESSILON_CLI) + " drives --no-devices --json " + Quote(Image()));
  ASSERT_EQ(rows.status, 0) << rows.err;
  const auto row = nlohmann::json::parse(rows.out.substr(0, rows.out.find('\n')));
  char size[32];
  std::snprintf(size, sizeof size, "%.2f GB", static_cast<double>(sectors * sector) / (1 << 30));
  EXPECT_EQ(row["Size"], size);
  EXPECT_EQ(row["SPC"], std::to_string(cluster / sector));

  test::HeadlessApp h;
  h.OpenImages({Image()});
  ASSERT_EQ(h.app.drives.size(), 1u) << h.LogText();
  const LOGDRIVE_INFO& d = *h.app.drives[0];
  EXPECT_EQ(d.bytesPerSector, sector);
  EXPECT_EQ(d.ClusterBytes(), cluster);
  EXPECT_EQ(d.mftRecordBytes, 4096u);
  EXPECT_EQ(d.indexBlockBytes, 4096u);
  EXPECT_EQ(d.clusterCount, FsstatFigure(fs, R"(Total Cluster Range: 0 - (\d+))") + 1);
}

TEST_P(NtfsSectorSize, BothScansListTheDeletedEntriesFlsLists) {
  const std::string before = test::Sha256OfFile(Image());
  const auto fls = FlsDeleted();
  ASSERT_GE(fls.size(), 5u);

  const test::Scan indexed = test::RunScan(Image(), false);
  ASSERT_EQ(indexed.status, 0) << indexed.log;
  EXPECT_FALSE(indexed.Logged("-- Error")) << indexed.log;
  EXPECT_EQ(Difference(indexed.Records(true), fls), "");
  EXPECT_EQ(Difference(indexed.Records(false), FlsEntries(Image(), false)), "");

  // The quick scan knows no live folder: what fls places under one stands
  // in an orphan folder, so names and records are compared.
  const test::Scan quick = test::RunScan(Image(), true);
  ASSERT_EQ(quick.status, 0) << quick.log;
  EXPECT_FALSE(quick.Logged("-- Error")) << quick.log;
  std::set<std::pair<std::string, std::uint64_t>> ours, theirs;
  for (const auto& e : quick.entries)
    if (e["deleted"]) ours.emplace(e["name"], e["record"]);
  for (const auto& [path, record] : fls) theirs.emplace(path.substr(path.rfind('/') + 1), record);
  EXPECT_EQ(ours, theirs);

  EXPECT_EQ(test::Sha256OfFile(Image()), before);
}

TEST_P(NtfsSectorSize, CopiesHoldTheBytesWrittenAndWhatIcatReads) {
  const std::string before = test::Sha256OfFile(Image());
  test::ScratchDir dir;
  const auto copy = [&](const std::string& to, const std::vector<std::string>& paths) {
    std::string command = "timeout 120 " + std::string(TESSILON_CLI) + " copy " + Quote(Image()) + " --to " + Quote(to);
    for (const std::string& p : paths) command += " " + Quote(p);
    const auto r = RunCommand(command);
    EXPECT_EQ(r.status, 0) << r.err;
  };
  // Every deleted file found, then the live ones by name.
  const std::string out = dir.Path("out"), live = dir.Path("live");
  copy(out, {});
  std::set<std::string> checked;
  for (const auto& e : Recoverable()) {
    const std::string path = e["path"];
    EXPECT_EQ(test::Sha256OfFile(out + "/" + path), e["sha256"]) << path;
    checked.insert(path);
  }
  for (const std::string& path : GetParam().mustCopy) EXPECT_TRUE(checked.count(path)) << path;
  copy(live, GetParam().live);
  int named = 0;
  for (const auto& e : test::ManifestOf(GetParam().image)) {
    const std::string path = "/" + e["path"].get<std::string>();
    if (std::find(GetParam().live.begin(), GetParam().live.end(), path) == GetParam().live.end()) continue;
    EXPECT_EQ(test::Sha256OfFile(live + path), e["sha256"]) << path;
    ++named;
  }
  EXPECT_EQ(named, static_cast<int>(GetParam().live.size()));

  // Every copy, deleted or live, against icat on the same record.
  std::string script;
  int compared = 0;
  for (const bool del : {true, false})
    for (const auto& [path, record] : FlsEntries(Image(), del)) {
      const std::string copied = (del ? out : live) + path;
      if (!std::filesystem::is_regular_file(copied)) continue;
      script += "icat " + Quote(Image()) + " " + std::to_string(record) + " | cmp -s - " + Quote(copied) +
                " || echo " + Quote(path) + "\n";
      ++compared;
    }
  // fls names every file copied.
  int copies = 0;
  for (const std::string& root : {out, live})
    for (const auto& f : std::filesystem::recursive_directory_iterator(root)) copies += f.is_regular_file() && !test::IsCopyManifest(f.path()) ? 1 : 0;
  EXPECT_EQ(compared, copies);
  EXPECT_GE(copies, static_cast<int>(checked.size() + GetParam().live.size()));
  std::ofstream(dir.Path("icat.sh")) << script;
  EXPECT_EQ(RunCommand("sh " + Quote(dir.Path("icat.sh"))).out, "") << "these differ from icat's";
  EXPECT_EQ(test::Sha256OfFile(Image()), before);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, NtfsSectorSize, ::testing::ValuesIn(kVolumes), [](const auto& p) {
  std::string name = p.param.image;
  name = name.substr(0, name.find('.'));
  for (char& c : name)
    if (c == '-') c = '_';
  return name;
});

// Boot sectors that state a record or index-block size the volume does not
// have: the volume is refused, or read without that size, and the log says
// which; nothing is read past a record.
TEST(NtfsStatedSizes, SizesTheVolumeDoesNotHaveAreToldAndNotReadWith) {
  struct Case {
    const char* what;
    std::size_t field;
    std::uint8_t value;
    bool listed;
    const char* logged;
  };
  const Case cases[] = {
      {"records of 128 KiB", 0x40, 0xEF, false, "its boot sector gives MFT records of 131072 bytes"},
      {"records of 16 clusters", 0x40, 16, false, "its boot sector gives MFT records of 262144 bytes"},
      // 1024-byte records on a volume of 4096-byte ones: record 0 and its
      // mirror fail their update sequence, read at that size.
      {"records of 1 KiB", 0x40, 0xF6, false, "its update sequence does not check"},
      {"index blocks of 3 clusters", 0x44, 3, true, "its boot sector gives index blocks of 49152 bytes"},
  };
  test::ScratchDir dir;
  const std::string source = test::Fixture("ntfs-4kn-16k.img");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // The boot sector and its backup in the volume's last sector alike.
    const std::string image = test::CopyOf(source, dir, "edited.img");
    ntfstest::WriteAt(image, c.field, {c.value});
    ntfstest::WriteAt(image, std::filesystem::file_size(image) - 4096 + c.field, {c.value});
    const std::string before = test::Sha256OfFile(image);
    const auto rows = RunCommand(std::string(TESSILON_CLI) + " drives --no-devices " + Quote(image));
    EXPECT_NE(rows.err.find(c.logged), std::string::npos) << rows.err;
    EXPECT_EQ(rows.out.find("NTFS4KN16K") != std::string::npos, c.listed) << rows.out;
    if (c.listed) {
      // Each folder's own index root gives its block size.
      const test::Scan s = test::RunScan(image, false);
      EXPECT_EQ(s.status, 0) << s.log;
      EXPECT_EQ(Difference(s.Records(true), FlsEntries(source, true)), "");
    }
    EXPECT_EQ(test::Sha256OfFile(image), before);
    std::filesystem::remove(image);
  }
}

}  // namespace
}  // namespace tsn
