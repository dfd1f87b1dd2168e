// exFAT volumes made by mkfs.exfat and filled through exfat-fuse, read by
// the command line and checked against their manifest and The Sleuth Kit:
// the drive row, both scans, the verdicts and the copies; then damaged
// entry sets written by hand into a copy of one of them.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <ctime>
#include <fstream>
#include <map>

#include "core/le_bytes.h"
#include "test_support.h"

namespace tsn {
namespace {

using test::Quote;
using test::RunCommand;

struct Volume {
  const char* image;
  const char* label;
  unsigned bytesPerSector;
  unsigned clusterBytes;
};

const Volume kVolumes[] = {
    {"exfat-4k.img", "EXFAT4K", 512, 4096},
    {"exfat-4kn.img", "EXFAT4KN", 4096, 32768},
    {"exfat-256k.img", "EXFAT256K", 512, 262144},
};

std::string Cli(const std::string& args) { return std::string(TESSILON_CLI) + " " + args; }

std::vector<std::uint8_t> ReadBytes(const std::string& path, std::uint64_t offset, std::size_t n) {
  std::vector<std::uint8_t> b(n);
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(n));
  return b;
}

void WriteBytes(const std::string& path, std::uint64_t offset, const std::vector<std::uint8_t>& b) {
  std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
  f.seekp(static_cast<std::streamoff>(offset));
  f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// fls names a deleted entry by its inode; "r/r * 515:<TAB>dir/f1.bin".
std::map<std::string, std::string> FlsDeleted(const std::string& image) {
  std::map<std::string, std::string> out;
  for (const std::string& line : test::Split(RunCommand("fls -r -p -d " + Quote(image)).out, '\n')) {
    const std::vector<std::string> f = test::Split(line, '\t');
    if (f.size() < 2 || f[0].find('*') == std::string::npos) continue;
    const auto space = f[0].rfind(' '), colon = f[0].rfind(':');
    out["/" + f[1]] = f[0].substr(space + 1, colon - space - 1);
  }
  return out;
}

// Deleted files whose verdict is not what their clusters' state alone
// says: Frag/woven-b.bin was fragmented, and exfat-fuse clears a deleted
// file's chain; taken as one run from its first cluster, its clusters meet
// woven-a's, so it cannot be brought back, and is not copied as it was.
const std::map<std::string, std::string> kJudgedByItsRun = {{"/Frag/woven-b.bin", "Chain is in use"}};

class ExFatVolume : public ::testing::TestWithParam<Volume> {
 protected:
  void SetUp() override {
    if (!test::HaveTool("fls")) GTEST_SKIP() << "The Sleuth Kit is not installed";
    manifest_ = test::ManifestOf(GetParam().image);
    ASSERT_FALSE(manifest_.empty()) << "the manifest lists nothing on " << GetParam().image;
  }
  std::string Image() const { return test::Fixture(GetParam().image); }
  std::vector<nlohmann::json> manifest_;
};

// The row: its type, label and size from the boot sector, its free share
// from the allocation bitmap as icat gives it.
TEST_P(ExFatVolume, DriveRowShowsTypeLabelSizeAndFreeShare) {
  const auto r = RunCommand(Cli("drives --no-devices --json " + Quote(Image())));
  ASSERT_EQ(r.status, 0) << r.err;
  const auto row = nlohmann::json::parse(r.out);
  EXPECT_EQ(row["FS Type"], "exFAT");
  EXPECT_EQ(row["Volume"], GetParam().label);
  const auto boot = ReadBytes(Image(), 0, 512);
  const Bytes b(boot);
  const double gib = static_cast<double>(LeU64(b, 72) << LeU8(b, 108)) / (1 << 30);
  char size[32];
  std::snprintf(size, sizeof size, "%.2f GB", gib);
  EXPECT_EQ(row["Size"], size);
  EXPECT_EQ(row["SPC"], std::to_string(GetParam().clusterBytes / GetParam().bytesPerSector));

  std::string bitmapInode;
  for (const std::string& line : test::Split(RunCommand("fls " + Quote(Image())).out, '\n'))
    if (line.find("$ALLOC_BITMAP") != std::string::npos) bitmapInode = line.substr(4, line.find(':') - 4);
  ASSERT_FALSE(bitmapInode.empty());
  const std::string bitmap = RunCommand("icat " + Quote(Image()) + " " + bitmapInode).out;
  const std::uint32_t clusters = LeU32(b, 92);
  std::uint64_t used = 0;
  for (std::uint32_t c = 0; c < clusters; ++c) used += (static_cast<unsigned char>(bitmap[c / 8]) >> (c % 8)) & 1;
  char sparse[32];
  std::snprintf(sparse, sizeof sparse, "%% %.02f", 100.0 * static_cast<double>(clusters - used) / clusters);
  EXPECT_EQ(row["Sparse"], sparse);
}

// The indexed scan: the live tree as written, every deleted entry the
// manifest names at its path with its verdict, and every deleted entry fls
// names.
TEST_P(ExFatVolume, IndexedScanFindsTheTreeAndJudgesEveryDeletedFile) {
  const std::string before = test::Sha256OfFile(Image());
  const test::Scan s = test::RunScan(Image(), false, "", 300);
  ASSERT_EQ(s.status, 0) << s.log;
  std::size_t deleted = 0;
  for (const auto& e : manifest_) {
    const std::string path = "/" + e["path"].get<std::string>();
    const nlohmann::json* f = s.Find(path);
    if (e["name_lost"].get<bool>()) continue;
    ASSERT_NE(f, nullptr) << path;
    EXPECT_EQ((*f)["deleted"], e["deleted"]) << path;
    if (e["folder"].get<bool>()) continue;
    EXPECT_EQ((*f)["size"], e["size"]) << path;
    if (!e["deleted"].get<bool>()) {
      EXPECT_EQ((*f)["state"], "Active") << path;
      continue;
    }
    ++deleted;
    std::string verdict = e["size"] == 0              ? "Bad File Size"
                          : e["overwritten"].get<bool>() ? "Chain is in use"
                                                      : "Recovery may be possible";
    if (kJudgedByItsRun.count(path)) verdict = kJudgedByItsRun.at(path);
    EXPECT_EQ((*f)["state"], verdict) << path;
  }
  EXPECT_GT(deleted, 25u);
  for (const auto& [path, inode] : FlsDeleted(Image())) EXPECT_NE(s.Find(path), nullptr) << path << " (fls " << inode << ")";
  EXPECT_EQ(test::Sha256OfFile(Image()), before) << "the scan wrote to the image";
}

// The quick scan reads every cluster: each deleted file by name, in the
// root of the results.
TEST_P(ExFatVolume, QuickScanFindsEveryDeletedFileByName) {
  const test::Scan s = test::RunScan(Image(), true, "", 300);
  ASSERT_EQ(s.status, 0) << s.log;
  std::multiset<std::string> names;
  for (const auto& f : s.entries)
    if (f["deleted"].get<bool>()) names.insert(f["name"].get<std::string>());
  for (const auto& e : manifest_) {
    if (!e["deleted"].get<bool>() || e["folder"].get<bool>() || e["name_lost"].get<bool>()) continue;
    const std::string path = e["path"];
    EXPECT_EQ(names.count(path.substr(path.rfind('/') + 1)), 1u) << path;
  }
}

// Copies: every live file and every deleted one not overwritten is brought
// back byte for byte, with its modified time; icat gives the same bytes.
TEST_P(ExFatVolume, CopiesMatchTheManifestAndIcat) {
  test::ScratchDir out;
  const std::string before = test::Sha256OfFile(Image());
  // Every deleted file, then the live ones by path.
  std::string live;
  for (const auto& e : manifest_)
    if (!e["deleted"].get<bool>() && !e["folder"].get<bool>()) live += " " + Quote("/" + e["path"].get<std::string>());
  for (const std::string& paths : {std::string(), live}) {
    const auto r = RunCommand("timeout 300 " + Cli("copy " + Quote(Image()) + " --to " + Quote(out.dir()) + paths));
    ASSERT_EQ(r.status, 0) << r.out << r.err;
  }
  std::size_t compared = 0;
  const auto fls = FlsDeleted(Image());
  for (const auto& e : manifest_) {
    if (e["folder"].get<bool>() || e["overwritten"].get<bool>() || e["name_lost"].get<bool>()) continue;
    const std::string path = e["path"];
    if (kJudgedByItsRun.count("/" + path)) continue;
    const std::string copy = out.dir() + "/" + path;
    ASSERT_TRUE(std::filesystem::exists(copy)) << path;
    EXPECT_EQ(test::Sha256OfFile(copy), e["sha256"].get<std::string>()) << path;
    ++compared;
    const auto inode = fls.find("/" + path);
    if (e["deleted"].get<bool>() && inode != fls.end()) {
      EXPECT_EQ(RunCommand("icat " + Quote(Image()) + " " + inode->second + " | sha256sum").out.substr(0, 64),
                e["sha256"].get<std::string>())
          << path;
    }
  }
  EXPECT_GT(compared, 55u);
  EXPECT_EQ(test::Sha256OfFile(Image()), before) << "the copy wrote to the image";
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ExFatVolume, ::testing::ValuesIn(kVolumes),
                         [](const auto& param) {
                           std::string n = param.param.image;
                           for (char& c : n)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return n;
                         });

// ---------------------------------------------------------------------------
// Damaged entry sets, written by hand into a copy of a real volume.

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
    SetAt s{file, std::vector<std::uint8_t>(data.begin() + static_cast<std::ptrdiff_t>(file),
                                            data.begin() + static_cast<std::ptrdiff_t>(file + slots * 32))};
    return s;
  }
  return {};
}

