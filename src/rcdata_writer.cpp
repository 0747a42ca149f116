// The RCDATA script conversion: pieces of input in, quoted entry lines out.
// A piece is read straight from the input stream's buffer: plain runs are
// found and copied many bytes at a time, and only the bytes that the reading
// translation or the escaping must handle are taken one by one.
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

conversion_result convert_to_rcdata(const char* rcdata_name, text_reader& input,
                                    text_writer& output) {
  // Written in parts, so a name of any length goes out whole.
  write_text(output, rcdata_name);
  write_text(output, " RCDATA\n");
  write_text(output, "BEGIN\n");

  static_assert(max_entry_line + byte_scan::scan_slack <= max_line_chars,
                "an entry line must fit one reservation");
  for (;;) {
    // Each entry line is assembled straight in the output stream's buffer.
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
