#pragma once
// The two FAT32 scans.
#include <cstdint>

namespace tsn {

class EngineHost;
struct LOGDRIVE_INFO;
struct MftFileInfo;

// "Build File List ONLY!": every deleted file entry in any cluster.
int FatFileListScan(EngineHost* app, LOGDRIVE_INFO* drive);
// "Build Indexed File List": the folder tree from the root directory down.
int FatIndexedScan(EngineHost* app, LOGDRIVE_INFO* drive);

}  // namespace tsn
