#include "ui/headless/headless_window.h"

#include <fcntl.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

namespace tsn {

namespace {
constexpr int kGenerationShift = 32;
constexpr ControlId kTreeControlId = 1006;

bool LessNoCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
  });
}
}  // namespace

HeadlessWindow::HeadlessWindow(Point clientSize) : client_(clientSize) {}

void HeadlessWindow::Post(const Message& message, std::uint64_t afterPumps) {
  queue_.push_back({message, pumpCalls_ + afterPumps});
}

void HeadlessWindow::PostCommand(int command, std::uint64_t afterPumps) {
  Message m;
  m.kind = MessageKind::Command;
  m.id = command;
  Post(m, afterPumps);
}

void HeadlessWindow::Deliver(const Message& m) {
  if (proc_) proc_(m);
  // A click on a check box toggles it right after the click notification,
  // as list and tree views do.
  if (m.kind == MessageKind::Notify && m.code == NotifyCode::Click &&
      m.hit.part == HitPart::CheckBox) {
    auto toggle = [](int state) { return state == kChecked ? kUnchecked : kChecked; };
    if (m.hit.node != kNoNode) SetNodeCheck(m.hit.node, toggle(NodeCheck(m.hit.node)));
    else if (Row* r = RowAt(m.id, m.hit.row)) r->check = toggle(r->check);
  }
}

void HeadlessWindow::Click(ControlId control, HitTest hit) {
  Message m;
  m.kind = MessageKind::Notify;
  m.id = control;
  m.code = NotifyCode::Click;
  m.hit = hit;
  if (control == kTreeControlId && hit.part == HitPart::Label && NodeAt(hit.node) != nullptr)
    selectedNode_ = hit.node;  // a click on a label selects the node
  Deliver(m);
}

bool HeadlessWindow::PumpOneMessage() {
  ++pumpCalls_;
  if (queue_.empty() || pumpCalls_ <= queue_.front().dueAtPump) return false;
  const Message m = queue_.front().message;
  queue_.pop_front();
  Deliver(m);
  return true;
}

int HeadlessWindow::RunDialog() {
  while (!ended_) {
    if (!queue_.empty()) {
      // The modal loop waits for its next message: a scripted delay only
      // counts inside long operations, which pump.
      const Message m = queue_.front().message;
      queue_.pop_front();
      Deliver(m);
      continue;
    }
    if (!timers_.empty()) {
      const int id = timers_.begin()->first;
      Message m;
      m.kind = MessageKind::Timer;
      m.id = id;
      Deliver(m);
      timers_.erase(id);  // headless timers fire once
      continue;
    }
    break;
  }
  return ended_ ? result_ : -1;
}

void HeadlessWindow::EndDialog(int result) {
  if (ended_) return;
  ended_ = true;
  result_ = result;
}

HeadlessWindow::Control& HeadlessWindow::Mutable(ControlId id) { return controls_[id]; }

const HeadlessWindow::Control& HeadlessWindow::ControlState(ControlId id) const {
  static const Control kEmpty;
  const auto it = controls_.find(id);
  return it == controls_.end() ? kEmpty : it->second;
}

void HeadlessWindow::SetText(ControlId control, std::string_view text) {
  Mutable(control).text = text;
}
std::string HeadlessWindow::Text(ControlId control) const { return ControlState(control).text; }
void HeadlessWindow::EnableControl(ControlId control, bool enabled) {
  Mutable(control).enabled = enabled;
}
bool HeadlessWindow::IsControlEnabled(ControlId control) const {
  return ControlState(control).enabled;
}
void HeadlessWindow::MoveControl(ControlId control, Rect r) { Mutable(control).rect = r; }
Rect HeadlessWindow::ControlRect(ControlId control) const { return ControlState(control).rect; }

void HeadlessWindow::ShowMessageBox(std::string_view text, std::string_view caption) {
  messageBoxes_.push_back(std::string(caption) + ": " + std::string(text));
}

void HeadlessWindow::InsertColumn(ControlId list, int index, int width, std::string_view title) {
  auto& cols = Mutable(list).columns;
  const auto at = std::min<std::size_t>(static_cast<std::size_t>(std::max(index, 0)), cols.size());
  cols.insert(cols.begin() + static_cast<std::ptrdiff_t>(at), {width, std::string(title)});
}

void HeadlessWindow::SetColumnWidth(ControlId list, int column, int width) {
  auto& cols = Mutable(list).columns;
  if (column >= 0 && static_cast<std::size_t>(column) < cols.size())
    cols[static_cast<std::size_t>(column)].first = width;
}

