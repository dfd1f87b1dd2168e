#include "core/entry_records.h"

#include <algorithm>

namespace tsn {

template <typename T>
T* ScanRecords::Blocks<T>::Take(std::size_t count, std::size_t blockSize) {
  if (count > left) {
    // What would waste much of a block gets one of its own; the open block stays open.
    if (count > blockSize / 4) return blocks.emplace_back(std::make_unique_for_overwrite<T[]>(count)).get();
    free = blocks.emplace_back(std::make_unique_for_overwrite<T[]>(blockSize)).get();
    left = blockSize;
  }
  T* at = free;
  free += count;
  left -= count;
  return at;
}

void ScanRecords::KeepName(FoundFile* file, std::string_view text) {
  char* kept = text.empty() ? nullptr : text_.Take(text.size(), 64 * 1024);
  if (kept != nullptr) std::copy(text.begin(), text.end(), kept);
  file->name = std::string_view(kept, text.size());
  file->nameLength = static_cast<std::uint32_t>(text.size());
}

void ScanRecords::KeepRuns(FoundFile* file, std::span<const DataRun> runs) {
  DataRun* kept = runs.empty() ? nullptr : runs_.Take(runs.size(), 2048);
  if (kept != nullptr) std::copy(runs.begin(), runs.end(), kept);
  file->runs = kept;
  file->runCount = static_cast<std::uint32_t>(runs.size());
}

void AppendToFolder(MftFileInfo* folder, FoundFile* file) {
  if (folder->firstFile == nullptr) folder->firstFile = file;
  else folder->lastFile->next = file;
  folder->lastFile = file;
}

FoundFile* FoundFileFromFileInfo(ScanRecords& records, const MftFileInfo& info) {
  FoundFile* f = records.NewFile();
  records.KeepName(f, info.name.empty() ? info.dosName : info.name);
  f->firstCharLost = info.firstCharLost;
  f->flags = info.flags;
  f->fatDate = info.fatDate;
  f->fatTime = info.fatTime;
  f->size = info.size;
  f->startCluster = static_cast<std::uint32_t>(info.recordNumber);
  f->exfat = info.exfat;
  return f;
}

}  // namespace tsn
