// The command-line run in-process, with failures injected below the streams:
// the message, the exit status, and what happens to the output file.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "fake_system.hpp"
#include "main.hpp"
#include "scratch_file.hpp"
#include "text_stream.hpp"

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
  const testing::scratch_file messages = testing::make_scratch_file();
  const system::path_char* argv[] = {LORVEX_PATH("lorvex"), LORVEX_PATH("HELP_TEXT"),
                                     LORVEX_PATH("in.txt"), LORVEX_PATH("out.rc")};
  const int status = run_command_line(4, argv, messages.get());
  std::rewind(messages.get());
  std::string text;
  for (int c; (c = std::fgetc(messages.get())) != EOF;) text += static_cast<char>(c);
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

TEST(CommandLine, UnopenableInputNeverTouchesTheOutput) {
  fake_system fake;
  fake.input_exists = false;
  const run_outcome outcome = run(fake);
  EXPECT_EQ(outcome.status, exit_failure);
  EXPECT_EQ(outcome.messages, "Error opening INPUT file (in.txt)! \n");
  EXPECT_FALSE(fake.output_opened);
}

TEST(CommandLine, OutputPathNamingTheInputIsRefusedBeforeAnyOpen) {
  // A read-only input named as output: the open for writing would fail, yet
  // the user must hear that both are the same file.
  fake_system fake;
  fake.input = "x\n";
  fake.output_path_names_input = true;
  fake.output_openable = false;
  const run_outcome outcome = run(fake);
  EXPECT_EQ(outcome.messages, "Error: INPUT and OUTPUT are the same file (out.rc)! \n");
  EXPECT_EQ(outcome.status, exit_failure);
  EXPECT_FALSE(fake.output_opened);
}

// A signal that arrives while the output is opened: once the output is known
// to be no other file (above all, not the input) and this run holds its lock,
// it is the tool's to discard; before that, nothing is touched.
TEST(CommandLine, ASignalWhileTheOutputOpensDiscardsOnlyTheToolsOwnFile) {
  struct moment_case {
    const char* what;
    void (*arrange)(fake_system&);
    bool removed;
  };
  const moment_case cases[] = {
      {"while an existing output is emptied",
       [](fake_system& f) { f.during_output_empty = text_writer::discard_unfinished; }, true},
      {"while an output that is the input is looked at",
       [](fake_system& f) {
         f.output_is_input = true;
         f.during_output_describe = text_writer::discard_unfinished;
       },
       false},
      {"while waiting for the lock that another run holds",
       [](fake_system& f) { f.during_output_lock = text_writer::discard_unfinished; }, false},
      // The close lets the lock go, and a waiting run may write at once.
      {"during the close of a complete script",
       [](fake_system& f) { f.during_output_close = text_writer::discard_unfinished; }, false},
  };
  for (const moment_case& c : cases) {
    fake_system fake;
    fake.input = "x\n";
    c.arrange(fake);
    run(fake);
    EXPECT_EQ(fake.output_removed, c.removed) << c.what;
  }
}

// Failures injected below the streams, each with what the user must see: the
// message, the exit status, and whether the incomplete script was removed.
// Interruptions and short writes are not failures: the script must come out
// exactly as without them.
TEST(FailureInjection, EachFailureGivesItsMessageStatusAndCleanup) {
  // Several write-outs, so that one can fail in the middle.
  std::string input;
  for (int i = 0; input.size() < 4 * text_writer::hold_size; ++i) {
    input += "line " + std::to_string(i) + " \"quoted\"\r\n";
  }
  fake_system clean;
  clean.input = input;
  ASSERT_EQ(run(clean).status, exit_success);

  struct injected {
    const char* what;
    void (*inject)(fake_system&);
    const char* message;
    bool removed;
  };
  const char* const reading = "Error reading INPUT file (in.txt)! \n";
  const char* const writing = "Error writing OUTPUT file (out.rc)! \n";
  const injected cases[] = {
      {"EINTR on every other read and write",
       [](fake_system& f) { f.interrupt_every_other_call = true; }, "", false},
      {"short writes", [](fake_system& f) { f.longest_write = 7; }, "", false},
      {"the lock's wait interrupted",
       [](fake_system& f) { f.lock_results = {system::lock_result::interrupted}; }, "", false},
      {"no locks on the file system",
       [](fake_system& f) { f.lock_results = {system::lock_result::unavailable}; }, "", false},
      {"the lock refused otherwise",
       [](fake_system& f) { f.lock_results = {system::lock_result::refused}; },
       "Error opening OUTPUT file (out.rc)! \n", false},
      {"EIO on a read in the middle", [](fake_system& f) { f.failing_read = 3; }, reading, true},
      {"ENOSPC on a write-out in the middle", [](fake_system& f) { f.failing_write = 3; }, writing,
       true},
      {"ENOSPC on the first write-out", [](fake_system& f) { f.failing_write = 0; }, writing, true},
      {"a write that moves nothing", [](fake_system& f) { f.longest_write = 0; }, writing, true},
      // The lock has gone with it: the file may be another run's by now.
      {"a failed close", [](fake_system& f) { f.fail_output_close = true; }, writing, false},
  };
  for (const injected& c : cases) {
    fake_system fake;
    fake.input = input;
    c.inject(fake);
    const run_outcome outcome = run(fake);
    const bool fails = c.message[0] != '\0';
    EXPECT_EQ(outcome.messages, c.message) << c.what;
    EXPECT_EQ(outcome.status, fails ? exit_failure : exit_success) << c.what;
    EXPECT_EQ(fake.output_removed, c.removed) << c.what;
    if (!fails) {
      EXPECT_EQ(fake.written, clean.written) << c.what;
    }
  }
}

TEST(FailureInjection, AFailedFinalWriteOutIsReported) {
  fake_system fake;
  fake.input = "short\n";  // everything stays buffered until the close
  fake.write_faults = {io_status::failed};
  const run_outcome outcome = run(fake);
  EXPECT_EQ(outcome.messages, "Error writing OUTPUT file (out.rc)! \n");
  EXPECT_EQ(outcome.status, exit_failure);
  EXPECT_TRUE(fake.output_removed);
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

// After a failed write, the file written is emptied through its handle; it is
// removed only when the path still names it and the removal is allowed.
TEST(FailureInjection, CleanupEmptiesItsOwnFileAndRemovesOnlyThat) {
  struct cleanup_case {
    const char* what;
    void (*arrange)(fake_system&);
    bool emptied;
    bool removed;
  };
  const cleanup_case cases[] = {
      {"the path still names the file", [](fake_system&) {}, true, true},
      {"another file was put at the path", [](fake_system& f) { f.output_path_replaced = true; },
       true, false},
      {"the removal is refused", [](fake_system& f) { f.removal_refused = true; }, true, false},
      {"a device", [](fake_system& f) { f.output_regular = false; }, false, false},
  };
  for (const cleanup_case& c : cases) {
    fake_system fake;
    fake.input = std::string(2 * text_writer::hold_size, 'x');
    fake.failing_write = 1;  // the first write-out is done, the second fails
    c.arrange(fake);
    const run_outcome outcome = run(fake);
    EXPECT_EQ(outcome.messages, "Error writing OUTPUT file (out.rc)! \n") << c.what;
    EXPECT_EQ(outcome.status, exit_failure) << c.what;
    EXPECT_EQ(fake.written.empty(), c.emptied) << c.what;
    EXPECT_EQ(fake.output_removed, c.removed) << c.what;
  }
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
