// Where copies may go, through the command line: destinations that share
// bytes with the source (ntfs-3g mounts of the image, of a loop device over
// it, of a partition of a whole-disk loop device) are refused before
// anything is made; links planted in the destination are not followed;
// names Linux cannot hold are changed and told; a full destination and an
// interrupted copy leave nothing cut short under a real name.
#include <sys/stat.h>
#include <unistd.h>

#include <optional>

#include "app/app_state.h"
#include "app/copy_command.h"
#include "app/file_list.h"
#include "test_support.h"

namespace tsn {
namespace {

namespace fs = std::filesystem;
using test::Has;
using test::Quote;
using test::RunCommand;

test::CommandResult Copy(const std::string& args) { return RunCommand(test::TimedCli("copy " + args)); }

std::string Trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

// Why this machine cannot mount with ntfs-3g, or nullopt when it can.
std::optional<std::string> WhyNoFuse() {
  if (::geteuid() != 0) return "mounting and loop devices need root";
  if (!fs::exists("/dev/fuse")) return "there is no /dev/fuse";
  for (const char* tool : {"ntfs-3g", "fusermount", "losetup", "mkntfs"})
    if (!test::HaveTool(tool)) return std::string(tool) + " is not installed";
  return std::nullopt;
}

// A writable ntfs-3g mount, unmounted when it goes. noatime: looking at the
// mount must not change the image, so that the hash shows any write.
class NtfsMount {
 public:
  NtfsMount(const std::string& source, const std::string& at) : at_(at) {
    fs::create_directories(at);
    mounted_ = RunCommand("ntfs-3g -o noatime " + Quote(source) + " " + Quote(at)).status == 0;
  }
  ~NtfsMount() {
    if (mounted_ && RunCommand("fusermount -u " + Quote(at_)).status != 0) RunCommand("umount " + Quote(at_));
  }
  bool mounted() const { return mounted_; }

 private:
  std::string at_;
  bool mounted_ = false;
};

// A loop device over an image, detached when it goes.
class LoopDevice {
 public:
  LoopDevice(const std::string& image, bool partitions) {
    const auto r = RunCommand(std::string("losetup -f --show ") + (partitions ? "-P " : "") + Quote(image));
    if (r.status == 0) path_ = Trimmed(r.out);
  }
  ~LoopDevice() {
    if (!path_.empty()) RunCommand("losetup -d " + path_);
  }
  const std::string& path() const { return path_; }
  // A node for partition n, made in dir from what sysfs says (no udev here);
  // "" when the partition does not show.
  std::string PartitionNode(int n, const std::string& dir) const {
    const std::string name = fs::path(path_).filename().string() + "p" + std::to_string(n);
    const std::string sys = "/sys/class/block/" + name + "/dev";
    if (!fs::exists(sys)) RunCommand("partx -a " + path_);  // losetup's own scan can come late
    const std::string dev = Trimmed(test::ReadAll(sys));
    const std::size_t colon = dev.find(':');
    if (colon == std::string::npos) return "";
    const std::string node = dir + "/" + name;
    const std::string major = dev.substr(0, colon), minor = dev.substr(colon + 1);
    return RunCommand("mknod " + Quote(node) + " b " + major + " " + minor).status == 0 ? node : "";
  }

