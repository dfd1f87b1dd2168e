#include "core/engine_host.h"
#include "core/trace.h"
#include "fs/ntfs/index_walk.h"

#include <algorithm>
#include <cinttypes>
#include <set>
#include <unordered_set>
#include <vector>

#include "fs/ntfs/attribute_list.h"
#include "fs/ntfs/attributes.h"
#include "fs/ntfs/damage_log.h"
#include "fs/ntfs/data_runs.h"
#include "fs/ntfs/index_entry.h"
#include "fs/ntfs/mft_record.h"
#include "fs/ntfs/record_table.h"
#include "fs/logdrive_info.h"

namespace tsn::ntfs {

namespace {

constexpr std::u16string_view kI30 = u"$I30";
constexpr std::uint32_t kDefaultBlockSize = 4096;
// A folder's $BITMAP is one bit per index block; more than this is damage.
constexpr std::uint64_t kMaxIndexBitmapBytes = 1 << 20;

bool IsSaneBlockSize(std::uint64_t size) {
  return size >= 512 && size <= 65536 && (size & (size - 1)) == 0;
}

// What the walk knows of the folder whose index it reads.
struct FolderIndex {
  std::uint64_t record = 0;
  MftFileInfo* folder = nullptr;
  FolderRef node = kNoFolder;
  std::size_t depth = 0;
  std::uint32_t blockSize = 0;            // from $INDEX_ROOT
  std::vector<std::uint8_t> bitmap;       // $BITMAP of $I30: the blocks in use
  bool bitmapKnown = false;
  std::uint64_t failedBlocks = 0;         // in use (or not known to be unused) yet unsound
  std::uint64_t unheldBlocks = 0;         // the same, in no cluster the volume holds
  std::uint64_t unreadBlocks = 0;         // in use (or not known to be unused), and unreadable
  std::set<std::pair<std::uint64_t, std::vector<std::uint16_t>>> listed;  // (record, name) met

  bool BlockInUse(std::uint64_t block) const {
    if (!bitmapKnown) return true;
    return block / 8 < bitmap.size() && ((bitmap[block / 8] >> (block % 8)) & 1) != 0;
  }
  // Blocks [from, to) in use: bounded by the bitmap's bits when it is known.
  std::uint64_t BlocksInUse(std::uint64_t from, std::uint64_t to) const {
    if (!bitmapKnown) return to - from;
    std::uint64_t n = 0;
    for (std::uint64_t b = from; b < std::min<std::uint64_t>(to, std::uint64_t{bitmap.size()} * 8); ++b)
      n += BlockInUse(b) ? 1 : 0;
    return n;
  }
};

// A folder's $INDEX_ALLOCATION, its extents joined: the index of a folder
// that outgrew its record may go on in extension records, and only the
// extent that starts at VCN 0 tells the size.
struct IndexAllocation {
  std::vector<DataRun> runs;
  std::uint64_t size = 0;
};

class IndexWalk {
 public:
  IndexWalk(EngineHost* app, LOGDRIVE_INFO* drive, const MftFileInfo& mft, DamageLog* damage,
            std::vector<std::uint64_t>* unreadIndexes, const RecordTable* table)
      : app_(app), drive_(drive), mft_(mft), damage_(damage), unreadIndexes_(unreadIndexes), table_(table),
        clusterBytes_(drive->ClusterBytes()),
        // Sound indexes never hold more bytes than can be read of the
        // volume; indexes that claim the same clusters over and over cannot
        // multiply the work.
        byteBudget_(2 * HeldClusters(*drive) * clusterBytes_ + (1 << 20)) {}

  // 1 to go on, 0 when interrupted.
  int WalkFolder(FolderIndex& f, std::span<std::uint8_t> recordBuffer);
  void MarkWalked(std::uint64_t record) { walked_.insert(record); }

