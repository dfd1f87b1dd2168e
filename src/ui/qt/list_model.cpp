#include "ui/qt/list_model.h"

#include <algorithm>

namespace tsn {

namespace {
int ClampIndex(int index, std::size_t size) {
  return static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(std::max(index, 0)), size));
}

QIcon ImageAt(const std::vector<QIcon>* images, int index) {
  if (images == nullptr || index < 0 || static_cast<std::size_t>(index) >= images->size()) return {};
  return (*images)[static_cast<std::size_t>(index)];
}
}  // namespace

ListModel::ListModel(QObject* parent) : QAbstractTableModel(parent) {}

void ListModel::SetCheckBoxes(bool on) {
  if (on == checkBoxes_) return;
  checkBoxes_ = on;
  if (!rows_.empty()) emit dataChanged(index(0, 0), index(rowCount() - 1, 0), {Qt::CheckStateRole});
}

int ListModel::InsertColumn(int index, const QString& title) {
  const int at = ClampIndex(index, titles_.size());
  beginInsertColumns(QModelIndex(), at, at);
  titles_.insert(titles_.begin() + at, title);
  endInsertColumns();
  return at;
}

void ListModel::Clear() {
  if (rows_.empty()) return;
  beginResetModel();
  rows_.clear();
  endResetModel();
}

int ListModel::InsertRow(int index, const QString& text, int image, void* data) {
  const int at = ClampIndex(index, rows_.size());
  beginInsertRows(QModelIndex(), at, at);
  Row row;
  row.cells.reserve(std::max<std::size_t>(titles_.size(), 1));  // the cells come one by one next
  row.cells.push_back(text);
  row.image = image;
  row.data = data;
  rows_.insert(rows_.begin() + at, std::move(row));
  endInsertRows();
  return at;
}

const ListModel::Row* ListModel::RowAt(int row) const {
  if (row < 0 || static_cast<std::size_t>(row) >= rows_.size()) return nullptr;
  return &rows_[static_cast<std::size_t>(row)];
}

void ListModel::SetCell(int row, int column, const QString& text) {
  if (RowAt(row) == nullptr || column < 0) return;
  auto& cells = rows_[static_cast<std::size_t>(row)].cells;
  if (cells.size() <= static_cast<std::size_t>(column))
    cells.resize(static_cast<std::size_t>(column) + 1);
  cells[static_cast<std::size_t>(column)] = text;
  if (column < columnCount()) {
    const QModelIndex cell = index(row, column);
    emit dataChanged(cell, cell, {Qt::DisplayRole});
  }
}

void ListModel::SetCheck(int row, int state) {
  if (RowAt(row) == nullptr) return;
  rows_[static_cast<std::size_t>(row)].check = state;
  const QModelIndex cell = index(row, 0);
  emit dataChanged(cell, cell, {Qt::CheckStateRole});
}

int ListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(titles_.size());
}

QVariant ListModel::data(const QModelIndex& index, int role) const {
  const Row* row = RowAt(index.row());
  if (row == nullptr) return {};
  const auto column = static_cast<std::size_t>(index.column());
  switch (role) {
    case Qt::DisplayRole:
      return column < row->cells.size() ? row->cells[column] : QString();
    case Qt::DecorationRole:
      if (column == 0 && images_ != nullptr) return ImageAt(images_, row->image);
      break;
    case Qt::CheckStateRole:
      if (column == 0 && checkBoxes_) return row->check == kChecked ? Qt::Checked : Qt::Unchecked;
      break;
    case kItemDataRole:
      return QVariant::fromValue(reinterpret_cast<quintptr>(row->data));
    default:
      break;
  }
  return {};
}

bool ListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::CheckStateRole || index.column() != 0 || !checkBoxes_) return false;
  if (RowAt(index.row()) == nullptr) return false;
  SetCheck(index.row(), value.toInt() == Qt::Checked ? kChecked : kUnchecked);
  return true;
}

Qt::ItemFlags ListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
  if (checkBoxes_ && index.column() == 0) f |= Qt::ItemIsUserCheckable;
  return f;
}

QVariant ListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 ||
      static_cast<std::size_t>(section) >= titles_.size())
    return {};
  if (role == Qt::DisplayRole) return titles_[static_cast<std::size_t>(section)];
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
  return {};
}

}  // namespace tsn
