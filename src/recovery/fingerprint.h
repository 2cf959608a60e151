#pragma once

// 64-bit fingerprints of byte strings, for telling records apart without
// keeping their bytes: two records are taken for the same when their
// fingerprints are. Not a cryptographic hash: a file made to collide can
// make the tool pass over a record (never write one that is not there);
// two records that differ by chance collide once in 2^64.

#include <cstdint>
#include <cstring>
#include <span>

class Fingerprint {
 public:
  Fingerprint& Add(std::span<const std::uint8_t> bytes) {
    Add(static_cast<std::uint64_t>(bytes.size()));
    std::size_t at = 0;
    for (; at + 8 <= bytes.size(); at += 8) {
      std::uint64_t word = 0;
      std::memcpy(&word, bytes.data() + at, 8);
      Mix(word);
    }
    std::uint64_t rest = 0;
    for (std::size_t shift = 0; at < bytes.size(); ++at, shift += 8) rest |= std::uint64_t{bytes[at]} << shift;
    Mix(rest);
    return *this;
  }
  Fingerprint& Add(std::uint64_t value) {
    Mix(value);
    return *this;
  }
  // Never 0, which callers keep for "none".
  std::uint64_t value() const {
    std::uint64_t h = state_;
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ULL;
    h ^= h >> 33;
    return h == 0 ? 1 : h;
  }

 private:
  void Mix(std::uint64_t word) {
    word *= 0x87c37b91114253d5ULL;
    word = word << 31 | word >> 33;
    word *= 0x4cf5ad432745937fULL;
    state_ ^= word;
    state_ = (state_ << 27 | state_ >> 37) * 5 + 0x52dce729;
  }

  std::uint64_t state_ = 0x9e3779b97f4a7c15ULL;
};
