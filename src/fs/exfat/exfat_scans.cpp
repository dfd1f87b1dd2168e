#include "fs/exfat/exfat_scans.h"

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>
#include <unordered_set>
#include <vector>

#include "core/engine_host.h"
#include "core/entry_records.h"
#include "fs/exfat/exfat_entry_set.h"
#include "fs/exfat/exfat_volume.h"
#include "fs/logdrive_info.h"
#include "fs/scan_support.h"
#include "source/read_sectors.h"
#include "source/volume_source.h"

namespace tsn {

namespace {

constexpr std::uint64_t kBatchBytes = 128 * 1024;
// Deeper than any real tree; a chain of folders this deep is damage.
constexpr std::size_t kMaxFolderDepth = 512;
// The format's largest folder: 256 MiB of entries.
constexpr std::uint64_t kMaxFolderBytes = 256ULL << 20;
// A set cut by the end of a cluster continues in at most this many more:
// 19 slots span three clusters of 512 bytes at the most.
constexpr int kMaxContinuationClusters = 2;

// The record a scan keeps of a set found in the folder whose first cluster
// is `folderCluster`; `deleted` is true for sets of deleted folders too,
// whose entries went with them whatever their own mark says.
MftFileInfo SetToFileInfo(const LOGDRIVE_INFO& drive, const ExFatVolume& v, const ExFatEntrySet& set, bool deleted, std::uint64_t setOffset,
                          std::uint32_t folderCluster) {
  MftFileInfo info;
  info.SetName(set.name);
  info.deletedEntry = deleted;
  if (!deleted) info.flags |= kFlagInUse;
  if (set.IsFolder()) info.flags |= kFlagFolder;
  if (info.flags == 0) info.flags = JudgeDeletedSet(drive, v, set);
  info.fatDate = set.modified.date;
  info.fatTime = set.modified.time;
  info.size = set.dataLength;
  info.recordNumber = set.firstCluster;
  info.parentRecord = folderCluster;
  info.exfat.entrySetOffset = setOffset;
  info.exfat.validDataLength = set.validDataLength;
  info.exfat.noFatChain = set.NoFatChain();
  info.exfat.checksumFailed = !set.checksumOk;
  info.exfat.modifiedTenMs = set.modified.tenMs;
  info.exfat.modifiedUtcOffset = set.modified.utcOffset;
  return info;
}

// Whether a set is to be listed: its checksum holds, or it fails while the
// name and stream are sound, which the log says.
bool Believable(EngineHost* host, const LOGDRIVE_INFO& drive, const ExFatEntrySet& set, std::uint64_t offset) {
  if (set.checksumOk) return true;
  if (!set.NameAndStreamSound()) return false;
  LogMessage(host, kAlert, "%s \"%s\" (entry set at byte %" PRIu64 "): its set checksum does not hold, but its name "
             "and stream entries are sound; it is listed.",
             drive.driveName.c_str(), set.name.c_str(), drive.volume ? drive.volume->BaseOffset() + offset : offset);
  return true;
}

// Deleted files judged "Chain is in use" while part of the bitmap could not
// be had.
void ReportJudgedWithoutBitmap(EngineHost* host, const LOGDRIVE_INFO& drive, std::uint64_t files) {
  if (files == 0) return;
  LogMessage(host, kAlert, "%s %" PRIu64 " deleted %s judged while the allocation bitmap could not be read in full; "
             "%s shown as \"Chain is in use\" where its bits were missing, since whether those clusters are free is "
             "not known.",
             drive.driveName.c_str(), files, files == 1 ? "file was" : "files were", files == 1 ? "it is" : "they are");
}

// One set found in a folder, kept until the folder has been read through.
struct FoundSet {
  ExFatEntrySet set;
  std::uint64_t offset = 0;
};

// One indexed walk, bounded as the FAT walk is: folders on the current path
// are not entered again, depth is limited, and a budget of folder clusters
// keeps folders that share clusters from multiplying the work.
class ExFatTreeWalk {
 public:
  ExFatTreeWalk(EngineHost* host, LOGDRIVE_INFO* drive, const ExFatVolume& v)
      : host_(host), drive_(drive), v_(v), clusterBudget_(std::max<std::uint64_t>(v.g.clusterCount, 1) * 4) {}

