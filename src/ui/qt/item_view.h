#pragma once
// The view under every list and the folder tree. It asks the dialog for the
// text colours as it paints (the custom-draw stages), reports clicks and
// double clicks (and Space on a check box, which is such a click), and says
// which part of an item lies under a point.
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <cstdint>
#include <functional>
#include <optional>

#include "ui/window_system.h"

namespace tsn {

class ItemView;

class CustomDrawDelegate final : public QStyledItemDelegate {
 public:
  explicit CustomDrawDelegate(ItemView* view);
  void SetGridLines(bool on) { gridLines_ = on; }
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  // The option the item is painted with, for hit tests.
  void ItemOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
    initStyleOption(option, index);
  }

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

 private:
  ItemView* view_;
  bool gridLines_ = false;
};

class ItemView final : public QTreeView {
 public:
  // Lists paint per cell and ask for the sub-item stage; the tree paints per
  // node and never does.
  enum class Kind { List, Tree };
  using CustomDraw = std::function<std::uint32_t(CustomDrawRecord&)>;
  // Clicks carry the pointer in screen coordinates and what lay under it
  // when the button went up, before the view toggles a check box there.
  using Notify = std::function<void(NotifyCode, Point screenPoint, const HitTest& hit)>;

  ItemView(Kind kind, QWidget* parent);
  void SetCustomDraw(CustomDraw handler) { customDraw_ = std::move(handler); }
  void SetNotify(Notify handler) { notify_ = std::move(handler); }
  CustomDrawDelegate* Delegate() const { return delegate_; }

  // The text colour for an item being painted now, as the custom-draw
  // handler chose it; none for the default colour.
  std::optional<QColor> TextColourFor(const QModelIndex& index);
  // Which item, and which part of it, lies under a point of the viewport:
  // the row for a list, the node (the model's handle) for the tree.
  HitTest HitAt(QPoint viewportPoint) const;
  // Between the view's indexes and those of the rows the program made,
  // which a filter or an order may stand between.
  QModelIndex SourceIndex(const QModelIndex& index) const;
  QModelIndex ViewIndex(const QModelIndex& source) const;
  // The whole text of a cell too narrow to show it; empty for one that fits.
  QString ToolTipAt(QPoint viewportPoint) const;

 protected:
  bool viewportEvent(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // What one paint pass has learnt from the handler so far.
  struct Pass {
    bool itemStage = false;
    bool haveItem = false;
    int row = -1;
    quintptr id = 0;
    void* itemData = nullptr;
    bool subItemStage = false;
    CustomDrawRecord item{};
  };
  std::uint32_t Send(CustomDrawRecord& record);
  HitPart PartAt(QPoint viewportPoint, const QModelIndex& index) const;
  // The check box of the current row or node, toggled from the keyboard as
  // a click on it toggles it; false when the current item has none.
  bool ToggleCurrentCheck();

  Kind kind_;
  CustomDrawDelegate* delegate_;
  CustomDraw customDraw_;
  Notify notify_;
  Pass pass_;
  bool swallowRelease_ = false;
};

}  // namespace tsn
