#include "test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/main_dialog.h"

namespace tsn::test {

HeadlessApp::HeadlessApp() {
  app.ui = &ui;
  ui.SetDialogProc([this](const Message& m) { return MainDialogProc(&app, m); });
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

ScratchDir::ScratchDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "tessilon-test-XXXXXX").string();
  if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
  dir_ = tmpl;
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

CommandResult RunCommand(const std::string& commandLine) {
  static int counter = 0;
  const std::string base = std::filesystem::temp_directory_path().string() + "/tessilon-cmd-" +
                           std::to_string(::getpid()) + "-" + std::to_string(counter++);
  const std::string full = "(" + commandLine + ") >" + base + ".out 2>" + base + ".err";
  CommandResult r;
  const int raw = std::system(full.c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  auto slurp = [](const std::string& p) {
    std::ifstream in(p);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  };
  r.out = slurp(base + ".out");
  r.err = slurp(base + ".err");
  std::filesystem::remove(base + ".out");
  std::filesystem::remove(base + ".err");
  return r;
}

std::string Sha256OfFile(const std::string& path) {
  const CommandResult r = RunCommand("sha256sum '" + path + "'");
  return r.out.substr(0, 64);
}

bool HaveTool(const std::string& name) {
  return RunCommand("command -v " + name).status == 0;
}

}  // namespace tsn::test

namespace tsn::test {

std::string RealImage(const std::string& archive, const std::string& member) {
  const std::string source = std::string(TESSILON_SOURCE_DIR) + "/../shared/realimages/" + archive;
  if (!std::filesystem::exists(source)) return {};
  const std::string dir = std::string(TESSILON_BUILD_DIR) + "/realimages";
  std::filesystem::create_directories(dir);
  const bool gz = archive.size() > 3 && archive.compare(archive.size() - 3, 3, ".gz") == 0 &&
                  archive.find(".tgz") == std::string::npos;
  const std::string target = dir + "/" + (gz ? archive.substr(0, archive.size() - 3) : member);
  if (std::filesystem::exists(target)) return target;
  std::string command;
  if (gz) command = "gzip -dc '" + source + "' > '" + target + ".part' && mv '" + target + ".part' '" + target + "'";
  else if (archive.find(".zip") != std::string::npos) command = "cd '" + dir + "' && unzip -o -q '" + source + "'";
  else command = "cd '" + dir + "' && tar -xSzf '" + source + "'";
  if (RunCommand(command).status != 0 || !std::filesystem::exists(target)) return {};
  return target;
}

std::string CopyOf(const std::string& path, const ScratchDir& dir, const std::string& name) {
  const std::string target = dir.Path(name);
  std::filesystem::copy_file(path, target, std::filesystem::copy_options::overwrite_existing);
  return target;
}

}  // namespace tsn::test
