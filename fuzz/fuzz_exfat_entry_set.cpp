// exFAT folder bytes as both scans meet them: a set decoded from every slot
// in both states, with the promises a decoded set keeps checked. The input
// is the slots themselves.
#include <cstdint>

#include "fs/exfat/exfat_entry_set.h"
#include "fuzz_support.h"

using namespace tsn;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (64u << 10)) return -1;
  const Bytes in(data, size);
  for (std::size_t at = 0; at + kExFatSlotSize <= size; at += kExFatSlotSize) {
    for (const bool deleted : {false, true}) {
      const ExFatEntrySet set = ParseEntrySet(in.subspan(at), deleted);
      if (set.status == ExFatEntrySet::Status::NotASet) continue;
      if (set.slots < 1 || set.slots > 256) fuzz::Fail("a set of an impossible number of slots");
      if (set.status != ExFatEntrySet::Status::Sound) continue;
      if (set.slots > kExFatMaxSetSlots || at + set.slots * kExFatSlotSize > size)
        fuzz::Fail("a sound set reaching past its slots");
      if (set.name.empty() || set.name.size() > 255 * 3) fuzz::Fail("a name of an impossible length");
      (void)set.NameAndStreamSound();
      (void)ExFatStampToTime(set.modified);
    }
  }
  return 0;
}
