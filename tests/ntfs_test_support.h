#pragma once
// Helpers of the NTFS suites: MFT records built byte by byte, records edited
// in an image copy with the update sequence kept right (so that only the
// damage meant is there), and volumes made with mkntfs and libntfs-3g.
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

#include "test_support.h"

namespace tsn::ntfstest {

using test::RunScan;
using test::Scan;
using Buffer = std::vector<std::uint8_t>;

inline void PutLe(Buffer& b, std::size_t at, std::uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline std::uint64_t GetLe(const Buffer& b, std::size_t at, int bytes) {
  std::uint64_t v = 0;
  for (int i = bytes; i-- > 0;) v = v << 8 | b[at + i];
  return v;
}
inline void PutU16(Buffer& b, std::size_t at, std::uint16_t v) { PutLe(b, at, v, 2); }
inline void PutU32(Buffer& b, std::size_t at, std::uint32_t v) { PutLe(b, at, v, 4); }
inline void PutU64(Buffer& b, std::size_t at, std::uint64_t v) { PutLe(b, at, v, 8); }
inline std::uint16_t GetU16(const Buffer& b, std::size_t at) { return static_cast<std::uint16_t>(GetLe(b, at, 2)); }
inline std::uint32_t GetU32(const Buffer& b, std::size_t at) { return static_cast<std::uint32_t>(GetLe(b, at, 4)); }
inline std::uint64_t GetU64(const Buffer& b, std::size_t at) { return GetLe(b, at, 8); }

inline Buffer Utf16(const std::u16string& s) {
  Buffer b;
  for (const char16_t c : s) b.insert(b.end(), {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c >> 8)});
  return b;
}

// A $FILE_NAME value.
inline Buffer FileNameValue(std::uint64_t parent, std::uint8_t nameSpace, const std::u16string& name,
                            std::uint64_t created = 0, std::uint64_t modified = 0,
                            std::uint64_t size = 0, std::uint32_t attributes = 0) {
  Buffer v(66, 0);
  PutU64(v, 0, parent);
  PutU64(v, 8, created);
  PutU64(v, 16, modified);
  PutU64(v, 48, size);
  PutU32(v, 56, attributes);
  v[64] = static_cast<std::uint8_t>(name.size());
  v[65] = nameSpace;
  const Buffer n = Utf16(name);
  v.insert(v.end(), n.begin(), n.end());
  return v;
}

// Unnamed attributes: the value (or the mapping pairs) right after the header.
inline Buffer ResidentAttribute(std::uint32_t type, const Buffer& value) {
  constexpr std::size_t valueAt = 24;
  Buffer a(valueAt + (value.size() + 7) / 8 * 8, 0);
  PutU32(a, 0, type);
  PutU32(a, 4, static_cast<std::uint32_t>(a.size()));
  PutU16(a, 10, valueAt);  // the empty name's offset
  PutU32(a, 16, static_cast<std::uint32_t>(value.size()));
  PutU16(a, 20, valueAt);
  std::copy(value.begin(), value.end(), a.begin() + valueAt);
  return a;
}

inline Buffer NonResidentAttribute(std::uint32_t type, const Buffer& pairs, std::uint64_t dataSize,
                                   std::uint64_t lowestVcn = 0) {
  constexpr std::size_t pairsAt = 64;
  Buffer a(pairsAt + (pairs.size() + 1 + 7) / 8 * 8, 0);
  PutU32(a, 0, type);
  PutU32(a, 4, static_cast<std::uint32_t>(a.size()));
  a[8] = 1;
  PutU16(a, 10, pairsAt);
  PutU64(a, 16, lowestVcn);
  PutU16(a, 32, pairsAt);
  PutU64(a, 40, dataSize);
  PutU64(a, 48, dataSize);
  PutU64(a, 56, dataSize);
  std::copy(pairs.begin(), pairs.end(), a.begin() + pairsAt);
  return a;
}

// Puts the update sequence on a buffer whose sector ends hold their true
// bytes: those go into the array and the sequence number into their place.
inline void Protect(Buffer& b, std::uint16_t usn = 0x0007) {
  const std::size_t u = GetU16(b, 4), k = GetU16(b, 6) - 1u;
  PutU16(b, u, usn);
  for (std::size_t i = 1; i <= k; ++i) {
    PutU16(b, u + 2 * i, GetU16(b, i * 512 - 2));
    PutU16(b, i * 512 - 2, usn);
  }
}
// The reverse: the true bytes back at the sector ends.
inline void Unprotect(Buffer& b) {
  const std::size_t u = GetU16(b, 4), k = GetU16(b, 6) - 1u;
  for (std::size_t i = 1; i <= k; ++i) PutU16(b, i * 512 - 2, GetU16(b, u + 2 * i));
}

// A 1024-byte MFT record with the given attributes, protected.
struct RecordBuilder {
  Buffer bytes = Buffer(1024, 0);
  std::size_t next = 56;
  explicit RecordBuilder(std::uint16_t flags = 1, std::uint16_t sequence = 1, std::uint64_t base = 0) {
    std::memcpy(bytes.data(), "FILE", 4);
    PutU16(bytes, 4, 48);  // update sequence offset
    PutU16(bytes, 6, 3);   // count: two sectors and the number
    PutU16(bytes, 16, sequence);
    PutU16(bytes, 20, 56);
    PutU16(bytes, 22, flags);
    PutU32(bytes, 28, 1024);
    PutU64(bytes, 32, base);
  }
  RecordBuilder& Add(const Buffer& attribute) {
    std::copy(attribute.begin(), attribute.end(), bytes.begin() + static_cast<std::ptrdiff_t>(next));
    next += attribute.size();
    return *this;
  }
  Buffer Build(std::uint16_t usn = 0x0007) {
    Buffer b = bytes;
    PutU32(b, next, 0xFFFFFFFF);
    PutU32(b, 24, static_cast<std::uint32_t>(next + 8));
    Protect(b, usn);
    return b;
  }
};

// DFTT #7: NTFS deleted files with a published table of them.
inline std::string Dftt7() { return test::RealImage("dftt-7-undel-ntfs.zip", "7-undel-ntfs/7-ntfs-undel.dd"); }

using test::ReadAt;
using test::WriteAt;

// Where an NTFS volume inside an image keeps things, from its boot sector.
struct NtfsGeometry {
  std::uint64_t volumeOffset = 0, clusterBytes = 0, mftCluster = 0, mirrorCluster = 0, totalSectors = 0;
  std::uint64_t MftOffset() const { return volumeOffset + mftCluster * clusterBytes; }
  std::uint64_t ClusterOffset(std::uint64_t c) const { return volumeOffset + c * clusterBytes; }
};
inline NtfsGeometry GeometryOf(const std::string& image, std::uint64_t volumeOffset = 0) {
  const Buffer boot = ReadAt(image, volumeOffset, 512);
  return {volumeOffset, std::uint64_t{GetU16(boot, 11)} * boot[13], GetU64(boot, 48), GetU64(boot, 56),
          GetU64(boot, 40)};
}

// The byte offset of MFT record n, through the $MFT's runs as istat gives them.
inline std::uint64_t RecordOffset(const std::string& image, const NtfsGeometry& g, std::uint64_t n) {
  const std::vector<std::uint64_t> clusters = test::IstatClusters(image, 0);
  const std::uint64_t byte = n * 1024;
  return g.ClusterOffset(clusters.at(byte / g.clusterBytes)) + byte % g.clusterBytes;
}

// Reads record n of the image, lets edit change it with its true sector
// ends in place, and writes it back protected again.
inline void EditRecord(const std::string& image, std::uint64_t offset, const std::function<void(Buffer&)>& edit) {
  Buffer r = ReadAt(image, offset, 1024);
  Unprotect(r);
  edit(r);
  Protect(r, GetU16(r, GetU16(r, 4)));
  WriteAt(image, offset, r);
}

// The file reference of record n: its number and its sequence number.
inline std::uint64_t FileReference(const std::string& image, const NtfsGeometry& g, std::uint64_t n) {
  return n | std::uint64_t{GetU16(ReadAt(image, RecordOffset(image, g, n), 1024), 16)} << 48;
}

// Offset in a record of its first attribute of `type` (0 when none).
inline std::size_t FindAttribute(const Buffer& r, std::uint32_t type) {
  for (std::size_t at = GetU16(r, 20); at + 8 <= r.size() && GetU32(r, at) != 0xFFFFFFFF && GetU32(r, at + 4) != 0;
       at += GetU32(r, at + 4))
    if (GetU32(r, at) == type) return at;
  return 0;
}

// What fls -r -p lists: path (from the root) -> MFT entry, for live entries
// (deleted = false) or deleted ones that still have their record. A file
// that fls lists only by its streams ($Secure:$SDS) is listed by its own
// name, as the index lists it; names whose record is gone are left out, as
// are orphans (which fls puts under a folder of its own making).
inline std::map<std::string, std::uint64_t> FlsEntries(const std::string& image, bool deleted,
                                                       const std::string& tskOffset = "") {
  const auto r = test::RunCommand("fls -r -p " + std::string(deleted ? "-d " : "-u ") + tskOffset +
                                  " '" + image + "'");
  std::map<std::string, std::uint64_t> out;
  std::istringstream in(r.out);
  for (std::string line; std::getline(in, line);) {
    const auto tab = line.find('\t');
    if (tab == std::string::npos) continue;
    const std::string meta = line.substr(0, tab);
    std::string name = line.substr(tab + 1);
    const auto star = meta.find('*');
    std::istringstream m(meta.substr(star == std::string::npos ? 4 : star + 1));
    std::uint64_t record = 0;
    // "0-128-1" is the $MFT; a bare "0" is a name whose record is gone.
    if (!(m >> record) || (record == 0 && m.peek() != '-')) continue;
    if (name.rfind("$OrphanFiles", 0) == 0) continue;
    if (const auto colon = name.find(':'); colon != std::string::npos) name.resize(colon);
    out.emplace("/" + name, record);
  }
  return out;
}

// What one listing of path -> record has that the other lacks or numbers otherwise.
inline std::string Difference(const std::map<std::string, std::uint64_t>& ours,
                              const std::map<std::string, std::uint64_t>& theirs) {
  std::string out;
  for (const auto& [path, record] : ours) {
    const auto it = theirs.find(path);
    if (it == theirs.end()) out += "  only ours: " + path + " (" + std::to_string(record) + ")\n";
    else if (it->second != record)
      out += "  " + path + ": record " + std::to_string(record) + " vs " + std::to_string(it->second) + "\n";
  }
  for (const auto& [path, record] : theirs)
    if (!ours.count(path)) out += "  only theirs: " + path + " (" + std::to_string(record) + ")\n";
  return out;
}

// Makes an image of `mib` MiB with clusters of `clusterBytes` with mkntfs and
// runs the populate commands (one per line, fields separated by tabs) on it
// through libntfs-3g, no mount needed; the tool is built once a run.
inline std::string MakeNtfsImage(const test::ScratchDir& dir, const std::string& name, int mib, int clusterBytes,
                                 const std::string& commands, const std::string& label = "TESSILON") {
  static const test::ScratchDir toolDir;
  static const std::string tool = [] {
    const auto r = test::RunCommand("cc -O2 -o '" + toolDir.Path("ntfs_populate") + "' '" + TESSILON_SOURCE_DIR +
                                    "/tests/fixtures/ntfs_populate.c' $(pkg-config --cflags --libs libntfs-3g)");
    EXPECT_EQ(r.status, 0) << r.err;
    return toolDir.Path("ntfs_populate");
  }();
  const std::string image = dir.Path(name), script = dir.Path(name + ".cmds");
  std::ofstream(script) << commands;
  const auto r = test::RunCommand("truncate -s " + std::to_string(mib) + "M '" + image + "' && mkntfs -F -Q -q -c " +
                                  std::to_string(clusterBytes) + " -L " + label + " '" + image + "' && '" + tool +
                                  "' '" + image + "' < '" + script + "'");
  EXPECT_EQ(r.status, 0) << r.err;
  return image;
}

// A file of the host to feed the populate commands.
inline std::string HostFile(const test::ScratchDir& dir, const std::string& name, const std::string& content) {
  std::ofstream(dir.Path(name)) << content;
  return dir.Path(name);
}

// A scan of a volume that should read as sound.
inline Scan SoundScan(const std::string& image, bool quick) {
  Scan s = RunScan(image, quick);
  EXPECT_EQ(s.status, 0) << s.log;
  EXPECT_FALSE(s.Logged("-- Error")) << s.log;
  return s;
}

}  // namespace tsn::ntfstest