std::uint16_t Checksum(const std::vector<std::uint8_t>& set) {
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < set.size(); ++i) {
    if (i == 2 || i == 3) continue;
    const std::uint8_t b = i % 32 == 0 ? static_cast<std::uint8_t>(set[i] | 0x80) : set[i];
    sum = static_cast<std::uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + b);
  }
  return sum;
}

void Reseal(std::vector<std::uint8_t>& set) {
  const std::uint16_t sum = Checksum(set);
  set[2] = static_cast<std::uint8_t>(sum);
  set[3] = static_cast<std::uint8_t>(sum >> 8);
}

struct Damage {
  const char* name;
  void (*apply)(std::vector<std::uint8_t>& set);
  const char* state;  // "" when the set must not be listed
  const char* logged;
};

const Damage kDamage[] = {
    {"checksum only", [](std::vector<std::uint8_t>& s) { s[2] ^= 0x5A; }, "Recovery may be possible",
     "its set checksum does not hold, but its name and stream entries are sound"},
    {"name longer than the set",
     [](std::vector<std::uint8_t>& s) {
       s[32 + 3] = 200;
       Reseal(s);
     },
     "", ""},
    {"first cluster outside the heap",
     [](std::vector<std::uint8_t>& s) {
       s[32 + 20] = s[32 + 21] = s[32 + 22] = 0xFF;
       s[32 + 23] = 0x0F;
       Reseal(s);
     },
     "Bad Cluster Value", ""},
    {"valid data past the data length",
     [](std::vector<std::uint8_t>& s) {
       s[32 + 15] = 0x01;
       Reseal(s);
     },
     "Bad File Size", ""},
    {"secondary count of one", [](std::vector<std::uint8_t>& s) { s[1] = 1; }, "", ""},
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
    WriteBytes(image, set.offset, set.bytes);
    for (const bool quick : {true, false}) {
      const test::Scan s = test::RunScan(image, quick);
      ASSERT_EQ(s.status, 0) << s.log;
      const nlohmann::json* f = s.Find("/root-deleted.txt");
      if (*d.state == '\0') {
        EXPECT_EQ(f, nullptr) << (quick ? "quick" : "indexed");
      } else {
        ASSERT_NE(f, nullptr) << (quick ? "quick" : "indexed");
        EXPECT_EQ((*f)["state"], d.state);
      }
      if (*d.logged != '\0') {
        EXPECT_TRUE(s.Logged(d.logged)) << s.log;
      }
    }
  }
}

