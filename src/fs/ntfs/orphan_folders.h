#pragma once
// Orphan folders: synthetic folders under the root that collect deleted
// entries whose parent folder is not in the tree. Each takes the missing
// parent's record number, so later entries with the same parent join it.
#include <cstdint>
#include <string>

#include "core/engine_host.h"

namespace tsn {

class EngineHost;
struct LOGDRIVE_INFO;
struct MftFileInfo;
struct FoundFile;

namespace ntfs {

// "TSNF_Folder.<n>" (opened by a file) or "TSND_Folder.<n>" (by a folder).
std::string OrphanFolderLabel(bool forFiles, std::uint64_t sequence);

// Makes a "TSNF_Folder" for the file's missing parent and puts the file in
// it. 1 when done, 0 when it could not be made.
int AddOrphanFilesFolder(EngineHost* app, LOGDRIVE_INFO* drive, FoundFile* file, std::uint64_t missingParent);
// Makes a "TSND_Folder" for the folder's missing parent; returns its node.
FolderRef AddOrphanDirsFolder(EngineHost* app, LOGDRIVE_INFO* drive, MftFileInfo* folder);
// Appends a found file to a folder's list, counting and showing it.
int AppendFoundFile(EngineHost* app, LOGDRIVE_INFO* drive, MftFileInfo* folder, FoundFile* file);

}  // namespace ntfs
}  // namespace tsn
