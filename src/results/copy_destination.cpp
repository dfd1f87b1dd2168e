#include "core/engine_host.h"
#include "results/copy_destination.h"
#include "source/byte_source.h"

#include <fcntl.h>
#include <stdio.h>  // renameat2
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>


namespace tsn {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxNameBytes = 255;
// A longer tail after the last dot is no extension worth keeping whole.
constexpr std::size_t kMaxExtensionBytes = 32;
constexpr int kMaxNameTries = 10000;
// Partitions, holders and loop devices visited, at most: sysfs is the
// kernel's, but a bound costs nothing.
constexpr std::size_t kMaxDevices = 4096;
constexpr const char* kPartialPrefix = ".partial-";
constexpr const char* kOverwriteWarning = "; copying there could overwrite the very files sought";

std::string FirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// A block device's folder in sysfs, resolved ("" when it has none).
std::string SysfsDir(dev_t dev) {
  std::error_code ec;
  const fs::path p =
      fs::canonical("/sys/dev/block/" + std::to_string(major(dev)) + ":" + std::to_string(minor(dev)), ec);
  return ec ? std::string() : p.string();
}

std::optional<dev_t> DeviceOfSysfsDir(const std::string& dir) {
  unsigned maj = 0, min = 0;
  if (std::sscanf(FirstLine(dir + "/dev").c_str(), "%u:%u", &maj, &min) != 2) return std::nullopt;
  return makedev(maj, min);
}

// Everything that holds the source's bytes: the device or image itself, the
// devices that overlap it, and the files behind loop devices.
struct SourceFootprint {
  std::string source;
  std::map<dev_t, std::string> devices;  // -> the name shown for it
  std::vector<std::pair<dev_t, ino_t>> files;
  std::vector<std::string> filePaths;    // resolved

  void AddFile(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) files.emplace_back(st.st_dev, st.st_ino);
    std::error_code ec;
    const fs::path resolved = fs::weakly_canonical(path, ec);
    filePaths.push_back(ec ? path : resolved.string());
  }

  bool IsSourceFile(const std::string& path) const {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
      for (const auto& [dev, ino] : files)
        if (st.st_dev == dev && st.st_ino == ino) return true;
    std::error_code ec;
    const fs::path resolved = fs::weakly_canonical(path, ec);
    for (const std::string& p : filePaths)
      if (p == (ec ? path : resolved.string())) return true;
    return false;
  }

  // A mount source that is the image, the device or a device over either.
  bool HoldsMountSource(const std::string& mountSource) const {
    if (mountSource.empty() || mountSource[0] != '/') return false;
    struct stat st {};
    if (::stat(mountSource.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) return devices.count(st.st_rdev) != 0;
    return IsSourceFile(mountSource);
  }

  // Adds the devices and, below each, its partitions and the devices built
  // on it (device-mapper, md), as far as sysfs tells.
  void AddDevicesBelow(std::deque<dev_t> pending) {
    while (!pending.empty() && devices.size() < kMaxDevices) {
      const dev_t dev = pending.front();
      pending.pop_front();
      const std::string dir = SysfsDir(dev);
      const std::string name = dir.empty() ? source : "/dev/" + fs::path(dir).filename().string();
      if (!devices.emplace(dev, name).second || dir.empty()) continue;
      std::error_code ec;
      for (const auto& entry : fs::directory_iterator(dir, ec))
        if (fs::exists(entry.path() / "partition", ec))
          if (const auto part = DeviceOfSysfsDir(entry.path().string())) pending.push_back(*part);
      for (const auto& entry : fs::directory_iterator(dir + "/holders", ec))
        if (const auto holder = DeviceOfSysfsDir(entry.path().string())) pending.push_back(*holder);
    }
  }
};

SourceFootprint FootprintOf(const std::string& source) {
  SourceFootprint fp;
  fp.source = source;
  struct stat st {};
  if (source.empty() || ::stat(source.c_str(), &st) != 0) return fp;
  std::deque<dev_t> pending;
  if (S_ISBLK(st.st_mode)) {
    const std::string dir = SysfsDir(st.st_rdev);
    pending.push_back(st.st_rdev);
    if (!dir.empty()) {
      // The disk a partition lies on holds it whole; its other partitions
      // do not, and may take the copies.
      if (fs::exists(dir + "/partition"))
        if (const auto disk = DeviceOfSysfsDir(dir + "/..")) {
          fp.devices.emplace(*disk, "/dev/" + fs::path(dir).parent_path().filename().string());
          std::error_code ec;
          for (const auto& entry : fs::directory_iterator(dir + "/../holders", ec))
            if (const auto holder = DeviceOfSysfsDir(entry.path().string())) pending.push_back(*holder);
        }
      const std::string backing = FirstLine(dir + "/loop/backing_file");
      if (!backing.empty()) fp.AddFile(backing);
    }
  } else {
    // Every file of an image: a segment or a parent disk is as much the
    // evidence as the file named.
    for (const std::string& file : ImageFilesOf(source)) fp.AddFile(file);
  }
  // Every loop device over the image (or over the file behind a loop source).
  if (!fp.filePaths.empty()) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/sys/class/block", ec)) {
      const std::string backing = FirstLine(entry.path().string() + "/loop/backing_file");
      if (!backing.empty() && fp.IsSourceFile(backing))
        if (const auto loop = DeviceOfSysfsDir(entry.path().string())) pending.push_back(*loop);
    }
  }
  fp.AddDevicesBelow(std::move(pending));
  if (S_ISBLK(st.st_mode)) fp.devices[st.st_rdev] = source;
  return fp;
}