 private:
  std::string path_;
};

struct MountedCase {
  const char* what;
  const char* fixture;
  bool loop;           // mounted through a loop device (else ntfs-3g on the image file)
  int mountPartition;  // 0: the whole image is the volume
  bool readLoop;       // the copy reads the loop device, not the image
  int readPartition;
  const char* to;      // below the scratch folder; "mnt" is the mount, "link" a link to it
  bool vmdkFlat = false;  // the image is the flat extent of a VMDK, and the copy reads its descriptor
};

TEST(CopyRefusal, DestinationsThatShareBytesWithTheSourceAreRefusedAndNothingIsMade) {
  if (const auto why = WhyNoFuse()) GTEST_SKIP() << why.value();
  const MountedCase cases[] = {
      {"ntfs-3g on the image", "ntfs-4k.img", false, 0, false, 0, "mnt/new/deeper"},
      {"a link to that mount", "ntfs-4k.img", false, 0, false, 0, "link/new"},
      {"ntfs-3g on a loop device over the image", "ntfs-4k.img", true, 0, false, 0, "mnt/new/deeper"},
      {"the same, the loop device read", "ntfs-4k.img", true, 0, true, 0, "mnt/new"},
      {"a partition of a whole-disk loop device, the image read", "mbr-disk.img", true, 2, false, 2, "mnt/new"},
      {"the same, the loop device read, another partition", "mbr-disk.img", true, 2, true, 5, "mnt/new/deeper"},
      {"ntfs-3g on a VMDK's flat extent, its descriptor read", "ntfs-4k.img", false, 0, false, 0, "mnt/new", true},
  };
  for (const MountedCase& c : cases) {
    SCOPED_TRACE(c.what);
    test::ScratchDir dir;
    std::string image = test::CopyOf(test::Fixture(c.fixture), dir, "source.img");
    std::string descriptor;
    if (c.vmdkFlat) {
      if (!test::HaveTool("qemu-img")) GTEST_SKIP() << "qemu-img is missing";
      descriptor = dir.Path("source.vmdk");
      test::Sh("qemu-img convert -O vmdk -o subformat=monolithicFlat " + Quote(image) + " " + Quote(descriptor));
      image = dir.Path("source-flat.vmdk");
    }
    const std::string before = test::Sha256OfFile(image);
    {
      std::optional<LoopDevice> loop;
      std::string mounted = image;
      if (c.loop) {
        loop.emplace(image, c.mountPartition != 0);
        if (loop->path().empty()) GTEST_SKIP() << "no loop device could be set up";
        mounted = c.mountPartition ? loop->PartitionNode(c.mountPartition, dir.dir()) : loop->path();
        ASSERT_FALSE(mounted.empty()) << "partition " << c.mountPartition << " of " << loop->path() << " shows not";
      }
      const std::string mnt = dir.Path("mnt");
      NtfsMount mount(mounted, mnt);
      ASSERT_TRUE(mount.mounted());
      fs::create_directory_symlink(mnt, dir.Path("link"));
      const std::string source = c.readLoop ? loop->path() : c.vmdkFlat ? descriptor : image;
      const std::string partition = c.readPartition ? " --partition " + std::to_string(c.readPartition) : "";
      const auto r = Copy(Quote(source) + partition + " --to " + Quote(dir.Path(c.to)));
      EXPECT_EQ(r.status, 1) << r.err;
      EXPECT_TRUE(Has(r.err, "nothing was copied: " + dir.Path(c.to) + " lies on ")) << r.err;
      EXPECT_TRUE(Has(r.err, "; copying there could overwrite the very files sought")) << r.err;
      EXPECT_FALSE(fs::exists(mnt + "/new"));
      // A report written there is refused the same way.
      const auto report =
          RunCommand(test::TimedCli("report " + Quote(source) + partition + " --out " + Quote(dir.Path(c.to) + "/r.txt")));
      EXPECT_EQ(report.status, 1) << report.err;
      EXPECT_TRUE(Has(report.err, "; copying there could overwrite the very files sought")) << report.err;
      // The window's own copy command refuses it too.
      test::HeadlessApp h;
      h.OpenImages({source});
      ASSERT_NE(h.app.currentDrive, nullptr);
      FoundFile any;
      any.name = "any.bin";
      const CopyTotals t = CopyFilesTo(&h.app, h.app.currentDrive, dir.Path(c.to), {{&any, {}}});
      EXPECT_TRUE(t.refused);
      EXPECT_TRUE(Has(h.LogText(), "Nothing was copied: " + dir.Path(c.to) + " lies on ")) << h.LogText();
      EXPECT_FALSE(fs::exists(mnt + "/new"));
    }
    EXPECT_EQ(test::Sha256OfFile(image), before);
  }
}

TEST(CopyRefusal, ADestinationOnTheDeviceBeingReadIsRefusedBeforeTheScan) {
  test::ScratchDir dir;
  struct stat st {};
  ASSERT_EQ(::stat(dir.dir().c_str(), &st), 0);
  // A node for the very device the scratch folder lies on.
  const std::string node = dir.Path("device");
  if (::mknod(node.c_str(), S_IFBLK | 0600, st.st_dev) != 0) GTEST_SKIP() << "device nodes cannot be made here";
  const auto r = Copy(Quote(node) + " --to " + Quote(dir.Path("out/sub")));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.err, "nothing was copied: " + dir.Path("out/sub") + " lies on " + node + ", the device being read"))
      << r.err;
  EXPECT_FALSE(Has(r.err, "drive mapping")) << "the device was scanned first";
  EXPECT_FALSE(fs::exists(dir.Path("out")));
}

