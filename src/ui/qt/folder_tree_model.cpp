#include "ui/qt/folder_tree_model.h"

#include <algorithm>
#include <cctype>

namespace tsn {

namespace {
constexpr int kGenerationShift = 32;
constexpr NodeHandle kSlotMask = 0xFFFFFFFFu;

// The same comparison as the headless layer, so both place nodes alike.
bool LessNoCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
  });
}
}  // namespace

FolderTreeModel::FolderTreeModel(QObject* parent) : QAbstractItemModel(parent) {}

const FolderTreeModel::Node* FolderTreeModel::NodeAt(NodeHandle node) const {
  if (node == kNoNode || (node >> kGenerationShift) != generation_) return nullptr;
  const std::size_t slot = (node & kSlotMask) - 1;
  return slot < nodes_.size() ? &nodes_[slot] : nullptr;
}

FolderTreeModel::Node* FolderTreeModel::Mutable(NodeHandle node) {
  return const_cast<Node*>(NodeAt(node));
}

const std::vector<NodeHandle>& FolderTreeModel::Siblings(const Node& node) const {
  return node.parent == kNoNode ? roots_ : NodeAt(node.parent)->children;
}

QModelIndex FolderTreeModel::IndexOf(NodeHandle node) const {
  const Node* n = NodeAt(node);
  return n ? createIndex(n->row, 0, static_cast<quintptr>(node)) : QModelIndex();
}

NodeHandle FolderTreeModel::Insert(NodeHandle parent, const std::string& label, int image,
                                   int selectedImage, void* data, bool sorted) {
  if (parent != kNoNode && NodeAt(parent) == nullptr) return kNoNode;
  const std::vector<NodeHandle>& siblings = parent == kNoNode ? roots_ : NodeAt(parent)->children;
  auto at = siblings.end();
  if (sorted)
    at = std::find_if(siblings.begin(), siblings.end(),
                      [&](NodeHandle h) { return LessNoCase(label, NodeAt(h)->label); });
  const int row = static_cast<int>(at - siblings.begin());

  beginInsertRows(IndexOf(parent), row, row);
  Node n;
  n.parent = parent;
  n.row = row;
  n.label = label;
  n.display = QString::fromStdString(label);
  n.image = image;
  n.selectedImage = selectedImage;
  n.data = data;
  nodes_.push_back(std::move(n));  // may move the vectors: no references held across it
  const NodeHandle handle = (generation_ << kGenerationShift) | static_cast<NodeHandle>(nodes_.size());
  std::vector<NodeHandle>& list = parent == kNoNode ? roots_ : Mutable(parent)->children;
  list.insert(list.begin() + row, handle);
  for (std::size_t i = static_cast<std::size_t>(row) + 1; i < list.size(); ++i)
    Mutable(list[i])->row = static_cast<int>(i);
  endInsertRows();
  return handle;
}

void FolderTreeModel::Clear() {
  beginResetModel();
  nodes_.clear();
  roots_.clear();
  ++generation_;
  endResetModel();
}

NodeHandle FolderTreeModel::NextSibling(NodeHandle node) const {
  const Node* n = NodeAt(node);
  if (n == nullptr) return kNoNode;
  const auto& siblings = Siblings(*n);
  const auto next = static_cast<std::size_t>(n->row) + 1;
  return next < siblings.size() ? siblings[next] : kNoNode;
}

void FolderTreeModel::SetCheck(NodeHandle node, int state) {
  Node* n = Mutable(node);
  if (n == nullptr) return;
  n->check = state;
  const QModelIndex i = IndexOf(node);
  emit dataChanged(i, i, {Qt::CheckStateRole});
}

QModelIndex FolderTreeModel::index(int row, int column, const QModelIndex& parent) const {
  if (column != 0 || row < 0) return {};
  const std::vector<NodeHandle>* list = &roots_;
  if (parent.isValid()) {
    const Node* p = NodeAt(HandleOf(parent));
    if (p == nullptr) return {};
    list = &p->children;
  }
  if (static_cast<std::size_t>(row) >= list->size()) return {};
  return createIndex(row, 0, static_cast<quintptr>((*list)[static_cast<std::size_t>(row)]));
}

QModelIndex FolderTreeModel::parent(const QModelIndex& child) const {
  const Node* n = NodeAt(HandleOf(child));
  return n ? IndexOf(n->parent) : QModelIndex();
}

int FolderTreeModel::rowCount(const QModelIndex& parent) const {
  if (!parent.isValid()) return static_cast<int>(roots_.size());
  const Node* n = NodeAt(HandleOf(parent));
  return n ? static_cast<int>(n->children.size()) : 0;
}

int FolderTreeModel::columnCount(const QModelIndex&) const { return 1; }

QIcon FolderTreeModel::Image(int index) const {
  if (images_ == nullptr || index < 0 || static_cast<std::size_t>(index) >= images_->size()) return {};
  return (*images_)[static_cast<std::size_t>(index)];
}

QVariant FolderTreeModel::data(const QModelIndex& index, int role) const {
  const Node* n = NodeAt(HandleOf(index));
  if (n == nullptr) return {};
  switch (role) {
    case Qt::DisplayRole:
      return n->display;
    case Qt::DecorationRole:
      return Image(n->image);
    case kSelectedDecorationRole:
      return Image(n->selectedImage);
    case Qt::CheckStateRole:
      return n->check == kChecked ? Qt::Checked : Qt::Unchecked;
    case kItemDataRole:
      return QVariant::fromValue(reinterpret_cast<quintptr>(n->data));
    default:
      return {};
  }
}

bool FolderTreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::CheckStateRole || NodeAt(HandleOf(index)) == nullptr) return false;
  SetCheck(HandleOf(index), value.toInt() == Qt::Checked ? kChecked : kUnchecked);
  return true;
}

Qt::ItemFlags FolderTreeModel::flags(const QModelIndex& index) const {
  if (NodeAt(HandleOf(index)) == nullptr) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
}

}  // namespace tsn
