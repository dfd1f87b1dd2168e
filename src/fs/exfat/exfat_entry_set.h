#pragma once
// exFAT directory entries: the 32-byte slots of a folder, and the entry sets
// (a File entry, its Stream Extension and File Name entries) that describe
// one file or folder.
#include <cstdint>
#include <ctime>
#include <string>

#include "core/le_bytes.h"

namespace tsn {

constexpr std::size_t kExFatSlotSize = 32;
// A File entry and at most 18 secondaries: a stream and 17 names of 15
// units hold the 255 units a name may have.
constexpr std::size_t kExFatMaxSetSlots = 19;

constexpr std::uint8_t kExFatEndOfFolder = 0x00;
constexpr std::uint8_t kExFatInUse = 0x80;
constexpr std::uint8_t kExFatBitmap = 0x81;
constexpr std::uint8_t kExFatUpcase = 0x82;
constexpr std::uint8_t kExFatLabel = 0x83;
constexpr std::uint8_t kExFatFile = 0x85;
constexpr std::uint8_t kExFatStream = 0xC0;
constexpr std::uint8_t kExFatName = 0xC1;
// The same with the in-use bit cleared: what deleting leaves.
constexpr std::uint8_t kExFatDeletedFile = 0x05;

constexpr std::uint16_t kExFatAttrDirectory = 0x10;

// A timestamp as the File entry keeps it: the FAT date and time, 10-ms units
// past its two seconds, and the offset from UTC it was written at.
struct ExFatStamp {
  std::uint16_t date = 0;
  std::uint16_t time = 0;
  std::uint8_t tenMs = 0;
  std::uint8_t utcOffset = 0;  // bit 7 set: the low 7 bits are signed quarter hours east of UTC
};

// The time a stamp stands for. With a valid UTC offset it is exact; without
// one it is the local time of the machine that wrote it, taken as this
// machine's.
timespec ExFatStampToTime(const ExFatStamp& stamp);

struct ExFatEntrySet {
  enum class Status {
    NotASet,     // the first slot is no File entry of the state asked for
    Incomplete,  // its secondaries run past the slots given: `slots` says how many it needs
    Broken,      // the slots do not make a set: `fault` says why
    Sound,       // a set; `checksumOk` says whether its checksum holds
  };
  Status status = Status::NotASet;
  std::string fault;
  bool deleted = false;
  bool checksumOk = false;
  std::size_t slots = 0;  // the File entry and its secondaries
  std::uint16_t attributes = 0;
  ExFatStamp created, modified;
  std::uint8_t streamFlags = 0;
  std::uint8_t nameLength = 0;  // UTF-16 units
  std::uint64_t validDataLength = 0;
  std::uint64_t dataLength = 0;
  std::uint32_t firstCluster = 0;
  std::string name;  // UTF-8

  bool IsFolder() const { return (attributes & kExFatAttrDirectory) != 0; }
  bool NoFatChain() const { return (streamFlags & 0x02) != 0; }
  // Whether the name and stream say nothing impossible: what a set whose
  // checksum fails must show before it is believed at all.
  bool NameAndStreamSound() const;
};

// Decodes the set whose File entry is the first slot of `slots` (a multiple
// of 32 bytes), deleted (0x05, 0x40, 0x41) or live (0x85, 0xC0, 0xC1) as
// `deleted` asks. The checksum is the one the set had while it was live.
ExFatEntrySet ParseEntrySet(Bytes slots, bool deleted);

// The set checksum over `bytes` (the whole set), taking every type byte with
// its in-use bit set.
std::uint16_t ExFatSetChecksum(Bytes bytes);

}  // namespace tsn
