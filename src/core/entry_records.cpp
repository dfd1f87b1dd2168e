#include "core/entry_records.h"

namespace tsn {

void AppendToFolder(MftFileInfo* folder, FoundFile* file) {
  if (folder->firstFile == nullptr) folder->firstFile = file;
  else folder->lastFile->next = file;
  folder->lastFile = file;
}

FoundFile* FoundFileFromFileInfo(ScanRecords& records, const MftFileInfo& info) {
  FoundFile* f = records.NewFile();
  f->name = info.name.empty() ? info.dosName : info.name;
  f->nameLength = static_cast<std::uint32_t>(f->name.size());
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
