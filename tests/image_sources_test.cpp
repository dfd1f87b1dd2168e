// Images as examiners hold them (E01, VHD, VHDX, VMDK, QCOW2, split raw),
// made from the fixtures with ewfacquire, qemu-img and split: each must read
// as the raw image it was made from, and stay unchanged. Damaged and
// unreadable containers must say what is wrong with them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include "source/byte_source.h"
#include "test_support.h"

namespace tsn {
namespace {

namespace fs = std::filesystem;
using test::Has;
using test::Quote;
using test::RunCommand;

// Runs `commands` in `dir`, with RAW standing for the fixture image.
void Make(const test::ScratchDir& dir, const std::string& fixture, std::string commands) {
  for (std::size_t at; (at = commands.find("RAW")) != std::string::npos;)
    commands.replace(at, 3, Quote(test::Fixture(fixture)));
  test::Sh("cd " + Quote(dir.dir()) + " && { " + commands + "; } >/dev/null");
}

// The sha256 of every file in the folder, by name.
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
  auto it = scans.find(key);
  if (it == scans.end()) it = scans.emplace(key, test::RunScan(test::Fixture(fixture), quick, extra)).first;
  return it->second;
}

bool HaveImageTools() {
  return test::HaveTool("ewfacquire") && test::HaveTool("qemu-img") && test::HaveTool("split");
}

struct ContainerCase {
  const char* what;
  const char* fixture;
  const char* make;       // shell commands in a scratch folder
  const char* open;       // the file the program is given
  const char* shown;      // how the drive list names the container
  const char* rawExtra;   // what the raw image needs to read the same (its sector size)
};

TEST(ImageSources, EachContainerReadsAsTheRawImageItWasMadeFromAndIsLeftUnchanged) {
  if (!HaveImageTools()) GTEST_SKIP() << "ewfacquire, qemu-img or split is missing";
  const ContainerCase cases[] = {
      {"E01 in segments of 1 MiB", "ntfs-4k.img", "ewfacquire -u -q -t ev -c deflate:fast -S 1MiB RAW", "ev.E01",
       "ev.E01 (E01, 9 segments)", ""},
      {"E01 of a partitioned disk", "mbr-disk.img", "ewfacquire -u -q -t disk -c deflate:fast -S 1MiB RAW",
       "disk.E01", "disk.E01 (E01) partition 1", ""},
      {"E01 of a disk of 4096-byte sectors, its sector size recorded", "gpt-4kn-disk.img",
       "ewfacquire -u -q -t disk4k -P 4096 -c deflate:fast -S 1MiB RAW", "disk4k.E01",
       "disk4k.E01 (E01, 2 segments) partition 1", "--sector-size 4096"},
      {"dynamic VHD", "mbr-disk.img", "qemu-img convert -O vpc RAW d.vhd", "d.vhd", "d.vhd (VHD) partition 1", ""},
      {"fixed VHD", "fat32-512.img", "qemu-img convert -O vpc -o subformat=fixed,force_size=on RAW f.vhd", "f.vhd",
       "f.vhd (VHD)", ""},
      {"VHDX", "gpt-disk.img", "qemu-img convert -O vhdx RAW d.vhdx", "d.vhdx", "d.vhdx (VHDX) partition 1", ""},
      {"sparse VMDK", "fat32-512.img", "qemu-img convert -O vmdk RAW s.vmdk", "s.vmdk", "s.vmdk (VMDK)", ""},
      {"VMDK descriptor with a flat extent", "ntfs-1k.img",
       "qemu-img convert -O vmdk -o subformat=monolithicFlat RAW flat.vmdk", "flat.vmdk",
       "flat.vmdk (VMDK, 2 files)", ""},
      {"QCOW2 over a backing file", "gpt-disk.img",
       "qemu-img convert -O qcow2 RAW base.qcow2 && qemu-img create -q -f qcow2 -b base.qcow2 -F qcow2 top.qcow2",
       "top.qcow2", "top.qcow2 (QCOW2, backing file base.qcow2) partition 1", ""},
      {"split raw, numbered", "mbr-disk.img", "split -d -a 3 --numeric-suffixes=1 -b 16M RAW disk.img.",
       "disk.img.001", "disk.img.001 (split raw, 5 segments) partition 1", ""},
      {"split raw, lettered", "fat32-512.img", "split -b 20M RAW vol.", "vol.aa", "vol.aa (split raw, 3 segments)",
       ""},
  };
  for (const ContainerCase& c : cases) {
    SCOPED_TRACE(c.what);
    test::ScratchDir dir;
    Make(dir, c.fixture, c.make);
    const std::string image = dir.Path(c.open);
    const auto before = HashesIn(dir.dir());

    const auto drives = RunCommand(test::TimedCli("drives --no-devices " + Quote(image)));
    EXPECT_EQ(drives.status, 0) << drives.err;
    EXPECT_TRUE(Has(drives.out, std::string(dir.dir()) + "/" + c.shown)) << drives.out;

    for (const bool quick : {true, false}) {
      SCOPED_TRACE(quick ? "quick scan" : "indexed scan");
      const test::Scan& raw = RawScan(c.fixture, quick, c.rawExtra);
      const test::Scan got = test::RunScan(image, quick);
      ASSERT_EQ(raw.status, 0) << raw.log;
      EXPECT_EQ(got.status, 0) << got.log;
      ASSERT_FALSE(raw.entries.empty());
      EXPECT_EQ(got.entries, raw.entries);
    }

    // Every deleted file copied out of the container is the one copied out
    // of the raw image, byte for byte.
    const std::string fromRaw = dir.Path("out-raw"), fromImage = dir.Path("out-image");
    const auto rawCopy = test::CliCopy(test::Fixture(c.fixture), fromRaw, {}, c.rawExtra);
    const auto imageCopy = test::CliCopy(image, fromImage);
    EXPECT_EQ(imageCopy.status, rawCopy.status) << imageCopy.err;
    const auto copied = HashesIn(fromImage);
    EXPECT_FALSE(copied.empty());
    EXPECT_EQ(copied, HashesIn(fromRaw));
    fs::remove_all(fromRaw);
    fs::remove_all(fromImage);

    EXPECT_EQ(HashesIn(dir.dir()), before);
  }
}

// The sum VHD footers and headers carry: every byte added, the field itself
// as zeros, and the total inverted.
void SetVhdChecksum(std::vector<std::uint8_t>& bytes, std::size_t at, std::size_t length, std::size_t field) {
  for (std::size_t i = 0; i < 4; ++i) bytes[at + field + i] = 0;
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < length; ++i) sum += bytes[at + i];
  sum = ~sum;
  for (std::size_t i = 0; i < 4; ++i) bytes[at + field + i] = static_cast<std::uint8_t>(sum >> (24 - 8 * i));
}

