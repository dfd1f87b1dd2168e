// The spine: commands, the busy protocol, the drive selection, images
// opened or dropped on the window, and the log. The window's own side of
// these (title, toolbar, Exit, close box, pump) is proven on the real window
// in tests/qt.

#include "app/main_dialog.h"
#include "app/message_log.h"
#include "test_support.h"

namespace tsn {
namespace {

using test::HeadlessApp;

Message Command(int id) { return Message{MessageKind::Command, id}; }

// A long operation that follows the busy protocol: pumps once per unit of
// work and stops when busy has been cleared.
int LongOperation(AppState& app, int units) {
  app.busy = 1;
  for (int done = 0; done < units; ++done) {
    PumpOneMessage(&app);
    if (app.busy == 0) return 0;
  }
  app.busy = 0;
  return 1;
}

// Exit during an operation is proven on the real window (tests/qt/window_test.cpp);
// the close box is here too, since the window only forwards it.
TEST(BusyProtocol, LongCommandsAndCloseAreIgnoredWhileBusyButCommand500EndsAnyway) {
  HeadlessApp h;
  h.ui.Post(Message{.kind = MessageKind::SysCommand, .id = kScClose}, 1);
  h.ui.PostCommand(kCmdBuildIndexedFileList, 1);  // would log "Please choose..." if run
  h.ui.PostCommand(kCmdBuildDriveList, 1);
  h.ui.PostCommand(kCmdHelp, 1);                  // Help is not guarded
  EXPECT_EQ(LongOperation(h.app, 50), 1);
  EXPECT_FALSE(h.ui.DialogEnded());
  EXPECT_FALSE(test::Has(h.LogText(), "Please choose"));
  EXPECT_FALSE(test::Has(h.LogText(), "Initiating drive mapping"));
  // Help ran all the same: with no page installed it says so.
  EXPECT_TRUE(test::Has(h.LogText(), "help page"));
  h.app.busy = 1;
  MainDialogProc(&h.app, Command(kCmdEndDialog));
  EXPECT_EQ(h.ui.DialogResult(), 500);
}

TEST(ScanCommands, WithoutADriveOrOnAnUnknownKindTheyOnlyLog) {
  HeadlessApp h;
  MainDialogProc(&h.app, Command(kCmdBuildIndexedFileList));
  MainDialogProc(&h.app, Command(kCmdBuildFileListOnly));
  EXPECT_EQ(h.LogMessages(), std::vector<std::string>(2, "Please choose a drive to search"));
  EXPECT_EQ(h.ui.RowText(kLogList, 1, 0), "1 -- Error");
  EXPECT_TRUE(h.ui.IsControlEnabled(kDriveList));

  LOGDRIVE_INFO drive;
  drive.driveName = "C:";
  drive.fsName = "ext4";
  h.app.currentDrive = &drive;
  h.ui.SetText(kDirsText, "DIRS: 7");
  MainDialogProc(&h.app, Command(kCmdBuildIndexedFileList));
  EXPECT_EQ(h.LogMessages().back(), "Unrecognized file system.");
  EXPECT_EQ(h.app.lastScanOutcome.ending, Outcome::Ending::Refused);
  EXPECT_EQ(h.app.lastScanOutcome.errorLines, 1u);
  EXPECT_EQ(h.ui.Text(kDirsText), "0");  // the indexed command reset the view first
  EXPECT_TRUE(h.ui.IsControlEnabled(kDriveList));
}

TEST(SelectCurrentDrive, FollowsTheSelectedRowAndResetsOnlyOnAChange) {
  HeadlessApp h;
  LOGDRIVE_INFO c, d;
  h.ui.InsertRow(kDriveList, 0, "C:", 0, &c);
  h.ui.InsertRow(kDriveList, 1, "D:", 0, &d);
  const Message click{.kind = MessageKind::Notify, .id = kDriveList, .code = NotifyCode::Click};
  MainDialogProc(&h.app, click);  // nothing selected
  EXPECT_EQ(h.app.currentDrive, nullptr);
  h.ui.SetRowSelected(kDriveList, 0, true);
  MainDialogProc(&h.app, click);
  EXPECT_EQ(h.app.currentDrive, &c);
  c.foundFiles = 9;
  MainDialogProc(&h.app, click);  // the same drive again: its view stays
  EXPECT_EQ(c.foundFiles, 9u);
  h.ui.SetRowSelected(kDriveList, 1, true);
  MainDialogProc(&h.app, click);
  EXPECT_EQ(h.app.currentDrive, &d);
  EXPECT_EQ(c.foundFiles, 0u);  // the previous drive's view was reset
}

TEST(MessageLog, LabelsCountRowsAndFormatSixtyFourBitValues) {
  HeadlessApp h;
  LogMessage(&h.app, kStatus, kLogList, "first");
  LogMessage(&h.app, kAlert, kLogList, "big %lld", 9'000'000'000'123LL);
  LogMessage(&h.app, kUser, kLogList, "third");
  std::vector<std::string> rows;
  for (int r = 0; r < 3; ++r) rows.push_back(h.ui.RowText(kLogList, r, 0) + "|" + h.ui.RowText(kLogList, r, 1));
  EXPECT_EQ(rows, (std::vector<std::string>{"0 -- Status|first", "1 -- Alert|big 9000000000123", "2 -- User|third"}));
  EXPECT_EQ(h.ui.ControlState(kLogList).scrolled, 60);  // kept on the newest row
}

// Images the user opens or drops on the window join the sources, and the
// drive list is built again: at once when idle (the drop itself is in
// tests/qt/window_test.cpp), at the next build when an operation runs.
const std::string kDemo = std::string(TESSILON_BUILD_DIR) + "/demo/demo-fat32.img";

TEST(OpenSources, ADroppedImageWaitsWhileBusyAndJoinsTheListOnce) {
  auto dropped = [](std::vector<std::string> files) { return Message{.kind = MessageKind::DropFiles, .files = files}; };
  HeadlessApp h;
  h.app.sources.scanDevices = false;
  h.app.busy = 1;
  MainDialogProc(&h.app, dropped({kDemo}));
  EXPECT_EQ(h.app.sources.files, std::vector<std::string>{kDemo});
  EXPECT_EQ(h.ui.RowCount(kDriveList), 0);
  EXPECT_EQ(h.LogMessages().back(), "1 image(s) will join the drive list at the next \"Build Drive List\".");
  h.app.busy = 0;
  MainDialogProc(&h.app, Command(kCmdBuildDriveList));
  EXPECT_EQ(h.ui.RowCount(kDriveList), 1);
  // The same image again is not listed twice; a file that holds no volume
  // is named in the log.
  test::ScratchDir dir;
  test::WriteFile(dir.Path("notes.txt"), std::vector<std::uint8_t>(4096, 'x'));
  MainDialogProc(&h.app, dropped({kDemo, "", dir.Path("notes.txt")}));
  EXPECT_EQ(h.app.sources.files, (std::vector<std::string>{kDemo, dir.Path("notes.txt")}));
  EXPECT_EQ(h.ui.RowCount(kDriveList), 1);
  EXPECT_EQ(h.ui.RowText(kDriveList, 0, 3), "FAT32");
  EXPECT_TRUE(test::Has(h.LogText(), "notes.txt")) << h.LogText();
  EXPECT_EQ(h.app.busy, 0u);
}

}  // namespace
}  // namespace tsn
