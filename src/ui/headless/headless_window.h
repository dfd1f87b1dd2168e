#pragma once
// The window layer with no window: rows, nodes and texts held in memory, and
// a scripted message queue. Tests and the command line drive the very same
// handlers through it that the desktop program drives through Qt.
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ui/window_system.h"

namespace tsn {

class HeadlessWindow : public WindowSystem {
 public:
  struct Row {
    std::vector<std::string> cells;
    int image = 0;
    void* data = nullptr;
    bool selected = false;
    int check = kUnchecked;
  };
  struct Control {
    std::string text;
    bool enabled = true;
    Rect rect{};
    std::vector<std::pair<int, std::string>> columns;  // width, title
    std::uint32_t extendedStyle = 0;
    std::vector<Row> rows;
    int scrolled = 0;
  };
  struct Node {
    NodeHandle parent = kNoNode;
    std::vector<NodeHandle> children;
    bool childrenInOrder = true;  // by name: no child was appended out of order
    // Where it stood among its siblings when last looked up: a hint, checked
    // before use, since an insertion before it moves it along.
    mutable std::size_t row = 0;
    std::string label;
    int image = 0, selectedImage = 0;
    void* data = nullptr;
    int check = kUnchecked;
  };
  struct Progress {
    std::uint32_t low = 0, high = 100, step = 10, position = 0;
    Colour colour{};
    std::uint64_t steps = 0;  // StepProgress calls, for tests
  };

  explicit HeadlessWindow(Point clientSize = {1040, 574});

  // Scripting: queue a message to be delivered by the pump once `afterPumps`
  // further calls of PumpOneMessage have been made (0: the next call).
  void Post(const Message& message, std::uint64_t afterPumps = 0);
  void PostCommand(int command, std::uint64_t afterPumps = 0);
  std::uint64_t PumpCalls() const { return pumpCalls_; }
  bool DialogEnded() const { return ended_; }
  int DialogResult() const { return result_; }
  void SetClientSize(Point size) { client_ = size; }
  void SetRowRefusal(ControlId list, bool refuse) { refuseRows_[list] = refuse; }
  void SetSelectedNode(NodeHandle node) override { selectedNode_ = node; }
  void ExpandNode(NodeHandle node) override { expanded_.push_back(node); }
  const std::vector<NodeHandle>& ExpandedNodes() const { return expanded_; }
  // A mouse click on a list row or tree node, delivered at once: the
  // notification first, then the control's own toggling of a check box.
  void Click(ControlId control, HitTest hit);

  const Control& ControlState(ControlId id) const;
  const Progress& ProgressState() const { return progress_; }
  const std::map<int, int>& PendingTimers() const { return timers_; }
  const std::vector<std::string>& MessageBoxes() const { return messageBoxes_; }
  const std::vector<std::string>& OpenedDocuments() const { return opened_; }
  std::size_t NodeCount() const { return nodes_.size(); }
  // Label comparisons made to place sorted nodes, for tests of their cost.
  std::uint64_t NodeComparisons() const { return nodeComparisons_; }
  PointerShape Pointer() const { return pointer_; }
  bool MouseCaptured() const { return captured_; }
  // Every InvertPattern call, in order, and the rectangles that an even
  // number of calls has not yet cancelled: what the screen shows.
  const std::vector<Rect>& InvertedHistory() const { return inverted_; }
  std::vector<Rect> InvertedNow() const;
  // The surface the next ChoosePrinter answers with; none: the user cancels.
  void AnswerPrinterWith(std::unique_ptr<PrintSurface> surface) { printer_ = std::move(surface); }
  int PrintDialogsShown() const { return printDialogs_; }

