#include "core/engine_host.h"
#include "fs/ntfs/mft_descriptor.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <unordered_set>

#include "fs/ntfs/attribute_list.h"
#include "fs/ntfs/attributes.h"
#include "fs/ntfs/data_runs.h"
#include "fs/ntfs/mft_record.h"
#include "fs/logdrive_info.h"
#include "source/read_sectors.h"

namespace tsn::ntfs {

namespace {

// Far beyond any real $MFT; a list that names more is damage.
constexpr int kMaxExtensionRecords = 4096;
constexpr std::size_t kMaxMftRuns = 65536;

// A size field of the boot sector: clusters, or 2^-n bytes when negative.
std::uint64_t BootSizeField(const LOGDRIVE_INFO& drive, std::size_t field) {
  const auto v = static_cast<std::int8_t>(LeU8(drive.Boot(), field));
  if (v < 0) return -v < 32 ? std::uint64_t{1} << -v : 0;
  return static_cast<std::uint64_t>(v) * drive.ClusterBytes();
}

// Whole strides of the update sequence, and no more than any volume uses.
bool IsSaneRecordSize(std::uint64_t size) {
  return size >= kFixupStride && size <= kMaxRecordBytes && (size & (size - 1)) == 0;
}

// Takes the unnamed $DATA attributes of one record of the $MFT.
void TakeDataExtents(const LOGDRIVE_INFO& drive, Bytes record, MftFileInfo* mft,
                     std::vector<DataRun>& runs, bool* sizeSet, bool* refused) {
  WalkAttributes(record, [&](const Attribute& a) {
    if (a.type != kAttrData || a.IsNamed() || !a.nonResident) return true;
    if (a.LowestVcn() == 0) {
      mft->size = a.DataSize();
      *sizeSet = true;
    }
    if (DecodeDataRuns(drive, a.bytes, runs).refused) *refused = true;
    return true;
  });
}

// Runs in VCN order; a run whose VCNs or clusters another run already
// claims is left out, so that no record is found twice or in two places.
int DropOverlaps(std::vector<DataRun>& runs) {
  SortRunsByVcn(runs);
  std::vector<DataRun> kept;
  int dropped = 0;
  for (const DataRun& r : runs) {
    bool clash = !kept.empty() && r.startVcn < kept.back().startVcn + kept.back().length;
    for (const DataRun& k : kept)
      if (!clash && r.lcn >= 0 && k.lcn >= 0 && r.lcn < k.lcn + k.length && k.lcn < r.lcn + r.length)
        clash = true;
    if (clash) ++dropped;
    else kept.push_back(r);
  }
  runs = std::move(kept);
  return dropped;
}

// Builds the description from one copy of record 0; null when it gives no runs.
std::unique_ptr<MftFileInfo> DescribeFrom(EngineHost* app, LOGDRIVE_INFO* drive, Bytes record0,
                                          const char* copy) {
  auto mft = std::make_unique<MftFileInfo>();
  std::vector<DataRun> runs;
  bool sizeSet = false, refused = false, listDamaged = false;
  bool hasList = false;
  std::vector<UnreadablePart> unreadable;
  const bool whole = WalkAttributes(record0, [&](const Attribute& a) {
    if (a.type == kAttrAttributeList) hasList = true;
    if (a.type == kAttrFileName && !a.nonResident) {
      FileNameInfo names;
      if (ReadFileNameAttribute(&names, a)) {
        mft->SetName(names.name);
        mft->SetDosName(names.dosName);
        mft->parentRecord = names.parentRecord;
      }
    }
    return true;
  });
  TakeDataExtents(*drive, record0, mft.get(), runs, &sizeSet, &refused);
  if (hasList) {
    // A fragmented $MFT keeps its later extents in extension records, which
    // are found through the runs known so far (the first extent maps them).
    const std::vector<ListEntry> entries = ReadAttributeList(app, *drive, record0, &listDamaged, &unreadable);
    std::vector<std::uint8_t> extension(RecordBytes(*drive));
    int taken = 0;
    for (const std::uint64_t listed : ListedRecords(entries, kAttrData)) {
      if (listed == 0) continue;
      if (++taken > kMaxExtensionRecords || runs.size() > kMaxMftRuns) {
        listDamaged = true;
        break;
      }
      MftFileInfo sofar;
      std::vector<DataRun> sorted = runs;
      SortRunsByVcn(sorted);
      sofar.runs = std::make_shared<const std::vector<DataRun>>(std::move(sorted));
      std::vector<UnreadablePart> bad;
      if (!ReadListedRecord(app, *drive, sofar, 0, listed, extension, &bad)) {
        if (bad.empty()) listDamaged = true;
        unreadable.insert(unreadable.end(), bad.begin(), bad.end());
        continue;
      }
      TakeDataExtents(*drive, Bytes(extension.data(), extension.size()), mft.get(), runs, &sizeSet,
                      &refused);
    }
  }
  if (!whole || refused || listDamaged)
    LogMessage(app, kError, "%s the %s of the $MFT's record 0 is damaged (%s); what could be read of it is used.",
               drive->driveName.c_str(), copy,
               !whole ? "an attribute runs past the record"
                      : refused ? "a data run lies outside the volume" : "its attribute list is unreadable");
  if (!unreadable.empty())
    LogMessage(app, kError, "%s the attribute list of the %s of the $MFT's record 0, or a record it names, could "
               "not be read (%s); the extents of the $MFT kept there are missing, and the records "
               "in them cannot be found.",
               drive->driveName.c_str(), copy, UnreadableText(*drive, unreadable).c_str());
  if (runs.empty()) return nullptr;
  if (const int dropped = DropOverlaps(runs))
    LogMessage(app, kError, "On %s, %d of the $MFT's data runs claim clusters or records that another run "
               "already holds; they are left out.",
               drive->driveName.c_str(), dropped);
  if (!sizeSet) mft->size = static_cast<std::uint64_t>(VcnEnd(runs)) * drive->ClusterBytes();
  mft->runCount = static_cast<std::uint32_t>(runs.size());
  mft->runs = std::make_shared<const std::vector<DataRun>>(std::move(runs));
  mft->flags = kFlagInUse;
  mft->recordNumber = kMftRecord;
  return mft;
}

// Reads one copy of record 0; false, with *why, when it cannot be used.
bool ReadRecord0(EngineHost* app, LOGDRIVE_INFO* drive, std::uint64_t cluster,
                 std::vector<std::uint8_t>& buffer, std::string* why) {
  if (cluster >= drive->clusterCount) {
    *why = "it is not a file record";
    return false;
  }
  const std::uint64_t at = cluster * drive->ClusterBytes();
  ReadBytes(app, drive->volume.get(), at, buffer);
  if (drive->volume && !drive->volume->UnreadableIn(at, buffer.size()).empty()) {
    std::vector<UnreadablePart> parts;
    for (const UnreadableRange& r : drive->volume->UnreadableIn(at, buffer.size()))
      parts.push_back({r.first - at, r});
    *why = "it could not be read: " + UnreadableText(*drive, parts);
    return false;
  }
  switch (ClassifyRecord(app, buffer)) {
    case RecordKind::Valid:
      FixupRecord(app, buffer, kFixupStride, kFixupRepair);
      return true;
    case RecordKind::Empty: *why = "it reads as zeros"; break;
    case RecordKind::Torn: *why = "its update sequence does not check"; break;
    case RecordKind::NotARecord: *why = "it is not a file record"; break;
    case RecordKind::Unreadable: *why = "it could not be read"; break;
  }
  return false;
}

}  // namespace

std::uint64_t BootRecordSize(const LOGDRIVE_INFO& drive) {
  return BootSizeField(drive, bootfield::kClustersPerRecord);
}

std::uint64_t BootIndexBlockSize(const LOGDRIVE_INFO& drive) {
  return BootSizeField(drive, bootfield::kClustersPerIndexBlock);
}

bool TakeRecordSizes(EngineHost* app, LOGDRIVE_INFO* drive) {
  const std::uint64_t recordSize = BootRecordSize(*drive);
  if (!IsSaneRecordSize(recordSize)) {
    LogMessage(app, kError, "%s its boot sector gives MFT records of %" PRIu64
               " bytes; records are a power of two from 512 to %" PRIu64
               " bytes, so the volume cannot be read.",
               drive->driveName.c_str(), recordSize, kMaxRecordBytes);
    return false;
  }
  drive->mftRecordBytes = static_cast<std::uint32_t>(recordSize);
  // Every folder's index root states its own block size too; the boot
  // sector's is only what a folder without a sound root is read with.
  const std::uint64_t blockSize = BootIndexBlockSize(*drive);
  if (IsSaneRecordSize(blockSize)) {
    drive->indexBlockBytes = static_cast<std::uint32_t>(blockSize);
  } else {
    drive->indexBlockBytes = 0;
    LogMessage(app, kError, "%s its boot sector gives index blocks of %" PRIu64
               " bytes, which no volume has; each folder's blocks are read at the size its own "
               "index states.",
               drive->driveName.c_str(), blockSize);
  }
  return true;
}

std::unique_ptr<MftFileInfo> BuildMftDescriptor(EngineHost* app, LOGDRIVE_INFO* drive) {
  // The sizes are taken once, when the volume is first measured.
  if (drive->mftRecordBytes == 0 && !TakeRecordSizes(app, drive)) return nullptr;
  const Bytes boot = drive->Boot();
  const std::uint64_t mftCluster = LeU64(boot, bootfield::kMftCluster);
  const std::uint64_t mirrorCluster = LeU64(boot, bootfield::kMftMirrorCluster);
  std::vector<std::uint8_t> buffer(RecordBytes(*drive));
  std::string why = "it holds no data runs";
  std::unique_ptr<MftFileInfo> mft;
  if (ReadRecord0(app, drive, mftCluster, buffer, &why))
    mft = DescribeFrom(app, drive, Bytes(buffer.data(), buffer.size()), "primary copy");
  if (!mft) {
    LogMessage(app, kError, "%s record 0 of the $MFT at cluster %" PRIu64
               " cannot be used (%s); its copy in $MFTMirr at cluster %" PRIu64 " is tried.",
               drive->driveName.c_str(), mftCluster, why.c_str(), mirrorCluster);
    std::string mirrorWhy = "it holds no data runs";
    if (ReadRecord0(app, drive, mirrorCluster, buffer, &mirrorWhy))
      mft = DescribeFrom(app, drive, Bytes(buffer.data(), buffer.size()), "mirror copy");
    if (!mft) {
      LogMessage(app, kError, "%s the copy of record 0 in $MFTMirr cannot be used either (%s); without the "
                 "$MFT's runs no record can be found, so the volume cannot be scanned.",
                 drive->driveName.c_str(), mirrorWhy.c_str());
      return nullptr;
    }
  }
  // The count of records is bounded by what the runs map and by the volume:
  // a damaged size must not send the scans through records that are not there.
  mft->recordCount = mft->size / RecordBytes(*drive);
  const std::uint64_t mapped =
      static_cast<std::uint64_t>(VcnEnd(*mft->runs)) * drive->ClusterBytes() / RecordBytes(*drive);
  const std::uint64_t onVolume = drive->clusterCount * drive->ClusterBytes() / RecordBytes(*drive);
  const std::uint64_t bound = std::min(mapped, onVolume);
  if (mft->recordCount > bound) {
    LogMessage(app, kError, "%s the $MFT claims %" PRIu64 " records, but its runs and the volume hold only %" PRIu64
               "; the records beyond are not read.",
               drive->driveName.c_str(), mft->recordCount, bound);
    mft->recordCount = bound;
  }
  return mft;
}

}  // namespace tsn::ntfs
