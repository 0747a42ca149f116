// The conversion, every rule in one place: the text comes in blocks as read,
// and each block is encoded, a slice at a time, straight into the output
// stream. Plain runs are copied many bytes at a time up to the next byte
// that needs a rule.
#include "rcdata_writer.hpp"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace lorvex {

namespace {

// Ends one entry and opens the next: the escaped line feed, the closing
// quote, a comma, CR LF, and the quote that opens the next entry (the
// terminator entry opens with it too).
constexpr unsigned char entry_break[] = {'\\', 'n', '"', ',', '\r', '\n', '"'};
constexpr char header_end[] = " RCDATA\r\nBEGIN\r\n\"";
constexpr unsigned char cr_escape[] = {'\\', 'r'};
constexpr char script_end[] = "\\0\",\r\nEND\r\n";  // the terminator after its quote

// Blocks are encoded in slices of at most this many bytes, so that the
// output's room for the worst case (seven bytes a character) stays small;
// larger slices measured no faster.
constexpr std::size_t slice_size = stream_block_size;

// What a piece carries from one slice into the next.
struct piece_state {
  std::size_t count = 0;    // characters so far, CR LF counted as the one LF it reads as
  bool cut = false;         // a NUL ended the piece's text: the rest is dropped
  bool cr_pending = false;  // the last slice ended in a CR, not yet counted
};

unsigned char* end_entry(unsigned char* out) {
  std::memcpy(out, entry_break, sizeof entry_break);
  return out + sizeof entry_break;
}

unsigned char* end_piece(unsigned char* out, piece_state& piece) {
  piece = piece_state{};
  return end_entry(out);
}

// A CR that is not part of a CR LF. Raw inside a literal, it makes resource
// compilers report an unterminated string; the escape stores the same byte.
unsigned char* lone_cr(unsigned char* out, bool cut) {
  if (!cut) std::memcpy(out, cr_escape, sizeof cr_escape);
  return cut ? out : out + sizeof cr_escape;
}

// How each byte is written inside a literal: 8 bytes stored at once, of
// which the first `length` count (none for CR and NUL, whose rules look
// further), and how far the piece then reaches past it (a line feed ends
// the piece, so the next one reaches a whole piece further).
struct escape {
  unsigned char bytes[7];
  unsigned char length;
  std::size_t reach;
};
struct escape_table {
  escape of[256] = {};
  constexpr escape_table() {
    for (int c = 0; c < 256; ++c) of[c] = {{static_cast<unsigned char>(c)}, 1, 0};
    escape& line_feed = of[static_cast<unsigned char>('\n')];
    for (std::size_t i = 0; i < sizeof entry_break; ++i) line_feed.bytes[i] = entry_break[i];
    line_feed.length = sizeof entry_break;
    line_feed.reach = piece_capacity;
    of[static_cast<unsigned char>('"')] = {{'"', '"'}, 2, 0};  // written twice inside a literal
    of[static_cast<unsigned char>('\\')] = {{'\\', '\\'}, 2, 0};
    of[static_cast<unsigned char>('\r')].length = 0;
    of[0].length = 0;  // NUL
  }
};
constexpr escape_table escapes;

unsigned char* write_escape(unsigned char* out, const escape& written) {
  // The first 8 bytes of the entry, its length with them: one store, never a shorter one.
  static_assert(offsetof(escape, length) == sizeof escape::bytes, "the length follows the bytes");
  std::memcpy(out, &written, sizeof escape::bytes + 1);
  return out + written.length;
}

// Encodes one slice at out and returns the end of what it wrote: at most
// seven bytes a character (a line feed), and byte_scan::scan_slack more.
unsigned char* encode_slice(byte_run slice, piece_state& piece, unsigned char* out) {
  const unsigned char* const text = slice.data;
  const std::size_t size = slice.size;
  using stop_list = byte_scan::stop_list<slice_size>;
  static_assert(slice_size + piece_capacity < stop_list::end_mark, "every limit is below it");
  const stop_list stops(text, size);  // 8 KiB of stack: half of what a run takes
  const std::uint16_t* place = stops.begin();
  std::size_t at = 0;
  if (piece.cr_pending && text[0] == '\n') {  // a CR LF that the last slice split
    at = 1;
    ++place;  // past the LF
    out = end_piece(out, piece);
  } else if (piece.cr_pending) {
    out = lone_cr(out, piece.cut);
    ++piece.count;
  }
  // In locals: the compiler cannot tell that the script's bytes never alias them.
  bool cut = piece.cut;
  bool cr_pending = false;
  // Within a piece every byte of the slice is one character, so the piece is
  // full where it has piece_capacity of them.
  std::size_t full = at + piece_capacity - piece.count;
  // A stop before this takes the short road: inside the piece, and the
  // piece's text not cut.
  std::size_t limit = cut ? 0 : full;
  for (;; ++place) {
    std::size_t stop = *place;
    unsigned char c = 0;
    if (stop < limit) {
      // Plain characters, then a line feed, quote, backslash or tab in one
      // store and no branch on which; a CR or NUL goes on below.
      byte_scan::copy_run(text + at, text + stop, out);
      at = stop + 1;
      c = text[stop];
      const escape& written = escapes.of[c];
      if (written.length != 0) {
        out = write_escape(out, written);
        full = std::max(full, at + written.reach);
        limit = full;
        continue;
      }
    } else {
      stop = std::min(stop, size);  // the end mark stands for the slice's end
      while (stop >= full) {        // the piece is full before the stop
        if (!cut) byte_scan::copy_run(text + at, text + full, out);
        at = full;
        out = end_entry(out);
        cut = false;
        full = at + piece_capacity;
      }
      if (!cut) byte_scan::copy_run(text + at, text + stop, out);
      at = stop + 1;
      if (stop == size) break;
      c = text[stop];
    }
    if (c == '\n' || (c == '\r' && at != size && text[at] == '\n')) {
      if (c == '\r') {  // CR LF reads as LF, which ends the piece
        ++at;
        ++place;
      }
      out = end_entry(out);
      cut = false;
      full = at + piece_capacity;
    } else if (c == '\r') {
      cr_pending = at == size;
      if (cr_pending) break;  // the next slice decides
      out = lone_cr(out, cut);
    } else if (c == '\0') {
      cut = true;  // the text of a piece ends at its first NUL
    } else if (!cut) {
      out = write_escape(out, escapes.of[c]);
    }
    limit = cut ? 0 : full;
  }
  at = std::min(at, size);
  piece.count = at + piece_capacity - full - (cr_pending ? 1 : 0);
  piece.cut = cut;
  piece.cr_pending = cr_pending;
  return out;
}

void write_text(text_writer& output, const char* text, std::size_t size) {
  while (size > 0) {
    const std::size_t part = std::min(size, text_writer::max_room);
    std::memcpy(output.room(), text, part);
    output.commit(output.room() + part);
    text += part;
    size -= part;
  }
}

}  // namespace

