#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/engine_host.h"
#include "core/entry_records.h"
#include "fs/boot_sector.h"
#include "fs/file_system.h"
#include "fs/logdrive_info.h"
#include "fs/ntfs/data_runs.h"
#include "fs/ntfs/mft_descriptor.h"
#include "fs/ntfs/ntfs_cluster_owners.h"
#include "fs/ntfs/ntfs_file_content.h"
#include "fs/ntfs/ntfs_scans.h"
#include "fs/ntfs/volume_bitmap.h"
#include "source/read_sectors.h"
#include "source/volume_source.h"

namespace tsn {

namespace {

bool ProbeNtfs(Bytes bootSector) { return IdentifyVolume(bootSector).fsName == "NTFS"; }

// The free share comes from the volume's own $Bitmap, found through the
// $MFT's runs (Linux has no query for it). Free space is counted in whole
// bytes of the bitmap, eight clusters at a time, as it has always been
// shown. The label comes from $Volume, as the boot sector has none.
bool MeasureNtfsVolume(EngineHost* host, LOGDRIVE_INFO* drive) {
  drive->clusterCount = drive->totalSectors / drive->sectorsPerCluster;
  drive->allocUnits = 0;
  drive->freeUnits = 0;
  const std::unique_ptr<MftFileInfo> mft = ntfs::BuildMftDescriptor(host, drive);
  if (!mft) return false;
  ntfs::VolumeBitmap bitmap;
  if (!ntfs::ReadVolumeBitmap(host, drive, *mft, &bitmap)) return false;
  // A $Bitmap cut short by its own size leaves the clusters past it
  // unjudged. One cut to what a cut-short image holds leaves the volume its
  // size: the clusters past the cut read as zeros, like any read past the end.
  if (bitmap.Clusters() < ntfs::HeldClusters(*drive)) drive->clusterCount = bitmap.Clusters();
  drive->allocUnits = bitmap.Clusters() / 8;
  for (std::uint64_t i = 0; i < drive->allocUnits; ++i) {
    host->PumpOneMessage();
    if (bitmap.ByteAt(i) == 0) ++drive->freeUnits;
  }
  drive->volumeName = ntfs::ReadVolumeLabel(host, drive, *mft);
  return drive->allocUnits != 0;
}

// NTFS keeps one copy of its boot sector in the volume's last sector,
// counted in the volume's own sectors: a copy is taken only where its own
// sector size places it.
std::uint64_t FindNtfsBackup(EngineHost* host, VolumeSource* volume, Bytes, std::span<const std::uint32_t> sizes,
                             BootArea* copy) {
  const std::uint64_t size = volume->Size();
  for (const std::uint32_t bytes : sizes) {
    if (size < 2 * std::uint64_t{bytes}) continue;
    const std::uint64_t last = size / bytes - 1;
    const BootArea read = ReadBootAreaCopy(host, volume, last * bytes, kSectorSize);
    if (LeU16(Bytes(read.data(), kSectorSize), boot::kBytesPerSector) == bytes &&
        IsNtfsBackupAt(Bytes(read.data(), kSectorSize), last * (bytes / kSectorSize))) {
      *copy = read;
      return last;
    }
  }
  return 0;
}

bool MountNtfs(EngineHost* host, LOGDRIVE_INFO* d) {
  const VolumeIdentity id = IdentifyVolume(d->Boot());
  if (!id.damagedOemId.empty())
    LogMessage(host, kError,
               "%s (%s): its boot sector's OEM ID reads \"%s\"; the volume is read as NTFS from the "
               "rest of its boot sector.",
               d->driveName.c_str(), d->sourceDescription.c_str(), id.damagedOemId.c_str());
  d->totalSectors = LeU64(d->Boot(), boot::kNtfsTotalSectors);
  if (!ReadSectorAndClusterSize(host, d)) return false;
  return MeasureNtfsVolume(host, d);
}

// NTFS keeps UTC file times; 0 means the time is not known, and is left alone.
timespec FileTimeToTime(std::uint64_t fileTime) {
  constexpr std::uint64_t kTicksPerSecond = 10000000;
  constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
  if (fileTime == 0) return {0, UTIME_OMIT};
  return {static_cast<time_t>(static_cast<std::int64_t>(fileTime / kTicksPerSecond) - kSecondsFrom1601To1970),
          static_cast<long>(fileTime % kTicksPerSecond * 100)};
}

// A non-resident stream is read through the file system's own reader:
// sparse runs, bytes past the initialised size and compressed units are
// its to turn into bytes. What it notes comes first, then what gathering
// the stream and judging its clusters noted.
class StreamDecoder : public PieceDecoder {
 public:
  StreamDecoder(const LOGDRIVE_INFO& drive, ntfs::FileStream stream, std::vector<std::string> notes)
      : drive_(drive), stream_(std::move(stream)), notes_(std::move(notes)) {}

  DecodedRead Read(EngineHost* host, std::span<std::uint8_t> scratch, const PieceSink& sink) override {
    const ntfs::StreamRead read = ntfs::ReadStreamContent(host, drive_, stream_, scratch, sink);
    DecodedRead out{read.stopped, read.whole, read.notes, read.unreadable};
    out.notes.insert(out.notes.end(), notes_.begin(), notes_.end());
    return out;
  }

