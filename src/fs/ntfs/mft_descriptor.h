#pragma once
// The $MFT's own description, built from record 0: the runs by which every
// other record is found, and how many records there are.
#include <cstdint>
#include <memory>

#include "core/entry_records.h"

namespace tsn {

class EngineHost;
struct LOGDRIVE_INFO;

namespace ntfs {

// Reads record 0 (or, when it is not sound, its copy in $MFTMirr) and
// returns the $MFT's record: runs sorted by VCN with no two claiming the
// same clusters, and recordCount bounded by what the runs and the volume
// hold. Null when no usable description can be made; the log says why.
std::unique_ptr<MftFileInfo> BuildMftDescriptor(EngineHost* app, LOGDRIVE_INFO* drive);

// Bytes per MFT record, and per index block, as the boot sector gives them.
std::uint64_t BootRecordSize(const LOGDRIVE_INFO& drive);
std::uint64_t BootIndexBlockSize(const LOGDRIVE_INFO& drive);

// Fills the drive's mftRecordBytes and indexBlockBytes from its boot sector.
// False, with a line in the log, when its records are of no size a volume
// can have: nothing on it can be read then.
bool TakeRecordSizes(EngineHost* app, LOGDRIVE_INFO* drive);

}  // namespace ntfs
}  // namespace tsn
