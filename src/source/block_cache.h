#pragma once
// A cache of decoded blocks in front of a compressed image. An E01 answers
// every read by inflating the chunks it touches, and the indexed scan comes
// back to the same stretch of the MFT once for each entry of a folder's
// index, each time through a small read-ahead window: without the cache the
// same chunks are inflated over and over. A raw image needs none of this;
// the page cache serves it.
#include <cstdint>
#include <list>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "source/byte_source.h"

namespace tsn {

class BlockCachedSource final : public ByteSource {
 public:
  // Blocks of `blockBytes`, at most `budgetBytes` of them held.
  BlockCachedSource(std::shared_ptr<ByteSource> inner, std::size_t blockBytes, std::size_t budgetBytes);

  std::size_t ReadSome(std::uint64_t offset, std::span<std::uint8_t> out, int* error) override;
  std::uint64_t Size() const override { return inner_->Size(); }
  std::uint32_t SectorSize() const override { return inner_->SectorSize(); }
  const std::string& Path() const override { return inner_->Path(); }
  std::vector<std::string> Files() const override { return inner_->Files(); }
  std::string Format() const override { return inner_->Format(); }

 private:
  struct Block {
    std::uint64_t index = 0;
    std::vector<std::uint8_t> bytes;
  };
  // The block, read whole; null when it cannot be, so that the caller asks
  // the source itself and hears exactly which byte failed.
  const Block* Fetch(std::uint64_t index);

  std::shared_ptr<ByteSource> inner_;
  std::size_t blockBytes_;
  std::size_t maxBlocks_;
  std::list<Block> blocks_;  // the most recently used first
  std::unordered_map<std::uint64_t, std::list<Block>::iterator> byIndex_;
};

}  // namespace tsn
