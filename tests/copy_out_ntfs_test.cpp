// Copying found files out of NTFS volumes made with mkntfs and libntfs-3g,
// byte-exact against what was written and against The Sleuth Kit's icat; and
// hand-damaged copies for what the real tools do not make.

#include "app/copy_command.h"
#include "app/main_dialog.h"
#include "core/entry_records.h"
#include "fs/logdrive_info.h"
#include "ntfs_test_support.h"
#include "ui/control_ids.h"

namespace tsn {
namespace {

using namespace ntfstest;
using test::Fixture;
using test::Has;
using test::Quote;
using test::ReadAll;
using test::RunCommand;

// ---------------------------------------------------------------------------
// The fixture volumes: every file the manifest says still holds its bytes.

class NtfsCopy : public ::testing::TestWithParam<nlohmann::json> {
 protected:
  std::string Image() const { return Fixture(GetParam()["image"]); }
  int Partition() const { return GetParam()["partition"]; }
  test::CommandResult Copy(const std::string& out, const std::vector<std::string>& paths = {}) const {
    return test::CliCopy(Image(), out, paths, Partition() ? "--partition " + std::to_string(Partition()) : "");
  }
  std::string TskOffset() const { return GetParam()["start_lba"] != 0 ? "-o " + GetParam()["start_lba"].dump() : ""; }
  std::vector<nlohmann::json> Manifest(bool deleted) const {
    std::vector<nlohmann::json> out;
    for (const auto& e : test::ManifestOf(GetParam()["image"]))
      if (e.value("partition", 0) == Partition() && !e["folder"] && e["deleted"] == deleted) out.push_back(e);
    return out;
  }
  // Every copy in out equals what icat reads for the same record (but in
  // Many/, whose hundreds of small files the manifest checks alike), and
  // fls names every file copied.
  void ExpectIcatAgrees(const std::string& out, bool deleted) {
    std::string script;
    int compared = 0, copies = 0;
    for (const auto& [path, record] : FlsEntries(Image(), deleted, TskOffset())) {
      if (path.rfind("/Many/", 0) == 0 || !std::filesystem::is_regular_file(out + path)) continue;
      script += "icat " + TskOffset() + " " + Quote(Image()) + " " + std::to_string(record) + " | cmp -s - " +
                Quote(out + path) + " || echo " + Quote(path) + "\n";
      ++compared;
    }
    for (const auto& f : std::filesystem::recursive_directory_iterator(out))
      copies += f.is_regular_file() && !test::IsCopyManifest(f.path()) &&
                f.path().string().rfind(out + "/Many/", 0) != 0;
    EXPECT_GT(compared, 0);
    EXPECT_EQ(compared, copies) << "fls does not name every file copied";
    std::ofstream(dir_.Path("icat.sh")) << script;
    const auto r = RunCommand("sh " + Quote(dir_.Path("icat.sh")));
    EXPECT_EQ(r.out, "") << "these differ from icat's";
  }
  test::ScratchDir dir_;
};

TEST_P(NtfsCopy, DeletedFilesThatKeptTheirClustersComeBackByteExact) {
  const std::string before = test::Sha256OfFile(Image());
  const std::string out = dir_.Path("out");
  const auto r = Copy(out);
  EXPECT_EQ(r.status, 0) << r.err;
  std::set<std::string> checked;
  std::ofstream sums(dir_.Path("SHA256SUMS"));
  for (const auto& e : Manifest(true)) {
    // The scans list no deleted file that has no bytes at all.
    if (e["overwritten"] || e["name_lost"] || e["size"] == 0) continue;
    sums << e["sha256"].get<std::string>() << "  " << e["path"].get<std::string>() << "\n";
    checked.insert(e["path"]);
  }
  sums.close();
  const auto c = RunCommand("cd " + Quote(out) + " && sha256sum -c --quiet " + Quote(dir_.Path("SHA256SUMS")));
  EXPECT_EQ(c.out, "") << "these differ from what was written";
  for (const auto& path : GetParam()["must_copy"]) EXPECT_TRUE(checked.count(path.get<std::string>())) << path;
  // A file whose clusters another file took since is still copied, and said to be.
  EXPECT_EQ(Has(r.err, "/Frag/pieces/piece-01.bin was copied, but 3 of its 3 clusters are now in use by other files; "
                       "its content is likely overwritten."), GetParam()["pieces"].get<bool>()) << r.err;
  ExpectIcatAgrees(out, true);
  EXPECT_EQ(test::Sha256OfFile(Image()), before);
}

TEST_P(NtfsCopy, LiveFilesComeBackByteExactWithTheirModificationTime) {
  const std::vector<std::string> paths = GetParam()["live"];
  const std::string out = dir_.Path("out");
  const auto r = Copy(out, paths);
  ASSERT_EQ(r.status, 0) << r.err;
  int found = 0;
  for (const auto& e : Manifest(false)) {
    const std::string path = "/" + e["path"].get<std::string>();
    if (std::find(paths.begin(), paths.end(), path) == paths.end()) continue;
    EXPECT_EQ(test::Sha256OfFile(out + path), e["sha256"]) << path;
    ++found;
  }
  EXPECT_EQ(found, static_cast<int>(paths.size()));
  ExpectIcatAgrees(out, false);
  // The time of last change is $STANDARD_INFORMATION's, to the 100 ns.
  std::string stamp = RunCommand("date -u -r " + Quote(out + paths[0]) + " '+%Y-%m-%d %H:%M:%S.%N'").out;
  stamp.pop_back();
  const auto record = FlsEntries(Image(), false, TskOffset()).at(paths[0]);
  const auto istat = RunCommand("istat " + TskOffset() + " " + Quote(Image()) + " " + std::to_string(record));
  EXPECT_TRUE(Has(istat.out, "File Modified:\t" + stamp + " (UTC)")) << stamp << "\n" << istat.out;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, NtfsCopy, ::testing::ValuesIn(test::DataRows("ntfs-copy-volumes.jsonl")),
                         [](const auto& p) { return p.param.value("name", std::string()); });

// ---------------------------------------------------------------------------
// Hand-damaged copies of ntfs-4k.img.

class NtfsCopyDamaged : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = test::CopyOf(Fixture("ntfs-4k.img"), dir_, "damaged.img");
    g_ = GeometryOf(image_);
    deleted_ = FlsEntries(image_, true);
  }
  std::uint64_t Offset(const std::string& path) { return RecordOffset(image_, g_, deleted_.at(path)); }
  test::ScratchDir dir_;
  std::string image_;
  NtfsGeometry g_;
  std::map<std::string, std::uint64_t> deleted_;
};

