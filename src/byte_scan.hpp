// Finds the bytes of a text that need attention (NUL, LF, CR, " and \) and
// copies the runs between them, many bytes at a time: flags for 64 bytes come
// from SSE2 where the target has it, and from AVX2 where the processor has it
// too (the platform blocks), otherwise from portable word arithmetic, one bit
// per byte either way. Whole groups are read and stored, so buffers keep
// scan_slack bytes beyond their ends.
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
// LORVEX_NO_AVX2_BYTE_SCAN keeps to SSE2, so tests can cover it on any processor.
#if defined(LORVEX_BYTE_SCAN_SSE2) && defined(__x86_64__) && defined(__GNUC__) && \
    !defined(LORVEX_NO_AVX2_BYTE_SCAN)
#define LORVEX_BYTE_SCAN_AVX2 1
#include <immintrin.h>
#endif

namespace lorvex::byte_scan {

constexpr std::size_t scan_slack = 64;
// The bytes flagged at once, one bit each in a 64-bit word.
constexpr std::size_t group_size = 64;

#ifdef LORVEX_BYTE_SCAN_SSE2
// ------------------------------------------------------------ SSE2 block
// Bit i is set when byte i of the group may be a stop: every byte up to CR
// is flagged, a tab too, which the caller passes over as plain.
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

// The lowest set bit of flags, which is not 0.
inline std::size_t first_flagged(std::uint64_t flags) {
#if defined(_MSC_VER) && !defined(__clang__)
  unsigned long at = 0;
  _BitScanForward64(&at, flags);
  return at;
#else
  return static_cast<std::size_t>(__builtin_ctzll(flags));
#endif
}
#else
// ------------------------------------------------------------ portable words
constexpr std::uint64_t every_byte(unsigned char value) { return 0x0101010101010101ULL * value; }

// The high bit of each zero byte of the word, and of no other.
constexpr std::uint64_t zero_bytes(std::uint64_t word) {
  return ~(((word & every_byte(0x7F)) + every_byte(0x7F)) | word | every_byte(0x7F));
}

// Bit i is set when byte i of the eight at `at` is a stop.
inline std::uint64_t stops_in_word(const unsigned char* at) {
  std::uint64_t word = 0;  // byte i of the text is byte i of the word, whatever the byte order
  for (int i = 7; i >= 0; --i) word = word << 8 | at[i];
  const std::uint64_t high_bits =
      zero_bytes(word) | zero_bytes(word ^ every_byte('\n')) | zero_bytes(word ^ every_byte('\r')) |
      zero_bytes(word ^ every_byte('"')) | zero_bytes(word ^ every_byte('\\'));
  // The multiplication gathers bit 8i (shifted down from 8i + 7) into bit
  // 56 + i, with no carries between the parts.
  return ((high_bits >> 7) * 0x0102040810204080ULL) >> 56;
}

inline std::uint64_t stops_in_group(const unsigned char* at) {
  std::uint64_t flags = 0;
  for (std::size_t word = 0; word < 8; ++word) flags |= stops_in_word(at + 8 * word) << (8 * word);
  return flags;
}

// A de Bruijn sequence: each 6-bit window of it is different, so the top six
// bits of the lowest set bit's multiple tell that bit's place.
constexpr std::uint64_t de_bruijn = 0x03F79D71B4CB0A89ULL;
struct bit_places {
  unsigned char of[64] = {};
  constexpr bit_places() {
    for (unsigned char bit = 0; bit < 64; ++bit) of[(de_bruijn << bit) >> 58] = bit;
  }
};
constexpr bit_places places_by_window;

// The lowest set bit of flags, which is not 0.
inline std::size_t first_flagged(std::uint64_t flags) {
  return places_by_window.of[((flags & (~flags + 1)) * de_bruijn) >> 58];
}
#endif

// Stores the places of the stops in [0, size) of text from end on, in order,
// and returns the end of them. Four places are stored for each group of 64
// bytes, so that the number of stops in a group costs no branch unless it
// exceeds four: places past the last are overwritten by the next group's.
inline std::uint16_t* list_stops(const unsigned char* text, std::size_t size, std::uint16_t* end) {
  for (std::size_t start = 0; start < size; start += group_size) {
    std::uint64_t flags = stops_in_group(text + start);
    if (size - start < group_size) flags &= (std::uint64_t{1} << (size - start)) - 1;
    do {
      for (int i = 0; i < 4; ++i) {
        // With no flag left, any place: the first flag is found in the top bit.
        *end = static_cast<std::uint16_t>(start + first_flagged(flags | std::uint64_t{1} << 63));
        end += flags != 0;
        flags &= flags - 1;
      }
    } while (flags != 0);
  }
  return end;
}

#ifdef LORVEX_BYTE_SCAN_AVX2
// ------------------------------------------------------------ AVX2 block
// Chosen at run time where the processor has AVX2 and the BMI1 and POPCNT
// that come with it: 32 bytes per compare, and a group's stops counted before
// they are stored, so that the stores wait on nothing. Built for those
// instructions by the compiler's target attribute.
inline bool avx2_usable() {
  static const bool usable =
      (__builtin_cpu_init(), __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
                                 __builtin_cpu_supports("popcnt"));
  return usable;
}

// list_stops, with the same flags; it may store three places past the end.
[[gnu::target("avx2,bmi,popcnt")]] inline std::uint16_t* list_stops_avx2(const unsigned char* text,
                                                                         std::size_t size,
                                                                         std::uint16_t* end) {
  for (std::size_t start = 0; start < size; start += group_size) {
    std::uint64_t flags = 0;
    for (std::size_t half = 0; half < group_size; half += 32) {
      const __m256i bytes =
          _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + start + half));
      __m256i hits = _mm256_cmpeq_epi8(_mm256_min_epu8(bytes, _mm256_set1_epi8('\r')), bytes);
      hits = _mm256_or_si256(hits, _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8('"')));
      hits = _mm256_or_si256(hits, _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8('\\')));
      flags |= std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(hits))} << half;
    }
    if (size - start < group_size) flags &= (std::uint64_t{1} << (size - start)) - 1;
    std::uint16_t* const group_end = end + _mm_popcnt_u64(flags);
    do {
      // Four places in one store, little-endian as x86 is; none carries into the next.
      std::uint64_t four = 0;
      for (int i = 0; i < 4; ++i) {
        four |= _tzcnt_u64(flags) << (16 * i);
        flags = _blsr_u64(flags);
      }
      four += start * 0x0001000100010001ULL;
      std::memcpy(end, &four, sizeof four);
      end += 4;
    } while (end < group_end);
    end = group_end;
  }
  return end;
}
#endif

// The places of the stops in a text of up to max_text bytes, in order, and
// after them end_mark: the encoder then goes from one stop to the next
// without waiting on a scan.
template <std::size_t max_text>
class stop_list {
 public:
  // Beyond every place, so that one comparison finds the end and a limit.
  static constexpr std::size_t end_mark = 0xFFFF;
  static_assert(max_text < end_mark, "places fit in 16 bits, below the end mark");

  stop_list(const unsigned char* text, std::size_t size) {
#ifdef LORVEX_BYTE_SCAN_AVX2
    std::uint16_t* const end =
        avx2_usable() ? list_stops_avx2(text, size, places_) : list_stops(text, size, places_);
#else
    std::uint16_t* const end = list_stops(text, size, places_);
#endif
    *end = end_mark;
  }

  const std::uint16_t* begin() const { return places_; }

 private:
  std::uint16_t places_[max_text + 4];  // a stop at every byte, the end, and what is stored past it
};

// Copies [from, to) to out, scan_slack bytes at a time, and advances out past it.
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
