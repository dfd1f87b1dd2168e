#pragma once
// The two NTFS scans and the MFT passes they share.
#include <cstdint>
#include <vector>


#include "core/engine_host.h"

namespace tsn {

class EngineHost;
struct LOGDRIVE_INFO;
struct MftFileInfo;

// "Build File List ONLY!": the whole MFT twice, deleted folders then
// deleted files. 1 when both passes ran to their end.
int NtfsFileListScan(EngineHost* app, LOGDRIVE_INFO* drive);
// "Build Indexed File List": the live tree from the root folder's index,
// then the two MFT passes. 1 when it reached its end.
int NtfsIndexedScan(EngineHost* app, LOGDRIVE_INFO* drive);

namespace ntfs {

class DamageLog;
class VolumeBitmap;

// Every deleted folder of the MFT into the tree under its parent, or under
// an orphan folder when its parent is not in the tree. 1 at the end, 0 when
// interrupted.
int DeletedFolderPass(EngineHost* app, LOGDRIVE_INFO* drive, const MftFileInfo& mft,
                      const VolumeBitmap& bitmap, DamageLog* damage);
// Every deleted file of the MFT, judged against the bitmap, into its
// parent's list or an orphan folder. 1 at the end, 0 when interrupted.
int DeletedFilePass(EngineHost* app, LOGDRIVE_INFO* drive, const MftFileInfo& mft,
                    const VolumeBitmap& bitmap, FolderRef root, DamageLog* damage);
// The live files and folders of the folders whose index could not be read
// in full, found in the MFT by the parent their names give and added where
// the index walk did not list them; a folder found so is walked. `folders`
// grows with those whose index cannot be read either. 1 at the end, 0 when
// interrupted.
int UnindexedEntriesPass(EngineHost* app, LOGDRIVE_INFO* drive, const MftFileInfo& mft,
                         std::vector<std::uint64_t>& folders, DamageLog* damage);
// kFlagChainInUse when a cluster of the file's runs is in use, else 0.
std::uint32_t ChainInUse(EngineHost* app, const LOGDRIVE_INFO& drive, const VolumeBitmap& bitmap,
                         const MftFileInfo& file);
// Logs it when the image holds fewer sectors than the volume claims.
void NoteTruncatedImage(EngineHost* app, const LOGDRIVE_INFO& drive);

}  // namespace ntfs
}  // namespace tsn
