// Finding the few bytes that need attention in runs of ordinary text, many
// bytes at a time: sixty-four with SSE2 where the target has it (the one
// platform block), otherwise eight in portable word arithmetic. Whole blocks
// are read and written, so every buffer handed to copy_until keeps
// scan_slack initialised bytes beyond its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// LORVEX_PORTABLE_BYTE_SCAN forces the portable words, so tests can cover them anywhere.
#if !defined(LORVEX_PORTABLE_BYTE_SCAN) && \
    (defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2))
#define LORVEX_BYTE_SCAN_SSE2 1
#include <emmintrin.h>
#if defined(_MSC_VER)
#include <intrin.h>
#endif
#endif

// The block tests are small but many; a compiler that weighs their four
// registers' worth of code may leave them as calls inside the hot loops.
#if defined(__GNUC__)
#define LORVEX_SCAN_INLINE inline __attribute__((always_inline))
#elif defined(_MSC_VER)
#define LORVEX_SCAN_INLINE __forceinline
#else
#define LORVEX_SCAN_INLINE inline
#endif

namespace lorvex::byte_scan {

// Room that source and destination buffers keep beyond their last byte: one
// block, the most that a whole-block read or store passes the end by.
constexpr std::size_t scan_slack = 64;

// The bytes to stop at, arranged for testing a block at once: several
// control bytes share one range test (every byte below `below`), any other
// byte gets an equality test of its own (two at most). When the range takes
// in bytes that are not stops (a tab, say), a table confirms each candidate.
struct stop_set {
  bool table[256] = {};
  unsigned char below = 0;
  unsigned char equal[2] = {0, 0};
  int equal_count = 0;
  bool exact = true;  // the block tests flag stop bytes only

  template <typename... Bytes>
  constexpr explicit stop_set(Bytes... bytes) {
    const unsigned char list[] = {static_cast<unsigned char>(bytes)...};
    int controls = 0;
    for (unsigned char b : list) {
      table[b] = true;
      if (b < 0x20) ++controls;
    }
    for (unsigned char b : list) {
      if (b < 0x20 && controls > 1) {
        if (b >= below) below = static_cast<unsigned char>(b + 1);
      } else {
        if (equal_count == 2) throw "a stop_set takes at most two bytes outside its range";
        equal[equal_count++] = b;
      }
    }
    for (int b = 0; b < below; ++b) exact = exact && table[b];
  }
};

namespace detail {

#ifdef LORVEX_BYTE_SCAN_SSE2
// ------------------------------------------------------------ SSE2 block
// A block is four SSE2 registers: one test of 64 bytes passes over most of a
// line of text at once, and a line seldom spreads over more than two blocks.
constexpr std::ptrdiff_t block_size = 64;
using block_mask = std::uint64_t;

inline __m128i load(const unsigned char* at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

inline void copy_block(const unsigned char* from, unsigned char* to) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(to), load(from));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 16), load(from + 16));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 32), load(from + 32));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 48), load(from + 48));
}

// Bit i is set when byte i of the 16 bytes may be a stop.
template <const stop_set& stops>
LORVEX_SCAN_INLINE block_mask candidates_of_quarter(__m128i quarter) {
  __m128i hits = _mm_setzero_si128();
  if constexpr (stops.below > 0) {
    // Unsigned "byte <= below - 1": the smaller of the two is the byte itself.
    const __m128i at_most = _mm_set1_epi8(static_cast<char>(stops.below - 1));
    hits = _mm_cmpeq_epi8(_mm_min_epu8(quarter, at_most), quarter);
  }
  if constexpr (stops.equal_count > 0) {
    hits = _mm_or_si128(hits,
                        _mm_cmpeq_epi8(quarter, _mm_set1_epi8(static_cast<char>(stops.equal[0]))));
  }
  if constexpr (stops.equal_count > 1) {
    hits = _mm_or_si128(hits,
                        _mm_cmpeq_epi8(quarter, _mm_set1_epi8(static_cast<char>(stops.equal[1]))));
  }
  return static_cast<block_mask>(_mm_movemask_epi8(hits));
}

// Bit i is set when byte i of the block may be a stop.
template <const stop_set& stops>
LORVEX_SCAN_INLINE block_mask candidates(const unsigned char* at) {
  return candidates_of_quarter<stops>(load(at)) |
         candidates_of_quarter<stops>(load(at + 16)) << 16 |
         candidates_of_quarter<stops>(load(at + 32)) << 32 |
         candidates_of_quarter<stops>(load(at + 48)) << 48;
}

// The position of the lowest set bit of a non-zero mask: one instruction
// where the compiler offers it, a de Bruijn lookup on a 32-bit half elsewhere.
inline unsigned lowest_candidate(block_mask mask) {
#if defined(_MSC_VER) && defined(_M_X64)
  unsigned long at = 0;
  _BitScanForward64(&at, mask);
  return static_cast<unsigned>(at);
#elif defined(__GNUC__)
  return static_cast<unsigned>(__builtin_ctzll(mask));
#else
  static constexpr unsigned char de_bruijn_position[32] = {
      0,  1,  28, 2,  29, 14, 24, 3, 30, 22, 20, 15, 25, 17, 4,  8,
      31, 27, 13, 23, 21, 19, 16, 7, 26, 12, 18, 6,  11, 5,  10, 9};
  const auto low = static_cast<std::uint32_t>(mask);
  const unsigned base = low != 0 ? 0 : 32;
  const auto half = low != 0 ? low : static_cast<std::uint32_t>(mask >> 32);
  return base + de_bruijn_position[((half & (~half + 1)) * 0x077CB531U) >> 27];
#endif
}

