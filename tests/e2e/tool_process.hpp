// Runs the built lorvex as a separate process, the way a build script would,
// and captures what it leaves behind: status, standard output, standard error.
// With LORVEX_WINDOWS_BUILD naming a windows-cross build tree in the
// environment, the tool under test is that tree's lorvex.exe, run under Wine.
#pragma once

#include <string>
#include <vector>

#include "stored_text.hpp"

namespace lorvex::e2e {

// A fresh directory, removed with its contents at the end of the scope.
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
  int umask = 022;
  long file_size_limit = -1;  // bytes, set with setrlimit (SIGXFSZ left at its default)
  const std::string* stdin_data = nullptr;  // fed through a pipe; otherwise /dev/null
  std::vector<int> ignored_signals{};       // ignored from the start, as a caller may
};

struct run_result {
  int status = -1;  // the exit status, or -1 when the process did not exit normally
  int signal = 0;   // the signal that ended it, if one did
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
  int wait_status_ = 0;
};

// The tool's command line: the emulator, if any, then the executable.
std::vector<std::string> tool_command();

// The windows-cross build tree under test, or empty for the native build.
std::string windows_build_dir();

// True when the tool under test is a Windows build: its messages end in CR LF.
bool tool_is_windows_build();

run_result run_process(const std::vector<std::string>& command, const run_options& options = {});

run_result run_tool(const std::vector<std::string>& arguments, const run_options& options = {});

// A message as the tool prints it: LF, or CR LF from a Windows build.
std::string message(const std::string& text);

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
bool file_exists(const std::string& path);

using testing::expected_stored_text;

}  // namespace lorvex::e2e
