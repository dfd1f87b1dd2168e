#pragma once
// MFT records: the update-sequence fixup, the validity test, and locating and
// reading record N through the $MFT's own data runs.
#include <cstdint>
#include <span>
#include <vector>

#include "fs/ntfs/ntfs_layout.h"
#include "core/le_bytes.h"

namespace tsn {

class EngineHost;
struct LOGDRIVE_INFO;
struct MftFileInfo;

namespace ntfs {

struct UnreadablePart;

enum FixupMode : int { kFixupRepair = 1, kFixupCheck = 2 };

// Checks the update sequence of a multi-sector structure (an MFT record or an
// index block) and, in repair mode, puts the true sector ends back. The whole
// array is checked before anything is written, so a buffer that fails is left
// exactly as read. 1 good, 0 bad. Names itself in the fault context.
int FixupRecord(EngineHost* app, std::span<std::uint8_t> buffer, std::uint32_t stride, int mode);

// "FILE", a sound update sequence, and a first attribute inside the record.
int IsValidMftRecord(EngineHost* app, std::span<std::uint8_t> buffer, std::uint32_t stride);

// Bytes per MFT record of the drive, as its boot sector states them (a
// drive record made without one, as tests make them, has 1024-byte records).
// Record buffers are this long.
std::uint32_t RecordBytes(const LOGDRIVE_INFO& drive);

// What a slot of the MFT holds, for telling damage from disuse.
enum class RecordKind {
  Valid,       // a file record with a sound update sequence
  Empty,       // all zeros: never used, or not there to read
  Torn,        // "FILE" or "BAAD" whose update sequence does not check
  NotARecord,  // anything else
  Unreadable,  // some of its sectors could not be read: what it holds is not known
};
RecordKind ClassifyRecord(EngineHost* app, std::span<std::uint8_t> buffer);

// The sector that holds the start of record N, or kNoSector. Reads nothing.
std::int64_t MftRecordSector(EngineHost* app, const LOGDRIVE_INFO& drive, const MftFileInfo& mft,
                             std::uint64_t record);

// Reads record N into buffer (RecordBytes long), checks and repairs it. Returns the
// record's sector, or kNoSector when it does not exist, could not be read, or
// is not a sound file record (the buffer then keeps the bytes as read).
// `kind`, when given, tells why a read record was refused; `unreadable`
// receives where it could not be read.
std::int64_t ReadMftRecord(EngineHost* app, const LOGDRIVE_INFO& drive, const MftFileInfo& mft,
                           std::span<std::uint8_t> buffer, std::uint64_t record,
                           RecordKind* kind = nullptr, std::vector<UnreadablePart>* unreadable = nullptr);

// The same without repairing, into a buffer of its own.
std::int64_t ProbeMftRecord(EngineHost* app, const LOGDRIVE_INFO& drive, const MftFileInfo& mft,
                            std::uint64_t record);

// Header fields of a record.
inline std::uint16_t RecordFlags(Bytes r) { return LeU16(r, record::kFlags); }
inline std::uint16_t RecordSequence(Bytes r) { return LeU16(r, record::kSequence); }
inline std::uint64_t RecordBase(Bytes r) { return RecordOf(LeU64(r, record::kBaseRecord)); }
inline bool RecordInUse(Bytes r) { return (RecordFlags(r) & record::kFlagInUse) != 0; }
inline bool RecordIsDirectory(Bytes r) { return (RecordFlags(r) & record::kFlagDirectory) != 0; }

}  // namespace ntfs
}  // namespace tsn