constexpr block_mask first_bytes(std::ptrdiff_t count) {
  return count == block_size ? ~block_mask{0} : (block_mask{1} << count) - 1;
}
#else
// ------------------------------------------------------------ portable words
constexpr std::ptrdiff_t block_size = 8;
using block_mask = std::uint64_t;

inline void copy_block(const unsigned char* from, unsigned char* to) {
  std::memcpy(to, from, block_size);
}

constexpr std::uint64_t every_byte(unsigned char value) { return 0x0101010101010101ULL * value; }

// The high bit of every byte below limit (limit <= 0x80) is set, and perhaps
// that of a byte above such a byte, where the borrow spills over; the lowest
// flag is always a true one.
constexpr std::uint64_t bytes_below(std::uint64_t word, unsigned char limit) {
  return (word - every_byte(limit)) & ~word & every_byte(0x80);
}

// The high bit of byte i is set when byte i of the block may be a stop.
template <const stop_set& stops>
block_mask candidates(const unsigned char* at) {
  // Byte i of the text is byte i of the word on every platform; compilers
  // turn this into one load where the byte order allows.
  std::uint64_t word = 0;
  for (int i = 7; i >= 0; --i) word = word << 8 | at[i];
  std::uint64_t hits = 0;
  if constexpr (stops.below > 0) hits = bytes_below(word, stops.below);
  if constexpr (stops.equal_count > 0) hits |= bytes_below(word ^ every_byte(stops.equal[0]), 1);
  if constexpr (stops.equal_count > 1) hits |= bytes_below(word ^ every_byte(stops.equal[1]), 1);
  return hits;
}

// The flag of byte k is bit 8k + 7; the multiplication moves byte 7 - k of
// the constant, which holds k, to the top.
constexpr unsigned lowest_candidate(block_mask mask) {
  return static_cast<unsigned>((((mask & (~mask + 1)) >> 7) * 0x0001020304050607ULL) >> 56);
}

constexpr block_mask first_bytes(std::ptrdiff_t count) {
  return count == block_size ? ~block_mask{0} : (block_mask{1} << (8 * count)) - 1;
}
#endif

}  // namespace detail

// For a caller that walks blocks itself: a block is block_bytes bytes long,
// and its mask has a flag for every byte that may be a stop.
using detail::block_mask;
constexpr std::ptrdiff_t block_bytes = detail::block_size;

// Copies the block at from to to, and flags the bytes in it that may be stops.
// The lowest flag always marks a byte of the range or an equality test; when
// stops.exact is false it may be a byte that stops.table does not hold.
template <const stop_set& stops>
LORVEX_SCAN_INLINE block_mask copy_block_and_flag(const unsigned char* from, unsigned char* to) {
  detail::copy_block(from, to);
  return detail::candidates<stops>(from);
}

// Copies the block at from to to, unexamined.
LORVEX_SCAN_INLINE void copy_unexamined(const unsigned char* from, unsigned char* to) {
  detail::copy_block(from, to);
}

// The flags of the first count bytes of a block (count <= block_bytes).
constexpr block_mask flags_of_first(std::ptrdiff_t count) { return detail::first_bytes(count); }

// The position in its block of the lowest flag of a non-zero mask.
inline unsigned first_flagged(block_mask mask) { return detail::lowest_candidate(mask); }

// Copies [first, last) to out up to the first stop byte, and returns that
// byte's position, or last; out advances past the copy. Blocks are read and
// stored whole, so up to scan_slack - 1 bytes past last are read and as many
// past the copy in out are overwritten.
template <const stop_set& stops>
const unsigned char* copy_until(const unsigned char* first, const unsigned char* last,
                                unsigned char*& out) {
  using namespace detail;
  // Position of the first stop among the candidates of one block, or -1.
  const auto first_stop = [](const unsigned char* block, block_mask hits) -> int {
    for (; hits != 0; hits &= hits - 1) {
      const unsigned at = lowest_candidate(hits);
      if (stops.exact || stops.table[block[at]]) return static_cast<int>(at);
    }
    return -1;
  };
  std::ptrdiff_t left = last - first;
  for (; left > block_size; left -= block_size, first += block_size, out += block_size) {
    copy_block(first, out);
    const block_mask hits = candidates<stops>(first);
    if (hits != 0) {
      const int at = first_stop(first, hits);
      if (at >= 0) {
        out += at;
        return first + at;
      }
    }
  }
  // The last block, 0 to block_size bytes: what lies past last is not looked at.
  copy_block(first, out);
  const int at = first_stop(first, candidates<stops>(first) & first_bytes(left));
  const std::ptrdiff_t kept = at >= 0 ? at : left;
  out += kept;
  return first + kept;
}

}  // namespace lorvex::byte_scan