TEST(CopyDestination, LinksPlantedInTheDestinationAreNotFollowed) {
  test::ScratchDir dir;
  const std::string out = dir.Path("out"), elsewhere = dir.Path("elsewhere");
  fs::create_directories(out + "/Compressed");
  fs::create_directories(elsewhere);
  test::WriteFile(elsewhere + "/victim.txt", {'v'});
  // A folder of the copy, a file of it and the partial name it is written
  // under, each a link out of the destination.
  fs::create_directory_symlink(elsewhere, out + "/Documents");
  fs::create_symlink(elsewhere + "/victim.txt", out + "/Compressed/deleted-compressed.txt");
  fs::create_symlink(elsewhere + "/made-through-a-link", out + "/Compressed/.partial-deleted-compressed.txt");
  const auto r = Copy(Quote(test::Fixture("ntfs-4k.img")) + " --to " + Quote(out) +
                      " /Documents/deleted-note.txt /Compressed/deleted-compressed.txt");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::Sha256OfFile(out + "/Documents (2)/deleted-note.txt"),
            test::ManifestSha("ntfs-4k.img", "Documents/deleted-note.txt"));
  EXPECT_EQ(test::Sha256OfFile(out + "/Compressed/deleted-compressed (2).txt"),
            test::ManifestSha("ntfs-4k.img", "Compressed/deleted-compressed.txt"));
  EXPECT_TRUE(Has(r.err, out + "/Compressed/deleted-compressed.txt is taken; the copy is saved as " + out +
                             "/Compressed/deleted-compressed (2).txt.")) << r.err;
  // Copied again, the first copy's name is taken too.
  EXPECT_EQ(Copy(Quote(test::Fixture("ntfs-4k.img")) + " --to " + Quote(out) + " /Compressed/deleted-compressed.txt").status, 0);
  EXPECT_EQ(test::Sha256OfFile(out + "/Compressed/deleted-compressed (3).txt"),
            test::ManifestSha("ntfs-4k.img", "Compressed/deleted-compressed.txt"));
  EXPECT_EQ(std::distance(fs::directory_iterator(elsewhere), {}), 1);
  EXPECT_EQ(test::ReadAll(elsewhere + "/victim.txt"), "v");
  // A dangling link on the way to a destination still to be made is not
  // followed either: nothing is made at its target.
  const auto dangling = Copy(Quote(test::Fixture("ntfs-4k.img")) + " --to " + Quote(out + "/Compressed/.partial-deleted-compressed.txt/sub"));
  EXPECT_EQ(dangling.status, 1);
  EXPECT_TRUE(Has(dangling.err, "is a symbolic link to nothing, which is not followed")) << dangling.err;
  EXPECT_FALSE(fs::exists(elsewhere + "/made-through-a-link"));
}

// Names made on an NTFS volume through ntfs-3g, then deleted: control
// characters, a name of 404 bytes, and a file and two folders that clean to
// the same name.
TEST(CopyDestination, NamesLinuxCannotHoldAreChangedToldAndKeptApart) {
  if (const auto why = WhyNoFuse()) GTEST_SKIP() << why.value();
  test::ScratchDir dir;
  const std::string image = dir.Path("names.img");
  const auto named = [](int characters) {
    std::string name;
    for (int i = 0; i < characters; ++i) name += "é";
    return name + ".txt";
  };
  const std::string longName = named(200), shortName = named(125);  // 250 bytes of whole characters
  ASSERT_EQ(RunCommand("truncate -s 16M " + Quote(image) + " && mkntfs -F -Q -q " + Quote(image) + " 2>/dev/null").status, 0);
  {
    NtfsMount mount(image, dir.Path("mnt"));
    ASSERT_TRUE(mount.mounted());
    const auto made = RunCommand(
        "set -e; cd " + Quote(dir.Path("mnt")) +
        "; mkdir \"$(printf 'x\\ny')\" x_y; echo one > \"$(printf 'x\\ny')/inner1.txt\"; echo two > x_y/inner2.txt;"
        " echo three > \"$(printf 'x\\033y')\"; echo long > " + Quote(longName) + "; echo kept > kept.txt;"
        " rm -r \"$(printf 'x\\ny')\" x_y \"$(printf 'x\\033y')\" " + Quote(longName));
    ASSERT_EQ(made.status, 0) << made.err;
  }
  const std::string out = dir.Path("out");
  const auto r = Copy(Quote(image) + " --to " + Quote(out));
  EXPECT_EQ(r.status, 0) << r.err;
  // The root's files come first: the file keeps "x_y", the folders, in
  // tree order, take "x_y (2)" and "x_y (3)"; no file is lost.
  EXPECT_EQ(test::ReadAll(out + "/x_y"), "three\n");
  std::set<std::string> inner;
  for (const char* folder : {"/x_y (2)", "/x_y (3)"})
    for (const auto& e : fs::directory_iterator(out + folder))
      inner.insert(e.path().filename().string() + ":" + test::ReadAll(e.path().string()));
  EXPECT_EQ(inner, (std::set<std::string>{"inner1.txt:one\n", "inner2.txt:two\n"}));
  EXPECT_EQ(test::ReadAll(out + "/" + shortName), "long\n");
  for (const std::string& told :
       {"The file name \"x\\x1by\" in " + out + " holds control characters; it is saved as \"x_y\".",
        "The folder name \"x\\ny\" in " + out + " holds control characters; it is saved as \"x_y\".",
        std::string("; the folder \"x_y\" is saved as \"x_y ("), "The file name \"" + longName + "\" in " + out +
        " is 404 bytes long, more than the 255 a Linux name may hold; it is saved as \"" + shortName + "\"."})
    EXPECT_TRUE(Has(r.err, told)) << told << "\n" << r.err;
}

