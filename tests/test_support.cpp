#include "test_support.h"

#include <cctype>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/main_dialog.h"

namespace tsn::test {

void Wire(AppState& app, HeadlessWindow& ui) {
  app.ui = &ui;
  ui.SetDialogProc([&app](const Message& m) { return MainDialogProc(&app, m); });
  MainDialogProc(&app, Message{MessageKind::InitDialog});
}

std::vector<std::string> HeadlessApp::LogMessages() const {
  std::vector<std::string> out;
  for (int r = 0; r < ui.RowCount(kLogList); ++r) out.push_back(ui.RowText(kLogList, r, 1));
  return out;
}

std::string HeadlessApp::LogText() const {
  std::string out;
  for (const auto& m : LogMessages()) out += m + "\n";
  return out;
}

void OpenImages(AppState& app, HeadlessWindow& ui, const std::vector<std::string>& files, int select) {
  app.sources.files = files;
  app.sources.scanDevices = false;
  ui.PostCommand(kCmdBuildDriveList);
  ui.RunDialog();
  if (select < 0 || select >= ui.RowCount(kDriveList)) return;
  ui.SetRowSelected(kDriveList, select, true);
  SelectCurrentDrive(&app);
}

ScratchDir::ScratchDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "tessilon-test-XXXXXX").string();
  if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
  dir_ = tmpl;
}

ScratchDir::~ScratchDir() {
  std::error_code ec;  // a destructor must not throw
  std::filesystem::remove_all(dir_, ec);
}

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> ReadAt(const std::string& path, std::uint64_t offset, std::size_t n) {
  std::vector<std::uint8_t> b(n);
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(n));
  return b;
}

void WriteAt(const std::string& path, std::uint64_t offset, const std::vector<std::uint8_t>& bytes) {
  std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
  f.seekp(static_cast<std::streamoff>(offset));
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!f) ADD_FAILURE() << "could not write " << path;
}

std::vector<std::uint8_t> Le(std::uint64_t value, int width) {
  std::vector<std::uint8_t> b;
  for (int i = 0; i < width; ++i) b.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  return b;
}

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::istringstream in(s);
  for (std::string part; std::getline(in, part, sep);) out.push_back(part);
  return out;
}

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (const char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string Cli(const std::string& args) { return std::string(TESSILON_CLI) + " " + args; }

CommandResult RunCommand(const std::string& commandLine) {
  static int counter = 0;
  const std::string base = std::filesystem::temp_directory_path().string() + "/tessilon-cmd-" +
                           std::to_string(::getpid()) + "-" + std::to_string(counter++);
  const std::string full = "(" + commandLine + ") >" + base + ".out 2>" + base + ".err";
  CommandResult r;
  const int raw = std::system(full.c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = ReadAll(base + ".out");
  r.err = ReadAll(base + ".err");
  std::filesystem::remove(base + ".out");
  std::filesystem::remove(base + ".err");
  return r;
}

void Sh(const std::string& commandLine) {
  const auto r = RunCommand(commandLine);
  ASSERT_EQ(r.status, 0) << commandLine << "\n" << r.err;
}

std::string Sha256OfFile(const std::string& path) { return RunCommand("sha256sum " + Quote(path)).out.substr(0, 64); }

bool HaveTool(const std::string& name) { return RunCommand("command -v " + name).status == 0; }

const nlohmann::json* Scan::Find(const std::string& path) const {
  for (const auto& e : entries)
    if (e["path"] == path) return &e;
  return nullptr;
}

std::set<std::string> Scan::Paths(bool deleted) const {
  std::set<std::string> out;
  for (const auto& e : entries)
    if (e["deleted"] == deleted) out.insert(e["path"].get<std::string>());
  return out;
}

std::map<std::string, std::uint64_t> Scan::Records(bool deleted) const {
  std::map<std::string, std::uint64_t> out;
  for (const auto& e : entries)
    if (e["deleted"] == deleted) out.emplace(e["path"].get<std::string>(), e["record"].get<std::uint64_t>());
  return out;
}

Scan RunScan(const std::string& image, bool quick, const std::string& extra, int timeoutSeconds) {
  const auto r = RunCommand("timeout " + std::to_string(timeoutSeconds) + " " + TESSILON_CLI + " scan --json " +
                            (quick ? "--quick " : "") + extra + " " + Quote(image));
  Scan s;
  s.status = r.status;
  s.log = r.err;
  for (const std::string& line : Split(r.out, '\n')) s.entries.push_back(nlohmann::json::parse(line));
  return s;
}

// TESSILON_TEST_FIXTURES points the suites at another set of fixture images, such as one built from a changed recipe,
// without a new build.
std::string Fixture(const std::string& name) {
  const char* other = std::getenv("TESSILON_TEST_FIXTURES");
  return std::string(other != nullptr && *other != '\0' ? other : TESSILON_FIXTURES) + "/" + name;
}

std::vector<nlohmann::json> ManifestOf(const std::string& image) {
  std::vector<nlohmann::json> out;
  std::ifstream in(Fixture("manifest.jsonl"));
  for (std::string line; std::getline(in, line);) {
    auto j = nlohmann::json::parse(line);
    if (j["image"] == image) out.push_back(std::move(j));
  }
  return out;
}

std::string ManifestSha(const std::string& image, const std::string& path) {
  for (const auto& e : ManifestOf(image))
    if (e["path"] == path) return e.value("sha256", "");
  return "";
}

std::vector<std::uint64_t> IstatClusters(const std::string& image, std::uint64_t record, const std::string& type) {
  std::istringstream in(RunCommand("istat " + Quote(image) + " " + std::to_string(record)).out);
  std::vector<std::uint64_t> clusters;
  bool inData = false;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("Type:", 0) == 0) {
      if (inData) break;
      inData = line.rfind("Type: " + type + " ", 0) == 0;
    } else if (inData) {
      std::istringstream nums(line);
      for (std::uint64_t c; nums >> c;) clusters.push_back(c);
    }
  }
  return clusters;
}

