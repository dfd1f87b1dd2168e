#pragma once
// What the user narrows the file list and the folder tree to, and the file
// list's order. They stand between a view and its rows: the rows, their
// ticks and their data stay as the program made them, in its order.
#include <QSortFilterProxyModel>
#include <QString>
#include <functional>

#include "ui/window_system.h"

namespace tsn {

// Asks the program whether a row (or node) is a deleted entry or holds one.
// The index is the source model's.
using DeletedProbe = std::function<bool(const QModelIndex& source)>;

class FileRowFilter final : public QSortFilterProxyModel {
 public:
  explicit FileRowFilter(QObject* parent = nullptr);
  void SetDeletedProbe(DeletedProbe probe) { deleted_ = std::move(probe); }
  void SetDeletedOnly(bool on);
  bool DeletedOnly() const { return deletedOnly_; }
  // Names holding the text, letter case ignored; * and ? match as in a shell.
  void SetNamePattern(const QString& text);

  // The columns sorted by what their text stands for: sizes as numbers,
  // times as times. Exposed for the tests of the order.
  static bool CellLess(int column, const QString& left, const QString& right);

 protected:
  bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
  bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

 private:
  DeletedProbe deleted_;
  bool deletedOnly_ = false;
};

class FolderFilter final : public QSortFilterProxyModel {
 public:
  explicit FolderFilter(QObject* parent = nullptr);
  void SetDeletedProbe(DeletedProbe probe) { deleted_ = std::move(probe); }
  void SetDeletedOnly(bool on);
  bool DeletedOnly() const { return deletedOnly_; }
  // Asks again for every folder: a scan marks folders as it goes.
  void Refresh();

 protected:
  bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

 private:
  DeletedProbe deleted_;
  bool deletedOnly_ = false;
};

}  // namespace tsn
