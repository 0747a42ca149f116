// The command-line run in-process, with failures injected below the streams:
// the message, the exit status, and what happens to the output file.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "fake_system.hpp"
#include "main.hpp"

namespace lorvex {
namespace {

using system::io_status;
using testing::fake_system;
using testing::fake_system_scope;

struct run_outcome {
  int status;
  std::string messages;
};

run_outcome run(fake_system& fake) {
  fake_system_scope scope(fake);
  std::FILE* messages = std::tmpfile();
  const char* argv[] = {"lorvex", "HELP_TEXT", "in.txt", "out.rc"};
  const int status = run_command_line(4, argv, messages);
  std::rewind(messages);
  std::string text;
  for (int c; (c = std::fgetc(messages)) != EOF;) text += static_cast<char>(c);
  std::fclose(messages);
  return {status, text};
}

const std::string clean_script =
    "HELP_TEXT RCDATA\r\nBEGIN\r\n\"a \"\"b\"\"\\n\",\r\n\"\\0\",\r\nEND\r\n";

TEST(CommandLine, CleanRunWritesTheScriptSilently) {
  fake_system fake;
  fake.input = "a \"b\"\r\n";
  const run_outcome outcome = run(fake);
  EXPECT_EQ(outcome.status, exit_success);
  EXPECT_EQ(outcome.messages, "");
  EXPECT_EQ(fake.written, clean_script);
  EXPECT_FALSE(fake.output_removed);
}

TEST(CommandLine, InterruptionsAndShortWritesLeaveTheScriptUnchanged) {
  fake_system fake;
  fake.input = "a \"b\"\r\n";
  fake.read_sizes = {1};
  fake.read_faults = {io_status::interrupted};
  fake.write_faults = {io_status::interrupted, io_status::interrupted};
  fake.longest_write = 3;
  const run_outcome outcome = run(fake);
  EXPECT_EQ(outcome.status, exit_success);
  EXPECT_EQ(fake.written, clean_script);
}

TEST(CommandLine, UnopenableInputNeverTouchesTheOutput) {
  fake_system fake;
  fake.input_exists = false;
  const run_outcome outcome = run(fake);
  EXPECT_EQ(outcome.status, exit_failure);
  EXPECT_EQ(outcome.messages, "Error opening INPUT file (in.txt)! \n");
  EXPECT_FALSE(fake.output_opened);
}

TEST(CommandLine, FailedReadReportsAndRemovesTheScript) {
  fake_system fake;
  fake.input = std::string(10000, 'x');
  fake.failing_read = 1;
  const run_outcome outcome = run(fake);
  EXPECT_EQ(outcome.status, exit_failure);
  EXPECT_EQ(outcome.messages, "Error reading INPUT file (in.txt)! \n");
  EXPECT_TRUE(fake.output_removed);
}

TEST(CommandLine, EveryKindOfWriteFailureReportsAndRemovesTheScript) {
  struct failure {
    const char* what;
    void (*inject)(fake_system&);
  };
  const failure failures[] = {
      {"write-out in the middle", [](fake_system& f) { f.write_faults = {io_status::failed}; }},
      {"final write-out", [](fake_system& f) { f.write_faults = {io_status::failed}; }},
      {"write that moves nothing", [](fake_system& f) { f.longest_write = 0; }},
      {"close", [](fake_system& f) { f.fail_output_close = true; }},
  };
  for (const failure& f : failures) {
    fake_system fake;
    fake.input = f.what == std::string("final write-out") ? "short\n" : std::string(20000, 'x');
    f.inject(fake);
    const run_outcome outcome = run(fake);
    EXPECT_EQ(outcome.status, exit_failure) << f.what;
    EXPECT_EQ(outcome.messages, "Error writing OUTPUT file (out.rc)! \n") << f.what;
    EXPECT_TRUE(fake.output_removed) << f.what;
  }
}

TEST(CommandLine, OutputThatIsNotARegularFileIsNeverRemoved) {
  fake_system fake;
  fake.input = "x\n";
  fake.output_regular = false;
  fake.write_faults = {io_status::failed};
  const run_outcome outcome = run(fake);
  EXPECT_EQ(outcome.status, exit_failure);
  EXPECT_EQ(outcome.messages, "Error writing OUTPUT file (out.rc)! \n");
  EXPECT_FALSE(fake.output_removed);
}

TEST(CommandLine, ReadFailureWinsOverALaterWriteFailure) {
  fake_system fake;
  fake.input = std::string(10000, 'x');
  fake.failing_read = 1;
  fake.fail_output_close = true;
  EXPECT_EQ(run(fake).messages, "Error reading INPUT file (in.txt)! \n");
}

}  // namespace
}  // namespace lorvex
