#pragma once
// Phase 1 of the indexed scan: the live folder tree, walked depth first from
// the root folder through each folder's $I30 index ($INDEX_ROOT and the
// INDX blocks of $INDEX_ALLOCATION, also when an $ATTRIBUTE_LIST puts them in
// other records).
#include <cstdint>
#include <string>
#include <vector>


#include "core/engine_host.h"

namespace tsn {

class EngineHost;
struct LOGDRIVE_INFO;
struct MftFileInfo;

namespace ntfs {

class DamageLog;
class RecordTable;

// Deeper than any real folder tree; a chain of folders this deep is damage.
constexpr std::size_t kMaxFolderDepth = 512;

// Walks the folder at `recordNumber` (the root folder, record 5, for a scan)
// into the tree under folderNode: subfolders become nodes and are walked at
// once, files join the folder's list. Every folder is walked once, however
// the indexes point. 1 when the walk ran to its end, 0 when it was
// interrupted. `unreadIndexes`, when given, receives the record numbers of
// the folders whose index could not be read in full (an index block or the
// folder's own record unreadable), whose entries the MFT still names.
// `table`, when given, judges the entries in place of reading the records
// they name.
int WalkDirectory(EngineHost* app, LOGDRIVE_INFO* drive, const MftFileInfo& mft,
                  std::uint64_t recordNumber, FolderRef folderNode, DamageLog* damage,
                  std::vector<std::uint64_t>* unreadIndexes = nullptr, const RecordTable* table = nullptr);

// A folder's path in the tree as the file list shows it: "/Docs/Old", and
// "/" for the root.
std::string FolderPath(const EngineHost* app, FolderRef node);

}  // namespace ntfs
}  // namespace tsn
