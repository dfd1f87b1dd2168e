#include "ui/qt/view_filters.h"

#include <QRegularExpression>
#include <array>

namespace tsn {

namespace {

constexpr int kNameColumn = 0;
constexpr int kSizeColumn = 1;
constexpr int kCreatedColumn = 2;
constexpr int kModifiedColumn = 3;

// "MM-DD-YYYY HH:MM" as a number that sorts as the time does; -1 for a
// cell that holds no time ("FAT32 N/A"), which goes first.
qint64 TimeKey(const QString& text) {
  static const QRegularExpression kTime(QStringLiteral("^(\\d\\d)-(\\d\\d)-(\\d{4}) (\\d\\d):(\\d\\d)$"));
  const QRegularExpressionMatch m = kTime.match(text);
  if (!m.hasMatch()) return -1;
  const std::array<qint64, 5> part{m.captured(3).toLongLong(), m.captured(1).toLongLong(),
                                   m.captured(2).toLongLong(), m.captured(4).toLongLong(),
                                   m.captured(5).toLongLong()};
  qint64 key = 0;
  for (qint64 p : part) key = key * 100 + p;
  return key;
}

}  // namespace

FileRowFilter::FileRowFilter(QObject* parent) : QSortFilterProxyModel(parent) {
  setFilterKeyColumn(kNameColumn);
  setFilterCaseSensitivity(Qt::CaseInsensitive);
  setSortCaseSensitivity(Qt::CaseInsensitive);
}

void FileRowFilter::SetDeletedOnly(bool on) {
  if (on == deletedOnly_) return;
  deletedOnly_ = on;
  invalidateRowsFilter();
}

void FileRowFilter::SetNamePattern(const QString& text) {
  const QString trimmed = text.trimmed();
  if (trimmed.contains(QLatin1Char('*')) || trimmed.contains(QLatin1Char('?')))
    setFilterRegularExpression(QRegularExpression(
        QRegularExpression::wildcardToRegularExpression(trimmed, QRegularExpression::UnanchoredWildcardConversion),
        QRegularExpression::CaseInsensitiveOption));
  else
    setFilterFixedString(trimmed);
}

bool FileRowFilter::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
  if (deletedOnly_ && deleted_ && !deleted_(sourceModel()->index(sourceRow, 0, sourceParent))) return false;
  return QSortFilterProxyModel::filterAcceptsRow(sourceRow, sourceParent);
}

bool FileRowFilter::CellLess(int column, const QString& left, const QString& right) {
  if (column == kSizeColumn) {
    const qulonglong l = left.toULongLong(), r = right.toULongLong();
    if (l != r) return l < r;
  } else if (column == kCreatedColumn || column == kModifiedColumn) {
    const qint64 l = TimeKey(left), r = TimeKey(right);
    if (l != r) return l < r;
  }
  return QString::localeAwareCompare(left.toCaseFolded(), right.toCaseFolded()) < 0;
}

bool FileRowFilter::lessThan(const QModelIndex& left, const QModelIndex& right) const {
  const QString l = left.data().toString(), r = right.data().toString();
  if (l == r) return left.row() < right.row();  // equal cells keep the program's order
  return CellLess(left.column(), l, r);
}

FolderFilter::FolderFilter(QObject* parent) : QSortFilterProxyModel(parent) {
  // A folder the filter keeps shows the way down to it.
  setRecursiveFilteringEnabled(true);
}

void FolderFilter::SetDeletedOnly(bool on) {
  if (on == deletedOnly_) return;
  deletedOnly_ = on;
  invalidateRowsFilter();
}

void FolderFilter::Refresh() {
  if (deletedOnly_) invalidateRowsFilter();
}

bool FolderFilter::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
  if (!deletedOnly_ || !deleted_) return true;
  return deleted_(sourceModel()->index(sourceRow, 0, sourceParent));
}

}  // namespace tsn
