#include "volume/boot_sector.h"

#include <cstring>

namespace tsn {

namespace {

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

// The FAT type follows from the count of data clusters alone, as the
// on-disk format defines it; the "FAT32   " text is only a hint.
std::string FatTypeOf(Bytes b) {
  const std::uint32_t bytesPerSector = LeU16(b, 11);
  const std::uint32_t spc = LeU8(b, 13);
  const std::uint32_t reserved = LeU16(b, 14);
  const std::uint32_t fats = LeU8(b, 16);
  const std::uint32_t rootEntries = LeU16(b, 17);
  const std::uint32_t total16 = LeU16(b, 19);
  const std::uint32_t fat16Size = LeU16(b, 22);
  const std::uint32_t total32 = LeU32(b, 32);
  const std::uint32_t fat32Size = LeU32(b, 36);
  // Damaged beyond counting clusters: go by the type text alone, so the
  // drive is refused by name, or scanned with what can be read, instead of
  // vanishing from the list.
  auto byTypeText = [&]() -> std::string {
    if (FieldIs(b, 82, "FAT32")) return "FAT32";
    if (FieldIs(b, 54, "FAT16")) return "FAT16";
    if (FieldIs(b, 54, "FAT12")) return "FAT12";
    return "";
  };
  if (spc == 0 || bytesPerSector == 0 || fats == 0) return byTypeText();
  const std::uint64_t rootSectors = (rootEntries * 32ULL + bytesPerSector - 1) / bytesPerSector;
  const std::uint64_t fatSize = fat16Size != 0 ? fat16Size : fat32Size;
  const std::uint64_t total = total16 != 0 ? total16 : total32;
  const std::uint64_t meta = reserved + fats * fatSize + rootSectors;
  if (fatSize == 0 || total <= meta) return byTypeText();
  const std::uint64_t clusters = (total - meta) / spc;
  if (clusters < 4085) return "FAT12";
  if (clusters < 65525) return "FAT16";
  return "FAT32";
}

}  // namespace

VolumeIdentity IdentifyVolume(Bytes b) {
  VolumeIdentity id;
  if (FieldIs(b, 3, "NTFS    ")) {
    id.fsName = "NTFS";
    id.serialNumber = LeU32(b, 72);
    id.maxComponentLength = 255;
    return id;
  }
  if (FieldIs(b, 3, "EXFAT   ")) {
    id.fsName = "exFAT";
    return id;
  }
  if (!(LeU8(b, 510) == 0x55 && LeU8(b, 511) == 0xAA)) return id;
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

}  // namespace tsn
