#include "results/content_hash.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>

namespace tsn {

struct ContentHash::Contexts {
  EVP_MD_CTX* md5 = EVP_MD_CTX_new();
  EVP_MD_CTX* sha256 = EVP_MD_CTX_new();
  ~Contexts() {
    EVP_MD_CTX_free(md5);
    EVP_MD_CTX_free(sha256);
  }
};

ContentHash::ContentHash() : contexts_(std::make_unique<Contexts>()) {
  EVP_DigestInit_ex(contexts_->md5, EVP_md5(), nullptr);
  EVP_DigestInit_ex(contexts_->sha256, EVP_sha256(), nullptr);
}

ContentHash::~ContentHash() = default;

void ContentHash::Update(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return;
  FeedZeros(pendingZeros_);
  pendingZeros_ = 0;
  EVP_DigestUpdate(contexts_->md5, data, size);
  EVP_DigestUpdate(contexts_->sha256, data, size);
  size_ += size;
}

void ContentHash::ExtendTo(std::uint64_t size) {
  pendingZeros_ = 0;
  if (size > size_) FeedZeros(size - size_);
}

void ContentHash::FeedZeros(std::uint64_t count) {
  static const std::uint8_t zeros[64 * 1024] = {};
  while (count > 0) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, sizeof zeros));
    EVP_DigestUpdate(contexts_->md5, zeros, n);
    EVP_DigestUpdate(contexts_->sha256, zeros, n);
    size_ += n;
    count -= n;
  }
}

namespace {

std::string FinalHex(EVP_MD_CTX* context) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(context, digest, &length);
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    char two[3];
    std::snprintf(two, sizeof two, "%02x", digest[i]);
    hex += two;
  }
  return hex;
}

}  // namespace

void ContentHash::Finish(std::string* md5, std::string* sha256) {
  *md5 = FinalHex(contexts_->md5);
  *sha256 = FinalHex(contexts_->sha256);
}

}  // namespace tsn
