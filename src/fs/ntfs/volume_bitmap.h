#pragma once
// The volume's allocation bitmap, read from $Bitmap (record 6) through its
// own runs, and the $Volume label (record 3).
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tsn {

class EngineHost;
struct LOGDRIVE_INFO;
struct MftFileInfo;

namespace ntfs {

// One bit per cluster, 1 = in use. Answers "is any cluster of this range in
// use" in constant time through a running count of set bits per 512
// clusters, so judging a file costs the same however long its runs are.
class VolumeBitmap {
 public:
  VolumeBitmap() = default;
  VolumeBitmap(const std::vector<std::uint8_t>& bytes, std::uint64_t clusters);

  std::uint64_t Clusters() const { return clusters_; }
  std::uint64_t ByteCount() const { return byteCount_; }
  std::uint8_t ByteAt(std::uint64_t i) const {
    return static_cast<std::uint8_t>(words_[i / 8] >> (8 * (i % 8)));
  }
  bool Allocated(std::uint64_t cluster) const;
  // Clusters at or past Clusters() are not tested.
  bool AnyAllocated(std::uint64_t first, std::uint64_t count) const;
  // How many clusters of the range are in use, as cheaply.
  std::uint64_t AllocatedIn(std::uint64_t first, std::uint64_t count) const;

  // Clusters whose state could not be read from $Bitmap. They count as in
  // use (their bits are set), so that no file in them is judged recoverable
  // and the free share does not count them, and can be told apart here.
  std::uint64_t UnknownClusters() const { return unknownClusters_; }
  std::uint64_t UnknownIn(std::uint64_t first, std::uint64_t count) const;

 private:
  friend bool ReadVolumeBitmap(EngineHost*, LOGDRIVE_INFO*, const MftFileInfo&, VolumeBitmap*);
  // Words already in host order, every bit past byteCount bytes clear.
  VolumeBitmap(std::vector<std::uint64_t> words, std::uint64_t byteCount, std::uint64_t clusters);
  std::uint64_t SetBelow(std::uint64_t cluster) const;  // set bits in [0, cluster)
  std::vector<std::uint64_t> words_;
  std::vector<std::uint64_t> rank_;  // set bits before each block of 8 words
  std::uint64_t byteCount_ = 0;
  std::uint64_t clusters_ = 0;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> unknown_;  // [first, end) of clusters, in order
  std::uint64_t unknownClusters_ = 0;
};

// Reads $Bitmap for the drive's clusterCount clusters (fewer when the bitmap
// is shorter). False, with a log line saying why, when it cannot be read.
bool ReadVolumeBitmap(EngineHost* app, LOGDRIVE_INFO* drive, const MftFileInfo& mft, VolumeBitmap* out);

// The label in $Volume's $VOLUME_NAME, UTF-8; empty when there is none.
std::string ReadVolumeLabel(EngineHost* app, LOGDRIVE_INFO* drive, const MftFileInfo& mft);

}  // namespace ntfs
}  // namespace tsn
