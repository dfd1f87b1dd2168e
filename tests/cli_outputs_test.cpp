// What the command line's scan, report and drives hand back: the exit
// status of each outcome, output that a full disk or a closed pipe cuts
// short, and names with control characters made with ntfs-3g.

#include <algorithm>
#include <iterator>
#include <utility>

#include "test_support.h"

namespace tsn {
namespace {

using test::TimedCli;
using test::Quote;
using test::RunCommand;

TEST(CliExitStatus, TellsEachOutcomeApart) {
  const test::ScratchDir dir;
  const std::string fat = test::Fixture("fat32-512.img");
  const std::string ntfs = test::Fixture("ntfs-1k.img");
  const std::string noVolume = dir.Path("zeros.img");
  test::WriteFile(noVolume, std::vector<std::uint8_t>(1 << 20, 0));
  test::WriteFile(dir.Path("a-file"), {1});
  // Copies refused go to "refused", which must never be made.
  const std::string out = " --to " + Quote(dir.Path("out")), refused = " --to " + Quote(dir.Path("refused"));
  const struct {
    std::string args;
    int status;
    std::string err;  // a part of stderr
  } cases[] = {
      {"scan", 2, "tessilon-cli scan: name the disk image or device to read"},
      {"report", 2, "tessilon-cli report: name the disk image or device to read"},
      {"report --out " + Quote(dir.Path("r.txt")), 2, "name the disk image"},
      {"scan --bogus " + Quote(fat), 2, "--bogus"},
      {"scan --quick --indexed " + Quote(fat), 2, "excludes"},
      {"scan " + Quote(fat) + " " + Quote(ntfs), 2, ""},
      {"report --out " + Quote(dir.Path("r.doc")) + " " + Quote(fat), 2, ".pdf or a .txt"},
      {"copy " + Quote(ntfs), 2, "--to is required"},
      {"copy " + Quote(ntfs) + refused + " --bogus", 2, "--bogus"},
      {"scan " + Quote(dir.Path("missing.img")), 1, ""},
      {"report " + Quote(dir.Path("missing.img")), 1, ""},
      {"scan " + Quote(noVolume), 1, "holds no exFAT, FAT12, FAT16, FAT32 or NTFS file system to scan"},
      {"report " + Quote(noVolume), 1, "holds no exFAT, FAT12, FAT16, FAT32 or NTFS file system to scan"},
      {"copy " + Quote(noVolume) + refused, 1, "holds no exFAT, FAT12, FAT16, FAT32 or NTFS file system"},
      {"copy " + Quote(ntfs) + " --to " + Quote(dir.Path("a-file") + "/sub"), 1, "a-file is not a folder"},
      {"scan --partition 2 " + Quote(fat), 1, "has no partition 2 that holds a file system it reads"},
      {"copy " + Quote(ntfs) + out + " /Documents/readme.txt /no/such.txt", 3, "no file /no/such.txt was found"},
      {"scan " + Quote(fat), 0, "File system scan complete."},
      {"scan --quick --json " + Quote(ntfs), 0, ""},
      {"report " + Quote(fat), 0, ""},
      {"report --out " + Quote(dir.Path("r.txt")) + " " + Quote(fat), 0, ""},
      {"drives --no-devices " + Quote(fat) + " " + Quote(noVolume), 0, ""},
      {"copy " + Quote(ntfs) + out + " /Documents/readme.txt", 0, "Copied 1 files"},
  };
  for (const auto& c : cases) {
    const auto r = RunCommand(TimedCli(c.args));
    EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
    EXPECT_TRUE(test::Has(r.err, c.err)) << c.args << "\n" << r.err;
  }
  // Only the report and the copies remain: no partial file beside them.
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir.dir())) names.insert(e.path().filename());
  EXPECT_EQ(names, (std::set<std::string>{"zeros.img", "a-file", "r.txt", "out"}));
}