conversion_result convert_to_rcdata(const char* rcdata_name, text_reader& input,
                                    text_writer& output) {
  static_assert(7 * slice_size + sizeof entry_break <= text_writer::max_room,
                "a slice's script fits the output's room");
  write_text(output, rcdata_name, std::strlen(rcdata_name));
  write_text(output, header_end, sizeof header_end - 1);
  piece_state piece;
  for (;;) {
    const byte_run block = input.read_block();
    if (input.failed()) return conversion_result::read_failed;
    if (block.size == 0) break;
    for (std::size_t at = 0; at < block.size; at += slice_size) {
      const byte_run slice{block.data + at, std::min(slice_size, block.size - at)};
      output.commit(encode_slice(slice, piece, output.room()));
      if (output.failed()) return conversion_result::write_failed;
    }
  }
  unsigned char* out = output.room();
  if (piece.cr_pending) out = lone_cr(out, piece.cut);  // a CR that ends the text is kept
  // Every entry ends with the escaped line feed, a last line without one too.
  if (piece.cr_pending || piece.count > 0) out = end_piece(out, piece);
  output.commit(out);
  write_text(output, script_end, sizeof script_end - 1);
  return output.failed() ? conversion_result::write_failed : conversion_result::complete;
}

}  // namespace lorvex
