#include "fs/ntfs/orphan_folders.h"

#include <cinttypes>
#include <cstdio>

#include "core/engine_host.h"
#include "core/entry_records.h"
#include "fs/logdrive_info.h"


namespace tsn::ntfs {

std::string OrphanFolderLabel(bool forFiles, std::uint64_t sequence) {
  char label[64];
  std::snprintf(label, sizeof label, "%s_Folder.%" PRIu64, forFiles ? "TSNF" : "TSND", sequence);
  return label;
}

namespace {
FolderRef NewOrphanFolder(EngineHost* app, LOGDRIVE_INFO* drive, bool forFiles, std::uint64_t missingParent) {
  MftFileInfo* orphan = app->Records().NewInfo();
  orphan->SetName(OrphanFolderLabel(forFiles, drive->orphanFolderSeq++));
  orphan->recordNumber = missingParent;
  return app->InsertFolderNode(orphan, app->RootFolder(), InsertPosition::Last);
}
}  // namespace

int AddOrphanFilesFolder(EngineHost* app, LOGDRIVE_INFO* drive, FoundFile* file, std::uint64_t missingParent) {
  const FolderRef node = NewOrphanFolder(app, drive, true, missingParent);
  MftFileInfo* folder = app->FolderRecordOf(node);
  if (folder == nullptr) return 0;
  AppendFoundFile(app, drive, folder, file);
  app->MarkDeletedUpward(node);
  return 1;
}

FolderRef AddOrphanDirsFolder(EngineHost* app, LOGDRIVE_INFO* drive, MftFileInfo* folder) {
  const FolderRef node = NewOrphanFolder(app, drive, false, folder->parentRecord);
  if (node == kNoFolder) return kNoFolder;
  ++drive->foundDirs;
  ShowFoundCounters(app, drive);
  return node;
}

int AppendFoundFile(EngineHost* app, LOGDRIVE_INFO* drive, MftFileInfo* folder, FoundFile* file) {
  AppendToFolder(folder, file);
  ++folder->fileCount;
  ++drive->foundFiles;
  drive->foundBytes += file->size;
  app->StepProgress();
  ShowFoundCounters(app, drive);
  return 1;
}

}  // namespace tsn::ntfs
