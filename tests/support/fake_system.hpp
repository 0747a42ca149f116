// An in-memory stand-in for the system call table: one input file served in
// blocks of chosen sizes, one output file recorded as written, and scripted
// failures on any call. Install it for the length of a test with a scope.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "system_file.hpp"

// A path literal in the platform's path characters.
#if defined(_WIN32)
#define LORVEX_PATH(text) L##text
#else
#define LORVEX_PATH(text) text
#endif

namespace lorvex::testing {

struct fake_system {
  // The input file, handle 1.
  std::string input;
  system::file_kind input_kind = system::file_kind::disk;
  // Largest read answered, call by call; the last size repeats.
  std::vector<std::size_t> read_sizes{4096};
  // Results forced on the next reads, in order, before real data is served.
  std::deque<system::io_status> read_faults;
  // Read calls made so far, and the one (0-based) that fails from the data side.
  std::size_t reads = 0;
  std::size_t failing_read = static_cast<std::size_t>(-1);
  // Every other read and write call (the first, third, ...) is interrupted.
  bool interrupt_every_other_call = false;
  bool input_exists = true;

  // The output file, handle 2.
  std::string written;
  std::vector<std::size_t> write_sizes;                      // sizes asked for, one per write call
  std::size_t longest_write = static_cast<std::size_t>(-1);  // short writes above this
  std::deque<system::io_status> write_faults;
  std::size_t writes = 0;
  std::size_t failing_write = static_cast<std::size_t>(-1);  // the call (0-based) that fails
  bool output_regular = true;
  bool output_openable = true;
  bool output_opened = false;
  // What the output's lock comes to, wait by wait; then held.
  std::deque<system::lock_result> lock_results;
  bool fail_output_close = false;
  bool output_is_input = false;  // the opened output turns out to be the input file
  // A look at the output path before the open finds the input file (another
  // spelling, a link); otherwise the path cannot be looked at then.
  bool output_path_names_input = false;
  bool output_removed = false;
  int output_opens = 0;
  bool emptied = false;
  // What the output path names when the tool looks before removing: another
  // file put there since, and whether removing is refused.
  bool output_path_replaced = false;
  bool removal_refused = false;

  // Called once, in the middle of describing, locking, emptying or closing the output, as a
  // signal that arrives then would run its handler.
  std::function<void()> during_output_describe;
  std::function<void()> during_output_empty;
  std::function<void()> during_output_lock;
  std::function<void()> during_output_close;

  std::size_t input_offset = 0;
};

// Routes system::calls() to a fake_system for its lifetime.
class fake_system_scope {
 public:
  explicit fake_system_scope(fake_system& fake);
  ~fake_system_scope();
  fake_system_scope(const fake_system_scope&) = delete;
  fake_system_scope& operator=(const fake_system_scope&) = delete;

 private:
  system::call_table saved_;
};

constexpr system::file_handle fake_input_handle = 1;
constexpr system::file_handle fake_output_handle = 2;

}  // namespace lorvex::testing
