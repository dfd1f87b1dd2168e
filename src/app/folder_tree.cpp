#include "app/folder_tree.h"

#include <cctype>
#include <vector>

#include "app/app_state.h"
#include "app/progress.h"
#include "app/file_list.h"

namespace tsn {

namespace {
constexpr int kClosedFolderImage = 4;
constexpr int kOpenFolderImage = 5;
constexpr int kTreeRecountDelayMs = 100;

int MarkFor(std::uint32_t state) { return state == kCheckTicked ? kChecked : kUnchecked; }
}  // namespace

void ReleaseScanRecords(AppState* app) { app->records = std::make_unique<ScanRecords>(); }

NodeHandle CreateRootFolder(AppState* app, LOGDRIVE_INFO* drive) {
  if (drive != nullptr) {
    drive->foundDirs = 1;
    drive->foundFiles = 0;
  }
  app->ui->DeleteAllRows(app->fileList);
  app->ui->DeleteAllNodes();
  ReleaseScanRecords(app);
  MftFileInfo* root = app->records->NewInfo();
  root->SetName("Root");
  root->flags = kFlagInUse | kFlagFolder;
  root->recordNumber = 5;
  root->parentRecord = kNoParent;
  return InsertFolderNode(app, root, kNoNode, InsertPosition::Last);
}

NodeHandle InsertFolderNode(AppState* app, MftFileInfo* record, NodeHandle parent,
                            InsertPosition position) {
  const NodeHandle node = app->ui->InsertNode(parent, record->Label(), kClosedFolderImage,
                                              kOpenFolderImage, record, position == InsertPosition::Sorted);
  if (node != kNoNode) app->records->foldersByRecord.emplace(record->recordNumber, node);
  return node;
}

MftFileInfo* FolderRecordOf(const WindowSystem& tree, NodeHandle node) {
  if (node == kNoNode) return nullptr;
  return static_cast<MftFileInfo*>(tree.NodeData(node));
}

namespace {
bool IsInSubtree(const WindowSystem& tree, NodeHandle node, NodeHandle start) {
  for (; node != kNoNode; node = tree.ParentNode(node))
    if (node == start) return true;
  return false;
}
}  // namespace

NodeHandle FindFolderByRecord(AppState* app, NodeHandle start, std::uint64_t key) {
  const WindowSystem& tree = *app->ui;
  // The scans look up every entry's parent: the index answers at once when
  // exactly one folder of the subtree carries the key, or none does. Several
  // (or an entry that no longer matches) take the walk, which gives the
  // first in depth-first order.
  const auto [first, last] = app->records->foldersByRecord.equal_range(key);
  NodeHandle found = kNoNode;
  int candidates = 0;
  bool trusted = true;
  for (auto it = first; it != last && trusted; ++it) {
    const MftFileInfo* folder = FolderRecordOf(tree, it->second);
    if (folder == nullptr || folder->recordNumber != key) trusted = false;
    else if (IsInSubtree(tree, it->second, start)) {
      found = it->second;
      ++candidates;
    }
  }
  if (trusted && candidates <= 1) return found;
  return FindFolderByRecordWalk(app, start, key);
}

NodeHandle FindFolderByRecordWalk(AppState* app, NodeHandle start, std::uint64_t key) {
  // Depth first, each node before its children, with an explicit stack so a
  // deep tree cannot exhaust the call stack.
  const WindowSystem& tree = *app->ui;
  std::vector<NodeHandle> stack;
  if (start != kNoNode) stack.push_back(start);
  while (!stack.empty()) {
    const NodeHandle node = stack.back();
    stack.pop_back();
    const MftFileInfo* folder = FolderRecordOf(tree, node);
    if (folder != nullptr && folder->recordNumber == key) return node;
    std::vector<NodeHandle> children;
    for (NodeHandle c = tree.FirstChild(node); c != kNoNode; c = tree.NextSibling(c))
      children.push_back(c);
    stack.insert(stack.end(), children.rbegin(), children.rend());
  }
  return kNoNode;
}

void MarkDeletedUpward(AppState* app, NodeHandle node) {
  const WindowSystem& tree = *app->ui;
  for (MftFileInfo* folder = FolderRecordOf(tree, node); folder != nullptr;
       folder = FolderRecordOf(tree, node)) {
    folder->flags &= ~kFlagInUse;
    node = tree.ParentNode(node);
  }
}

void SetFolderFilesCheck(AppState* app, NodeHandle node, std::uint32_t state) {
  if (MftFileInfo* folder = FolderRecordOf(*app->ui, node))
    for (FoundFile* f = folder->firstFile; f != nullptr; f = f->next) f->checkState = state;
  if (node == app->ui->SelectedNode()) ShowFolderFiles(app, node);
}

void SetSubtreeCheck(AppState* app, NodeHandle first, std::uint32_t state) {
  WindowSystem& tree = *app->ui;
  std::vector<NodeHandle> pending;  // first nodes of sibling runs still to mark
  if (first != kNoNode) pending.push_back(first);
  while (!pending.empty()) {
    NodeHandle node = pending.back();
    pending.pop_back();
    for (; node != kNoNode; node = tree.NextSibling(node)) {
      tree.SetNodeCheck(node, MarkFor(state));
      SetFolderFilesCheck(app, node, state);
      if (const NodeHandle child = tree.FirstChild(node); child != kNoNode) pending.push_back(child);
    }
  }
}

void CheckAncestors(AppState* app, NodeHandle node, std::uint32_t state) {
  WindowSystem& tree = *app->ui;
  for (; node != kNoNode; node = tree.ParentNode(node)) tree.SetNodeCheck(node, MarkFor(state));
}

void FolderTreeClick(AppState* app, const HitTest& hit) {
  WindowSystem& tree = *app->ui;
  const NodeHandle node = hit.node;
  if (node == kNoNode) return;
  if (hit.part == HitPart::Label || hit.part == HitPart::Icon) {
    ShowFolderFiles(app, node);
    return;
  }
  if (hit.part != HitPart::CheckBox) return;
  // The tree toggles the box itself after this notification: read it first.
  const std::uint32_t state = tree.NodeCheck(node) == kChecked ? kCheckCleared : kCheckTicked;
  SetFolderFilesCheck(app, node, state);
  if (const NodeHandle child = tree.FirstChild(node); child != kNoNode)
    SetSubtreeCheck(app, child, state);
  if (state == kCheckTicked)
    if (const NodeHandle parent = tree.ParentNode(node); parent != kNoNode)
      CheckAncestors(app, parent, kCheckTicked);
  tree.SetTimer(kTimerTreeCheck, kTreeRecountDelayMs);
  if (node == tree.SelectedNode()) ShowFolderFiles(app, node);
}

int CountCheckedBelow(AppState* app, NodeHandle node, std::uint64_t* dirs, std::uint64_t* files,
                      std::uint64_t* bytes) {
  const WindowSystem& tree = *app->ui;
  std::vector<NodeHandle> pending{node};
  while (!pending.empty()) {
    const NodeHandle parent = pending.back();
    pending.pop_back();
    for (NodeHandle c = tree.FirstChild(parent); c != kNoNode; c = tree.NextSibling(c)) {
      if (tree.NodeCheck(c) != kChecked) continue;  // nor anything below it
      ++*dirs;
      if (const MftFileInfo* folder = FolderRecordOf(tree, c))
        for (const FoundFile* f = folder->firstFile; f != nullptr; f = f->next)
          if (f->checkState == kCheckTicked) {
            ++*files;
            *bytes += f->size;
          }
      pending.push_back(c);
    }
  }
  return 1;
}

void UpdateSelectionCounters(AppState* app, LOGDRIVE_INFO* drive) {
  if (drive == nullptr) return;
  drive->tickedDirs = drive->tickedFiles = drive->tickedBytes = 0;
  const NodeHandle root = app->ui->RootNode();
  if (const MftFileInfo* rootFolder = FolderRecordOf(*app->ui, root)) {
    CountCheckedBelow(app, root, &drive->tickedDirs, &drive->tickedFiles, &drive->tickedBytes);
    for (const FoundFile* f = rootFolder->firstFile; f != nullptr; f = f->next)
      if (f->checkState == kCheckTicked) {
        ++drive->tickedFiles;
        drive->tickedBytes += f->size;
      }
  }
  ShowCounters(app, drive->tickedDirs, drive->tickedFiles, drive->tickedBytes);
}

}  // namespace tsn
