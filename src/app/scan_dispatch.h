#pragma once
// Operations the dispatcher hands work to that live in the scanner, results
// and window-logic layers.
#include <cstdint>

#include "fat/fat_scans.h"
#include "ntfs/ntfs_scans.h"
#include "results/copy_out.h"
#include "results/folder_tree.h"
#include "results/print_report.h"
#include "ui/list_interaction.h"
#include "ui/splitter.h"
#include "ui/window_system.h"

namespace tsn {

struct AppState;
struct LOGDRIVE_INFO;

}  // namespace tsn
