#include "core/entry_records.h"

namespace tsn {

void AppendToFolder(MftFileInfo* folder, FoundFile* file) {
  if (folder->firstFile == nullptr) folder->firstFile = file;
  else folder->lastFile->next = file;
  folder->lastFile = file;
}

}  // namespace tsn
