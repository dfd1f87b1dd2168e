// The Deleted File Report: what is printed where, in which order, where the
// pages break, and how the print job's failures are told; all on a printer
// that records what it is asked to do.
#include <gtest/gtest.h>

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
    out_->calls.push_back("start " + std::string(name));
    if (failStart) return false;
    out_->pages.emplace_back();
    return true;
  }
  int PageWidth() const override { return width_; }
  int PageHeight() const override { return height_; }
  int LineHeight() const override { return h_; }
  int TextWidth(std::string_view text) const override { return 10 * static_cast<int>(text.size()); }
  void TextOut(int x, int y, std::string_view text) override {
    out_->pages.back().push_back({x, y, std::string(text)});
  }
  bool NewPage() override {
    out_->calls.push_back("new page");
    out_->pages.emplace_back();
    return true;
  }
  bool EndPage() override {
    out_->calls.push_back("end page");
    return !failEndPage;
  }
  bool EndDocument() override {
    out_->calls.push_back("end document");
    return !failEndDoc;
  }
  bool Release() override {
    out_->calls.push_back("release");
    return !failRelease;
  }

 private:
  Recorded* out_;
  int width_, height_, h_;
};

struct Report : ::testing::Test {
  HeadlessApp h;
  LOGDRIVE_INFO drive;
  Recorded rec;
  RecordingPrinter* printer = nullptr;