// A source with a sector that answers EIO: the scan that has to read it
// finishes and says it is incomplete; one that never reads it is done.
TEST(CliExitStatus, UnreadableAreasMakeADoneScanIncomplete) {
  const std::string fat = test::Fixture("fat32-512.img");
  // A sector far into the data area: the quick scan reads every cluster,
  // the indexed scan only those of folders.
  const std::uint64_t at = 40ULL << 20;
  test::FailingImage failing(fat, {{at, at + 511}});
  if (failing.path().empty()) GTEST_SKIP() << failing.why();
  const std::pair<std::string, int> cases[] = {
      {"scan --quick " + Quote(failing.path()), 3},
      {"report --quick " + Quote(failing.path()), 3},
      {"scan --indexed " + Quote(failing.path()), 0},
  };
  for (const auto& [args, status] : cases) {
    const auto r = RunCommand(TimedCli(args));
    EXPECT_EQ(r.status, status) << args << "\n" << r.err;
    EXPECT_EQ(test::Has(r.err, "bytes " + std::to_string(at) + "\u2013" + std::to_string(at + 511)), status == 3)
        << args << "\n" << r.err;
  }
}

// A tmpfs of four pages, smaller than the listing, the text and the PDF
// report of the FAT fixture.
class CliFullDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    disk_ = dir_.Path("disk");
    std::filesystem::create_directory(disk_);
    if (RunCommand("mount -t tmpfs -o size=16k none " + Quote(disk_)).status != 0)
      GTEST_SKIP() << "no tmpfs mount here";
    mounted_ = true;
  }
  void TearDown() override {
    if (mounted_) RunCommand("umount " + Quote(disk_));
  }
  test::ScratchDir dir_;
  std::string disk_;
  bool mounted_ = false;
  const std::string fat_ = test::Fixture("fat32-512.img");
};

TEST_F(CliFullDisk, OutputThatDoesNotFitIsAFailureWithItsCause) {
  const struct {
    std::string args, what;
  } cases[] = {{"scan", "listing"}, {"scan --json", "listing"}, {"report", "report"},
               {"drives --no-devices", "drive list"}};
  for (const auto& c : cases) {
    // The drive list is small: it fails only once nothing more fits.
    if (c.what == "drive list") RunCommand("cat /dev/zero > " + Quote(disk_ + "/filler"));
    const auto r = RunCommand(TimedCli(c.args + " " + Quote(fat_)) + " > " + Quote(disk_ + "/out"));
    EXPECT_EQ(r.status, 4) << c.args;
    EXPECT_TRUE(test::Has(r.err, "tessilon-cli: the " + c.what + " could not be written: No space left on device"))
        << r.err;
    RunCommand("rm -f " + Quote(disk_ + "/out"));
  }
}

TEST_F(CliFullDisk, ReportThatDoesNotFitLeavesNothingUnderItsName) {
  test::WriteFile(disk_ + "/old.txt", {'o', 'l', 'd'});
  const std::vector<std::string> targets = {"r.txt", "old.txt",
#ifdef TESSILON_CLI_PDF
                                            "r.pdf"
#endif
  };
  for (const std::string& name : targets) {
    const auto r = RunCommand(TimedCli("report --out " + Quote(disk_ + "/" + name) + " " + Quote(fat_)));
    EXPECT_EQ(r.status, 4) << name;
    EXPECT_TRUE(test::Has(r.err, "tessilon-cli: the report " + disk_ + "/" + name +
                                 " could not be written: No space left on device")) << r.err;
    // A report written before is kept whole.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(disk_), {}), 1) << name;
    EXPECT_EQ(test::ReadAll(disk_ + "/old.txt"), "old");
  }
}