std::string RealImagesDir() {
  return std::filesystem::weakly_canonical(std::string(TESSILON_SOURCE_DIR) + "/../shared/realimages").string();
}

std::string RealImage(const std::string& archive, const std::string& member) {
  const std::string source = RealImagesDir() + "/" + archive;
  if (!std::filesystem::exists(source)) {
    if (std::getenv("CI") != nullptr) ADD_FAILURE() << "CI: no real image " << source;
    return {};
  }
  const std::string dir = std::string(TESSILON_BUILD_DIR) + "/realimages";
  std::filesystem::create_directories(dir);
  const bool gz = archive.size() > 3 && archive.compare(archive.size() - 3, 3, ".gz") == 0 &&
                  archive.find(".tgz") == std::string::npos;
  const std::string target = dir + "/" + (gz ? archive.substr(0, archive.size() - 3) : member);
  if (std::filesystem::exists(target)) return target;
  const std::string command =
      gz ? "gzip -dc '" + source + "' > '" + target + ".part' && mv '" + target + ".part' '" + target + "'"
      : archive.find(".zip") != std::string::npos ? "cd '" + dir + "' && unzip -o -q '" + source + "'"
                                                  : "cd '" + dir + "' && tar -xSzf '" + source + "'";
  return RunCommand(command).status == 0 && std::filesystem::exists(target) ? target : std::string();
}

std::string CopyOf(const std::string& path, const ScratchDir& dir, const std::string& name) {
  std::filesystem::copy_file(path, dir.Path(name), std::filesystem::copy_options::overwrite_existing);
  return dir.Path(name);
}

FailingImage::FailingImage(const std::string& image, const std::vector<std::pair<std::uint64_t, std::uint64_t>>& bad) {
  std::string tmpl = (std::filesystem::temp_directory_path() / "tessilon-fuse-XXXXXX").string();
  if (::mkdtemp(tmpl.data()) == nullptr) {
    why_ = "no mount point";
    return;
  }
  mount_ = tmpl;
  std::vector<std::string> args{TESSILON_BAD_SECTORS_FUSE, image, mount_};
  for (const auto& [first, last] : bad) args.push_back(std::to_string(first) + "-" + std::to_string(last));
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_ = ::fork();
  if (pid_ == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) ::dup2(null, 1);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  const std::string served = mount_ + "/" + std::filesystem::path(image).filename().string();
  std::error_code ec;
  const auto size = std::filesystem::file_size(image, ec);
  for (int i = 0; i < 200; ++i) {
    if (std::filesystem::file_size(served, ec) == size && !ec) {
      path_ = served;
      return;
    }
    int status = 0;
    if (pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      break;
    }
    ::usleep(25'000);
  }
  why_ = "the FUSE file system did not come up (is /dev/fuse there, and fusermount3?)";
}

FailingImage::~FailingImage() {
  if (pid_ > 0) {
    if (RunCommand("fusermount3 -u " + Quote(mount_)).status != 0) ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  if (!mount_.empty()) ::rmdir(mount_.c_str());
}

std::string DeletedNameKey(const std::string& path) {
  std::string out;
  for (std::size_t i = 0; i < path.size(); ++i)
    out += path[i] == '/'                    ? '/'
           : i == 0 || path[i - 1] == '/' ? '?'
                                          : static_cast<char>(std::tolower(static_cast<unsigned char>(path[i])));
  return out;
}

bool IsCopyManifest(const std::filesystem::path& file) {
  const std::string name = file.filename().string();
  for (const char* manifest : {"tessilon-manifest", "SHA256SUMS", "MD5SUMS"})
    if (name.rfind(manifest, 0) == 0) return true;
  return false;
}

std::string TimedCli(const std::string& args) { return "timeout 120 " + Cli(args); }

CommandResult CliCopy(const std::string& image, const std::string& to, const std::vector<std::string>& paths,
                      const std::string& options) {
  std::string args = "copy " + options + " " + Quote(image) + " --to " + Quote(to);
  for (const auto& p : paths) args += " " + Quote(p);
  return RunCommand(TimedCli(args));
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

std::vector<nlohmann::json> DataRows(const std::string& name) {
  std::vector<nlohmann::json> rows;
  std::ifstream in(std::string(TESSILON_SOURCE_DIR) + "/tests/data/" + name);
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && line[0] != '#') rows.push_back(nlohmann::json::parse(line));
  if (rows.empty()) ADD_FAILURE() << "no rows in tests/data/" << name;
  return rows;
}

}  // namespace tsn::test
