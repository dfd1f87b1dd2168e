#include "ui/qt/item_view.h"

#include <QAbstractProxyModel>
#include <QHeaderView>
#include <QHelpEvent>
#include <QToolTip>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QTimer>
#include <algorithm>
#include <utility>

#include "ui/qt/item_roles.h"

namespace tsn {

namespace {
const QColor kGridLine(218, 218, 218);

Point ScreenPoint(const QMouseEvent* event) {
  const QPoint p = event->globalPosition().toPoint();
  return {p.x(), p.y()};
}
}  // namespace

CustomDrawDelegate::CustomDrawDelegate(ItemView* view) : QStyledItemDelegate(view), view_(view) {}

void CustomDrawDelegate::initStyleOption(QStyleOptionViewItem* option,
                                         const QModelIndex& index) const {
  QStyledItemDelegate::initStyleOption(option, index);
  if (option->state & QStyle::State_Selected) {
    const QVariant selected = index.data(kSelectedDecorationRole);
    if (selected.isValid()) option->icon = selected.value<QIcon>();
  }
}

void CustomDrawDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
  QStyleOptionViewItem styled(option);
  if (const std::optional<QColor> colour = view_->TextColourFor(index)) {
    // Selected rows keep the highlight colours, as the list views did.
    styled.palette.setColor(QPalette::Active, QPalette::Text, *colour);
    styled.palette.setColor(QPalette::Inactive, QPalette::Text, *colour);
  }
  QStyledItemDelegate::paint(painter, styled, index);
  if (gridLines_) {
    painter->save();
    painter->setPen(kGridLine);
    const QRect r = option.rect;
    painter->drawLine(r.topRight(), r.bottomRight());
    painter->drawLine(r.bottomLeft(), r.bottomRight());
    painter->restore();
  }
}

ItemView::ItemView(Kind kind, QWidget* parent)
    : QTreeView(parent), kind_(kind), delegate_(new CustomDrawDelegate(this)) {
  setItemDelegate(delegate_);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setIconSize(QSize(16, 16));
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  if (kind == Kind::List) {
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  } else {
    setHeaderHidden(true);
    setUniformRowHeights(true);
  }
}

std::uint32_t ItemView::Send(CustomDrawRecord& record) {
  return customDraw_ ? customDraw_(record) : CDRF_DODEFAULT;
}

void ItemView::paintEvent(QPaintEvent* event) {
  pass_ = Pass{};
  if (customDraw_) {
    CustomDrawRecord control;
    control.stage = DrawStage::Prepaint;
    pass_.itemStage = (Send(control) & CDRF_NOTIFYITEMDRAW) != 0;
  }
  QTreeView::paintEvent(event);
  pass_ = Pass{};  // items painted outside a pass (drag pictures) keep the defaults
}

std::optional<QColor> ItemView::TextColourFor(const QModelIndex& index) {
  if (!pass_.itemStage) return std::nullopt;
  // The view paints a row's cells one after another, so a new row (or node)
  // is the moment for its item stage.
  if (!pass_.haveItem || pass_.row != index.row() || pass_.id != index.internalId()) {
    pass_.haveItem = true;
    pass_.row = index.row();
    pass_.id = index.internalId();
    const QModelIndex source = SourceIndex(index);
    pass_.itemData =
        reinterpret_cast<void*>(index.siblingAtColumn(0).data(kItemDataRole).value<quintptr>());
    pass_.item = CustomDrawRecord{};
    pass_.item.stage = DrawStage::ItemPrepaint;
    pass_.item.itemData = pass_.itemData;
    if (kind_ == Kind::Tree) pass_.item.node = static_cast<NodeHandle>(source.internalId());
    const std::uint32_t answer = Send(pass_.item);
    pass_.subItemStage = kind_ == Kind::List && (answer & CDRF_NOTIFYSUBITEMDRAW) != 0;
  }
  CustomDrawRecord cell = pass_.item;  // a cell starts with its row's colour
  if (pass_.subItemStage) {
    cell.stage = DrawStage::SubItemPrepaint;
    cell.subItem = index.column();
    Send(cell);
  }
  if (!cell.textColourSet) return std::nullopt;
  return QColor(cell.textColour.r, cell.textColour.g, cell.textColour.b);
}

HitPart ItemView::PartAt(QPoint viewportPoint, const QModelIndex& index) const {
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  option.rect = visualRect(index);
  delegate_->ItemOption(&option, index);
  if (!option.rect.contains(viewportPoint)) return HitPart::Other;  // indentation, expand button
  const QStyle* s = option.widget ? option.widget->style() : style();
  if ((option.features & QStyleOptionViewItem::HasCheckIndicator) &&
      s->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, this).contains(viewportPoint))
    return HitPart::CheckBox;
  if ((option.features & QStyleOptionViewItem::HasDecoration) &&
      s->subElementRect(QStyle::SE_ItemViewItemDecoration, &option, this).contains(viewportPoint))
    return HitPart::Icon;
  QRect text = s->subElementRect(QStyle::SE_ItemViewItemText, &option, this);
  // Only the label itself counts, not the empty space after it.
  const int margin = s->pixelMetric(QStyle::PM_FocusFrameHMargin, &option, this) + 1;
  text.setWidth(std::min(text.width(), option.fontMetrics.horizontalAdvance(option.text) + 2 * margin));
  return text.contains(viewportPoint) ? HitPart::Label : HitPart::Other;
}

