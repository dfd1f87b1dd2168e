// Sources handed over as open descriptors, as a device the system opened on
// the user's behalf comes: one open for reading only is read as its path
// would be, one that could write is refused and closed, and a device's
// sector size comes from the descriptor.
#include <fcntl.h>
#include <unistd.h>

#include "source/volume_source.h"
#include "test_support.h"

namespace tsn {
namespace {

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

  test::ScratchDir dir;
  const std::string copy = dir.Path("copy.img");
  test::Sh("cp " + image + " " + copy);
  const std::string before = test::Sha256OfFile(copy);
  const struct {
    int flags;
    bool taken;
  } cases[] = {{O_RDONLY, true}, {O_RDWR, false}, {O_WRONLY, false}};
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
