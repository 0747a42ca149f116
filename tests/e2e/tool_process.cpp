#include "tool_process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace lorvex::e2e {

namespace {

[[noreturn]] void child_fails(const char* what) {
  std::perror(what);
  _exit(127);
}

}  // namespace

std::string windows_build_dir() {
  const char* dir = std::getenv("LORVEX_WINDOWS_BUILD");
  return dir != nullptr ? dir : "";
}

std::vector<std::string> tool_command() {
  const std::string windows_build = windows_build_dir();
  if (windows_build.empty()) return {LORVEX_EXECUTABLE};
  // Wine's own diagnostics would otherwise mix with the tool's standard error.
  ::setenv("WINEDEBUG", "-all", 0);
  // Wine turns the arguments into UTF-16 by the locale's character set: UTF-8,
  // whatever the caller's locale, so that the tests' non-ASCII names arrive.
  ::setenv("LC_ALL", "C.UTF-8", 1);
  return {LORVEX_WINE, windows_build + "/lorvex.exe"};
}

bool tool_is_windows_build() { return !windows_build_dir().empty(); }

std::string message(const std::string& text) {
  if (!tool_is_windows_build()) return text;
  std::string translated;
  for (char c : text) {
    if (c == '\n') translated += '\r';
    translated += c;
  }
  return translated;
}

running_process::running_process(const std::vector<std::string>& command,
                                 const run_options& options) {
  for (const std::string& word : command) {
    if (!command_line_.empty()) command_line_ += ' ';
    command_line_ += word;
  }
  const std::string out_path = capture_ / "stdout";
  const std::string err_path = capture_ / "stderr";
  int feed[2] = {-1, -1};
  if (options.stdin_data != nullptr && ::pipe(feed) != 0) throw std::runtime_error("pipe");

  const pid_t child = ::fork();
  if (child < 0) throw std::runtime_error("fork");
  if (child == 0) {
    ::setpgid(0, 0);  // a group of its own, so that a hung run is killed whole
    if (!options.directory.empty() && ::chdir(options.directory.c_str()) != 0) child_fails("chdir");
    ::umask(static_cast<mode_t>(options.umask));
    if (options.file_size_limit >= 0) {
      ::signal(SIGXFSZ, SIG_DFL);  // the tool must not be killed by it
      const rlimit limit{static_cast<rlim_t>(options.file_size_limit),
                         static_cast<rlim_t>(options.file_size_limit)};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) child_fails("setrlimit");
    }
    for (const int ignored : options.ignored_signals) ::signal(ignored, SIG_IGN);
    int in = feed[0];
    if (in < 0) in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0) child_fails("open");
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (feed[1] >= 0) ::close(feed[1]);
    std::vector<char*> argv;
    argv.reserve(command.size() + 1);
    for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    child_fails("exec");
  }
  pid_ = child;

  if (options.stdin_data != nullptr) {
    ::close(feed[0]);
    // The tool may stop reading early (at 0x1A); a broken pipe is then expected.
    void (*previous)(int) = ::signal(SIGPIPE, SIG_IGN);
    const char* data = options.stdin_data->data();
    std::size_t left = options.stdin_data->size();
    while (left > 0) {
      const ssize_t put = ::write(feed[1], data, left);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) break;
      data += put;
      left -= static_cast<std::size_t>(put);
    }
    ::close(feed[1]);
    ::signal(SIGPIPE, previous);
  }
}

bool running_process::running() {
  if (!ended_) ended_ = ::waitpid(pid_, &wait_status_, WNOHANG) == pid_;
  return !ended_;
}

run_result running_process::finish() {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(process_time_limit_seconds);
  while (running() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (!ended_) {
    ::kill(-pid_, SIGKILL);
    ADD_FAILURE() << command_line_ << " was still running after " << process_time_limit_seconds
                  << " s and was killed";
  }
  while (!ended_ && ::waitpid(pid_, &wait_status_, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error("waitpid");
  }
  ended_ = true;
  const int wait_status = wait_status_;
  run_result result;
  result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
  result.signal = WIFSIGNALED(wait_status) ? WTERMSIG(wait_status) : 0;
  result.out = read_file(capture_ / "stdout");
  result.err = read_file(capture_ / "stderr");
  return result;
}

run_result run_process(const std::vector<std::string>& command, const run_options& options) {
  running_process process(command, options);
  return process.finish();
}

run_result run_tool(const std::vector<std::string>& arguments, const run_options& options) {
  std::vector<std::string> command = tool_command();
  command.insert(command.end(), arguments.begin(), arguments.end());
  run_result result = run_process(command, options);
  // Now and then, on a freshly made prefix, Wine fails to start a program and
  // ends with status 1 without a word. lorvex's own status 1 always comes
  // with a message, so such a start is tried once more.
  if (tool_is_windows_build() && options.stdin_data == nullptr && result.status == 1 &&
      result.out.empty() && result.err.empty()) {
    result = run_process(command, options);
  }
  return result;
}

temp_dir::temp_dir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "lorvex-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
  path_ = pattern;
}

temp_dir::~temp_dir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!file) throw std::runtime_error("cannot write " + path);
}

bool file_exists(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0;
}

}  // namespace lorvex::e2e
