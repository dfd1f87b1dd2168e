// The FAT12, FAT16, FAT32 and exFAT fixtures, 512- and 4096-byte sectors alike, against their manifest and The Sleuth
// Kit: the drive row, the live tree, every deleted entry and its verdict, both scans, and the copies byte for byte. And
// the option that tells an image's sector size: an MBR of a 4Kn disk, and a protective MBR without its GPT.

#include <algorithm>
#include <cstdio>

#include "core/le_bytes.h"
#include "test_support.h"

namespace tsn {
namespace {

using nlohmann::json;
using test::Quote;
using test::RunCommand;

// Deleted files whose verdict is not what their clusters' state alone says: Frag/woven-b.bin was fragmented, and
// exfat-fuse clears a deleted file's chain; taken as one run from its first cluster, its clusters meet woven-a's, so it
// cannot be brought back, and is not copied as it was.
const std::map<std::string, std::string> kJudgedByItsRun = {{"/Frag/woven-b.bin", "Chain is in use"}};

// One line of fls -r -p -l: a file or not, inode, path (with a leading '/'), size.
struct Listed {
  bool file = false;
  std::string inode, path, size;
};

class FatVolumes : public ::testing::TestWithParam<json> {
 protected:
  std::string Is(const char* key) const { return GetParam().value(key, ""); }
  std::uint64_t Number(const char* key) const { return GetParam().value(key, std::uint64_t{0}); }
  void SetUp() override {
    if (!test::HaveTool("fls")) GTEST_SKIP() << "The Sleuth Kit is not installed";
    for (json& e : test::ManifestOf(Is("image")))
      if (e.value("start_lba", std::uint64_t{0}) == Number("start_lba")) manifest_.push_back(std::move(e));
    ASSERT_FALSE(manifest_.empty()) << "the manifest lists nothing on " << Is("image");
  }
  std::string Image() const { return test::Fixture(Is("image")); }
  bool ExFat() const { return Is("fs_type") == "exFAT"; }
  // A deleted FAT 8.3 name has lost its first character; exFAT names are whole.
  std::string Key(const std::string& path) const { return ExFat() ? path : test::DeletedNameKey(path); }
  std::string Tsk(const std::string& tool, const std::string& after = "") const {
    return RunCommand(tool + " " + Is("tsk") + " " + Quote(Image()) + " " + after).out;
  }
  // The deleted entries fls names in the tree ($OrphanFiles aside).
  std::vector<Listed> FlsDeleted() const {
    std::vector<Listed> out;
    for (const std::string& line : test::Split(Tsk("fls -r -p -d -l"), '\n')) {
      const std::vector<std::string> f = test::Split(line, '\t');
      if (f.size() < 8 || f[0].find('*') == std::string::npos || f[0].rfind("-/", 0) == 0 ||
          f[1].find("$OrphanFiles") != std::string::npos)
        continue;
      const auto colon = f[0].rfind(':'), space = f[0].rfind(' ', colon);
      out.push_back({f[0].rfind("r/r", 0) == 0, f[0].substr(space + 1, colon - space - 1), "/" + f[1], f[6]});
    }
    return out;
  }
  test::Scan Scan(bool quick) const {
    const test::Scan s = test::RunScan(Image(), quick, Is("cli"), 600);
    EXPECT_EQ(s.status, 0) << s.log;
    return s;
  }
  std::string Verdict(const json& e) const {
    if (const auto it = kJudgedByItsRun.find("/" + e["path"].get<std::string>()); it != kJudgedByItsRun.end())
      return it->second;
    return e["size"] == 0                  ? "Bad File Size"
           : e["overwritten"].get<bool>() ? "Chain is in use"
                                          : "Recovery may be possible";
  }
  std::vector<json> manifest_;
};

// A number in fsstat's report: "Sector Size: 4096" -> 4096.
std::uint64_t FsstatNumber(const std::string& fsstat, const std::string& label) {
  const auto at = fsstat.find(label);
  EXPECT_NE(at, std::string::npos) << label << " not in\n" << fsstat;
  return at == std::string::npos ? 0 : std::stoull(fsstat.substr(at + label.size()));
}

std::string Format(const char* format, double value) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// The row's size and cluster size as fsstat (the boot sector, on exFAT, whose fsstat may not end) gives them, its free
// share as mdir (the allocation bitmap) counts it.
TEST_P(FatVolumes, DriveRowAgreesWithTheSleuthKitAndMtools) {
  const auto r = RunCommand(test::Cli("drives --no-devices --json " + Is("cli") + " " + Quote(Image())));
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> rows = test::Split(r.out, '\n');
  ASSERT_EQ(rows.size(), 1u) << r.out << r.err;
  const json row = json::parse(rows[0]);
  EXPECT_EQ(row["FS Type"], Is("fs_type"));
  EXPECT_EQ(row["Start LBA"], std::to_string(Number("start_lba")));
  std::uint64_t sector = 0, sectors = 0, clusterBytes = 0, clusters = 0, free = 0;
  if (ExFat()) {
    const std::vector<std::uint8_t> boot = test::ReadAt(Image(), 0, 512);
    const Bytes b(boot);
    sector = 1u << LeU8(b, 108);
    sectors = LeU64(b, 72);
    clusterBytes = sector << LeU8(b, 109);
    clusters = LeU32(b, 92);
    EXPECT_EQ(row["Volume"], Is("label"));
    std::string bitmapInode;
    for (const std::string& line : test::Split(Tsk("fls"), '\n'))
      if (line.find("$ALLOC_BITMAP") != std::string::npos) bitmapInode = line.substr(4, line.find(':') - 4);
    ASSERT_FALSE(bitmapInode.empty());
    const std::string bitmap = Tsk("icat", bitmapInode);
    for (std::uint64_t c = 0; c < clusters; ++c)
      free += 1 - ((static_cast<unsigned char>(bitmap[c / 8]) >> (c % 8)) & 1);
  } else {
    const std::string fsstat = Tsk("fsstat");
    ASSERT_NE(fsstat.find("File System Type: " + Is("fs_type")), std::string::npos) << fsstat;
    sector = FsstatNumber(fsstat, "Sector Size: ");
    sectors = FsstatNumber(fsstat, "Total Range: 0 - ") + 1;
    clusterBytes = FsstatNumber(fsstat, "Cluster Size: ");
    clusters = FsstatNumber(fsstat, "Total Cluster Range: 2 - ") - 1;
    const std::string mdir =
        RunCommand("MTOOLS_SKIP_CHECK=1 mdir -i " + Quote(Image()) + "@@" +
                   std::to_string(Number("start_lba") * sector) + " :: | sed -n 's/ *\\([0-9 ]*\\) bytes free.*/\\1/p' | tr -d ' '").out;
    ASSERT_FALSE(mdir.empty());
    free = std::stoull(mdir) / clusterBytes;
  }
  EXPECT_EQ(row["Size"], Format("%.2f GB", static_cast<double>(sectors * sector) / (1u << 30)));
  EXPECT_EQ(row["SPC"], std::to_string(clusterBytes / sector));
  const double share = 100.0 * static_cast<double>(free) / static_cast<double>(clusters);
  // A FAT32 row counts every zero entry of the whole FAT against the volume's sectors in clusters, which differs from
  // mdir's count of free clusters by some 1.5 points.
  if (Is("fs_type") == "FAT32") EXPECT_NEAR(std::stod(row["Sparse"].get<std::string>().substr(2)), share, 2.0);
  else EXPECT_EQ(row["Sparse"], Format("%% %.02f", share));
}

// Deleted entries whose name survives with their size and verdict, and every one fls names, with its size.
TEST_P(FatVolumes, IndexedScanShowsTheLiveTreeAndJudgesEveryDeletedEntry) {
  const test::Scan s = Scan(false);
  EXPECT_TRUE(s.Logged("Beginning file system scan.")) << s.log;
  EXPECT_TRUE(s.Logged("File system scan complete.")) << s.log;
  std::map<std::string, const json*> deleted;  // by Key
  for (const auto& e : s.entries)
    if (e["deleted"].get<bool>()) deleted[Key(e["path"])] = &e;
  std::set<std::string> live;
  for (const auto& e : manifest_) {
    if (e["name_lost"].get<bool>()) continue;
    const std::string path = "/" + e["path"].get<std::string>();
    SCOPED_TRACE(path);
    if (e["deleted"].get<bool>()) {
      const auto it = deleted.find(Key(path));
      ASSERT_NE(it, deleted.end());
      if (e["folder"].get<bool>()) continue;
      EXPECT_EQ((*it->second)["size"], e["size"]);
      EXPECT_EQ((*it->second)["state"], Verdict(e));
      continue;
    }
    live.insert(path);
    const json* f = s.Find(path);
    ASSERT_NE(f, nullptr);
    EXPECT_FALSE((*f)["deleted"].get<bool>());
    if (!e["folder"].get<bool>()) {
      EXPECT_EQ((*f)["state"], "Active");
      EXPECT_EQ((*f)["size"], e["size"]);
    }
  }
  EXPECT_GE(live.size(), Number("live"));
  // Nothing more, but for the volume label the list shows like a file.
  std::set<std::string> more = s.Paths(false);
  for (const std::string& p : live) more.erase(p);
  EXPECT_LE(more.size(), 1u) << testing::PrintToString(more);
  std::size_t checked = 0;
  for (const Listed& l : FlsDeleted()) {
    const auto it = deleted.find(Key(l.path));
    ASSERT_NE(it, deleted.end()) << l.path << " (fls " << l.inode << ")";
    if (l.file) {
      EXPECT_EQ(std::to_string((*it->second)["size"].get<std::uint64_t>()), l.size) << l.path;
    }
    ++checked;
  }
  EXPECT_GE(checked, Number("deleted"));
}

// Each deleted file, by name and size, in the root of the results, whether the manifest or fls names it.
TEST_P(FatVolumes, QuickScanListsEveryDeletedFileWhoseEntrySurvives) {
  const test::Scan s = Scan(true);
  std::multiset<std::pair<std::string, std::uint64_t>> found;  // Key of the name, size
  for (const auto& e : s.entries) {
    const std::string path = e["path"];
    EXPECT_TRUE(e["deleted"].get<bool>()) << path;
    EXPECT_FALSE(e["folder"].get<bool>()) << path;
    found.insert({Key(path.substr(path.rfind('/'))), e["size"]});
  }
  auto take = [](auto& from, const std::string& name, std::uint64_t size) {
    const auto it = from.find({name, size});
    if (it == from.end()) return false;
    return from.erase(it), true;
  };
  auto byManifest = found, byFls = found;
  for (const auto& e : manifest_) {
    if (!e["deleted"].get<bool>() || e["folder"].get<bool>() || e["name_lost"].get<bool>()) continue;
    const std::string path = "/" + e["path"].get<std::string>();
    EXPECT_TRUE(take(byManifest, Key(path.substr(path.rfind('/'))), e["size"])) << path;
  }
  std::size_t checked = 0;
  for (const Listed& l : FlsDeleted()) {
    if (!l.file) continue;
    EXPECT_TRUE(take(byFls, Key(l.path.substr(l.path.rfind('/'))), std::stoull(l.size))) << l.path;
    ++checked;
  }
  EXPECT_GE(checked, Number("deleted"));
}

// Deleted files not overwritten read as icat reads them; a copy of several clusters among them.
TEST_P(FatVolumes, CopiesMatchTheManifestAndIcat) {
  if (!GetParam().value("copied", true)) GTEST_SKIP() << "not copied";
  test::ScratchDir dir;
  const std::string before = test::Sha256OfFile(Image());
  const std::string copy = "timeout 300 " + test::Cli("copy " + Is("cli") + " " + Quote(Image()) + " --to ");
  const auto all = RunCommand(copy + Quote(dir.Path("deleted")));
  ASSERT_EQ(all.status, 0) << all.err;
  std::string livePaths;
  for (const auto& e : manifest_)
    if (!e["deleted"].get<bool>() && !e["folder"].get<bool>() && e["path"].get<std::string>().rfind("Many/", 0) != 0)
      livePaths += " " + Quote("/" + e["path"].get<std::string>());
  const auto live = RunCommand(copy + Quote(dir.Path("live")) + livePaths);
  ASSERT_EQ(live.status, 0) << live.err;
  std::map<std::string, std::string> copied;  // Key of the path -> its hash
  for (const auto& f : std::filesystem::recursive_directory_iterator(dir.Path("deleted")))
    if (f.is_regular_file() && !test::IsCopyManifest(f.path()))
      copied[Key("/" + std::filesystem::relative(f.path(), dir.Path("deleted")).string())] =
          test::Sha256OfFile(f.path().string());
  // One cluster, where the manifest tells it, but no more than 4 KiB.
  std::uint64_t several = 4 * 4096;
  for (const auto& e : manifest_)
    if (e["path"] == "Documents/one-cluster.bin")
      several = 4 * std::min<std::uint64_t>(e["size"].get<std::uint64_t>(), 4096);
  std::size_t checked = 0;
  bool severalClusters = false;
  std::set<std::string> intact;  // Keys of deleted files as they were written
  for (const auto& e : manifest_) {
    const std::string path = "/" + e["path"].get<std::string>();
    if (e["folder"].get<bool>() || e["overwritten"].get<bool>() || e["name_lost"].get<bool>() ||
        kJudgedByItsRun.count(path) || path.rfind("/Many/", 0) == 0)
      continue;
    SCOPED_TRACE(path);
    if (!e["deleted"].get<bool>()) {
      EXPECT_EQ(test::Sha256OfFile(dir.Path("live" + path)), e["sha256"]);
    } else {
      intact.insert(Key(path));
      const auto it = copied.find(Key(path));
      ASSERT_NE(it, copied.end()) << all.err;
      EXPECT_EQ(it->second, e["sha256"]);
      severalClusters = severalClusters || e["size"].get<std::uint64_t>() > several;
    }
    ++checked;
  }
  EXPECT_GE(checked, Number("deleted") + Number("live") / 4);
  // A deleted file whose clusters another took is copied with a warning.
  std::size_t overwritten = 0;
  for (const auto& e : manifest_)
    overwritten += e["deleted"].get<bool>() && e["overwritten"].get<bool>() && !e["folder"].get<bool>() &&
                   !e["name_lost"].get<bool>() && e["size"] != 0;
  EXPECT_GE(test::Count(all.err, "its content is likely overwritten"), overwritten) << all.err;
  EXPECT_TRUE(severalClusters);
  // icat reads a deleted file contiguous from its first cluster, as we do where no other file has taken those clusters
  // since.
  std::size_t againstIcat = 0;
  for (const Listed& l : FlsDeleted()) {
    if (!l.file || !intact.count(Key(l.path))) continue;
    EXPECT_EQ(Tsk("icat", l.inode + " | sha256sum").substr(0, 64), copied[Key(l.path)]) << l.path;

    ++againstIcat;
  }
  EXPECT_GE(againstIcat, Number("deleted") / 2);
  EXPECT_EQ(test::Sha256OfFile(Image()), before) << "the copy wrote to the image";
}

INSTANTIATE_TEST_SUITE_P(Images, FatVolumes, ::testing::ValuesIn(test::DataRows("fat-volumes.jsonl")),
                         [](const ::testing::TestParamInfo<json>& volume) {
                           return volume.param["name"].get<std::string>();
                         });

// An image does not say the sector size of the disk it was copied from. An MBR counts the disk's logical sectors, so an
// image of a 4Kn disk with an MBR is misread unless told; fdisk -b 4096 writes such a table here, over the FAT32 volume
// of the 4Kn GPT disk moved into place.
TEST(SectorSizeOption, AnImageOfAnMbrDiskWith4096ByteSectorsIsReadWhenTold) {
  const std::string gpt = test::Fixture("gpt-4kn-disk.img");
  if (!test::HaveTool("fdisk")) GTEST_SKIP() << "fdisk is not installed";
  test::ScratchDir dir;
  const std::string disk = dir.Path("mbr-4kn.img");
  test::Sh("truncate -s 300M " + Quote(disk) + " && printf 'o\\nn\\np\\n1\\n256\\n71935\\nt\\nc\\nw\\n' | fdisk -b 4096 " +
           Quote(disk) + " >/dev/null && dd if=" + Quote(gpt) + " of=" + Quote(disk) +
           " bs=1M skip=1 seek=1 count=280 conv=notrunc,sparse status=none");
  const std::string cli = test::Cli("drives --no-devices --json ");

  // Read in 512-byte sectors the partition starts 1 MiB early, where the volume is not.
  const auto untold = RunCommand(cli + Quote(disk));
  EXPECT_EQ(untold.out.find("FAT32"), std::string::npos) << untold.out;

  const auto told = RunCommand(cli + "--sector-size 4096 " + Quote(disk));
  ASSERT_EQ(told.status, 0) << told.err;
  const json row = json::parse(test::Split(told.out, '\n').at(0));
  EXPECT_EQ(json({row["FS Type"], row["Start LBA"], row["Volume"]}), json({"FAT32", "256", "GPT4KN"}));
  const test::Scan scan = test::RunScan(disk, false, "--sector-size 4096", 120);
  ASSERT_EQ(scan.status, 0) << scan.log;
  std::set<std::string> deleted;
  for (const std::string& p : scan.Paths(true)) deleted.insert(test::DeletedNameKey(p));
  for (const char* path : {"/Photos/holiday.jpg", "/Old/Drafts/draft-1.txt"})
    EXPECT_TRUE(deleted.count(test::DeletedNameKey(path))) << path << "\n" << scan.log;
}

TEST(SectorSizeOption, ASizeNoDiskHasIsRefused) {
  for (const char* bad : {"0", "100", "8192", "4k"}) {
    for (const char* command : {"drives --no-devices", "scan", "copy --to /tmp/x"}) {
      const std::string args = std::string(command) + " --sector-size " + bad + " ";
      const auto r = RunCommand(test::Cli(args + Quote(test::Fixture("fat32-4kn.img"))));
      EXPECT_EQ(r.status, 2) << command << " " << bad;
      EXPECT_NE(r.err.find(std::string("512, 1024, 2048 or 4096 bytes, not ") + bad), std::string::npos) << r.err;
    }
  }
}

// A protective MBR whose GPT is at neither block size: the log says so, and the disk is read as what its MBR says.
TEST(SectorSizeOption, AProtectiveMbrWithoutItsGptIsSaidSo) {
  const std::string gpt = test::Fixture("gpt-4kn-disk.img");
  test::ScratchDir dir;
  const std::string disk = dir.Path("no-gpt.img");
  // Both headers: block 1 and the last block, of 4096 bytes.
  test::Sh("cp --sparse=always " + Quote(gpt) + " " + Quote(disk) + " && dd if=/dev/zero of=" + Quote(disk) + " bs=4096 seek=1 count=1 conv=notrunc status=none && dd if=/dev/zero of=" +
           Quote(disk) + " bs=4096 seek=76799 count=1 conv=notrunc status=none");
  const auto r = RunCommand(test::Cli("drives --no-devices " + Quote(disk)));
  EXPECT_TRUE(test::Has(r.err, "protective MBR, but no GPT header was found with blocks of 512 or 4096 bytes"))
      << r.err;
}

}  // namespace
}  // namespace tsn
