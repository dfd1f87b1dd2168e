#pragma once
// The two NTFS scans and the MFT passes they share.
#include <cstdint>
#include <deque>
#include <vector>


#include "core/engine_host.h"
#include "core/entry_records.h"
#include "fs/ntfs/attributes.h"
#include "fs/ntfs/data_runs.h"
#include "fs/ntfs/mft_record.h"

namespace tsn {

class EngineHost;
struct LOGDRIVE_INFO;
struct MftFileInfo;

// "Build File List ONLY!": deleted folders then deleted files, from one
// read of the MFT. 1 when both passes ran to their end.
int NtfsFileListScan(EngineHost* app, LOGDRIVE_INFO* drive);
// "Build Indexed File List": one read of the MFT, the live tree from the
// root folder's index, then the two passes over what the read kept. 1 when it reached its end.
int NtfsIndexedScan(EngineHost* app, LOGDRIVE_INFO* drive);

namespace ntfs {

class DamageLog;
class RecordTable;
class VolumeBitmap;
struct SweptRecord;

// What one read of the MFT keeps for the deleted-folder and deleted-file
// passes: the deleted entries they place and the damage met on the way,
// told when the pass that meets it reaches its record. All in record order.
struct DeletedEntries {
  struct ReadNote {  // a record that could not be read, or holds no sound file record
    std::uint64_t record = 0;
    RecordKind kind = RecordKind::Empty;
    std::int64_t sector = 0;
    std::vector<UnreadablePart> unreadable;
  };
  struct Folder {
    std::uint64_t record = 0;
    std::uint64_t sector = 0;
    unsigned damage = 0;  // kDamage... bits met decoding its names
    FileNameInfo names;
  };
  struct File {  // a deleted file to list; its record number is the file's own
    FoundFile* file = nullptr;
    std::uint64_t parentRecord = 0;
  };
  struct FileDamage {  // what decoding a deleted file's record met, whether it is listed or not
    std::uint64_t record = 0;
    unsigned names = 0, data = 0;
  };
  std::vector<ReadNote> notes;
  std::vector<Folder> folders;
  std::deque<File> files;  // a deque: no doubling of a list of a million
  std::vector<FileDamage> damage;

  // Takes what the passes want of one record, as the sweep read it.
  void Take(EngineHost* app, const LOGDRIVE_INFO& drive, const MftFileInfo& mft, const SweptRecord& record);
};

// Reads every record of the MFT once, for the passes into `entries` and,
// when given, for the index walk into `table`. 1 at the end, 0 when interrupted.
int ReadMftOnce(EngineHost* app, LOGDRIVE_INFO* drive, const MftFileInfo& mft, DeletedEntries* entries,
                RecordTable* table);
// Every deleted folder of the MFT into the tree under its parent, or under
// an orphan folder when its parent is not in the tree; the records are read
// here when `readHere`, into `entries` for the file pass too. 1 at the end,
// 0 when interrupted.
int DeletedFolderPass(EngineHost* app, LOGDRIVE_INFO* drive, const MftFileInfo& mft, DeletedEntries& entries,
                      bool readHere, DamageLog* damage);
// Every deleted file of the MFT, judged against the bitmap, into its
// parent's list or an orphan folder. 1 at the end, 0 when interrupted.
int DeletedFilePass(EngineHost* app, LOGDRIVE_INFO* drive, const MftFileInfo& mft, DeletedEntries& entries,
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
                         const FoundFile& file);
// Logs it when the image holds fewer sectors than the volume claims.
void NoteTruncatedImage(EngineHost* app, const LOGDRIVE_INFO& drive);

}  // namespace ntfs
}  // namespace tsn