QModelIndex ItemView::SourceIndex(const QModelIndex& index) const {
  const auto* proxy = qobject_cast<const QAbstractProxyModel*>(model());
  return proxy != nullptr && index.model() == proxy ? proxy->mapToSource(index) : index;
}

QModelIndex ItemView::ViewIndex(const QModelIndex& source) const {
  const auto* proxy = qobject_cast<const QAbstractProxyModel*>(model());
  return proxy != nullptr && source.model() != proxy ? proxy->mapFromSource(source) : source;
}

QString ItemView::ToolTipAt(QPoint viewportPoint) const {
  // A cell too narrow for its text (a long name, a date) shows it whole.
  const QModelIndex index = indexAt(viewportPoint);
  if (!index.isValid()) return {};
  const QString text = index.data().toString();
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  option.rect = visualRect(index);
  delegate_->ItemOption(&option, index);
  const QStyle* s = style();
  const int room = s->subElementRect(QStyle::SE_ItemViewItemText, &option, this).width();
  const int margin = 2 * (s->pixelMetric(QStyle::PM_FocusFrameHMargin, &option, this) + 1);
  if (text.isEmpty() || option.fontMetrics.horizontalAdvance(text) + margin <= room) return {};
  return text;
}

bool ItemView::viewportEvent(QEvent* event) {
  if (event->type() != QEvent::ToolTip) return QTreeView::viewportEvent(event);
  const auto* help = static_cast<QHelpEvent*>(event);
  const QString tip = ToolTipAt(help->pos());
  if (tip.isEmpty()) {
    QToolTip::hideText();
    event->ignore();
  } else {
    QToolTip::showText(help->globalPos(), tip, viewport(), visualRect(indexAt(help->pos())));
  }
  return true;
}

HitTest ItemView::HitAt(QPoint viewportPoint) const {
  const QModelIndex index = indexAt(viewportPoint);
  if (!index.isValid()) return {};
  HitTest hit;
  const QModelIndex source = SourceIndex(index);
  if (kind_ == Kind::Tree) hit.node = static_cast<NodeHandle>(source.internalId());
  else hit.row = source.row();
  // A list row's check box, picture and label live in its first cell.
  hit.part = kind_ == Kind::List && index.column() != 0 ? HitPart::Other : PartAt(viewportPoint, index);
  return hit;
}

void ItemView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && !std::exchange(swallowRelease_, false) && notify_) {
    // The click goes out before the view toggles a check box under it, so
    // the handler reads the state the click started from.
    const QPointer<ItemView> alive(this);
    notify_(NotifyCode::Click, ScreenPoint(event), HitAt(event->position().toPoint()));
    if (!alive) return;
  }
  QTreeView::mouseReleaseEvent(event);
}

void ItemView::keyPressEvent(QKeyEvent* event) {
  // Ctrl+Space is the view's own: it selects or deselects the current item.
  const bool space = event->key() == Qt::Key_Space || event->key() == Qt::Key_Select;
  if (space && !(event->modifiers() & Qt::ControlModifier) && ToggleCurrentCheck()) {
    event->accept();
    return;
  }
  QTreeView::keyPressEvent(event);
}

bool ItemView::ToggleCurrentCheck() {
  const QModelIndex current = currentIndex();
  if (!current.isValid() || model() == nullptr) return false;
  // A list row's box lives in its first cell, wherever the focus stands.
  const QPersistentModelIndex box = current.siblingAtColumn(0);
  const Qt::ItemFlags flags = model()->flags(box);
  if (!(flags & Qt::ItemIsUserCheckable) || !(flags & Qt::ItemIsEnabled)) return false;
  if (notify_) {
    // The program's tick logic (spreading marks, the file's own state, the
    // recount) lives in its click handler: the key goes through it too, and
    // before the box changes, exactly as a click on the box does.
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualRect(box);
    delegate_->ItemOption(&option, box);
    const QStyle* s = option.widget ? option.widget->style() : style();
    const QPoint centre =
        s->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, this).center();
    const QPoint global = viewport()->mapToGlobal(centre);
    HitTest hit;
    const QModelIndex source = SourceIndex(box);
    if (kind_ == Kind::Tree) hit.node = static_cast<NodeHandle>(source.internalId());
    else hit.row = source.row();
    hit.part = HitPart::CheckBox;
    const QPointer<ItemView> alive(this);
    notify_(NotifyCode::Click, {global.x(), global.y()}, hit);
    if (!alive) return true;
  }
  if (!box.isValid()) return true;  // the handler emptied the view
  const bool checked = box.data(Qt::CheckStateRole).toInt() == Qt::Checked;
  model()->setData(box, checked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
  return true;
}

void ItemView::mouseDoubleClickEvent(QMouseEvent* event) {
  QTreeView::mouseDoubleClickEvent(event);
  if (event->button() != Qt::LeftButton || !notify_) return;
  swallowRelease_ = true;  // the release that ends a double click is no click of its own
  const Point at = ScreenPoint(event);
  const HitTest hit = HitAt(event->position().toPoint());
  // Sent from the event loop rather than from inside the view's mouse
  // handling: a double click on a drive starts a scan that may run for long.
  QTimer::singleShot(0, this, [this, at, hit] {
    if (notify_) notify_(NotifyCode::DoubleClick, at, hit);
  });
}

}  // namespace tsn
