// Finding the few bytes that need attention in runs of ordinary text, many
// bytes at a time: sixteen with SSE2 where the target has it (the one
// platform block), otherwise eight in portable word arithmetic. Either test
// may raise false alarms but never misses; a table confirms each candidate.
// Whole blocks are read and written, so every buffer handed to copy_until
// has scan_slack initialised bytes beyond its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define LORVEX_BYTE_SCAN_SSE2 1
#include <emmintrin.h>
#endif

namespace lorvex::byte_scan {

// Room that source and destination buffers keep beyond their last byte.
constexpr std::size_t scan_slack = 16;

// The bytes to stop at: every byte below `below` that the table holds, and
// the bytes first_equal and second_equal (0 for none; NUL is below anyway).
struct stop_set {
  bool table[256] = {};
  unsigned char below = 0;  // at most 0x80
  unsigned char first_equal = 0;
  unsigned char second_equal = 0;

  template <typename... Bytes>
  constexpr explicit stop_set(Bytes... bytes) {
    for (unsigned char b : {static_cast<unsigned char>(bytes)...}) {
      table[b] = true;
      if (b < 0x80) {
        if (b >= below && b < 0x20) {
          below = static_cast<unsigned char>(b + 1);
        } else if (b >= 0x20) {
          (first_equal == 0 ? first_equal : second_equal) = b;
        }
      }
    }
  }
};

namespace detail {

constexpr std::uint64_t every_byte(unsigned char value) {
  return 0x0101010101010101ULL * value;
}

// Byte i of the text is byte i of the value, counted from the low end, on
// every platform; compilers turn this into one load where the order allows.
inline std::uint64_t load_word(const unsigned char* at) {
  return static_cast<std::uint64_t>(at[0]) | static_cast<std::uint64_t>(at[1]) << 8 |
         static_cast<std::uint64_t>(at[2]) << 16 | static_cast<std::uint64_t>(at[3]) << 24 |
         static_cast<std::uint64_t>(at[4]) << 32 | static_cast<std::uint64_t>(at[5]) << 40 |
         static_cast<std::uint64_t>(at[6]) << 48 | static_cast<std::uint64_t>(at[7]) << 56;
}

// The high bit of every byte below limit (limit <= 0x80) is set, and perhaps
// that of a byte just above such a byte: the borrow can spill upwards.
constexpr std::uint64_t bytes_below(std::uint64_t word, unsigned char limit) {
  return (word - every_byte(limit)) & ~word & every_byte(0x80);
}

constexpr std::uint64_t bytes_equal(std::uint64_t word, unsigned char value) {
  return bytes_below(word ^ every_byte(value), 1);
}

inline std::uint64_t word_candidates(std::uint64_t word, const stop_set& stops) {
  std::uint64_t flags = bytes_below(word, stops.below);
  if (stops.first_equal != 0) flags |= bytes_equal(word, stops.first_equal);
  if (stops.second_equal != 0) flags |= bytes_equal(word, stops.second_equal);
  return flags;
}

inline constexpr unsigned char de_bruijn_position[32] = {
    0,  1,  28, 2,  29, 14, 24, 3, 30, 22, 20, 15, 25, 17, 4,  8,
    31, 27, 13, 23, 21, 19, 16, 7, 26, 12, 18, 6,  11, 5,  10, 9};

// The position of the lowest set bit of a non-zero 32-bit mask.
constexpr unsigned lowest_bit(std::uint32_t mask) {
  return de_bruijn_position[((mask & (~mask + 1)) * 0x077CB531U) >> 27];
}

// The position (0-7) of the lowest byte whose high bit is set in flags.
constexpr unsigned lowest_flagged_byte(std::uint64_t flags) {
  const std::uint64_t lowest = flags & (~flags + 1);
  // lowest is 1 << (8k + 7); the multiplication moves byte 7-k of the
  // constant, which holds k, to the top.
  return static_cast<unsigned>(((lowest >> 7) * 0x0001020304050607ULL) >> 56);
}

}  // namespace detail

// Copies [first, last) to out up to the first stop byte, and returns that
// byte's position, or last; out advances past the copy. Blocks are read and
// stored whole, so up to scan_slack - 1 bytes past last are read and as many
// past the copy in out are overwritten.
inline const unsigned char* copy_until(const unsigned char* first, const unsigned char* last,
                                       unsigned char*& out, const stop_set& stops) {
#ifdef LORVEX_BYTE_SCAN_SSE2
  // ------------------------------------------------------------ SSE2 block
  constexpr std::ptrdiff_t block_size = 16;
  const __m128i at_most = _mm_set1_epi8(static_cast<char>(stops.below - 1));
  const __m128i first_equal = _mm_set1_epi8(static_cast<char>(stops.first_equal));
  const __m128i second_equal = _mm_set1_epi8(static_cast<char>(stops.second_equal));
  for (;;) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(first));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), block);
    // Unsigned "block <= at_most": the smaller of the two is the block itself.
    const __m128i low = _mm_cmpeq_epi8(_mm_min_epu8(block, at_most), block);
    const __m128i equal = _mm_or_si128(_mm_cmpeq_epi8(block, first_equal),
                                       _mm_cmpeq_epi8(block, second_equal));
    auto candidates = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_or_si128(low, equal)));
    const std::ptrdiff_t left = last - first;
    if (left < block_size) candidates &= (std::uint32_t{1} << left) - 1;
    for (; candidates != 0; candidates &= candidates - 1) {
      const unsigned at = detail::lowest_bit(candidates);
      if (stops.table[first[at]]) {
        out += at;
        return first + at;
      }
    }
    if (left <= block_size) {
      out += left;
      return last;
    }
    first += block_size;
    out += block_size;
  }
#else
  // ------------------------------------------------------------ portable words
  constexpr std::ptrdiff_t block_size = 8;
  for (;;) {
    const std::uint64_t word = detail::load_word(first);
    std::memcpy(out, first, block_size);
    std::uint64_t candidates = detail::word_candidates(word, stops);
    const std::ptrdiff_t left = last - first;
    if (left < block_size) candidates &= (std::uint64_t{1} << (8 * left)) - 1;
    for (; candidates != 0; candidates &= candidates - 1) {
      const unsigned at = detail::lowest_flagged_byte(candidates);
      if (stops.table[first[at]]) {
        out += at;
        return first + at;
      }
    }
    if (left <= block_size) {
      out += left;
      return last;
    }
    first += block_size;
    out += block_size;
  }
#endif
}

}  // namespace lorvex::byte_scan
