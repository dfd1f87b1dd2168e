#include "fs/boot_sector.h"

#include <cstdio>
#include <cstring>
#include <optional>

#include "fs/logdrive_info.h"

namespace tsn {

namespace {

constexpr std::uint64_t kMinFat32Clusters = 65525;
constexpr std::uint64_t kFormattersBackupSector = 6;
constexpr std::size_t kOemIdWidth = 8;
constexpr std::size_t kFat32BootAreaSectors = 3;

std::string TrimmedField(Bytes b, std::size_t offset, std::size_t width) {
  const Bytes f = SubBytes(b, offset, width);
  std::string s(f.begin(), f.end());
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

bool FieldIs(Bytes b, std::size_t offset, const char* text) {
  const std::size_t n = std::strlen(text);
  return FitsIn(b, offset, n) && std::memcmp(b.data() + offset, text, n) == 0;
}

bool PowerOfTwo(std::uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }

bool HasBootSignature(Bytes b) {
  return LeU8(b, boot::kSignature) == 0x55 && LeU8(b, boot::kSignature + 1) == 0xAA;
}

// What every layout the program knows shares: the end-of-sector mark, a
// sector size a disk can have, and a cluster that is a whole number of
// sectors. Volumes of clusters over 64 KiB write a shift in the cluster byte
// instead of a count; the readers take that byte as a count, so such a
// volume is not sound to them.
bool HasSaneSectorFields(Bytes b) {
  const std::uint32_t bytesPerSector = LeU16(b, boot::kBytesPerSector);
  return HasBootSignature(b) && bytesPerSector >= 512 && bytesPerSector <= 4096 &&
         PowerOfTwo(bytesPerSector) && PowerOfTwo(LeU8(b, boot::kSectorsPerCluster));
}

// Data clusters of a FAT layout as the on-disk format counts them; none
// when the fields are too damaged to count.
std::optional<std::uint64_t> FatDataClusters(Bytes b) {
  const std::uint32_t bytesPerSector = LeU16(b, boot::kBytesPerSector);
  const std::uint32_t spc = LeU8(b, boot::kSectorsPerCluster);
  const std::uint32_t fats = LeU8(b, boot::kNumberOfFats);
  if (spc == 0 || bytesPerSector == 0 || fats == 0) return std::nullopt;
  const std::uint32_t fat16Size = LeU16(b, boot::kSectorsPerFat16);
  const std::uint32_t total16 = LeU16(b, boot::kTotalSectors16);
  const std::uint64_t rootSectors =
      (LeU16(b, boot::kRootEntries) * 32ULL + bytesPerSector - 1) / bytesPerSector;
  const std::uint64_t fatSize = fat16Size != 0 ? fat16Size : LeU32(b, boot::kSectorsPerFat32);
  const std::uint64_t total = total16 != 0 ? total16 : LeU32(b, boot::kTotalSectors32);
  const std::uint64_t meta = LeU16(b, boot::kReservedSectors) + fats * fatSize + rootSectors;
  if (fatSize == 0 || total <= meta) return std::nullopt;
  return (total - meta) / spc;
}

// The FAT type follows from the count of data clusters alone, as the
// on-disk format defines it; the "FAT32   " text is only a hint.
std::string FatTypeOf(Bytes b) {
  if (const std::optional<std::uint64_t> clusters = FatDataClusters(b)) {
    if (*clusters < 4085) return "FAT12";
    if (*clusters < kMinFat32Clusters) return "FAT16";
    return "FAT32";
  }
  // Damaged beyond counting clusters: go by the type text alone, so the
  // drive is refused by name, or scanned with what can be read, instead of
  // vanishing from the list.
  if (FieldIs(b, 82, "FAT32")) return "FAT32";
  if (FieldIs(b, 54, "FAT16")) return "FAT16";
  if (FieldIs(b, 54, "FAT12")) return "FAT12";
  return "";
}

bool HasSaneFatFields(Bytes b) {
  const std::uint8_t fats = LeU8(b, boot::kNumberOfFats);
  return HasSaneSectorFields(b) && LeU16(b, boot::kReservedSectors) >= 1 && (fats == 1 || fats == 2);
}

// FAT32 keeps no fixed root folder and no 16-bit sizes, and its root
// folder's cluster is one of its own.
bool IsSoundFat32(Bytes b) {
  if (!HasSaneFatFields(b) || LeU16(b, boot::kRootEntries) != 0 ||
      LeU16(b, boot::kTotalSectors16) != 0 || LeU16(b, boot::kSectorsPerFat16) != 0)
    return false;
  const std::optional<std::uint64_t> clusters = FatDataClusters(b);
  const std::uint32_t root = LeU32(b, boot::kRootCluster);
  return clusters && *clusters >= kMinFat32Clusters && root >= 2 && root < *clusters + 2;
}

bool IsSoundFat12Or16(Bytes b) {
  if (!HasSaneFatFields(b) || LeU16(b, boot::kRootEntries) == 0 || LeU16(b, boot::kSectorsPerFat16) == 0)
    return false;
  const std::optional<std::uint64_t> clusters = FatDataClusters(b);
  return clusters && *clusters < kMinFat32Clusters;
}

// NTFS leaves every FAT field zero, which is what keeps a FAT boot sector
// from passing for it; the $MFT and its mirror lie inside the volume.
bool IsSoundNtfs(Bytes b) {
  if (!HasSaneSectorFields(b)) return false;
  if (LeU16(b, boot::kReservedSectors) != 0 || LeU8(b, boot::kNumberOfFats) != 0 ||
      LeU16(b, boot::kRootEntries) != 0 || LeU16(b, boot::kTotalSectors16) != 0 ||
      LeU16(b, boot::kSectorsPerFat16) != 0 || LeU32(b, boot::kTotalSectors32) != 0)
    return false;
  const std::uint64_t clusters = LeU64(b, boot::kNtfsTotalSectors) / LeU8(b, boot::kSectorsPerCluster);
  if (LeU64(b, boot::kNtfsMftCluster) >= clusters || LeU64(b, boot::kNtfsMirrorCluster) >= clusters)
    return false;
  // Records and index blocks are a power of two of clusters, or 2^-n bytes
  // from 512 up.
  const auto sane = [&](std::size_t field) {
    const auto perUnit = static_cast<std::int8_t>(LeU8(b, field));
    return perUnit > 0 ? PowerOfTwo(static_cast<std::uint64_t>(perUnit)) : perUnit >= -31 && perUnit <= -9;
  };
  return sane(boot::kNtfsClustersPerRecord) && sane(boot::kNtfsClustersPerIndexBlock);
}

// exFAT zeroes the whole of the old BIOS parameter block, so that no FAT
// reader takes it for one of its own; its own fields sit further down and
// count in powers of two. The FAT and the cluster heap must follow one
// another inside the volume, and the FAT must have an entry for every
// cluster.
bool IsSoundExFat(Bytes b) {
  if (!FieldIs(b, boot::kOemId, "EXFAT   ") || !HasBootSignature(b)) return false;
  for (std::size_t i = 11; i < 64; ++i)
    if (LeU8(b, i) != 0) return false;
  const unsigned sectorShift = LeU8(b, exfat::kBytesPerSectorShift);
  const unsigned clusterShift = LeU8(b, exfat::kSectorsPerClusterShift);
  const unsigned fats = LeU8(b, exfat::kNumberOfFats);
  if (sectorShift < 9 || sectorShift > 12 || clusterShift > 25 - sectorShift || (fats != 1 && fats != 2))
    return false;
  const std::uint64_t volumeLength = LeU64(b, exfat::kVolumeLength);
  const std::uint64_t fatOffset = LeU32(b, exfat::kFatOffset);
  const std::uint64_t fatLength = LeU32(b, exfat::kFatLength);
  const std::uint64_t heapOffset = LeU32(b, exfat::kClusterHeapOffset);
  const std::uint64_t clusters = LeU32(b, exfat::kClusterCount);
  const std::uint64_t root = LeU32(b, exfat::kRootCluster);
  const std::uint64_t bytesPerSector = std::uint64_t{1} << sectorShift;
  if (fatOffset < 24 || fatLength == 0 || clusters == 0 || clusters > 0xFFFFFFF5u) return false;
  if ((clusters + 2) * 4 > fatLength * bytesPerSector) return false;
  if (heapOffset < fatOffset + fatLength * fats) return false;
  if (volumeLength <= heapOffset || ((volumeLength - heapOffset) >> clusterShift) < clusters) return false;
  return root >= 2 && root < clusters + 2;
}

std::string EscapedText(Bytes f) {
  std::string s;
  for (const std::uint8_t c : f) {
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      s += static_cast<char>(c);
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      s += hex;
    }
  }
  return s;
}

}  // namespace

BootLayout SoundLayout(Bytes b) {
  if (IsSoundExFat(b)) return BootLayout::ExFat;
  if (IsSoundNtfs(b)) return BootLayout::Ntfs;
  if (IsSoundFat32(b)) return BootLayout::Fat32;
  if (IsSoundFat12Or16(b)) return BootLayout::Fat12Or16;
  return BootLayout::Unsound;
}

VolumeIdentity IdentifyVolume(Bytes b) {
  VolumeIdentity id;
  const bool ntfsByName = FieldIs(b, boot::kOemId, "NTFS    ");
  if (ntfsByName || IsSoundNtfs(b)) {
    id.fsName = "NTFS";
    id.serialNumber = LeU32(b, 72);
    id.maxComponentLength = 255;
    // The OEM ID is a name, not a structure: one bad byte in it should not
    // cost a volume whose every field is sound, and The Sleuth Kit reads
    // such a volume too.
    if (!ntfsByName) id.damagedOemId = EscapedText(SubBytes(b, boot::kOemId, kOemIdWidth));
    return id;
  }
  if (FieldIs(b, boot::kOemId, "EXFAT   ")) {
    // The label lives in the root folder, not here.
    id.fsName = "exFAT";
    id.serialNumber = LeU32(b, exfat::kSerialNumber);
    id.maxComponentLength = 255;
    return id;
  }
  if (!HasBootSignature(b)) return id;
  id.fsName = FatTypeOf(b);
  if (id.fsName.empty()) return id;
  // FAT32 keeps its extended boot record further down than FAT12/16 do.
  const bool fat32 = id.fsName == "FAT32";
  const std::size_t ext = fat32 ? 64 : 36;
  if (LeU8(b, ext + 2) == 0x29) {
    id.serialNumber = LeU32(b, ext + 3);
    id.label = TrimmedField(b, ext + 7, 11);
    if (id.label == "NO NAME") id.label.clear();
  }
  id.maxComponentLength = 255;
  return id;
}

bool IsNtfsBackupAt(Bytes copy, std::uint64_t sector) {
  if (!IsSoundNtfs(copy)) return false;
  const std::uint64_t per512 = LeU16(copy, boot::kBytesPerSector) / kSectorSize;
  return sector % per512 == 0 && sector / per512 == LeU64(copy, boot::kNtfsTotalSectors);
}

std::vector<std::uint64_t> Fat32BackupSectors(Bytes primary) {
  std::vector<std::uint64_t> sectors;
  // The field counts the volume's own sectors, and the copy's three sectors
  // lie in the reserved area; a primary too damaged to say either is not
  // asked.
  const std::uint64_t named = LeU16(primary, boot::kBackupBootSector);
  const std::uint32_t bytesPerSector = LeU16(primary, boot::kBytesPerSector);
  if (bytesPerSector >= 512 && bytesPerSector <= 4096 && PowerOfTwo(bytesPerSector) && named != 0 &&
      named + kFat32BootAreaSectors <= LeU16(primary, boot::kReservedSectors)) {
    if (named != kFormattersBackupSector) sectors.push_back(named);
  }
  sectors.push_back(kFormattersBackupSector);
  return sectors;
}

bool IsSoundExFatBootSector(Bytes bootSector) { return IsSoundExFat(bootSector); }

bool IsSoundBootSector(const std::uint8_t* sector512) {
  return SoundLayout(Bytes(sector512, kSectorSize)) != BootLayout::Unsound;
}

}  // namespace tsn
