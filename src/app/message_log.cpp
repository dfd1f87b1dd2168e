#include "app/message_log.h"

#include <cstdarg>
#include <cstdio>

#include "app/app_state.h"

namespace tsn {

const char* SeverityWord(std::uint32_t severity) {
  static const char* const kWords[] = {"Error", "Status", "Alert", "User"};
  return severity < 4 ? kWords[severity] : "";
}

void LogMessage(AppState* app, std::uint32_t severity, ControlId list, const char* format, ...) {
  if (app == nullptr || app->ui == nullptr) return;
  char text[3000];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  WriteLogRow(app, severity, list, text);
}

void WriteLogRow(AppState* app, std::uint32_t severity, ControlId list, std::string_view text) {
  if (app == nullptr || app->ui == nullptr) return;
  // Severities live in the row data, not in the label, so the colours follow
  // the severity whatever the label says. The deque keeps them in place for
  // the life of the program, as the log is never cleared.
  app->logSeverities.push_back(severity);
  std::uint32_t* data = &app->logSeverities.back();
  WindowSystem& ui = *app->ui;
  const int n = ui.RowCount(list);
  char label[1024];
  std::snprintf(label, sizeof label, "%d -- %s", n, SeverityWord(severity));
  const int row = ui.InsertRow(list, n, label, static_cast<int>(severity), data);
  if (row < 0) {
    app->logSeverities.pop_back();
    return;
  }
  ui.SetRowText(list, row, 1, text);
  if (severity == kError && list == app->logList) ++app->errorLines;
  ui.ScrollList(list, 20);
}

std::uint32_t LogRowColour(CustomDrawRecord* record) {
  switch (record->stage) {
    case DrawStage::Prepaint:
      return CDRF_NOTIFYITEMDRAW;
    case DrawStage::ItemPrepaint: {
      const auto* severity = static_cast<const std::uint32_t*>(record->itemData);
      static const Colour kItem[] = {{190, 0, 0}, {0, 190, 0}, {210, 220, 20}, {150, 0, 150}};
      if (severity != nullptr && *severity < 4) record->SetTextColour(kItem[*severity]);
      return CDRF_NOTIFYSUBITEMDRAW;
    }
    case DrawStage::SubItemPrepaint: {
      const auto* severity = static_cast<const std::uint32_t*>(record->itemData);
      if (record->subItem == 1 && severity != nullptr && *severity < 4) {
        const bool red = *severity == kError || *severity == kUser;
        record->SetTextColour(red ? Colour{190, 0, 0} : Colour{0, 0, 190});
      }
      return CDRF_NEWFONT;
    }
    case DrawStage::Other:
      break;
  }
  return CDRF_DODEFAULT;
}

}  // namespace tsn
