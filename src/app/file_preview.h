#pragma once
// The preview beside the file list: the selected file's first bytes, read
// as a copy reads them, so a user sees what would come back before copying.
#include <cstddef>

namespace tsn {

struct AppState;
struct FoundFile;

// Pictures are read up to this much, to be drawn whole; other files only
// as far as the hex view shows them.
constexpr std::size_t kPreviewPictureBytes = 4 * 1024 * 1024;
constexpr std::size_t kPreviewBytes = 16 * 1024;

// Shows the file selected in the file list, or an empty pane. Called again
// while a file is being read, it only says which file is wanted next.
void PreviewSelectedFile(AppState* app);

// Whether the name says it is a picture the pane may draw.
bool IsPictureName(const FoundFile& file);

}  // namespace tsn
