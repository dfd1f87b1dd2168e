// The found folders of a scan: their order, finding them by record number,
// and the window's tree showing exactly them.

#include <random>

#include "app/app_state.h"
#include "app/folder_tree.h"
#include "results/found_tree.h"
#include "test_support.h"
#include "ui/control_ids.h"

namespace tsn {
namespace {

MftFileInfo* NewFolderRecord(FoundTree& tree, const std::string& name, std::uint64_t record) {
  MftFileInfo* info = tree.Records().NewInfo();
  info->SetName(name);
  info->flags = kFlagInUse | kFlagFolder;
  info->recordNumber = record;
  return info;
}

std::vector<std::string> ChildLabels(const FoundTree& tree, FolderRef folder) {
  std::vector<std::string> out;
  for (const FolderRef c : tree.Children(folder)) out.push_back(tree.FolderRecordOf(c)->Label());
  return out;
}

TEST(FoundTree, SubfoldersStandInTheOrderTheTreeShows) {
  // '+' inserts sorted, '-' appends last.
  const struct {
    const char* what;
    std::vector<std::string> inserts;
    std::vector<std::string> order;
  } cases[] = {
      {"sorted, ignoring case", {"+b", "+A", "+c", "+B2"}, {"A", "b", "B2", "c"}},
      {"an equal label goes after the one there", {"+x", "+X", "+a", "+x"}, {"a", "x", "X", "x"}},
      {"appended in order, then sorted", {"-a", "-b", "+ab", "+c"}, {"a", "ab", "b", "c"}},
      // Once out of order, a sorted one goes before the first label above it.
      {"appended out of order, then sorted", {"-b", "-d", "-a", "+c", "+aa", "+0"},
       {"0", "aa", "b", "c", "d", "a"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FoundTree tree;
    const FolderRef root = tree.CreateRootFolder();
    for (const std::string& insert : c.inserts)
      ASSERT_NE(tree.InsertFolderNode(NewFolderRecord(tree, insert.substr(1), 40), root,
                                      insert[0] == '+' ? InsertPosition::Sorted : InsertPosition::Last),
                kNoFolder);
    EXPECT_EQ(ChildLabels(tree, root), c.order);
  }
}

TEST(FoundTree, FindingByRecordGivesTheFirstFolderDepthFirstBelowTheStart) {
  // Root(5) -> a(7) -> a1(9) -> deep(7)
  //         -> b(9) -> b1(7)
  //         -> c(11)
  FoundTree tree;
  const FolderRef root = tree.CreateRootFolder();
  auto add = [&](const char* name, std::uint64_t record, FolderRef parent) {
    return tree.InsertFolderNode(NewFolderRecord(tree, name, record), parent, InsertPosition::Sorted);
  };
  const FolderRef b = add("b", 9, root), a = add("a", 7, root), c = add("c", 11, root);
  const FolderRef b1 = add("b1", 7, b), a1 = add("a1", 9, a), deep = add("deep", 7, a1);
  const struct {
    FolderRef start;
    std::uint64_t key;
    FolderRef found;
  } cases[] = {
      {root, 7, a}, {root, 9, a1}, {root, 11, c}, {root, 5, root}, {root, 12, kNoFolder},
      {b, 7, b1},   {a1, 7, deep}, {b, 11, kNoFolder}, {deep, 7, deep}, {kNoFolder, 7, kNoFolder},
  };
  for (const auto& q : cases) {
    EXPECT_EQ(tree.FindFolderByRecord(q.start, q.key), q.found) << q.key;
    EXPECT_EQ(tree.FindFolderByRecordWalk(q.start, q.key), q.found) << q.key;
  }
  // Random trees, many records under several folders, inserted sorted or
  // last: the index answers as the walk does from any start.
  std::mt19937 rng(11);
  for (int round = 0; round < 3; ++round) {
    FoundTree random;
    std::vector<FolderRef> nodes{random.CreateRootFolder()};
    for (int i = 0; i < 400; ++i)
      nodes.push_back(random.InsertFolderNode(NewFolderRecord(random, "f" + std::to_string(rng() % 1000), rng() % 300),
                                              nodes[rng() % nodes.size()],
                                              rng() % 2 ? InsertPosition::Sorted : InsertPosition::Last));
    for (std::uint64_t key = 0; key < 310; ++key)
      for (const FolderRef start : {nodes[0], nodes[1 + key % 400]})
        ASSERT_EQ(random.FindFolderByRecord(start, key), random.FindFolderByRecordWalk(start, key)) << key;
  }
  // A record renumbered after it was inserted is no longer found by its old number.
  tree.FolderRecordOf(c)->recordNumber = 13;
  EXPECT_EQ(tree.FindFolderByRecord(root, 11), kNoFolder);

  tree.MarkDeletedUpward(deep);
  for (const FolderRef f : {deep, a1, a, root}) {
    EXPECT_TRUE(tree.HoldsDeleted(f));
    EXPECT_EQ(tree.FolderRecordOf(f)->flags & kFlagInUse, 0u);
  }
  EXPECT_FALSE(tree.HoldsDeleted(b));

  // The next scan's tree knows none of these folders.
  const FolderRef again = tree.CreateRootFolder();
  for (const FolderRef old : {a, b1, deep}) {
    EXPECT_EQ(tree.FolderRecordOf(old), nullptr);
    EXPECT_EQ(tree.ParentFolder(old), kNoFolder);
    EXPECT_EQ(tree.InsertFolderNode(NewFolderRecord(tree, "x", 7), old, InsertPosition::Sorted), kNoFolder);
  }
  EXPECT_EQ(tree.FindFolderByRecord(again, 7), kNoFolder);
  EXPECT_TRUE(tree.Children(again).empty());
}

// Walks the window's tree and the results side by side: every node stands
// for one found folder, with its label, and the children agree in order.
void ExpectTreeMirrorsResults(const AppState& app, const HeadlessWindow& ui) {
  struct Pair {
    NodeHandle node;
    FolderRef folder;
  };
  std::vector<Pair> pending{{ui.RootNode(), app.results.RootFolder()}};
  std::size_t seen = 0;
  while (!pending.empty()) {
    const Pair p = pending.back();
    pending.pop_back();
    ++seen;
    ASSERT_NE(p.node, kNoNode);
    ASSERT_EQ(app.FolderOf(p.node), p.folder);
    ASSERT_EQ(app.NodeOf(p.folder), p.node);
    const MftFileInfo* record = app.results.FolderRecordOf(p.folder);
    ASSERT_NE(record, nullptr);
    ASSERT_EQ(ui.NodeLabel(p.node), record->Label());
    NodeHandle child = ui.FirstChild(p.node);
    for (const FolderRef f : app.results.Children(p.folder)) {
      pending.push_back({child, f});
      child = ui.NextSibling(child);
    }
    ASSERT_EQ(child, kNoNode) << "the window shows a folder the results do not hold";
  }
  EXPECT_EQ(seen, app.nodeOfFolder.size());
  EXPECT_EQ(seen, app.folderOfNode.size());
}

TEST(FoundTree, AfterARealScanTheWindowShowsEveryFoundFolderInItsPlace) {
  for (const char* image : {"fat32-4k.img", "ntfs-4k.img"})
    for (const int command : {kCmdBuildFileListOnly, kCmdBuildIndexedFileList}) {
      SCOPED_TRACE(std::string(image) + (command == kCmdBuildIndexedFileList ? " indexed" : " quick"));
      test::HeadlessApp h;
      h.OpenImages({test::Fixture(image)});
      h.ui.PostCommand(command);
      h.ui.RunDialog();
      ASSERT_EQ(h.app.lastScanResult, 1) << h.LogText();
      ExpectTreeMirrorsResults(h.app, h.ui);
      // The indexed scans rebuild the folders, so there is a tree to compare.
      if (command == kCmdBuildIndexedFileList) {
        EXPECT_GT(h.app.nodeOfFolder.size(), 10u);
      }
    }
}

}  // namespace
}  // namespace tsn
