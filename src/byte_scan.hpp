// Finds the bytes of a text that need attention (NUL, LF, CR, " and \) and
// copies the runs between them, many bytes at a time: 64 with SSE2 where the
// target has it (the one platform block), otherwise 8 in portable word
// arithmetic. Whole blocks are read and stored, so buffers keep scan_slack
// bytes beyond their ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// LORVEX_PORTABLE_BYTE_SCAN forces the portable words, so tests can cover them anywhere.
#if !defined(LORVEX_PORTABLE_BYTE_SCAN) && (defined(__SSE2__) || defined(_M_X64))
#define LORVEX_BYTE_SCAN_SSE2 1
#include <emmintrin.h>
#if defined(_MSC_VER)
#include <intrin.h>
#endif
#endif

namespace lorvex::byte_scan {

constexpr std::size_t scan_slack = 64;

#ifdef LORVEX_BYTE_SCAN_SSE2
// ------------------------------------------------------------ SSE2 block
constexpr std::ptrdiff_t block_size = 64;

// Bit i is set when byte i of the block may be a stop: every byte up to CR
// is flagged, a tab too, which the caller passes over as plain.
inline std::uint64_t stops_in_block(const unsigned char* at) {
  std::uint64_t flags = 0;
  for (int quarter = 0; quarter < 64; quarter += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + quarter));
    // Unsigned "byte <= CR": the smaller of the two is the byte itself.
    __m128i hits = _mm_cmpeq_epi8(_mm_min_epu8(bytes, _mm_set1_epi8('\r')), bytes);
    hits = _mm_or_si128(hits, _mm_cmpeq_epi8(bytes, _mm_set1_epi8('"')));
    hits = _mm_or_si128(hits, _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\\')));
    flags |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(hits))} << quarter;
  }
  return flags;
}

constexpr std::uint64_t flags_from(std::ptrdiff_t byte) { return ~std::uint64_t{0} << byte; }

inline std::ptrdiff_t first_flagged(std::uint64_t flags) {
#if defined(_MSC_VER) && !defined(__clang__)
  unsigned long at = 0;
  _BitScanForward64(&at, flags);
  return static_cast<std::ptrdiff_t>(at);
#else
  return __builtin_ctzll(flags);
#endif
}
#else
// ------------------------------------------------------------ portable words
constexpr std::ptrdiff_t block_size = 8;

constexpr std::uint64_t every_byte(unsigned char value) { return 0x0101010101010101ULL * value; }

// The high bit of each zero byte of the word, and of no other.
constexpr std::uint64_t zero_bytes(std::uint64_t word) {
  return ~(((word & every_byte(0x7F)) + every_byte(0x7F)) | word | every_byte(0x7F));
}

// Bit 8i + 7 is set when byte i of the block is a stop.
inline std::uint64_t stops_in_block(const unsigned char* at) {
  std::uint64_t word = 0;  // byte i of the text is byte i of the word, whatever the byte order
  for (int i = 7; i >= 0; --i) word = word << 8 | at[i];
  return zero_bytes(word) | zero_bytes(word ^ every_byte('\n')) |
         zero_bytes(word ^ every_byte('\r')) | zero_bytes(word ^ every_byte('"')) |
         zero_bytes(word ^ every_byte('\\'));
}

constexpr std::uint64_t flags_from(std::ptrdiff_t byte) { return ~std::uint64_t{0} << (8 * byte); }

// The multiplication moves byte 7 - k of the constant, which holds k, to the top.
constexpr std::ptrdiff_t first_flagged(std::uint64_t flags) {
  return static_cast<std::ptrdiff_t>((((flags & (~flags + 1)) >> 7) * 0x0001020304050607ULL) >> 56);
}
#endif

// The stops of a text of up to max_text bytes, flagged in one pass and then
// found one after another.
template <std::size_t max_text>
class stop_map {
 public:
  stop_map(const unsigned char* text, std::size_t size) {
    for (std::size_t block = 0; block * block_size < size; ++block) {
      flags_[block] = stops_in_block(text + block * block_size);
    }
  }

  // The first stop in [from, limit), or limit.
  std::ptrdiff_t next(std::ptrdiff_t from, std::ptrdiff_t limit) const {
    std::ptrdiff_t block = from / block_size;
    std::uint64_t ahead = flags_[block] & flags_from(from % block_size);
    while (ahead == 0) {
      if ((block + 1) * block_size >= limit) return limit;
      ahead = flags_[++block];
    }
    const std::ptrdiff_t stop = block * block_size + first_flagged(ahead);
    return stop < limit ? stop : limit;
  }

 private:
  std::uint64_t flags_[max_text / block_size + 1];
};

// Copies [from, to) to out, scan_slack bytes at a time, and advances out past it.
inline void copy_run(const unsigned char* from, const unsigned char* to, unsigned char*& out) {
  constexpr auto part = static_cast<std::ptrdiff_t>(scan_slack);
  const std::ptrdiff_t size = to - from;
  std::memcpy(out, from, part);  // most runs are shorter than one part
  for (std::ptrdiff_t done = part; done < size; done += part) {
    std::memcpy(out + done, from + done, part);
  }
  out += size;
}

}  // namespace lorvex::byte_scan
