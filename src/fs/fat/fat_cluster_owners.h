#pragma once
// Which live FAT files hold a deleted file's clusters: the live tree walked
// once, each live entry's chain taken into an index of cluster ranges.
#include <memory>

#include "fs/cluster_owners.h"

namespace tsn {

class EngineHost;
struct LOGDRIVE_INFO;

std::unique_ptr<OwnerIndex> OpenFatOwners(EngineHost* host, LOGDRIVE_INFO* drive);

}  // namespace tsn
