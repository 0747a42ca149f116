// The two streams against interrupted, short and failed system calls: the
// reader's blocks and end-of-file marker, the writer's whole blocks.
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

fake_system input_of(const std::string& text, std::vector<std::size_t> read_sizes,
                     system::file_kind kind = system::file_kind::disk) {
  fake_system fake;
  fake.input = text;
  fake.read_sizes = std::move(read_sizes);
  fake.input_kind = kind;
  return fake;
}

// The blocks read up to the first empty one, joined.
std::string read_until_end(text_reader& reader) {
  std::string text;
  for (byte_run block = reader.read_block(); block.size > 0; block = reader.read_block()) {
    text.append(reinterpret_cast<const char*>(block.data), block.size);
  }
  return text;
}

TEST(TextReader, MarkerEndsAFileOrPipeForGood) {
  for (system::file_kind kind : {system::file_kind::disk, system::file_kind::pipe}) {
    fake_system fake = input_of("ab\r\x1A\ncd\x1A", {5, 4096}, kind);
    fake_system_scope scope(fake);
    text_reader reader;
    ASSERT_EQ(reader.open(LORVEX_PATH("in")), opening::opened);
    EXPECT_EQ(read_until_end(reader), "ab\r");
    EXPECT_EQ(read_until_end(reader), "");
    EXPECT_FALSE(reader.failed());
  }
}

TEST(TextReader, MarkerOnADeviceDropsTheRestOfThatRead) {
  // Reads as a terminal returns them, one typed line each.
  fake_system fake =
      input_of("ab\x1Axx\ncd\n\x1Ayy\nef\n", {6, 3, 4, 3}, system::file_kind::character_device);
  fake_system_scope scope(fake);
  text_reader reader;
  ASSERT_EQ(reader.open(LORVEX_PATH("in")), opening::opened);
  EXPECT_EQ(read_until_end(reader), "abcd\n");  // a read that starts with 0x1A is the end
  EXPECT_EQ(read_until_end(reader), "ef\n");    // and the next read goes on after it
}

TEST(TextReader, ReadsLargeBlocksExceptFromADevice) {
  // A device that returns all it is asked for: the marker drops the rest of
  // each read there, so its reads stay at most a typed line long.
  const std::string text(2 * large_block_size, 'x');
  const struct {
    system::file_kind kind;
    std::size_t block;
  } cases[] = {{system::file_kind::disk, large_block_size},
               {system::file_kind::pipe, large_block_size},
               {system::file_kind::character_device, stream_block_size}};
  for (const auto& c : cases) {
    fake_system fake = input_of(text, {text.size()}, c.kind);
    fake_system_scope scope(fake);
    text_reader reader;
    ASSERT_EQ(reader.open(LORVEX_PATH("in")), opening::opened);
    EXPECT_EQ(reader.read_block().size, c.block) << "file kind " << static_cast<int>(c.kind);
  }
}

TEST(TextReader, FailedReadEndsTheInputAndIsRemembered) {
  fake_system fake = input_of("abcdefgh", {4});
  fake.failing_read = 1;
  fake_system_scope scope(fake);
  text_reader reader;
  ASSERT_EQ(reader.open(LORVEX_PATH("in")), opening::opened);
  EXPECT_EQ(read_until_end(reader), "abcd");
  EXPECT_TRUE(reader.failed());
  EXPECT_EQ(reader.read_block().size, 0u);
  EXPECT_EQ(fake.reads, 2u);  // not tried again
}

// Hands text to the writer in parts of the given size, then closes it.
text_writer::finishing write_through(fake_system& fake, const std::string& text, std::size_t part) {
  fake_system_scope scope(fake);
  text_writer writer;
  EXPECT_EQ(writer.open(LORVEX_PATH("out")), opening::opened);
  for (std::size_t at = 0; at < text.size(); at += part) {
    const std::size_t size = std::min(part, text.size() - at);
    std::memcpy(writer.room(), text.data() + at, size);
    writer.commit(writer.room() + size);
  }
  return writer.finish();
}

TEST(TextWriter, WritesWholeBlocksAndNothingBeforeItHoldsMoreThanItsHoldSize) {
  std::string text;
  for (int i = 0; text.size() < 3 * text_writer::hold_size; ++i) text += std::to_string(i) + "\r\n";
  for (std::size_t part : {1u, 7u, 4096u, 8193u, 20000u}) {
    fake_system fake;
    std::size_t handed_at_first_write = 0;
    {
      fake_system_scope scope(fake);
      text_writer writer;
      writer.open(LORVEX_PATH("out"));
      for (std::size_t at = 0; at < text.size(); at += part) {
        const std::size_t size = std::min(part, text.size() - at);
        std::memcpy(writer.room(), text.data() + at, size);
        writer.commit(writer.room() + size);
        if (!fake.write_sizes.empty() && handed_at_first_write == 0) {
          handed_at_first_write = at + size;
        }
      }
      EXPECT_EQ(writer.finish(), text_writer::finishing::closed);
    }
    EXPECT_EQ(fake.written, text) << part;
    EXPECT_GT(handed_at_first_write, text_writer::hold_size) << part;
    for (std::size_t i = 0; i + 1 < fake.write_sizes.size(); ++i) {
      EXPECT_EQ(fake.write_sizes[i] % text_writer::hold_size, 0u) << part << ", write " << i;
    }
  }
}

TEST(TextWriter, CompletesShortWritesAndRetriesInterruptedOnes) {
  fake_system fake;
  fake.longest_write = 1000;
  fake.write_faults = {io_status::interrupted, io_status::interrupted};
  const std::string text(5 * stream_block_size + 17, 'x');
  EXPECT_EQ(write_through(fake, text, 4096), text_writer::finishing::closed);
  EXPECT_EQ(fake.written, text);
}

TEST(TextWriter, FailuresFailTheClose) {
  struct failure_case {
    const char* what;
    void (*inject)(fake_system&);
  };
  const failure_case cases[] = {
      {"a failed write-out", [](fake_system& f) { f.write_faults = {io_status::failed}; }},
      {"a write that moves nothing", [](fake_system& f) { f.longest_write = 0; }},
      {"a failed close", [](fake_system& f) { f.fail_output_close = true; }},
  };
  for (const failure_case& c : cases) {
    fake_system fake;
    c.inject(fake);
    EXPECT_NE(write_through(fake, std::string(3 * stream_block_size, 'x'), 4096),
              text_writer::finishing::closed)
        << c.what;
    EXPECT_LE(fake.write_sizes.size(), 1u) << c.what << ": nothing is tried after a failure";
  }
}

TEST(TextWriter, SameFileFoundOnlyOnceOpenedIsRefusedUntouched) {
  // The path could not be looked at beforehand (the fake never can), but
  // the opened output is the input itself.
  fake_system fake;
  fake.output_is_input = true;
  fake_system_scope scope(fake);
  system::file_description input;
  system::calls().describe(testing::fake_input_handle, &input);
  text_writer writer;
  EXPECT_EQ(writer.open(LORVEX_PATH("out"), &input), opening::same_file);
  EXPECT_FALSE(fake.emptied);
}

}  // namespace
}  // namespace lorvex