TEST_F(NtfsCopyDamaged, EncryptedFilesAndBrokenCompressedChunksAreToldAndTheRestIsKept) {
  // One stream flagged encrypted in its $DATA header, one file in its attributes.
  EditRecord(image_, Offset("/Documents/deleted-many-clusters.bin"),
             [](Buffer& r) { r[FindAttribute(r, 0x80) + 13] |= 0x40; });
  EditRecord(image_, Offset("/Documents/deleted-one-cluster.bin"), [](Buffer& r) {
    r[FindAttribute(r, 0x10) + GetU16(r, FindAttribute(r, 0x10) + 20) + 33] |= 0x40;
  });
  // The first chunk of a compressed file starts with a back reference,
  // before anything was written for it to refer to.
  const std::string compressed = "/Compressed/deleted-compressed.txt";
  const std::vector<std::uint64_t> clusters = test::IstatClusters(image_, deleted_.at(compressed));
  ASSERT_GE(clusters.size(), 16u);
  ASSERT_EQ(clusters[15], 0u) << "the first unit is not stored compressed";
  Buffer head = ReadAt(image_, g_.ClusterOffset(clusters[0]), 3);
  ASSERT_TRUE(GetU16(head, 0) & 0x8000);
  head[2] = 0x01;
  WriteAt(image_, g_.ClusterOffset(clusters[0]), head);
  const std::string out = dir_.Path("out");
  const auto r = test::CliCopy(image_, out, {"/Documents/deleted-many-clusters.bin",
                                             "/Documents/deleted-one-cluster.bin", "/Documents/deleted-note.txt", compressed});
  EXPECT_EQ(r.status, 3) << r.err;
  for (const char* name : {"deleted-many-clusters.bin", "deleted-one-cluster.bin"}) {
    EXPECT_TRUE(Has(r.err, out + "/Documents/" + name + " was not copied: it is encrypted, and its content cannot "
                                                        "be recovered without its owner's key.")) << r.err;
    EXPECT_FALSE(std::filesystem::exists(out + "/Documents/" + name));
  }
  EXPECT_EQ(test::Sha256OfFile(out + "/Documents/deleted-note.txt"), test::ManifestSha("ntfs-4k.img", "Documents/deleted-note.txt"));
  EXPECT_TRUE(Has(r.err, out + compressed + " was not copied in full: 1 compressed chunks of it are damaged (the "
                                            "first in the unit at byte 0); they are written as zeros.")) << r.err;
  std::string expected = RunCommand("icat " + Quote(Fixture("ntfs-4k.img")) + " " + std::to_string(deleted_.at(compressed))).out;
  ASSERT_EQ(expected.size(), 70000u);
  std::fill(expected.begin(), expected.begin() + 4096, '\0');
  EXPECT_EQ(ReadAll(out + compressed), expected);
  EXPECT_TRUE(Has(r.err, "Copied 1 files, 300 bytes, to " + out + "; 3 could not be copied in full.")) << r.err;
}