// Turns an empty dynamic VHD made by qemu-img (which cannot make
// differencing ones) into a differencing disk over `parent`: the disk type in
// both footers, the parent's identifier and name in the dynamic header.
void MakeDifferencing(const std::string& child, const std::string& parent, const std::string& parentName) {
  std::string text = test::ReadAll(child);
  std::vector<std::uint8_t> bytes(text.begin(), text.end());
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
  Make(dir, "mbr-disk.img",
       "qemu-img convert -O vpc RAW parent.vhd && qemu-img create -q -f vpc child.vhd "
       "$(qemu-img info --output=json parent.vhd | sed -n 's/.*\"virtual-size\": \\([0-9]*\\).*/\\1/p')");
  MakeDifferencing(dir.Path("child.vhd"), dir.Path("parent.vhd"), "parent.vhd");
  const auto before = HashesIn(dir.dir());
  const test::Scan& raw = RawScan("mbr-disk.img", true, "");
  const test::Scan child = test::RunScan(dir.Path("child.vhd"), true);
  EXPECT_EQ(child.status, 0) << child.log;
  ASSERT_FALSE(raw.entries.empty());
  EXPECT_EQ(child.entries, raw.entries);
  const auto drives = RunCommand(test::TimedCli("drives --no-devices " + Quote(dir.Path("child.vhd"))));
  EXPECT_TRUE(Has(drives.out, "child.vhd (VHD differencing, parent parent.vhd) partition 1")) << drives.out;
  EXPECT_EQ(HashesIn(dir.dir()), before);

  fs::rename(dir.Path("parent.vhd"), dir.Path("elsewhere.vhd"));
  const test::Scan orphan = test::RunScan(dir.Path("child.vhd"), true);
  EXPECT_EQ(orphan.status, 1);
  EXPECT_TRUE(orphan.entries.empty());
  EXPECT_TRUE(orphan.Logged(dir.Path("child.vhd") +
                            ": a differencing VHD disk whose parent parent.vhd is not beside it; it is not listed"))
      << orphan.log;
}

struct BrokenCase {
  const char* what;
  const char* fixture;
  const char* make;
  const char* open;
  int status;
  const char* logged;  // after the folder of the image
};