// mountinfo writes space, tab, newline and backslash as octal escapes.
std::string UnescapeMountField(const std::string& field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const std::string octal = field.substr(i + 1, 3);
      if (octal.size() == 3 && octal.find_first_not_of("01234567") == std::string::npos) {
        out += static_cast<char>(std::stoi(octal, nullptr, 8));
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}

// The sources of every mount of the file system with device number `dev`.
std::vector<std::string> MountSourcesOf(dev_t dev) {
  std::vector<std::string> out;
  std::ifstream in("/proc/self/mountinfo");
  const std::string id = std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string mountId, parentId, majMin, field;
    if (!(fields >> mountId >> parentId >> majMin) || majMin != id) continue;
    while (fields >> field && field != "-") {
    }
    std::string type, source;
    if (fields >> type >> source) out.push_back(UnescapeMountField(source));
  }
  return out;
}

std::optional<std::string> RefusalFor(const SourceFootprint& fp, dev_t dest, const std::string& shown) {
  if (const auto it = fp.devices.find(dest); it != fp.devices.end()) {
    if (it->second == fp.source) return shown + " lies on " + fp.source + ", the device being read" + kOverwriteWarning;
    return shown + " lies on " + it->second + ", which shares its bytes with " + fp.source + ", the source being read" +
           kOverwriteWarning;
  }
  for (const std::string& mountSource : MountSourcesOf(dest))
    if (fp.HoldsMountSource(mountSource))
      return shown + " lies on a file system mounted from " + mountSource +
             (fp.IsSourceFile(mountSource) ? ", which is " : ", which shares its bytes with ") + fp.source +
             ", the source being read" + kOverwriteWarning;
  return std::nullopt;
}

// The destination's nearest folder that exists (its links followed, as the
// user named them), opened, and the names below it still to be made.
struct ExistingAncestor {
  int fd = -1;
  std::string path;
  std::vector<std::string> missing;
};

bool OpenNearestFolder(const std::string& destination, ExistingAncestor* out, std::string* why) {
  if (destination.empty()) {
    *why = "no folder was named to copy to";
    return false;
  }
  fs::path at(destination);
  std::vector<std::string> missing;
  for (;;) {
    const std::string path = at.empty() ? std::string(".") : at.string();
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
      out->fd = fd;
      out->path = path;
      break;
    }
    struct stat st {};
    if (errno == ENOTDIR && ::stat(path.c_str(), &st) == 0) {
      *why = path + " is not a folder";
      return false;
    }
    if (errno != ENOENT && errno != ENOTDIR) {
      *why = path + " cannot be opened: " + std::strerror(errno);
      return false;
    }
    // A link that leads nowhere: following it would make its target.
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
      *why = path + " is a symbolic link to nothing, which is not followed";
      return false;
    }
    if (at.empty() || at == at.root_path()) {
      *why = destination + " cannot be reached";
      return false;
    }
    if (!at.filename().empty()) missing.insert(missing.begin(), at.filename().string());
    at = at.parent_path();
  }
  for (const std::string& name : missing) {
    if (name == ".") continue;
    if (name == "..") {
      ::close(out->fd);
      *why = destination + " goes up (\"..\") out of a folder that does not exist";
      return false;
    }
    out->missing.push_back(name);
  }
  return true;
}

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

// The longest start of s of at most `bytes` bytes that ends between two
// UTF-8 characters.
std::string CutAtCharacter(const std::string& s, std::size_t bytes) {
  if (s.size() <= bytes) return s;
  std::size_t n = bytes;
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  return s.substr(0, n);
}