TEST_F(NtfsCopyDamaged, RecordsThatChangedSinceTheScanAreNotCopied) {
  // A torn record, a deleted file's record now given to a live one, a
  // record past the end of the MFT.
  const std::uint64_t torn = deleted_.at("/Documents/deleted-note.txt");
  WriteAt(image_, Offset("/Documents/deleted-note.txt") + 510, {0x12, 0x34});
  test::HeadlessApp h;
  h.OpenImages({image_});
  ASSERT_NE(h.app.currentDrive, nullptr);
  FoundFile files[4];
  files[0].name = "torn.txt", files[0].recordNumber = torn;
  files[1].name = "taken.txt", files[1].recordNumber = FlsEntries(image_, false).at("/Documents/readme.txt");
  files[2].name = "beyond.txt", files[2].recordNumber = 1u << 30;
  files[3].name = "filler.bin", files[3].recordNumber = deleted_.at("/Frag/filler.bin");
  const std::string out = dir_.Path("out");
  std::filesystem::create_directories(out);
  CopyTotals t = CopyFilesTo(&h.app, h.app.currentDrive, out, {{&files[0], {}}, {&files[1], {}}, {&files[2], {}}});
  EXPECT_EQ(std::pair(t.failed, t.files), (std::pair<std::uint64_t, std::uint64_t>{3, 0}));
  for (const std::string& line : {out + "/torn.txt was not copied: MFT record " + std::to_string(torn) +
                                      " no longer passes its update-sequence check.",
                                  "/taken.txt was not copied: its MFT record " + std::to_string(files[1].recordNumber) +
                                      " now belongs to a file in use.",
                                  std::string("/beyond.txt was not copied: MFT record 1073741824 no longer reads as a "
                                              "file record.")})
    EXPECT_TRUE(Has(h.LogText(), line)) << line << "\n" << h.LogText();
  EXPECT_TRUE(std::filesystem::is_empty(out));
  // Exit pressed during a copy of many chunks stops it.
  h.ui.PostCommand(kCmdExit, 3);
  t = CopyFilesTo(&h.app, h.app.currentDrive, out, {{&files[3], {}}});
  EXPECT_TRUE(t.interrupted);
  EXPECT_TRUE(Has(h.LogText(), out + "/filler.bin was not copied: copying was interrupted; nothing of it is kept."))
      << h.LogText();
  EXPECT_TRUE(std::filesystem::is_empty(out)) << "a cut-short copy or its partial file is left";
  EXPECT_EQ(h.app.busy, 0u);
}

// ---------------------------------------------------------------------------
// Files that outgrew their record, made here with libntfs-3g: the volume is
// filled, every other one-cluster file freed, and the files written a
// cluster at a time into the holes, hundreds of runs each, until their
// mapping pairs move to extension records named by a (non-resident)
// attribute list. They stay live: libntfs-3g empties the extension record
// that holds a deleted file's name, so no scan could name them.

