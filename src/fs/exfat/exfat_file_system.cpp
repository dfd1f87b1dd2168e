#include <algorithm>
#include <cinttypes>
#include <memory>
#include <string>

#include "core/engine_host.h"
#include "core/entry_records.h"
#include "fs/boot_sector.h"
#include "fs/exfat/exfat_cluster_owners.h"
#include "fs/exfat/exfat_entry_set.h"
#include "fs/exfat/exfat_scans.h"
#include "fs/exfat/exfat_volume.h"
#include "fs/file_system.h"
#include "fs/logdrive_info.h"
#include "source/volume_source.h"

namespace tsn {

namespace {

// The main boot region is twelve sectors; its copy follows it.
constexpr std::uint64_t kBackupBootSector = 12;

bool ProbeExFat(Bytes bootSector) { return IdentifyVolume(bootSector).fsName == "exFAT"; }

// The copy lies at sector 12 of the volume's own sectors, whatever size
// they are; the copy must state that very size.
std::uint64_t FindExFatBackup(EngineHost* host, VolumeSource* volume, Bytes, std::span<const std::uint32_t>,
                              BootArea* copy) {
  for (const std::uint32_t bytes : {512u, 1024u, 2048u, 4096u}) {
    if (kBackupBootSector * bytes + kBootAreaSize > volume->Size()) continue;
    const BootArea read = ReadBootAreaCopy(host, volume, kBackupBootSector * bytes, kBootAreaSize);
    const Bytes c(read.data(), read.size());
    if (IsSoundExFatBootSector(c) && (1u << LeU8(c, exfat::kBytesPerSectorShift)) == bytes) {
      *copy = read;
      return kBackupBootSector;
    }
  }
  return 0;
}

bool MountExFat(EngineHost* host, LOGDRIVE_INFO* d) {
  if (!IsSoundExFatBootSector(d->Boot())) {
    LogMessage(host, kError, "%s (%s): its exFAT boot sector's fields do not hang together (sector or cluster size, "
               "FAT, cluster heap or root folder), and no backup of it is sound; it is not listed.",
               d->driveName.c_str(), d->sourceDescription.c_str());
    return false;
  }
  const ExFatGeometry g = ExFatGeometryOf(*d);
  d->bytesPerSector = g.bytesPerSector;
  d->sectorsPerCluster = static_cast<std::uint32_t>(g.clusterBytes / g.bytesPerSector);
  d->totalSectors = g.volumeSectors;
  d->clusterCount = g.clusterCount;
  d->allocUnits = g.clusterCount;
  d->rootDirSector = static_cast<std::int64_t>(g.heapOffset + (std::uint64_t{g.rootCluster} - 2) * d->sectorsPerCluster);
  d->dirEntriesPerCluster = static_cast<std::int32_t>(std::min<std::uint64_t>(g.clusterBytes / kExFatSlotSize, INT32_MAX));
  if (LoadExFatFat(host, d, g) == 0) return false;
  const ExFatVolume v = OpenExFatVolume(host, d);
  d->fatTable = {};
  d->volumeName = v.root.label;
  // Without a bitmap nothing is known free; the volume is listed all the
  // same, since its files can still be found.
  d->freeUnits = v.bitmap.bits.empty() ? 0 : v.bitmap.FreeClusters(g.clusterCount);
  return true;
}

// Plans from the FAT (for live files' chains) and the allocation bitmap
// (for what deleted ones have lost), let go with the planner.
class ExFatContentPlanner : public ContentPlanner {
 public:
  ExFatContentPlanner(LOGDRIVE_INFO* drive, ExFatVolume v) : drive_(drive), v_(std::move(v)) {}
  ~ExFatContentPlanner() override { drive_->fatTable = {}; }

