// "tessilon-cli report": the Deleted File Report of a FAT32 volume made with
// mkfs.fat and mtools, as text, with the page breaks where the report's
// arithmetic puts them (its PDF is read back in tests/qt/window_test.cpp);
// and as PDF, read back with pdftotext, of names in Japanese, Greek, Cyrillic
// and with an emoji (an NTFS volume written through ntfs-3g): with the
// machine's fonts every name is there; with a font that lacks a script, the
// names it cannot draw come out as their character codes and the log says so
// with an Alert, never as blanks.

#include <algorithm>
#include <fstream>
#include <utility>

#include "test_support.h"

namespace tsn {
namespace {

using test::RunCommand;
using test::Split;

std::string Trim(const std::string& s) {
  const auto a = s.find_first_not_of(" \t");
  if (a == std::string::npos) return {};
  return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

// Makes an image with one of the fixture scripts; the names it deleted, as
// the script lists them.
std::vector<std::string> MakeImage(const std::string& script, const std::string& image) {
  const auto r = RunCommand("bash '" + std::string(TESSILON_SOURCE_DIR) + "/tests/fixtures/" + script + "' '" + image + "'");
  EXPECT_EQ(r.status, 0) << r.err;
  return Split(r.out, '\n');
}

// Each page's lines, form feeds apart; a trailing form feed ends the last.
std::vector<std::vector<std::string>> Pages(const std::string& text) {
  std::vector<std::vector<std::string>> pages;
  for (const std::string& page : Split(text, '\f')) pages.push_back(Split(page, '\n'));
  if (!pages.empty() && pages.back().empty()) pages.pop_back();
  return pages;
}

class ReportCli : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::ScratchDir;
    image_ = dir_->Path("report.img");
    deleted_ = MakeImage("make_report_image.sh", image_);
    ASSERT_EQ(deleted_.size(), 60u);
  }
  static void TearDownTestSuite() { delete std::exchange(dir_, nullptr); }
  static test::CommandResult Report(const std::string& args) {
    return RunCommand(test::TimedCli("report '" + image_ + "' " + args));
  }
  // The names on each page: the lines that are exactly a deleted file's name.
  static std::vector<std::vector<std::string>> NamesByPage(const std::vector<std::vector<std::string>>& pages) {
    std::vector<std::vector<std::string>> out;
    for (const auto& page : pages) {
      out.emplace_back();
      for (const std::string& line : page)
        if (std::find(deleted_.begin(), deleted_.end(), Trim(line)) != deleted_.end())
          out.back().push_back(Trim(line));
    }
    return out;
  }
  // Texts stand at their dot positions, 20 dots a column: the title centred
  // on the 2331-dot page (1165 - 460 / 2 = 935 dots, column 46), the
  // columns at 100, 550, 1000 and 1300 dots, columns 5, 27, 50 and 65.
  static void ExpectHeaderOn(const std::vector<std::string>& page) {
    ASSERT_GE(page.size(), 4u);
    EXPECT_EQ(page[0], std::string(46, ' ') + "Tessilon ver 5.03222.05");
    EXPECT_EQ(Trim(page[1]), "Deleted File Report");
    EXPECT_EQ(page[2], "  File Name");
    EXPECT_EQ(page[3], std::string(5, ' ') + "Create Data" + std::string(11, ' ') + "Modified Data" +
                           std::string(10, ' ') + "Size" + std::string(11, ' ') + "Status");
  }
  // The deleted names in report order, cut into pages of `rows` rows; a
  // break after the last row leaves a page with the header only.
  static std::vector<std::vector<std::string>> Expected(std::size_t rows) {
    std::vector<std::vector<std::string>> pages(1);
    for (const std::string& name : deleted_) {
      pages.back().push_back(name);
      if (pages.back().size() == rows) pages.emplace_back();
    }
    return pages;
  }