class NtfsCopyExtents : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<test::ScratchDir>();
    ASSERT_EQ(RunCommand("head -c 2000000 /dev/urandom > " + Quote(dir_->Path("b.bin"))).status, 0);
    test::WriteFile(dir_->Path("one.bin"), Buffer(1024, 0x5A));
    ASSERT_EQ(RunCommand("head -c 16000000 /dev/zero > " + Quote(dir_->Path("fill.bin"))).status, 0);
    std::string c = "mkdir\t/p\nfile\t/b.bin\t/dev/null\n";
    for (int i = 0; i < 3000; ++i) c += "file\t/p/" + std::to_string(i) + "\t" + dir_->Path("one.bin") + "\n";
    c += "fill\t/filler\t" + dir_->Path("fill.bin") + "\n";
    for (int i = 1; i < 3000; i += 2) c += "rm\t/p/" + std::to_string(i) + "\n";
    for (int i = 0; i < 850; ++i) c += "chunk\t/b.bin\t" + dir_->Path("b.bin") + "\t" + std::to_string(i * 1024) + "\t1024\n";
    image_ = MakeNtfsImage(*dir_, "extents.img", 16, 1024, c);
  }
  static void TearDownTestSuite() { dir_.reset(); }
  std::string Host(const std::string& name, std::size_t size) { return ReadAll(dir_->Path(name)).substr(0, size); }

  // The records that the attribute list names for $DATA, with the first
  // VCN each holds, as icat reads the list.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> DataExtents(const std::string& image, std::uint64_t base) {
    const std::string bytes = RunCommand("icat " + Quote(image) + " " + std::to_string(base) + "-32").out;
    const Buffer b(bytes.begin(), bytes.end());
    std::vector<std::pair<std::uint64_t, std::uint64_t>> out;
    for (std::size_t at = 0; at + 26 <= b.size() && GetU16(b, at + 4) != 0; at += GetU16(b, at + 4))
      if (GetU32(b, at) == 0x80) out.emplace_back(GetU64(b, at + 16) & 0xFFFFFFFFFFFF, GetU64(b, at + 8));
    return out;
  }

  static inline std::unique_ptr<test::ScratchDir> dir_;
  static inline std::string image_;
  test::ScratchDir scratch_;
};

TEST_F(NtfsCopyExtents, AStreamSplitOverExtensionRecordsIsJoinedInVcnOrder) {
  ASSERT_GE(DataExtents(image_, FlsEntries(image_, false).at("/b.bin")).size(), 2u) << "no attribute list was made";
  const std::string out = scratch_.Path("out");
  const auto r = test::CliCopy(image_, out, {"/b.bin"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadAll(out + "/b.bin"), Host("b.bin", 850 * 1024));
}

TEST_F(NtfsCopyExtents, AnExtensionRecordOfAnotherFileLeavesAHoleThatIsTold) {
  const std::string image = test::CopyOf(image_, scratch_, "foreign.img");
  const std::uint64_t base = FlsEntries(image, false).at("/b.bin");
  const auto extents = DataExtents(image, base);
  // The last extent's record now claims another base record.
  const auto [record, firstVcn] = extents.back();
  ASSERT_NE(record, base);
  ASSERT_GT(firstVcn, extents[extents.size() - 2].second);
  const NtfsGeometry g = GeometryOf(image);
  EditRecord(image, RecordOffset(image, g, record), [](Buffer& r) { PutU64(r, 32, 0x0001000000000010ULL); });
  const std::string out = scratch_.Path("out");
  const auto r = test::CliCopy(image, out, {"/b.bin"});
  EXPECT_EQ(r.status, 3);
  EXPECT_TRUE(Has(r.err, "/b.bin was not copied in full: ")) << r.err;
  EXPECT_TRUE(Has(r.err, "bytes of it lie where none of its data runs reach (a lost extent); they are written as zeros"));
  EXPECT_TRUE(Has(r.err, "its attribute list names MFT record " + std::to_string(record) +
                             ", which cannot be read or belongs to another file")) << r.err;
  // What the other extents map is there; the lost one's VCNs are zeros.
  std::string expected = Host("b.bin", 850 * 1024);
  std::fill(expected.begin() + static_cast<std::ptrdiff_t>(firstVcn * 1024), expected.end(), '\0');
  EXPECT_EQ(ReadAll(out + "/b.bin"), expected);
}

}  // namespace
}  // namespace tsn
