// Reading volumes: sector reads, the read-ahead window, partition views, unreadable sectors, and sources handed over as
// open descriptors, as a device the system opened on the user's behalf comes.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <tuple>

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

// Bad sectors served by a real FUSE file system answering EIO: one in the middle of a large read, two side by side, one
// at the very end, and one that straddles no sector boundary of the request's own.
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
    EXPECT_TRUE(!touched || o.error == EIO) << "error " << o.error << " at " << off;
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
  std::vector<std::tuple<std::uint64_t, std::uint64_t, int>> ranges, expected;
  for (const auto& r : v.UnreadableRanges()) ranges.emplace_back(r.first, r.last, r.error);
  for (const auto& [first, last] : bad) expected.emplace_back(first, last, EIO);
  EXPECT_EQ(ranges, expected);
  // The sector reader says so too, and keeps what it could read.
  std::vector<std::uint8_t> two(1024, 0xAA);
  EXPECT_EQ(ReadSectors(nullptr, &v, bad[0].first / 512 - 1, two), 0);
  EXPECT_TRUE(std::equal(two.begin(), two.begin() + 512, bytes.begin() + static_cast<long>(bad[0].first - 512)));
  EXPECT_TRUE(SectorsUnreadable(&v, bad[0].first / 512 - 1, 1024));
  EXPECT_FALSE(SectorsUnreadable(&v, 0, 1024));
}

std::vector<std::uint8_t> ReadAll(VolumeSource& v) {
  std::vector<std::uint8_t> out(v.Size());
  EXPECT_TRUE(v.Read(0, out).Whole(out.size()));
  return out;
}

TEST(DescriptorSource, OnlyAReadOnlyDescriptorIsTakenAndItReadsAsThePathDoes) {
  const std::string image = test::Fixture("fat12-512.img");
  OpenResult byPath = VolumeSource::Open(image, 4096, 65536);
  ASSERT_TRUE(byPath.source) << byPath.error;
  const std::vector<std::uint8_t> expected = ReadAll(*byPath.source);
  // A view of a partition holds its bytes and no more.
  EXPECT_EQ(expected, test::ReadAt(image, 4096, 65536));
  std::vector<std::uint8_t> past(1024);
  EXPECT_EQ(byPath.source->ReadAt(65536 - 512, past), 512u);

  test::ScratchDir dir;
  const std::string copy = test::CopyOf(image, dir, "copy.img");
  const std::string before = test::Sha256OfFile(copy);
  const struct { int flags; bool taken; } cases[] = {{O_RDONLY, true}, {O_RDWR, false}, {O_WRONLY, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.flags);
    const int fd = ::open(copy.c_str(), c.flags | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    OpenResult opened = VolumeSource::OpenDescriptor(FileHandle(fd), copy, 4096, 65536);
    if (!c.taken) {
      EXPECT_FALSE(opened.source);
      EXPECT_EQ(opened.error, copy + ": refused: it was handed over open for writing, and only a read-only descriptor is read");
      // Refused means closed, not left open for anything to write through.
      EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
      continue;
    }
    ASSERT_TRUE(opened.source) << opened.error;
    EXPECT_EQ(opened.source->Path(), copy);
    EXPECT_EQ(opened.source->SectorSize(), 512u);
    EXPECT_EQ(opened.source->BaseOffset(), 4096u);
    EXPECT_EQ(ReadAll(*opened.source), expected);
  }
  EXPECT_EQ(test::Sha256OfFile(copy), before);
}

TEST(DescriptorSource, ADevicesSectorSizeComesFromItsDescriptor) {
  if (::geteuid() != 0 || !test::HaveTool("losetup")) GTEST_SKIP() << "needs root to attach a loop device";
  test::ScratchDir dir;
  const std::string image = dir.Path("disk.img");
  test::Sh("truncate -s 1M " + image);
  for (const std::uint32_t sector : {512u, 4096u}) {
    const auto attached = test::RunCommand("losetup -r -f --show --sector-size " + std::to_string(sector) + " " + image);
    if (attached.status != 0) GTEST_SKIP() << "losetup: " << attached.err;
    const std::string device = test::Split(attached.out, '\n').front();
    const int fd = ::open(device.c_str(), O_RDONLY | O_CLOEXEC);
    OpenResult opened = VolumeSource::OpenDescriptor(FileHandle(fd), device);
    test::RunCommand("losetup -d " + device);
    ASSERT_TRUE(opened.source) << opened.error;
    EXPECT_EQ(opened.source->SectorSize(), sector) << device;
    EXPECT_EQ(opened.source->Size(), 1u << 20) << device;
  }
}

}  // namespace
}  // namespace tsn
