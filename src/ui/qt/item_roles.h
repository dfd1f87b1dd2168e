#pragma once
// Model roles the window layer adds to Qt's own.
#include <Qt>

namespace tsn {

// The row's or node's datum, as a quintptr, for the custom-draw path.
constexpr int kItemDataRole = Qt::UserRole + 1;
// The picture a node shows while it is selected.
constexpr int kSelectedDecorationRole = Qt::UserRole + 2;

}  // namespace tsn
