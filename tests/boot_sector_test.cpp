// Damaged and unreadable boot sectors and lying size fields, on real volumes: a boot sector that cannot be trusted or
// read is replaced by the backup the file system keeps, one that is sound but for its OEM ID is read as it is, and a
// $Bitmap whose sizes claim terabytes costs no more memory than the source can fill.

#include "ntfs_test_support.h"
#include "test_support.h"

namespace tsn {
namespace {

using namespace ntfstest;
using test::Sh;

// Scans `image` both ways and expects the entries of `intact`, ending with `status` and saying each of `logged`.
void ExpectScansLike(const std::string& image, const std::string& intact, const std::vector<std::string>& logged,
                     int status = 0) {
  for (const bool quick : {true, false}) {
    SCOPED_TRACE(quick ? "quick" : "indexed");
    const Scan want = RunScan(intact, quick, "", 120);
    const Scan got = RunScan(image, quick, "", 120);
    ASSERT_EQ(got.status, status) << got.log;
    for (const std::string& line : logged) EXPECT_TRUE(got.Logged(line)) << line << "\n" << got.log;
    ASSERT_FALSE(want.entries.empty());
    EXPECT_EQ(got.entries, want.entries);
  }
}

// What stands in for a boot sector or a FAT sector is found in the volume's own sectors: the boot sector's backup or
// the second FAT. The corpus holds the other damaged boot sectors, and both copies lost.
TEST(BootSectorDamage, ABootSectorThatCannotBeTrustedOrReadIsReadFromItsCopy) {
  test::ScratchDir dir;
  // A FAT32 backup boot area where few formatters put it: found only through the primary's field naming it.
  const std::string moved = dir.Path("fat32-backup-at-10.img");
  Sh("cd " + test::Quote(dir.dir()) + " && export MTOOLS_SKIP_CHECK=1 && truncate -s 40M " + moved +
     " && mkfs.fat -F 32 -s 1 -b 10 -n MOVED " + moved + " >/dev/null && seq 1 5000 > a.txt && mcopy -i " + moved +
     " a.txt ::/a.txt && mcopy -i " + moved + " a.txt ::/b.txt && mdel -i " + moved + " ::/a.txt");
  int n = 0;
  for (const nlohmann::json& c : test::DataRows("boot-sectors.jsonl")) {
    SCOPED_TRACE(c["logged"].get<std::string>());
    const std::string intact = c["image"] == "moved-backup" ? moved : test::Fixture(c["image"]);
    if (!c.contains("unreadable")) {
      const std::string image = test::CopyOf(intact, dir, "damaged-" + std::to_string(++n) + ".img");
      if (c.contains("zeros")) WriteAt(image, c["zeros"][0], Buffer(c["zeros"][1].get<std::size_t>(), 0));
      else WriteAt(image, c["write"][0], c["write"][1].get<Buffer>());
      ExpectScansLike(image, intact, {c["logged"]});
      continue;
    }
    const std::uint64_t first = c["unreadable"][0], last = c["unreadable"][1];
    test::FailingImage failing(intact, {{first, last}});
    if (failing.path().empty()) GTEST_SKIP() << failing.why();
    ExpectScansLike(failing.path(), intact,
                    {c["logged"], "bytes " + std::to_string(first) + "\u2013" + std::to_string(last) + " of " +
                                      failing.path() + " (" + c["unreadable"][2].get<std::string>() +
                                      ") could not be read"},
                    3);
  }
}

// Under a few hundred MB of address space: the scan ends with a line, never with an allocation failure.
TEST(BootSectorDamage, LyingBitmapSizesCostNoMoreMemoryThanTheSourceHolds) {
  if (TESSILON_SANITIZED) GTEST_SKIP() << "a sanitized program reserves more address space than the bound";
  if (!test::HaveTool("prlimit")) GTEST_SKIP() << "prlimit is not installed";
  test::ScratchDir dir;
  const std::string intact = test::Fixture("ntfs-4k.img");  // 4 KiB clusters
  for (const nlohmann::json& c : test::DataRows("lying-bitmaps.jsonl")) {
    SCOPED_TRACE(c["name"].get<std::string>());
    const std::string image = test::CopyOf(intact, dir, c["name"].get<std::string>() + ".img");
    const int status = c["status"];
    const NtfsGeometry g = GeometryOf(image);
    EditRecord(image, RecordOffset(image, g, 6), [&](Buffer& r) {
      const std::size_t data = FindAttribute(r, 0x80);
      // Its allocated, data and initialized sizes.
      for (const std::size_t field : {40, 48, 56}) PutU64(r, data + field, c["bitmap_bytes"]);
    });
    test::WriteAt(image, 40, test::Le(c["total_sectors"], 8));
    Sh("truncate -s " + c["sparse_size"].get<std::string>() + " " + image);
    for (const char* mode : {"--quick", ""}) {
      SCOPED_TRACE(mode);
      const auto r = test::RunCommand("prlimit --as=200000000 " + std::string(TESSILON_CLI) + " scan --json " + mode +
                                " " + image);
      EXPECT_EQ(r.status, status) << r.err;
      for (const std::string line : c["logged"]) EXPECT_TRUE(test::Has(r.err, line)) << line << "\n" << r.err;
      if (status == 0) {
        const Scan want = RunScan(intact, *mode != '\0');
        Scan got;
        for (const std::string& line : test::Split(r.out, '\n')) got.entries.push_back(nlohmann::json::parse(line));
        EXPECT_EQ(got.Paths(true), want.Paths(true));
      }
    }
  }
}

}  // namespace
}  // namespace tsn
