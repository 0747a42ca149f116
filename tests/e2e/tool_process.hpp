// Runs the built lorvex as a separate process, the way a build script would,
// and captures what it leaves behind: status, standard output, standard error.
// The suite is a POSIX program or a Windows program. As a POSIX program with
// LORVEX_WINDOWS_BUILD naming a Windows build tree in the environment, the
// tool under test is that tree's lorvex.exe, run under Wine.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "stored_text.hpp"

namespace lorvex::e2e {

// A fresh directory, removed with its contents at the end of the scope. Its
// path is UTF-8, with / between its parts (Windows takes either separator).
class temp_dir {
 public:
  temp_dir();
  ~temp_dir();
  temp_dir(const temp_dir&) = delete;
  temp_dir& operator=(const temp_dir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

struct run_options {
  std::string directory;  // working directory; empty keeps the current one
  // POSIX suite only:
  int umask = 022;
  long file_size_limit = -1;           // bytes, set with setrlimit (SIGXFSZ left at its default)
  std::vector<int> ignored_signals{};  // ignored from the start, as a caller may
  const std::string* stdin_data = nullptr;  // fed through a pipe; otherwise the null device
  bool without_standard_output = false;     // none at all, as from a GUI program
};

struct run_result {
  int status = -1;      // the exit status, or -1 when the process did not exit normally
  int signal = 0;       // the signal that ended it, if one did
  bool killed = false;  // past the time limit
  std::string out;
  std::string err;
};

// How long a started process may run before finish() kills it and fails the
// test: far above any real run, below the test's own time limit.
constexpr int process_time_limit_seconds = 30;

// A process started and not yet waited for; its output goes to files.
class running_process {
 public:
  running_process(const std::vector<std::string>& command, const run_options& options);
  ~running_process();
  running_process(const running_process&) = delete;
  running_process& operator=(const running_process&) = delete;
  int pid() const { return pid_; }
  bool running();       // false once it has ended
  run_result finish();  // waits for the end, or kills it past the time limit

 private:
  temp_dir capture_;
  std::string command_line_;  // for the report of a hung run
  int pid_ = -1;
  bool ended_ = false;
  bool killed_ = false;
#if defined(_WIN32)
  void* handle_ = nullptr;  // the process
#else
  int wait_status_ = 0;
#endif
};

// The tool's command line: the emulator, if any, then the executable.
std::vector<std::string> tool_command();

#if !defined(_WIN32)
// True when the tool runs under qemu-user (a cross build for another Linux
// architecture), where a test of what the emulator cannot do is skipped.
bool tool_is_emulated();
#endif

// A program of the Windows build's tests (pipe_server, show_help_inputs),
// with the emulator where the suite needs one.
std::vector<std::string> windows_test_program(const std::string& name);

// True when the tool under test is a Windows build: its messages end in CR LF.
bool tool_is_windows_build();

// True when it runs under Wine, from either suite.
bool tool_runs_under_wine();

// A path of this suite as a Windows program spells it in full: with
// backslashes, and under Wine from the POSIX suite on Wine's drive Z:.
std::string windows_absolute(const std::string& path);

// A path that the build wrote down (a source folder), as this suite reaches it.
std::string build_machine_path(const std::string& path);

// This process's id, to keep names of this run apart from other runs'.
int this_process_id();

run_result run_process(const std::vector<std::string>& command, const run_options& options = {});

run_result run_tool(const std::vector<std::string>& arguments, const run_options& options = {});

// A message as the tool prints it: LF, or CR LF from a Windows build.
std::string message(const std::string& text);

// A UTF-8 path for std::filesystem; on Windows, a full path in its long form.
std::filesystem::path file_path(const std::string& path);

// Removes a folder with all it holds; never follows a link out of it.
void remove_tree(const std::string& path);

// Files by UTF-8 path, on every platform.
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
bool file_exists(const std::string& path);  // a dangling link counts

using testing::expected_stored_text;

// Skips a test that needs a POSIX build of the tool, saying why. Its body
// stays out of the Windows suite with #if !defined(_WIN32).
#define SKIP_ON_WINDOWS_BUILD(why) \
  if (tool_is_windows_build()) GTEST_SKIP() << "not on the Windows build: " << (why)

// Skips a test that the emulator cannot run as the system would, saying why
// (POSIX suite).
#define SKIP_UNDER_EMULATOR(why) \
  if (tool_is_emulated()) GTEST_SKIP() << "not under qemu-user: " << (why)

}  // namespace lorvex::e2e
