#pragma once

namespace tsn {
struct AppState;
struct LOGDRIVE_INFO;

// "Build Drive List": tries every candidate volume, keeps the FAT32 and NTFS
// ones as drive-list rows. 1 when the candidates were tried (also after an
// interruption), 0 when it stopped for want of memory.
int BuildDriveList(AppState* app);

// Fills clusterCount, allocUnits and freeUnits of a FAT32 drive.
int MeasureFatVolume(AppState* app, LOGDRIVE_INFO* drive);
// The same for an NTFS drive.
int MeasureNtfsVolume(AppState* app, LOGDRIVE_INFO* drive);
}  // namespace tsn
