// Reading volumes: sector reads, the read-ahead window, partition views and
// unreadable sectors.

#include <cerrno>
#include <random>

#include "test_support.h"
#include "source/read_sectors.h"
#include "source/volume_source.h"

namespace tsn {
namespace {

std::vector<std::uint8_t> Pattern(std::size_t n, std::uint32_t seed) {
  std::vector<std::uint8_t> v(n);
  std::mt19937 rng(seed);
  for (auto& b : v) b = static_cast<std::uint8_t>(rng());
  return v;
}

TEST(ReadSectors, ReadsSectorAfterSectorFromTheReadAheadWindowAndZeroFillsPastTheEnd) {
  test::ScratchDir dir;
  const auto bytes = Pattern(5 * 1024 * 1024 + 100, 1);  // ends in a partial sector
  const std::uint64_t last = bytes.size() / 512;
  test::WriteFile(dir.Path("v.img"), bytes);
  auto opened = VolumeSource::Open(dir.Path("v.img"));
  ASSERT_TRUE(opened.source) << opened.error;
  VolumeSource* v = opened.source.get();

  // As the scanners read: served mostly from the window.
  std::vector<std::uint8_t> sectors(1536);
  for (std::uint64_t lba = 0; lba + 3 <= last; lba += 3) {
    ASSERT_EQ(ReadSectors(nullptr, v, lba, sectors), 1);
    ASSERT_TRUE(std::equal(sectors.begin(), sectors.end(), bytes.begin() + static_cast<long>(lba * 512)));
  }
  EXPECT_LT(v->DeviceReads(), 40u);  // 3,000+ reads, a handful of device reads

  std::vector<std::uint8_t> tail(1024, 0xAA);
  EXPECT_EQ(ReadSectors(nullptr, v, last, tail), 0);
  EXPECT_TRUE(std::equal(tail.begin(), tail.begin() + 100, bytes.begin() + static_cast<long>(last * 512)));
  EXPECT_TRUE(std::all_of(tail.begin() + 100, tail.end(), [](auto b) { return b == 0; }));

  // Byte 2^32 + 512, past the end: not sector 1 again.
  std::vector<std::uint8_t> beyond(512, 0xAA);
  EXPECT_EQ(ReadSectors(nullptr, v, (1ULL << 23) + 1, beyond), 0);
  EXPECT_TRUE(std::all_of(beyond.begin(), beyond.end(), [](auto b) { return b == 0; }));
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

// Bad sectors served by a real FUSE file system answering EIO: one in the
// middle of a large read, two side by side, one at the very end, and one
// that straddles no sector boundary of the request's own.
TEST(VolumeSource, AnUnreadableSectorCostsOnlyItselfAndIsRemembered) {
  test::ScratchDir dir;
  const auto bytes = Pattern(3 * 1024 * 1024, 5);
  test::WriteFile(dir.Path("v.img"), bytes);
  const std::vector<std::pair<std::uint64_t, std::uint64_t>> bad{
      {1'000'000 / 512 * 512, 1'000'000 / 512 * 512 + 511},  // one sector inside a 1 MiB read
      {2'097'152, 2'097'152 + 1023},                          // two sectors at a window's edge
      {bytes.size() - 512, bytes.size() - 1}};                // the last sector
  test::FailingImage failing(dir.Path("v.img"), bad);
  if (failing.path().empty()) GTEST_SKIP() << failing.why();
  auto opened = VolumeSource::Open(failing.path());
  ASSERT_TRUE(opened.source) << opened.error;
  VolumeSource& v = *opened.source;

  auto expectAsServed = [&](std::uint64_t off, const std::vector<std::uint8_t>& out, ReadOutcome o) {
    bool touched = false;
    for (std::size_t i = 0; i < o.inView; ++i) {
      const std::uint64_t at = off + i;
      const bool isBad = std::any_of(bad.begin(), bad.end(), [&](auto r) { return at >= r.first && at <= r.second; });
      touched = touched || isBad;
      ASSERT_EQ(out[i], isBad ? 0 : bytes[at]) << "byte " << at;
    }
    EXPECT_EQ(o.unreadable, touched) << "at " << off;
    if (touched) {
      EXPECT_EQ(o.error, EIO);
    }
  };
  // A megabyte at once, sector after sector, and odd sizes at odd places.
  std::vector<std::uint8_t> big(1024 * 1024);
  expectAsServed(512 * 1024, big, v.Read(512 * 1024, big));
  std::vector<std::uint8_t> sector(512);
  for (std::uint64_t off = 0; off < bytes.size(); off += 512) expectAsServed(off, sector, v.Read(off, sector));
  std::mt19937 rng(6);
  for (int i = 0; i < 300; ++i) {
    const std::uint64_t off = rng() % bytes.size();
    std::vector<std::uint8_t> out(1 + rng() % (200 * 1024));
    expectAsServed(off, out, v.Read(off, out));
  }
  // Each bad stretch is one range, with its cause, and nothing else is.
  ASSERT_EQ(v.UnreadableRanges().size(), bad.size());
  for (std::size_t i = 0; i < bad.size(); ++i) {
    EXPECT_EQ(v.UnreadableRanges()[i].first, bad[i].first);
    EXPECT_EQ(v.UnreadableRanges()[i].last, bad[i].second);
    EXPECT_EQ(v.UnreadableRanges()[i].error, EIO);
  }
  // The sector reader says so too, and keeps what it could read.
  std::vector<std::uint8_t> two(1024, 0xAA);
  EXPECT_EQ(ReadSectors(nullptr, &v, bad[0].first / 512 - 1, two), 0);
  EXPECT_TRUE(std::equal(two.begin(), two.begin() + 512, bytes.begin() + static_cast<long>(bad[0].first - 512)));
  EXPECT_TRUE(SectorsUnreadable(&v, bad[0].first / 512 - 1, 1024));
  EXPECT_FALSE(SectorsUnreadable(&v, 0, 1024));
}

}  // namespace
}  // namespace tsn
