#pragma once
// The record a copy leaves beside the files it wrote, for an examiner to
// show what was taken from where and to check it later:
//   tessilon-manifest.csv  one row per file chosen (RFC 4180): the copy's
//                          path below the destination, its size, MD5 and
//                          SHA-256, "complete", "incomplete" or "not
//                          copied", where on the volume it came from, and
//                          the source (files, container, media size,
//                          volume offset) and the time of the copy;
//   SHA256SUMS, MD5SUMS    in the form sha256sum and md5sum read, so that
//                          `sha256sum -c SHA256SUMS` in the destination
//                          checks every copy kept.
// The hashes are of the bytes as they were written, zeros standing for what
// could not be read. A name already taken gets " (2)" as copies do.
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace tsn {

class CopyDestination;
class EngineHost;
struct FoundFile;
struct LOGDRIVE_INFO;

class CopyManifest {
 public:
  enum class State { NotCopied, Incomplete, Complete };
  struct Entry {
    std::string sourcePath;  // as the tree shows it: "/folder/name"
    std::string locatorKind;  // "mft_record" or "first_cluster"
    std::uint64_t locator = 0;
    State state = State::NotCopied;
    std::string copy;  // below the destination; empty when nothing was kept
    std::uint64_t size = 0;
    std::string md5, sha256;
    std::string note;  // why it is not a full copy, or what to know of it
  };

  explicit CopyManifest(const LOGDRIVE_INFO& drive);

  Entry& Add(const std::vector<std::string>& folders, const FoundFile& file);
  const std::deque<Entry>& Entries() const { return entries_; }

  // Writes the three files into the destination's top folder, their names
  // as saved into *saved; false, with the reason, when one could not be
  // written (what was made of it removed).
  bool Write(CopyDestination& destination, std::vector<std::string>* saved, std::string* why) const;

  // The texts of the files, for what writes them.
  std::string Csv() const;
  std::string SumsFile(bool sha256) const;

 private:
  std::deque<Entry> entries_;
  std::string sourceFiles_, format_, copiedAt_;
  std::uint64_t mediaSize_ = 0, volumeOffset_ = 0;
};

// A field of a CSV row, quoted as RFC 4180 asks when it must be.
std::string CsvField(const std::string& text);
// Unix seconds as "2024-05-01T12:00:00Z".
std::string IsoUtc(std::int64_t seconds);
// The same, appended: a listing writes two for each of a million entries.
void AppendIsoUtc(std::string& out, std::int64_t seconds);

}  // namespace tsn
