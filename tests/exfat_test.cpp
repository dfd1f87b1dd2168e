// Damaged exFAT entry sets and chains, written by hand into copies of a volume made by mkfs.exfat and exfat-fuse, and
// its unreadable sectors. The intact volumes are checked in fat_fixture_test.

#include <sys/stat.h>

#include <ctime>

#include "core/le_bytes.h"
#include "test_support.h"

namespace tsn {
namespace {

using test::ReadAt;
using test::WriteAt;

// Where a 512-byte-sector volume keeps its FAT, clusters and bitmap.
struct Layout {
  std::uint64_t fat = 0, heap = 0, cluster = 0;
  std::uint32_t root = 0, bitmap = 0;  // first clusters
  std::uint64_t At(std::uint32_t c) const { return heap + (c - 2ULL) * cluster; }
};

Layout LayoutOf(const std::string& image) {
  const auto boot = ReadAt(image, 0, 512);
  const Bytes b(boot);
  Layout l{std::uint64_t{LeU32(b, 80)} * 512, std::uint64_t{LeU32(b, 88)} * 512, 512ULL << LeU8(b, 109),
           LeU32(b, 96), 0};
  const auto root = ReadAt(image, l.At(l.root), l.cluster);
  for (std::size_t e = 0; e < root.size(); e += 32)
    if (root[e] == 0x81) l.bitmap = LeU32(Bytes(root), e + 20);
  return l;
}

// The entry set of a deleted file, found by its name in the volume's bytes.
struct SetAt {
  std::uint64_t offset = 0;  // of its File entry
  std::vector<std::uint8_t> bytes;
};

SetAt FindSet(const std::string& image, const std::string& asciiName, bool deleted = true) {
  const unsigned char fileType = deleted ? 0x05 : 0x85, nameType = deleted ? 0x41 : 0xC1;
  const std::string data = test::ReadAll(image);
  // The first File Name entry holds the first 15 characters.
  std::string utf16;
  for (char c : asciiName.substr(0, 15)) utf16 += std::string{c, '\0'};
  for (std::size_t at = data.find(utf16); at != std::string::npos; at = data.find(utf16, at + 1)) {
    if (at % 32 != 2 || static_cast<unsigned char>(data[at - 2]) != nameType) continue;
    const std::uint64_t file = at - 2 - 64;
    if (static_cast<unsigned char>(data[file]) != fileType) continue;
    const std::size_t slots = 1 + static_cast<unsigned char>(data[file + 1]);
    return {file, ReadAt(image, file, slots * 32)};
  }
  return {};
}

// Sets a set's checksum, taken over its bytes as they are in use.
void Reseal(std::vector<std::uint8_t>& set) {
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < set.size(); ++i)
    if (i != 2 && i != 3)
      sum = static_cast<std::uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + (i % 32 ? set[i] : set[i] | 0x80));
  std::ranges::copy(test::Le(sum, 2), &set[2]);
}

// state: "" when the set must not be listed; logged: "" when nothing need be said.
struct Damage {
  const char *name, *state, *logged;
  void (*apply)(std::vector<std::uint8_t>& set);
};

using Set = std::vector<std::uint8_t>;
const Damage kDamage[] = {
    {"checksum only", "Recovery may be possible",
     "its set checksum does not hold, but its name and stream entries are sound", [](Set& s) { s[2] ^= 0x5A; }},
    {"name longer than the set", "", "", [](Set& s) { s[32 + 3] = 200; Reseal(s); }},
    {"first cluster outside the heap", "Bad Cluster Value", "",
     [](Set& s) { s[32 + 20] = s[32 + 21] = s[32 + 22] = 0xFF; s[32 + 23] = 0x0F; Reseal(s); }},
    {"valid data past the data length", "Bad File Size", "", [](Set& s) { s[32 + 15] = 0x01; Reseal(s); }},
    {"secondary count of one", "", "", [](Set& s) { s[1] = 1; }},
};

TEST(ExFatDamage, EntrySetsAreListedOrSkippedAsTheirBytesAllow) {
  const std::string fixture = test::Fixture("exfat-4k.img");
  test::ScratchDir dir;
  for (const Damage& d : kDamage) {
    SCOPED_TRACE(d.name);
    const std::string image = test::CopyOf(fixture, dir, "damaged.img");
    SetAt set = FindSet(image, "root-deleted.txt");
    ASSERT_FALSE(set.bytes.empty());
    d.apply(set.bytes);
    WriteAt(image, set.offset, set.bytes);
    for (const bool quick : {true, false}) {
      const test::Scan s = test::RunScan(image, quick);
      ASSERT_EQ(s.status, 0) << s.log;
      const nlohmann::json* f = s.Find("/root-deleted.txt");
      EXPECT_EQ(f != nullptr ? (*f)["state"].get<std::string>() : "", d.state) << (quick ? "quick" : "indexed");
      EXPECT_TRUE(s.Logged(d.logged)) << s.log;
    }
  }
}