// name with `suffix` before its extension, in at most 255 bytes: the part
// before the extension is cut to make room.
std::string FitName(const std::string& name, const std::string& suffix) {
  std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0 || name.size() - dot > kMaxExtensionBytes) dot = name.size();
  const std::string extension = name.substr(dot);
  return CutAtCharacter(name.substr(0, dot), kMaxNameBytes - suffix.size() - extension.size()) + suffix + extension;
}

// "name.ext", "name (2).ext", "name (3).ext"...
std::string CandidateName(const std::string& name, int attempt) {
  return FitName(name, attempt == 1 ? std::string() : " (" + std::to_string(attempt) + ")");
}

}  // namespace

std::string PrintableName(const std::string& name) {
  std::string out;
  for (const char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (!IsControl(u)) {
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", u);
      out += hex;
    }
  }
  return out;
}

SaveableName SaveableNameOf(const std::string& found) {
  SaveableName out;
  bool control = false, slash = false;
  for (const char c : found) {
    if (c == '/') {
      slash = true;
      out.name += '_';
    } else if (IsControl(static_cast<unsigned char>(c))) {
      control = true;
      out.name += '_';
    } else {
      out.name += c;
    }
  }
  std::vector<std::string> reasons;
  if (control) reasons.push_back("holds control characters");
  if (slash) reasons.push_back("holds a \"/\"");
  if (out.name.empty() || out.name == "." || out.name == "..") {
    reasons.push_back(out.name.empty() ? "is empty" : "is \"" + out.name + "\"");
    out.name = "_" + out.name;
  }
  if (out.name.size() > kMaxNameBytes) {
    reasons.push_back("is " + std::to_string(out.name.size()) + " bytes long, more than the 255 a Linux name may hold");
    out.name = FitName(out.name, "");
  }
  for (std::size_t i = 0; i < reasons.size(); ++i)
    out.why += (i == 0 ? "" : i + 1 == reasons.size() ? " and " : ", ") + reasons[i];
  return out;
}

std::optional<std::string> DestinationRefusal(const std::string& sourcePath, const std::string& destination) {
  ExistingAncestor ancestor;
  std::string why;
  if (!OpenNearestFolder(destination, &ancestor, &why)) return why;
  struct stat st {};
  const bool statted = ::fstat(ancestor.fd, &st) == 0;
  ::close(ancestor.fd);
  if (!statted) return destination + " cannot be examined: " + std::strerror(errno);
  return RefusalFor(FootprintOf(sourcePath), st.st_dev, destination);
}

CopyDestination::CopyDestination(EngineHost* app, int root, std::string path)
    : app_(app), root_(root), path_(std::move(path)) {}

CopyDestination::~CopyDestination() {
  if (lastFolder_ >= 0) ::close(lastFolder_);
  ::close(root_);
}

std::unique_ptr<CopyDestination> CopyDestination::Make(EngineHost* app, const std::string& sourcePath,
                                                       const std::string& destination, std::string* why) {
  ExistingAncestor ancestor;
  if (!OpenNearestFolder(destination, &ancestor, why)) return nullptr;
  int fd = ancestor.fd;
  struct stat checked {};
  if (::fstat(fd, &checked) != 0) {
    *why = destination + " cannot be examined: " + std::strerror(errno);
    ::close(fd);
    return nullptr;
  }
  if (auto refusal = RefusalFor(FootprintOf(sourcePath), checked.st_dev, destination)) {
    *why = *refusal;
    ::close(fd);
    return nullptr;
  }
  // Only now is anything made, a folder at a time, none through a link.
  std::string made = ancestor.path;
  for (const std::string& name : ancestor.missing) {
    made += "/" + name;
    if (::mkdirat(fd, name.c_str(), 0755) != 0 && errno != EEXIST) {
      *why = made + " cannot be made: " + std::strerror(errno);
      ::close(fd);
      return nullptr;
    }
    const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int error = errno;
    ::close(fd);
    if (next < 0) {
      *why = made + (error == ELOOP ? " is a symbolic link, which is not followed"
                                    : error == ENOTDIR ? " is not a folder"
                                                       : " cannot be opened: " + std::string(std::strerror(error)));
      return nullptr;
    }
    fd = next;
  }
  struct stat made_st {};
  if (::fstat(fd, &made_st) != 0 || made_st.st_dev != checked.st_dev) {
    *why = destination + " changed file system while it was made";
    ::close(fd);
    return nullptr;
  }
  std::string shown = destination;
  while (shown.size() > 1 && shown.back() == '/') shown.pop_back();
  return std::unique_ptr<CopyDestination>(new CopyDestination(app, fd, shown));
}

