#include "fs/cluster_owners.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

namespace tsn {

std::uint32_t ClusterOwners::FreePermille() const {
  if (clusters == 0) return 1000;
  return static_cast<std::uint32_t>(Free() * 1000 / clusters);
}

std::string ClusterOwners::FreePercentText() const {
  const std::uint32_t p = FreePermille();
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u", p / 10, p % 10);
  return text;
}

void ClusterRangeIndex::Add(std::uint64_t first, std::uint64_t count, std::uint32_t owner) {
  if (count == 0) return;
  // Merged with the owner's previous run when it follows on: a file's
  // chain is mostly one run added a cluster at a time.
  if (!ranges_.empty() && ranges_.back().owner == owner && ranges_.back().end == first) {
    ranges_.back().end += count;
    return;
  }
  ranges_.push_back({first, first + count, owner});
}

void ClusterRangeIndex::Finish() {
  std::sort(ranges_.begin(), ranges_.end(), [](const Range& a, const Range& b) { return a.first < b.first; });
  maxEnd_.resize(ranges_.size());
  std::uint64_t far = 0;
  for (std::size_t i = 0; i < ranges_.size(); ++i) maxEnd_[i] = far = std::max(far, ranges_[i].end);
}

ClusterRangeIndex::Hits ClusterRangeIndex::Lookup(const std::vector<ClusterExtent>& extents) const {
  Hits hits;
  std::unordered_map<std::uint32_t, std::size_t> slot;
  struct Overlap {
    std::uint64_t first, end;
    std::uint32_t owner;
  };
  for (const ClusterExtent& e : extents) {
    const std::uint64_t a = e.first, b = e.first + e.count;
    hits.clusters += e.count;
    std::vector<Overlap> found;
    // Every range that starts before b, walking back only while some range
    // at or before it still reaches past a.
    const auto startsBefore = [](const Range& r, std::uint64_t v) { return r.first < v; };
    auto i = static_cast<std::size_t>(std::lower_bound(ranges_.begin(), ranges_.end(), b, startsBefore) -
                                      ranges_.begin());
    while (i > 0 && maxEnd_[i - 1] > a) {
      --i;
      const Range& r = ranges_[i];
      if (r.end > a) found.push_back({std::max(a, r.first), std::min(b, r.end), r.owner});
    }
    std::sort(found.begin(), found.end(), [](const Overlap& x, const Overlap& y) { return x.first < y.first; });
    std::uint64_t coveredTo = a;
    for (const Overlap& o : found) {
      if (o.end > coveredTo) {
        hits.owned += o.end - std::max(o.first, coveredTo);
        coveredTo = o.end;
      }
      const auto [it, added] = slot.emplace(o.owner, hits.order.size());
      if (added) {
        hits.order.push_back(o.owner);
        hits.held.push_back(0);
      }
      hits.held[it->second] += o.end - o.first;
    }
  }
  return hits;
}

std::uint32_t OwnerTree::Add(std::uint32_t parent, std::string name, std::uint64_t locator) {
  nodes_.push_back({parent, std::move(name), locator});
  return static_cast<std::uint32_t>(nodes_.size() - 1);
}

std::string OwnerTree::PathOf(std::uint32_t id) const {
  if (id == 0) return "/";
  std::vector<const std::string*> names;
  static const std::string kCut = "…";
  for (int depth = 0; id != 0; ++depth) {
    if (depth == kMaxOwnerPathDepth) {
      names.push_back(&kCut);
      break;
    }
    names.push_back(&nodes_[id].name);
    id = nodes_[id].parent;
  }
  std::string path;
  for (auto n = names.rbegin(); n != names.rend(); ++n) path += "/" + **n;
  return path;
}

ClusterOwners OwnersFromHits(const ClusterRangeIndex::Hits& hits,
                             const std::function<ClusterOwner(std::uint32_t owner)>& describe) {
  ClusterOwners out;
  out.clusters = hits.clusters;
  out.owned = hits.owned;
  for (std::size_t i = 0; i < hits.order.size(); ++i) {
    ClusterOwner owner = describe(hits.order[i]);
    owner.clusters = hits.held[i];
    out.owners.push_back(std::move(owner));
  }
  return out;
}

}  // namespace tsn
