#pragma once
// Which live NTFS files hold a deleted file's clusters: one pass over the
// MFT takes the runs of every record in use into an index of cluster
// ranges; the owners' paths come from their records' parents afterwards.
#include <memory>

#include "fs/cluster_owners.h"

namespace tsn {

class EngineHost;
struct LOGDRIVE_INFO;

std::unique_ptr<OwnerIndex> OpenNtfsOwners(EngineHost* host, LOGDRIVE_INFO* drive);

}  // namespace tsn
