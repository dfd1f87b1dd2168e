#pragma once
// Log lines for damage met during a scan: the first few of each kind get a
// line of their own, the rest are counted and summed up at the end, so a
// badly damaged volume says what it passed over without flooding the log.
#include <cstdint>
#include <map>
#include <set>
#include <string>

namespace tsn {

class EngineHost;

namespace ntfs {

// The kind under which every scan tells of an MFT record it could not read,
// once per record however many times it is met.
constexpr const char* kUnreadableRecords = "MFT records that could not be read";

class DamageLog {
 public:
  explicit DamageLog(EngineHost* app, std::uint64_t linesPerKind = 5) : app_(app), limit_(linesPerKind) {}
  DamageLog(const DamageLog&) = delete;
  DamageLog& operator=(const DamageLog&) = delete;
  ~DamageLog() { Flush(); }

  // `kind` names what is counted, in the plural ("MFT records that fail
  // their update-sequence check"); it is the summary's wording.
  void Note(const char* kind, const char* format, ...) __attribute__((format(printf, 3, 4)));
  void Flush();
  // True the first time it is asked about this kind and key (a record
  // number): damage that two passes meet is told once.
  bool Once(const char* kind, std::uint64_t key) { return seen_.insert({kind, key}).second; }

 private:
  EngineHost* app_;
  std::uint64_t limit_;
  std::map<std::string, std::uint64_t> counts_;
  std::map<std::string, std::uint64_t> summed_;
  std::set<std::pair<std::string, std::uint64_t>> seen_;  // already told in a summary
};

}  // namespace ntfs
}  // namespace tsn