TEST(CopyDestination, AFullDestinationKeepsOnlyWholeCopiesAndNamesTheRest) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
  test::ScratchDir dir;
  const std::string small = dir.Path("small");
  fs::create_directories(small);
  if (RunCommand("mount -t tmpfs -o size=256k tmpfs " + Quote(small)).status != 0)
    GTEST_SKIP() << "a tmpfs cannot be mounted here";
  const std::string image = test::Fixture("ntfs-4k.img");
  const auto r = Copy(Quote(image) + " --to " + Quote(small + "/out"));
  // What is there, looked at before the tmpfs goes.
  std::map<std::string, std::uintmax_t> copied;
  std::vector<std::string> partial;
  for (const auto& e : fs::recursive_directory_iterator(small + "/out"))
    if (e.is_regular_file() && !test::IsCopyManifest(e.path())) {
      const std::string name = e.path().filename().string();
      if (name.rfind(".partial-", 0) == 0) partial.push_back(name);
      copied[e.path().string().substr(small.size() + 4)] = e.file_size();
    }
  RunCommand("umount " + Quote(small));
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_TRUE(partial.empty()) << partial.front();
  EXPECT_TRUE(Has(r.err, " was not copied: writing the copy failed: No space left on device; nothing of it is kept."))
      << r.err;
  EXPECT_FALSE(copied.empty()) << "nothing fitted, the test proves little";
  // Every copy kept under its name is whole: as long as the scan says.
  const test::Scan scan = test::RunScan(image, false);
  for (const auto& [path, size] : copied) {
    const nlohmann::json* e = scan.Find(path);
    ASSERT_NE(e, nullptr) << path;
    EXPECT_EQ(size, (*e)["size"].get<std::uintmax_t>()) << path;
    EXPECT_FALSE(Has(r.err, small + "/out" + path + " was not copied")) << path;
  }
}

TEST(CopyDestination, AnInterruptedCopyRemovesTheFileItWasWriting) {
  if (!test::HaveTool("strace")) GTEST_SKIP() << "strace is not installed";
  test::ScratchDir dir;
  const std::string out = dir.Path("out");
  // Ctrl+C arrives at the third write into the partial file of the big one.
  const std::string partial = fs::absolute(out).string() + "/Frag/.partial-filler.bin";
  // The leak checker of a sanitizer build cannot run under a tracer.
  const auto r = RunCommand("ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" strace -f -qq -o /dev/null"
                            " -e trace=write -e inject=write:signal=INT:when=3 -P " +
                            Quote(partial) + " " + TESSILON_CLI + " copy " + Quote(test::Fixture("ntfs-4k.img")) +
                            " --to " + Quote(out) + " /Documents/deleted-note.txt /Frag/filler.bin");
  if (Has(r.err, "PTRACE") || Has(r.err, "ptrace")) GTEST_SKIP() << "tracing is not allowed here: " << r.err;
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_TRUE(Has(r.err, out + "/Frag/filler.bin was not copied: copying was interrupted; nothing of it is kept."))
      << r.err;
  EXPECT_EQ(test::Sha256OfFile(out + "/Documents/deleted-note.txt"),
            test::ManifestSha("ntfs-4k.img", "Documents/deleted-note.txt"));
  EXPECT_TRUE(fs::is_empty(out + "/Frag"));
}

}  // namespace
}  // namespace tsn
