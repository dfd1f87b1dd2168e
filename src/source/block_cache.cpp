#include "source/block_cache.h"

#include <algorithm>
#include <cstring>

namespace tsn {

BlockCachedSource::BlockCachedSource(std::shared_ptr<ByteSource> inner, std::size_t blockBytes,
                                     std::size_t budgetBytes)
    : inner_(std::move(inner)),
      blockBytes_(blockBytes),
      maxBlocks_(std::max<std::size_t>(1, budgetBytes / blockBytes)) {}

const BlockCachedSource::Block* BlockCachedSource::Fetch(std::uint64_t index) {
  if (const auto it = byIndex_.find(index); it != byIndex_.end()) {
    blocks_.splice(blocks_.begin(), blocks_, it->second);
    return &*it->second;
  }
  const std::uint64_t start = index * blockBytes_;
  const std::uint64_t size = inner_->Size();
  if (start >= size) return nullptr;
  const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(blockBytes_, size - start));
  Block block;
  block.index = index;
  if (blocks_.size() >= maxBlocks_) {
    // The oldest block's buffer is taken over rather than freed and made again.
    block.bytes = std::move(blocks_.back().bytes);
    byIndex_.erase(blocks_.back().index);
    blocks_.pop_back();
  }
  block.bytes.resize(length);
  int error = 0;
  std::size_t got = 0;
  while (got < length) {
    const std::size_t n = inner_->ReadSome(start + got, std::span(block.bytes).subspan(got), &error);
    if (n == 0) break;
    got += n;
  }
  if (got < length) return nullptr;  // a damaged block is never kept
  blocks_.push_front(std::move(block));
  byIndex_[index] = blocks_.begin();
  return &blocks_.front();
}

std::size_t BlockCachedSource::ReadSome(std::uint64_t offset, std::span<std::uint8_t> out, int* error) {
  std::size_t done = 0;
  while (done < out.size()) {
    const std::uint64_t at = offset + done;
    const Block* block = Fetch(at / blockBytes_);
    // Damaged, or past the end: the source itself says how far it gets.
    if (block == nullptr) return done + inner_->ReadSome(at, out.subspan(done), error);
    const auto within = static_cast<std::size_t>(at % blockBytes_);
    const std::size_t n = std::min(out.size() - done, block->bytes.size() - within);
    std::memcpy(out.data() + done, block->bytes.data() + within, n);
    done += n;
  }
  return done;
}

}  // namespace tsn
