// Key texts read eight bytes at a time, for hashing and comparing short keys
// without a library call.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

// Eight bytes at p as one word, the first of them lowest.
inline uint64_t LoadWord(const char* p) {
  uint64_t word;
  std::memcpy(&word, p, 8);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  return word;
}

// The last `rest` (1 to 7) bytes of key[0, length) as one word, the first of
// them lowest, the rest zero; loads whole words where the key allows it.
inline uint64_t TailWord(const char* key, size_t length, size_t rest) {
  const char* tail = key + length - rest;
  if (length >= 8) return LoadWord(key + length - 8) >> (8 * (8 - rest));
  if constexpr (std::endian::native == std::endian::little) {
    if (rest >= 4) {
      uint32_t low;
      uint32_t high;
      std::memcpy(&low, tail, 4);
      std::memcpy(&high, tail + rest - 4, 4);
      return low | (static_cast<uint64_t>(high) << (8 * (rest - 4)));
    }
    const auto byte = [tail](size_t k) { return static_cast<uint64_t>(static_cast<unsigned char>(tail[k])); };
    return byte(0) | (byte(rest / 2) << (8 * (rest / 2))) | (byte(rest - 1) << (8 * (rest - 1)));
  }
  uint64_t word = 0;
  for (size_t k = rest; k-- > 0;) word = (word << 8) | static_cast<unsigned char>(tail[k]);
  return word;
}

// Whether a byte of the word is an ASCII letter.
inline bool HasAsciiLetter(uint64_t word) {
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  constexpr uint64_t kLow7 = kOnes * 127;
  // Folded to lower case, a letter lies strictly between 0x60 and 0x7B; bytes
  // with the high bit set fall out through ~folded.
  const uint64_t folded = word | kOnes * 0x20;
  const uint64_t low = folded & kLow7;
  return ((kOnes * (127 + 0x7B) - low) & ~folded & (low + kOnes * (127 - 0x60)) & kOnes * 128) != 0;
}
