#include "fs/ntfs/ntfs_cluster_owners.h"

#include <algorithm>
#include <cinttypes>
#include <limits>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "core/engine_host.h"
#include "core/entry_records.h"
#include "fs/logdrive_info.h"
#include "fs/ntfs/attribute_list.h"
#include "fs/ntfs/attributes.h"
#include "fs/ntfs/data_runs.h"
#include "fs/ntfs/mft_descriptor.h"
#include "fs/ntfs/mft_record.h"
#include "fs/ntfs/ntfs_file_content.h"

namespace tsn {

namespace {

// The root folder's record.
constexpr std::uint64_t kRootRecord = 5;
// Records read at once in the pass: whole stretches of the $MFT rather
// than a read per record.
constexpr std::uint64_t kRecordsPerRead = 256;

class NtfsOwnerIndex : public OwnerIndex {
 public:
  NtfsOwnerIndex(EngineHost* host, LOGDRIVE_INFO* drive) : host_(host), drive_(drive) {}

  ClusterOwners Owners(const FoundFile& file) override {
    if (file.flags & (kFlagInUse | kFlagFolder)) return {};
    if (!built_) Build();
    ClusterOwners none;
    none.complete = false;
    if (!mft_) {
      none.notes = gaps_.notes;
      return none;
    }
    std::vector<ClusterExtent> extents;
    std::string why;
    if (!DeletedExtents(file, &extents, &why)) {
      none.notes.push_back(why);
      return none;
    }
    ClusterOwners out =
        OwnersFromHits(index_.Lookup(extents), [this](std::uint32_t record) { return Describe(record); });
    gaps_.Into(out);
    return out;
  }

 private:
  // The runs of the deleted file's unnamed $DATA as its record gives them
  // now; those the scan kept when the record has since gone to a file in use.
  bool DeletedExtents(const FoundFile& file, std::vector<ClusterExtent>* extents, std::string* why) {
    ntfs::FileStream stream;
    std::vector<DataRun> runs;
    if (ntfs::ReadFileStream(host_, *drive_, *mft_, file.recordNumber, file.size, &stream, why) && !stream.inUse) {
      runs = std::move(stream.runs);
    } else if (file.runs != nullptr) {
      runs.assign(file.Runs().begin(), file.Runs().end());
    } else {
      if (why->empty()) *why = "its MFT record " + std::to_string(file.recordNumber) + " now belongs to a file in use";
      return false;
    }
    for (const DataRun& r : runs)
      if (r.lcn >= 0 && r.length > 0)
        extents->push_back({static_cast<std::uint64_t>(r.lcn), static_cast<std::uint64_t>(r.length)});
    return true;
  }


  void Build() {
    built_ = true;
    mft_ = ntfs::BuildMftDescriptor(host_, drive_);
    if (!mft_ || !mft_->runs) {
      mft_.reset();
      gaps_.Note("the $MFT cannot be read");
      return;
    }
    const std::uint64_t recordBytes = ntfs::RecordBytes(*drive_);
    const std::uint64_t count = std::min<std::uint64_t>(mft_->recordCount, std::numeric_limits<std::uint32_t>::max());
    std::vector<std::uint8_t> chunk(kRecordsPerRead * recordBytes);
    std::uint64_t unreadable = 0;
    for (std::uint64_t n = 0; n < count; n += kRecordsPerRead) {
      const std::uint64_t records = std::min(kRecordsPerRead, count - n);
      const std::span<std::uint8_t> part(chunk.data(), records * recordBytes);
      std::vector<ntfs::UnreadablePart> bad;
      ntfs::ReadStreamBytes(host_, *drive_, *mft_->runs, n * recordBytes, part, &bad);
      for (std::uint64_t i = 0; i < records; ++i) {
        const std::uint64_t from = (n + i) * recordBytes;
        const bool lost = std::any_of(bad.begin(), bad.end(), [&](const ntfs::UnreadablePart& p) {
          return p.streamOffset < from + recordBytes && p.streamOffset + p.onVolume.Bytes() > from;
        });
        if (lost) {
          ++unreadable;
          continue;
        }
        TakeRecord(n + i, part.subspan(i * recordBytes, recordBytes));
      }
    }
    if (unreadable > 0)
      gaps_.Note(std::to_string(unreadable) + " MFT records could not be read, and what they hold is not known");
    index_.Finish();
  }

