#pragma once
// The columns of the main window's lists, and the toolbar's buttons.
#include <span>

#include "ui/window_system.h"

namespace tsn {

struct AppState;

struct ColumnSpec {
  int width;
  const char* title;
};

extern const ColumnSpec kLogColumns[];
extern const ColumnSpec kDriveColumns[];
extern const ColumnSpec kFileColumns[];
extern const ColumnSpec kSpareColumns[];

// Inserts the columns of a table ended by a row of width 0. Returns 1.
int AddColumns(AppState* app, ControlId list, const ColumnSpec* table);

struct ToolbarButton {
  int image;  // index in the toolbar strip
  int command;
  const char* tooltip;
  const char* shortcut;  // the key that does the same, as Qt writes it; null for none
};

// Left to right as the toolbar shows them.
std::span<const ToolbarButton> ToolbarButtons();

// List-view extended styles.
constexpr std::uint32_t kLvsExGridLines = 0x01;
constexpr std::uint32_t kLvsExCheckBoxes = 0x04;
constexpr std::uint32_t kLvsExFullRowSelect = 0x20;

}  // namespace tsn