  RecordingPrinter* Printer(int width = 2000, int height = 1000, int lineHeight = 50) {
    auto p = std::make_unique<RecordingPrinter>(&rec, width, height, lineHeight);
    printer = p.get();
    h.ui.AnswerPrinterWith(std::move(p));
    return printer;
  }
  MftFileInfo* Folder(const char* name, NodeHandle parent, NodeHandle* node) {
    MftFileInfo* info = h.app.Records().NewInfo();
    info->SetName(name);
    info->flags = kFlagInUse | kFlagFolder;
    *node = InsertFolderNode(&h.app, info, parent, InsertPosition::Sorted);
    return info;
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
  std::vector<ReportText> Header(int lineHeight, int width) const {
    const int titleWidth = 10 * 23, subtitleWidth = 10 * 19;
    return {{width / 2 - titleWidth / 2, 30, "Tessilon ver 5.03222.05"},
            {width / 2 - subtitleWidth / 2, 30 + lineHeight, "Deleted File Report"},
            {40, 30 + 2 * lineHeight, "File Name"},
            {100, 30 + 3 * lineHeight, "Create Data"},
            {550, 30 + 3 * lineHeight, "Modified Data"},
            {1000, 30 + 3 * lineHeight, "Size"},
            {1300, 30 + 3 * lineHeight, "Status"}};
  }
};

TEST_F(Report, CancellingThePrintDialogPrintsNothingAndSaysNothing) {
  MainDialogProc(&h.app, Message{MessageKind::Command, kCmdPrint});
  EXPECT_EQ(h.ui.PrintDialogsShown(), 1);
  EXPECT_TRUE(h.ui.MessageBoxes().empty());
  EXPECT_TRUE(h.LogMessages().empty());
}

TEST_F(Report, AJobThatCannotStartEndsSilently) {
  Printer()->failStart = true;
  PrintReport(&h.app);
  EXPECT_EQ(rec.calls, std::vector<std::string>{"start Document Name"});
  EXPECT_TRUE(rec.pages.empty());
  EXPECT_TRUE(h.ui.MessageBoxes().empty());
}

TEST_F(Report, AnEmptyTreeOrOneWithNothingDeletedPrintsTheHeaderOnly) {
  Printer(1500);
  PrintReport(&h.app);  // no tree at all
  ASSERT_EQ(rec.pages.size(), 1u);
  EXPECT_EQ(rec.pages[0], Header(50, 1500));
  EXPECT_EQ(rec.calls, (std::vector<std::string>{"start Document Name", "end page", "end document", "release"}));

  rec = {};
  const NodeHandle root = CreateRootFolder(&h.app, &drive);
  NodeHandle docs;
  File(Folder("Docs", root, &docs), "live.txt", kFlagInUse);
  Printer(1500, 1000, 40);
  PrintReport(&h.app);
  ASSERT_EQ(rec.pages.size(), 1u);
  EXPECT_EQ(rec.pages[0], Header(40, 1500));
}

TEST_F(Report, RowsTakeTwoLinesAndThePageBreaksWhenFewerThanSixLinesRemain) {
  const NodeHandle root = CreateRootFolder(&h.app, &drive);
  MftFileInfo* r = FolderRecordOf(h.app, root);
  for (int i = 1; i <= 7; ++i) File(r, "file" + std::to_string(i));
  Printer(2000, 1000, 50);
  PrintReport(&h.app);
  ASSERT_EQ(rec.pages.size(), 2u);
  EXPECT_EQ(NamesByPage(), (std::vector<std::vector<std::string>>{
                               {"file1", "file2", "file3", "file4", "file5"}, {"file6", "file7"}}));
  // Every page carries the whole header, and the rows start below it again.
  const std::vector<ReportText> header = Header(50, 2000);
  ASSERT_GE(rec.pages[1].size(), header.size());
  EXPECT_EQ(std::vector<ReportText>(rec.pages[1].begin(), rec.pages[1].begin() + 7), header);
  EXPECT_EQ(rec.pages[1][7], (ReportText{40, 230, "file6"}));
  EXPECT_EQ(rec.calls, (std::vector<std::string>{"start Document Name", "new page", "end page",
                                                 "end document", "release"}));

  // "Not below" includes equal: on a page 1030 high, 730 + 300 still breaks.
  rec = {};
  Printer(2000, 1030, 50);
  PrintReport(&h.app);
  ASSERT_EQ(rec.pages.size(), 2u);
  EXPECT_EQ(NamesByPage()[0].size(), 5u);
  rec = {};
  Printer(2000, 1031, 50);
  PrintReport(&h.app);
  EXPECT_EQ(NamesByPage()[0].size(), 6u);
}

TEST_F(Report, RootFilesComeFirstThenEveryFolderDepthFirstInTreeOrder) {
  const NodeHandle root = CreateRootFolder(&h.app, &drive);
  NodeHandle b, a, aa, c;
  MftFileInfo* bInfo = Folder("b", root, &b);
  MftFileInfo* aInfo = Folder("A", root, &a);
  MftFileInfo* aaInfo = Folder("inner", a, &aa);
  Folder("c", root, &c);  // nothing deleted in it
  File(bInfo, "b1");
  File(aaInfo, "inner1");
  File(aInfo, "a1");
  File(aInfo, "a live", kFlagInUse);
  File(aInfo, "a2", kFlagBadSize);
  File(FolderRecordOf(h.app, root), "root1");
  // A node without a record prints nothing, but what lies below it prints.
  const NodeHandle bare = InsertFolderNode(&h.app, nullptr, c, InsertPosition::Sorted);
  NodeHandle deep;
  File(Folder("deep", bare, &deep), "deep1");
  Printer(2000, 100000, 50);
  PrintReport(&h.app);
  EXPECT_EQ(NamesByPage(), (std::vector<std::vector<std::string>>{
                               {"root1", "a1", "a2", "inner1", "b1", "deep1"}}));
}

TEST_F(Report, EachFileShowsItsTimesSizeAndTheFirstVerdictThatApplies) {
  const NodeHandle root = CreateRootFolder(&h.app, &drive);
  MftFileInfo* r = FolderRecordOf(h.app, root);
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
  std::vector<std::vector<ReportText>> rows;  // the texts of each detail line
  for (const ReportText& t : rec.pages[0])
    if (t.y >= 230 && (t.y - 230) % 100 == 50) {
      if (rows.empty() || rows.back().front().y != t.y) rows.emplace_back();
      rows.back().push_back(t);
    }
  ASSERT_EQ(rows.size(), 5u);
  auto texts = [](const std::vector<ReportText>& line) {
    std::vector<std::pair<int, std::string>> out;
    for (const ReportText& t : line) out.emplace_back(t.x, t.text);
    return out;
  };
  using Line = std::vector<std::pair<int, std::string>>;
  EXPECT_EQ(texts(rows[0]), (Line{{100, "FAT N/A"}, {550, "12-06-2026 19:45"}, {1000, "123456789012"},
                                  {1300, "Recovery may be possible"}}));
  EXPECT_EQ(texts(rows[1]), (Line{{100, "FAT N/A"}, {550, "00-00-1980 00:00"}, {1000, "100"},
                                  {1300, "Bad File Size"}}));
  EXPECT_EQ(texts(rows[2]), (Line{{100, "02-29-2000 23:59"}, {550, "12-06-2026 19:45"}, {1000, "-1"},
                                  {1300, "Bad Cluster Value"}}));
  EXPECT_EQ(texts(rows[3]).back(), (std::pair<int, std::string>{1300, "Chain is in use"}));
  EXPECT_EQ(NamesByPage()[0].back(), "truncated");
}

TEST_F(Report, FailuresAtTheEndAreToldAndNothingMoreIsDone) {
  const NodeHandle root = CreateRootFolder(&h.app, &drive);
  File(FolderRecordOf(h.app, root), "x");
  Printer()->failEndPage = true;
  PrintReport(&h.app);
  EXPECT_EQ(h.ui.MessageBoxes(), std::vector<std::string>{"ERROR: EndPage FAILED"});
  EXPECT_EQ(rec.calls.back(), "end page");

  rec = {};
  Printer()->failEndDoc = true;
  PrintReport(&h.app);
  EXPECT_EQ(h.ui.MessageBoxes().back(), "ERROR: EndDoc FAILED");
  EXPECT_EQ(rec.calls.back(), "end document");

  rec = {};
  Printer()->failRelease = true;
  PrintReport(&h.app);
  EXPECT_EQ(h.ui.MessageBoxes().back(), "ERROR: Could not DeleteDC");
  EXPECT_EQ(h.ui.MessageBoxes().size(), 3u);
  EXPECT_TRUE(h.LogMessages().empty());
}

TEST_F(Report, PrintRunsAlsoWhileAnOperationRuns) {
  const NodeHandle root = CreateRootFolder(&h.app, &drive);
  File(FolderRecordOf(h.app, root), "while busy");
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
