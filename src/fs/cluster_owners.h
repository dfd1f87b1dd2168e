#pragma once
// Which live files hold the clusters a deleted file once had. A file judged
// "Chain is in use" has lost some of its clusters to other files; this names
// them and counts what is still free. The answer comes from an index of the
// live files' clusters, built once per volume the first time it is asked
// for and kept for the questions after it, so scans never pay for it.
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tsn {

struct FoundFile;

// A run of clusters, counted as the volume counts them (FAT and exFAT from
// 2, NTFS from 0).
struct ClusterExtent {
  std::uint64_t first = 0;
  std::uint64_t count = 0;
};

struct ClusterOwner {
  std::string path;           // from the volume's root, "/" between names
  std::uint64_t locator = 0;  // NTFS: its MFT record; FAT and exFAT: its first cluster
  std::uint64_t clusters = 0; // how many of the deleted file's clusters it holds
};

struct ClusterOwners {
  std::uint64_t clusters = 0;  // the deleted file's clusters looked at
  std::uint64_t owned = 0;     // of them, held by some live file
  // In the order of the first of the deleted file's clusters each holds.
  std::vector<ClusterOwner> owners;
  // False: some of the volume's live files could not be read, so clusters
  // counted free may be held all the same; `notes` says what was missed.
  bool complete = true;
  std::vector<std::string> notes;

  std::uint64_t Free() const { return clusters - owned; }
  // The share of the clusters no live file holds, in tenths of a percent,
  // rounded down: 1000 only when every one is free. A file with no clusters
  // has lost none.
  std::uint32_t FreePermille() const;
  // "62.5": the share in percent with one decimal.
  std::string FreePercentText() const;
};

// What an index of live files could not read, gathered while it is built
// and handed on with every answer it gives.
struct OwnerGaps {
  bool complete = true;
  std::vector<std::string> notes;  // the first few reasons

  void Note(std::string text) {
    complete = false;
    if (notes.size() < 8) notes.push_back(std::move(text));
  }
  void Into(ClusterOwners& out) const {
    out.complete = complete;
    out.notes = notes;
  }
};

// Sorted cluster intervals of live files, each naming its owner by an index
// the file system gives. Intervals may overlap on a damaged volume (two
// files cross-linked): both owners are named then.
// At most this many folders deep is a path followed up to its root; a
// deeper one is damage, and the path starts with "…" there.
constexpr int kMaxOwnerPathDepth = 256;

class ClusterRangeIndex {
 public:
  void Add(std::uint64_t first, std::uint64_t count, std::uint32_t owner);
  // Sorts what was added; Add after this needs another Finish.
  void Finish();
  std::size_t Size() const { return ranges_.size(); }
  // Counts the clusters of the extents held by any owner, and per owner how
  // many it holds (an owner's first sighting decides its place in `order`).
  struct Hits {
    std::uint64_t clusters = 0;
    std::uint64_t owned = 0;
    std::vector<std::uint32_t> order;
    std::vector<std::uint64_t> held;  // parallel to order
  };
  Hits Lookup(const std::vector<ClusterExtent>& extents) const;

 private:
  struct Range {
    std::uint64_t first = 0;
    std::uint64_t end = 0;  // past the last cluster
    std::uint32_t owner = 0;
  };
  std::vector<Range> ranges_;
  std::vector<std::uint64_t> maxEnd_;  // the farthest end among ranges_[0..i]
};

// Turns the hits into an answer, naming each owner by `describe`.
ClusterOwners OwnersFromHits(const ClusterRangeIndex::Hits& hits,
                             const std::function<ClusterOwner(std::uint32_t owner)>& describe);

// The live entries a walk of a FAT or exFAT folder tree met, each naming
// its folder; entry 0 is the root folder.
class OwnerTree {
 public:
  explicit OwnerTree(std::uint64_t rootLocator) { nodes_.push_back({0, {}, rootLocator}); }
  std::uint32_t Add(std::uint32_t parent, std::string name, std::uint64_t locator);
  std::string PathOf(std::uint32_t id) const;
  ClusterOwner Describe(std::uint32_t id) const { return {PathOf(id), nodes_[id].locator, 0}; }

 private:
  struct Node {
    std::uint32_t parent = 0;
    std::string name;
    std::uint64_t locator = 0;
  };
  std::vector<Node> nodes_;
};

// Answers the question for one volume, building its index the first time.
class OwnerIndex {
 public:
  virtual ~OwnerIndex() = default;
  // For a deleted file, judged by its content plan's extents. An active file
  // or a folder gets an empty answer.
  virtual ClusterOwners Owners(const FoundFile& file) = 0;
};

}  // namespace tsn
