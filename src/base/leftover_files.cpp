#include "base/leftover_files.h"

#include <atomic>
#include <charconv>
#include <csignal>
#include <cstring>

#include "base/system.h"

namespace {

constexpr int kSlots = 64;

struct Slot {
  // Read by the signal handler: an entry is marked in use only once its
  // path is complete.
  volatile std::sig_atomic_t inUse = 0;
  Leftover::Kind kind = Leftover::Kind::kFile;
  char path[kLongestLeftoverPath] = {};
};

Slot gSlots[kSlots];

void RemoveAll(Leftover::Kind kind) noexcept {
  for (Slot& slot : gSlots) {
    if (slot.inUse == 0 || slot.kind != kind) continue;
    if (kind == Leftover::Kind::kFile) {
      RemoveFileNow(slot.path);
    } else {
      RemoveFolderNow(slot.path);
    }
  }
}

}  // namespace

Leftover::Leftover(std::string_view path, Kind kind) {
  if (path.empty() || path.size() >= kLongestLeftoverPath) return;
  for (int index = 0; index < kSlots; ++index) {
    Slot& slot = gSlots[index];
    if (slot.inUse != 0) continue;
    std::memcpy(slot.path, path.data(), path.size());
    slot.path[path.size()] = '\0';
    slot.kind = kind;
    // The path is written before the mark, for a handler that comes between.
    std::atomic_signal_fence(std::memory_order_release);
    slot.inUse = 1;
    slot_ = index;
    return;
  }
}

Leftover& Leftover::operator=(Leftover&& other) noexcept {
  if (this != &other) {
    Release();
    slot_ = other.slot_;
    other.slot_ = -1;
  }
  return *this;
}

void Leftover::Release() {
  if (slot_ < 0) return;
  gSlots[slot_].inUse = 0;
  std::atomic_signal_fence(std::memory_order_release);
  slot_ = -1;
}

void RemoveLeftovers() noexcept {
  RemoveAll(Leftover::Kind::kFile);
  RemoveAll(Leftover::Kind::kFolder);
}

bool IsNamedLikeLeftover(std::string_view name, std::string_view prefix) {
  if (!name.starts_with(prefix)) return false;
  name.remove_prefix(prefix.size());
  long pid = 0;
  const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
  return error == std::errc() && pid > 0 && end != name.data() + name.size() && *end == '-';
}
