// One NTFS MFT record and one index block, through the decoders that take
// them apart without reading the volume: the update-sequence fixup, the
// record's classification, the attribute walk, $FILE_NAME and $DATA with
// their run lists, the attribute list, and the entries of the $INDEX_ROOT
// and of an INDX block. The input:
//
//   bytes 0-3      clusterCount the volume claims (u32), bounding the runs
//   bytes 4-1027   the MFT record (1024 bytes)
//   the rest       an index block (its length rounded down to 512 bytes)
#include <cstdint>
#include <cstring>
#include <vector>

#include "app/app_state.h"
#include "fuzz_support.h"
#include "fs/ntfs/attribute_list.h"
#include "fs/ntfs/attributes.h"
#include "fs/ntfs/data_runs.h"
#include "fs/ntfs/index_entry.h"
#include "fs/ntfs/mft_record.h"
#include "fs/logdrive_info.h"

using namespace tsn;
using namespace tsn::ntfs;

namespace {

void WalkIndexNode(Bytes node, std::size_t header) {
  const std::size_t first = header + LeU32(node, header + index::kHeaderEntries);
  const std::size_t end = header + LeU32(node, header + index::kHeaderInUse);
  std::size_t visited = 0;
  WalkIndexEntries(node, first, end, [&](const IndexEntry& e) {
    if (++visited > node.size() / index::kEntryMinimum + 1) fuzz::Fail("an index walk ran away");
    std::string name;
    std::vector<std::uint16_t> units;
    (void)e.Name(&name, &units);
    (void)e.IsFolder();
    (void)e.ParentRecord();
    (void)e.Size();
    (void)e.Namespace();
    return true;
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4 + kMftRecordSize || size > 4 + kMftRecordSize + 65536) return -1;
  AppState app;
  LOGDRIVE_INFO drive;
  drive.fsName = "NTFS";
  drive.sectorsPerCluster = 8;
  drive.clusterCount = LeU32(Bytes(data, 4), 0);

  std::vector<std::uint8_t> record(data + 4, data + 4 + kMftRecordSize);
  (void)ClassifyRecord(&app, record);
  std::vector<std::uint8_t> repaired = record;
  const int sound = FixupRecord(&app, repaired, kFixupStride, kFixupRepair);
  if (!sound && repaired != record) fuzz::Fail("a failed fixup changed the buffer");
  (void)IsValidMftRecord(&app, repaired, kFixupStride);

  const Bytes r(repaired.data(), repaired.size());
  std::size_t attributes = 0;
  WalkAttributes(r, [&](const Attribute& a) {
    if (++attributes > kMftRecordSize / attr::kResidentHeader) fuzz::Fail("an attribute walk ran away");
    if (a.offset + a.bytes.size() > r.size()) fuzz::Fail("an attribute outside its record");
    (void)a.NameUnits();
    (void)a.NameIs(u"$I30");
    const Bytes v = a.Value();
    if (!v.empty() && (v.data() < a.bytes.data() || v.data() + v.size() > a.bytes.data() + a.bytes.size()))
      fuzz::Fail("a value outside its attribute");
    if (a.type == kAttrIndexRoot && !a.nonResident) WalkIndexNode(v, index::kRootHeader);
    if (a.type == kAttrAttributeList && !a.nonResident) {
      bool damaged = false;
      const std::vector<ListEntry> entries = ListEntriesOf(v, &damaged);
      (void)ListedRecords(entries, kAttrFileName);
    }
    if (a.nonResident) {
      std::vector<DataRun> runs;
      DecodeDataRuns(drive, a.bytes, runs);
      for (const DataRun& run : runs)
        if (!IsValidRun(run, drive.clusterCount)) fuzz::Fail("a run off the volume was kept");
      SortRunsByVcn(runs);
      (void)RunAt(runs, 0);
      (void)RunAt(runs, VcnEnd(runs) - 1);
    }
    return true;
  });
  FileNameInfo names;
  (void)ParseRecordAttributes(&app, drive, r, &names);
  DataInfo dataInfo;
  (void)ParseRecordAttributes(&app, drive, r, &dataInfo);
  (void)HasAttributeList(&app, r);
  // A non-resident list would be read from the volume; there is none here,
  // so only its runs are taken.
  (void)AttributeListRuns(&app, drive, r);

  const std::size_t blockBytes = (size - 4 - kMftRecordSize) / 512 * 512;
  if (blockBytes > 0) {
    std::vector<std::uint8_t> block(data + 4 + kMftRecordSize, data + 4 + kMftRecordSize + blockBytes);
    FixupRecord(&app, block, kFixupStride, kFixupRepair);
    WalkIndexNode(Bytes(block.data(), block.size()), index::kBlockHeader);
  }
  return 0;
}