TEST(ImageSources, DamagedOrUnreadableContainersSayWhatIsWrong) {
  if (!HaveImageTools()) GTEST_SKIP() << "ewfacquire, qemu-img or split is missing";
  const BrokenCase cases[] = {
      {"an E01 with a segment cut short", "ntfs-4k.img",
       "ewfacquire -u -q -t ev -c deflate:fast -S 1MiB RAW && truncate -s 400000 ev.E04", "ev.E01", 3,
       " could not be read"},
      {"a QCOW2 whose backing file is gone", "fat32-512.img",
       "qemu-img convert -O qcow2 RAW base.qcow2 && qemu-img create -q -f qcow2 -b base.qcow2 -F qcow2 top.qcow2 "
       "&& rm base.qcow2",
       "top.qcow2", 1, "/top.qcow2: a QCOW image whose backing file base.qcow2 is not beside it; it is not listed"},
      {"a VMDK descriptor whose flat extent is gone", "fat32-512.img",
       "qemu-img convert -O vmdk -o subformat=monolithicFlat RAW flat.vmdk && rm flat-flat.vmdk", "flat.vmdk", 1,
       "/flat.vmdk: this VMDK image or one of its extent files cannot be opened ("},
      {"a gzip of an image", "fat32-512.img", "gzip -c RAW > vol.img.gz", "vol.img.gz", 1,
       "/vol.img.gz is a gzip archive, which cannot be read; export it as raw or E01"},
      {"an AD1 container", "fat32-512.img",
       "printf 'ADSEGMENTEDFILE\\0' > evidence.ad1 && head -c 4096 RAW >> evidence.ad1", "evidence.ad1", 1,
       "/evidence.ad1 is an AD1 container, which cannot be read; export it as raw or E01"},
      {"a zip archive", "fat32-512.img", "printf 'PK\\003\\004' > case.zip && head -c 4096 RAW >> case.zip",
       "case.zip", 1, "/case.zip is a zip archive, which cannot be read; export it as raw or E01"},
  };
  for (const BrokenCase& c : cases) {
    SCOPED_TRACE(c.what);
    test::ScratchDir dir;
    Make(dir, c.fixture, c.make);
    const test::Scan scan = test::RunScan(dir.Path(c.open), false);
    EXPECT_EQ(scan.status, c.status) << scan.log;
    EXPECT_TRUE(scan.Logged(std::string(c.logged))) << scan.log;
    EXPECT_FALSE(scan.Logged("holds no known file system")) << scan.log;
  }
}

// ---- reading an E01 through the block cache and its workers ----------------

constexpr std::size_t kChunk = 32 << 10;  // what ewfacquire writes by default

// 8 MiB: text that deflates well (its chunks are stored compressed), then
// noise that does not (its chunks are stored as they are).
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

struct Read {
  std::size_t n = 0;
  int error = 0;
};

// As much of [offset, offset+out.size()) as the source gives before it fails.
Read ReadFully(ByteSource& source, std::uint64_t offset, std::span<std::uint8_t> out) {
  Read r;
  while (r.n < out.size()) {
    const std::size_t got = source.ReadSome(offset + r.n, out.subspan(r.n), &r.error);
    if (got == 0) break;
    r.n += got;
  }
  return r;
}

// Where two images first differ; their size when they do not.
std::size_t FirstDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  const auto at = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
  return static_cast<std::size_t>(at.first - a.begin());
}

std::shared_ptr<ByteSource> OpenE01(const test::ScratchDir& dir, const std::vector<std::uint8_t>& raw,
                                    const std::string& options) {
  test::WriteFile(dir.Path("raw.img"), raw);
  test::Sh("cd " + Quote(dir.dir()) + " && ewfacquire -u -q -t ev " + options + " raw.img >/dev/null");
  ByteSourceOpen opened = OpenImageSource(dir.Path("ev.E01"));
  EXPECT_TRUE(opened.source) << opened.error;
  return opened.source;
}

