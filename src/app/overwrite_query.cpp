#include "app/overwrite_query.h"

#include "app/app_state.h"
#include "core/entry_records.h"
#include "fs/cluster_owners.h"
#include "fs/file_system.h"

namespace tsn {

OverwriteAnswer WhoOverwrote(AppState* app, const FoundFile& file) {
  OverwriteAnswer answer;
  LOGDRIVE_INFO* drive = app->currentDrive;
  if ((file.flags & (kFlagInUse | kFlagFolder)) || !(file.flags & kFlagChainInUse)) return answer;
  if (drive == nullptr || drive->fileSystem == nullptr || drive->fileSystem->openOwners == nullptr) return answer;
  if (!app->ownerIndex || app->ownerIndexDrive != drive) {
    app->ownerIndex = drive->fileSystem->openOwners(app, drive);
    app->ownerIndexDrive = drive;
  }
  const ClusterOwners owners = app->ownerIndex->Owners(file);
  answer.known = true;
  answer.freePermille = owners.FreePermille();
  if (owners.clusters != 0 || owners.complete) answer.freePercent = owners.FreePercentText();
  for (const ClusterOwner& o : owners.owners) answer.owners.push_back(o.path);
  answer.complete = owners.complete;
  answer.notes = owners.notes;
  return answer;
}

void ForgetOverwrites(AppState* app) {
  app->ownerIndex.reset();
  app->ownerIndexDrive = nullptr;
}

}  // namespace tsn
