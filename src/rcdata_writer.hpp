// Converts a text stream into one RCDATA statement of a resource script: a
// header line, BEGIN, one string-literal entry per piece of input, a NUL
// terminator entry and END. It escapes only what the resource-script string
// syntax needs; line-end translation is the streams' business.
#pragma once

#include <cstddef>

#include "text_stream.hpp"

namespace lorvex {

// A piece is one input line with its line feed, or this many characters of a longer one.
constexpr std::size_t piece_capacity = 1023;
// The longest entry line and its NUL: a quote, a piece of nothing but
// doubled characters, and the five closing bytes.
constexpr std::size_t max_entry_line = 1 + 2 * piece_capacity + 5 + 1;

enum class conversion_result { complete, read_failed, write_failed };

// Writes the whole script for rcdata_name. Stops early, without the
// terminator, when a read or a write-out fails; the streams stay open.
conversion_result convert_to_rcdata(const char* rcdata_name, text_reader& input,
                                    text_writer& output);

// One entry line being assembled: an opening quote, the piece's characters
// escaped up to its first NUL, then the closing escaped line feed, quote and
// comma. The line needs room for max_entry_line bytes and
// byte_scan::scan_slack more.
class entry_line {
 public:
  explicit entry_line(char* line);
  // Where a run of characters that need no escape may be copied, and the
  // call that takes them; after a NUL they are dropped.
  char* plain_destination() { return out_; }
  void add_plain(std::size_t count);
  // One character, escaped as a literal needs.
  void add(unsigned char c);
  // Appends the closing bytes and a NUL; returns the line's length.
  std::size_t finish();

 private:
  char* start_;
  char* out_;
  bool cut_ = false;
};

// Reads the next piece from input into entry. Returns false, with nothing
// added, at the end of input (a piece is never empty).
bool read_piece(text_reader& input, entry_line& entry);

}  // namespace lorvex