 private:
  int WalkIndexAttributes(FolderIndex& f, Bytes record, std::uint32_t type, IndexAllocation* allocation);
  int BuildIndexRootAttribute(FolderIndex& f, const Attribute& a);
  void TakeIndexAllocation(FolderIndex& f, const Attribute& a, IndexAllocation* allocation);
  int BuildIndexAllocationAttribute(FolderIndex& f, IndexAllocation& allocation);
  int HandleEntries(FolderIndex& f, Bytes node, std::size_t first, std::size_t end, const char* where);
  // false to stop: interrupted.
  bool HandleEntry(FolderIndex& f, const IndexEntry& e);
  bool HandleUnreadableEntry(FolderIndex& f, const IndexEntry& e, const std::string& name,
                             const std::vector<UnreadablePart>& unreadable);
  void ListFile(FolderIndex& f, FoundFile* file);
  // A folder listed by its index entry, counted and shown; kNoFolder when not.
  FolderRef ListFolder(FolderIndex& f, const IndexEntry& e, std::int64_t sector);
  void ReadIndexBitmap(FolderIndex& f, Bytes record);
  const char* Label(const FolderIndex& f) const { return f.folder->Label().c_str(); }
  void IndexNotRead(std::uint64_t record) {
    if (unreadIndexes_ != nullptr) unreadIndexes_->push_back(record);
  }
  bool Interrupted() const { return !app_->Busy(); }

