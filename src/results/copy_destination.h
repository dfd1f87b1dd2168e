#pragma once
// Where "Copy files" writes: a folder checked, before anything is made, not to
// share a single byte with the source being read; then made, and written to
// through folder descriptors that never follow a symbolic link found inside
// it. A copy carries a ".partial-" name until it is complete, and no name
// that is already taken is ever written over.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tsn {

class EngineHost;

// Why `destination` must not be written to while the image or device at
// `sourcePath` is read, or nullopt when it may be. Nothing is made: a
// destination that does not exist yet is judged by its nearest existing
// folder, its symbolic links followed. Refused are a destination on the
// source device, on a partition, holder or whole disk of it, on a loop device
// (or its partitions) over the source image, and on any mount whose source
// is one of those or the image itself (FUSE mounts such as ntfs-3g's too).
std::optional<std::string> DestinationRefusal(const std::string& sourcePath,
                                              const std::string& destination);

// A name Linux can hold for a name found on the volume: "/" and control
// characters become "_", "." and ".." get a "_" in front, and a name longer
// than 255 bytes is cut on a character boundary, keeping its extension.
// `why` says what was changed (empty when nothing was).
struct SaveableName {
  std::string name;
  std::string why;
};
SaveableName SaveableNameOf(const std::string& found);

// The name as a log line can show it: control characters as "\n", "\x1b".
std::string PrintableName(const std::string& name);

class CopyDestination {
 public:
  ~CopyDestination();
  CopyDestination(const CopyDestination&) = delete;
  CopyDestination& operator=(const CopyDestination&) = delete;

  // Checks `destination` as DestinationRefusal does and only then makes the
  // folders up to it; null, with the reason in *why, when it is refused or
  // cannot be made.
  static std::unique_ptr<CopyDestination> Make(EngineHost* app, const std::string& sourcePath,
                                               const std::string& destination, std::string* why);

  // The folder for a path of the tree (its labels below Root), made when
  // missing, as a descriptor this object keeps; -1 with *why when it cannot
  // be. A label that cleans to a name another entry of this copy has taken
  // gets " (2)", " (3)"... and keeps that name for the whole copy.
  int Folder(const std::vector<std::string>& labels, std::string* why);
  // Where a file of that folder is said to go (the folder itself for an
  // empty name), for the log; the folder need not be made yet.
  std::string ShownPath(const std::vector<std::string>& labels, const std::string& name) const;

  // A new file ".partial-NAME" in folder `dir`, never one that exists.
  int CreatePartial(int dir, const std::string& name, std::string* partial);
  // Gives a complete partial file its real name, or "NAME (2)"... when that
  // is taken; false (with *why) when it cannot be named at all.
  bool Finish(int dir, const std::string& partial, const std::string& name, std::string* saved,
              std::string* why);
  // Removes a partial file that will not be completed; false when it stays.
  bool Discard(int dir, const std::string& partial);

 private:
  CopyDestination(EngineHost* app, int root, std::string path);
  std::string FolderPath(const std::vector<std::string>& labels, std::size_t depth) const;

  EngineHost* app_;
  int root_;
  std::string path_;
  // Folder names given in this copy: parent path and label -> name on disk.
  std::map<std::pair<std::string, std::string>, std::string> names_;
  std::set<std::string> taken_;  // the paths of the folders this copy chose
  // The folder of the last file, which the next files most often share.
  std::vector<std::string> lastLabels_;
  int lastFolder_ = -1;
};

}  // namespace tsn