std::string CopyDestination::FolderPath(const std::vector<std::string>& labels, std::size_t depth) const {
  std::string path = path_;
  for (std::size_t i = 0; i < depth && i < labels.size(); ++i) {
    const auto it = names_.find({path, labels[i]});
    path += "/" + (it != names_.end() ? it->second : SaveableNameOf(labels[i]).name);
  }
  return path;
}

std::string CopyDestination::ShownPath(const std::vector<std::string>& labels, const std::string& name) const {
  const std::string folder = FolderPath(labels, labels.size());
  return name.empty() ? folder : folder + "/" + name;
}

int CopyDestination::Folder(const std::vector<std::string>& labels, std::string* why) {
  if (lastFolder_ >= 0 && labels == lastLabels_) return lastFolder_;
  if (lastFolder_ >= 0) ::close(lastFolder_);
  lastFolder_ = -1;
  int at = ::dup(root_);
  if (at < 0) {
    *why = path_ + " cannot be opened again: " + std::strerror(errno);
    return -1;
  }
  std::string path = path_;
  for (const std::string& label : labels) {
    const auto known = names_.find({path, label});
    int next = -1;
    std::string name;
    if (known != names_.end()) {
      name = known->second;
      next = ::openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (next < 0) *why = path + "/" + name + " cannot be opened: " + std::strerror(errno);
    } else {
      const SaveableName saveable = SaveableNameOf(label);
      if (!saveable.why.empty())
        LogMessage(app_, kAlert, "The folder name \"%s\" in %s %s; it is saved as \"%s\".",
                   PrintableName(label).c_str(), path.c_str(), saveable.why.c_str(), saveable.name.c_str());
      // A folder that was there before the copy is used again; one that this
      // copy made for another label, a file, or a link is passed by.
      for (int attempt = 1; attempt <= kMaxNameTries && next < 0; ++attempt) {
        name = CandidateName(saveable.name, attempt);
        if (taken_.count(path + "/" + name)) continue;
        if (::mkdirat(at, name.c_str(), 0755) != 0 && errno != EEXIST) {
          *why = path + "/" + name + " cannot be made: " + std::strerror(errno);
          break;
        }
        next = ::openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno != ENOTDIR && errno != ELOOP) {
          *why = path + "/" + name + " cannot be opened: " + std::strerror(errno);
          break;
        }
      }
      if (next >= 0) {
        names_[{path, label}] = name;
        taken_.insert(path + "/" + name);
        if (name != saveable.name)
          LogMessage(app_, kAlert, "%s/%s is taken by another entry or a link; the folder \"%s\" is saved as \"%s\".",
                     path.c_str(), saveable.name.c_str(), PrintableName(label).c_str(), name.c_str());
      } else if (why->empty()) {
        *why = "no free name was found for the folder " + path + "/" + saveable.name;
      }
    }
    ::close(at);
    if (next < 0) return -1;
    at = next;
    path += "/" + name;
  }
  lastLabels_ = labels;
  lastFolder_ = at;
  return at;
}

int CopyDestination::CreatePartial(int dir, const std::string& name, std::string* partial) {
  const std::string base = kPartialPrefix + name;
  for (int attempt = 1; attempt <= kMaxNameTries; ++attempt) {
    *partial = CandidateName(base, attempt);
    const int fd =
        ::openat(dir, partial->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

bool CopyDestination::Finish(int dir, const std::string& partial, const std::string& name, std::string* saved,
                             std::string* why) {
  for (int attempt = 1; attempt <= kMaxNameTries; ++attempt) {
    *saved = CandidateName(name, attempt);
    if (::renameat2(dir, partial.c_str(), dir, saved->c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno == EEXIST) continue;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) break;
    // A file system that cannot rename without replacing: a second link
    // fails on a taken name just as well.
    if (::linkat(dir, partial.c_str(), dir, saved->c_str(), 0) == 0) {
      ::unlinkat(dir, partial.c_str(), 0);
      return true;
    }
    if (errno == EEXIST) continue;
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS) break;
    // Nor links (FAT, some FUSE file systems): a name seen free a moment
    // ago, in a folder only this copy writes to.
    struct stat st {};
    if (::fstatat(dir, saved->c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) continue;
    if (errno == ENOENT && ::renameat(dir, partial.c_str(), dir, saved->c_str()) == 0) return true;
    break;
  }
  *why = errno == EEXIST ? std::string("no free name was found for it") : std::strerror(errno);
  return false;
}

bool CopyDestination::Discard(int dir, const std::string& partial) {
  return ::unlinkat(dir, partial.c_str(), 0) == 0;
}

}  // namespace tsn
