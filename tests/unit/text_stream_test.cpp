// Reading and writing translation, buffering, and how the streams meet
// interrupted, short and failed system calls.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fake_system.hpp"
#include "text_stream.hpp"

namespace lorvex {
namespace {

using system::io_status;
using testing::fake_system;
using testing::fake_system_scope;

// Everything read_char delivers until the end of input.
std::string read_all(text_reader& reader) {
  std::string text;
  for (int c = read_char(reader); c != end_of_input; c = read_char(reader)) {
    text += static_cast<char>(c);
  }
  return text;
}

std::string read_input(fake_system& fake) {
  fake_system_scope scope(fake);
  std::optional<text_reader> reader = open_text_reader(LORVEX_PATH("in"));
  return read_all(*reader);
}

fake_system input_of(const std::string& text, std::vector<std::size_t> read_sizes = {4096},
                     system::file_kind kind = system::file_kind::disk) {
  fake_system fake;
  fake.input = text;
  fake.read_sizes = std::move(read_sizes);
  fake.input_kind = kind;
  return fake;
}

TEST(TextReader, TurnsCrLfIntoLfAndKeepsEveryOtherByte) {
  fake_system fake = input_of(std::string("a\r\nb\r\r\nc\rd\0e\r", 13));
  EXPECT_EQ(read_input(fake), std::string("a\nb\r\nc\rd\0e\r", 11));
}

TEST(TextReader, CrLfSplitAcrossBlocksIsOneLineFeed) {
  const std::string text = std::string(4095, 'x') + "\r\n" + std::string(4095, 'y') + "\r";
  const std::string expected = std::string(4095, 'x') + "\n" + std::string(4095, 'y') + "\r";
  for (std::vector<std::size_t> sizes :
       std::vector<std::vector<std::size_t>>{{4096}, {1}, {4095, 1}}) {
    fake_system fake = input_of(text, sizes);
    EXPECT_EQ(read_input(fake), expected) << "first block " << sizes.front();
  }
}

TEST(TextReader, PlainRunsTakenInBulkReadAsReadCharWouldDeliverThem) {
  const std::string text = "ab\r\ncd\re\r\r\nfgh\n\n" + std::string(50, 'z') + "\r\x1A" + "after";
  for (std::size_t size : {1u, 2u, 5u, 4096u}) {
    fake_system fake = input_of(text, {size});
    fake_system_scope scope(fake);
    std::optional<text_reader> reader = open_text_reader(LORVEX_PATH("in"));
    std::string delivered;
    for (;;) {
      // Takes every plain byte the buffer holds, then one character the slow way.
      const buffered_bytes window = buffered_input(*reader);
      std::size_t plain = 0;
      while (plain < window.size && window.data[plain] != '\r' &&
             window.data[plain] != end_of_file_marker) {
        ++plain;
      }
      delivered.append(reinterpret_cast<const char*>(window.data), plain);
      consume_plain(*reader, plain);
      const int c = read_char(*reader);
      if (c == end_of_input) break;
      delivered += static_cast<char>(c);
    }
    EXPECT_EQ(delivered, "ab\ncd\re\r\nfgh\n\n" + std::string(50, 'z') + "\r") << size;
  }
}

TEST(TextReader, MarkerEndsAFileOrPipeForGood) {
  for (system::file_kind kind : {system::file_kind::disk, system::file_kind::pipe}) {
    fake_system fake = input_of("ab\r\x1A\ncd\x1A", {3, 4096}, kind);
    fake_system_scope scope(fake);
    std::optional<text_reader> reader = open_text_reader(LORVEX_PATH("in"));
    EXPECT_EQ(read_all(*reader), "ab\r");
    EXPECT_EQ(read_char(*reader), end_of_input);
    EXPECT_FALSE(reader->failed());
  }
}

TEST(TextReader, MarkerOnADeviceDropsTheRestOfThatBlock) {
  // Blocks as a terminal returns them, one typed line each.
  fake_system fake =
      input_of("ab\x1Axx\ncd\n\x1Ayy\nef\n", {6, 3, 4, 3}, system::file_kind::character_device);
  fake_system_scope scope(fake);
  std::optional<text_reader> reader = open_text_reader(LORVEX_PATH("in"));
  EXPECT_EQ(read_all(*reader), "abcd\n");  // the block that starts with 0x1A ends the input
  EXPECT_EQ(read_all(*reader), "ef\n");    // and the next read goes on with the next block
}

TEST(TextReader, EndFoundWhileLookingPastACrIsNotLost) {
  // On a terminal the end of input is one read's answer: after "ab" CR, the
  // read that looks for a line feed meets a 0x1A, and the input ends there.
  fake_system fake = input_of("ab\r\x1A\ncd\n", {3, 2, 3}, system::file_kind::character_device);
  fake_system_scope scope(fake);
  std::optional<text_reader> reader = open_text_reader(LORVEX_PATH("in"));
  EXPECT_EQ(read_all(*reader), "ab\r");
  EXPECT_EQ(read_all(*reader), "cd\n");
}

TEST(TextReader, InterruptedReadsAreRetried) {
  fake_system fake = input_of("line\r\n", {1});
  fake.read_faults = {io_status::interrupted, io_status::interrupted};
  fake_system_scope scope(fake);
  std::optional<text_reader> reader = open_text_reader(LORVEX_PATH("in"));
  EXPECT_EQ(read_all(*reader), "line\n");
  EXPECT_FALSE(reader->failed());
}

TEST(TextReader, FailedReadEndsTheInputAndIsRemembered) {
  fake_system fake = input_of("abcdefgh", {4});
  fake.failing_read = 1;
  fake_system_scope scope(fake);
  std::optional<text_reader> reader = open_text_reader(LORVEX_PATH("in"));
  EXPECT_EQ(read_all(*reader), "abcd");
  EXPECT_TRUE(reader->failed());
  EXPECT_EQ(read_char(*reader), end_of_input);
}

TEST(TextReader, MissingFileGivesNoStream) {
  fake_system fake;
  fake.input_exists = false;
  fake_system_scope scope(fake);
  EXPECT_FALSE(open_text_reader(LORVEX_PATH("in")).has_value());
}

std::string write_through(fake_system& fake, const std::string& text, int* close_result) {
  fake_system_scope scope(fake);
  writer_opening opening = open_text_writer(LORVEX_PATH("out"));
  EXPECT_EQ(write_chars(*opening.writer, text.data(), text.size()), text.size());
  *close_result = close_stream(*opening.writer);
  return fake.written;
}

TEST(TextWriter, WritesEveryLineFeedAsCrLf) {
  fake_system fake;
  int closed = -2;
  EXPECT_EQ(write_through(fake, "a\nb\r\n\n\rc", &closed), "a\r\nb\r\r\n\r\n\rc");
  EXPECT_EQ(closed, 0);
}

TEST(TextWriter, WritesWholeBlocksOnlyOnceAFullBufferGetsMore) {
  fake_system fake;
  fake_system_scope scope(fake);
  writer_opening opening = open_text_writer(LORVEX_PATH("out"));
  const std::string full(stream_buffer_size - 1, 'x');
  write_chars(*opening.writer, full.data(), full.size());
  write_chars(*opening.writer, "\n", 1);
  EXPECT_TRUE(fake.write_sizes.empty());  // 4096 characters held, nothing written
  write_chars(*opening.writer, "y", 1);
  // The 4097th character sends out one block; the translated rest waits.
  EXPECT_EQ(fake.write_sizes, std::vector<std::size_t>{stream_buffer_size});
  EXPECT_EQ(close_stream(*opening.writer), 0);
  EXPECT_EQ(fake.write_sizes, (std::vector<std::size_t>{stream_buffer_size, 2}));
  EXPECT_EQ(fake.written, full + "\r\ny");
}

TEST(TextWriter, LinesBuiltInPlaceGoOutExactlyAsWrittenCharacters) {
  // Lines of many lengths, so that the full buffer falls at every position of
  // a line, before it and after it; some text goes through write_chars too.
  std::vector<std::string> lines;
  for (std::size_t length = 1; lines.size() < 300; length = (length * 7 + 3) % 3001 + 1) {
    lines.push_back(std::string(length - 1, static_cast<char>('a' + lines.size() % 26)) + "\n");
  }
  lines.push_back(std::string(stream_buffer_size - 1, 'z') + "\n");

  fake_system by_chars;
  fake_system in_place;
  for (fake_system* fake : {&by_chars, &in_place}) {
    fake_system_scope scope(*fake);
    writer_opening opening = open_text_writer(LORVEX_PATH("out"));
    text_writer& writer = *opening.writer;
    write_chars(writer, "head\n", 5);
    for (const std::string& line : lines) {
      if (fake == &by_chars) {
        EXPECT_EQ(write_chars(writer, line.data(), line.size()), line.size());
      } else {
        std::memcpy(reserve_line(writer), line.data(), line.size());
        EXPECT_TRUE(commit_line(writer, line.size()));
      }
    }
    write_chars(writer, "tail", 4);
    EXPECT_EQ(close_stream(writer), 0);
  }
  EXPECT_EQ(in_place.written, by_chars.written);
  EXPECT_EQ(in_place.write_sizes, by_chars.write_sizes);
  std::string expected = "head\r\n";
  for (const std::string& line : lines) expected += line.substr(0, line.size() - 1) + "\r\n";
  EXPECT_EQ(by_chars.written, expected + "tail");
}

TEST(TextWriter, TranslatedRunsGoOutExactlyAsWrittenCharacters) {
  // Runs of whole lines, their line ends already CR LF, handed over in groups
  // of different sizes: the file gets the same bytes as from write_chars,
  // and nothing before more than a buffer's worth of characters.
  std::vector<std::string> lines;
  for (std::size_t length = 1; lines.size() < 500; length = (length * 5 + 1) % 700 + 1) {
    lines.push_back(std::string(length - 1, static_cast<char>('a' + lines.size() % 26)));
  }
  fake_system by_chars;
  fake_system by_runs;
  std::size_t chars_before_first_write = 0;  // handed over when the first write came
  for (fake_system* fake : {&by_chars, &by_runs}) {
    fake_system_scope scope(*fake);
    writer_opening opening = open_text_writer(LORVEX_PATH("out"));
    text_writer& writer = *opening.writer;
    write_chars(writer, "head\n", 5);
    std::size_t handed = 5;
    for (std::size_t first = 0, group = 1; first < lines.size();
         first += group, group = group % 9 + 1) {
      const std::size_t last = std::min(lines.size(), first + group);
      std::string chars;
      std::string translated;
      for (std::size_t i = first; i < last; ++i) {
        chars += lines[i] + "\n";
        translated += lines[i] + "\r\n";
      }
      if (fake == &by_chars) {
        write_chars(writer, chars.data(), chars.size());
      } else {
        const output_room room = reserve_output(writer);
        ASSERT_GE(room.size, translated.size());
        std::memcpy(room.data, translated.data(), translated.size());
        EXPECT_TRUE(commit_output(writer, translated.size(), last - first));
        if (!fake->write_sizes.empty() && chars_before_first_write == 0) {
          chars_before_first_write = handed + chars.size();
        }
      }
      handed += chars.size();
    }
    EXPECT_EQ(close_stream(writer), 0);
  }
  EXPECT_EQ(by_runs.written, by_chars.written);
  EXPECT_GT(chars_before_first_write, stream_buffer_size);
  for (std::size_t i = 0; i + 1 < by_runs.write_sizes.size(); ++i) {
    EXPECT_EQ(by_runs.write_sizes[i] % stream_buffer_size, 0u) << "write " << i;
  }
}

TEST(TextWriter, CompletesShortWritesAndRetriesInterruptedOnes) {
  fake_system fake;
  fake.longest_write = 1000;
  fake.write_faults = {io_status::interrupted, io_status::interrupted};
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "line\n";
  std::string expected;
  for (int i = 0; i < 2000; ++i) expected += "line\r\n";
  int closed = -2;
  EXPECT_EQ(write_through(fake, text, &closed), expected);
  EXPECT_EQ(closed, 0);
}

TEST(TextWriter, FailedWriteOutStopsTheStreamAndFailsItsClose) {
  fake_system fake;
  fake.write_faults = {io_status::failed};
  fake_system_scope scope(fake);
  writer_opening opening = open_text_writer(LORVEX_PATH("out"));
  const std::string text(3 * stream_buffer_size, 'x');
  EXPECT_EQ(write_chars(*opening.writer, text.data(), text.size()), stream_buffer_size);
  EXPECT_TRUE(opening.writer->failed());
  EXPECT_EQ(write_chars(*opening.writer, "y", 1), 0u);
  EXPECT_EQ(close_stream(*opening.writer), -1);
  EXPECT_EQ(fake.write_sizes.size(), 1u);  // nothing is tried after the failure
}

TEST(TextWriter, WriteThatMovesNothingCountsAsFailed) {
  fake_system fake;
  fake.longest_write = 0;
  fake_system_scope scope(fake);
  writer_opening opening = open_text_writer(LORVEX_PATH("out"));
  write_chars(*opening.writer, "x", 1);
  EXPECT_EQ(close_stream(*opening.writer), -1);
}

TEST(TextWriter, FailedCloseIsReported) {
  fake_system fake;
  fake.fail_output_close = true;
  int closed = 0;
  write_through(fake, "x\n", &closed);
  EXPECT_EQ(closed, -1);
}

TEST(TextWriter, EmptiesARegularFileButNotADevice) {
  for (bool regular : {true, false}) {
    fake_system fake;
    fake.output_regular = regular;
    fake_system_scope scope(fake);
    EXPECT_TRUE(open_text_writer(LORVEX_PATH("out")).writer.has_value());
    EXPECT_EQ(fake.emptied, regular);
  }
}

}  // namespace
}  // namespace lorvex
