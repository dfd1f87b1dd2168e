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

void ReleaseScanRecords(AppState* app) {
  ++app->resultsGeneration;
  app->previewWanted = nullptr;
  app->results.Clear();
  app->nodeOfFolder.clear();
  app->folderOfNode.clear();
}

NodeHandle CreateRootFolder(AppState* app, LOGDRIVE_INFO* drive) {
  if (drive != nullptr) {
    drive->foundDirs = 1;
    drive->foundFiles = 0;
  }
  app->ui->DeleteAllRows(app->fileList);
  app->ui->DeleteAllNodes();
  ReleaseScanRecords(app);
  app->results.CreateRootFolder();
  // The results made the root record; the tree gets its node.
  const FolderRef root = app->results.RootFolder();
  const NodeHandle node = InsertTreeNode(app, app->results.FolderRecordOf(root), kNoNode, InsertPosition::Last);
  app->MapFolderNode(root, node);
  return node;
}

NodeHandle InsertTreeNode(AppState* app, const MftFileInfo* record, NodeHandle parent,
                          InsertPosition position) {
  return app->ui->InsertNode(parent, record != nullptr ? record->Label() : std::string(), kClosedFolderImage,
                             kOpenFolderImage, nullptr, position == InsertPosition::Sorted);
}

NodeHandle InsertFolderNode(AppState* app, MftFileInfo* record, NodeHandle parent,
                            InsertPosition position) {
  const FolderRef parentFolder = app->FolderOf(parent);
  if (parent != kNoNode && parentFolder == kNoFolder) return kNoNode;
  return app->NodeOf(app->InsertFolderNode(record, parentFolder, position));
}

MftFileInfo* FolderRecordOf(const AppState& app, NodeHandle node) {
  return app.results.FolderRecordOf(app.FolderOf(node));
}

NodeHandle FindFolderByRecord(AppState* app, NodeHandle start, std::uint64_t key) {
  return app->NodeOf(app->results.FindFolderByRecord(app->FolderOf(start), key));
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
    const MftFileInfo* folder = FolderRecordOf(*app, node);
    if (folder != nullptr && folder->recordNumber == key) return node;
    std::vector<NodeHandle> children;
    for (NodeHandle c = tree.FirstChild(node); c != kNoNode; c = tree.NextSibling(c))
      children.push_back(c);
    stack.insert(stack.end(), children.rbegin(), children.rend());
  }
  return kNoNode;
}

void MarkDeletedUpward(AppState* app, NodeHandle node) { app->MarkDeletedUpward(app->FolderOf(node)); }

void SetFolderFilesCheck(AppState* app, NodeHandle node, std::uint32_t state) {
  app->results.SetCheckState(app->FolderOf(node), state);
  if (MftFileInfo* folder = FolderRecordOf(*app, node))
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
  for (; node != kNoNode; node = tree.ParentNode(node)) {
    tree.SetNodeCheck(node, MarkFor(state));
    app->results.SetCheckState(app->FolderOf(node), state);
  }
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
      if (const MftFileInfo* folder = FolderRecordOf(*app, c))
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
  if (const MftFileInfo* rootFolder = FolderRecordOf(*app, root)) {
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
