#pragma once
// The folders a scan finds, as a tree of their own: each folder's record
// (which also holds its files), its parent, its subfolders in the order
// they are shown, whether deleted entries lie below it, and its check mark.
// It owns every record of the scan, so the window, the report, the copy and
// the command line all read one set of results, however they show it.
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <unordered_map>
#include <vector>

#include "core/engine_host.h"
#include "core/entry_records.h"

namespace tsn {

class FoundTree {
 public:
  FoundTree();

  ScanRecords& Records() { return *records_; }
  const ScanRecords& Records() const { return *records_; }

  // Drops every folder and record. Folders handed out before refer to
  // nothing from then on.
  void Clear();
  // Clears, then makes the "Root" folder every scan starts from.
  FolderRef CreateRootFolder();
  FolderRef RootFolder() const { return tops_.empty() ? kNoFolder : tops_.front(); }

  // A new subfolder of parent (kNoFolder: a new top folder). Sorted, it goes
  // after the siblings whose labels are not above its own, ignoring case;
  // otherwise it goes last. kNoFolder when parent is not a folder of now.
  FolderRef InsertFolderNode(MftFileInfo* record, FolderRef parent, InsertPosition position);

  MftFileInfo* FolderRecordOf(FolderRef folder) const;
  FolderRef ParentFolder(FolderRef folder) const;
  // The subfolders in the order shown; empty for no folder.
  const std::vector<FolderRef>& Children(FolderRef folder) const;

  // The first folder of start's subtree, depth first, each folder before
  // its subfolders, whose record has the number. Backed by an index of the
  // folders inserted.
  FolderRef FindFolderByRecord(FolderRef start, std::uint64_t recordNumber) const;
  // The same by walking the subtree, without the index.
  FolderRef FindFolderByRecordWalk(FolderRef start, std::uint64_t recordNumber) const;

  // Marks the folder and those above it as holding deleted entries: their
  // records lose the in-use bit.
  void MarkDeletedUpward(FolderRef folder);
  bool HoldsDeleted(FolderRef folder) const;

  // A folder's own check mark (kCheckTicked or kCheckCleared; untouched at
  // first).
  std::uint32_t CheckState(FolderRef folder) const;
  void SetCheckState(FolderRef folder, std::uint32_t state);

 private:
  struct Folder {
    MftFileInfo* record = nullptr;
    std::string label;  // as the record named it when inserted
    FolderRef parent = kNoFolder;
    std::vector<FolderRef> children;
    // False once a folder went last out of label order: sorted insertions
    // then find their place by walking rather than halving.
    bool childrenInOrder = true;
    bool holdsDeleted = false;
    std::uint32_t checkState = kCheckUntouched;
  };

  const Folder* At(FolderRef folder) const;
  Folder* At(FolderRef folder) { return const_cast<Folder*>(std::as_const(*this).At(folder)); }

  std::unique_ptr<ScanRecords> records_;
  std::vector<Folder> folders_;
  std::vector<FolderRef> tops_;  // folders without a parent
  bool topsInOrder_ = true;
  std::uint64_t generation_ = 1;
  std::unordered_multimap<std::uint64_t, FolderRef> byRecord_;
};

}  // namespace tsn