  bool Allocate() {
    try {
      cluster_.assign(v_.g.clusterBytes, 0);
      return true;
    } catch (const std::bad_alloc&) {
      LogMessage(host_, kError, "Could no allocate %" PRIu64 " bytes for cluster buffer", v_.g.clusterBytes);
      return false;
    }
  }

  // Walks one folder: its files go to `folder`, its subfolders under `node`.
  // False once the walk has been stopped.
  bool WalkFolder(std::uint32_t first, bool contiguous, std::uint64_t bytes, bool deleted, MftFileInfo* folder,
                  FolderRef node, bool isRoot) {
    const std::uint64_t maxClusters = std::max<std::uint64_t>(1, kMaxFolderBytes / v_.g.clusterBytes);
    std::uint64_t limit = maxClusters;
    if (contiguous) {
      limit = v_.g.ClustersFor(bytes);
      if (limit > maxClusters) {
        LogMessage(host_, kError, "%s claims %" PRIu64 " bytes, more than a folder can hold; only the first %" PRIu64
                   " clusters are read.", FolderText(path_, isRoot).c_str(), bytes, maxClusters);
        limit = maxClusters;
      }
    }
    std::string fault;
    const std::vector<std::uint32_t> clusters = ExFatClusters(*drive_, v_.g, first, contiguous, limit, &fault);
    if (!fault.empty()) LogMessage(host_, kError, "%s %s: %s.", drive_->driveName.c_str(), FolderText(path_, isRoot).c_str(), fault.c_str());
    std::vector<FoundSet> sets;
    if (!ReadSets(clusters, deleted, isRoot, sets)) return false;
    for (FoundSet& found : sets) {
      host_->PumpOneMessage();
      if (!host_->Busy()) return false;
      const bool setDeleted = deleted || found.set.deleted;
      MftFileInfo info = SetToFileInfo(*drive_, v_, found.set, setDeleted, found.offset, first);
      if (!(info.flags & kFlagInUse) && (info.flags & kFlagChainInUse) && !v_.bitmap.readable) ++judgedWithoutBitmap;
      if (info.flags & kFlagFolder) {
        if (!AddFolder(std::move(info), found.set, node, isRoot)) return false;
      } else {
        AddFile(info, folder, node, isRoot);
      }
    }
    return true;
  }

  // The root keeps a FAT chain of its own; a folder that leads back to it
  // is not entered.
  void WalkRoot(std::uint32_t first, MftFileInfo* rootInfo) {
    onPath_.insert(first);
    WalkFolder(first, false, 0, false, rootInfo, root, true);
    onPath_.erase(first);
  }

  std::uint64_t judgedWithoutBitmap = 0;
  FolderRef root = kNoFolder;

 private:
  // Reads a folder's clusters and decodes its sets, those cut by a cluster's
  // end included. Sets of every state are taken: a folder's live and
  // deleted entries alike.
  bool ReadSets(const std::vector<std::uint32_t>& clusters, bool inDeleted, bool isRoot, std::vector<FoundSet>& sets) {
    std::vector<std::uint8_t> window;
    std::uint64_t windowOffset = 0;  // volume offset of window[0], when it starts in one cluster
    for (std::size_t i = 0; i < clusters.size(); ++i) {
      if (clusterBudget_ == 0) {
        if (!budgetLogged_)
          LogMessage(host_, kError, "The folders of %s share so many clusters that the walk was cut short; what was "
                     "found so far is shown.", drive_->driveName.c_str());
        budgetLogged_ = true;
        return true;
      }
      --clusterBudget_;
      const std::uint32_t c = clusters[i];
      if (ReadBytes(host_, drive_->volume.get(), v_.g.ClusterOffset(c), cluster_) != 1) ReportUnreadable(c, isRoot);
      if (window.empty()) windowOffset = v_.g.ClusterOffset(c);
      window.insert(window.end(), cluster_.begin(), cluster_.end());
      std::size_t at = 0;
      bool carry = false;
      while (at + kExFatSlotSize <= window.size()) {
        host_->PumpOneMessage();
        if (!host_->Busy()) return false;
        const std::uint8_t type = window[at];
        if (type == kExFatEndOfFolder) return true;
        if (type != kExFatFile && type != kExFatDeletedFile) {
          at += kExFatSlotSize;
          continue;
        }
        const Bytes rest(window.data() + at, window.size() - at);
        const ExFatEntrySet set = ParseEntrySet(rest, type == kExFatDeletedFile);
        if (set.status == ExFatEntrySet::Status::Incomplete && i + 1 < clusters.size()) {
          carry = true;
          break;
        }
        const std::uint64_t offset = windowOffset + at;
        if (set.status == ExFatEntrySet::Status::Sound) {
          if (Believable(host_, *drive_, set, offset)) {
            sets.push_back({set, offset});
            at += set.slots * kExFatSlotSize;
            continue;
          }
        } else if (!set.deleted && !inDeleted) {
          // A live set that does not hang together is damage; deleted ones
          // are often half overwritten, and say nothing by failing.
          LogMessage(host_, kError, "%s the entry set at byte %" PRIu64 " of %s is damaged (%s); it is skipped.",
                     drive_->driveName.c_str(), drive_->volume ? drive_->volume->BaseOffset() + offset : offset,
                     FolderText(path_, isRoot).c_str(),
                     set.status == ExFatEntrySet::Status::Incomplete ? "it runs past the folder's end" : set.fault.c_str());
        }
        at += kExFatSlotSize;
      }
      if (carry) {
        window.erase(window.begin(), window.begin() + static_cast<std::ptrdiff_t>(at));
        windowOffset += at;
      } else {
        window.clear();
      }
    }
    return true;
  }

