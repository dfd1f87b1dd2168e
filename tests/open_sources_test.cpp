// Images the user opens or drops on the window: they join the sources and
// the drive list is built again, at once when idle, at the next build when
// an operation runs.
#include <gtest/gtest.h>

#include "app/main_dialog.h"
#include "test_support.h"

namespace tsn {
namespace {

using test::HeadlessApp;

const std::string kDemo = std::string(TESSILON_BUILD_DIR) + "/demo/demo-fat32.img";

Message Dropped(std::vector<std::string> files) {
  Message m;
  m.kind = MessageKind::DropFiles;
  m.files = std::move(files);
  return m;
}

TEST(OpenSources, ADroppedImageJoinsTheDriveListAtOnce) {
  HeadlessApp h;
  h.app.sources.scanDevices = false;
  ASSERT_EQ(h.ui.RowCount(kDriveList), 0);
  MainDialogProc(&h.app, Dropped({kDemo}));
  EXPECT_EQ(h.app.sources.files, std::vector<std::string>{kDemo});
  ASSERT_EQ(h.ui.RowCount(kDriveList), 1);
  EXPECT_EQ(h.ui.RowText(kDriveList, 0, 3), "FAT32");
  // The same image again is not listed twice; the list is built anew.
  MainDialogProc(&h.app, Dropped({kDemo, ""}));
  EXPECT_EQ(h.app.sources.files, std::vector<std::string>{kDemo});
  EXPECT_EQ(h.ui.RowCount(kDriveList), 1);
  EXPECT_EQ(h.app.busy, 0u);
}

TEST(OpenSources, WhileAnOperationRunsTheImageWaitsForTheNextBuild) {
  HeadlessApp h;
  h.app.sources.scanDevices = false;
  h.app.busy = 1;
  MainDialogProc(&h.app, Dropped({kDemo}));
  EXPECT_EQ(h.app.sources.files, std::vector<std::string>{kDemo});
  EXPECT_EQ(h.ui.RowCount(kDriveList), 0);
  ASSERT_FALSE(h.LogMessages().empty());
  EXPECT_EQ(h.LogMessages().back(),
            "1 image(s) will join the drive list at the next \"Build Drive List\".");
  h.app.busy = 0;
  MainDialogProc(&h.app, Message{MessageKind::Command, kCmdBuildDriveList});
  EXPECT_EQ(h.ui.RowCount(kDriveList), 1);
}

TEST(OpenSources, AFileThatHoldsNoVolumeIsNamedInTheLog) {
  HeadlessApp h;
  h.app.sources.scanDevices = false;
  test::ScratchDir dir;
  test::WriteFile(dir.Path("notes.txt"), std::vector<std::uint8_t>(4096, 'x'));
  MainDialogProc(&h.app, Dropped({dir.Path("notes.txt"), kDemo}));
  EXPECT_EQ(h.ui.RowCount(kDriveList), 1);
  EXPECT_NE(h.LogText().find("notes.txt"), std::string::npos) << h.LogText();
}

}  // namespace
}  // namespace tsn
