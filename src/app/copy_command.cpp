#include "app/copy_command.h"

#include "app/app_state.h"
#include "app/folder_tree.h"
#include "app/message_log.h"

namespace tsn {

std::vector<CopyItem> TickedFiles(AppState* app) {
  std::vector<CopyItem> items;
  const FoundTree& results = app->results;
  struct Pending {
    FolderRef folder;
    std::vector<std::string> folders;
  };
  std::vector<Pending> stack;
  if (results.RootFolder() != kNoFolder) stack.push_back({results.RootFolder(), {}});
  while (!stack.empty()) {
    Pending p = std::move(stack.back());
    stack.pop_back();
    const MftFileInfo* folder = results.FolderRecordOf(p.folder);
    if (folder != nullptr)
      for (const FoundFile* f = folder->firstFile; f != nullptr; f = f->next)
        if (f->checkState == kCheckTicked) items.push_back({f, p.folders});
    const std::vector<FolderRef>& children = results.Children(p.folder);
    for (auto c = children.rbegin(); c != children.rend(); ++c) {
      Pending child{*c, p.folders};
      const MftFileInfo* info = results.FolderRecordOf(*c);
      child.folders.push_back(info ? info->Label() : std::string("_"));
      stack.push_back(std::move(child));
    }
  }
  return items;
}

CopyTotals CopyFilesTo(AppState* app, LOGDRIVE_INFO* drive, const std::string& destination,
                       const std::vector<CopyItem>& items) {
  app->lastCopyResult = 0;
  const CopyTotals totals = CopyFilesTo(static_cast<EngineHost*>(app), drive, destination, items);
  app->lastCopyResult = totals.Result();
  return totals;
}

void CopyTickedFiles(AppState* app) {
  if (app->currentDrive == nullptr) {
    LogMessage(app, kError, "Please choose a drive to search");
    return;
  }
  const std::vector<CopyItem> items = TickedFiles(app);
  if (items.empty()) {
    LogMessage(app, kError, "No files are ticked: tick the files to copy first.");
    return;
  }
  const std::string destination = app->ui->AskForFolder("Copy the ticked files to");
  if (destination.empty()) return;
  CopyFilesTo(app, app->currentDrive, destination, items);
}

}  // namespace tsn