// A fragmented file deleted as Windows deletes it: its set marked deleted and its bitmap bits cleared, its chain left
// in the FAT. The chain is followed, since it is whole and free, and the copy is the file.
TEST(ExFatDamage, DeletedFragmentedFileFollowsTheChainItLeft) {
  test::ScratchDir dir;
  const std::string image = test::CopyOf(test::Fixture("exfat-4k.img"), dir, "left-chain.img");
  const Layout l = LayoutOf(image);
  ASSERT_NE(l.bitmap, 0u);
  SetAt woven = FindSet(image, "woven-a.bin", false);
  std::vector<std::uint8_t>& set = woven.bytes;
  ASSERT_EQ(set.size(), 96u);
  ASSERT_EQ(set[33] & 2, 0) << "woven-a.bin keeps no chain";
  for (std::size_t i = 0; i < set.size(); i += 32) set[i] &= 0x7F;
  WriteAt(image, woven.offset, set);
  const std::string data = test::ReadAll(image);
  std::map<std::uint64_t, std::uint8_t> bits;  // the bitmap bytes as changed
  std::uint32_t c = LeU32(Bytes(set), 32 + 20);
  for (int n = 0; n < 12; ++n) {
    const std::uint64_t byte = l.At(l.bitmap) + (c - 2) / 8;
    const auto it = bits.emplace(byte, static_cast<std::uint8_t>(data[byte])).first;
    it->second = static_cast<std::uint8_t>(it->second & ~(1u << ((c - 2) % 8)));
    c = LeU32(Bytes(reinterpret_cast<const std::uint8_t*>(data.data() + l.fat + c * 4ULL), 4), 0);
  }
  for (const auto& [byte, value] : bits) WriteAt(image, byte, {value});
  const test::Scan s = test::RunScan(image, false);
  const nlohmann::json* f = s.Find("/Frag/woven-a.bin");
  ASSERT_NE(f, nullptr) << s.log;
  EXPECT_EQ((*f)["state"], "Recovery may be possible");
  const auto r = test::CliCopy(image, dir.Path("out"), {"/Frag/woven-a.bin"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::Sha256OfFile(dir.Path("out/Frag/woven-a.bin")),
            test::ManifestSha("exfat-4k.img", "Frag/woven-a.bin"));
}

// A live file's stream made to say only its first 5000 bytes were written, and its modified time given 1.5 s past its
// two seconds at UTC-1: the copy holds zeros past 5000 and has that very time.
TEST(ExFatDamage, ValidDataLengthAndFineTimesReachTheCopy) {
  test::ScratchDir dir;
  const std::string intact = test::Fixture("exfat-4k.img");
  const std::string image = test::CopyOf(intact, dir, "vdl.img");
  SetAt set = FindSet(image, "many-clusters.bin", false);
  ASSERT_FALSE(set.bytes.empty());
  const std::uint32_t stamp = LeU32(Bytes(set.bytes), 12);
  set.bytes[21] = 150;       // modified, 10-ms units
  set.bytes[23] = 0x80 | 0x7C;  // modified, UTC offset: -4 quarter hours
  std::ranges::copy(test::Le(5000, 8), &set.bytes[32 + 8]);
  Reseal(set.bytes);
  WriteAt(image, set.offset, set.bytes);
  const std::string file = "/Documents/many-clusters.bin";
  const auto r = test::CliCopy(image, dir.Path("out"), {file});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(test::CliCopy(intact, dir.Path("whole"), {file}).status, 0);
  std::string expected = test::ReadAll(dir.Path("whole") + file);
  EXPECT_EQ(test::Sha256OfFile(dir.Path("whole") + file), test::ManifestSha("exfat-4k.img", file.substr(1)));
  ASSERT_GT(expected.size(), 5000u);
  std::fill(expected.begin() + 5000, expected.end(), '\0');
  EXPECT_TRUE(test::ReadAll(dir.Path("out") + file) == expected);
  const auto field = [stamp](int shift, std::uint32_t mask) { return static_cast<int>((stamp >> shift) & mask); };
  std::tm tm{};
  tm.tm_year = field(25, 0x7F) + 80, tm.tm_mon = field(21, 0x0F) - 1, tm.tm_mday = field(16, 0x1F);
  tm.tm_hour = field(11, 0x1F), tm.tm_min = field(5, 0x3F), tm.tm_sec = field(0, 0x1F) * 2;
  const std::time_t utc = timegm(&tm) + 3600 + 1;
  struct stat st {};
  ASSERT_EQ(::stat((dir.Path("out") + file).c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, utc);
  EXPECT_EQ(st.st_mtim.tv_nsec, 500'000'000);
}

// A sound-looking boot sector that claims 4 billion clusters on a small image: the FAT and bitmap it implies (16 GB,
// 512 MB) are never allocated, and the volume is measured by what the image holds. Neither the corpus's 1 GB bound nor
// the fuzzer's would notice a 512 MB bitmap.
TEST(ExFatDamage, ABootSectorClaimingBillionsOfClustersCostsNoMemory) {
  test::ScratchDir dir;
  const std::string image = test::CopyOf(test::Fixture("exfat-4k.img"), dir, "claims.img");
  WriteAt(image, 92, test::Le(0xFFFFFFF0u, 4));         // ClusterCount
  WriteAt(image, 84, test::Le(0x08000000u, 4));         // FatLength, room for every entry
  WriteAt(image, 88, test::Le(0x08000000u + 2048, 4));  // ClusterHeapOffset, after it
  WriteAt(image, 72, test::Le(1ULL << 40, 8));          // VolumeLength
  const std::string bound = TESSILON_SANITIZED ? "" : "prlimit --as=400000000 ";
  for (const char* command : {"drives --no-devices --json", "scan --json", "scan --json --quick"}) {
    const auto r = test::RunCommand(bound + test::Cli(command) + " " + test::Quote(image));
    EXPECT_EQ(r.status, 0) << command << "\n" << r.err;
    const std::string said = command[0] == 'd' ? r.out : r.err;
    EXPECT_TRUE(test::Has(said, command[0] == 'd' ? "\"exFAT\"" : "holds only")) << command << "\n" << said;
  }
}

// Unreadable sectors, served as EIO through FUSE: a folder's cluster is named with its byte range and the rest of the
// tree is still found; with the allocation bitmap unreadable no deleted file is judged recoverable.
TEST(ExFatReadErrors, AnUnreadableFolderOrBitmapIsToldAndCostsOnlyWhatItHeld) {
  const std::string image = test::Fixture("exfat-4k.img");
  const Layout l = LayoutOf(image);
  ASSERT_NE(l.bitmap, 0u);
  const SetAt documents = FindSet(image, "Documents", false);
  ASSERT_FALSE(documents.bytes.empty());
  const std::uint64_t folder = l.At(LeU32(Bytes(documents.bytes), 32 + 20));

  {
    test::FailingImage failing(image, {{folder, folder + 511}});
    if (failing.path().empty()) GTEST_SKIP() << failing.why();
    const test::Scan s = test::RunScan(failing.path(), false);
    EXPECT_TRUE(s.Logged("of folder \"/Documents\" could not be read (bytes " + std::to_string(folder))) << s.log;
    EXPECT_EQ(s.Find("/Documents/readme.txt"), nullptr);
    EXPECT_NE(s.Find("/Unicode/Русский/Удалённый файл.txt"), nullptr);
  }
  {
    test::FailingImage failing(image, {{l.At(l.bitmap), l.At(l.bitmap) + 511}});
    if (failing.path().empty()) GTEST_SKIP() << failing.why();
    for (const bool quick : {false, true}) {
      const test::Scan s = test::RunScan(failing.path(), quick);
      EXPECT_TRUE(s.Logged("allocation bitmap could not be read in full (bytes " + std::to_string(l.At(l.bitmap)))) << s.log;
      EXPECT_TRUE(s.Logged("judged while the allocation bitmap could not be read in full")) << s.log;
      std::size_t deleted = 0;
      for (const auto& f : s.entries) {
        if (!f["deleted"].get<bool>() || f["folder"].get<bool>()) continue;
        ++deleted;
        EXPECT_NE(f["state"], "Recovery may be possible") << f["path"];
      }
      EXPECT_GT(deleted, 20u);
    }
  }
}

}  // namespace
}  // namespace tsn
