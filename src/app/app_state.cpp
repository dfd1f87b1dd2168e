#include "app/app_state.h"

#include "app/file_list.h"
#include "app/folder_tree.h"
#include "app/main_dialog.h"
#include "app/message_log.h"
#include "app/overwrite_query.h"
#include "app/progress.h"

namespace tsn {

// Found folders live in the results; each one also gets a node in the
// window's tree as it is found, so the tree grows while a scan runs.

void AppState::Log(std::uint32_t severity, std::string_view message) {
  WriteLogRow(this, severity, logList, message);
}

namespace {

constexpr auto kCounterInterval = std::chrono::milliseconds(100);

}  // namespace

void AppState::PumpOneMessage() {
  if (heldCounters.held && std::chrono::steady_clock::now() - heldCounters.shownAt >= kCounterInterval)
    ShowHeldCounters();
  tsn::PumpOneMessage(this);
}

void AppState::StartProgress(ProgressClock* clock) {
  ShowHeldCounters();
  tsn::StartProgress(this, clock, progressBar, sizeText, clockText);
}

void AppState::UpdateProgressClock(ProgressClock* clock) {
  ShowHeldCounters();
  tsn::UpdateProgressClock(this, clock);
}

void AppState::StartSteps(std::uint64_t steps, BarColour colour) {
  ui->SetProgressRange(0, static_cast<std::uint32_t>(steps));
  ui->SetProgressStep(1);
  ui->SetProgressColour({colour.red, colour.green, colour.blue});
}

void AppState::StepProgress() { ui->StepProgress(); }

void AppState::EndSteps() {
  ShowHeldCounters();
  ui->SetProgressPosition(0);
}

void AppState::ShowCounters(std::uint64_t dirs, std::uint64_t files, std::uint64_t bytes) {
  heldCounters.dirs = dirs;
  heldCounters.files = files;
  heldCounters.bytes = bytes;
  heldCounters.held = true;
  if (std::chrono::steady_clock::now() - heldCounters.shownAt >= kCounterInterval) ShowHeldCounters();
}

void AppState::ShowHeldCounters() {
  if (!heldCounters.held) return;
  heldCounters.held = false;
  heldCounters.shownAt = std::chrono::steady_clock::now();
  tsn::ShowCounters(this, heldCounters.dirs, heldCounters.files, heldCounters.bytes);
}

void AppState::ShowStatus(StatusField field, std::string_view text) {
  ShowHeldCounters();
  switch (field) {
    case StatusField::Dirs: ui->SetText(dirsText, text); break;
    case StatusField::Files: ui->SetText(filesText, text); break;
    case StatusField::Size: ui->SetText(sizeText, text); break;
    case StatusField::Clock: ui->SetText(clockText, text); break;
  }
}

FolderRef AppState::CreateRootFolder() {
  shownSoFar = {};
  ForgetOverwrites(this);
  return FolderOf(tsn::CreateRootFolder(this, nullptr));
}

FolderRef AppState::RootFolder() const { return results.RootFolder(); }

FolderRef AppState::InsertFolderNode(MftFileInfo* record, FolderRef parent, InsertPosition position) {
  const FolderRef folder = results.InsertFolderNode(record, parent, position);
  if (folder == kNoFolder) return kNoFolder;
  MapFolderNode(folder, tsn::InsertTreeNode(this, record, NodeOf(parent), position));
  return folder;
}

MftFileInfo* AppState::FolderRecordOf(FolderRef folder) const { return results.FolderRecordOf(folder); }

FolderRef AppState::ParentFolder(FolderRef folder) const { return results.ParentFolder(folder); }

FolderRef AppState::FindFolderByRecord(FolderRef start, std::uint64_t recordNumber) {
  return results.FindFolderByRecord(start, recordNumber);
}

// The tree paints a folder red from its record's in-use bit, which this
// clears; the nodes are repainted as the tree next draws them.
void AppState::MarkDeletedUpward(FolderRef folder) { results.MarkDeletedUpward(folder); }

void AppState::ExpandFolder(FolderRef folder) { ui->ExpandNode(NodeOf(folder)); }

void AppState::SelectFolder(FolderRef folder) { ui->SetSelectedNode(NodeOf(folder)); }

void AppState::ShowFolderFiles(FolderRef folder) { tsn::ShowFolderFiles(this, NodeOf(folder)); }

// Listing a growing folder's files again each time would cost the square of
// their number on a folder of thousands of entries; when the list still
// holds what was shown last, only the files found since are added to it.
void AppState::ShowFolderFilesSoFar(FolderRef folder) {
  const MftFileInfo* info = FolderRecordOf(folder);
  const int rows = ui->RowCount(fileList);
  const bool unchanged = info != nullptr && shownSoFar.folder == folder && shownSoFar.rows >= 0 &&
                         rows == shownSoFar.rows &&
                         (rows == 0 || ui->RowData(fileList, rows - 1) == shownSoFar.lastRow);
  if (!unchanged) {
    tsn::ShowFolderFiles(this, NodeOf(folder));
  } else {
    for (FoundFile* f = shownSoFar.lastFile != nullptr ? shownSoFar.lastFile->next : info->firstFile;
         f != nullptr; f = f->next)
      AddFileToDisplayList(this, f);
  }
  shownSoFar.folder = folder;
  shownSoFar.rows = ui->RowCount(fileList);
  shownSoFar.lastRow = shownSoFar.rows > 0 ? ui->RowData(fileList, shownSoFar.rows - 1) : nullptr;
  shownSoFar.lastFile = info != nullptr ? info->lastFile : nullptr;
}

}  // namespace tsn