// A fragmented file deleted as Windows deletes it: its set marked deleted
// and its bitmap bits cleared, its chain left in the FAT. The chain is
// followed, since it is whole and free, and the copy is the file.
TEST(ExFatDamage, DeletedFragmentedFileFollowsTheChainItLeft) {
  test::ScratchDir dir;
  const std::string image = test::CopyOf(test::Fixture("exfat-4k.img"), dir, "left-chain.img");
  const auto boot = ReadBytes(image, 0, 512);
  const Bytes b(boot);
  const std::uint64_t fat = std::uint64_t{LeU32(b, 80)} * 512, heap = std::uint64_t{LeU32(b, 88)} * 512;
  const std::uint64_t cluster = 512ULL << LeU8(b, 109);
  const auto at = [&](std::uint32_t c) { return heap + (c - 2ULL) * cluster; };
  const std::string data = test::ReadAll(image);
  std::string name;
  for (char c : std::string("woven-a.bin")) name += std::string{c, '\0'};
  const std::size_t entry = data.find(name) - 2 - 64;
  ASSERT_EQ(static_cast<unsigned char>(data[entry]), 0x85);
  std::vector<std::uint8_t> set(data.begin() + static_cast<std::ptrdiff_t>(entry),
                                data.begin() + static_cast<std::ptrdiff_t>(entry + 96));
  ASSERT_EQ(set[33] & 2, 0) << "woven-a.bin keeps no chain";
  for (std::size_t i = 0; i < set.size(); i += 32) set[i] &= 0x7F;
  WriteBytes(image, entry, set);
  // The bitmap, as the root folder's bitmap entry places it.
  const std::uint64_t root = at(LeU32(b, 96));
  std::uint32_t bitmap = 0;
  for (std::uint64_t e = root; e < root + cluster; e += 32)
    if (static_cast<unsigned char>(data[e]) == 0x81) bitmap = LeU32(Bytes(reinterpret_cast<const std::uint8_t*>(data.data() + e), 32), 20);
  ASSERT_NE(bitmap, 0u);
  std::map<std::uint64_t, std::uint8_t> bits;  // the bitmap bytes as changed
  std::uint32_t c = LeU32(Bytes(set), 32 + 20);
  for (int n = 0; n < 12; ++n) {
    const std::uint64_t byte = at(bitmap) + (c - 2) / 8;
    const auto it = bits.emplace(byte, static_cast<std::uint8_t>(data[byte])).first;
    it->second = static_cast<std::uint8_t>(it->second & ~(1u << ((c - 2) % 8)));
    c = LeU32(Bytes(reinterpret_cast<const std::uint8_t*>(data.data() + fat + c * 4ULL), 4), 0);
  }
  for (const auto& [byte, value] : bits) WriteBytes(image, byte, {value});
  const test::Scan s = test::RunScan(image, false);
  const nlohmann::json* f = s.Find("/Frag/woven-a.bin");
  ASSERT_NE(f, nullptr) << s.log;
  EXPECT_EQ((*f)["state"], "Recovery may be possible");
  std::string sha;
  for (const auto& e : test::ManifestOf("exfat-4k.img"))
    if (e["path"] == "Frag/woven-a.bin") sha = e["sha256"];
  const auto r = RunCommand(Cli("copy " + Quote(image) + " --to " + Quote(dir.Path("out")) + " /Frag/woven-a.bin"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::Sha256OfFile(dir.Path("out/Frag/woven-a.bin")), sha);
}

// A live file's stream made to say only its first 5000 bytes were written,
// and its modified time given 1.5 s past its two seconds at UTC-1: the copy
// holds zeros past 5000 and has that very time.
TEST(ExFatDamage, ValidDataLengthAndFineTimesReachTheCopy) {
  test::ScratchDir dir;
  const std::string intact = test::Fixture("exfat-4k.img");
  const std::string image = test::CopyOf(intact, dir, "vdl.img");
  SetAt set = FindSet(image, "many-clusters.bin", false);
  ASSERT_FALSE(set.bytes.empty());
  const std::uint32_t stamp = LeU32(Bytes(set.bytes), 12);
  set.bytes[21] = 150;       // modified, 10-ms units
  set.bytes[23] = 0x80 | 0x7C;  // modified, UTC offset: -4 quarter hours
  std::memset(&set.bytes[32 + 8], 0, 8);
  set.bytes[32 + 8] = 5000 & 0xFF;
  set.bytes[32 + 9] = 5000 >> 8;
  Reseal(set.bytes);
  WriteBytes(image, set.offset, set.bytes);
  const auto r = RunCommand(Cli("copy " + Quote(image) + " --to " + Quote(dir.Path("out")) +
                                " /Documents/many-clusters.bin"));
  ASSERT_EQ(r.status, 0) << r.err;
  std::string expected;
  for (const auto& e : test::ManifestOf("exfat-4k.img"))
    if (e["path"] == "Documents/many-clusters.bin") expected = std::string(e["size"].get<std::size_t>(), '\0');
  const std::string original = RunCommand(Cli("copy " + Quote(intact) + " --to " + Quote(dir.Path("whole")) +
                                              " /Documents/many-clusters.bin") + " >/dev/null && cat " +
                                          Quote(dir.Path("whole/Documents/many-clusters.bin"))).out;
  ASSERT_EQ(original.size(), expected.size());
  expected.replace(0, 5000, original.substr(0, 5000));
  EXPECT_TRUE(test::ReadAll(dir.Path("out/Documents/many-clusters.bin")) == expected);
  std::tm tm{};
  tm.tm_year = static_cast<int>(stamp >> 25) + 80;
  tm.tm_mon = static_cast<int>((stamp >> 21) & 0x0F) - 1;
  tm.tm_mday = static_cast<int>((stamp >> 16) & 0x1F);
  tm.tm_hour = static_cast<int>((stamp >> 11) & 0x1F);
  tm.tm_min = static_cast<int>((stamp >> 5) & 0x3F);
  tm.tm_sec = static_cast<int>(stamp & 0x1F) * 2;
  const std::time_t utc = timegm(&tm) + 3600 + 1;
  struct stat st {};
  ASSERT_EQ(::stat(dir.Path("out/Documents/many-clusters.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, utc);
  EXPECT_EQ(st.st_mtim.tv_nsec, 500'000'000);
}

// Unreadable sectors, served as EIO through FUSE: a folder's cluster is
// named with its byte range and the rest of the tree is still found; with
// the allocation bitmap unreadable no deleted file is judged recoverable.
TEST(ExFatReadErrors, AnUnreadableFolderOrBitmapIsToldAndCostsOnlyWhatItHeld) {
  const std::string image = test::Fixture("exfat-4k.img");
  const auto boot = ReadBytes(image, 0, 512);
  const Bytes b(boot);
  const std::uint64_t heap = std::uint64_t{LeU32(b, 88)} * 512, cluster = 512ULL << LeU8(b, 109);
  const auto at = [&](std::uint32_t c) { return heap + (c - 2ULL) * cluster; };
  const auto rootBytes = ReadBytes(image, at(LeU32(b, 96)), cluster);
  std::uint32_t bitmap = 0;
  for (std::size_t e = 0; e < rootBytes.size(); e += 32)
    if (rootBytes[e] == 0x81) bitmap = LeU32(Bytes(rootBytes), e + 20);
  ASSERT_NE(bitmap, 0u);
  const SetAt documents = FindSet(image, "Documents", false);
  ASSERT_FALSE(documents.bytes.empty());
  const std::uint64_t folder = at(LeU32(Bytes(documents.bytes), 32 + 20));

  {
    test::FailingImage failing(image, {{folder, folder + 511}});
    if (failing.path().empty()) GTEST_SKIP() << failing.why();
    const test::Scan s = test::RunScan(failing.path(), false);
    EXPECT_TRUE(s.Logged("of folder \"/Documents\" could not be read (bytes " + std::to_string(folder))) << s.log;
    EXPECT_EQ(s.Find("/Documents/readme.txt"), nullptr);
    EXPECT_NE(s.Find("/Unicode/Русский/Удалённый файл.txt"), nullptr);
  }
  {
    test::FailingImage failing(image, {{at(bitmap), at(bitmap) + 511}});
    if (failing.path().empty()) GTEST_SKIP() << failing.why();
    for (const bool quick : {false, true}) {
      const test::Scan s = test::RunScan(failing.path(), quick);
      EXPECT_TRUE(s.Logged("allocation bitmap could not be read in full (bytes " + std::to_string(at(bitmap)))) << s.log;
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

// A boot sector whose fields hang together but claim four billion clusters
// on a 64 MiB image: listed and scanned within a small address space.
TEST(ExFatDamage, ABootSectorClaimingBillionsOfClustersCostsNoMemory) {
  test::ScratchDir dir;
  const std::string image = test::CopyOf(test::Fixture("exfat-4k.img"), dir, "claims.img");
  const auto le = [](std::uint64_t v, int n) {
    std::vector<std::uint8_t> b;
    for (int i = 0; i < n; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return b;
  };
  WriteBytes(image, 92, le(0xFFFFFFF0u, 4));        // ClusterCount
  WriteBytes(image, 84, le(0x08000000u, 4));        // FatLength, room for every entry
  WriteBytes(image, 88, le(0x08000000u + 2048, 4)); // ClusterHeapOffset, after it
  WriteBytes(image, 72, le(1ULL << 40, 8));         // VolumeLength
  const std::string bound = TESSILON_SANITIZED ? "" : "prlimit --as=400000000 ";
  for (const char* command : {"drives --no-devices --json", "scan --json", "scan --json --quick"}) {
    const auto r = RunCommand(bound + Cli(command) + " " + Quote(image));
    EXPECT_EQ(r.status, 0) << command << "\n" << r.err;
    const std::string said = command[0] == 'd' ? r.out : r.err;
    EXPECT_NE(said.find(command[0] == 'd' ? "\"exFAT\"" : "holds only"), std::string::npos) << command << "\n" << said;
  }
}

// A folder whose first cluster is its parent's, and a FAT chain that loops:
// both scans end, and say what they passed over.
TEST(ExFatDamage, FolderLoopsAndChainLoopsEnd) {
  const std::string fixture = test::Fixture("exfat-4k.img");
  test::ScratchDir dir;
  const std::string image = test::CopyOf(fixture, dir, "loop.img");
  const auto boot = ReadBytes(image, 0, 512);
  const Bytes b(boot);
  const std::uint64_t fat = std::uint64_t{LeU32(b, 80)} * 512;
  const std::uint32_t root = LeU32(b, 96);
  // The root folder's chain leads back to itself.
  const std::uint32_t self = root;
  WriteBytes(image, fat + root * 4ULL, {static_cast<std::uint8_t>(self), static_cast<std::uint8_t>(self >> 8),
                                        static_cast<std::uint8_t>(self >> 16), static_cast<std::uint8_t>(self >> 24)});
  // A deleted folder ("Trash") made to start at the root's cluster.
  SetAt trash = FindSet(image, "Trash");
  ASSERT_FALSE(trash.bytes.empty());
  std::memcpy(&trash.bytes[32 + 20], &root, 4);
  Reseal(trash.bytes);
  WriteBytes(image, trash.offset, trash.bytes);
  for (const bool quick : {true, false}) {
    const test::Scan s = test::RunScan(image, quick);
    EXPECT_EQ(s.status, 0) << s.log;
    if (!quick) {
      EXPECT_TRUE(s.Logged("loops back to cluster")) << s.log;
      EXPECT_NE(s.Find("/Trash"), nullptr);
    }
  }
}

}  // namespace
}  // namespace tsn
