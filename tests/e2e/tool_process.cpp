// Shared by the POSIX and the Windows suite; a block for each below starts
// processes and makes temporary folders.
#include "tool_process.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#if defined(_WIN32)
// ---------------------------------------------------------------- Win32 block
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace lorvex::e2e {

namespace {

std::wstring wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring text(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), size);
  return text;
}

std::string narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), size,
                      nullptr, nullptr);
  return utf8;
}

// A path that CMake wrote on a POSIX build machine, for a cross build whose
// tests run under Wine, is reached through Wine's drive Z:, which maps /.
std::string host_path(std::string path) {
  if (!path.empty() && path[0] == '/') path.insert(0, "Z:");
  return path;
}

// One argument as the C runtime splits a command line: quoted where it holds
// a blank, a tab, a line end or a quote (or is empty), with the backslashes
// before a quote, or before the closing quote, doubled.
std::wstring quoted_argument(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    return argument;
  }
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    quoted += c;
    backslashes = 0;
  }
  quoted.append(2 * backslashes, L'\\');
  return quoted + L'"';
}

HANDLE open_inheritable(const std::wstring& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                     disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool under_wine() {
  static const bool wine =
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  return wine;
}

std::runtime_error system_error(const std::string& what) {
  return std::runtime_error(what + " failed, error " + std::to_string(GetLastError()));
}

}  // namespace

std::filesystem::path file_path(const std::string& path) {
  // A full path goes through its \\?\ form, so that the deep folders of the
  // long-path tests can be made, read and removed without the long-path setting.
  const bool full = path.size() > 2 && path[1] == ':' && (path[2] == '/' || path[2] == '\\');
  return std::filesystem::path(wide(full ? "\\\\?\\" + windows_absolute(path) : path));
}