 private:
  const LOGDRIVE_INFO& drive_;
  const ntfs::FileStream stream_;
  const std::vector<std::string> notes_;
};

// Plans from the $MFT's map, reading each file's record afresh; the bitmap
// judges whether a deleted file's clusters are taken now.
class NtfsContentPlanner : public ContentPlanner {
 public:
  NtfsContentPlanner(EngineHost* host, LOGDRIVE_INFO* drive, std::unique_ptr<MftFileInfo> mft)
      : host_(host), drive_(drive), mft_(std::move(mft)) {
    // Without the bitmap the copies are still made, only not judged.
    haveBitmap_ = ntfs::ReadVolumeBitmap(host_, drive_, *mft_, &bitmap_);
  }

  ContentPlan Plan(const FoundFile& file) override {
    ContentPlan plan;
    ntfs::FileStream stream;
    if (!ntfs::ReadFileStream(host_, *drive_, *mft_, file.recordNumber, file.size, &stream, &plan.refusal)) {
      if (plan.refusal.empty()) plan.refusal = "its MFT record " + std::to_string(file.recordNumber) + " cannot be read";
      return plan;
    }
    if (!(file.flags & kFlagInUse) && stream.inUse) {
      plan.refusal = "its MFT record " + std::to_string(file.recordNumber) + " now belongs to a file in use";
      return plan;
    }
    if (stream.encrypted) {
      plan.refusal = "it is encrypted, and its content cannot be recovered without its owner's key";
      return plan;
    }
    plan.size = stream.dataSize;
    // A compressed stream is read a compression unit at a time.
    plan.readBytes = stream.compressionUnitClusters != 0
                         ? std::uint64_t{stream.compressionUnitClusters} * drive_->ClusterBytes()
                         : stream.dataSize;
    // Linux file systems keep no settable creation time: the copy gets the
    // times of last change and access.
    plan.modified = FileTimeToTime(stream.modified ? stream.modified : file.modified);
    plan.accessed = stream.accessed ? FileTimeToTime(stream.accessed) : plan.modified;
    std::vector<std::string> notes = stream.notes;
    if (!stream.inUse && haveBitmap_) {
      const ntfs::ClustersInUse used = ntfs::StreamClustersInUse(stream, bitmap_);
      if (used.inUse > 0)
        notes.push_back(std::to_string(used.inUse) + " of its " + std::to_string(used.owned) +
                        " clusters are now in use by other files; its content is likely overwritten");
      if (used.unknown > 0)
        notes.push_back("whether " + std::to_string(used.unknown) + " of its " + std::to_string(used.owned) +
                        " clusters are now in use is not known, as $Bitmap could not be read there");
    }
    if (stream.resident) {
      const std::size_t n =
          static_cast<std::size_t>(std::min<std::uint64_t>(stream.dataSize, stream.residentBytes.size()));
      if (n > 0) {
        ContentPiece bytes;
        bytes.kind = ContentPiece::Kind::Resident;
        bytes.length = n;
        bytes.bytes.assign(stream.residentBytes.begin(), stream.residentBytes.begin() + n);
        plan.pieces.push_back(std::move(bytes));
      }
      if (stream.dataSize > n) {
        ContentPiece zeros;
        zeros.kind = ContentPiece::Kind::Zeros;
        zeros.length = stream.dataSize - n;
        plan.pieces.push_back(std::move(zeros));
      }
      plan.notes = std::move(notes);
      return plan;
    }
    ContentPiece decoded;
    decoded.kind = ContentPiece::Kind::Decoded;
    decoded.length = stream.dataSize;
    decoded.decoder = std::make_shared<StreamDecoder>(*drive_, std::move(stream), std::move(notes));
    plan.pieces.push_back(std::move(decoded));
    return plan;
  }

 private:
  EngineHost* host_;
  LOGDRIVE_INFO* drive_;
  std::unique_ptr<MftFileInfo> mft_;
  ntfs::VolumeBitmap bitmap_;
  bool haveBitmap_ = false;
};

std::unique_ptr<ContentPlanner> OpenNtfsContent(EngineHost* host, LOGDRIVE_INFO* drive) {
  std::unique_ptr<MftFileInfo> mft = ntfs::BuildMftDescriptor(host, drive);
  if (!mft) {
    LogMessage(host, kError, "Nothing was copied: the $MFT of %s cannot be read.", drive->driveName.c_str());
    return nullptr;
  }
  return std::make_unique<NtfsContentPlanner>(host, drive, std::move(mft));
}

}  // namespace

const FileSystemType kNtfsFileSystem = {
    .name = "NTFS",
    .kind = 'N',
    .probe = ProbeNtfs,
    .findBackupBootArea = FindNtfsBackup,
    .mount = MountNtfs,
    .quickScan = NtfsFileListScan,
    .indexedScan = NtfsIndexedScan,
    .openContent = OpenNtfsContent,
    .openOwners = OpenNtfsOwners,
};

}  // namespace tsn
