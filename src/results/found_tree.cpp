#include "results/found_tree.h"

#include <algorithm>
#include <cctype>

namespace tsn {

namespace {
constexpr int kGenerationShift = 32;
constexpr FolderRef kIndexMask = 0xFFFFFFFFu;

// The order the window's tree shows folders in, so that both agree.
bool LessNoCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
  });
}

const std::vector<FolderRef> kNoChildren;
}  // namespace

FoundTree::FoundTree() : records_(std::make_unique<ScanRecords>()) {}

void FoundTree::Clear() {
  folders_.clear();
  tops_.clear();
  topsInOrder_ = true;
  byRecord_.clear();
  ++generation_;
  records_ = std::make_unique<ScanRecords>();
}

FolderRef FoundTree::CreateRootFolder() {
  Clear();
  MftFileInfo* root = records_->NewInfo();
  root->SetName("Root");
  root->flags = kFlagInUse | kFlagFolder;
  root->recordNumber = 5;
  root->parentRecord = kNoParent;
  return InsertFolderNode(root, kNoFolder, InsertPosition::Last);
}

const FoundTree::Folder* FoundTree::At(FolderRef folder) const {
  if (folder == kNoFolder || (folder >> kGenerationShift) != generation_) return nullptr;
  const std::size_t index = (folder & kIndexMask) - 1;
  return index < folders_.size() ? &folders_[index] : nullptr;
}

FolderRef FoundTree::InsertFolderNode(MftFileInfo* record, FolderRef parent, InsertPosition position) {
  if (parent != kNoFolder && At(parent) == nullptr) return kNoFolder;
  Folder made;
  made.record = record;
  if (record != nullptr) made.label = record->Label();
  made.parent = parent;
  // The parent's vector is looked up again after the push: folders_ may move.
  folders_.push_back(std::move(made));
  const FolderRef ref = (static_cast<FolderRef>(generation_) << kGenerationShift) |
                        static_cast<FolderRef>(folders_.size());
  Folder* parentFolder = parent == kNoFolder ? nullptr : At(parent);
  std::vector<FolderRef>& siblings = parentFolder == nullptr ? tops_ : parentFolder->children;
  bool& inOrder = parentFolder == nullptr ? topsInOrder_ : parentFolder->childrenInOrder;
  const std::string& label = folders_.back().label;
  auto at = siblings.end();
  // A sorted folder goes before the first sibling whose label is above its
  // own. While the siblings stand in order that one is found by halving: a
  // walk along them would make a folder of a hundred thousand subfolders
  // cost the square of that.
  if (position == InsertPosition::Sorted && inOrder)
    at = std::upper_bound(siblings.begin(), siblings.end(), label,
                          [&](const std::string& k, FolderRef f) { return LessNoCase(k, At(f)->label); });
  else if (position == InsertPosition::Sorted)
    at = std::find_if(siblings.begin(), siblings.end(),
                      [&](FolderRef f) { return LessNoCase(label, At(f)->label); });
  else if (!siblings.empty() && LessNoCase(label, At(siblings.back())->label))
    inOrder = false;
  siblings.insert(at, ref);
  if (record != nullptr) byRecord_.emplace(record->recordNumber, ref);
  return ref;
}

MftFileInfo* FoundTree::FolderRecordOf(FolderRef folder) const {
  const Folder* f = At(folder);
  return f != nullptr ? f->record : nullptr;
}

FolderRef FoundTree::ParentFolder(FolderRef folder) const {
  const Folder* f = At(folder);
  return f != nullptr ? f->parent : kNoFolder;
}

const std::vector<FolderRef>& FoundTree::Children(FolderRef folder) const {
  const Folder* f = At(folder);
  return f != nullptr ? f->children : kNoChildren;
}

FolderRef FoundTree::FindFolderByRecord(FolderRef start, std::uint64_t key) const {
  // The scans look up every entry's parent: the index answers at once when
  // exactly one folder of the subtree carries the key, or none does. Several
  // (or one whose record no longer has it) take the walk, which gives the
  // first in depth-first order.
  const auto [first, last] = byRecord_.equal_range(key);
  FolderRef found = kNoFolder;
  int candidates = 0;
  for (auto it = first; it != last; ++it) {
    const MftFileInfo* record = FolderRecordOf(it->second);
    if (record == nullptr || record->recordNumber != key) return FindFolderByRecordWalk(start, key);
    bool inSubtree = false;
    // Bounded by the depth of the tree: every folder's parent was made before it.
    for (FolderRef f = it->second; f != kNoFolder && !inSubtree; f = ParentFolder(f)) inSubtree = f == start;
    if (inSubtree) {
      found = it->second;
      if (++candidates > 1) return FindFolderByRecordWalk(start, key);
    }
  }
  return found;
}

FolderRef FoundTree::FindFolderByRecordWalk(FolderRef start, std::uint64_t key) const {
  std::vector<FolderRef> stack;
  if (At(start) != nullptr) stack.push_back(start);
  while (!stack.empty()) {
    const FolderRef folder = stack.back();
    stack.pop_back();
    const MftFileInfo* record = FolderRecordOf(folder);
    if (record != nullptr && record->recordNumber == key) return folder;
    const std::vector<FolderRef>& children = Children(folder);
    stack.insert(stack.end(), children.rbegin(), children.rend());
  }
  return kNoFolder;
}

void FoundTree::MarkDeletedUpward(FolderRef folder) {
  for (Folder* f = At(folder); f != nullptr && f->record != nullptr; f = At(folder)) {
    f->record->flags &= ~kFlagInUse;
    f->holdsDeleted = true;
    folder = f->parent;
  }
}

bool FoundTree::HoldsDeleted(FolderRef folder) const {
  const Folder* f = At(folder);
  return f != nullptr && f->holdsDeleted;
}

std::uint32_t FoundTree::CheckState(FolderRef folder) const {
  const Folder* f = At(folder);
  return f != nullptr ? f->checkState : kCheckUntouched;
}

void FoundTree::SetCheckState(FolderRef folder, std::uint32_t state) {
  if (Folder* f = At(folder)) f->checkState = state;
}

}  // namespace tsn
