// Converts a text stream into one RCDATA statement of a resource script: a
// header line, BEGIN, one string-literal entry per piece of input, a NUL
// terminator entry and END. It escapes only what the resource-script string
// syntax needs; line-end translation is the streams' business.
#pragma once

#include <cstddef>

#include "byte_scan.hpp"
#include "text_stream.hpp"

namespace lorvex {

// A piece is one input line with its line feed, or this many characters of a longer one.
constexpr std::size_t piece_capacity = 1023;
// A piece and its NUL, and room for scanning in whole blocks.
constexpr std::size_t read_buffer_size = piece_capacity + 1 + byte_scan::scan_slack;
// The longest entry line: a quote, a piece of nothing but doubled characters,
// the five closing bytes and a NUL; and room for scanning in whole blocks.
constexpr std::size_t line_buffer_size = 1 + 2 * piece_capacity + 5 + 1 + byte_scan::scan_slack;

enum class conversion_result { complete, read_failed, write_failed };

// Writes the whole script for rcdata_name. Stops early, without the
// terminator, when a read or a write-out fails; the streams stay open.
conversion_result convert_to_rcdata(const char* rcdata_name, text_reader& input,
                                    text_writer& output);

// Reads the next piece into buffer and ends it with a NUL. Returns its length,
// or 0 at the end of input (a piece is never empty).
std::size_t read_piece(char (&buffer)[read_buffer_size], text_reader& input);

// Assembles the entry line for a piece of length characters at line, which
// has room for line_buffer_size bytes, and ends it with a NUL; returns the
// line's length. The text stops at the piece's first NUL byte.
std::size_t escape_piece(const char* piece, std::size_t length, char* line);

}  // namespace lorvex
