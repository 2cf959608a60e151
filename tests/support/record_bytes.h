#pragma once

// SQLite's varint as the format writes it ("Database File Format" 1.6): big-
// endian groups of 7 bits, the high bit set on every byte but the last, in
// as few bytes as the value needs (up to 2^56; the tests need no more).

#include <cstdint>
#include <string>

inline std::string Varint(std::uint64_t value) {
  std::string groups;
  do {
    groups.insert(groups.begin(), static_cast<char>(value & 0x7f));
    value >>= 7;
  } while (value != 0);
  for (std::size_t i = 0; i + 1 < groups.size(); ++i) groups[i] = static_cast<char>(groups[i] | 0x80);
  return groups;
}
