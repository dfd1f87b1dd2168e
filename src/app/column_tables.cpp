#include "app/column_tables.h"

#include "app/app_state.h"
#include "ui/control_ids.h"

namespace tsn {

const ColumnSpec kLogColumns[] = {{100, "Type"}, {400, "Status"}, {0, nullptr}};
const ColumnSpec kDriveColumns[] = {
    {30, "LID"},   {30, "PID"},       {80, "Volume"}, {55, "FS Type"}, {65, "Size"},
    {70, "Start LBA"}, {35, "SPC"}, {60, "Sparse"}, {65, "Active"},
    {240, "Source"}, {0, nullptr}};
const ColumnSpec kFileColumns[] = {{200, "Name"},     {80, "Size"},  {100, "Created"},
                                   {100, "Modified"}, {50, "State"}, {0, nullptr}};
const ColumnSpec kSpareColumns[] = {{200, "Name"}, {400, "Directory"}, {200, "Size"}, {0, nullptr}};

int AddColumns(AppState* app, ControlId list, const ColumnSpec* table) {
  app->ui->InsertColumn(list, 0, table[0].width, table[0].title);
  for (int i = 1; table[i].width != 0; ++i)
    app->ui->InsertColumn(list, i, table[i].width, table[i].title);
  return 1;
}

std::span<const ToolbarButton> ToolbarButtons() {
  // "Help" stands before "Configure" although its command number is higher.
  static const ToolbarButton kButtons[] = {
      {0, kCmdBuildDriveList, "Build Drive List", nullptr},
      {1, kCmdBuildIndexedFileList, "Build Indexed File List", "F5"},
      {4, kCmdBuildFileListOnly, "Build File List ONLY!", "Shift+F5"},
      {5, kCmdCopyFiles, "Copy files", "Ctrl+Shift+C"},
      {2, kCmdHelp, "Help", "F1"},
      {7, kCmdConfigure, "Configure", nullptr},
      {6, kCmdPrint, "Print", "Ctrl+P"},
      {3, kCmdExit, "Exit", nullptr},
  };
  return kButtons;
}

}  // namespace tsn