  // A record in use holds the clusters of its non-resident attributes, for
  // its base record when it is an extension of one.
  void TakeRecord(std::uint64_t n, std::span<std::uint8_t> record) {
    if (ntfs::ClassifyRecord(host_, record) != ntfs::RecordKind::Valid) return;
    ntfs::FixupRecord(host_, record, ntfs::kFixupStride, ntfs::kFixupRepair);
    const Bytes r(record.data(), record.size());
    if (!ntfs::RecordInUse(r)) return;
    const std::uint64_t base = ntfs::RecordBase(r);
    const auto owner = static_cast<std::uint32_t>(base != 0 ? base : n);
    ntfs::WalkAttributes(r, [&](const ntfs::Attribute& a) {
      if (!a.nonResident) return true;
      std::vector<DataRun> runs;
      ntfs::DecodeDataRuns(*drive_, a.bytes, runs);
      for (const DataRun& run : runs)
        if (run.lcn >= 0 && run.length > 0)
          index_.Add(static_cast<std::uint64_t>(run.lcn), static_cast<std::uint64_t>(run.length), owner);
      return true;
    });
  }

  struct Named {
    std::string name;
    std::uint64_t parent = kRootRecord;
  };

  // A record's name and parent, read once.
  const Named& NameOf(std::uint64_t record) {
    const auto known = names_.find(record);
    if (known != names_.end()) return known->second;
    Named named{"<MFT record " + std::to_string(record) + ">", kRootRecord};
    std::vector<std::uint8_t> buffer(ntfs::RecordBytes(*drive_));
    if (ntfs::ReadMftRecord(host_, *drive_, *mft_, buffer, record) != ntfs::kNoSector) {
      const Bytes r(buffer.data(), buffer.size());
      ntfs::FileNameInfo info;
      if (ntfs::HasAttributeList(host_, r) == 1) ntfs::ParseListedAttributes(host_, *drive_, *mft_, r, record, &info);
      else ntfs::ParseRecordAttributes(host_, *drive_, r, &info);
      if (info.HasName()) named = {info.name.empty() ? info.dosName : info.name, info.parentRecord};
    }
    return names_.emplace(record, std::move(named)).first->second;
  }

  ClusterOwner Describe(std::uint32_t record) {
    ClusterOwner owner{"/", record, 0};
    if (record == kRootRecord) return owner;
    std::vector<std::string> names;
    std::unordered_set<std::uint64_t> seen;
    std::uint64_t at = record;
    while (at != kRootRecord) {
      if (static_cast<int>(names.size()) == kMaxOwnerPathDepth || !seen.insert(at).second) {
        names.push_back("…");
        break;
      }
      const Named& named = NameOf(at);
      names.push_back(named.name);
      at = named.parent;
    }
    owner.path.clear();
    for (auto n = names.rbegin(); n != names.rend(); ++n) owner.path += "/" + *n;
    return owner;
  }

  EngineHost* host_;
  LOGDRIVE_INFO* drive_;
  bool built_ = false;
  OwnerGaps gaps_;
  std::unique_ptr<MftFileInfo> mft_;
  ClusterRangeIndex index_;
  std::unordered_map<std::uint64_t, Named> names_;
};

}  // namespace

std::unique_ptr<OwnerIndex> OpenNtfsOwners(EngineHost* host, LOGDRIVE_INFO* drive) {
  return std::make_unique<NtfsOwnerIndex>(host, drive);
}

}  // namespace tsn