void remove_tree(const std::string& path) {
  // With Win32 calls on the long form: the C runtime's removal stops at
  // MAX_PATH, and the long-path tests' folders go past it.
  const std::wstring root = file_path(path).wstring();
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((root + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = root + L"\\" + name;
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
          (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        remove_tree(narrow(child.substr(4)));  // without \\?\, which file_path adds again
      } else if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        RemoveDirectoryW(child.c_str());  // a link to a folder: the link alone
      } else {
        DeleteFileW(child.c_str());
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(root.c_str());
}

std::vector<std::string> tool_command() { return {host_path(LORVEX_EXECUTABLE)}; }

bool tool_runs_under_wine() { return under_wine(); }

std::vector<std::string> windows_test_program(const std::string& name) {
  return {host_path(LORVEX_WINDOWS_TEST_PROGRAMS) + "/" + name + ".exe"};
}

std::string windows_absolute(const std::string& path) {
  std::string windows = path;
  for (char& c : windows) {
    if (c == '/') c = '\\';
  }
  return windows;
}

std::string build_machine_path(const std::string& path) { return host_path(path); }

int this_process_id() { return static_cast<int>(GetCurrentProcessId()); }

running_process::running_process(const std::vector<std::string>& command,
                                 const run_options& options) {
  for (const std::string& word : command) {
    command_line_ += command_line_.empty() ? word : " " + word;
  }
  if (options.file_size_limit >= 0 || !options.ignored_signals.empty()) {
    throw std::logic_error("file-size limits and ignored signals are for the POSIX suite");
  }
  std::wstring line;
  for (const std::string& word : command)
    line += (line.empty() ? L"" : L" ") + quoted_argument(wide(word));

  HANDLE in = INVALID_HANDLE_VALUE;
  HANDLE feed = INVALID_HANDLE_VALUE;
  if (options.stdin_data != nullptr) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    if (!CreatePipe(&in, &feed, &inheritable, 0)) throw system_error("CreatePipe");
    SetHandleInformation(feed, HANDLE_FLAG_INHERIT, 0);  // the child must see the end
  } else {
    in = open_inheritable(L"NUL", GENERIC_READ, OPEN_EXISTING);
  }
  HANDLE out = options.without_standard_output
                   ? nullptr
                   : open_inheritable(wide(capture_ / "stdout"), GENERIC_WRITE, CREATE_ALWAYS);
  HANDLE err = open_inheritable(wide(capture_ / "stderr"), GENERIC_WRITE, CREATE_ALWAYS);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  const std::wstring directory = wide(options.directory);
  BOOL started = FALSE;
  // Wine now and then fails a start outright (error 1359); it is tried again there.
  for (int attempt = 0; !started && attempt < (under_wine() ? 3 : 1); ++attempt) {
    started = in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE &&
              err != INVALID_HANDLE_VALUE &&
              CreateProcessW(wide(command.front()).c_str(), line.data(), nullptr, nullptr, TRUE, 0,
                             nullptr, directory.empty() ? nullptr : directory.c_str(), &startup,
                             &process);
  }
  for (HANDLE handle : {in, out, err}) {
    if (handle != INVALID_HANDLE_VALUE && handle != nullptr) CloseHandle(handle);
  }
  if (!started) {
    if (feed != INVALID_HANDLE_VALUE) CloseHandle(feed);
    throw system_error("starting " + command_line_);
  }
  CloseHandle(process.hThread);
  handle_ = process.hProcess;
  pid_ = static_cast<int>(process.dwProcessId);

  if (feed != INVALID_HANDLE_VALUE) {
    // The tool may stop reading early (at 0x1A); a broken pipe is then expected.
    const char* data = options.stdin_data->data();
    std::size_t left = options.stdin_data->size();
    DWORD put = 0;
    while (left > 0 && WriteFile(feed, data, static_cast<DWORD>(left), &put, nullptr) && put > 0) {
      data += put;
      left -= put;
    }
    CloseHandle(feed);
  }
}

running_process::~running_process() {
  if (handle_ != nullptr) CloseHandle(handle_);
}

bool running_process::running() {
  if (!ended_) ended_ = WaitForSingleObject(handle_, 0) == WAIT_OBJECT_0;
  return !ended_;
}

run_result running_process::finish() {
  if (!ended_ && WaitForSingleObject(handle_, 1000 * process_time_limit_seconds) == WAIT_TIMEOUT) {
    TerminateProcess(handle_, 1);
    WaitForSingleObject(handle_, INFINITE);
    ADD_FAILURE() << command_line_ << " was still running after " << process_time_limit_seconds
                  << " s and was killed";
    killed_ = true;
  }
  ended_ = true;
  DWORD code = 0;
  GetExitCodeProcess(handle_, &code);
  run_result result;
  result.killed = killed_;
  result.status = static_cast<int>(code);
  result.out = read_file(capture_ / "stdout");
  result.err = read_file(capture_ / "stderr");
  return result;
}

temp_dir::temp_dir() {
  wchar_t base[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, base);
  if (length == 0 || length > MAX_PATH) throw system_error("GetTempPathW");
  static unsigned made = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::wstring name = std::wstring(base, length) + L"lorvex-test-" +
                              std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(++made);
    if (CreateDirectoryW(name.c_str(), nullptr)) {
      path_ = narrow(name);
      for (char& c : path_) {
        if (c == '\\') c = '/';
      }
      return;
    }
  }
  throw system_error("CreateDirectoryW");
}

}  // namespace lorvex::e2e

