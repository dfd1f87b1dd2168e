// Damaged boot sectors and lying size fields, on copies of real volumes:
// a boot sector that cannot be trusted is replaced by the backup the file
// system keeps, one that is sound but for its OEM ID is read as it is, and
// a $Bitmap whose sizes claim terabytes costs no more memory than the
// source can fill.

#include "ntfs_test_support.h"
#include "test_support.h"

namespace tsn {
namespace {

using namespace ntfstest;
using test::RunCommand;
using test::Sh;

// Scans `image` both ways and expects what the intact volume `intact`
// gives, ending with `status` and saying each of `logged`.
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

TEST(BootSectorDamage, ABootSectorThatCannotBeTrustedIsReadFromItsBackup) {
  test::ScratchDir dir;
  // A FAT32 volume whose backup boot area is not where most formatters put
  // it: found only through the primary's own field naming it.
  const std::string movedBackup = dir.Path("fat32-backup-at-10.img");
  Sh("truncate -s 40M " + movedBackup + " && mkfs.fat -F 32 -s 1 -b 10 -n MOVED " + movedBackup +
     " >/dev/null && seq 1 5000 > " + dir.Path("a.txt") + " && MTOOLS_SKIP_CHECK=1 mcopy -i " +
     movedBackup + " " + dir.Path("a.txt") + " ::/a.txt && MTOOLS_SKIP_CHECK=1 mcopy -i " + movedBackup +
     " " + dir.Path("a.txt") + " ::/b.txt && MTOOLS_SKIP_CHECK=1 mdel -i " + movedBackup + " ::/a.txt");
  const std::string ntfs = test::Fixture("ntfs-1k.img");  // 65536 sectors, the backup in the last
  const Buffer sector(512, 0);
  // Each is scanned as the intact volume is (the corpus holds the other
  // damaged boot sectors, and both copies lost).
  const struct {
    std::string name, intact;
    std::uint64_t at;
    Buffer bytes;
    std::string logged;
  } cases[] = {
      {"ntfs-oem-id-one-byte", ntfs, 9, {'S'},
       "its boot sector's OEM ID reads \"NTFS  S \"; the volume is read as NTFS from the rest of its boot sector."},
      {"ntfs-boot-sector-zeroed", ntfs, 0, sector,
       "its boot sector reads as zeros; the backup at sector 65535 is used."},
      {"ntfs-no-signature", ntfs, 510, {0, 0}, "its boot sector is unsound; the backup at sector 65535 is used."},
      {"fat32-backup-named-by-the-primary", movedBackup, 13, {0},
       "its boot sector is unsound; the backup at sector 10 is used."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string image = test::CopyOf(c.intact, dir, c.name + ".img");
    WriteAt(image, c.at, c.bytes);
    ExpectScansLike(image, c.intact, {c.logged});
  }
}

// Sectors that answer EIO, served through FUSE: what stands in for them is
// found in the volume's own sectors, 512 or 4096 bytes, the boot sector's
// backup and a FAT sector in the second FAT. The scans find what they find
// on the intact volume, and say that the source was not read in full.
TEST(BootSectorDamage, AnUnreadableBootOrFatSectorIsReadFromItsCopy) {
  const struct {
    std::string image;
    std::uint64_t first, last;
    std::string sectors;  // of 512 bytes, as the read error names them
    std::string logged;
  } cases[] = {
      {"ntfs-1k.img", 0, 511, "sector 0", "its boot sector is unreadable; the backup at sector 65535 is used."},
      {"fat32-512.img", 0, 511, "sector 0", "its boot sector is unreadable; the backup at sector 6 is used."},
      {"fat32-4kn.img", 0, 4095, "sectors 0\u20137", "its boot sector is unreadable; the backup at sector 6 is used."},
      {"fat32-4kn.img", 33 * 4096, 33 * 4096 + 4095, "sectors 264\u2013271",
       "1 sector of the first FAT could not be read; it was read from the second FAT instead."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.logged);
    const std::string image = test::Fixture(c.image);
    test::FailingImage failing(image, {{c.first, c.last}});
    if (failing.path().empty()) GTEST_SKIP() << failing.why();
    ExpectScansLike(failing.path(), image,
                    {c.logged, "bytes " + std::to_string(c.first) + "\u2013" + std::to_string(c.last) + " of " +
                                   failing.path() + " (" + c.sectors + ") could not be read"},
                    3);
  }
}

// A $Bitmap whose sizes claim more than the source holds, run with a few
// hundred MB of address space: the scan ends with a line, never with an
// allocation failure.
TEST(BootSectorDamage, LyingBitmapSizesCostNoMoreMemoryThanTheSourceHolds) {
  if (TESSILON_SANITIZED) GTEST_SKIP() << "a sanitized program reserves more address space than the bound";
  if (!test::HaveTool("prlimit")) GTEST_SKIP() << "prlimit is not installed";
  test::ScratchDir dir;
  const std::string intact = test::Fixture("ntfs-4k.img");  // 4 KiB clusters
  const struct {
    std::string name;
    std::uint64_t totalSectors, bitmapBytes;
    std::string sparseSize;  // the image grown, holes only, to this size
    std::vector<std::string> logged;
    int status;
  } cases[] = {
      {"terabytes-on-64GiB", 1ULL << 40, 1ULL << 40, "64G",
       {"$Bitmap claims 1099511627776 bytes, more than the volume's 137438953472 clusters need; only its first "
        "2097152 bytes are read.",
        "$Bitmap describes 16777216 clusters of the volume's 137438953472; the rest are not judged."},
       0},
      // Sizes that agree with an 8 TiB source: 256 MiB of bitmap is more than
      // the limit lets the process have.
      {"8TiB-volume-over-the-limit", (8ULL << 40) / 512 - 1, 1ULL << 28, "8T",
       {"there is not enough memory to hold its bitmap of 2147483647 clusters, so the volume cannot be read."}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string image = test::CopyOf(intact, dir, c.name + ".img");
    const NtfsGeometry g = GeometryOf(image);
    EditRecord(image, RecordOffset(image, g, 6), [&](Buffer& r) {
      const std::size_t data = FindAttribute(r, 0x80);
      // Its allocated, data and initialized sizes.
      for (const std::size_t field : {40, 48, 56}) PutU64(r, data + field, c.bitmapBytes);
    });
    test::WriteAt(image, 40, test::Le(c.totalSectors, 8));
    Sh("truncate -s " + c.sparseSize + " " + image);
    for (const char* mode : {"--quick", ""}) {
      SCOPED_TRACE(mode);
      const auto r = RunCommand("prlimit --as=200000000 " + std::string(TESSILON_CLI) + " scan --json " + mode +
                                " " + image);
      EXPECT_EQ(r.status, c.status) << r.err;
      for (const auto& line : c.logged) EXPECT_NE(r.err.find(line), std::string::npos) << line << "\n" << r.err;
      if (c.status == 0) {
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
