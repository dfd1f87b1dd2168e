#pragma once
// The rows of one list view: texts by column, an image, a datum owned by
// whoever inserted the row, and a check state. A flat table model kept as
// plain vectors, so tens of thousands of found files stay cheap to insert.
#include <QAbstractTableModel>
#include <QIcon>
#include <QString>
#include <vector>

#include "ui/qt/item_roles.h"
#include "ui/window_system.h"

namespace tsn {

class ListModel final : public QAbstractTableModel {
 public:
  struct Row {
    std::vector<QString> cells;  // may hold more cells than there are columns
    int image = 0;
    void* data = nullptr;
    int check = kUnchecked;
  };

  explicit ListModel(QObject* parent = nullptr);

  // Images are shown only when the list has the image list attached.
  void SetImages(const std::vector<QIcon>* images) { images_ = images; }
  void SetCheckBoxes(bool on);
  bool HasCheckBoxes() const { return checkBoxes_; }

  // Returns the column's index after clamping to the columns there are.
  int InsertColumn(int index, const QString& title);
  void Clear();
  int InsertRow(int index, const QString& text, int image, void* data);
  const Row* RowAt(int row) const;
  void SetCell(int row, int column, const QString& text);
  void SetCheck(int row, int state);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  std::vector<QString> titles_;
  std::vector<Row> rows_;
  const std::vector<QIcon>* images_ = nullptr;
  bool checkBoxes_ = false;
};

}  // namespace tsn
