#include "app/file_preview.h"

#include "app/app_state.h"
#include "app/file_list.h"
#include "app/overwrite_query.h"
#include "results/copy_out.h"
#include "ui/list_rows.h"

namespace tsn {

bool IsPictureName(const FoundFile& file) {
  bool found = false;
  const std::string ext = UpperExtension(std::string(file.name), &found);
  for (const char* e : {"JPG", "JPEG", "JPE", "PNG", "GIF", "BMP", "WEBP"})
    if (found && ext == e) return true;
  return false;
}

namespace {

PreviewContent Describe(const FoundFile& file) {
  PreviewContent content;
  content.name = file.name;
  content.size = file.size;
  content.verdict = FileStateText(file.flags);
  content.picture = IsPictureName(file);
  if ((file.flags & kFlagInUse) == 0 && (file.flags & kFlagChainInUse) != 0)
    content.note = "Its clusters now belong to another file: this is what they hold now.";
  return content;
}

// "Overwritten by /a, /b; 62.5% of its clusters are still free." for the pane.
std::string OverwrittenByText(const OverwriteAnswer& answer) {
  if (!answer.known) return {};
  std::string text;
  if (answer.owners.empty()) {
    text = "No live file holds its clusters";
  } else {
    text = "Overwritten by ";
    for (std::size_t i = 0; i < answer.owners.size(); ++i) text += (i == 0 ? "" : ", ") + answer.owners[i];
  }
  if (!answer.freePercent.empty()) text += "; " + answer.freePercent + "% of its clusters are still free";
  text += answer.complete ? "." : " (not known in full: part of the volume could not be read).";
  return text;
}

void AddNote(PreviewContent* content, const std::string& note) {
  if (note.empty()) return;
  if (!content->note.empty()) content->note += ' ';
  content->note += note;
  if (note.back() != '.') content->note += '.';
}

}  // namespace

void PreviewSelectedFile(AppState* app) {
  WindowSystem& ui = *app->ui;
  app->previewWanted = static_cast<const FoundFile*>(SelectedRowData(ui, app->fileList));
  app->previewPending = true;
  // The read below lets the window run; a selection that moves meanwhile
  // lands here and is taken up when that read ends.
  if (app->previewReading) return;
  while (app->previewPending) {
    app->previewPending = false;
    const FoundFile* file = app->previewWanted;
    if (!ui.PreviewShown()) return;  // shown again, it asks for the selection anew
    if (file == nullptr) {
      ui.ShowPreview({});
      return;
    }
    PreviewContent content = Describe(*file);
    if (app->busy != 0 || app->currentDrive == nullptr) {
      // A scan or copy holds the volume: its content can wait.
      AddNote(&content, "The content is shown once the running operation ends");
      ui.ShowPreview(content);
      return;
    }
    const std::uint64_t generation = app->resultsGeneration;
    app->previewReading = true;
    app->SetBusy(true);
    ContentPrefix prefix = ReadContentPrefix(app, app->currentDrive, *file,
                                             content.picture ? kPreviewPictureBytes : kPreviewBytes);
    bool interrupted = app->busy == 0;
    if (!interrupted && generation == app->resultsGeneration && !app->previewPending &&
        (file->flags & (kFlagInUse | kFlagChainInUse)) == kFlagChainInUse) {
      // Building the index of live files may let the window run: ask about a
      // copy, so that the answer never reads a record let go meanwhile (its
      // name and runs too, which the scan's records hold).
      FoundFile asked = *file;
      const std::string name(file->name);
      const std::vector<DataRun> runs(file->Runs().begin(), file->Runs().end());
      asked.name = name;
      asked.runs = runs.data();
      content.overwrittenBy = OverwrittenByText(WhoOverwrote(app, asked));
      interrupted = app->busy == 0;
    }
    app->SetBusy(false);
    app->previewReading = false;
    // The scan's records may have gone while the window ran, the file's too.
    if (generation != app->resultsGeneration) {
      ui.ShowPreview({});
      return;
    }
    if (app->previewPending) continue;  // another file was chosen meanwhile
    content.bytes = std::move(prefix.bytes);
    AddNote(&content, prefix.refusal.empty() ? prefix.why : "It cannot be read: " + prefix.refusal);
    if (interrupted) AddNote(&content, "Reading it was interrupted");
    ui.ShowPreview(content);
  }
}

}  // namespace tsn
