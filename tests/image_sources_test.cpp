// Images as examiners hold them (E01, VHD, VHDX, VMDK, QCOW2, split raw), made from the fixtures with ewfacquire,
// qemu-img and split: each must read as the raw image it was made from, and stay unchanged. Damaged and unreadable
// containers must say what is wrong with them.

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <random>

#include "source/byte_source.h"
#include "test_support.h"

namespace tsn {
namespace {

namespace fs = std::filesystem;
using test::Quote;

// Runs `commands` in `dir`, with RAW standing for the fixture image.
void Make(const test::ScratchDir& dir, const std::string& fixture, std::string commands) {
  for (std::size_t at; (at = commands.find("RAW")) != std::string::npos;)
    commands.replace(at, 3, Quote(test::Fixture(fixture)));
  test::Sh("cd " + Quote(dir.dir()) + " && { " + commands + "; } >/dev/null");
}

std::map<std::string, std::string> HashesIn(const std::string& dir) {
  std::map<std::string, std::string> out;
  for (const auto& entry : fs::recursive_directory_iterator(dir))
    if (entry.is_regular_file() && !test::IsCopyManifest(entry.path())) out[fs::relative(entry.path(), dir).string()] = test::Sha256OfFile(entry.path());
  return out;
}

// A scan of a raw fixture, made once for all the containers made from it.
const test::Scan& RawScan(const std::string& fixture, bool quick, const std::string& extra) {
  static std::map<std::string, test::Scan> scans;
  const std::string key = fixture + (quick ? " quick " : " indexed ") + extra;
  if (!scans.count(key)) scans.emplace(key, test::RunScan(test::Fixture(fixture), quick, extra));
  return scans.at(key);
}

bool HaveImageTools() {
  return test::HaveTool("ewfacquire") && test::HaveTool("qemu-img") && test::HaveTool("split");
}

TEST(ImageSources, EachContainerReadsAsTheRawImageItWasMadeFromAndIsLeftUnchanged) {
  if (!HaveImageTools()) GTEST_SKIP() << "ewfacquire, qemu-img or split is missing";
  for (const nlohmann::json& c : test::DataRows("containers.jsonl")) {
    SCOPED_TRACE(c["what"].get<std::string>());
    const std::string fixture = c["fixture"], rawExtra = c["raw_extra"];
    test::ScratchDir dir;
    Make(dir, fixture, c["make"]);
    const std::string image = dir.Path(c["open"]);
    const auto before = HashesIn(dir.dir());

    const auto drives = test::RunCommand(test::TimedCli("drives --no-devices " + Quote(image)));
    EXPECT_EQ(drives.status, 0) << drives.err;
    EXPECT_TRUE(test::Has(drives.out, dir.dir() + "/" + c["shown"].get<std::string>())) << drives.out;

    for (const bool quick : {true, false}) {
      SCOPED_TRACE(quick ? "quick scan" : "indexed scan");
      const test::Scan& raw = RawScan(fixture, quick, rawExtra);
      const test::Scan got = test::RunScan(image, quick);
      ASSERT_EQ(raw.status, 0) << raw.log;
      EXPECT_EQ(got.status, 0) << got.log;
      ASSERT_FALSE(raw.entries.empty());
      EXPECT_EQ(got.entries, raw.entries);
    }

    // Every deleted file copied out of the container is the one copied out of the raw image, byte for byte.
    const test::ScratchDir out;
    const std::string fromRaw = out.Path("raw"), fromImage = out.Path("image");
    const auto rawCopy = test::CliCopy(test::Fixture(fixture), fromRaw, {}, rawExtra);
    const auto imageCopy = test::CliCopy(image, fromImage);
    EXPECT_EQ(imageCopy.status, rawCopy.status) << imageCopy.err;
    const auto copied = HashesIn(fromImage);
    EXPECT_FALSE(copied.empty());
    EXPECT_EQ(copied, HashesIn(fromRaw));

    EXPECT_EQ(HashesIn(dir.dir()), before);
  }
}

// The sum VHD footers and headers carry: every byte added, the field itself as zeros, and the total inverted.
void SetVhdChecksum(std::vector<std::uint8_t>& bytes, std::size_t at, std::size_t length, std::size_t field) {
  for (std::size_t i = 0; i < 4; ++i) bytes[at + field + i] = 0;
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < length; ++i) sum += bytes[at + i];
  sum = ~sum;
  for (std::size_t i = 0; i < 4; ++i) bytes[at + field + i] = static_cast<std::uint8_t>(sum >> (24 - 8 * i));
}

// Turns an empty dynamic VHD made by qemu-img (which cannot make differencing ones) into a differencing disk over
// `parent`: the disk type in both footers, the parent's identifier and name in the dynamic header.
void MakeDifferencing(const std::string& child, const std::string& parent, const std::string& parentName) {
  std::vector<std::uint8_t> bytes = test::ReadAt(child, 0, fs::file_size(child));
  const std::string parentText = test::ReadAll(parent);
  const std::size_t parentFooter = parentText.size() - 512;
  ASSERT_EQ(parentText.compare(parentFooter, 8, "conectix"), 0);
  ASSERT_GE(bytes.size(), 2048u);
  for (const std::size_t footer : {std::size_t{0}, bytes.size() - 512}) {
    ASSERT_EQ(std::string(bytes.begin() + footer, bytes.begin() + footer + 8), "conectix");
    bytes[footer + 63] = 4;  // differencing
    SetVhdChecksum(bytes, footer, 512, 64);
  }
  const std::size_t header = 512;
  ASSERT_EQ(std::string(bytes.begin() + header, bytes.begin() + header + 8), "cxsparse");
  std::copy_n(parentText.begin() + parentFooter + 68, 16, bytes.begin() + header + 40);
  std::fill_n(bytes.begin() + header + 64, 512, 0);
  for (std::size_t i = 0; i < parentName.size(); ++i) bytes[header + 64 + 2 * i + 1] = static_cast<std::uint8_t>(parentName[i]);
  SetVhdChecksum(bytes, header, 1024, 36);
  test::WriteFile(child, bytes);
}

TEST(ImageSources, ADifferencingVhdReadsThroughItsParentBesideItAndIsNotListedWithoutIt) {
  if (!HaveImageTools()) GTEST_SKIP() << "qemu-img is missing";
  test::ScratchDir dir;
  Make(dir, "mbr-disk.img", "qemu-img convert -O vpc RAW parent.vhd && qemu-img create -q -f vpc child.vhd "
       "$(qemu-img info --output=json parent.vhd | sed -n 's/.*\"virtual-size\": \\([0-9]*\\).*/\\1/p')");
  MakeDifferencing(dir.Path("child.vhd"), dir.Path("parent.vhd"), "parent.vhd");
  const auto before = HashesIn(dir.dir());
  const test::Scan& raw = RawScan("mbr-disk.img", true, "");
  const test::Scan child = test::RunScan(dir.Path("child.vhd"), true);
  EXPECT_EQ(child.status, 0) << child.log;
  ASSERT_FALSE(raw.entries.empty());
  EXPECT_EQ(child.entries, raw.entries);
  const auto drives = test::RunCommand(test::TimedCli("drives --no-devices " + Quote(dir.Path("child.vhd"))));
  EXPECT_TRUE(test::Has(drives.out, "child.vhd (VHD differencing, parent parent.vhd) partition 1")) << drives.out;
  EXPECT_EQ(HashesIn(dir.dir()), before);

  fs::rename(dir.Path("parent.vhd"), dir.Path("elsewhere.vhd"));
  const test::Scan orphan = test::RunScan(dir.Path("child.vhd"), true);
  EXPECT_EQ(orphan.status, 1);
  EXPECT_TRUE(orphan.entries.empty());
  EXPECT_TRUE(orphan.Logged(dir.Path("child.vhd") +
                            ": a differencing VHD disk whose parent parent.vhd is not beside it; it is not listed"))
      << orphan.log;
}

TEST(ImageSources, DamagedOrUnreadableContainersSayWhatIsWrong) {
  if (!HaveImageTools()) GTEST_SKIP() << "ewfacquire, qemu-img or split is missing";
  for (const nlohmann::json& c : test::DataRows("broken-containers.jsonl")) {
    SCOPED_TRACE(c["what"].get<std::string>());
    test::ScratchDir dir;
    Make(dir, c["fixture"], c["make"]);
    const test::Scan scan = test::RunScan(dir.Path(c["open"]), false);
    EXPECT_EQ(scan.status, c["status"]) << scan.log;
    EXPECT_TRUE(scan.Logged(c["logged"])) << scan.log;
    EXPECT_FALSE(scan.Logged("holds no known file system")) << scan.log;
  }
}

constexpr std::size_t kChunk = 32 << 10;  // what ewfacquire writes by default

// 8 MiB: text that deflates well (its chunks stored compressed), then noise that does not (its chunks stored as is).
std::vector<std::uint8_t> MixedImage() {
  std::vector<std::uint8_t> bytes;
  for (std::size_t line = 0; bytes.size() < (4u << 20); ++line) {
    const std::string text = "line " + std::to_string(line) + " of the compressible half\n";
    bytes.insert(bytes.end(), text.begin(), text.end());
  }
  bytes.resize(4u << 20);
  std::mt19937 rng(7);
  while (bytes.size() < (8u << 20)) bytes.push_back(static_cast<std::uint8_t>(rng()));
  return bytes;
}

std::uint32_t Adler32(std::span<const std::uint8_t> bytes) {
  std::uint32_t a = 1, b = 0;
  for (const std::uint8_t byte : bytes) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  return b << 16 | a;
}

// Spoils one byte of `what` in the file, which must hold it exactly once.
void SpoilOnce(const std::string& path, const std::string& what, std::size_t at) {
  std::string bytes = test::ReadAll(path);
  const std::size_t found = bytes.find(what);
  ASSERT_NE(found, std::string::npos);
  ASSERT_EQ(bytes.find(what, found + 1), std::string::npos);
  bytes[found + at] = static_cast<char>(bytes[found + at] ^ 0x5A);
  test::WriteFile(path, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

// Reads each piece (offset, length) in turn, as the workers fill the cache behind the scans: each must give the raw
// image's bytes, up to the first byte of a damaged chunk, where it fails with EIO.
void ExpectPieces(ByteSource& source, const std::vector<std::uint8_t>& raw, const std::set<std::size_t>& bad,
                         const std::vector<std::pair<std::size_t, std::size_t>>& pieces) {
  std::vector<std::uint8_t> got;
  for (const auto& [at, n] : pieces) {
    got.assign(n, 0);
    std::size_t read = 0, good = 0;
    int error = 0;
    while (read < n) {
      const std::size_t some = source.ReadSome(at + read, std::span(got).subspan(read), &error);
      if (some == 0) break;
      read += some;
    }
    while (good < n && !bad.count((at + good) / kChunk)) ++good;
    EXPECT_EQ(read, good) << "read at " << at;
    EXPECT_TRUE(good == n || error == EIO) << "error " << error << " in the read at " << at;
    if (!std::equal(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(std::min(read, good)),
                    raw.begin() + static_cast<std::ptrdiff_t>(at)))
      ADD_FAILURE() << "wrong bytes read at " << at;
  }
}

// Chunks compressed and stored, of two sizes; and two chunks damaged, one compressed (it ends in the checksum of its
// inflated bytes, written high byte first) and one stored (it holds its bytes themselves). Read onward in large reads,
// as a scan streams the MFT, in small ones that straddle blocks, sector by sector, then the damaged sectors again
// backwards and pieces of every size in no order at all: the damage is remembered, and no other byte is touched by it.
TEST(ImageSources, AnE01ReadsAsItsRawImageInEveryOrderAndADamagedChunkFailsForExactlyItsBytes) {
  if (!test::HaveTool("ewfacquire")) GTEST_SKIP() << "ewfacquire is missing";
  const std::vector<std::uint8_t> raw = MixedImage();
  const std::size_t compressed = 40, stored = 200;
  const struct { const char *what, *options; bool damaged; } cases[] = {
      {"deflate, two chunks damaged", "-c deflate:fast", true},
      {"deflate, chunks of 64 KiB", "-c deflate:best -b 128", false}, {"not compressed", "-c none", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::ScratchDir dir;
    test::WriteFile(dir.Path("raw.img"), raw);
    test::Sh("cd " + Quote(dir.dir()) + " && ewfacquire -u -q -t ev " + c.options + " raw.img >/dev/null");
    std::set<std::size_t> bad;
    if (c.damaged) {
      const auto chunk = [&](std::size_t n) { return std::span(raw).subspan(n * kChunk, kChunk); };
      const std::uint32_t sum = Adler32(chunk(compressed));
      SpoilOnce(dir.Path("ev.E01"), {static_cast<char>(sum >> 24), static_cast<char>(sum >> 16),
                                     static_cast<char>(sum >> 8), static_cast<char>(sum)}, 1);
      SpoilOnce(dir.Path("ev.E01"), std::string(chunk(stored).begin(), chunk(stored).end()), kChunk / 2);
      bad = {compressed, stored};
    }
    ByteSourceOpen opened = OpenImageSource(dir.Path("ev.E01"));
    ASSERT_TRUE(opened.source) << opened.error;
    ASSERT_EQ(opened.source->Size(), raw.size());
    std::vector<std::pair<std::size_t, std::size_t>> pieces;
    for (const std::size_t step : {std::size_t{1} << 20, std::size_t{3000}, std::size_t{512}})
      for (std::size_t at = 0; at < raw.size(); at += step) pieces.emplace_back(at, std::min(step, raw.size() - at));
    for (const std::size_t n : bad)
      for (std::size_t at = n * kChunk + kChunk; at > n * kChunk; at -= 512) pieces.emplace_back(at - 512, 512);
    std::mt19937 rng(11);
    std::vector<std::pair<std::size_t, std::size_t>> scattered;
    for (std::size_t at = 0; at < raw.size(); at += scattered.back().second)
      scattered.emplace_back(at, std::min<std::size_t>(1 + rng() % (3 * kChunk), raw.size() - at));
    std::shuffle(scattered.begin(), scattered.end(), rng);
    pieces.insert(pieces.end(), scattered.begin(), scattered.end());
    ExpectPieces(*opened.source, raw, bad, pieces);
  }
}

}  // namespace
}  // namespace tsn