int HeadlessWindow::ColumnWidth(ControlId list, int column) const {
  const auto& cols = ControlState(list).columns;
  if (column < 0 || static_cast<std::size_t>(column) >= cols.size()) return 0;
  return cols[static_cast<std::size_t>(column)].first;
}

void HeadlessWindow::SetListExtendedStyle(ControlId list, std::uint32_t style) {
  Mutable(list).extendedStyle = style;
}

void HeadlessWindow::DeleteAllRows(ControlId list) { Mutable(list).rows.clear(); }

int HeadlessWindow::RowCount(ControlId list) const {
  return static_cast<int>(ControlState(list).rows.size());
}

int HeadlessWindow::InsertRow(ControlId list, int index, std::string_view text, int image,
                              void* data) {
  if (refuseRows_[list]) return -1;
  auto& rows = Mutable(list).rows;
  const auto at = std::min<std::size_t>(static_cast<std::size_t>(std::max(index, 0)), rows.size());
  Row row;
  row.cells.push_back(std::string(text));
  row.image = image;
  row.data = data;
  rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(at), std::move(row));
  return static_cast<int>(at);
}

HeadlessWindow::Row* HeadlessWindow::RowAt(ControlId list, int row) {
  auto& rows = Mutable(list).rows;
  if (row < 0 || static_cast<std::size_t>(row) >= rows.size()) return nullptr;
  return &rows[static_cast<std::size_t>(row)];
}

const HeadlessWindow::Row* HeadlessWindow::RowAt(ControlId list, int row) const {
  const auto& rows = ControlState(list).rows;
  if (row < 0 || static_cast<std::size_t>(row) >= rows.size()) return nullptr;
  return &rows[static_cast<std::size_t>(row)];
}

void HeadlessWindow::SetRowText(ControlId list, int row, int column, std::string_view text) {
  Row* r = RowAt(list, row);
  if (r == nullptr || column < 0) return;
  if (r->cells.size() <= static_cast<std::size_t>(column))
    r->cells.resize(static_cast<std::size_t>(column) + 1);
  r->cells[static_cast<std::size_t>(column)] = text;
}

std::string HeadlessWindow::RowText(ControlId list, int row, int column) const {
  const Row* r = RowAt(list, row);
  if (r == nullptr || column < 0 || static_cast<std::size_t>(column) >= r->cells.size()) return {};
  return r->cells[static_cast<std::size_t>(column)];
}

int HeadlessWindow::RowImage(ControlId list, int row) const {
  const Row* r = RowAt(list, row);
  return r ? r->image : -1;
}

void* HeadlessWindow::RowData(ControlId list, int row) const {
  const Row* r = RowAt(list, row);
  return r ? r->data : nullptr;
}

bool HeadlessWindow::IsRowSelected(ControlId list, int row) const {
  const Row* r = RowAt(list, row);
  return r && r->selected;
}

void HeadlessWindow::SetRowSelected(ControlId list, int row, bool selected) {
  // Single selection, as the program's lists are made.
  if (selected)
    for (auto& r : Mutable(list).rows) r.selected = false;
  if (Row* r = RowAt(list, row)) r->selected = selected;
}

int HeadlessWindow::RowCheck(ControlId list, int row) const {
  const Row* r = RowAt(list, row);
  return r ? r->check : 0;
}

void HeadlessWindow::SetRowCheck(ControlId list, int row, int state) {
  if (Row* r = RowAt(list, row)) r->check = state;
}

void HeadlessWindow::ScrollList(ControlId list, int dy) { Mutable(list).scrolled += dy; }

const HeadlessWindow::Node* HeadlessWindow::NodeAt(NodeHandle node) const {
  if (node == kNoNode || (node >> kGenerationShift) != generationBase_) return nullptr;
  const std::size_t index = (node & 0xFFFFFFFFu) - 1;
  return index < nodes_.size() ? &nodes_[index] : nullptr;
}