  static inline test::ScratchDir* dir_ = nullptr;
  static inline std::string image_;
  static inline std::vector<std::string> deleted_;
};

TEST_F(ReportCli, TextListsEveryDeletedFileAndBreaksPagesByTheArithmetic) {
  const std::string before = test::Sha256OfFile(image_);
  const auto r = Report("");
  ASSERT_EQ(r.status, 0) << r.err;
  const auto pages = Pages(r.out);
  EXPECT_EQ(NamesByPage(pages), Expected(29));  // rows of a page of fixed-pitch text
  for (const auto& page : pages) ExpectHeaderOn(page);
  // Every name is followed by its details; the live files are left out.
  const std::vector<std::string>& first = pages.front();
  for (std::size_t i = 4; i + 1 < first.size(); i += 2) {
    EXPECT_EQ(first[i + 1].rfind(std::string(5, ' ') + "FAT N/A" + std::string(15, ' '), 0), 0u) << first[i + 1];
    EXPECT_EQ(first[i + 1].substr(50, 4), "700 ") << first[i + 1];
    EXPECT_EQ(first[i + 1].substr(65), "Recovery may be possible") << first[i + 1];
  }
  EXPECT_FALSE(test::Has(r.out, "keep this one") || test::Has(r.out, "the live letter"));
  EXPECT_TRUE(test::Has(r.err, "File system scan complete."));
  EXPECT_EQ(test::Sha256OfFile(image_), before);

  const auto file = Report("--out '" + dir_->Path("r.txt") + "'");
  ASSERT_EQ(file.status, 0) << file.err;
  EXPECT_EQ(test::ReadAll(dir_->Path("r.txt")), r.out);
  // The quick scan finds the same deleted files, in an order of its own.
  const auto quick = Report("--quick");
  ASSERT_EQ(quick.status, 0) << quick.err;
  std::multiset<std::string> all;
  for (const auto& names : NamesByPage(Pages(quick.out))) all.insert(names.begin(), names.end());
  EXPECT_EQ(all, std::multiset<std::string>(deleted_.begin(), deleted_.end()));
}

TEST_F(ReportCli, RefusesToWriteOverTheSourceAndSaysWhatCannotBeWritten) {
  const std::string before = test::Sha256OfFile(image_);
  auto r = Report("--out '" + image_ + "'");
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(test::Has(r.err, "is the source")) << r.err;
  // The same file by another name is the source too.
  const std::string link = dir_->Path("link.txt");
  ASSERT_EQ(RunCommand("ln -sf '" + image_ + "' '" + link + "'").status, 0);
  r = Report("--out '" + link + "'");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(test::Sha256OfFile(image_), before);

  const std::vector<std::string> names = {"r.txt",
#ifdef TESSILON_CLI_PDF
                                          "r.pdf"
#endif
  };
  for (const std::string& name : names) {
    r = Report("--out '" + dir_->Path("no/such/folder/" + name) + "'");
    EXPECT_EQ(r.status, 4);
    EXPECT_TRUE(test::Has(r.err, "could not be written: No such file or directory")) << r.err;
    // Told before the scan, not after it.
    EXPECT_FALSE(test::Has(r.err, "Beginning file system scan.")) << r.err;
  }
}

#ifdef TESSILON_CLI_PDF

class ReportScripts : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::ScratchDir;
    image_ = dir_->Path("scripts.img");
    deleted_ = MakeImage("make_scripts_image.sh", image_);
    ASSERT_EQ(deleted_.size(), 5u);
  }
  static void TearDownTestSuite() { delete std::exchange(dir_, nullptr); }
  // The report printed as PDF under the environment given, as pdftotext reads it.
  static test::CommandResult Report(const std::string& environment, const std::string& pdf) {
    auto r = RunCommand(environment + " " + test::TimedCli("report '" + image_ + "' --out '" + pdf + "'"));
    if (r.status == 0) r.out = RunCommand("pdftotext -layout '" + pdf + "' -").out;
    return r;
  }
  static inline test::ScratchDir* dir_ = nullptr;
  static inline std::string image_;
  static inline std::vector<std::string> deleted_;
};

TEST_F(ReportScripts, EveryNameIsPrintedWithTheMachinesFonts) {
  const auto r = Report("", dir_->Path("all.pdf"));
  ASSERT_EQ(r.status, 0) << r.err;
  for (const std::string& name : deleted_) {
    // Qt's PDF writer maps no character beyond the 16-bit plane back to
    // text: the emoji is drawn, but only the rest of its name reads back.
    const std::string readable = name.rfind("\xF0", 0) == 0 ? name.substr(name.find(' ')) : name;
    EXPECT_TRUE(test::Has(r.out, readable)) << name << "\n" << r.out;
  }
  EXPECT_FALSE(test::Has(r.out, "<U+")) << r.out;
  EXPECT_FALSE(test::Has(r.err, "No font on this machine")) << r.err;
}

TEST_F(ReportScripts, NamesAFontCannotDrawArePrintedAsCodesAndLogged) {
  // A font configuration with one font, which has Latin, Greek and Cyrillic
  // but no Japanese.
  const std::string fonts = dir_->Path("fonts");
  test::Sh("mkdir -p '" + fonts + "' && cp /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf '" + fonts + "'");
  std::ofstream(dir_->Path("fonts.conf"))
      << "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n<fontconfig>\n<dir>" << fonts
      << "</dir>\n<cachedir>" << dir_->Path("fontcache") << "</cachedir>\n</fontconfig>\n";
  const auto r = Report("FONTCONFIG_FILE='" + dir_->Path("fonts.conf") + "'", dir_->Path("latin.pdf"));
  ASSERT_EQ(r.status, 0) << r.err;
  const std::pair<std::string, std::string> cases[] = {  // name, as printed
      {"写真.jpg", "<U+5199><U+771F>.jpg"},
      {"削除された日記.txt", "<U+524A><U+9664><U+3055><U+308C><U+305F><U+65E5><U+8A18>.txt"},
      {"Φωτογραφία.png", "Φωτογραφία.png"},
      {"Фотография.jpg", "Фотография.jpg"},
  };
  for (const auto& [name, printed] : cases) {
    EXPECT_TRUE(test::Has(r.out, printed)) << name << "\n" << r.out;
    const std::string line = "Alert  No font on this machine draws every character of \"" + name + "\"";
    if (name == printed) EXPECT_FALSE(test::Has(r.err, line)) << r.err;
    else EXPECT_TRUE(test::Has(r.err, line + "; the report prints it as \"" + printed + "\".")) << r.err;
  }
}

#endif

}  // namespace
}  // namespace tsn
