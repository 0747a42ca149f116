// The script, byte for byte, for texts given to the encoder from memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "byte_scan.hpp"
#include "rcdata_writer.hpp"

namespace lorvex {
namespace {

// Blocks of the sizes given (the last repeats), as reads would return them,
// encoded a slice at a time as the conversion does.
std::string convert(const std::string& input, const std::string& name = "HELP_TEXT",
                    std::vector<std::size_t> block_sizes = {4096}) {
  std::vector<unsigned char> text(rcdata_encoder::slice_size + byte_scan::scan_slack);
  std::vector<unsigned char> out(rcdata_encoder::max_script + byte_scan::scan_slack);
  const auto append = [&](std::string& script, const unsigned char* end) {
    script.append(reinterpret_cast<const char*>(out.data()),
                  static_cast<std::size_t>(end - out.data()));
  };
  rcdata_encoder encoder;
  std::string script = name;
  append(script, rcdata_encoder::begin(out.data()));
  for (std::size_t at = 0, block = 0; at < input.size(); ++block) {
    const std::size_t block_end =
        std::min(input.size(), at + block_sizes[std::min(block, block_sizes.size() - 1)]);
    for (; at < block_end; at += rcdata_encoder::slice_size) {
      const std::size_t size = std::min(rcdata_encoder::slice_size, block_end - at);
      std::copy_n(input.data() + at, size, text.begin());
      append(script, encoder.encode(text.data(), size, out.data()));
    }
    at = block_end;
  }
  append(script, encoder.end(out.data()));
  return script;
}

// The script as it must appear in the file: CR LF after every line.
std::string script(const std::string& name, const std::vector<std::string>& entries) {
  std::string out = name + " RCDATA\r\nBEGIN\r\n";
  for (const std::string& entry : entries) out += "\"" + entry + "\\n\",\r\n";
  return out + "\"\\0\",\r\nEND\r\n";
}

TEST(Conversion, EmptyInputGivesHeaderBeginTerminatorEnd) {
  EXPECT_EQ(convert(""), "HELP_TEXT RCDATA\r\nBEGIN\r\n\"\\0\",\r\nEND\r\n");
}

TEST(Conversion, EscapesQuotesAndBackslashesAndNothingElse) {
  EXPECT_EQ(convert("Say \"hi\" to C:\\temp\n\n\"\\\"\n"),
            script("HELP_TEXT", {"Say \"\"hi\"\" to C:\\\\temp", "", "\"\"\\\\\"\""}));
  const std::string raw = "tab\there \x01\x7f\x80\xe9\xff end";
  EXPECT_EQ(convert(raw + "\n"), script("HELP_TEXT", {raw}));
}

TEST(Conversion, LastLineWithoutLineFeedEndsLikeTheOthers) {
  EXPECT_EQ(convert("one\ntwo"), script("HELP_TEXT", {"one", "two"}));
}

TEST(Conversion, CrLfAndLfInputsGiveTheSameScript) {
  EXPECT_EQ(convert("a\r\nb\r\n\r\nc"), convert("a\nb\n\nc"));
}

TEST(Conversion, LoneCarriageReturnIsWrittenAsEscape) {
  EXPECT_EQ(convert("a\rb\r\r\nend\r"), script("HELP_TEXT", {"a\\rb\\r", "end\\r"}));
}

TEST(Conversion, CrThatEndsAReadIsDecidedByTheNextByte) {
  struct next_case {
    const char* what;
    std::string next_read;
    std::vector<std::string> entries;
  };
  const next_case cases[] = {
      {"LF", "\nb", {"a", "b"}},
      {"CR", "\rb", {"a\\r\\rb"}},
      {"x", "xb", {"a\\rxb"}},
      {"the end of input", "", {"a\\r"}},
  };
  for (const next_case& c : cases) {
    EXPECT_EQ(convert("a\r" + c.next_read, "N", {2, 4096}), script("N", c.entries)) << c.what;
  }
}

TEST(Conversion, NulCutsTheRestOfItsPiece) {
  EXPECT_EQ(convert(std::string("ab\0cd\"\n\0x\nz", 11)), script("HELP_TEXT", {"ab", "", "z"}));
}

TEST(Conversion, LongLinesSplitIntoPiecesOf1023Characters) {
  struct split_case {
    std::size_t length;
    bool line_feed;
    std::vector<std::size_t> pieces;  // entry text lengths; 0 is the lone line feed
  };
  const split_case cases[] = {
      {1022, true, {1022}},          {1023, true, {1023, 0}},       {1024, true, {1023, 1}},
      {2046, true, {1023, 1023, 0}}, {2047, true, {1023, 1023, 1}}, {1023, false, {1023}},
      {1024, false, {1023, 1}},
  };
  for (const split_case& c : cases) {
    std::string line;
    for (std::size_t i = 0; i < c.length; ++i) line += static_cast<char>('a' + i % 26);
    std::vector<std::string> entries;
    std::size_t at = 0;
    for (std::size_t piece : c.pieces) {
      entries.push_back(line.substr(at, piece));
      at += piece;
    }
    EXPECT_EQ(convert(line + (c.line_feed ? "\n" : "")), script("HELP_TEXT", entries))
        << c.length << (c.line_feed ? " with" : " without") << " line feed";
  }
}

TEST(Conversion, PieceLengthCountsCharactersAfterTranslation) {
  // 1022 characters and a CR LF are 1023 characters read: one piece.
  const std::string line(1022, 'x');
  EXPECT_EQ(convert(line + "\r\n"), script("HELP_TEXT", {line}));
}

TEST(Conversion, LinesLongerThanTheLineBufferAreWrittenWhole) {
  const std::string quotes(1023, '"');
  const std::string backslashes(1023, '\\');
  EXPECT_EQ(convert(quotes + backslashes),
            script("HELP_TEXT", {std::string(2046, '"'), std::string(2046, '\\')}));
}

TEST(Conversion, BlockSizesDoNotChangeTheScript) {
  // A lone CR that ends a 4096-byte read, inside a line that spans pieces, as
  // in text with classic Mac line ends: it counts once toward its piece.
  const std::string cr_at_read_end = std::string(4095, 'a') + "\r" + std::string(2000, 'b');
  const std::string a_piece(piece_capacity, 'a');
  const std::string cr_at_read_end_script =
      script("HELP_TEXT", {a_piece, a_piece, a_piece, a_piece, "aaa\\r" + std::string(1019, 'b'),
                           std::string(981, 'b')});
  // Longer than a large block, so that each size ends a read inside it.
  constexpr std::size_t large_block = std::size_t{32} * 4096;
  std::string mixed;
  for (int i = 0; mixed.size() < large_block + 1000; ++i) {
    mixed += "line " + std::to_string(i) + (i % 3 ? "\r\n" : "\r") + "\"q\\\t\n";
  }
  mixed += std::string(3000, 'L') + "\r\n";
  const struct {
    const char* what;
    std::string input;
    std::string expected;
  } cases[] = {
      {"a CR at the end of a read in a long line", cr_at_read_end, cr_at_read_end_script},
      {"mixed line ends, quotes and a long line", mixed, convert(mixed, "HELP_TEXT", {1})},
  };
  const std::size_t sizes[] = {1, 2, 3, 7, 1023, 1024, 4095, 4096, 4097, 65536, large_block};
  for (const auto& c : cases) {
    for (const std::size_t size : sizes) {
      EXPECT_EQ(convert(c.input, "HELP_TEXT", {size}), c.expected)
          << c.what << ", blocks of " << size;
    }
  }
}

TEST(Conversion, WholeBuffersAndSingleBytesGiveTheSameScript) {
  // Read a byte at a time, every piece takes the careful road; read in whole
  // blocks, most take the fast one. Texts dense in the bytes both must handle,
  // with lines of every length up to past a piece, and each special byte
  // landing on every offset of the scan's blocks and of the read blocks.
  std::uint32_t seed = 12345;
  const auto next = [&seed](std::uint32_t bound) {
    seed = seed * 1664525U + 1013904223U;
    return (seed >> 8) % bound;
  };
  const char alphabet[] = {'\n', '\r', '"', '\\', '\t', '\0', 'a', 'b', 'c', ' '};
  for (int text = 0; text < 12; ++text) {
    std::string input;
    while (input.size() < 30000) {
      const std::uint32_t kind = next(10);
      // A long line has no line feed inside, so that it passes a piece or two.
      const bool long_line = kind == 0;
      const std::size_t length = long_line ? 1000 + next(2200) : kind < 3 ? next(4) : next(120);
      const std::uint32_t first_special = long_line ? 1 : 0;
      for (std::size_t i = 0; i < length; ++i) {
        // Texts 0-3 have no NUL; later ones have more and more special bytes.
        const std::uint32_t pick = next(100);
        const std::uint32_t dense = 4 + static_cast<std::uint32_t>(text) * 3;
        const std::uint32_t specials = (text < 4 ? 5 : 6) - first_special;
        input += pick < dense ? alphabet[first_special + next(specials)] : alphabet[6 + next(4)];
      }
      input += next(3) == 0 ? "\r\n" : "\n";
    }
    if (text == 11) input += std::string("tail\x1A ignored\n");
    const std::string careful = convert(input, "HELP_TEXT", {1});
    for (std::size_t size : {4096u, 4095u, 65u, 64u, 63u}) {
      EXPECT_EQ(convert(input, "HELP_TEXT", {size}), careful)
          << "text " << text << ", blocks of " << size;
    }
  }
}

TEST(Conversion, ManyShortLinesFillTheOutputBufferManyTimesOver) {
  // Each empty line grows to seven bytes: the fast road must stop at the end
  // of its output room and go on after the write-out.
  constexpr std::size_t count = 20000;
  std::string input(count, '\n');
  std::vector<std::string> entries(count, "");
  // Then one line of quotes, pieces of 1023 doubled to 2046.
  input += std::string(count, '"') + "\n";
  const std::size_t full_pieces = count / piece_capacity;
  for (std::size_t i = 0; i < full_pieces; ++i) entries.emplace_back(2 * piece_capacity, '"');
  entries.emplace_back(2 * (count - full_pieces * piece_capacity), '"');
  EXPECT_EQ(convert(input), script("HELP_TEXT", entries));
}

// Each scanner against the bytes themselves, on texts of every length past
// a group and with every byte value at every seventh place of one: the portable
// words list exactly the bytes that need a rule; SSE2 lists every byte up to
// CR, which the encoder passes over as plain, beside " and \.
TEST(ByteScan, EveryScannerListsTheStopsOfEveryText) {
  std::vector<std::string> texts;
  std::uint32_t seed = 7;
  for (std::size_t length = 0; length <= 200; ++length) {
    std::string text;
    for (std::size_t i = 0; i < length; ++i) {
      seed = seed * 1664525U + 1013904223U;
      constexpr char special[] = "\0\n\r\"\\\t\x1A\x7F";
      text += seed >> 24 < 64 ? special[(seed >> 8) % 8] : static_cast<char>(seed >> 16);
    }
    texts.push_back(text);
  }
  for (int byte = 0; byte < 256; ++byte) {
    for (std::size_t place = 0; place < byte_scan::group_size; place += 7) {
      texts.push_back(std::string(place, 'a') + static_cast<char>(byte) + std::string(70, 'b'));
    }
  }
  const auto places = [](const std::string& text, bool (*is_stop)(unsigned char)) {
    std::vector<std::uint16_t> found;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (is_stop(static_cast<unsigned char>(text[i]))) {
        found.push_back(static_cast<std::uint16_t>(i));
      }
    }
    return found;
  };
  const auto listed = [](const std::string& text, auto list_stops) {
    std::vector<unsigned char> padded(text.begin(), text.end());
    padded.resize(text.size() + byte_scan::scan_slack);
    std::vector<std::uint16_t> found(text.size() + 4);
    found.resize(static_cast<std::size_t>(list_stops(padded.data(), text.size(), found.data()) -
                                          found.data()));
    return found;
  };
  for (const std::string& text : texts) {
    EXPECT_EQ(listed(text, byte_scan::list_stops<byte_scan::portable::stops_in_group>),
              places(text,
                     [](unsigned char c) {
                       return c == 0 || c == '\n' || c == '\r' || c == '"' || c == '\\';
                     }))
        << text.size() << " bytes";
#ifdef LORVEX_BYTE_SCAN_SSE2
    EXPECT_EQ(listed(text, byte_scan::list_stops<byte_scan::sse2::stops_in_group>),
              places(text, [](unsigned char c) { return c <= '\r' || c == '"' || c == '\\'; }))
        << text.size() << " bytes";
#endif
  }
}

}  // namespace
}  // namespace lorvex
