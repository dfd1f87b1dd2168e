#include "source/partition_table.h"

#include <array>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <set>

#include "core/le_bytes.h"
#include "source/read_sectors.h"
#include "source/volume_source.h"

namespace tsn {

namespace {

constexpr std::size_t kSector = 512;
constexpr std::size_t kMbrEntries = 446;
constexpr std::uint8_t kTypeGptProtective = 0xEE;
constexpr int kMaxLogicalPartitions = 128;  // bounds the EBR chain
constexpr std::uint32_t kMaxGptEntries = 1024;
constexpr std::uint32_t kGptBlockSizes[] = {512, 4096};

using Sector = std::array<std::uint8_t, kSector>;

std::string Format(const char* fmt, auto... args) {
  char text[512];
  std::snprintf(text, sizeof text, fmt, args...);
  return text;
}

// A sector of the table that cannot be read is said so, in its own words:
// the partitions it would have named are missing for that reason, not
// because the disk has none.
bool ReadSector(VolumeSource& disk, std::uint64_t lba, std::uint32_t sectorBytes, Sector& out,
                PartitionScan& scan, const std::string& diskName, const char* what) {
  out.fill(0);
  if (lba > ~std::uint64_t{0} / sectorBytes) return false;
  const ReadOutcome read = disk.Read(lba * sectorBytes, out);
  if (read.unreadable)
    scan.problems.push_back(Format("%s: %s (sector %" PRIu64 ") could not be read: %s.", diskName.c_str(), what,
                                   lba, ReadErrorText(read.error).c_str()));
  return read.Whole(kSector);
}

bool HasBootSignature(const Sector& s) { return s[510] == 0x55 && s[511] == 0xAA; }

bool IsExtendedType(std::uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

// Keeps a partition that lies on the disk, clipped to its end; reports the
// ones that do not.
void AddPartition(PartitionScan& scan, const std::string& diskName, std::uint64_t diskSectors,
                  int number, std::uint64_t start, std::uint64_t count) {
  if (count == 0) return;
  if (start >= diskSectors) {
    scan.problems.push_back(Format(
        "%s: partition %d starts at sector %" PRIu64 ", past the end of the disk (%" PRIu64
        " sectors); it is passed over.",
        diskName.c_str(), number, start, diskSectors));
    return;
  }
  if (count > diskSectors - start) {
    scan.problems.push_back(Format(
        "%s: partition %d runs past the end of the disk; it is read only up to sector %" PRIu64
        ".",
        diskName.c_str(), number, diskSectors));
    count = diskSectors - start;
  }
  scan.partitions.push_back({number, start, count});
}

void ReadLogicalPartitions(VolumeSource& disk, const std::string& diskName,
                           std::uint64_t diskSectors, int primary, std::uint64_t extendedStart,
                           PartitionScan& scan) {
  if (extendedStart >= diskSectors) {
    scan.problems.push_back(Format(
        "%s: partition %d, the extended partition, starts at sector %" PRIu64
        ", past the end of the disk (%" PRIu64 " sectors); the logical partitions in it are passed over.",
        diskName.c_str(), primary, extendedStart, diskSectors));
    return;
  }
  std::set<std::uint64_t> visited;
  std::uint64_t ebr = extendedStart;
  int number = 5;
  for (int i = 0; i < kMaxLogicalPartitions; ++i) {
    if (!visited.insert(ebr).second) {
      scan.problems.push_back(diskName + ": the chain of logical partitions loops; it is followed once.");
      return;
    }
    // The first EBR of an empty extended partition may be blank; a link
    // that leads nowhere is damage.
    if (i > 0 && ebr >= diskSectors) {
      scan.problems.push_back(Format(
          "%s: the chain of logical partitions leads to sector %" PRIu64
          ", past the end of the disk; the logical partitions from there on are passed over.",
          diskName.c_str(), ebr));
      return;
    }
    Sector s;
    if (!ReadSector(disk, ebr, scan.sectorBytes, s, scan, diskName, "an extended boot record") ||
        !HasBootSignature(s)) {
      if (i > 0)
        scan.problems.push_back(Format(
            "%s: the chain of logical partitions leads to sector %" PRIu64
            ", which holds no extended boot record; the logical partitions from there on are passed over.",
            diskName.c_str(), ebr));
      return;
    }
    const Bytes b(s);
    const std::uint8_t type = LeU8(b, kMbrEntries + 4);
    if (type != 0)
      AddPartition(scan, diskName, diskSectors, number++, ebr + LeU32(b, kMbrEntries + 8),
                   LeU32(b, kMbrEntries + 12));
    const std::uint8_t nextType = LeU8(b, kMbrEntries + 16 + 4);
    const std::uint32_t nextRel = LeU32(b, kMbrEntries + 16 + 8);
    if (!IsExtendedType(nextType) || nextRel == 0) return;
    ebr = extendedStart + nextRel;
  }
  scan.problems.push_back(diskName + ": more than 128 logical partitions; the rest are passed over.");
}

// The header lies in block 1 and names its own place there: at byte 512 on
// a disk of 512-byte blocks, at byte 4096 on one of 4096-byte blocks, which
// an image file does not tell. The disk's own size is tried first, then the
// others; then the backup in the last block, which names itself the same way.
bool FindGptHeader(VolumeSource& disk, const std::string& diskName, Sector& header, PartitionScan& scan) {
  std::vector<std::uint32_t> sizes = {disk.SectorSize()};
  for (const std::uint32_t bytes : kGptBlockSizes)
    if (bytes != disk.SectorSize()) sizes.push_back(bytes);
  const auto headerAt = [&](std::uint64_t lba, std::uint32_t bytes, const char* what) {
    return ReadSector(disk, lba, bytes, header, scan, diskName, what) &&
           std::memcmp(header.data(), "EFI PART", 8) == 0 && LeU64(Bytes(header), 24) == lba;
  };
  for (const std::uint32_t bytes : sizes)
    if (disk.Size() / bytes > 1 && headerAt(1, bytes, "the GPT header")) {
      scan.sectorBytes = bytes;
      return true;
    }
  for (const std::uint32_t bytes : sizes) {
    const std::uint64_t blocks = disk.Size() / bytes;
    if (blocks > 2 && headerAt(blocks - 1, bytes, "the backup GPT header")) {
      scan.sectorBytes = bytes;
      scan.problems.push_back(diskName + ": the primary GPT header is damaged; the backup header is used.");
      return true;
    }
  }
  return false;
}

bool ReadGpt(VolumeSource& disk, const std::string& diskName, PartitionScan& scan) {
  Sector header;
  if (!FindGptHeader(disk, diskName, header, scan)) return false;
  const std::uint64_t block = scan.sectorBytes;
  const std::uint64_t diskSectors = disk.Size() / block;
  const Bytes h(header);
  const std::uint64_t entriesLba = LeU64(h, 72);
  std::uint32_t entryCount = LeU32(h, 80);
  const std::uint32_t entrySize = LeU32(h, 84);
  if (entrySize < 128 || entrySize > 4096 || entrySize % 8 != 0) {
    scan.problems.push_back(Format("%s: GPT entries of %u bytes make no sense; the table is passed over.",
                                   diskName.c_str(), entrySize));
    return true;
  }
  if (entryCount > kMaxGptEntries) {
    scan.problems.push_back(Format("%s: the GPT claims %u entries; only the first %u are read.",
                                   diskName.c_str(), entryCount, kMaxGptEntries));
    entryCount = kMaxGptEntries;
  }
  // Where the entries lie comes from the disk as well: an array that starts
  // past its end would wrap the byte offset around and read whatever lies
  // at the start instead.
  if (entriesLba >= diskSectors) {
    scan.problems.push_back(Format(
        "%s: the GPT's partition entries start at sector %" PRIu64 ", past the end of the disk (%" PRIu64
        " sectors); the table is passed over.",
        diskName.c_str(), entriesLba, diskSectors));
    return true;
  }
  const std::uint64_t room = (diskSectors - entriesLba) * block / entrySize;
  if (entryCount > room) {
    scan.problems.push_back(Format(
        "%s: the GPT's %u partition entries run past the end of the disk; only the first %" PRIu64
        " are read.",
        diskName.c_str(), entryCount, room));
    entryCount = static_cast<std::uint32_t>(room);
  }
  std::vector<std::uint8_t> entry(entrySize);
  for (std::uint32_t i = 0; i < entryCount; ++i) {
    const std::uint64_t at = entriesLba * block + std::uint64_t{i} * entrySize;
    const ReadOutcome read = disk.Read(at, entry);
    if (read.unreadable) {
      scan.problems.push_back(Format("%s: GPT entry %u (%s) could not be read: %s; it is passed over.",
                                     diskName.c_str(), i + 1, RangeText(at, at + entrySize - 1).c_str(),
                                     ReadErrorText(read.error).c_str()));
      continue;
    }
    if (!read.Whole(entry.size())) break;
    const Bytes e(entry);
    bool unused = true;
    for (int k = 0; k < 16; ++k) unused = unused && e[k] == 0;
    if (unused) continue;
    const std::uint64_t first = LeU64(e, 32), last = LeU64(e, 40);
    if (last < first) {
      scan.problems.push_back(Format("%s: GPT entry %u ends before it starts; it is passed over.",
                                     diskName.c_str(), i + 1));
      continue;
    }
    // An entry over every sector there could be has more of them than a
    // count can hold; it is clipped to the disk like any other.
    const std::uint64_t count = last - first == ~std::uint64_t{0} ? last - first : last - first + 1;
    AddPartition(scan, diskName, diskSectors, static_cast<int>(i + 1), first, count);
  }
  return true;
}

}  // namespace

bool LooksLikeVolumeBootSector(const std::uint8_t* sector, BootSectorProbe probe) {
  const Bytes b(sector, kSector);
  if (std::memcmp(sector + 3, "NTFS    ", 8) == 0) return true;
  // An NTFS boot sector whose OEM ID is damaged keeps no FAT fields to go
  // by below, and its boot code could pass for partition entries.
  if (probe != nullptr && probe(sector)) return true;
  if (std::memcmp(sector + 3, "EXFAT   ", 8) == 0) return true;
  const std::uint8_t jump = b[0];
  if (jump != 0xEB && jump != 0xE9) return false;
  const std::uint16_t bytesPerSector = LeU16(b, 11);
  const std::uint8_t spc = LeU8(b, 13);
  const std::uint16_t reserved = LeU16(b, 14);
  const std::uint8_t fats = LeU8(b, 16);
  const bool powerOfTwo = spc != 0 && (spc & (spc - 1)) == 0;
  return (bytesPerSector == 512 || bytesPerSector == 1024 || bytesPerSector == 2048 ||
          bytesPerSector == 4096) &&
         powerOfTwo && reserved >= 1 && (fats == 1 || fats == 2);
}

PartitionScan ReadPartitionTable(VolumeSource& disk, const std::string& diskName, BootSectorProbe probe) {
  PartitionScan scan;
  // An MBR counts the disk's logical sectors, whatever their size.
  scan.sectorBytes = disk.SectorSize();
  Sector mbr;
  if (!ReadSector(disk, 0, scan.sectorBytes, mbr, scan, diskName, "its partition table or boot sector") ||
      !HasBootSignature(mbr) || LooksLikeVolumeBootSector(mbr.data(), probe))
    return scan;
  const Bytes b(mbr);
  for (int i = 0; i < 4; ++i) {
    const std::uint8_t status = LeU8(b, kMbrEntries + 16 * i);
    if (status != 0x00 && status != 0x80) return scan;  // not a partition table
  }
  const std::uint64_t diskSectors = disk.Size() / scan.sectorBytes;
  for (int i = 0; i < 4; ++i) {
    if (LeU8(b, kMbrEntries + 16 * i + 4) == kTypeGptProtective) {
      scan.scheme = PartitionScan::Scheme::Gpt;
      if (ReadGpt(disk, diskName, scan)) return scan;
      scan.problems.push_back(diskName +
                              ": protective MBR, but no GPT header was found with blocks of 512 or 4096 bytes; "
                              "the MBR entries are used.");
      break;
    }
  }
  scan.scheme = PartitionScan::Scheme::Mbr;
  for (int i = 0; i < 4; ++i) {
    const std::size_t e = kMbrEntries + 16 * static_cast<std::size_t>(i);
    const std::uint8_t type = LeU8(b, e + 4);
    const std::uint32_t start = LeU32(b, e + 8), count = LeU32(b, e + 12);
    if (type == 0 || type == kTypeGptProtective) continue;
    if (IsExtendedType(type)) {
      ReadLogicalPartitions(disk, diskName, diskSectors, i + 1, start, scan);
      continue;
    }
    AddPartition(scan, diskName, diskSectors, i + 1, start, count);
  }
  return scan;
}

}  // namespace tsn
