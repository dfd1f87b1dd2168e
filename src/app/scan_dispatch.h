#pragma once
// Operations the dispatcher hands work to that live in the scanner, results
// and window-logic layers.
#include <cstdint>

#include "fs/fat/fat_scans.h"
#include "fs/ntfs/ntfs_scans.h"
#include "app/copy_command.h"
#include "app/folder_tree.h"
#include "app/print_report.h"
#include "app/list_interaction.h"
#include "app/splitter.h"
#include "ui/window_system.h"

namespace tsn {

struct AppState;
struct LOGDRIVE_INFO;

}  // namespace tsn