  // WindowSystem
  void SetDialogProc(DialogProc proc) override { proc_ = std::move(proc); }
  // Delivers queued messages, then pending timers, until the dialog ends or
  // nothing is left to deliver. Returns the dialog result (-1 if it did not end).
  int RunDialog() override;
  void EndDialog(int result) override;
  bool PumpOneMessage() override;
  void SetWindowTitle(std::string_view title) override { title_ = title; }
  std::string WindowTitle() const override { return title_; }
  void SetText(ControlId control, std::string_view text) override;
  std::string Text(ControlId control) const override;
  void EnableControl(ControlId control, bool enabled) override;
  bool IsControlEnabled(ControlId control) const override;
  void MoveControl(ControlId control, Rect r) override;
  Rect ControlRect(ControlId control) const override;
  Point ClientSize() const override { return client_; }
  void ShowMessageBox(std::string_view text, std::string_view caption) override;
  void InsertColumn(ControlId list, int index, int width, std::string_view title) override;
  void SetColumnWidth(ControlId list, int column, int width) override;
  int ColumnWidth(ControlId list, int column) const override;
  void SetListExtendedStyle(ControlId list, std::uint32_t style) override;
  void DeleteAllRows(ControlId list) override;
  int RowCount(ControlId list) const override;
  int InsertRow(ControlId list, int index, std::string_view text, int image, void* data) override;
  void SetRowText(ControlId list, int row, int column, std::string_view text) override;
  std::string RowText(ControlId list, int row, int column) const override;
  int RowImage(ControlId list, int row) const override;
  void* RowData(ControlId list, int row) const override;
  bool IsRowSelected(ControlId list, int row) const override;
  void SetRowSelected(ControlId list, int row, bool selected) override;
  int RowCheck(ControlId list, int row) const override;
  void SetRowCheck(ControlId list, int row, int state) override;
  void ScrollList(ControlId list, int dy) override;
  NodeHandle InsertNode(NodeHandle parent, std::string_view label, int image, int selectedImage,
                        void* data, bool sorted) override;
  void DeleteAllNodes() override;
  NodeHandle RootNode() const override;
  NodeHandle NextSibling(NodeHandle node) const override;
  NodeHandle ParentNode(NodeHandle node) const override;
  NodeHandle FirstChild(NodeHandle node) const override;
  NodeHandle SelectedNode() const override { return selectedNode_; }
  void* NodeData(NodeHandle node) const override;
  std::string NodeLabel(NodeHandle node) const override;
  int NodeCheck(NodeHandle node) const override;
  void SetNodeCheck(NodeHandle node, int state) override;
  void SetProgressRange(std::uint32_t low, std::uint32_t high) override;
  void SetProgressStep(std::uint32_t step) override { progress_.step = step; }
  void StepProgress() override;
  void SetProgressPosition(std::uint32_t position) override { progress_.position = position; }
  void SetProgressColour(Colour colour) override { progress_.colour = colour; }
  void SetTimer(int id, int milliseconds) override { timers_[id] = milliseconds; }
  void KillTimer(int id) override { timers_.erase(id); }
  bool OpenDocument(const std::string& path) override;
  // A plain open: no one is there to ask for more than this user may do.
  DeviceOpening OpenDeviceForReading(const std::string& path) override;
  void SetPointerShape(PointerShape shape) override { pointer_ = shape; }
  void CaptureMouse() override { captured_ = true; }
  void ReleaseMouse() override { captured_ = false; }
  void InvertPattern(Rect r, const BarPattern&) override { inverted_.push_back(r); }
  std::unique_ptr<PrintSurface> ChoosePrinter() override;
  // The folder the next AskForFolder answers with (empty: the user cancels).
  void AnswerFolderWith(std::string folder) { folderAnswer_ = std::move(folder); }
  std::string AskForFolder(std::string_view) override { return folderAnswer_; }

 private:
  struct Scripted {
    Message message;
    std::uint64_t dueAtPump;
  };
  Control& Mutable(ControlId id);
  Row* RowAt(ControlId list, int row);
  const Row* RowAt(ControlId list, int row) const;
  const Node* NodeAt(NodeHandle node) const;
  void Deliver(const Message& m);

  DialogProc proc_;
  Point client_;
  std::string title_;
  std::map<ControlId, Control> controls_;
  std::map<ControlId, bool> refuseRows_;
  // Nodes are handed out as 1-based indexes; DeleteAllNodes starts a new
  // generation so stale handles from an earlier tree never alias new nodes.
  std::vector<Node> nodes_;
  std::vector<NodeHandle> roots_;
  bool rootsInOrder_ = true;
  std::uint64_t nodeComparisons_ = 0;
  std::uintptr_t generationBase_ = 0;
  NodeHandle selectedNode_ = kNoNode;
  std::vector<NodeHandle> expanded_;
  Progress progress_;
  std::map<int, int> timers_;
  std::deque<Scripted> queue_;
  std::uint64_t pumpCalls_ = 0;
  bool ended_ = false;
  int result_ = -1;
  std::vector<std::string> messageBoxes_;
  std::vector<std::string> opened_;
  PointerShape pointer_ = PointerShape::Arrow;
  bool captured_ = false;
  std::vector<Rect> inverted_;
  std::unique_ptr<PrintSurface> printer_;
  int printDialogs_ = 0;
  std::string folderAnswer_;
};

}  // namespace tsn