NodeHandle HeadlessWindow::InsertNode(NodeHandle parent, std::string_view label, int image,
                                      int selectedImage, void* data, bool sorted) {
  if (parent != kNoNode && NodeAt(parent) == nullptr) return kNoNode;
  Node n;
  n.parent = parent;
  n.label = label;
  n.image = image;
  n.selectedImage = selectedImage;
  n.data = data;
  nodes_.push_back(std::move(n));
  const NodeHandle handle = (static_cast<NodeHandle>(generationBase_) << kGenerationShift) |
                            static_cast<NodeHandle>(nodes_.size());
  Node* parentNode = parent == kNoNode ? nullptr : &nodes_[(parent & 0xFFFFFFFFu) - 1];
  auto& siblings = parentNode == nullptr ? roots_ : parentNode->children;
  bool& inOrder = parentNode == nullptr ? rootsInOrder_ : parentNode->childrenInOrder;
  const std::string key(label);
  auto at = siblings.end();
  // A sorted insertion goes before the first sibling named after it. While
  // the siblings stand in order (none was appended out of it) that one is
  // found by halving: a walk along them would make a folder of a hundred
  // thousand entries cost the square of that.
  if (sorted && inOrder)
    at = std::upper_bound(siblings.begin(), siblings.end(), key, [&](const std::string& k, NodeHandle h) {
      ++nodeComparisons_;
      return LessNoCase(k, NodeAt(h)->label);
    });
  else if (sorted)
    at = std::find_if(siblings.begin(), siblings.end(), [&](NodeHandle h) {
      ++nodeComparisons_;
      return LessNoCase(key, NodeAt(h)->label);
    });
  else if (!siblings.empty() && LessNoCase(key, NodeAt(siblings.back())->label))
    inOrder = false;
  nodes_.back().row = static_cast<std::size_t>(at - siblings.begin());
  siblings.insert(at, handle);
  return handle;
}

void HeadlessWindow::DeleteAllNodes() {
  nodes_.clear();
  roots_.clear();
  rootsInOrder_ = true;
  selectedNode_ = kNoNode;
  expanded_.clear();
  ++generationBase_;
}

NodeHandle HeadlessWindow::RootNode() const { return roots_.empty() ? kNoNode : roots_.front(); }

NodeHandle HeadlessWindow::NextSibling(NodeHandle node) const {
  const Node* n = NodeAt(node);
  if (n == nullptr) return kNoNode;
  const auto& siblings = n->parent == kNoNode ? roots_ : NodeAt(n->parent)->children;
  // A search for each sibling in turn would make a walk along a folder of a
  // hundred thousand subfolders cost the square of that. When insertions
  // have moved them, all are numbered again at once.
  if (n->row >= siblings.size() || siblings[n->row] != node)
    for (std::size_t i = 0; i < siblings.size(); ++i) NodeAt(siblings[i])->row = i;
  if (n->row >= siblings.size() || siblings[n->row] != node) return kNoNode;
  return n->row + 1 < siblings.size() ? siblings[n->row + 1] : kNoNode;
}

NodeHandle HeadlessWindow::ParentNode(NodeHandle node) const {
  const Node* n = NodeAt(node);
  return n ? n->parent : kNoNode;
}

NodeHandle HeadlessWindow::FirstChild(NodeHandle node) const {
  const Node* n = NodeAt(node);
  return (n && !n->children.empty()) ? n->children.front() : kNoNode;
}

void* HeadlessWindow::NodeData(NodeHandle node) const {
  const Node* n = NodeAt(node);
  return n ? n->data : nullptr;
}

std::string HeadlessWindow::NodeLabel(NodeHandle node) const {
  const Node* n = NodeAt(node);
  return n ? n->label : std::string();
}

int HeadlessWindow::NodeCheck(NodeHandle node) const {
  const Node* n = NodeAt(node);
  return n ? n->check : 0;
}

void HeadlessWindow::SetNodeCheck(NodeHandle node, int state) {
  if (NodeAt(node) != nullptr) nodes_[(node & 0xFFFFFFFFu) - 1].check = state;
}

void HeadlessWindow::SetProgressRange(std::uint32_t low, std::uint32_t high) {
  progress_.low = low;
  progress_.high = high;
  progress_.position = low;
}

void HeadlessWindow::StepProgress() {
  ++progress_.steps;
  progress_.position += progress_.step;
  if (progress_.position > progress_.high) progress_.position = progress_.low;  // wraps as the control does
}

bool HeadlessWindow::OpenDocument(const std::string& path) {
  opened_.push_back(path);
  return true;
}

DeviceOpening HeadlessWindow::OpenDeviceForReading(const std::string& path) {
  DeviceOpening opening;
  opening.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (opening.fd < 0) opening.error = std::string("it cannot be opened (") + std::strerror(errno) + ")";
  return opening;
}

std::vector<Rect> HeadlessWindow::InvertedNow() const {
  std::vector<Rect> shown;
  for (const Rect& r : inverted_) {
    const auto it = std::find(shown.begin(), shown.end(), r);
    if (it == shown.end()) shown.push_back(r);
    else shown.erase(it);  // inverted twice: back as it was
  }
  return shown;
}

std::unique_ptr<PrintSurface> HeadlessWindow::ChoosePrinter() {
  ++printDialogs_;
  return std::move(printer_);
}

}  // namespace tsn
