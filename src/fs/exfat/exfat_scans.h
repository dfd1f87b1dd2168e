#pragma once
// The two exFAT scans, and the verdict on a deleted entry set.
#include <cstdint>

namespace tsn {

class EngineHost;
struct LOGDRIVE_INFO;
struct ExFatVolume;
struct ExFatEntrySet;

// "Build File List ONLY!": every deleted entry set in any cluster of the heap.
int ExFatQuickScan(EngineHost* host, LOGDRIVE_INFO* drive);
// "Build Indexed File List": the folder tree from the root folder down.
int ExFatIndexedScan(EngineHost* host, LOGDRIVE_INFO* drive);

// The state bits of a deleted file's set: 0 when every cluster it needs is
// free in the allocation bitmap, its clusters found as DeletedFileClusters
// finds them (needs the FAT loaded).
std::uint32_t JudgeDeletedSet(const LOGDRIVE_INFO& drive, const ExFatVolume& volume, const ExFatEntrySet& set);

}  // namespace tsn
