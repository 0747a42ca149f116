// The RCDATA script conversion: pieces of input in, quoted entry lines out.
#include "rcdata_writer.hpp"

#include <cstring>

#include "byte_scan.hpp"

namespace lorvex {

namespace {

// Bytes that a literal cannot hold as they are, and the NUL that ends the text.
constexpr byte_scan::stop_set escape_stops('\0', '\n', '\r', '"', '\\');

// Copies plain bytes to out and returns the first byte to escape, or last.
const char* copy_until_escape(const char* first, const char* last, char*& out) {
  auto* out_bytes = reinterpret_cast<unsigned char*>(out);
  const auto* found =
      byte_scan::copy_until<escape_stops>(reinterpret_cast<const unsigned char*>(first),
                                          reinterpret_cast<const unsigned char*>(last), out_bytes);
  out = reinterpret_cast<char*>(out_bytes);
  return reinterpret_cast<const char*>(found);
}

// Ends each entry: the escape for a line feed, the closing quote, a comma.
constexpr char entry_ending[] = "\\n\",\n";
// The escape for one NUL byte, which ends the stored text.
constexpr char terminator_entry[] = "\"\\0\",\n";

void write_text(text_writer& output, const char* text) {
  write_chars(output, text, std::strlen(text));
}

}  // namespace

std::size_t read_piece(char (&buffer)[read_buffer_size], text_reader& input) {
  const std::size_t length = read_line(input, buffer, piece_capacity);
  buffer[length] = '\0';
  return length;
}

std::size_t escape_piece(const char* piece, std::size_t length, char* line) {
  // A piece's only line feed is its last character, and the entry ending
  // stands for it; leaving it out spares the scan a stop on every line.
  if (length > 0 && piece[length - 1] == '\n') --length;
  const char* const last = piece + length;
  char* out = line;
  *out++ = '"';
  for (const char* from = piece;;) {
    const char* const stop = copy_until_escape(from, last, out);
    if (stop == last || *stop == '\0') break;  // the text ends at its first NUL
    switch (*stop) {
      case '"':  // a quote inside a literal is written twice
        *out++ = '"';
        *out++ = '"';
        break;
      case '\\':
        *out++ = '\\';
        *out++ = '\\';
        break;
      case '\r':
        // A raw CR inside a literal makes resource compilers report an
        // unterminated string; the escape stores the same byte.
        *out++ = '\\';
        *out++ = 'r';
        break;
      default:  // the line feed: every entry gets the escaped one below instead
        break;
    }
    from = stop + 1;
  }
  std::memcpy(out, entry_ending, sizeof entry_ending);  // with its NUL
  return static_cast<std::size_t>(out - line) + sizeof entry_ending - 1;
}

conversion_result convert_to_rcdata(const char* rcdata_name, text_reader& input,
                                    text_writer& output) {
  // Written in parts, so a name of any length goes out whole.
  write_text(output, rcdata_name);
  write_text(output, " RCDATA\n");
  write_text(output, "BEGIN\n");

  static_assert(line_buffer_size <= max_line_chars, "an entry line must fit one reservation");
  char piece[read_buffer_size] = {};
  for (;;) {
    const std::size_t length = read_piece(piece, input);
    if (input.failed()) return conversion_result::read_failed;
    if (length == 0) break;
    // Each entry line is assembled straight in the output stream's buffer.
    char* const line = reserve_line(output);
    if (!commit_line(output, escape_piece(piece, length, line))) {
      return conversion_result::write_failed;
    }
  }

  write_text(output, terminator_entry);
  write_text(output, "END\n");
  return output.failed() ? conversion_result::write_failed : conversion_result::complete;
}

}  // namespace lorvex
