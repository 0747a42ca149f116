// The conversion, every rule in one place: the text comes in blocks as read,
// and each block is encoded straight into the output stream. Plain runs are
// copied many bytes at a time up to the next byte that needs a rule.
#include "rcdata_writer.hpp"

#include <algorithm>
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

// What a piece carries from one block into the next.
struct piece_state {
  std::size_t count = 0;    // characters so far, CR LF counted as the one LF it reads as
  bool cut = false;         // a NUL ended the piece's text: the rest is dropped
  bool cr_pending = false;  // the last block ended in a CR, not yet counted
};

unsigned char* end_piece(unsigned char* out, piece_state& piece) {
  piece = piece_state{};
  std::memcpy(out, entry_break, sizeof entry_break);
  return out + sizeof entry_break;
}

// A CR that is not part of a CR LF. Raw inside a literal, it makes resource
// compilers report an unterminated string; the escape stores the same byte.
unsigned char* lone_cr(unsigned char* out, const piece_state& piece) {
  if (!piece.cut) std::memcpy(out, cr_escape, sizeof cr_escape);
  return piece.cut ? out : out + sizeof cr_escape;
}

// Encodes one block at out and returns the end of what it wrote: at most
// seven bytes a character (a line feed), and byte_scan::scan_slack more.
unsigned char* encode_block(byte_run block, piece_state& piece, unsigned char* out) {
  const unsigned char* const text = block.data;
  const auto size = static_cast<std::ptrdiff_t>(block.size);
  std::ptrdiff_t at = 0;
  if (piece.cr_pending && text[0] == '\n') {  // a CR LF that the last block split
    at = 1;
    out = end_piece(out, piece);
  } else if (piece.cr_pending) {
    out = lone_cr(out, piece);
    ++piece.count;
  }
  piece.cr_pending = false;
  // Within a piece every byte of the block is one character, so the piece is
  // full where it has piece_capacity of them.
  std::ptrdiff_t piece_start = at - static_cast<std::ptrdiff_t>(piece.count);
  const byte_scan::stop_map<stream_block_size> stops(text, block.size);
  while (at != size) {
    // Plain characters, up to the next byte with a rule or the piece's end.
    const std::ptrdiff_t full = piece_start + static_cast<std::ptrdiff_t>(piece_capacity);
    const std::ptrdiff_t stop = stops.next(at, std::min(size, full));
    if (!piece.cut) byte_scan::copy_run(text + at, text + stop, out);
    at = stop;
    if (at == full) {
      out = end_piece(out, piece);
      piece_start = at;
      continue;
    }
    if (at == size) break;
    const unsigned char c = text[at++];
    if (c == '\n' || (c == '\r' && at != size && text[at] == '\n')) {
      at += c == '\r';  // CR LF reads as LF, which ends the piece
      out = end_piece(out, piece);
      piece_start = at;
    } else if (c == '\r') {
      piece.cr_pending = at == size;  // the next block decides
      if (!piece.cr_pending) out = lone_cr(out, piece);
    } else if (c == '\0') {
      piece.cut = true;  // the text of a piece ends at its first NUL
    } else if (!piece.cut) {
      *out++ = c;
      if (c == '"' || c == '\\') *out++ = c;  // written twice inside a literal
    }
  }
  piece.count = static_cast<std::size_t>(at - piece_start - (piece.cr_pending ? 1 : 0));
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
  static_assert(7 * stream_block_size + sizeof entry_break <= text_writer::max_room,
                "a block's script fits the output's room");
  write_text(output, rcdata_name, std::strlen(rcdata_name));
  write_text(output, header_end, sizeof header_end - 1);
  piece_state piece;
  for (;;) {
    const byte_run block = input.read_block();
    if (input.failed()) return conversion_result::read_failed;
    if (block.size == 0) break;
    output.commit(encode_block(block, piece, output.room()));
    if (output.failed()) return conversion_result::write_failed;
  }
  unsigned char* out = output.room();
  if (piece.cr_pending) out = lone_cr(out, piece);  // a CR that ends the text is kept
  // Every entry ends with the escaped line feed, a last line without one too.
  if (piece.cr_pending || piece.count > 0) out = end_piece(out, piece);
  output.commit(out);
  write_text(output, script_end, sizeof script_end - 1);
  return output.failed() ? conversion_result::write_failed : conversion_result::complete;
}

}  // namespace lorvex
