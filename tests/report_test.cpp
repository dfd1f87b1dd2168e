// The Deleted File Report: what each row prints, where the pages break, and
// how the print job's failures are told; all on a printer that records what
// it is asked to do. Its order on a real volume is in report_cli_test.cpp.

#include <memory>

#include "app/main_dialog.h"
#include "app/folder_tree.h"
#include "app/print_report.h"
#include "app/report_layout.h"
#include "test_support.h"

namespace tsn {
namespace {

using test::HeadlessApp;

// A printer W x H dots whose characters are 10 dots wide, that records every
// call and fails where it is told to.
struct Recorded {
  std::vector<std::string> calls;
  std::vector<std::vector<ReportText>> pages;
};

class RecordingPrinter final : public PrintSurface {
 public:
  RecordingPrinter(Recorded* out, int width, int height, int lineHeight)
      : out_(out), width_(width), height_(height), h_(lineHeight) {}
  bool failStart = false, failEndPage = false, failEndDoc = false, failRelease = false;

  bool StartDocument(std::string_view name) override {
    if (Called("start " + std::string(name), !failStart)) out_->pages.emplace_back();
    return !failStart;
  }
  int PageWidth() const override { return width_; }
  int PageHeight() const override { return height_; }
  int LineHeight() const override { return h_; }
  int TextWidth(std::string_view text) const override { return 10 * static_cast<int>(text.size()); }
  void TextOut(int x, int y, std::string_view text) override { out_->pages.back().push_back({x, y, std::string(text)}); }
  bool NewPage() override {
    out_->pages.emplace_back();
    return Called("new page", true);
  }
  bool EndPage() override { return Called("end page", !failEndPage); }
  bool EndDocument() override { return Called("end document", !failEndDoc); }
  bool Release() override { return Called("release", !failRelease); }

 private:
  bool Called(const std::string& what, bool ok) {
    out_->calls.push_back(what);
    return ok;
  }
  Recorded* out_;
  int width_, height_, h_;
};

struct Report : ::testing::Test {
  HeadlessApp h;
  LOGDRIVE_INFO drive;
  Recorded rec;

  RecordingPrinter* Printer(int width = 2000, int height = 1000, int lineHeight = 50) {
    rec = {};
    auto p = std::make_unique<RecordingPrinter>(&rec, width, height, lineHeight);
    RecordingPrinter* printer = p.get();
    h.ui.AnswerPrinterWith(std::move(p));
    return printer;
  }
  NodeHandle root = kNoNode;

