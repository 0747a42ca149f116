// Every rule of the script in one place. The bytes of a slice that need a rule are listed first,
// and the runs of plain characters between them copied many bytes at a time.
#include "rcdata_writer.hpp"

#include <algorithm>
#include <cstring>

#include "byte_scan.hpp"
#include "text_stream.hpp"

namespace lorvex {

namespace {

// Ends one entry and opens the next (the terminator too).
constexpr char entry_break[] = "\\n\",\r\n\"";

template <std::size_t size>
unsigned char* put(unsigned char* out, const char (&text)[size]) {
  std::memcpy(out, text, size - 1);
  return out + size - 1;
}

// A CR not of a CR LF: raw in a literal, resource compilers find the string unterminated.
unsigned char* lone_cr(unsigned char* out, bool cut) { return cut ? out : put(out, "\\r"); }

void write_text(text_writer& output, const char* text, std::size_t size) {
  for (std::size_t part = 0; size > 0; text += part, size -= part) {
    part = std::min(size, text_writer::max_room);
    std::memcpy(output.room(), text, part);
    output.commit(output.room() + part);
  }
}

// Each byte inside a literal: 8 bytes stored at once, the first `length` counting (none for CR and
// NUL, whose rules look further), and how far the piece then reaches (a line feed ends it).
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
    for (std::size_t i = 0; i < sizeof line_feed.bytes; ++i) {
      line_feed.bytes[i] = static_cast<unsigned char>(entry_break[i]);
    }
    line_feed.length = sizeof line_feed.bytes;
    line_feed.reach = piece_capacity;
    of[static_cast<unsigned char>('"')] = {{'"', '"'}, 2, 0};  // written twice inside a literal
    of[static_cast<unsigned char>('\\')] = {{'\\', '\\'}, 2, 0};
    of[static_cast<unsigned char>('\r')].length = 0;
    of[0].length = 0;  // NUL
  }
};
constexpr escape_table escapes;

unsigned char* write_escape(unsigned char* out, const escape& written) {
  static_assert(offsetof(escape, length) == sizeof escape::bytes, "the length follows the bytes");
  std::memcpy(out, &written, sizeof escape::bytes + 1);
  return out + written.length;
}

}  // namespace

unsigned char* rcdata_encoder::begin(unsigned char* out) {
  return put(out, " RCDATA\r\nBEGIN\r\n\"");
}

unsigned char* rcdata_encoder::encode(const unsigned char* text, std::size_t size,
                                      unsigned char* out) {
  // The stops, then one place beyond every place and limit: 8 KiB, half of a run's stack.
  std::uint16_t places[slice_size + 4];
  constexpr std::uint16_t end_mark = 0xFFFF;
  static_assert(slice_size + piece_capacity < end_mark, "every place and limit is below it");
  *byte_scan::list_stops<byte_scan::best_stops_in_group>(text, size, places) = end_mark;
  const std::uint16_t* place = places;
  std::size_t at = 0;
  if (cr_pending_ && text[0] == '\n') {  // a CR LF that the last slice split
    at = 1;
    ++place;  // past the LF
    out = put(out, entry_break);
    count_ = 0;
    cut_ = false;
  } else if (cr_pending_) {
    out = lone_cr(out, cut_);
    ++count_;
  }
  // In locals: the compiler cannot tell that the script's bytes never alias them.
  bool cut = cut_;
  bool cr_pending = false;
  // Within a piece every byte of the slice is one character.
  std::size_t full = at + piece_capacity - count_;
  // A stop before this takes the short road: inside the piece, and the piece's text not cut.
  std::size_t limit = cut ? 0 : full;
  for (;; ++place) {
    std::size_t stop = *place;
    unsigned char c = 0;
    if (stop < limit) {
      // Plain characters, then a line feed, quote, backslash or tab in one store; CR or NUL below.
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
        out = put(out, entry_break);
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
      out = put(out, entry_break);
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
  count_ = at + piece_capacity - full - (cr_pending ? 1 : 0);
  cut_ = cut;
  cr_pending_ = cr_pending;
  return out;
}

unsigned char* rcdata_encoder::end(unsigned char* out) {
  if (cr_pending_) out = lone_cr(out, cut_);  // a CR that ends the text is kept
  if (cr_pending_ || count_ > 0) out = put(out, entry_break);
  *this = rcdata_encoder{};
  return put(out, "\\0\",\r\nEND\r\n");  // the terminator after its quote
}

conversion_result convert_to_rcdata(const char* rcdata_name, text_reader& input,
                                    text_writer& output) {
  static_assert(rcdata_encoder::max_script <= text_writer::max_room, "a slice's script fits");
  write_text(output, rcdata_name, std::strlen(rcdata_name));
  rcdata_encoder encoder;
  output.commit(encoder.begin(output.room()));
  for (;;) {
    const byte_run block = input.read_block();
    if (input.failed()) return conversion_result::read_failed;
    if (block.size == 0) break;
    for (std::size_t at = 0; at < block.size; at += rcdata_encoder::slice_size) {
      const std::size_t size = std::min(rcdata_encoder::slice_size, block.size - at);
      output.commit(encoder.encode(block.data + at, size, output.room()));
      if (output.failed()) return conversion_result::write_failed;
    }
  }
  output.commit(encoder.end(output.room()));
  return output.failed() ? conversion_result::write_failed : conversion_result::complete;
}

}  // namespace lorvex