  EngineHost* app_;
  LOGDRIVE_INFO* drive_;
  const MftFileInfo& mft_;
  DamageLog* damage_;
  std::vector<std::uint64_t>* unreadIndexes_;
  const RecordTable* table_;
  std::uint64_t clusterBytes_;
  std::uint64_t byteBudget_;
  bool budgetTold_ = false;
  std::unordered_set<std::uint64_t> walked_;
};

void IndexWalk::ReadIndexBitmap(FolderIndex& f, Bytes record) {
  WalkAttributes(record, [&](const Attribute& a) {
    if (a.type != kAttrBitmap || !a.NameIs(kI30)) return true;
    if (!a.nonResident) {
      const Bytes v = a.Value();
      f.bitmap.assign(v.begin(), v.end());
      f.bitmapKnown = a.ValueFits();
      return false;
    }
    std::vector<DataRun> runs;
    DecodeDataRuns(*drive_, a.bytes, runs);
    SortRunsByVcn(runs);
    const std::uint64_t size = std::min<std::uint64_t>(a.DataSize(), kMaxIndexBitmapBytes);
    std::vector<std::uint8_t> bytes((size + kSectorSize - 1) / kSectorSize * kSectorSize);
    f.bitmapKnown = ReadStreamBytes(app_, *drive_, runs, 0, bytes) == 1;
    bytes.resize(static_cast<std::size_t>(size));
    f.bitmap = std::move(bytes);
    return false;
  });
}

int IndexWalk::WalkFolder(FolderIndex& f, std::span<std::uint8_t> recordBuffer) {
  const Bytes record(recordBuffer.data(), recordBuffer.size());
  ReadIndexBitmap(f, record);
  int goOn = 1;
  if (HasAttributeList(app_, record) == 1) {
    // The index attributes may lie in extension records; the list says where.
    bool damaged = false;
    std::vector<UnreadablePart> unreadable;
    const std::vector<ListEntry> entries = ReadAttributeList(app_, *drive_, record, &damaged, &unreadable);
    if (!unreadable.empty()) {
      damage_->Note("folders whose attribute list could not be read",
                    "Folder \"%s\" (record %" PRIu64 "): part of its attribute list could not be read "
                    "(%s); its entries are looked for in the MFT.",
                    FolderPath(app_, f.node).c_str(), f.record, UnreadableText(*drive_, unreadable).c_str());
      IndexNotRead(f.record);
    }
    if (damaged)
      damage_->Note("folders whose attribute list is damaged",
                    "Folder \"%s\" (record %" PRIu64 "): its attribute list is damaged; the index "
                    "attributes it still names are read.",
                    Label(f), f.record);
    std::vector<std::uint8_t> extension(RecordBytes(*drive_));
    IndexAllocation allocation;
    for (const std::uint32_t type : {kAttrIndexRoot, kAttrIndexAllocation}) {
      for (const std::uint64_t listed : ListedRecords(entries, type)) {
        unreadable.clear();
        if (listed == f.record) {
          goOn = WalkIndexAttributes(f, record, type, &allocation);
        } else if (ReadListedRecord(app_, *drive_, mft_, f.record, listed, extension, &unreadable)) {
          if (type == kAttrIndexRoot) ReadIndexBitmap(f, Bytes(extension.data(), extension.size()));
          goOn = WalkIndexAttributes(f, Bytes(extension.data(), extension.size()), type, &allocation);
        } else if (!unreadable.empty()) {
          if (damage_->Once(kUnreadableRecords, listed))
            damage_->Note(kUnreadableRecords,
                          "Folder \"%s\" (record %" PRIu64 "): MFT record %" PRIu64 ", which holds part of "
                          "its index, could not be read (%s); the folder's entries are looked for in the MFT.",
                          FolderPath(app_, f.node).c_str(), f.record, listed,
                          UnreadableText(*drive_, unreadable).c_str());
          IndexNotRead(f.record);
        } else {
          damage_->Note("attribute-list entries naming records of other files",
                        "Folder \"%s\" (record %" PRIu64 "): its attribute list names record %" PRIu64
                        ", which does not belong to it; that part of its index is passed over.",
                        Label(f), f.record, listed);
        }
        if (goOn == 0) return 0;
      }
    }
    if (BuildIndexAllocationAttribute(f, allocation) == 0) return 0;
  } else {
    IndexAllocation allocation;
    const bool whole = WalkAttributes(record, [&](const Attribute& a) {
      if (a.type == kAttrIndexRoot) goOn = BuildIndexRootAttribute(f, a);
      else if (a.type == kAttrIndexAllocation) TakeIndexAllocation(f, a, &allocation);
      return goOn != 0;
    });
    if (goOn == 0) return 0;
    if (!whole)
      damage_->Note("folder records whose attributes run past the record",
                    "Folder \"%s\" (record %" PRIu64 "): an attribute runs past the end of its "
                    "record; the attributes before it are read.",
                    Label(f), f.record);
    if (BuildIndexAllocationAttribute(f, allocation) == 0) return 0;
  }
  if (f.failedBlocks != 0)
    damage_->Note("folders with index blocks that fail their check",
                  "Folder \"%s\" (record %" PRIu64 "): %" PRIu64 " of its index blocks fail their "
                  "update-sequence check; the entries in them are passed over.",
                  Label(f), f.record, f.failedBlocks);
  // What the unreadable blocks held is still named by the MFT: the records
  // of the files and folders in them say this folder is their parent.
  if (f.unreadBlocks != 0) IndexNotRead(f.record);
  if (f.unheldBlocks != 0)
    damage_->Note("folders with index blocks in no cluster the volume holds",
                  "Folder \"%s\" (record %" PRIu64 "): %" PRIu64 " of its index blocks lie in no "
                  "cluster the volume holds (sparse, unmapped or past the end of its image); they "
                  "are passed over.",
                  Label(f), f.record, f.unheldBlocks);
  return 1;
}

int IndexWalk::WalkIndexAttributes(FolderIndex& f, Bytes record, std::uint32_t type,
                                   IndexAllocation* allocation) {
  int goOn = 1;
  WalkAttributes(record, [&](const Attribute& a) {
    if (a.type != type) return true;
    if (type == kAttrIndexRoot) goOn = BuildIndexRootAttribute(f, a);
    else TakeIndexAllocation(f, a, allocation);
    return goOn != 0;
  });
  return goOn;
}

int IndexWalk::BuildIndexRootAttribute(FolderIndex& f, const Attribute& a) {
  app_->SetRoutineName("BuildIndexRootAttribute");
  const Bytes value = a.Value();
  // Only the file-name index lists a folder's entries; other indexes of the
  // same record ($SDH, $O, ...) hold keys of other kinds.
  if (value.size() < index::kRootHeader + 16 || LeU32(value, index::kRootIndexedType) != kAttrFileName)
    return 1;
  const std::uint32_t blockSize = LeU32(value, index::kRootBlockSize);
  if (IsSaneBlockSize(blockSize)) f.blockSize = blockSize;
  const std::size_t first = index::kRootHeader + LeU32(value, index::kRootHeader + index::kHeaderEntries);
  const std::size_t end = index::kRootHeader + LeU32(value, index::kRootHeader + index::kHeaderInUse);
  app_->PumpOneMessage();
  if (Interrupted()) return 0;
  return HandleEntries(f, value, first, end, "index root");
}

void IndexWalk::TakeIndexAllocation(FolderIndex& f, const Attribute& a, IndexAllocation* allocation) {
  if (!a.nonResident || (a.IsNamed() && !a.NameIs(kI30))) return;
  if (a.LowestVcn() == 0) allocation->size = std::max(allocation->size, a.DataSize());
  if (DecodeDataRuns(*drive_, a.bytes, allocation->runs).refused)
    damage_->Note("folders whose index runs lie outside the volume",
                  "Folder \"%s\" (record %" PRIu64 "): a run of its index allocation lies outside "
                  "the volume; the blocks before it are read.",
                  Label(f), f.record);
}

int IndexWalk::BuildIndexAllocationAttribute(FolderIndex& f, IndexAllocation& allocation) {
  app_->SetRoutineName("BuildIndexAllocationAttribute");
  std::vector<DataRun>& runs = allocation.runs;
  if (runs.empty()) return 1;
  SortRunsByVcn(runs);
  // With no sound $INDEX_ROOT seen, the blocks are the boot sector's size.
  std::uint32_t blockSize = f.blockSize != 0 ? f.blockSize : drive_->indexBlockBytes;
  if (blockSize == 0) blockSize = kDefaultBlockSize;
  std::uint64_t mapped = 0;  // a huge sparse run may map past 2^64 bytes
  if (__builtin_mul_overflow(static_cast<std::uint64_t>(VcnEnd(runs)), clusterBytes_, &mapped))
    mapped = UINT64_MAX;
  const std::uint64_t bytes = std::min(allocation.size, mapped);
  std::vector<std::uint8_t> block(blockSize);
  const std::uint64_t blocks = bytes / blockSize;
  HeldExtents extents(*drive_, runs);
  StreamExtent held;
  for (std::uint64_t i = 0; i < blocks; ++i) {
    // A block with no cluster the volume holds reads as zeros and cannot be
    // sound: a sparse run or one past the end of a cut-short image may claim
    // millions of them. They are passed over unread and cost no budget.
    if (i * blockSize >= held.end) {
      held = extents.Next(i * blockSize);
      const std::uint64_t next = held.start == held.end ? blocks : std::min(blocks, held.start / blockSize);
      if (next > i) {
        f.unheldBlocks += f.BlocksInUse(i, next);
        i = next - 1;
        continue;
      }
    }
    if (byteBudget_ < blockSize) {
      if (!budgetTold_)
        LogMessage(app_, kError, "%s the folder indexes claim more blocks than the volume holds; the walk of "
                   "the indexes was cut short and what was found so far is shown.",
                   drive_->driveName.c_str());
      budgetTold_ = true;
      return 1;
    }
    byteBudget_ -= blockSize;
    std::vector<UnreadablePart> unreadable;
    const int read = ReadStreamBytes(app_, *drive_, runs, i * blockSize, block, &unreadable);
    if (!unreadable.empty()) {
      if (!f.BlockInUse(i)) continue;  // it held nothing the folder still lists
      ++f.unreadBlocks;
      damage_->Note("index blocks that could not be read",
                    "Folder \"%s\" (record %" PRIu64 "): index block %" PRIu64 " (bytes %" PRIu64
                    "\u2013%" PRIu64 " of its index) could not be read (%s); the entries it held are "
                    "looked for in the MFT.",
                    FolderPath(app_, f.node).c_str(), f.record, i, i * blockSize, i * blockSize + blockSize - 1,
                    UnreadableText(*drive_, unreadable).c_str());
      continue;
    }
    const bool sound = read == 1 && FixupRecord(app_, block, kFixupStride, kFixupRepair) == 1 &&
                       LeU32(Bytes(block.data(), block.size()), 0) == record::kSignatureIndx;
    if (!sound) {
      // Blocks the index does not use may never have been written.
      if (!f.BlockInUse(i)) continue;
      ++f.failedBlocks;
      const std::uint8_t* m = f.bitmap.size() >= 8 ? f.bitmap.data() : nullptr;
      TraceLine("Fixup FAILED for (%s) Rnum (%" PRIu64 ") VCN (%" PRIu64
                ") BMPSize (%zu) %02X%02X%02X%02X%02X%02X%02X%02X",
                Label(f), f.record, i * blockSize / clusterBytes_, f.bitmap.size(), m ? m[0] : 0,
                m ? m[1] : 0, m ? m[2] : 0, m ? m[3] : 0, m ? m[4] : 0, m ? m[5] : 0, m ? m[6] : 0,
                m ? m[7] : 0);
      continue;
    }
    const Bytes b(block.data(), block.size());
    const std::size_t first = index::kBlockHeader + LeU32(b, index::kBlockHeader + index::kHeaderEntries);
    const std::size_t end = index::kBlockHeader + LeU32(b, index::kBlockHeader + index::kHeaderInUse);
    if (HandleEntries(f, b, first, end, "index block") == 0) return 0;
  }
  return 1;
}

int IndexWalk::HandleEntries(FolderIndex& f, Bytes node, std::size_t first, std::size_t end,
                             const char* where) {
  bool goOn = true;
  const bool whole = WalkIndexEntries(node, first, end, [&](const IndexEntry& e) {
    goOn = HandleEntry(f, e);
    return goOn;
  });
  if (!goOn) return 0;
  if (!whole)
    damage_->Note("index nodes whose entries run past their end",
                  "Folder \"%s\" (record %" PRIu64 "): an entry of an %s runs past its end; the "
                  "entries after it are passed over.",
                  Label(f), f.record, where);
  return 1;
}

bool IndexWalk::HandleEntry(FolderIndex& f, const IndexEntry& e) {
  app_->PumpOneMessage();
  if (Interrupted()) return false;
  const std::uint64_t number = e.RecordNumber();
  if (number == kRootFolderRecord || e.IsLast()) return true;
  std::string name;
  std::vector<std::uint16_t> units;
  if (!e.Name(&name, &units)) {
    damage_->Note("index entries without a readable name",
                  "Folder \"%s\" (record %" PRIu64 "): an index entry for record %" PRIu64
                  " has no name that fits in it; it is passed over.",
                  Label(f), f.record, number);
    return true;
  }
  // The long-name entry of the same file is listed.
  if (e.Namespace() == filename::kDos) return true;
  // Blocks no longer in use keep copies of entries that moved: each name once.
  if (!f.listed.emplace(number, units).second) return true;
  const RecordTable::Verdict known = table_ != nullptr && number < mft_.recordCount
                                         ? table_->Judge(number, e.Sequence(), f.record, units)
                                         : RecordTable::Verdict::Read;
  if (known == RecordTable::Verdict::Stale) return true;  // deleted files come from the MFT passes
  // A file the table vouches for is listed without reading its record;
  // a folder's record is read, as its index starts there.
  if (known == RecordTable::Verdict::Current &&
      !(e.IsFolder() && (table_->Flags(number) & record::kFlagDirectory))) {
    FoundFile* file = FoundFileFromIndexEntry(app_, drive_, e, std::move(name), table_->Flags(number),
                                              MftRecordSector(app_, *drive_, mft_, number));
    if (file == nullptr) return true;
    std::uint64_t size = 0;
    if (table_->DataSize(number, &size)) file->size = size;
    ListFile(f, file);
    return true;
  }
  std::vector<std::uint8_t> record(RecordBytes(*drive_));
  std::int64_t sector = kNoSector;
  std::vector<UnreadablePart> unreadable;
  const EntryVerdict verdict = number < mft_.recordCount
                                   ? CheckEntryRecord(app_, *drive_, mft_, e, f.record, record, &sector, &unreadable)
                                   : EntryVerdict::Stale;
  if (verdict == EntryVerdict::Stale) return true;  // deleted files come from the MFT passes
  if (verdict == EntryVerdict::Unreadable) return HandleUnreadableEntry(f, e, name, unreadable);
  if (verdict == EntryVerdict::Unsound) {
    damage_->Note("index entries whose MFT record cannot be read",
                  "Folder \"%s\" (record %" PRIu64 "): \"%s\" names MFT record %" PRIu64
                  ", which is not a sound file record; it is passed over.",
                  Label(f), f.record, name.c_str(), number);
    return true;
  }
  const Bytes r(record.data(), record.size());
  if (e.IsFolder() && RecordIsDirectory(r)) {
    if (!walked_.insert(number).second) {
      damage_->Note("folder entries that lead back into the tree",
                    "Folder \"%s\" (record %" PRIu64 ") lists folder \"%s\" (record %" PRIu64
                    "), which has been walked already; it is not walked again.",
                    Label(f), f.record, name.c_str(), number);
      return true;
    }
    const FolderRef node = ListFolder(f, e, sector);
    if (node == kNoFolder) return true;
    MftFileInfo* child = app_->FolderRecordOf(node);
    if (f.depth + 1 >= kMaxFolderDepth) {
      damage_->Note("folders too deep to walk",
                    "Folder \"%s\" (record %" PRIu64 ") lies more than %zu folders deep; what is "
                    "below it is not walked.",
                    name.c_str(), number, kMaxFolderDepth);
      return true;
    }
    FolderIndex sub;
    sub.record = number;
    sub.folder = child;
    sub.node = node;
    sub.depth = f.depth + 1;
    return WalkFolder(sub, record) != 0;
  }
  FoundFile* file = FoundFileFromIndexEntry(app_, drive_, e, std::move(name), RecordFlags(r), sector);
  if (file == nullptr) return true;
  // The size in an index entry is only brought up to date now and then
  // (system files show 0); the record's own $DATA tells the truth.
  DataInfo data;
  if (HasAttributeList(app_, r) == 1) ParseListedAttributes(app_, *drive_, mft_, r, number, &data);
  else ParseRecordAttributes(app_, *drive_, r, &data);
  if (data.size != 0 || !data.runs.empty() || data.residentData) file->size = data.size;
  ListFile(f, file);
  return true;
}

void IndexWalk::ListFile(FolderIndex& f, FoundFile* file) {
  AppendToFolder(f.folder, file);
  ++f.folder->fileCount;
  ++drive_->foundFiles;
  drive_->foundBytes += file->size;
  app_->StepProgress();
  ShowFoundCounters(app_, drive_);
}

FolderRef IndexWalk::ListFolder(FolderIndex& f, const IndexEntry& e, std::int64_t sector) {
  MftFileInfo* child = DescriptorFromIndexEntry(app_, drive_, e);
  if (child == nullptr) return kNoFolder;
  if (sector != kNoSector) child->recordSector = static_cast<std::uint64_t>(sector);
  const FolderRef node = app_->InsertFolderNode(child, f.node, InsertPosition::Sorted);
  if (node == kNoFolder) return kNoFolder;
  ++drive_->foundDirs;
  app_->StepProgress();
  ShowFoundCounters(app_, drive_);
  return node;
}

// The entry may be stale, but that cannot be told: a folder is listed from
// its entry, so that what the MFT passes find under it lands in it; a file
// is not, as nothing of its content or state is known.
bool IndexWalk::HandleUnreadableEntry(FolderIndex& f, const IndexEntry& e, const std::string& name,
                                      const std::vector<UnreadablePart>& unreadable) {
  const std::uint64_t number = e.RecordNumber();
  if (!e.IsFolder()) {
    if (damage_->Once(kUnreadableRecords, number))
      damage_->Note(kUnreadableRecords,
                    "Folder \"%s\" (record %" PRIu64 "): MFT record %" PRIu64 " of \"%s\" could not be "
                    "read (%s); the file is not listed.",
                    FolderPath(app_, f.node).c_str(), f.record, number, name.c_str(),
                    UnreadableText(*drive_, unreadable).c_str());
    return true;
  }
  if (!walked_.insert(number).second) return true;
  const FolderRef node = ListFolder(f, e, kNoSector);
  if (node == kNoFolder) return true;
  if (damage_->Once(kUnreadableRecords, number))
    damage_->Note(kUnreadableRecords,
                  "Folder \"%s\" (record %" PRIu64 "): MFT record %" PRIu64 " could not be read (%s); "
                  "the folder is listed, and what it holds is looked for in the MFT.",
                  FolderPath(app_, node).c_str(), number, number, UnreadableText(*drive_, unreadable).c_str());
  IndexNotRead(number);
  return true;
}

}  // namespace

std::string FolderPath(const EngineHost* app, FolderRef node) {
  std::vector<std::string> names;
  // Bounded by the tree's depth; a node is never its own ancestor.
  for (FolderRef n = node; n != kNoFolder && n != app->RootFolder(); n = app->ParentFolder(n)) {
    const MftFileInfo* folder = app->FolderRecordOf(n);
    names.push_back(folder != nullptr ? folder->Label() : std::string("?"));
  }
  if (names.empty()) return "/";
  std::string path;
  for (auto it = names.rbegin(); it != names.rend(); ++it) path += "/" + *it;
  return path;
}

int WalkDirectory(EngineHost* app, LOGDRIVE_INFO* drive, const MftFileInfo& mft,
                  std::uint64_t recordNumber, FolderRef folderNode, DamageLog* damage,
                  std::vector<std::uint64_t>* unreadIndexes, const RecordTable* table) {
  MftFileInfo* folder = app->FolderRecordOf(folderNode);
  if (folder == nullptr) return 1;
  std::vector<std::uint8_t> record(RecordBytes(*drive));
  RecordKind kind = RecordKind::Valid;
  std::vector<UnreadablePart> unreadable;
  if (ReadMftRecord(app, *drive, mft, record, recordNumber, &kind, &unreadable) == kNoSector) {
    if (kind == RecordKind::Unreadable) {
      if (damage->Once(kUnreadableRecords, recordNumber))
        damage->Note(kUnreadableRecords,
                     "Folder \"%s\" (record %" PRIu64 "): MFT record %" PRIu64 " could not be read (%s); "
                     "its index cannot be read, and what it holds is looked for in the MFT.",
                     FolderPath(app, folderNode).c_str(), recordNumber, recordNumber,
                     UnreadableText(*drive, unreadable).c_str());
      if (unreadIndexes != nullptr) unreadIndexes->push_back(recordNumber);
      return 1;
    }
    LogMessage(app, kError, "%s the record of folder \"%s\" (record %" PRIu64
               ") is not a sound file record; its index cannot be read.",
               drive->driveName.c_str(), folder->Label().c_str(), recordNumber);
    return 1;
  }
  IndexWalk walk(app, drive, mft, damage, unreadIndexes, table);
  walk.MarkWalked(recordNumber);
  FolderIndex f;
  f.record = recordNumber;
  f.folder = folder;
  f.node = folderNode;
  return walk.WalkFolder(f, record);
}

}  // namespace tsn::ntfs
