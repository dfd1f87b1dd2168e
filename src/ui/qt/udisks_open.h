#pragma once
// Opening a block device this user may not read, through UDisks2 on the
// system bus: UDisks2 asks polkit, polkit may ask the user for a password,
// and what comes back is a descriptor opened read-only by the daemon.
// Nothing here runs as root, and nothing is ever asked for but reading.
#include <string>

#include "ui/window_system.h"

namespace tsn {

// The device at `path` (a node under /dev), opened read-only by UDisks2;
// the reason in one line when UDisks2 cannot be reached, does not know the
// device or refuses.
DeviceOpening OpenThroughUDisks(const std::string& path);

}  // namespace tsn
