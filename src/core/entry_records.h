#pragma once
// The records of what a scan finds: one MftFileInfo per entry decoded (for a
// folder it is also the record of its found folder and holds the folder's
// file list), one FoundFile per file as the file list shows it, and the data runs
// of non-resident NTFS attributes.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tsn {

// State bits of MftFileInfo and FoundFile.
constexpr std::uint32_t kFlagInUse = 0x01;
constexpr std::uint32_t kFlagFolder = 0x02;
constexpr std::uint32_t kFlagBadSize = 0x10;
constexpr std::uint32_t kFlagBadCluster = 0x20;
constexpr std::uint32_t kFlagChainInUse = 0x40;

constexpr std::uint64_t kNoParent = ~std::uint64_t{0};

struct DataRun {
  std::int64_t startVcn = 0;
  std::int64_t lcn = 0;          // -1 for a sparse run
  std::int64_t offsetDelta = 0;  // as stored, relative to the previous run's lcn
  std::int64_t length = 0;
};

using RunList = std::shared_ptr<const std::vector<DataRun>>;
using ResidentData = std::shared_ptr<const std::vector<std::uint8_t>>;

struct FoundFile;

// What an exFAT entry set says beyond a FAT entry: where the set lies, how
// much of the file was ever written, whether its clusters are one run
// without a chain in the FAT, and the finer parts of its modified time.
struct ExFatFields {
  std::uint64_t entrySetOffset = 0;   // byte offset of the set's File entry on the volume; 0 on other volumes
  std::uint64_t validDataLength = 0;  // bytes from the start that hold data; the rest reads as zeros
  bool noFatChain = false;            // the clusters are contiguous and the FAT holds no chain for them
  bool checksumFailed = false;        // listed although its set's checksum does not hold
  std::uint8_t modifiedTenMs = 0;     // 0..199: 10-ms units past the two-second FAT time
  std::uint8_t modifiedUtcOffset = 0; // bit 7: valid; low 7 bits: signed quarter hours from UTC
};

struct MftFileInfo {
  std::string name;     // long (Win32) name, UTF-8; empty when there is none
  std::string dosName;  // DOS 8.3 name, UTF-8; empty when there is none
  std::uint32_t flags = 0;
  // The entry itself is deleted. Kept apart from the in-use bit, which the
  // tree clears on folders that merely hold deleted entries.
  bool deletedEntry = false;
  // The name is a deleted FAT entry's 8.3 name: its first character is gone,
  // and the one shown stands in for it.
  bool firstCharLost = false;
  std::uint16_t fatDate = 0;
  std::uint16_t fatTime = 0;
  std::uint32_t nameLength = 0;
  std::uint32_t dosNameLength = 0;
  std::uint32_t runCount = 0;
  std::uint64_t recordSector = 0;
  std::uint64_t size = 0;
  std::uint64_t recordNumber = 0;  // FAT: the start cluster
  std::uint64_t parentRecord = 0;  // FAT: the directory cluster
  std::uint64_t created = 0;       // file times: 100 ns since 1601, UTC
  std::uint64_t modified = 0;
  std::uint64_t recordCount = 0;
  std::uint64_t fileCount = 0;
  ExFatFields exfat;
  FoundFile* firstFile = nullptr;
  FoundFile* lastFile = nullptr;
  RunList runs;

  void SetName(std::string text) {
    name = std::move(text);
    nameLength = static_cast<std::uint32_t>(name.size());
  }
  void SetDosName(std::string text) {
    dosName = std::move(text);
    dosNameLength = static_cast<std::uint32_t>(dosName.size());
  }
  // The label a folder shows: its long name, else its DOS name.
  const std::string& Label() const { return name.empty() ? dosName : name; }
};

// Check states of a FoundFile.
constexpr std::uint32_t kCheckUntouched = 0;
constexpr std::uint32_t kCheckTicked = 1;
constexpr std::uint32_t kCheckCleared = 2;

// A million of these make the file lists of a large volume, so the name and
// the data runs live in the scan's ScanRecords and the entry only points at
// them.
struct FoundFile {
  std::string_view name;          // UTF-8, kept by ScanRecords::KeepName (or a literal)
  const DataRun* runs = nullptr;  // runCount runs, kept by ScanRecords::KeepRuns
  FoundFile* next = nullptr;
  std::uint64_t created = 0;
  std::uint64_t modified = 0;
  std::uint64_t size = 0;
  std::uint64_t recordNumber = 0;  // 0: found on a FAT volume
  std::uint64_t recordSector = 0;
  ExFatFields exfat;
  std::uint32_t nameLength = 0;
  std::uint32_t flags = 0;
  std::uint32_t checkState = kCheckUntouched;
  std::uint32_t runCount = 0;
  std::uint32_t startCluster = 0;
  std::uint16_t fatDate = 0;
  std::uint16_t fatTime = 0;
  bool firstCharLost = false;  // as MftFileInfo's

  std::span<const DataRun> Runs() const { return {runs, runCount}; }
};

// Appends file to the end of folder's file list.
void AppendToFolder(MftFileInfo* folder, FoundFile* file);

struct ScanRecords;
// Builds the FoundFile of a FAT entry's record, owned by records.
FoundFile* FoundFileFromFileInfo(ScanRecords& records, const MftFileInfo& info);

// Every record of one scan, owned in one place so that they go together
// when the next scan or drive list replaces them. Deques keep addresses
// stable while the scan grows them; names and run lists are packed into
// blocks that never move, one allocation for thousands of files.
struct ScanRecords {
  std::deque<MftFileInfo> infos;
  std::deque<FoundFile> files;
  MftFileInfo* NewInfo() { return &infos.emplace_back(); }
  MftFileInfo* Keep(MftFileInfo&& info) { return &infos.emplace_back(std::move(info)); }
  FoundFile* NewFile() { return &files.emplace_back(); }

  // Sets file's name (and nameLength) to a copy of text kept here.
  void KeepName(FoundFile* file, std::string_view text);
  // Sets file's runs (and runCount) to a copy of runs kept here.
  void KeepRuns(FoundFile* file, std::span<const DataRun> runs);

 private:
  template <typename T>
  struct Blocks {
    std::vector<std::unique_ptr<T[]>> blocks;
    T* free = nullptr;
    std::size_t left = 0;
    T* Take(std::size_t count, std::size_t blockSize);
  };
  Blocks<char> text_;
  Blocks<DataRun> runs_;
};

}  // namespace tsn
