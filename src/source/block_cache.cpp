#include "source/block_cache.h"

#include <algorithm>
#include <cstring>
#include <system_error>

namespace tsn {

namespace {

// A read this many blocks past the last of a run still continues it: the
// indexed scan skips the records of other folders' entries as it goes.
constexpr std::uint64_t kRunGap = 8;
// Runs followed at once: the indexed scan reads index blocks in one place
// and the records they name in another.
constexpr std::size_t kMaxRuns = 4;
// How far ahead of a run blocks are asked for: a few at first, twice as
// many each time it goes on, never more than this. Further ahead, the
// workers would only fill the cache with blocks it drops again before the
// scan gets there.
constexpr std::uint64_t kMaxAhead = 64;
// Stored blocks waiting for a worker; asks past this are the oldest, from
// runs the scan has left.
constexpr std::size_t kMaxQueued = 2 * kMaxAhead;

}  // namespace

BlockCachedSource::BlockCachedSource(std::shared_ptr<ByteSource> inner, std::size_t blockBytes,
                                     std::size_t budgetBytes, unsigned aheadThreads)
    : inner_(std::move(inner)),
      stored_(dynamic_cast<StoredBlockSource*>(inner_.get())),
      blockBytes_(blockBytes),
      maxBlocks_(std::max<std::size_t>(1, budgetBytes / blockBytes)),
      aheadThreads_(stored_ != nullptr ? aheadThreads : 0) {}

BlockCachedSource::~BlockCachedSource() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wanted_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

std::size_t BlockCachedSource::BlockLength(std::uint64_t index) const {
  const std::uint64_t start = index * blockBytes_;
  const std::uint64_t size = inner_->Size();
  return start >= size ? 0 : static_cast<std::size_t>(std::min<std::uint64_t>(blockBytes_, size - start));
}

bool BlockCachedSource::ReadBlock(std::uint64_t index, Block& block) {
  const std::size_t length = BlockLength(index);
  if (length == 0) return false;
  block.index = index;
  block.bytes.resize(length);
  int error = 0;
  std::size_t got = 0;
  while (got < length) {
    const std::size_t n = inner_->ReadSome(index * blockBytes_ + got, std::span(block.bytes).subspan(got), &error);
    if (n == 0) break;
    got += n;
  }
  return got == length;
}

void BlockCachedSource::Keep(Block block) {
  if (byIndex_.contains(block.index)) return;
  while (blocks_.size() >= maxBlocks_) {
    byIndex_.erase(blocks_.back().index);
    // Its buffer is kept for the next block read rather than freed and
    // made (and zeroed) again.
    if (spare_.size() <= aheadThreads_) spare_.push_back(std::move(blocks_.back().bytes));
    blocks_.pop_back();
  }
  blocks_.push_front(std::move(block));
  byIndex_[blocks_.front().index] = blocks_.begin();
}

std::vector<std::uint8_t> BlockCachedSource::Spare() {
  if (spare_.empty()) return {};
  std::vector<std::uint8_t> bytes = std::move(spare_.back());
  spare_.pop_back();
  return bytes;
}

bool BlockCachedSource::CopyOut(std::uint64_t index, std::size_t within, std::span<std::uint8_t> out,
                                std::size_t* n) {
  const auto it = byIndex_.find(index);
  if (it == byIndex_.end()) return false;
  blocks_.splice(blocks_.begin(), blocks_, it->second);
  const std::vector<std::uint8_t>& bytes = it->second->bytes;
  *n = std::min(out.size(), bytes.size() - within);
  std::memcpy(out.data(), bytes.data() + within, *n);
  return true;
}

std::vector<std::uint64_t> BlockCachedSource::NoteRead(std::uint64_t first, std::uint64_t last) {
  std::vector<std::uint64_t> wanted;
  if (aheadThreads_ == 0) return wanted;
  ++reads_;
  Run* run = nullptr;
  for (Run& r : runs_) {
    if (first == r.last && last == r.last) return wanted;
    if (first >= r.last && first <= r.last + kRunGap) run = &r;
  }
  const std::uint64_t blocks = (inner_->Size() + blockBytes_ - 1) / blockBytes_;
  std::uint64_t from = first + 1, end = last + 1;
  if (run == nullptr) {
    // Somewhere new: a run may start here, in place of the one left longest.
    if (runs_.size() < kMaxRuns) {
      runs_.emplace_back();
      run = &runs_.back();
    } else {
      run = &*std::min_element(runs_.begin(), runs_.end(), [](const Run& a, const Run& b) { return a.used < b.used; });
    }
    *run = Run{last, end, 0, reads_};
  } else {
    run->last = last;
    run->used = reads_;
    run->length = std::min(run->length + 1, 8u);
    const std::uint64_t ahead = std::min<std::uint64_t>(kMaxAhead, std::uint64_t{2} << run->length);
    from = std::max(run->askedTo, from);
    end = std::min(last + 1 + ahead, blocks);
    run->askedTo = std::max(run->askedTo, end);
  }
  for (std::uint64_t i = from; i < end; ++i)
    if (!byIndex_.contains(i) && !inFlight_.contains(i)) wanted.push_back(i);
  return wanted;
}

void BlockCachedSource::Ask(std::unique_lock<std::mutex>& lock, const std::vector<std::uint64_t>& indices) {
  if (indices.empty()) return;
  lock.unlock();
  std::vector<Job> jobs;
  for (const std::uint64_t index : indices) {
    Job job{index, {}};
    if (stored_->ReadStored(index * blockBytes_, BlockLength(index), job.stored)) jobs.push_back(std::move(job));
  }
  lock.lock();
  if (jobs.empty()) return;
  for (Job& job : jobs) queue_.push_back(std::move(job));
  while (queue_.size() > kMaxQueued) queue_.pop_front();
  if (workers_.empty()) {
    try {
      for (unsigned i = 0; i < aheadThreads_; ++i) workers_.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
      // No more threads to be had: those that started do the work, and
      // with none the caller reads every block itself.
      aheadThreads_ = static_cast<unsigned>(workers_.size());
      if (aheadThreads_ == 0) queue_.clear();
    }
  }
  wanted_.notify_all();
}

void BlockCachedSource::Work() {
  Block block;
  std::unique_lock lock(mutex_);
  for (;;) {
    wanted_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (stopping_) return;
    Job job = std::move(queue_.front());
    queue_.pop_front();
    if (byIndex_.contains(job.index) || inFlight_.contains(job.index)) continue;
    inFlight_.insert(job.index);
    block.index = job.index;
    block.bytes = Spare();
    lock.unlock();
    block.bytes.resize(BlockLength(job.index));
    const bool decoded = stored_->Decode(job.stored, block.bytes);
    lock.lock();
    inFlight_.erase(job.index);
    if (decoded) Keep(std::move(block));
    block = Block{};
    arrived_.notify_all();
  }
}

std::size_t BlockCachedSource::ReadSome(std::uint64_t offset, std::span<std::uint8_t> out, int* error) {
  if (out.empty()) return 0;
  std::size_t done = 0;
  std::unique_lock lock(mutex_);
  Ask(lock, NoteRead(offset / blockBytes_, (offset + out.size() - 1) / blockBytes_));
  while (done < out.size()) {
    const std::uint64_t at = offset + done;
    const std::uint64_t index = at / blockBytes_;
    const auto within = static_cast<std::size_t>(at % blockBytes_);
    arrived_.wait(lock, [&] { return !inFlight_.contains(index); });
    std::size_t n = 0;
    if (CopyOut(index, within, out.subspan(done), &n)) {
      done += n;
      continue;
    }
    // A block still waiting for a worker is decoded here, from the bytes
    // already fetched.
    Job job;
    const auto queued = std::find_if(queue_.begin(), queue_.end(), [&](const Job& j) { return j.index == index; });
    const bool fetched = queued != queue_.end();
    if (fetched) {
      job = std::move(*queued);
      queue_.erase(queued);
    }
    Block block;
    block.index = index;
    block.bytes = Spare();
    lock.unlock();
    bool read = false;
    if (fetched) {
      block.bytes.resize(BlockLength(index));
      read = stored_->Decode(job.stored, block.bytes);
    }
    if (!read) read = ReadBlock(index, block);
    // Damaged, or past the end: the source itself says how far it gets.
    if (!read) return done + inner_->ReadSome(at, out.subspan(done), error);
    lock.lock();
    Keep(std::move(block));
    if (CopyOut(index, within, out.subspan(done), &n)) done += n;
  }
  return done;
}

}  // namespace tsn
