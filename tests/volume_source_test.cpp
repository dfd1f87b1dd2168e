// Reading volumes: sector reads, the read-ahead window and 64-bit offsets.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <numeric>
#include <random>

#include "test_support.h"
#include "volume/read_sectors.h"
#include "volume/volume_source.h"

namespace tsn {
namespace {

std::vector<std::uint8_t> Pattern(std::size_t n, std::uint32_t seed) {
  std::vector<std::uint8_t> v(n);
  std::mt19937 rng(seed);
  for (auto& b : v) b = static_cast<std::uint8_t>(rng());
  return v;
}

TEST(ReadSectors, ReadsWholeSectorsAndZeroFillsPastTheEnd) {
  test::ScratchDir dir;
  const auto bytes = Pattern(10 * 512 + 100, 1);  // ends in a partial sector
  test::WriteFile(dir.Path("v.img"), bytes);
  auto opened = VolumeSource::Open(dir.Path("v.img"));
  ASSERT_TRUE(opened.source) << opened.error;

  std::vector<std::uint8_t> boot(1536);
  EXPECT_EQ(ReadSectors(nullptr, opened.source.get(), 0, boot), 1);
  EXPECT_TRUE(std::equal(boot.begin(), boot.end(), bytes.begin()));

  std::vector<std::uint8_t> tail(1024, 0xAA);
  EXPECT_EQ(ReadSectors(nullptr, opened.source.get(), 10, tail), 0);
  EXPECT_TRUE(std::equal(tail.begin(), tail.begin() + 100, bytes.begin() + 5120));
  EXPECT_TRUE(std::all_of(tail.begin() + 100, tail.end(), [](auto b) { return b == 0; }));

  std::vector<std::uint8_t> beyond(512, 0xAA);
  EXPECT_EQ(ReadSectors(nullptr, opened.source.get(), 1'000'000, beyond), 0);
  EXPECT_TRUE(std::all_of(beyond.begin(), beyond.end(), [](auto b) { return b == 0; }));
}

TEST(ReadSectors, ReachesOffsetsAboveFourGigabytes) {
  test::ScratchDir dir;
  const std::string path = dir.Path("sparse.img");
  const std::uint64_t lba = (5ULL << 30) / 512 + 7;  // past 2^32 bytes and 2^32/512 sectors
  {
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const char marker[] = "far away";
    ASSERT_EQ(::pwrite(fd, marker, sizeof marker, static_cast<off_t>(lba * 512)),
              static_cast<ssize_t>(sizeof marker));
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>((lba + 1) * 512)), 0);
    ::close(fd);
  }
  auto opened = VolumeSource::Open(path);
  ASSERT_TRUE(opened.source);
  std::vector<std::uint8_t> sector(512);
  EXPECT_EQ(ReadSectors(nullptr, opened.source.get(), lba, sector), 1);
  EXPECT_STREQ(reinterpret_cast<const char*>(sector.data()), "far away");
}

TEST(VolumeSource, ReadAheadGivesTheSameBytesAsTheFileWhateverTheOrder) {
  test::ScratchDir dir;
  const auto bytes = Pattern(5 * 1024 * 1024 + 300, 2);
  test::WriteFile(dir.Path("v.img"), bytes);
  auto opened = VolumeSource::Open(dir.Path("v.img"));
  ASSERT_TRUE(opened.source);
  VolumeSource& v = *opened.source;

  // Sector after sector, as the scanners read: served mostly from the window.
  std::vector<std::uint8_t> sector(512);
  for (std::uint64_t off = 0; off + 512 <= bytes.size(); off += 512) {
    ASSERT_EQ(v.ReadAt(off, sector), 512u);
    ASSERT_TRUE(std::equal(sector.begin(), sector.end(), bytes.begin() + static_cast<long>(off)));
  }
  EXPECT_LT(v.DeviceReads(), 40u);  // 10,000+ sector reads, a handful of device reads

  // Random sizes at random places, spanning window edges and the end.
  std::mt19937 rng(3);
  for (int i = 0; i < 2000; ++i) {
    const std::uint64_t off = rng() % (bytes.size() + 1000);
    std::vector<std::uint8_t> out(1 + rng() % (3 * 1024 * 1024 / (1 + (i % 50))));
    const std::size_t got = v.ReadAt(off, out);
    const std::size_t expect =
        off >= bytes.size() ? 0 : std::min<std::size_t>(out.size(), bytes.size() - off);
    ASSERT_EQ(got, expect) << "at " << off;
    ASSERT_TRUE(std::equal(out.begin(), out.begin() + static_cast<long>(got),
                           bytes.begin() + static_cast<long>(std::min<std::uint64_t>(off, bytes.size()))));
  }
}

TEST(VolumeSource, APartitionViewIsBoundedToItsPartition) {
  test::ScratchDir dir;
  const auto bytes = Pattern(64 * 1024, 4);
  test::WriteFile(dir.Path("disk.img"), bytes);
  auto opened = VolumeSource::Open(dir.Path("disk.img"), 8192, 4096);
  ASSERT_TRUE(opened.source);
  std::vector<std::uint8_t> out(8192);
  EXPECT_EQ(opened.source->ReadAt(0, out), 4096u);
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + 4096, bytes.begin() + 8192));
  EXPECT_EQ(opened.source->ReadAt(4096, out), 0u);
}

TEST(VolumeSource, RefusesWhatIsNotAnImageWithAReason) {
  test::ScratchDir dir;
  auto missing = VolumeSource::Open(dir.Path("nope.img"));
  EXPECT_FALSE(missing.source);
  EXPECT_NE(missing.error.find("No such file"), std::string::npos);
  auto folder = VolumeSource::Open(dir.dir());
  EXPECT_FALSE(folder.source);
  EXPECT_NE(folder.error.find("is a folder"), std::string::npos);
}

}  // namespace
}  // namespace tsn
