#pragma once
// The nodes of the folder tree, addressed by opaque handles. A handle is the
// node's slot plus a generation that DeleteAllNodes advances, so a handle
// kept from an earlier tree never finds a node of the new one.
#include <QAbstractItemModel>
#include <QIcon>
#include <QString>
#include <string>
#include <vector>

#include "ui/qt/item_roles.h"
#include "ui/window_system.h"

namespace tsn {

class FolderTreeModel final : public QAbstractItemModel {
 public:
  struct Node {
    NodeHandle parent = kNoNode;
    std::vector<NodeHandle> children;
    int row = 0;  // place among its siblings, kept current on every insertion
    std::string label;
    QString display;
    int image = 0, selectedImage = 0;
    void* data = nullptr;
    int check = kUnchecked;
  };

  explicit FolderTreeModel(QObject* parent = nullptr);
  void SetImages(const std::vector<QIcon>* images) { images_ = images; }

  // Sorted: before the first sibling whose label compares greater, letter
  // case ignored; after equal labels. Returns kNoNode for a stale parent.
  NodeHandle Insert(NodeHandle parent, const std::string& label, int image, int selectedImage,
                    void* data, bool sorted);
  void Clear();
  const Node* NodeAt(NodeHandle node) const;
  NodeHandle RootNode() const { return roots_.empty() ? kNoNode : roots_.front(); }
  NodeHandle NextSibling(NodeHandle node) const;
  void SetCheck(NodeHandle node, int state);
  QModelIndex IndexOf(NodeHandle node) const;
  static NodeHandle HandleOf(const QModelIndex& index) { return index.internalId(); }

  QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  Node* Mutable(NodeHandle node);
  const std::vector<NodeHandle>& Siblings(const Node& node) const;
  QIcon Image(int index) const;

  std::vector<Node> nodes_;
  std::vector<NodeHandle> roots_;
  NodeHandle generation_ = 0;
  const std::vector<QIcon>* images_ = nullptr;
};

}  // namespace tsn
