#pragma once
// Operations the dispatcher hands work to that live in the results
// and window-logic layers; the scans are the volume's file system's (fs/file_system.h).
#include <cstdint>

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
