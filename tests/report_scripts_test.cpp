// The Deleted File Report of names in Japanese, Greek, Cyrillic and with an
// emoji (an NTFS volume written through ntfs-3g), read back with pdftotext:
// with the machine's fonts every name is there; with a font that lacks a
// script, the names it cannot draw come out as their character codes and
// the log says so with an Alert, never as blanks.
#include <gtest/gtest.h>

#include <fstream>

#include "test_support.h"

namespace tsn {
namespace {

#ifdef TESSILON_CLI_PDF

using test::RunCommand;
using test::Split;

class ReportScripts : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::ScratchDir;
    image_ = dir_->Path("scripts.img");
    const auto r = RunCommand("bash '" + std::string(TESSILON_SOURCE_DIR) +
                              "/tests/fixtures/make_scripts_image.sh' '" + image_ + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    deleted_ = Split(r.out, '\n');
    ASSERT_EQ(deleted_.size(), 5u);
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  // The report printed as PDF under the environment given, as pdftotext reads it.
  static test::CommandResult Report(const std::string& environment, const std::string& pdf) {
    auto r = RunCommand(environment + " timeout 120 " + TESSILON_CLI + " report '" + image_ + "' --out '" + pdf + "'");
    if (r.status != 0) return r;
    const auto text = RunCommand("pdftotext -layout '" + pdf + "' -");
    r.out = text.out;
    return r;
  }
  static test::ScratchDir* dir_;
  static std::string image_;
  static std::vector<std::string> deleted_;
};
test::ScratchDir* ReportScripts::dir_ = nullptr;
std::string ReportScripts::image_;
std::vector<std::string> ReportScripts::deleted_;

TEST_F(ReportScripts, EveryNameIsPrintedWithTheMachinesFonts) {
  const auto r = Report("", dir_->Path("all.pdf"));
  ASSERT_EQ(r.status, 0) << r.err;
  for (const std::string& name : deleted_) {
    // Qt's PDF writer maps no character beyond the 16-bit plane back to
    // text: the emoji is drawn, but only the rest of its name reads back.
    const std::string readable = name.rfind("\xF0", 0) == 0 ? name.substr(name.find(' ')) : name;
    EXPECT_NE(r.out.find(readable), std::string::npos) << name << "\n" << r.out;
  }
  EXPECT_EQ(r.out.find("<U+"), std::string::npos) << r.out;
  EXPECT_EQ(r.err.find("No font on this machine"), std::string::npos) << r.err;
}

TEST_F(ReportScripts, NamesAFontCannotDrawArePrintedAsCodesAndLogged) {
  // A font configuration with one font, which has Latin, Greek and Cyrillic
  // but no Japanese.
  const std::string fonts = dir_->Path("fonts");
  ASSERT_EQ(RunCommand("mkdir -p '" + fonts + "' && cp /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf '" + fonts + "'")
                .status,
            0);
  std::ofstream(dir_->Path("fonts.conf"))
      << "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n<fontconfig>\n<dir>" << fonts
      << "</dir>\n<cachedir>" << dir_->Path("fontcache") << "</cachedir>\n</fontconfig>\n";
  const auto r = Report("FONTCONFIG_FILE='" + dir_->Path("fonts.conf") + "'", dir_->Path("latin.pdf"));
  ASSERT_EQ(r.status, 0) << r.err;
  const struct {
    std::string name, printed;
  } cases[] = {
      {"写真.jpg", "<U+5199><U+771F>.jpg"},
      {"削除された日記.txt", "<U+524A><U+9664><U+3055><U+308C><U+305F><U+65E5><U+8A18>.txt"},
      {"Φωτογραφία.png", "Φωτογραφία.png"},
      {"Фотография.jpg", "Фотография.jpg"},
  };
  for (const auto& c : cases) {
    EXPECT_NE(r.out.find(c.printed), std::string::npos) << c.name << "\n" << r.out;
    const std::string line = "Alert  No font on this machine draws every character of \"" + c.name + "\"";
    if (c.name == c.printed) EXPECT_EQ(r.err.find(line), std::string::npos) << r.err;
    else EXPECT_NE(r.err.find(line + "; the report prints it as \"" + c.printed + "\"."), std::string::npos) << r.err;
  }
}

#endif

}  // namespace
}  // namespace tsn
