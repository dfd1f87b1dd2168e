#pragma once

namespace tsn {
struct AppState;
// Places every control from the client size and the three pane sizes.
void LayoutControls(AppState* app);
}  // namespace tsn