TEST(ImageSources, AnE01ReadsAsItsRawImageInEveryOrder) {
  if (!test::HaveTool("ewfacquire")) GTEST_SKIP() << "ewfacquire is missing";
  const std::vector<std::uint8_t> raw = MixedImage();
  const std::pair<const char*, const char*> cases[] = {
      {"deflate, in segments of 1 MiB", "-c deflate:fast -S 1MiB"},
      {"deflate, chunks of 64 KiB", "-c deflate:best -b 128"},
      {"not compressed", "-c none"},
  };
  for (const auto& [what, options] : cases) {
    SCOPED_TRACE(what);
    test::ScratchDir dir;
    const auto source = OpenE01(dir, raw, options);
    ASSERT_TRUE(source);
    ASSERT_EQ(source->Size(), raw.size());

    // Onward in large reads and in small ones that straddle blocks, then
    // in pieces of every size taken in no order at all.
    for (const std::size_t step : {std::size_t{1} << 20, std::size_t{3000}}) {
      std::vector<std::uint8_t> got(raw.size());
      for (std::size_t at = 0; at < raw.size(); at += step) {
        const std::size_t n = std::min(step, raw.size() - at);
        EXPECT_EQ(ReadFully(*source, at, std::span(got).subspan(at, n)).n, n) << at;
      }
      EXPECT_EQ(FirstDifference(got, raw), raw.size()) << "reads of " << step;
    }
    std::mt19937 rng(11);
    std::vector<std::pair<std::size_t, std::size_t>> pieces;
    for (std::size_t at = 0; at < raw.size();) {
      const std::size_t n = std::min<std::size_t>(1 + rng() % (3 * kChunk), raw.size() - at);
      pieces.emplace_back(at, n);
      at += n;
    }
    std::shuffle(pieces.begin(), pieces.end(), rng);
    std::vector<std::uint8_t> got(raw.size());
    for (const auto& [at, n] : pieces) EXPECT_EQ(ReadFully(*source, at, std::span(got).subspan(at, n)).n, n) << at;
    EXPECT_EQ(FirstDifference(got, raw), raw.size()) << "scattered reads";
  }
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

TEST(ImageSources, AnE01ChunkWhoseChecksumFailsIsAnErrorForExactlyItsBytesHoweverItIsReached) {
  if (!test::HaveTool("ewfacquire")) GTEST_SKIP() << "ewfacquire is missing";
  const std::vector<std::uint8_t> raw = MixedImage();
  test::ScratchDir dir;
  test::WriteFile(dir.Path("raw.img"), raw);
  test::Sh("cd " + Quote(dir.dir()) + " && ewfacquire -u -q -t ev -c deflate:fast raw.img >/dev/null");
  // A compressed chunk ends in the checksum of its inflated bytes, written
  // high byte first; a chunk stored as it is holds its bytes themselves.
  const std::size_t compressed = 40, stored = 200;
  const auto chunkOf = [&](std::size_t c) { return std::span(raw).subspan(c * kChunk, kChunk); };
  const std::uint32_t sum = Adler32(chunkOf(compressed));
  const std::string sumBytes = {static_cast<char>(sum >> 24), static_cast<char>(sum >> 16),
                                static_cast<char>(sum >> 8), static_cast<char>(sum)};
  SpoilOnce(dir.Path("ev.E01"), sumBytes, 1);
  SpoilOnce(dir.Path("ev.E01"), std::string(chunkOf(stored).begin(), chunkOf(stored).end()), kChunk / 2);
  const auto bad = [&](std::uint64_t at) { return at / kChunk == compressed || at / kChunk == stored; };

  ByteSourceOpen opened = OpenImageSource(dir.Path("ev.E01"));
  ASSERT_TRUE(opened.source) << opened.error;
  ByteSource& source = *opened.source;

  // Onward in large reads, as a scan streams the MFT: each stops at the
  // first byte of a damaged chunk and goes on past its end.
  std::vector<std::uint8_t> buffer(1 << 20);
  std::vector<std::uint64_t> stops;
  for (std::uint64_t at = 0; at < raw.size();) {
    const std::size_t n = std::min<std::size_t>(buffer.size(), raw.size() - at);
    const Read r = ReadFully(source, at, std::span(buffer).first(n));
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + r.n, raw.begin() + at)) << at;
    if (r.n == n) {
      at += n;
      continue;
    }
    EXPECT_EQ(r.error, EIO);
    stops.push_back(at + r.n);
    at = (at + r.n) / kChunk * kChunk + kChunk;
  }
  EXPECT_EQ(stops, (std::vector<std::uint64_t>{compressed * kChunk, stored * kChunk}));

  // Then sector by sector, and the damaged ones again out of order: the
  // damage is remembered, and no other sector is touched by it.
  std::vector<std::uint64_t> sectors;
  for (std::uint64_t at = 0; at < raw.size(); at += 512) sectors.push_back(at);
  std::vector<std::uint64_t> again;
  for (const std::uint64_t at : {stored, compressed})
    for (std::uint64_t s = at * kChunk + kChunk - 512;; s -= 512) {
      again.push_back(s);
      if (s == at * kChunk) break;
    }
  sectors.insert(sectors.end(), again.begin(), again.end());
  std::size_t failed = 0;
  for (const std::uint64_t at : sectors) {
    std::uint8_t sector[512];
    const Read r = ReadFully(source, at, sector);
    if (bad(at)) {
      EXPECT_EQ(r.n, 0u) << at;
      EXPECT_EQ(r.error, EIO) << at;
      ++failed;
    } else {
      EXPECT_EQ(r.n, 512u) << at;
      EXPECT_TRUE(std::equal(sector, sector + 512, raw.begin() + static_cast<std::ptrdiff_t>(at))) << at;
    }
  }
  EXPECT_EQ(failed, 4 * kChunk / 512);
}

}  // namespace
}  // namespace tsn
