#pragma once
// The pictures of the shared 16 x 16 image list and of the toolbar, drawn in
// code. The program ships no bitmaps; every picture here is ours.
#include <QIcon>
#include <vector>

namespace tsn {

// 0-3 log severities (error, status, alert, user), 4/5 closed and open
// folder, 6-12 file types (document, film, music, picture, archive clamp,
// lightning, gear).
constexpr int kSmallImageCount = 13;
// 0 disk drive, 1 grey folder with magnifier, 2 book with question mark,
// 3 sleeping monitor, 4 red folder with magnifier, 5 floppy disk, 6 printer,
// 7 tools over a computer.
constexpr int kToolbarImageCount = 8;

// Both return a null icon for an index out of range.
QIcon DrawSmallImage(int index);
QIcon DrawToolbarImage(int index);

std::vector<QIcon> MakeSmallImageList();

}  // namespace tsn