  void AddFile(const MftFileInfo& info, MftFileInfo* folder, FolderRef node, bool isRoot) {
    FoundFile* file = FoundFileFromFileInfo(host_->Records(), info);
    AppendToFolder(folder, file);
    ++drive_->foundFiles;
    drive_->foundBytes += file->size;
    ShowFoundCounters(host_, drive_);
    if (!(info.flags & kFlagInUse) && !isRoot) host_->MarkDeletedUpward(node);
  }

  bool AddFolder(MftFileInfo&& info, const ExFatEntrySet& set, FolderRef parent, bool parentIsRoot) {
    if (parentIsRoot) {
      host_->ExpandFolder(root);
      host_->ShowFolderFilesSoFar(root);
    }
    MftFileInfo* folder = host_->Records().Keep(std::move(info));
    const FolderRef node = host_->InsertFolderNode(folder, parent, InsertPosition::Sorted);
    ++drive_->foundDirs;
    ShowFoundCounters(host_, drive_);
    const bool deleted = !(folder->flags & kFlagInUse);
    if (deleted && !parentIsRoot) host_->MarkDeletedUpward(node);
    const std::uint32_t start = set.firstCluster;
    if (!v_.g.InHeap(start)) {
      if (start != 0 || set.dataLength != 0)
        LogMessage(host_, kError, "Folder \"%s\" starts at cluster %u, outside the cluster heap; it is not walked.",
                   folder->Label().c_str(), start);
      return true;
    }
    if (onPath_.count(start) != 0) {
      LogMessage(host_, kError, "Folder \"%s\" starts at cluster %u, which belongs to a folder it lies in; "
                 "it is not walked again.", folder->Label().c_str(), start);
      return true;
    }
    if (onPath_.size() >= kMaxFolderDepth) {
      LogMessage(host_, kError, "Folder \"%s\" lies more than %zu folders deep; what is below it is not walked.",
                 folder->Label().c_str(), kMaxFolderDepth);
      return true;
    }
    // A deleted folder's chain went with it: its clusters are taken as one
    // run, which they are exactly when it had no chain to lose.
    const bool contiguous = set.NoFatChain() || deleted;
    onPath_.insert(start);
    path_.push_back(folder->Label());
    const bool goOn = WalkFolder(start, contiguous, set.dataLength, deleted, folder, node, false);
    path_.pop_back();
    onPath_.erase(start);
    return goOn;
  }

  void ReportUnreadable(std::uint32_t cluster, bool isRoot) {
    const VolumeSource* v = drive_->volume.get();
    if (v == nullptr) return;
    const std::vector<UnreadableRange> bad = v->UnreadableIn(v_.g.ClusterOffset(cluster), v_.g.clusterBytes);
    if (bad.empty()) return;
    const std::string where = UnreadableWhere(*v, bad);
    LogMessage(host_, kError, "%s cluster %u of %s could not be read (%s of %s); the entries that stood there are "
               "missing.", drive_->driveName.c_str(), cluster, FolderText(path_, isRoot).c_str(), where.c_str(),
               v->Path().c_str());
  }