#else
// ---------------------------------------------------------------- POSIX block
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace lorvex::e2e {

namespace {

[[noreturn]] void child_fails(const char* what) {
  std::perror(what);
  _exit(127);
}

}  // namespace

namespace {

// The Windows build tree under test, from LORVEX_WINDOWS_BUILD, or empty.
std::string windows_build_dir() {
  const char* dir = std::getenv("LORVEX_WINDOWS_BUILD");
  return dir != nullptr ? dir : "";
}

// A program of the Windows build, run under Wine.
std::vector<std::string> under_wine(const std::string& program) {
  // Wine's own diagnostics would otherwise mix with the tool's standard error.
  ::setenv("WINEDEBUG", "-all", 0);
  // Wine turns the arguments into UTF-16 by the locale's character set: UTF-8,
  // whatever the caller's locale, so that the tests' non-ASCII names arrive.
  ::setenv("LC_ALL", "C.UTF-8", 1);
  return {LORVEX_WINE, program};
}

}  // namespace

// The words before the tool in a cross build run under qemu-user, or none.
const std::vector<std::string> tool_emulator = {LORVEX_TOOL_EMULATOR};

std::vector<std::string> tool_command() {
  const std::string windows_build = windows_build_dir();
  if (!windows_build.empty()) return under_wine(windows_build + "/lorvex.exe");
  std::vector<std::string> command = tool_emulator;
  command.emplace_back(LORVEX_EXECUTABLE);
  return command;
}

bool tool_is_emulated() { return !tool_emulator.empty() && windows_build_dir().empty(); }

std::vector<std::string> windows_test_program(const std::string& name) {
  return under_wine(windows_build_dir() + "/tests/windows/" + name + ".exe");
}

std::string windows_absolute(const std::string& path) {
  std::string windows = "Z:" + path;  // Wine's Z: is /
  for (char& c : windows) {
    if (c == '/') c = '\\';
  }
  return windows;
}

std::string build_machine_path(const std::string& path) { return path; }

bool tool_runs_under_wine() { return tool_is_windows_build(); }

std::filesystem::path file_path(const std::string& path) { return path; }

void remove_tree(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

int this_process_id() { return static_cast<int>(::getpid()); }

running_process::running_process(const std::vector<std::string>& command,
                                 const run_options& options) {
  for (const std::string& word : command) {
    command_line_ += command_line_.empty() ? word : " " + word;
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
    const rlimit no_core_file{0, 0};  // the signal tests end the tool as a crash would
    ::setrlimit(RLIMIT_CORE, &no_core_file);
    if (options.file_size_limit >= 0) {
      ::signal(SIGXFSZ, SIG_DFL);  // the tool must not be killed by it
      const rlimit limit{static_cast<rlim_t>(options.file_size_limit),
                         static_cast<rlim_t>(options.file_size_limit)};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) child_fails("setrlimit");
    }
    for (const int ignored : options.ignored_signals) ::signal(ignored, SIG_IGN);
    int in = feed[0];
    if (in < 0) in = ::open("/dev/null", O_RDONLY);
    // Appending: a tool that empties a standard output it shares (macOS
    // opens /dev/fd/1 as the same open file) then writes from its start.
    const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0600);
    const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0) child_fails("open");
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (options.without_standard_output) ::close(1);
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

running_process::~running_process() = default;

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
    killed_ = true;
  }
  while (!ended_ && ::waitpid(pid_, &wait_status_, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error("waitpid");
  }
  ended_ = true;
  const int wait_status = wait_status_;
  run_result result;
  result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
  result.signal = WIFSIGNALED(wait_status) ? WTERMSIG(wait_status) : 0;
  result.killed = killed_;
  result.out = read_file(capture_ / "stdout");
  result.err = read_file(capture_ / "stderr");
  return result;
}

temp_dir::temp_dir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "lorvex-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
  path_ = pattern;
}

}  // namespace lorvex::e2e

#endif

namespace lorvex::e2e {

// Told by the file run, not by the suite's platform: a constant here would
// leave code that the compiler finds unreachable on one side.
bool tool_is_windows_build() {
  const std::string tool = tool_command().back();
  const std::string suffix = ".exe";
  return tool.size() > suffix.size() &&
         tool.compare(tool.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string message(const std::string& text) {
  if (!tool_is_windows_build()) return text;
  std::string translated;
  for (char c : text) {
    if (c == '\n') translated += '\r';
    translated += c;
  }
  return translated;
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
  // with a message, so such a start is tried once more; never a run that
  // was killed for its time, nor on Windows itself.
  if (tool_runs_under_wine() && options.stdin_data == nullptr && !result.killed &&
      !options.without_standard_output && result.status == 1 && result.out.empty() &&
      result.err.empty()) {
    result = run_process(command, options);
  }
  return result;
}

temp_dir::~temp_dir() { remove_tree(path_); }

std::string read_file(const std::string& path) {
  std::ifstream file(file_path(path), std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream file(file_path(path), std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!file) throw std::runtime_error("cannot write " + path);
}

bool file_exists(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::symlink_status(file_path(path), ignored).type() !=
         std::filesystem::file_type::not_found;
}

}  // namespace lorvex::e2e