  MftFileInfo* Root() {
    if (root == kNoNode) root = CreateRootFolder(&h.app, &drive);
    return FolderRecordOf(h.app, root);
  }
  FoundFile* File(MftFileInfo* folder, const std::string& name, std::uint32_t flags = 0) {
    FoundFile* f = h.app.Records().NewFile();
    h.app.Records().KeepName(f, name);
    f->flags = flags;
    f->size = 100;
    AppendToFolder(folder, f);
    return f;
  }
  // The names printed, page by page (the texts at x = 40 below the header).
  std::vector<std::vector<std::string>> NamesByPage() const {
    std::vector<std::vector<std::string>> out;
    for (const auto& page : rec.pages) {
      out.emplace_back();
      for (const ReportText& t : page)
        if (t.x == kReportNameX && t.text != "File Name") out.back().push_back(t.text);
    }
    return out;
  }
};

// A job that cannot start ends silently; a failure at its end is told in a
// box, and nothing more is asked of the printer.
TEST_F(Report, EachFailureOfThePrintJobEndsItThere) {
  File(Root(), "x");
  using Fail = bool RecordingPrinter::*;
  const struct {
    Fail fail;
    std::vector<std::string> calls;
    std::string box;
  } cases[] = {
      {nullptr, {"start Document Name", "end page", "end document", "release"}, ""},
      {&RecordingPrinter::failStart, {"start Document Name"}, ""},
      {&RecordingPrinter::failEndPage, {"start Document Name", "end page"}, "ERROR: EndPage FAILED"},
      {&RecordingPrinter::failEndDoc, {"start Document Name", "end page", "end document"}, "ERROR: EndDoc FAILED"},
      {&RecordingPrinter::failRelease, {"start Document Name", "end page", "end document", "release"},
       "ERROR: Could not DeleteDC"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.box);
    const std::size_t boxes = h.ui.MessageBoxes().size();
    RecordingPrinter* printer = Printer();
    if (c.fail) printer->*c.fail = true;
    PrintReport(&h.app);
    EXPECT_EQ(rec.calls, c.calls);
    const std::vector<std::string>& shown = h.ui.MessageBoxes();
    EXPECT_EQ(std::vector<std::string>(shown.begin() + static_cast<std::ptrdiff_t>(boxes), shown.end()),
              c.box.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.box});
  }
  EXPECT_TRUE(h.LogMessages().empty());
}

TEST_F(Report, AnEmptyTreeOrOneWithNothingDeletedPrintsOnePageOfHeaderOnly) {
  using Pages = std::vector<std::vector<std::string>>;
  Printer();
  PrintReport(&h.app);  // no tree at all
  EXPECT_EQ(NamesByPage(), Pages{{}});
  ASSERT_EQ(rec.pages.size(), 1u);
  EXPECT_EQ(rec.pages[0].size(), 7u);  // the header's texts
  File(Root(), "live.txt", kFlagInUse);
  Printer();
  PrintReport(&h.app);
  EXPECT_EQ(NamesByPage(), Pages{{}});
}

// Rows take two lines; a page breaks when fewer than six lines remain below
// the row, "fewer" counting equal: on a page 1030 high, 730 + 300 breaks.
TEST_F(Report, ThePageBreaksWhenFewerThanSixLinesRemain) {
  for (int i = 1; i <= 7; ++i) File(Root(), "file" + std::to_string(i));
  const struct {
    int height;
    std::size_t firstPage, pages;
  } cases[] = {{1000, 5, 2}, {1030, 5, 2}, {1031, 6, 2}, {100000, 7, 1}};
  for (const auto& c : cases) {
    Printer(2000, c.height, 50);
    PrintReport(&h.app);
    ASSERT_EQ(rec.pages.size(), c.pages) << c.height;
    EXPECT_EQ(NamesByPage()[0].size(), c.firstPage) << c.height;
  }
}

TEST_F(Report, EachFileShowsItsTimesSizeAndTheFirstVerdictThatApplies) {
  MftFileInfo* r = Root();
  FoundFile* fat = File(r, "fat.doc");
  fat->fatDate = static_cast<std::uint16_t>((46 << 9) | (12 << 5) | 6);  // 12-06-2026
  fat->fatTime = static_cast<std::uint16_t>((19 << 11) | (45 << 5));
  fat->size = 123456789012ULL;
  File(r, "zero.doc", kFlagBadSize | kFlagBadCluster);
  FoundFile* ntfs = File(r, "ntfs.doc", kFlagBadCluster | kFlagChainInUse);
  ntfs->recordNumber = 64;
  ntfs->created = 125963423400000000ULL;   // 02-29-2000 23:59, as stored
  ntfs->modified = 134410599000000000ULL;  // 12-06-2026 19:45
  ntfs->size = ~std::uint64_t{0};          // printed as the signed number it is
  File(r, "chain.doc", kFlagChainInUse);
  FoundFile* cut = File(r, "truncated name");
  cut->nameLength = 9;
  Printer(2000, 100000, 50);
  PrintReport(&h.app);
  ASSERT_EQ(rec.pages.size(), 1u);
  // The texts of each detail line, the second of each row.
  using Line = std::vector<std::pair<int, std::string>>;
  std::map<int, Line> lines;
  for (const ReportText& t : rec.pages[0])
    if (t.y >= 230 && (t.y - 230) % 100 == 50) lines[t.y].emplace_back(t.x, t.text);
  std::vector<Line> rows;
  for (const auto& [y, line] : lines) rows.push_back(line);
  ASSERT_EQ(rows.size(), 5u);
  rows.resize(4);
  rows[3].erase(rows[3].begin(), rows[3].end() - 1);
  EXPECT_EQ(rows, (std::vector<Line>{
                      {{100, "FAT N/A"}, {550, "12-06-2026 19:45"}, {1000, "123456789012"},
                       {1300, "Recovery may be possible"}},
                      {{100, "FAT N/A"}, {550, "00-00-1980 00:00"}, {1000, "100"}, {1300, "Bad File Size"}},
                      {{100, "02-29-2000 23:59"}, {550, "12-06-2026 19:45"}, {1000, "-1"},
                       {1300, "Bad Cluster Value"}},
                      {{1300, "Chain is in use"}}}));
  EXPECT_EQ(NamesByPage()[0].back(), "truncated");
}

TEST_F(Report, PrintRunsAlsoWhileAnOperationRuns) {
  File(Root(), "while busy");
  Printer();
  h.app.busy = 1;
  MainDialogProc(&h.app, Message{MessageKind::Command, kCmdPrint});
  EXPECT_EQ(NamesByPage(), (std::vector<std::vector<std::string>>{{"while busy"}}));
  EXPECT_EQ(h.app.busy, 1u);
}

TEST(ReportText, OverlappingTextsKeepABlankBetweenThem) {
  ReportSheet sheet;
  sheet.pages = {ReportPage{{{0, 10, "a name far longer than its column"}, {100, 10, "next"}}},
                 ReportPage{{{40, 5, "x"}}}};
  EXPECT_EQ(ReportAsText(sheet, 20), "a name far longer than its column next\n\f  x\n");
}

}  // namespace
}  // namespace tsn
