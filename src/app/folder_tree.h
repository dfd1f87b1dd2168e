#pragma once
// The folder tree: a node for each found folder of the results, check marks
// that spread through folders and files, and the count of what is ticked.
// The functions here speak of the window's nodes; each node stands for the
// found folder AppState maps it to.
#include <cstdint>

#include "core/engine_host.h"
#include "ui/window_system.h"

namespace tsn {

struct AppState;
struct LOGDRIVE_INFO;
struct MftFileInfo;

// Drops the previous tree and its records and makes the "Root" node.
NodeHandle CreateRootFolder(AppState* app, LOGDRIVE_INFO* drive);
// Adds the folder to the results and its node to the tree; kNoNode when
// parent stands for no folder.
NodeHandle InsertFolderNode(AppState* app, MftFileInfo* record, NodeHandle parent,
                            InsertPosition position);
// Only the window's node for a folder the results already hold.
NodeHandle InsertTreeNode(AppState* app, const MftFileInfo* record, NodeHandle parent,
                          InsertPosition position);
MftFileInfo* FolderRecordOf(const AppState& app, NodeHandle node);
// The first folder of start's subtree, in depth-first order, whose record
// has the number, as the results find it.
NodeHandle FindFolderByRecord(AppState* app, NodeHandle start, std::uint64_t recordNumber);
// The same by walking the window's tree.
NodeHandle FindFolderByRecordWalk(AppState* app, NodeHandle start, std::uint64_t recordNumber);
void MarkDeletedUpward(AppState* app, NodeHandle node);

void SetFolderFilesCheck(AppState* app, NodeHandle node, std::uint32_t state);
void SetSubtreeCheck(AppState* app, NodeHandle first, std::uint32_t state);
void CheckAncestors(AppState* app, NodeHandle node, std::uint32_t state);
void FolderTreeClick(AppState* app, const HitTest& hit);
int CountCheckedBelow(AppState* app, NodeHandle node, std::uint64_t* dirs, std::uint64_t* files,
                      std::uint64_t* bytes);
// Counts what is ticked and shows it in the status strip.
void UpdateSelectionCounters(AppState* app, LOGDRIVE_INFO* drive);

// Releases the records of the scan shown, once nothing shows them.
void ReleaseScanRecords(AppState* app);

}  // namespace tsn