// Ctrl-C during the quick scan of a 200 GB volume (sparse, made with
// mkfs.fat; the scan would read it for minutes): what was found before it is
// listed, and the status says the scan did not finish.
TEST(CliInterrupt, StopsTheScanAndListsWhatWasFound) {
  const test::ScratchDir dir;
  const std::string image = dir.Path("big.img");
  const std::string file = dir.Path("GONE.TXT");
  test::Sh("truncate -s 200G " + Quote(image) + " && mkfs.fat -F 32 -s 128 " + Quote(image) + " >/dev/null" +
           " && echo gone > " + Quote(file) + " && mcopy -i " + Quote(image) + " " + Quote(file) +
           " ::/GONE.TXT && mdel -i " + Quote(image) + " ::/GONE.TXT");
  // Job control keeps the background scan's interrupts from being ignored;
  // the signal is sent once the scan has taken charge of it, and a watchdog
  // ends a scan that would not stop.
  const std::string script = "set -m; " + std::string(TESSILON_CLI) + " scan --quick " + Quote(image) +
                             " & pid=$!; (sleep 120; kill -KILL $pid) & dog=$!; "
                             "for i in $(seq 3000); do "
                             "mask=$(awk '/^SigCgt/ {print $2}' /proc/$pid/status 2>/dev/null); "
                             "(( 0x${mask:-0} & 2 )) && break; sleep 0.01; done; "
                             "kill -INT $pid; wait $pid; status=$?; kill -- -$dog; exit $status";
  const auto r = RunCommand("bash -c " + Quote(script));
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_TRUE(test::Has(r.err, "Current function interrupted by user.")) << r.err;
  EXPECT_TRUE(test::Has(r.err, "File system scan interrupted.")) << r.err;
  EXPECT_TRUE(test::Has(r.out, "ONE.TXT\n")) << r.out;
}

TEST(CliClosedPipe, ReaderThatStopsEarlyIsNoFailure) {
  for (const std::string args : {"scan", "scan --json", "report"}) {
    const std::string command = TimedCli(args + " " + Quote(test::Fixture("fat32-512.img")));
    const auto r = RunCommand("bash -c " + Quote("set -o pipefail; " + command + " | head -1"));
    EXPECT_EQ(r.status, 0) << args << "\n" << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << args;
    EXPECT_FALSE(test::Has(r.err, "could not be written")) << r.err;
  }
}

// Deleted files whose names hold an escape, a newline and a backslash,
// made and removed through ntfs-3g on a copy of the NTFS fixture (fls -d
// lists all three as deleted); and in a folder whose name holds a quote and
// a backslash, files named with more of what a JSON writer must escape or
// pass through whole, every other one deleted.
class CliControlNames : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!test::HaveTool("ntfs-3g") || !test::HaveTool("fusermount")) return;
    dir_ = new test::ScratchDir;
    image_ = test::CopyOf(test::Fixture("ntfs-1k.img"), *dir_, "names.img");
    const std::string mnt = dir_->Path("mnt");
    std::filesystem::create_directory(mnt);
    made_ = {{kEscape, true}, {kNewline, true}, {kBackslash, true}};
    for (std::size_t i = 0; i < std::size(kAwkward); ++i)
      made_[std::string(kOddFolder) + "/" + kAwkward[i]] = i % 2 == 0;
    std::string script = "cd " + Quote(mnt) + " && mkdir " + Quote(kOddFolder), gone;
    for (const auto& [path, deleted] : made_) {
      script += " && echo deleted > " + Quote(path);
      if (deleted) gone += " " + Quote(path);
    }
    script += " && sync && rm" + gone;
    mounted_ = RunCommand("ntfs-3g " + Quote(image_) + " " + Quote(mnt) + " && (" + script +
                       "); made=$?; cd / && sync; fusermount -u " + Quote(mnt) + "; exit $made")
                .status == 0;
  }
  static void TearDownTestSuite() { delete std::exchange(dir_, nullptr); }
  void SetUp() override {
    if (!mounted_) GTEST_SKIP() << "no ntfs-3g mount here";
  }

  static constexpr const char* kOddFolder = "we\"ird\\dir";
  static constexpr const char* kAwkward[] = {
      "quote\"d.txt",      "tab\there.txt",          "ctl\x01\x1f\x7f.txt", "caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac.txt",
      "smile\xf0\x9f\x98\x80.txt", "pipe|comma,semi;.txt", "bs\b ff\f.txt",     "plain.txt"};
  static constexpr const char* kEscape = "a\x1b[31mb.txt";
  static constexpr const char* kNewline = "new\nline.txt";
  static constexpr const char* kBackslash = "back\\slash.txt";
  static inline test::ScratchDir* dir_ = nullptr;
  static inline std::string image_;
  static inline std::map<std::string, bool> made_;  // path below the root -> deleted
  static inline bool mounted_ = false;
};

