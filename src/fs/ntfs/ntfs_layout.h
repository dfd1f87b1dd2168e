#pragma once
// NTFS on-disk constants: record and attribute layout, attribute types, the
// well-known records. Offsets are in bytes from the start of the structure
// named in the group's comment.
#include <cstddef>
#include <cstdint>

namespace tsn::ntfs {

// Records are 1024 bytes on most volumes; a volume states its own size, and
// its index blocks', in its boot sector (4096 on disks of 4096-byte sectors).
// Neither is ever larger than this: a bigger one is damage.
constexpr std::size_t kMftRecordSize = 1024;
constexpr std::uint64_t kMaxRecordBytes = 65536;
// The update sequence protects every 512 bytes, whatever the sector size.
constexpr std::uint32_t kFixupStride = 512;
constexpr std::int64_t kNoSector = -1;  // a record or sector that does not exist

// Well-known MFT records.
constexpr std::uint64_t kMftRecord = 0;
constexpr std::uint64_t kVolumeRecord = 3;
constexpr std::uint64_t kRootFolderRecord = 5;
constexpr std::uint64_t kBitmapRecord = 6;

// A file reference is a 48-bit record number and a 16-bit sequence number.
constexpr std::uint64_t kRecordNumberMask = 0x0000FFFFFFFFFFFFULL;
constexpr std::uint64_t RecordOf(std::uint64_t reference) { return reference & kRecordNumberMask; }
constexpr std::uint16_t SequenceOf(std::uint64_t reference) {
  return static_cast<std::uint16_t>(reference >> 48);
}

// NTFS boot sector.
namespace bootfield {
constexpr std::size_t kMftCluster = 48;        // u64
constexpr std::size_t kMftMirrorCluster = 56;  // u64
constexpr std::size_t kClustersPerRecord = 64; // i8: clusters, or 2^-n bytes when negative
constexpr std::size_t kClustersPerIndexBlock = 68; // i8, the same way
}  // namespace bootfield

// MFT record header.
namespace record {
constexpr std::size_t kSignature = 0;         // "FILE"
constexpr std::size_t kUsaOffset = 4;         // u16
constexpr std::size_t kUsaCount = 6;          // u16
constexpr std::size_t kSequence = 16;         // u16
constexpr std::size_t kFirstAttribute = 20;   // u16
constexpr std::size_t kFlags = 22;            // u16
constexpr std::size_t kBytesInUse = 24;       // u32
constexpr std::size_t kBaseRecord = 32;       // u64 file reference, 0 in a base record
constexpr std::uint32_t kSignatureFile = 0x454C4946;  // "FILE"
constexpr std::uint32_t kSignatureIndx = 0x58444E49;  // "INDX"
constexpr std::uint16_t kFlagInUse = 0x01;
constexpr std::uint16_t kFlagDirectory = 0x02;
}  // namespace record

// Attribute types.
constexpr std::uint32_t kAttrStandardInformation = 0x10;
constexpr std::uint32_t kAttrAttributeList = 0x20;
constexpr std::uint32_t kAttrFileName = 0x30;
constexpr std::uint32_t kAttrVolumeName = 0x60;
constexpr std::uint32_t kAttrData = 0x80;
constexpr std::uint32_t kAttrIndexRoot = 0x90;
constexpr std::uint32_t kAttrIndexAllocation = 0xA0;
constexpr std::uint32_t kAttrBitmap = 0xB0;
constexpr std::uint32_t kAttrEnd = 0xFFFFFFFF;

// Attribute header.
namespace attr {
constexpr std::size_t kType = 0;              // u32
constexpr std::size_t kLength = 4;            // u32
constexpr std::size_t kNonResident = 8;       // u8
constexpr std::size_t kNameLength = 9;        // u8, UTF-16 units
constexpr std::size_t kNameOffset = 10;       // u16
constexpr std::size_t kFlags = 12;            // u16
constexpr std::size_t kValueLength = 16;      // u32, resident
constexpr std::size_t kValueOffset = 20;      // u16, resident
constexpr std::size_t kLowestVcn = 16;        // u64, non-resident
constexpr std::size_t kHighestVcn = 24;       // u64, non-resident
constexpr std::size_t kMappingPairs = 32;     // u16, non-resident
constexpr std::size_t kCompressionUnit = 34;  // u8, non-resident: log2 of clusters, 0 if not compressed
constexpr std::size_t kAllocatedSize = 40;    // u64, non-resident
constexpr std::size_t kDataSize = 48;         // u64, non-resident
constexpr std::size_t kInitializedSize = 56;  // u64, non-resident
constexpr std::size_t kResidentHeader = 24;
constexpr std::size_t kNonResidentHeader = 64;
constexpr std::uint16_t kFlagCompressionMask = 0x00FF;
constexpr std::uint16_t kFlagEncrypted = 0x4000;
constexpr std::uint16_t kFlagSparse = 0x8000;
}  // namespace attr

// $STANDARD_INFORMATION value.
namespace stdinfo {
constexpr std::size_t kCreated = 0;           // u64 file time
constexpr std::size_t kModified = 8;          // u64 file time
constexpr std::size_t kAccessed = 24;         // u64 file time
constexpr std::size_t kFileAttributes = 32;   // u32
constexpr std::size_t kMinimumLength = 48;
constexpr std::uint32_t kAttributeEncrypted = 0x4000;
}  // namespace stdinfo

// $FILE_NAME value (also the key of a directory index entry).
namespace filename {
constexpr std::size_t kParent = 0;            // u64 file reference
constexpr std::size_t kCreated = 8;           // u64 file time
constexpr std::size_t kModified = 16;         // u64 file time
constexpr std::size_t kDataSize = 48;         // u64
constexpr std::size_t kFileAttributes = 56;   // u32
constexpr std::size_t kNameLength = 64;       // u8, UTF-16 units
constexpr std::size_t kNamespace = 65;        // u8
constexpr std::size_t kName = 66;             // UTF-16LE
constexpr std::uint8_t kPosix = 0;
constexpr std::uint8_t kWin32 = 1;
constexpr std::uint8_t kDos = 2;
constexpr std::uint8_t kWin32AndDos = 3;
constexpr std::uint32_t kIsDirectory = 0x10000000;
}  // namespace filename

// $ATTRIBUTE_LIST entry.
namespace listentry {
constexpr std::size_t kType = 0;              // u32
constexpr std::size_t kLength = 4;            // u16
constexpr std::size_t kNameLength = 6;        // u8
constexpr std::size_t kLowestVcn = 8;         // u64
constexpr std::size_t kRecord = 16;           // u64 file reference
constexpr std::size_t kMinimumLength = 26;
}  // namespace listentry

// $INDEX_ROOT value, the index header inside it and in an INDX block, and
// an index entry.
namespace index {
constexpr std::size_t kRootIndexedType = 0;   // u32: 0x30 for a folder's $I30
constexpr std::size_t kRootBlockSize = 8;     // u32: bytes per index block
constexpr std::size_t kRootHeader = 16;       // the index header
constexpr std::size_t kBlockHeader = 24;      // the index header of an INDX block
constexpr std::size_t kHeaderEntries = 0;     // u32, from the header
constexpr std::size_t kHeaderInUse = 4;       // u32, from the header
constexpr std::size_t kEntryReference = 0;    // u64 file reference
constexpr std::size_t kEntryLength = 8;       // u16
constexpr std::size_t kEntryKeyLength = 10;   // u16
constexpr std::size_t kEntryFlags = 12;       // u8
constexpr std::size_t kEntryKey = 16;         // the $FILE_NAME value
constexpr std::size_t kEntryMinimum = 16;
constexpr std::uint8_t kEntryLast = 0x02;
}  // namespace index

}  // namespace tsn::ntfs
