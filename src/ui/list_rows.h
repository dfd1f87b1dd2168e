#pragma once
#include "ui/window_system.h"

namespace tsn {
// The datum of a row, or null when the row does not exist.
void* RowDataOf(WindowSystem& ui, ControlId list, int row);
// The datum of the first selected row counting from row 0; null if none.
void* SelectedRowData(WindowSystem& ui, ControlId list);
}  // namespace tsn
