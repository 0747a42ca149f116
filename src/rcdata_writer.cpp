// The RCDATA script conversion: pieces of input in, quoted entry lines out.
// Two roads give the same bytes: a fast one converts the whole lines that lie
// in the input stream's buffer straight into the output stream's buffer, many
// bytes at a time; read_piece takes the rest (a line that spans two reads, a
// NUL, a 0x1A, a long line) one piece at a time through the reading rules.
#include "rcdata_writer.hpp"

#include <algorithm>
#include <cstring>

#include "byte_scan.hpp"

namespace lorvex {

namespace {

// Bytes that end a plain run: those the reading translation handles (CR and
// 0x1A), those a literal cannot hold as they are (", \ and the line feed that
// ends a piece), and the NUL that ends the text.
constexpr byte_scan::stop_set piece_stops('\0', '\n', '\r', end_of_file_marker, '"', '\\');

// Ends each entry: the escape for a line feed, the closing quote, a comma.
constexpr char entry_ending[] = "\\n\",\n";
// The escape for one NUL byte, which ends the stored text.
constexpr char terminator_entry[] = "\"\\0\",\n";

// The bytes between two entries: the escaped line feed, quote and comma that
// end one, its line end already translated, and the quote that opens the
// next (the terminator entry opens with a quote as well). Stored as one word.
constexpr unsigned char entry_break[8] = {'\\', 'n', '"', ',', '\r', '\n', '"', 0};
constexpr std::ptrdiff_t entry_break_size = 7;
// Output room that one more entry may need: a piece of nothing but doubled
// characters, the entry break, and the one byte the word store spills.
constexpr std::ptrdiff_t entry_room = 2 * piece_capacity + entry_break_size + 1;

void write_text(text_writer& output, const char* text) {
  write_chars(output, text, std::strlen(text));
}

}  // namespace

entry_line::entry_line(char* line) : start_(line), out_(line) { *out_++ = '"'; }

void entry_line::add_plain(std::size_t count) {
  if (!cut_) out_ += count;
}

void entry_line::add(unsigned char c) {
  if (cut_) return;
  switch (c) {
    case '\0':  // the text of a piece ends at its first NUL
      cut_ = true;
      break;
    case '\n':  // every entry ends with the escaped line feed instead
      break;
    case '"':  // a quote inside a literal is written twice
      *out_++ = '"';
      *out_++ = '"';
      break;
    case '\\':
      *out_++ = '\\';
      *out_++ = '\\';
      break;
    case '\r':
      // A raw CR inside a literal makes resource compilers report an
      // unterminated string; the escape stores the same byte.
      *out_++ = '\\';
      *out_++ = 'r';
      break;
    default:
      *out_++ = static_cast<char>(c);
      break;
  }
}

std::size_t entry_line::finish() {
  std::memcpy(out_, entry_ending, sizeof entry_ending);  // with its NUL
  return static_cast<std::size_t>(out_ - start_) + sizeof entry_ending - 1;
}

bool read_piece(text_reader& input, entry_line& entry) {
  std::size_t count = 0;  // characters of the piece, after the reading translation
  while (count < piece_capacity) {
    const buffered_bytes window = buffered_input(input);
    if (window.size > 0) {
      const std::size_t limit = std::min(window.size, piece_capacity - count);
      auto* out = reinterpret_cast<unsigned char*>(entry.plain_destination());
      const unsigned char* const stop =
          byte_scan::copy_until<piece_stops>(window.data, window.data + limit, out);
      const auto run = static_cast<std::size_t>(stop - window.data);
      consume_plain(input, run);
      entry.add_plain(run);
      count += run;
      if (run == limit) continue;
      if (*stop == '\n') {  // the end of the piece; the entry ending stands for it
        consume_plain(input, 1);
        return true;
      }
      if (*stop != '\r' && *stop != end_of_file_marker) {  // a byte read as itself
        consume_plain(input, 1);
        ++count;
        entry.add(*stop);
        continue;
      }
    }
    // A CR or 0x1A, or nothing buffered: the stream's own rules decide.
    const int c = read_char(input);
    if (c == end_of_input) return count > 0;
    ++count;
    entry.add(static_cast<unsigned char>(c));
    if (c == '\n') break;
  }
  return true;
}

namespace {

// The fast road for ordinary text: converts the whole pieces that lie in the
// input's buffer, straight into the output's buffer, and returns how many.
// The buffer is walked block by block; a block is copied whole, and after
// each flagged byte the rest of the block is copied again at its shifted
// place. It stops before a piece that needs the reading rules' care (a NUL,
// a 0x1A, a CR that ends the buffer), a piece that may be cut at
// piece_capacity, or one that the buffer does not hold to its end, and
// leaves that piece to read_piece.
std::size_t convert_buffered_pieces(text_reader& input, text_writer& output) {
  const buffered_bytes window = buffered_input(input);
  const output_room room = reserve_output(output);
  static_assert(entry_room + 1 <= static_cast<std::ptrdiff_t>(max_line_chars),
                "the output room must hold an entry");
  const unsigned char* const in = window.data;
  const auto size = static_cast<std::ptrdiff_t>(window.size);
  auto* const out_start = reinterpret_cast<unsigned char*>(room.data);
  // The output of a piece that starts after this could overrun the room.
  const unsigned char* const last_entry_start =
      out_start + static_cast<std::ptrdiff_t>(room.size) - entry_room;
  constexpr auto capacity = static_cast<std::ptrdiff_t>(piece_capacity);

  unsigned char* out = out_start;
  *out++ = '"';
  std::ptrdiff_t at = 0;             // the input byte whose output goes to out
  std::ptrdiff_t pieces_end = 0;     // input of the entries done
  unsigned char* entries_end = out;  // their output, and the next opening quote
  std::size_t entries = 0;
  // Where the current piece ends if it is long, or the buffer ends first.
  const auto piece_limit = [&] { return std::min(size, pieces_end + capacity); };

  const auto finish = [&] {
    consume_plain(input, static_cast<std::size_t>(pieces_end));
    // The quote that opens the next entry is left out: read_piece writes its own.
    commit_output(output, static_cast<std::size_t>(entries_end - 1 - out_start), entries);
    return entries;
  };
  // Handles the flagged bytes of the block from `at` to block_end, whose
  // bytes are already copied to out; false when the conversion must stop.
  const auto handle_flags = [&](std::ptrdiff_t block, std::ptrdiff_t block_end,
                                byte_scan::block_mask flags) {
    do {
      const std::ptrdiff_t stop = block + byte_scan::first_flagged(flags);
      flags &= flags - 1;
      out += stop - at;  // the plain bytes before the stop are in place
      const unsigned char c = in[stop];
      std::ptrdiff_t next_piece = 0;
      if (c == '\n') {
        next_piece = stop + 1;
      } else if (c == '"' || c == '\\') {  // written twice; the first is in place
        out[1] = c;
        out += 2;
        at = stop + 1;
      } else if (c == '\r' && stop + 1 < size) {
        if (in[stop + 1] == '\n') {
          // CR LF reads as the line feed that ends the piece. The LF's flag
          // goes; when it lies in the next block, that block starts past it.
          if (stop + 1 < block_end) flags &= flags - 1;
          next_piece = stop + 2;
        } else {  // a lone CR, written as its escape (see entry_line::add)
          out[0] = '\\';
          out[1] = 'r';
          out += 2;
          at = stop + 1;
        }
      } else if (!piece_stops.table[c]) {  // a tab or another control byte: itself
        ++out;
        at = stop + 1;
      } else {
        return false;  // a NUL, a 0x1A, or a CR whose next byte is not buffered yet
      }
      if (next_piece != 0) {
        std::memcpy(out, entry_break, sizeof entry_break);
        out += entry_break_size;
        at = pieces_end = next_piece;
        entries_end = out;
        ++entries;
        if (out > last_entry_start) return false;
      }
      // The rest of the block, moved to where its output now starts.
      byte_scan::copy_unexamined(in + at, out);
    } while (flags != 0);
    if (at < block_end) {
      out += block_end - at;
      at = block_end;
    }
    return true;
  };

  // Whole blocks, then the rest of the buffer. A piece that reaches
  // piece_capacity (a rare, long line) is left to read_piece.
  while (piece_limit() - at >= byte_scan::block_bytes) {
    const byte_scan::block_mask flags = byte_scan::copy_block_and_flag<piece_stops>(in + at, out);
    if (flags == 0) {
      at += byte_scan::block_bytes;
      out += byte_scan::block_bytes;
    } else if (!handle_flags(at, at + byte_scan::block_bytes, flags)) {
      return finish();
    }
  }
  if (piece_limit() == size && at < size) {
    const byte_scan::block_mask flags = byte_scan::copy_block_and_flag<piece_stops>(in + at, out) &
                                        byte_scan::flags_of_first(size - at);
    if (flags != 0) handle_flags(at, size, flags);
  }
  return finish();
}

}  // namespace

conversion_result convert_to_rcdata(const char* rcdata_name, text_reader& input,
                                    text_writer& output) {
  // Written in parts, so a name of any length goes out whole.
  write_text(output, rcdata_name);
  write_text(output, " RCDATA\n");
  write_text(output, "BEGIN\n");

  static_assert(max_entry_line + byte_scan::scan_slack <= max_line_chars,
                "an entry line must fit one reservation");
  for (;;) {
    if (convert_buffered_pieces(input, output) > 0) {
      if (output.failed()) return conversion_result::write_failed;
      continue;
    }
    // The careful road, one piece at a time, with the entry line assembled
    // straight in the output stream's buffer.
    entry_line entry(reserve_line(output));
    const bool got_piece = read_piece(input, entry);
    if (input.failed()) return conversion_result::read_failed;
    if (!got_piece) break;
    if (!commit_line(output, entry.finish())) return conversion_result::write_failed;
  }

  write_text(output, terminator_entry);
  write_text(output, "END\n");
  return output.failed() ? conversion_result::write_failed : conversion_result::complete;
}

}  // namespace lorvex
