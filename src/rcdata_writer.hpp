// A text as one RCDATA statement: a header, BEGIN, a string-literal entry per piece of text, a
// NUL terminator entry and END, in CR LF lines, escaping only what the string syntax needs.
#pragma once

#include <cstddef>

namespace lorvex {

class text_reader;
class text_writer;

// A piece is one line with its line feed, or this many characters of a longer one.
constexpr std::size_t piece_capacity = 1023;

// Encodes a slice at a time into memory: the text has byte_scan::scan_slack readable bytes after
// it, the room max_script bytes and scan_slack more.
class rcdata_encoder {
 public:
  // Larger slices measured no faster, and the room stays small.
  static constexpr std::size_t slice_size = 4096;
  // Seven bytes a character at most (a line feed), and an end.
  static constexpr std::size_t max_script = 7 * slice_size + 32;

  // What follows the name: " RCDATA", BEGIN and the first entry's quote.
  static unsigned char* begin(unsigned char* out);
  unsigned char* encode(const unsigned char* text, std::size_t size, unsigned char* out);
  // The last entry's end, the terminator entry and END.
  unsigned char* end(unsigned char* out);

 private:
  std::size_t count_ = 0;    // characters of the piece so far, CR LF counted as the LF it reads as
  bool cut_ = false;         // a NUL ended the piece's text: the rest is dropped
  bool cr_pending_ = false;  // the last slice ended in a CR, not yet counted
};

enum class conversion_result { complete, read_failed, write_failed };

// Stops at the first failed read or write-out; the streams stay open.
conversion_result convert_to_rcdata(const char* rcdata_name, text_reader& input,
                                    text_writer& output);

}  // namespace lorvex