  EngineHost* host_;
  LOGDRIVE_INFO* drive_;
  const ExFatVolume& v_;
  std::vector<std::uint8_t> cluster_;
  std::uint64_t clusterBudget_;
  bool budgetLogged_ = false;
  std::unordered_set<std::uint32_t> onPath_;
  std::vector<std::string> path_;
};

// The clusters on the image: a boot sector claiming more than the image
// holds would otherwise read nothing for hours.
std::uint64_t HeapEnd(const LOGDRIVE_INFO& drive, const ExFatGeometry& g) {
  const std::uint64_t heapEnd = std::uint64_t{g.clusterCount} + 2;
  const std::uint64_t size = drive.volume ? drive.volume->Size() : 0;
  const std::uint64_t heapStart = g.heapOffset * g.bytesPerSector;
  if (size <= heapStart) return 2;
  return std::min(heapEnd, 2 + (size - heapStart) / g.clusterBytes);
}

void ReportShortExFatVolume(EngineHost* host, const LOGDRIVE_INFO& drive, const ExFatGeometry& g) {
  const std::uint64_t size = drive.volume ? drive.volume->Size() : 0;
  const std::uint64_t claimed = g.volumeSectors * g.bytesPerSector;
  if (claimed <= size) return;
  LogMessage(host, kError, "%s: its boot sector claims %" PRIu64 " bytes, but %s holds only %" PRIu64 "; what lies "
             "beyond cannot be read.", drive.driveName.c_str(), claimed, drive.sourceDescription.c_str(), size);
}

}  // namespace

std::uint32_t JudgeDeletedSet(const LOGDRIVE_INFO& drive, const ExFatVolume& v, const ExFatEntrySet& set) {
  const std::uint64_t heapBytes = std::uint64_t{v.g.clusterCount} * v.g.clusterBytes;
  // An empty deleted file has nothing to bring back, as on FAT.
  if (set.dataLength == 0 || set.dataLength > heapBytes || set.validDataLength > set.dataLength) return kFlagBadSize;
  if (!v.g.InHeap(set.firstCluster)) return kFlagBadCluster;
  const std::uint64_t needed = v.g.ClustersFor(set.dataLength);
  if (set.firstCluster + needed > std::uint64_t{v.g.clusterCount} + 2) return kFlagBadSize;
  if (!v.bitmap.found || v.bitmap.bits.empty()) return kFlagChainInUse;
  DeletedExtent how;
  for (const std::uint32_t c : DeletedFileClusters(drive, v, set.firstCluster, set.dataLength, set.NoFatChain(), &how))
    if (v.bitmap.Taken(c)) return kFlagChainInUse;
  return 0;
}

int ExFatQuickScan(EngineHost* host, LOGDRIVE_INFO* drive) {
  ProgressClock clock;
  const ExFatGeometry g = ExFatGeometryOf(*drive);
  clock.blocksTotal = g.clusterCount / 1000;
  host->StartProgress(&clock);
  std::vector<std::uint8_t> batch, next;
  try {
    next.assign(g.clusterBytes, 0);
  } catch (const std::bad_alloc&) {
    LogMessage(host, kError, "Could no allocate %" PRIu64 " bytes for cluster buffer", g.clusterBytes);
    return 0;
  }
  const FolderRef root = StartFoundTree(host, drive);
  MftFileInfo* rootInfo = host->FolderRecordOf(root);
  LogMessage(host, kAlert, "Beginning file system scan.");
  if (LoadExFatFat(host, drive, g) == 0) return 0;
  const ExFatVolume v = OpenExFatVolume(host, drive);
  ReportShortExFatVolume(host, *drive, g);
  const std::uint64_t end = HeapEnd(*drive, g);
  UnreadableClusterRuns unreadable(
      host, *drive, [&g](std::uint32_t cluster) { return g.ClusterOffset(cluster); }, g.clusterBytes);
  std::uint64_t judgedWithoutBitmap = 0;
  const std::uint64_t batchClusters = std::max<std::uint64_t>(1, kBatchBytes / g.clusterBytes);
  std::uint64_t batchFirst = 0, batchCount = 0;
  bool batchWhole = true;
  std::vector<std::uint8_t> joined;
  char text[64];
  host->SetBusy(true);
  std::uint64_t c = 2;
  while (c < end) {
    const auto cluster = static_cast<std::uint32_t>(c);
    if (c >= batchFirst + batchCount) {
      batchFirst = c;
      batchCount = std::min(batchClusters, end - c);
      batch.resize(batchCount * g.clusterBytes);
      batchWhole = ReadBytes(host, drive->volume.get(), g.ClusterOffset(cluster), batch) == 1;
    }
    if (!batchWhole) unreadable.Check(cluster);
    const std::span<const std::uint8_t> data(batch.data() + (c - batchFirst) * g.clusterBytes, g.clusterBytes);
    ShowScanCluster(host, clock, c);
    host->PumpOneMessage();
    for (std::size_t at = 0; at + kExFatSlotSize <= data.size(); at += kExFatSlotSize) {
      if (data[at] != kExFatDeletedFile) continue;  // the common case, first
      ExFatEntrySet set = ParseEntrySet(data.subspan(at), true);
      if (set.status == ExFatEntrySet::Status::Incomplete) {
        // Cut by the cluster's end: the folder goes on in the cluster its
        // FAT entry names, or in the next one when it keeps no chain.
        joined.assign(data.begin() + static_cast<std::ptrdiff_t>(at), data.end());
        std::uint32_t from = cluster;
        for (int k = 0; k < kMaxContinuationClusters && set.status == ExFatEntrySet::Status::Incomplete; ++k) {
          const std::uint32_t raw = from < drive->fatTable.size() ? drive->fatTable[from] : kExFatEndOfChain;
          const std::uint64_t following = raw == 0 ? std::uint64_t{from} + 1 : raw;
          if (raw == kExFatEndOfChain || !g.InHeap(following)) break;
          from = static_cast<std::uint32_t>(following);
          ReadBytes(host, drive->volume.get(), g.ClusterOffset(from), next);
          joined.insert(joined.end(), next.begin(), next.end());
          set = ParseEntrySet(joined, true);
        }
      }
      if (set.status != ExFatEntrySet::Status::Sound || set.IsFolder()) continue;
      const std::uint64_t offset = g.ClusterOffset(cluster) + at;
      host->PumpOneMessage();
      if (!Believable(host, *drive, set, offset)) continue;
      at += (set.slots - 1) * kExFatSlotSize;
      if (rootInfo == nullptr) continue;
      const MftFileInfo info = SetToFileInfo(*drive, v, set, true, offset, 0);
      if ((info.flags & kFlagChainInUse) && !v.bitmap.readable) ++judgedWithoutBitmap;
      AppendToFolder(rootInfo, FoundFileFromFileInfo(host->Records(), info));
      ++drive->foundFiles;
      std::snprintf(text, sizeof text, "FILES: %" PRIu64, drive->foundFiles);
      host->ShowStatus(StatusField::Files, text);
    }
    if (!host->Busy()) break;
    ++c;
  }
  unreadable.Finish();
  ReportJudgedWithoutBitmap(host, *drive, judgedWithoutBitmap);
  drive->fatTable = {};
  EndClusterScan(host, root, c >= end);
  return 1;
}

int ExFatIndexedScan(EngineHost* host, LOGDRIVE_INFO* drive) {
  ProgressClock clock;
  clock.blocksTotal = drive->clusterCount - std::min(drive->freeUnits, drive->clusterCount);
  host->StartProgress(&clock);
  const ExFatGeometry g = ExFatGeometryOf(*drive);
  if (LoadExFatFat(host, drive, g) == 0) return 0;
  const ExFatVolume v = OpenExFatVolume(host, drive);
  ExFatTreeWalk walk(host, drive, v);
  if (!walk.Allocate()) {
    drive->fatTable = {};
    return 0;
  }
  walk.root = StartFoundTree(host, drive);
  MftFileInfo* rootInfo = host->FolderRecordOf(walk.root);
  if (rootInfo == nullptr) {
    drive->fatTable = {};
    return 0;
  }
  LogMessage(host, kAlert, "Beginning file system scan.");
  ReportShortExFatVolume(host, *drive, g);
  host->SetBusy(true);
  walk.WalkRoot(g.rootCluster, rootInfo);
  ShowFoundCounters(host, drive);
  host->ShowFolderFiles(walk.root);
  ReportJudgedWithoutBitmap(host, *drive, walk.judgedWithoutBitmap);
  drive->fatTable = {};
  LogMessage(host, kAlert, "File system scan complete.");
  host->SetBusy(false);
  return 1;
}

}  // namespace tsn