TEST_F(CliControlNames, TextShowsThemEscaped) {
  const auto text = RunCommand(TimedCli("scan " + Quote(image_)));
  ASSERT_EQ(text.status, 0) << text.err;
  for (const char* shown : {"  /a\\x1b[31mb.txt\n", "  /new\\nline.txt\n", "  /back\\\\slash.txt\n"})
    EXPECT_TRUE(test::Has(text.out, shown)) << shown;
  const auto report = RunCommand(TimedCli("report " + Quote(image_)));
  ASSERT_EQ(report.status, 0) << report.err;
  EXPECT_TRUE(test::Has(report.out, "a\\x1b[31mb.txt")) << report.out;
  for (const auto* r : {&text, &report}) EXPECT_FALSE(test::Has(r->out + r->err, "\x1b")) << "a raw escape got out";
}

// Each line of the JSON listing is exactly what the JSON library writes for
// the values it reads back from it, in the same key order: any reader
// parses it. Every name comes back byte for byte, deleted or not (the quick
// scan, which lists what was deleted, names their folder by number).
TEST_F(CliControlNames, JsonLinesReadBackAsTheLibraryWritesThem) {
  for (const bool quick : {false, true}) {
    SCOPED_TRACE(quick ? "quick" : "indexed");
    const auto r = RunCommand(TimedCli(std::string("scan --json ") + (quick ? "--quick " : "") + Quote(image_)));
    ASSERT_EQ(r.status, 0) << r.err;
    std::map<std::string, nlohmann::ordered_json> files;  // by name
    for (const std::string& line : test::Split(r.out, '\n')) {
      const auto j = nlohmann::ordered_json::parse(line);
      EXPECT_EQ(j.dump(), line);
      if (!j["folder"].get<bool>()) files[j["name"].get<std::string>()] = j;
    }
    for (const auto& [path, deleted] : made_) {
      if (quick && !deleted) continue;
      const auto it = files.find(path.substr(path.rfind('/') + 1));
      ASSERT_NE(it, files.end()) << path;
      EXPECT_TRUE(quick || it->second["path"] == "/" + path) << it->second["path"] << " for " << path;
      EXPECT_EQ(it->second["deleted"], deleted) << path;
      EXPECT_EQ(it->second["size"], 8u);  // "deleted\n"
    }
  }
}

// The path of an image is a name too: one with an escape sequence that
// would retitle the terminal, and one that is not UTF-8.
TEST_F(CliControlNames, DriveListShowsTheSourceEscaped) {
  const struct {
    std::string name, shown, json;
  } cases[] = {
      {"disk\x1b]0;title\x07.img", "disk\\x1b]0;title\\x07.img", "disk\x1b]0;title\x07.img"},
      {"d\xffisk.img", "d\\xffisk.img", "d\xef\xbf\xbdisk.img"},  // U+FFFD
  };
  for (const auto& c : cases) {
    const std::string odd = test::CopyOf(image_, *dir_, c.name);
    const auto text = RunCommand(TimedCli("drives --no-devices " + Quote(odd)));
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_TRUE(test::Has(text.out, "/" + c.shown + "\n")) << text.out;
    EXPECT_FALSE(test::Has(text.out + text.err, "\x1b") || test::Has(text.out + text.err, "\xff")) << text.out;
    const auto json = RunCommand(TimedCli("drives --json --no-devices " + Quote(odd)));
    ASSERT_EQ(json.status, 0) << json.err;
    const auto row = nlohmann::json::parse(test::Split(json.out, '\n').at(0));
    EXPECT_TRUE(test::Has(row["source"].get<std::string>(), "/" + c.json)) << row;
  }
}

}  // namespace
}  // namespace tsn
