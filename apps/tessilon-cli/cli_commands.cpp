#include "cli_commands.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <nlohmann/json.hpp>

#include "app/app_state.h"
#include "app/main_dialog.h"
#include "ui/column_tables.h"
#include "ui/control_ids.h"
#include "ui/headless/headless_window.h"

namespace tsn::cli {

namespace {

// The log goes to stderr, one line per row as the window shows it.
void PrintLog(const HeadlessWindow& ui, int fromRow = 0) {
  const auto& rows = ui.ControlState(kLogList).rows;
  for (std::size_t i = static_cast<std::size_t>(fromRow); i < rows.size(); ++i)
    std::cerr << ui.RowText(kLogList, static_cast<int>(i), 0) << "  "
              << ui.RowText(kLogList, static_cast<int>(i), 1) << '\n';
}

void PrintDriveTable(const HeadlessWindow& ui, bool json) {
  const int rows = ui.RowCount(kDriveList);
  if (json) {
    for (int r = 0; r < rows; ++r) {
      const auto* drive = static_cast<const LOGDRIVE_INFO*>(ui.RowData(kDriveList, r));
      nlohmann::json j;
      for (int c = 0; kDriveColumns[c].width != 0; ++c)
        j[kDriveColumns[c].title] = ui.RowText(kDriveList, r, c);
      j["source"] = drive->sourceDescription;
      std::cout << j.dump() << '\n';
    }
    return;
  }
  std::vector<std::size_t> widths;
  for (int c = 0; kDriveColumns[c].width != 0; ++c) {
    std::size_t w = std::string(kDriveColumns[c].title).size();
    for (int r = 0; r < rows; ++r) w = std::max(w, ui.RowText(kDriveList, r, c).size());
    widths.push_back(w);
  }
  auto line = [&](auto cell) {
    std::string out;
    for (std::size_t c = 0; c < widths.size(); ++c) {
      std::string text = cell(static_cast<int>(c));
      text.resize(widths[c], ' ');
      out += text + (c + 1 < widths.size() ? "  " : "");
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    std::cout << out << '\n';
  };
  line([](int c) { return std::string(kDriveColumns[c].title); });
  for (int r = 0; r < rows; ++r) {
    const auto* drive = static_cast<const LOGDRIVE_INFO*>(ui.RowData(kDriveList, r));
    line([&](int c) { return ui.RowText(kDriveList, r, c); });
    std::cout << "    " << drive->sourceDescription << '\n';
  }
}

}  // namespace

// Where block devices are looked for can be moved, for tests and for
// examining a mounted copy of another machine's /sys and /dev.
void ApplyDeviceDirs(DriveSources& sources) {
  if (const char* sys = std::getenv("TESSILON_SYSFS_BLOCK")) sources.sysfsBlockDir = sys;
  if (const char* dev = std::getenv("TESSILON_DEV_DIR")) sources.deviceDir = dev;
}

int RunDrives(const DrivesOptions& options) {
  AppState app;
  app.sources.files = options.sources;
  app.sources.scanDevices = options.devices;
  ApplyDeviceDirs(app.sources);
  HeadlessWindow ui;
  ui.PostCommand(kCmdBuildDriveList);
  RunMainDialog(&app, &ui);  // returns once nothing is left to do
  PrintLog(ui);
  PrintDriveTable(ui, options.json);
  return 0;
}

int RunScan(const ScanOptions& options) {
  AppState app;
  app.sources.files = {options.source};
  app.sources.scanDevices = false;
  HeadlessWindow ui;
  app.ui = &ui;
  ui.SetDialogProc([&app](const Message& m) { return MainDialogProc(&app, m); });
  MainDialogProc(&app, Message{MessageKind::InitDialog});
  ui.PostCommand(kCmdBuildDriveList);
  ui.RunDialog();
  const int rows = ui.RowCount(kDriveList);
  if (rows == 0) {
    PrintLog(ui);
    std::cerr << "tessilon-cli: " << options.source << " holds no FAT32 or NTFS volume to scan\n";
    return 1;
  }
  int row = 0;
  if (options.partition > 0) {
    const std::string suffix = " partition " + std::to_string(options.partition);
    row = -1;
    for (int r = 0; r < rows && row < 0; ++r) {
      const auto* d = static_cast<const LOGDRIVE_INFO*>(ui.RowData(kDriveList, r));
      const std::string& s = d->sourceDescription;
      if (s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0)
        row = r;
    }
    if (row < 0) {
      PrintLog(ui);
      std::cerr << "tessilon-cli: " << options.source << " has no FAT32 or NTFS partition "
                << options.partition << '\n';
      return 1;
    }
  }
  ui.SetRowSelected(kDriveList, row, true);
  Message click;
  click.kind = MessageKind::Notify;
  click.id = kDriveList;
  click.code = NotifyCode::Click;
  ui.Post(click);
  ui.PostCommand(options.quick ? kCmdBuildFileListOnly : kCmdBuildIndexedFileList);
  ui.RunDialog();
  PrintLog(ui);
  return app.lastScanResult == 1 ? 0 : 1;
}

}  // namespace tsn::cli
