#pragma once
// A cache of decoded blocks in front of a compressed image. An E01 answers
// every read by inflating the chunks it touches, and the indexed scan comes
// back to the same stretch of the MFT once for each entry of a folder's
// index, each time through a small read-ahead window: without the cache the
// same chunks are inflated over and over. A raw image needs none of this;
// the page cache serves it.
//
// Inflating is most of the work of reading an E01, and the scans read in
// runs (the quick scan streams the MFT; the indexed scan walks index blocks
// and the records they name, mostly ascending). So when reads run onward,
// the blocks that come next are fetched as they are stored (cheap: no
// inflating, through the one library handle, on the caller's thread) and
// worker threads inflate them into the cache. The caller still reads from
// one thread and never sees the workers.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "source/byte_source.h"

namespace tsn {

// A block as the container stores it, before it is decoded.
struct StoredBlock {
  std::vector<std::uint8_t> bytes;
  bool compressed = false;
  std::uint32_t checksum = 0;  // of the decoded bytes, when not compressed
};

// A source whose blocks can be fetched as stored and decoded apart: the
// fetching on the one thread that reads it, the decoding on any thread.
class StoredBlockSource : public ByteSource {
 public:
  // Block [offset, offset+length) as stored; false when it cannot be had
  // so (it is then read the ordinary way, which says what is wrong).
  virtual bool ReadStored(std::uint64_t offset, std::size_t length, StoredBlock& stored) = 0;
  // Decodes `stored` into `out`, which it must fill exactly; false when
  // its bytes fail their checksum. Safe from several threads at once.
  virtual bool Decode(const StoredBlock& stored, std::span<std::uint8_t> out) const = 0;
};

class BlockCachedSource final : public ByteSource {
 public:
  // Blocks of `blockBytes`, at most `budgetBytes` of them held. When the
  // source can hand out stored blocks, up to `aheadThreads` workers decode
  // them ahead of runs of reads.
  BlockCachedSource(std::shared_ptr<ByteSource> inner, std::size_t blockBytes, std::size_t budgetBytes,
                    unsigned aheadThreads = 0);
  ~BlockCachedSource() override;

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
  struct Job {
    std::uint64_t index = 0;
    StoredBlock stored;
  };
  // A run of reads moving onward: the last block it read and how far ahead
  // of it blocks have been asked for.
  struct Run {
    std::uint64_t last = 0;
    std::uint64_t askedTo = 0;
    unsigned length = 0;
    std::uint64_t used = 0;  // when it was last extended, to retire the oldest
  };

  std::size_t BlockLength(std::uint64_t index) const;
  // Reads block `index` whole into `block`; false when it cannot be, so
  // that the caller asks the source itself and hears exactly which byte
  // failed. A damaged block is never kept.
  bool ReadBlock(std::uint64_t index, Block& block);
  // The rest of these run with mutex_ held.
  void Keep(Block block);
  std::vector<std::uint8_t> Spare();
  bool CopyOut(std::uint64_t index, std::size_t within, std::span<std::uint8_t> out, std::size_t* n);
  // Notes a read of blocks first..last; returns the blocks, past the first,
  // it wants decoded now and, when it goes on a run, those ahead of it.
  std::vector<std::uint64_t> NoteRead(std::uint64_t first, std::uint64_t last);
  // Fetches the stored blocks (without the lock) and hands them to workers.
  void Ask(std::unique_lock<std::mutex>& lock, const std::vector<std::uint64_t>& indices);
  void Work();

  std::shared_ptr<ByteSource> inner_;
  StoredBlockSource* stored_;  // inner_, when it can hand out stored blocks
  std::size_t blockBytes_;
  std::size_t maxBlocks_;
  unsigned aheadThreads_;

  std::mutex mutex_;
  std::condition_variable wanted_;   // workers wait for blocks to decode
  std::condition_variable arrived_;  // the reader waits for a block in flight
  std::list<Block> blocks_;          // the most recently used first
  std::unordered_map<std::uint64_t, std::list<Block>::iterator> byIndex_;
  std::deque<Job> queue_;                       // nearest first
  std::unordered_set<std::uint64_t> inFlight_;  // being decoded by a worker now
  std::vector<std::vector<std::uint8_t>> spare_;  // buffers of dropped blocks
  std::vector<Run> runs_;
  std::uint64_t reads_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace tsn
