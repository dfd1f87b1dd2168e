#pragma once
// Which live exFAT files hold a deleted file's clusters: the live tree
// walked once, each live set's chain or run taken into an index.
#include <memory>

#include "fs/cluster_owners.h"

namespace tsn {

class EngineHost;
struct LOGDRIVE_INFO;

std::unique_ptr<OwnerIndex> OpenExFatOwners(EngineHost* host, LOGDRIVE_INFO* drive);

}  // namespace tsn
