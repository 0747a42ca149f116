// The RCDATA script conversion: pieces of input in, quoted entry lines out.
#include "rcdata_writer.hpp"

#include <cstring>

namespace lorvex {

namespace {

// Bytes that a literal cannot hold as they are.
struct escape_stops {
  bool table[256] = {};
  constexpr escape_stops() {
    table[static_cast<unsigned char>('\n')] = true;
    table[static_cast<unsigned char>('"')] = true;
    table[static_cast<unsigned char>('\\')] = true;
    table[static_cast<unsigned char>('\r')] = true;
  }
};
constexpr escape_stops stops_escaping{};

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

std::size_t escape_piece(const char* piece, std::size_t length, char (&line)[line_buffer_size]) {
  const void* nul = std::memchr(piece, '\0', length);
  const char* const last = nul != nullptr ? static_cast<const char*>(nul) : piece + length;
  char* out = line;
  *out++ = '"';
  const char* from = piece;
  while (from != last) {
    const char* stop = from;
    while (stop != last && !stops_escaping.table[static_cast<unsigned char>(*stop)]) ++stop;
    const auto run = static_cast<std::size_t>(stop - from);
    std::memcpy(out, from, run);
    out += run;
    if (stop == last) break;
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

  char piece[read_buffer_size];
  char line[line_buffer_size];
  for (;;) {
    const std::size_t length = read_piece(piece, input);
    if (input.failed()) return conversion_result::read_failed;
    if (length == 0) break;
    write_chars(output, line, escape_piece(piece, length, line));
    if (output.failed()) return conversion_result::write_failed;
  }

  write_text(output, terminator_entry);
  write_text(output, "END\n");
  return output.failed() ? conversion_result::write_failed : conversion_result::complete;
}

}  // namespace lorvex
