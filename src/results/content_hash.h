#pragma once
// MD5 and SHA-256 of a copy, taken from the bytes as they are written, so
// that the manifest vouches for what went to disk and not for a second read
// of it. Holes are fed as zeros, but only once a later write or the final
// size shows that the file really holds them.
#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace tsn {

class ContentHash {
 public:
  ContentHash();
  ~ContentHash();
  ContentHash(const ContentHash&) = delete;
  ContentHash& operator=(const ContentHash&) = delete;

  void Update(const std::uint8_t* data, std::size_t size);
  // A hole of `size` bytes skipped over by seeking.
  void Skip(std::uint64_t size) { pendingZeros_ += size; }
  // The file was made `size` bytes long (ftruncate): zeros up to there.
  void ExtendTo(std::uint64_t size);
  // Bytes the file holds so far: a trailing skip not yet made real does not count.
  std::uint64_t Size() const { return size_; }
  // Lower-case hex digests; the hash cannot be fed afterwards.
  void Finish(std::string* md5, std::string* sha256);

 private:
  void FeedZeros(std::uint64_t count);
  struct Contexts;
  std::unique_ptr<Contexts> contexts_;
  std::uint64_t size_ = 0;
  std::uint64_t pendingZeros_ = 0;
};

}  // namespace tsn
