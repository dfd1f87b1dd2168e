#include "core/engine_host.h"
#include "source/drive_sources.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "source/partition_table.h"
#include "source/volume_source.h"

namespace tsn {

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kSector = 512;

// A named file or device: one candidate per partition, or the whole of it.
void AddNamedSource(const std::string& path, std::uint32_t diskNumber, std::uint32_t imageSectorSize,
                    std::uint64_t offsetSectors, BootSectorProbe probe, CandidateList& out) {
  OpenResult opened = VolumeSource::Open(path, 0, 0, imageSectorSize);
  if (opened.needsPermission) {
    // Its partition table cannot be read yet: the whole device stands for
    // what it holds until it is opened.
    DriveCandidate c{path, 0, 0, imageSectorSize, 0, diskNumber, path};
    c.needsPermission = true;
    out.candidates.push_back(c);
    return;
  }
  if (!opened.source) {
    out.problems.push_back(opened.error);
    return;
  }
  VolumeSource& disk = *opened.source;
  const std::string format = disk.Format();
  const std::string shown = format.empty() ? path : path + " (" + format + ")";
  if (offsetSectors != 0) {
    // The examiner says where the volume starts, as with The Sleuth Kit's
    // -o: the sectors there are taken as a volume, whatever table there is.
    const std::uint64_t sector = disk.SectorSize();
    if (offsetSectors > disk.Size() / sector || disk.Size() - offsetSectors * sector < sector) {
      out.problems.push_back(path + ": sector " + std::to_string(offsetSectors) + " lies past its end (" +
                             std::to_string(disk.Size()) + " bytes); it holds no volume there.");
      return;
    }
    DriveCandidate c;
    c.path = path;
    c.offset = offsetSectors * sector;
    c.imageSectorSize = imageSectorSize;
    c.startLba = offsetSectors;
    c.diskNumber = diskNumber;
    c.description = shown + " at sector " + std::to_string(offsetSectors);
    out.candidates.push_back(c);
    return;
  }
  if (disk.Size() < disk.SectorSize()) {
    out.problems.push_back(path + ": shorter than one sector (" + std::to_string(disk.Size()) +
                           " bytes); it holds no volume.");
    return;
  }
  PartitionScan table = ReadPartitionTable(disk, path, probe);
  out.problems.insert(out.problems.end(), table.problems.begin(), table.problems.end());
  // A container says what it is, so that a drive can be traced to the file
  // the examiner holds.
  if (table.partitions.empty()) {
    out.candidates.push_back({path, 0, 0, imageSectorSize, 0, diskNumber, shown});
    return;
  }
  for (const Partition& p : table.partitions) {
    DriveCandidate c;
    c.path = path;
    c.offset = p.startLba * table.sectorBytes;
    c.length = p.sectorCount * table.sectorBytes;
    c.imageSectorSize = imageSectorSize;
    c.startLba = p.startLba;
    c.diskNumber = diskNumber;
    c.description = shown + " partition " + std::to_string(p.number);
    out.candidates.push_back(c);
  }
}

std::string ReadSysfsLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

std::uint64_t ReadSysfsNumber(const fs::path& file) {
  const std::string s = ReadSysfsLine(file);
  return s.empty() ? 0 : std::strtoull(s.c_str(), nullptr, 10);
}

bool IsVirtualDevice(const std::string& name) {
  // RAM disks and compressed swap never hold a user's volume.
  return name.rfind("ram", 0) == 0 || name.rfind("zram", 0) == 0;
}

void AddBlockDevices(const DriveSources& sources, std::uint32_t firstDisk, CandidateList& out) {
  std::error_code ec;
  const fs::path root(sources.sysfsBlockDir);
  if (!fs::is_directory(root, ec)) return;
  struct Entry {
    std::string name;
    std::string parent;  // disk of a partition; empty for a disk
    std::uint64_t sectors = 0;
    std::uint64_t start = 0;
  };
  std::vector<Entry> entries;
  for (const auto& item : fs::directory_iterator(root, ec)) {
    Entry e;
    e.name = item.path().filename().string();
    if (IsVirtualDevice(e.name)) continue;
    e.sectors = ReadSysfsNumber(item.path() / "size");
    if (fs::exists(item.path() / "partition", ec)) {
      e.start = ReadSysfsNumber(item.path() / "start");
      const fs::path real = fs::canonical(item.path(), ec);
      e.parent = ec ? std::string() : real.parent_path().filename().string();
      ec.clear();
    }
    entries.push_back(e);
  }
  std::sort(entries.begin(), entries.end(),
            [](const Entry& a, const Entry& b) { return a.name < b.name; });
  std::map<std::string, std::uint32_t> diskNumbers;
  std::map<std::string, bool> hasPartitions;
  for (const Entry& e : entries) {
    if (e.parent.empty()) diskNumbers.emplace(e.name, firstDisk + static_cast<std::uint32_t>(diskNumbers.size()));
    else hasPartitions[e.parent] = true;
  }
  for (const Entry& e : entries) {
    if (e.sectors == 0) continue;                            // no medium, unused loop device
    if (e.parent.empty() && hasPartitions[e.name]) continue;  // its partitions stand for it
    const std::string& disk = e.parent.empty() ? e.name : e.parent;
    const std::string node = (fs::path(sources.deviceDir) / e.name).string();
    if (e.parent.empty()) {
      // A disk the kernel found no partitions on may still hold a table (a
      // loop device attached without partition scanning): read it ourselves.
      AddNamedSource(node, diskNumbers[disk], 0, 0, sources.isVolumeBootSector, out);
      continue;
    }
    DriveCandidate c;
    c.path = node;
    c.length = e.sectors * kSector;
    // sysfs counts in 512-byte units whatever the disk's sectors; the list
    // shows the disk's own, as its partition table counts them.
    const std::uint64_t logical = ReadSysfsNumber(root / disk / "queue" / "logical_block_size");
    c.startLba = logical > 512 && logical % 512 == 0 ? e.start / (logical / 512) : e.start;
    c.diskNumber = diskNumbers.count(disk) ? diskNumbers[disk] : firstDisk;
    c.description = c.path;
    out.candidates.push_back(c);
  }
}

}  // namespace

CandidateList ListDriveCandidates(const DriveSources& sources) {
  CandidateList out;
  std::uint32_t disk = 0;
  for (const std::string& path : sources.files)
    AddNamedSource(path, disk++, sources.imageSectorSize, sources.volumeOffsetSectors, sources.isVolumeBootSector,
                   out);
  if (sources.scanDevices) AddBlockDevices(sources, disk, out);
  return out;
}

}  // namespace tsn
