#pragma once

// A set of fingerprints (fingerprint.h, never 0) in one array, open
// addressing with linear probing, at most three quarters full: about 11
// bytes an entry, where a node-based set takes five times that.

#include <cstdint>
#include <vector>

class FingerprintSet {
 public:
  // Adds the fingerprint; false when it was there.
  bool Insert(std::uint64_t fingerprint) {
    if (4 * (size_ + 1) > 3 * slots_.size()) Grow();
    std::uint64_t& slot = slots_[SlotOf(slots_, fingerprint)];
    if (slot == fingerprint) return false;
    slot = fingerprint;
    ++size_;
    return true;
  }
  bool Contains(std::uint64_t fingerprint) const {
    return !slots_.empty() && slots_[SlotOf(slots_, fingerprint)] == fingerprint;
  }
  std::size_t size() const { return size_; }

 private:
  // The slot that holds the fingerprint, or the empty one where it would go.
  static std::size_t SlotOf(const std::vector<std::uint64_t>& slots, std::uint64_t fingerprint) {
    const std::size_t mask = slots.size() - 1;
    std::size_t at = fingerprint & mask;
    while (slots[at] != 0 && slots[at] != fingerprint) at = (at + 1) & mask;
    return at;
  }
  void Grow() {
    std::vector<std::uint64_t> larger(slots_.empty() ? 1024 : 2 * slots_.size(), 0);
    for (const std::uint64_t fingerprint : slots_) {
      if (fingerprint != 0) larger[SlotOf(larger, fingerprint)] = fingerprint;
    }
    slots_ = std::move(larger);
  }

  std::vector<std::uint64_t> slots_;  // 0 for an empty slot; a power of two long
  std::size_t size_ = 0;
};
