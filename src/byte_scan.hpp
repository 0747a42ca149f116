// Finds the bytes that need attention (NUL, LF, CR, " and \), 64 at a time, one bit each: by SSE2
// where the target has it, else by word arithmetic; copies the runs between them many bytes at a
// time. Whole groups are read and stored: buffers keep scan_slack bytes beyond their ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)  // platform block: SSE2 is there
#define LORVEX_BYTE_SCAN_SSE2 1
#include <emmintrin.h>
#endif

namespace lorvex::byte_scan {

constexpr std::size_t scan_slack = 64;
constexpr std::size_t group_size = 64;

namespace portable {
constexpr std::uint64_t every_byte(unsigned char value) { return 0x0101010101010101ULL * value; }

// The high bit of each zero byte of the word.
constexpr std::uint64_t zero_bytes(std::uint64_t word) {
  return ~(((word & every_byte(0x7F)) + every_byte(0x7F)) | word | every_byte(0x7F));
}

inline std::uint64_t stops_in_word(const unsigned char* at) {
  std::uint64_t word = 0;  // byte i of the text is byte i of the word, whatever the byte order
  for (int i = 7; i >= 0; --i) word = word << 8 | at[i];
  const std::uint64_t high_bits =
      zero_bytes(word) | zero_bytes(word ^ every_byte('\n')) | zero_bytes(word ^ every_byte('\r')) |
      zero_bytes(word ^ every_byte('"')) | zero_bytes(word ^ every_byte('\\'));
  // The multiplication gathers bit 8i (shifted down from 8i + 7) into bit 56 + i, with no carries
  // between the parts.
  return ((high_bits >> 7) * 0x0102040810204080ULL) >> 56;
}

inline std::uint64_t stops_in_group(const unsigned char* at) {
  std::uint64_t flags = 0;
  for (std::size_t word = 0; word < 8; ++word) flags |= stops_in_word(at + 8 * word) << (8 * word);
  return flags;
}
}  // namespace portable

#ifdef LORVEX_BYTE_SCAN_SSE2
namespace sse2 {
// Flags every byte up to CR, a tab too, which the caller passes over as plain.
inline std::uint64_t stops_in_group(const unsigned char* at) {
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
}  // namespace sse2
#endif

inline std::size_t lowest_bit(std::uint64_t flags) {
#if defined(__GNUC__)  // platform block: GCC and Clang have the instruction's builtin
  return static_cast<std::size_t>(__builtin_ctzll(flags));
#else
  // Each 6-bit window of a de Bruijn sequence differs: the top six bits of a multiple tell it.
  constexpr std::uint64_t de_bruijn = 0x03F79D71B4CB0A89ULL;
  struct windows {
    unsigned char place[64] = {};
    constexpr windows() {
      for (unsigned char bit = 0; bit < 64; ++bit) place[(de_bruijn << bit) >> 58] = bit;
    }
  };
  static constexpr windows by_window{};
  return by_window.place[((flags & (~flags + 1)) * de_bruijn) >> 58];
#endif
}

// Stores the places of the stops, in order, from end on. Four are stored for each group, so that up
// to four stops cost no branch: places past the last are overwritten by the next group's.
template <std::uint64_t (*stops_in_group)(const unsigned char*)>
std::uint16_t* list_stops(const unsigned char* text, std::size_t size, std::uint16_t* end) {
  for (std::size_t start = 0; start < size; start += group_size) {
    std::uint64_t flags = stops_in_group(text + start);
    if (size - start < group_size) flags &= (std::uint64_t{1} << (size - start)) - 1;
    do {
      for (int i = 0; i < 4; ++i) {
        // With no flag left, any place: the lowest is then the top bit.
        *end = static_cast<std::uint16_t>(start + lowest_bit(flags | std::uint64_t{1} << 63));
        end += flags != 0;
        flags &= flags - 1;
      }
    } while (flags != 0);
  }
  return end;
}

#ifdef LORVEX_BYTE_SCAN_SSE2
constexpr auto best_stops_in_group = sse2::stops_in_group;
#else
constexpr auto best_stops_in_group = portable::stops_in_group;
#endif

inline void copy_run(const unsigned char* from, const unsigned char* to, unsigned char*& out) {
  constexpr std::size_t part = scan_slack;
  const auto size = static_cast<std::size_t>(to - from);
  std::memcpy(out, from, part);  // most runs are shorter than one part
  for (std::size_t done = part; done < size; done += part) {
    std::memcpy(out + done, from + done, part);
  }
  out += size;
}

}  // namespace lorvex::byte_scan
