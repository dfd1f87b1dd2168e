#include "ui/list_rows.h"

namespace tsn {

void* RowDataOf(WindowSystem& ui, ControlId list, int row) { return ui.RowData(list, row); }

void* SelectedRowData(WindowSystem& ui, ControlId list) {
  const int n = ui.RowCount(list);
  for (int row = 0; row < n; ++row)
    if (ui.IsRowSelected(list, row)) return RowDataOf(ui, list, row);
  return nullptr;
}

}  // namespace tsn