  ContentPlan Plan(const FoundFile& file) override {
    ContentPlan plan;
    plan.size = file.size;
    plan.readBytes = file.size;
    const ExFatStamp stamp{file.fatDate, file.fatTime, file.exfat.modifiedTenMs, file.exfat.modifiedUtcOffset};
    plan.modified = plan.accessed = ExFatStampToTime(stamp);
    if (file.size == 0) return plan;
    const bool deleted = !(file.flags & kFlagInUse);
    // Bytes past the valid data length were never written: they read as
    // zeros whatever the clusters hold.
    const std::uint64_t valid = std::min(file.exfat.validDataLength, file.size);
    const std::uint64_t neededValid = v_.g.ClustersFor(valid);
    const bool contiguous = file.exfat.noFatChain || deleted;
    std::string fault;
    std::vector<std::uint32_t> clusters;
    if (deleted) {
      DeletedExtent how;
      clusters = DeletedFileClusters(*drive_, v_, file.startCluster, file.size, file.exfat.noFatChain, &how);
      if (clusters.size() > neededValid) clusters.resize(neededValid);
      if (!v_.g.InHeap(file.startCluster))
        fault = "its first cluster " + std::to_string(file.startCluster) + " lies outside the cluster heap";
      else if (clusters.size() < neededValid)
        fault = "it runs past the end of the cluster heap; only " + std::to_string(clusters.size()) + " of its " +
                std::to_string(neededValid) + " clusters are there";
      if (how == DeletedExtent::StaleChain)
        plan.notes.push_back("its clusters are those of the chain it left in the FAT, which deletion does not "
                             "clear; they are all free, but another file may have held them since");
      else if (how == DeletedExtent::Assumed)
        plan.notes.push_back("its clusters were chained in the FAT, and no whole chain of its own is left there; "
                             "they are taken as one run from its first cluster, which holds only if the file was "
                             "not fragmented");
    } else {
      clusters = ExFatClusters(*drive_, v_.g, file.startCluster, contiguous, neededValid, &fault);
    }
    if (!fault.empty()) plan.notes.push_back(fault);
    if (valid > 0 && clusters.empty()) {
      plan.readable = false;
      return plan;
    }
    if (!contiguous && clusters.size() < neededValid && fault.empty())
      plan.notes.push_back("its cluster chain ends after " + std::to_string(clusters.size()) + " of " +
                           std::to_string(neededValid) + " clusters; the rest is missing");
    std::uint64_t placed = 0;
    for (std::size_t i = 0; i < clusters.size() && placed < valid; ++i) {
      const std::uint64_t length = std::min(v_.g.clusterBytes, valid - placed);
      const std::uint64_t offset = v_.g.ClusterOffset(clusters[i]);
      if (!plan.pieces.empty() && plan.pieces.back().volumeOffset + plan.pieces.back().length == offset &&
          plan.pieces.back().length % v_.g.clusterBytes == 0) {
        plan.pieces.back().length += length;
      } else {
        ContentPiece piece;
        piece.kind = ContentPiece::Kind::Extent;
        piece.volumeOffset = offset;
        piece.length = length;
        plan.pieces.push_back(std::move(piece));
      }
      placed += length;
    }
    if (placed < file.size) {
      ContentPiece zeros;
      zeros.kind = ContentPiece::Kind::Zeros;
      zeros.length = file.size - placed;
      plan.pieces.push_back(std::move(zeros));
    }
    if (deleted) {
      std::uint64_t reused = 0;
      for (const std::uint32_t c : clusters)
        if (v_.bitmap.Taken(c)) ++reused;
      if (reused > 0)
        plan.notes.push_back(std::to_string(reused) + " of its " + std::to_string(clusters.size()) +
                             " clusters now belong to other files" +
                             (v_.bitmap.readable ? "" : ", or lie where the allocation bitmap could not be read") +
                             "; its content is likely overwritten");
    }
    return plan;
  }

 private:
  LOGDRIVE_INFO* drive_;
  ExFatVolume v_;
};

std::unique_ptr<ContentPlanner> OpenExFatContent(EngineHost* host, LOGDRIVE_INFO* drive) {
  const ExFatGeometry g = ExFatGeometryOf(*drive);
  if (LoadExFatFat(host, drive, g) == 0) return nullptr;
  return std::make_unique<ExFatContentPlanner>(drive, OpenExFatVolume(host, drive));
}

}  // namespace

const FileSystemType kExFatFileSystem = {
    .name = "exFAT",
    .kind = 'E',
    .probe = ProbeExFat,
    .findBackupBootArea = FindExFatBackup,
    .mount = MountExFat,
    .quickScan = ExFatQuickScan,
    .indexedScan = ExFatIndexedScan,
    .openContent = OpenExFatContent,
    .openOwners = OpenExFatOwners,
};

}  // namespace tsn
