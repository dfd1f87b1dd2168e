#include "fs/ntfs/orphan_folders.h"

#include <cinttypes>
#include <cstdio>

#include "app/app_state.h"
#include "app/progress.h"
#include "app/folder_tree.h"

namespace tsn::ntfs {

std::string OrphanFolderLabel(bool forFiles, std::uint64_t sequence) {
  char label[64];
  std::snprintf(label, sizeof label, "%s_Folder.%" PRIu64, forFiles ? "TSNF" : "TSND", sequence);
  return label;
}

namespace {
NodeHandle NewOrphanFolder(AppState* app, bool forFiles, std::uint64_t missingParent) {
  MftFileInfo* orphan = app->records->NewInfo();
  orphan->SetName(OrphanFolderLabel(forFiles, app->orphanFolderSeq++));
  orphan->recordNumber = missingParent;
  return InsertFolderNode(app, orphan, app->ui->RootNode(), InsertPosition::Last);
}
}  // namespace

int AddOrphanFilesFolder(AppState* app, LOGDRIVE_INFO* drive, MftFileInfo* file) {
  const NodeHandle node = NewOrphanFolder(app, true, file->parentRecord);
  MftFileInfo* folder = FolderRecordOf(*app->ui, node);
  if (folder == nullptr) return 0;
  AppendFoundFile(app, drive, folder, *file);
  MarkDeletedUpward(app, node);
  return 1;
}

NodeHandle AddOrphanDirsFolder(AppState* app, LOGDRIVE_INFO* drive, MftFileInfo* folder) {
  const NodeHandle node = NewOrphanFolder(app, false, folder->parentRecord);
  if (node == kNoNode) return kNoNode;
  ++drive->foundDirs;
  ShowScanCounters(app, drive);
  return node;
}

int AppendFoundFile(AppState* app, LOGDRIVE_INFO* drive, MftFileInfo* folder, const MftFileInfo& file) {
  FoundFile* found = app->records->NewFile();
  found->flags = file.flags;
  found->recordSector = file.recordSector;
  found->recordNumber = file.recordNumber;
  found->residentData = file.residentData;
  found->runs = file.runs;
  found->runCount = file.runCount;
  found->size = file.size;
  found->created = file.created;
  found->modified = file.modified;
  found->name = file.name.empty() ? file.dosName : file.name;
  found->nameLength = static_cast<std::uint32_t>(found->name.size());
  AppendToFolder(folder, found);
  ++folder->fileCount;
  ++drive->foundFiles;
  drive->foundBytes += file.size;
  app->ui->StepProgress();
  ShowScanCounters(app, drive);
  return 1;
}

}  // namespace tsn::ntfs
