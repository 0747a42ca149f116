// Converts a text into one RCDATA statement of a resource script: a header,
// BEGIN, a string-literal entry per piece of text, a NUL terminator entry and
// END, lines ending in CR LF, escaping only what the string syntax needs.
#pragma once

#include "text_stream.hpp"

namespace lorvex {

// A piece is one line with its line feed, or this many characters of a longer one.
constexpr std::size_t piece_capacity = 1023;

enum class conversion_result { complete, read_failed, write_failed };

// Writes the whole script for rcdata_name. Stops at the first failed read or
// write-out, without the terminator; the streams stay open.
conversion_result convert_to_rcdata(const char* rcdata_name, text_reader& input,
                                    text_writer& output);

}  // namespace lorvex
