// The platform blocks behind system_file.hpp: one for POSIX, one for Win32.
// Each call makes a single attempt; retrying an interrupted read or write and
// completing a short write are the caller's job. Nothing here buffers.
#include "system_file.hpp"

#if defined(_WIN32)
// ---------------------------------------------------------------- Win32 block
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <io.h>

namespace lorvex::system {
namespace {

HANDLE to_native(file_handle file) { return reinterpret_cast<HANDLE>(file); }

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE;

bool has_prefix(const wchar_t* text, const wchar_t* prefix) {
  for (; *prefix != L'\0'; ++text, ++prefix) {
    if (*text != *prefix) return false;
  }
  return true;
}

// The file name a path ends in: what follows its last separator or drive colon.
const wchar_t* last_component(const wchar_t* path) {
  const wchar_t* name = path;
  for (const wchar_t* at = path; *at != L'\0'; ++at) {
    if (*at == L'\\' || *at == L'/' || *at == L':') name = at + 1;
  }
  return name;
}

// Longer full paths get the \\?\ form, which has no MAX_PATH limit and needs
// no long-path setting; 12 below MAX_PATH leaves room for a short 8.3 name.
constexpr std::size_t longest_plain_path = MAX_PATH - 12;

// What CreateFileW is given for a path the user typed, or false when it must
// not be opened at all.
bool native_path(const wchar_t* typed, std::wstring* native) {
  // An empty path would otherwise be taken for the current directory by some layers.
  if (typed[0] == L'\0') return false;
  // Written in the verbatim or device namespace: opened exactly as written.
  if (has_prefix(typed, L"\\\\?\\") || has_prefix(typed, L"\\\\.\\")) {
    *native = typed;
    return true;
  }
  std::wstring full(MAX_PATH, L'\0');
  DWORD length = GetFullPathNameW(typed, static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (length >= full.size()) {  // too small: length is the size needed
    full.resize(length);
    length = GetFullPathNameW(typed, length, full.data(), nullptr);
  }
  if (length == 0 || length >= full.size()) return false;
  full.resize(length);
  if (has_prefix(full.c_str(), L"\\\\.\\")) {
    // Windows turns a reserved stem into a legacy device: nul.txt, aux.rc and
    // "nul " all name NUL or AUX. Only a bare device name is taken as one.
    const wchar_t* device = full.c_str() + 4;
    if (CompareStringOrdinal(last_component(typed), -1, device, -1, TRUE) != CSTR_EQUAL) {
      return false;
    }
    *native = full;
    return true;
  }
  if (full.size() <= longest_plain_path) {
    *native = full;
  } else if (has_prefix(full.c_str(),
                        L"\\\\")) {  // \\server\share\... becomes \\?\UNC\server\share\...
    *native = L"\\\\?\\UNC" + full.substr(1);
  } else {
    *native = L"\\\\?\\" + full;
  }
  return true;
}

HANDLE open_native(const std::wstring& native, DWORD access, DWORD disposition) {
  return CreateFileW(native.c_str(), access, share_all, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

bool win32_open_for_reading(const wchar_t* path, file_handle* file) {
  std::wstring native;
  if (!native_path(path, &native)) return false;
  HANDLE handle = open_native(native, GENERIC_READ, OPEN_EXISTING);
  if (handle == INVALID_HANDLE_VALUE) return false;
  *file = reinterpret_cast<file_handle>(handle);
  return true;
}

// OPEN_ALWAYS rather than CREATE_ALWAYS: an existing file keeps its attributes
// (CREATE_ALWAYS would reset them and refuses hidden files). Delete access
// lets an unfinished script be removed through this very handle; where the
// file's permissions or another process's sharing refuse it, the file is
// opened without it (and can then only be emptied). Others' sharing is the
// same either way.
bool win32_open_for_writing(const wchar_t* path, file_handle* file) {
  std::wstring native;
  if (!native_path(path, &native)) return false;
  HANDLE handle = open_native(native, GENERIC_WRITE | DELETE, OPEN_ALWAYS);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) return false;
    handle = open_native(native, GENERIC_WRITE, OPEN_ALWAYS);
  }
  if (handle == INVALID_HANDLE_VALUE) return false;
  *file = reinterpret_cast<file_handle>(handle);
  return true;
}

void read_identity(HANDLE handle, file_description* description) {
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(handle, &info)) {
    description->identified = true;
    description->volume = info.dwVolumeSerialNumber;
    description->index =
        (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  }
}

bool win32_describe(file_handle file, file_description* description) {
  HANDLE handle = to_native(file);
  *description = file_description{};
  SetLastError(NO_ERROR);
  switch (GetFileType(handle)) {
    case FILE_TYPE_DISK:
      // The type alone makes it a disk file to empty: its identity may be unknown.
      description->kind = file_kind::disk;
      description->regular = true;
      read_identity(handle, description);
      return true;
    case FILE_TYPE_PIPE:
      description->kind = file_kind::pipe;
      return true;
    case FILE_TYPE_CHAR:
      description->kind = file_kind::character_device;
      return true;
    default:
      return false;
  }
}

bool describe_native_path(const wchar_t* path, DWORD flags, file_description* description) {
  std::wstring native;
  // Opening a pipe or device path, even for attributes, can act on it: a
  // named pipe would take it as a client's connection.
  if (!native_path(path, &native) || has_prefix(native.c_str(), L"\\\\.\\")) return false;
  // Access 0 asks for attributes only; backup semantics lets a directory open too.
  HANDLE handle = CreateFileW(native.c_str(), 0, share_all | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  *description = file_description{};
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(handle, &info)) {
    description->identified = true;
    description->volume = info.dwVolumeSerialNumber;
    description->index =
        (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    description->regular =
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
  }
  CloseHandle(handle);
  return description->identified;
}

bool win32_describe_path(const wchar_t* path, file_description* description) {
  return describe_native_path(path, 0, description);
}

bool win32_describe_link(const wchar_t* path, file_description* description) {
  return describe_native_path(path, FILE_FLAG_OPEN_REPARSE_POINT, description);
}

bool win32_empty(file_handle file) {
  HANDLE handle = to_native(file);
  LARGE_INTEGER start{};
  return SetFilePointerEx(handle, start, nullptr, FILE_BEGIN) && SetEndOfFile(handle);
}

io_result win32_read(file_handle file, void* buffer, std::size_t size) {
  DWORD got = 0;
  if (ReadFile(to_native(file), buffer, static_cast<DWORD>(size), &got, nullptr)) {
    return {io_status::done, got};
  }
  // The writing end of a pipe was closed: that is the pipe's end, not a failure.
  if (GetLastError() == ERROR_BROKEN_PIPE) return {io_status::done, 0};
  return {io_status::failed, 0};
}

io_result win32_write(file_handle file, const void* data, std::size_t size) {
  DWORD put = 0;
  if (WriteFile(to_native(file), data, static_cast<DWORD>(size), &put, nullptr)) {
    return {io_status::done, put};
  }
  return {io_status::failed, 0};
}

bool win32_close(file_handle file) { return CloseHandle(to_native(file)) != 0; }

bool win32_remove(file_handle file, const wchar_t* path) {
  if (file != no_file) {
    // Deleted when the last handle closes: whatever path names by then.
    FILE_DISPOSITION_INFO disposition{TRUE};
    return SetFileInformationByHandle(to_native(file), FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
  }
  std::wstring native;
  return native_path(path, &native) && DeleteFileW(native.c_str()) != 0;
}

const call_table& native_calls() {
  static const call_table table = {
      win32_open_for_reading,
      win32_open_for_writing,
      win32_describe,
      win32_describe_path,
      win32_describe_link,
      win32_empty,
      win32_read,
      win32_write,
      win32_close,
      win32_remove,
  };
  return table;
}

std::string to_utf8(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes.data(), size, nullptr, nullptr);
  bytes.pop_back();
  return bytes;
}

void (*termination_cleanup)() = nullptr;
HANDLE writing_thread = nullptr;

BOOL WINAPI on_console_event(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
    return FALSE;
  }
  // This runs on a thread of its own: stop the writing one first, so that
  // nothing reaches the file after the cleanup.
  if (writing_thread != nullptr) SuspendThread(writing_thread);
  termination_cleanup();
  // As the default handler ends a console process for each of these events.
  ExitProcess(static_cast<UINT>(STATUS_CONTROL_C_EXIT));
}

}  // namespace

void prepare_process(void (*on_termination)()) {
  termination_cleanup = on_termination;
  DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &writing_thread,
                  THREAD_SUSPEND_RESUME, FALSE, 0);
  // A process started with Ctrl+C ignored never gets CTRL_C_EVENT here.
  SetConsoleCtrlHandler(on_console_event, TRUE);
}

bool resource_name_bytes(const wchar_t* argument, std::string* name) {
  const UINT code_page = GetACP();
  // Without WC_NO_BEST_FIT_CHARS, a character the code page lacks would
  // become a lookalike; with it, the default character, which is refused.
  // UTF-8 as the ANSI code page holds every character and takes no such flag.
  const bool utf8 = code_page == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL lossy = FALSE;
  BOOL* const lossy_report = utf8 ? nullptr : &lossy;
  const int size =
      WideCharToMultiByte(code_page, flags, argument, -1, nullptr, 0, nullptr, lossy_report);
  if (size <= 0 || lossy) return false;
  name->assign(static_cast<std::size_t>(size), '\0');
  if (WideCharToMultiByte(code_page, flags, argument, -1, name->data(), size, nullptr,
                          lossy_report) != size ||
      lossy) {
    return false;
  }
  name->pop_back();
  return true;
}

void print_message(std::FILE* stream, const char* before, const wchar_t* path, const char* after) {
  std::fflush(stream);
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
    // The console shows every character of a UTF-16 line; the fixed parts are ASCII.
    std::wstring line;
    for (const char* c = before; *c != '\0'; ++c) line += static_cast<wchar_t>(*c);
    line += path;
    for (const char* c = after; *c != '\0'; ++c) {
      if (*c == '\n') line += L'\r';
      line += static_cast<wchar_t>(*c);
    }
    DWORD written = 0;
    WriteConsoleW(handle, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    return;
  }
  std::fputs(before, stream);
  std::fputs(to_utf8(path).c_str(), stream);
  std::fputs(after, stream);
  std::fflush(stream);
}

}  // namespace lorvex::system

#else
// ---------------------------------------------------------------- POSIX block
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#include <cerrno>

namespace lorvex::system {
namespace {

bool open_descriptor(const char* path, int flags, file_handle* file) {
  int fd = -1;
  do {
    // Opening a FIFO waits for its other end, and that wait can be interrupted.
    fd = ::open(path, flags | O_CLOEXEC | O_NOCTTY, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  *file = fd;
  return true;
}

bool posix_open_for_reading(const char* path, file_handle* file) {
  return open_descriptor(path, O_RDONLY, file);
}

bool posix_open_for_writing(const char* path, file_handle* file) {
  return open_descriptor(path, O_WRONLY | O_CREAT, file);
}

bool fill_description(const struct stat& status, file_description* description) {
  *description = file_description{};
  description->identified = true;
  description->volume = static_cast<std::uint64_t>(status.st_dev);
  description->index = static_cast<std::uint64_t>(status.st_ino);
  if (S_ISREG(status.st_mode)) {
    description->kind = file_kind::disk;
    description->regular = true;
  } else if (S_ISBLK(status.st_mode)) {
    description->kind = file_kind::disk;
  } else if (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode)) {
    description->kind = file_kind::pipe;
  } else if (S_ISCHR(status.st_mode)) {
    description->kind = file_kind::character_device;
  } else {
    return false;  // a directory, or something this tool cannot tell
  }
  return true;
}

bool posix_describe(file_handle file, file_description* description) {
  struct stat status {};
  if (::fstat(static_cast<int>(file), &status) != 0) return false;
  return fill_description(status, description);
}

bool posix_describe_path(const char* path, file_description* description) {
  struct stat status {};
  if (::stat(path, &status) != 0) return false;
  fill_description(status, description);
  return true;
}

bool posix_describe_link(const char* path, file_description* description) {
  struct stat status {};
  if (::lstat(path, &status) != 0) return false;
  fill_description(status, description);  // a link is left undescribed: not regular
  return true;
}

bool posix_empty(file_handle file) {
  int result = 0;
  do {
    result = ::ftruncate(static_cast<int>(file), 0);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

io_result posix_read(file_handle file, void* buffer, std::size_t size) {
  ssize_t got = ::read(static_cast<int>(file), buffer, size);
  if (got >= 0) return {io_status::done, static_cast<std::size_t>(got)};
  return {errno == EINTR ? io_status::interrupted : io_status::failed, 0};
}

io_result posix_write(file_handle file, const void* data, std::size_t size) {
  ssize_t put = ::write(static_cast<int>(file), data, size);
  if (put >= 0) return {io_status::done, static_cast<std::size_t>(put)};
  return {errno == EINTR ? io_status::interrupted : io_status::failed, 0};
}

// Never retried: after an interrupted close the descriptor may already be
// gone, and a retry could close one that another thread just opened.
bool posix_close(file_handle file) { return ::close(static_cast<int>(file)) == 0; }

bool posix_remove(file_handle, const char* path) { return ::unlink(path) == 0; }

const call_table& native_calls() {
  static const call_table table = {
      posix_open_for_reading,
      posix_open_for_writing,
      posix_describe,
      posix_describe_path,
      posix_describe_link,
      posix_empty,
      posix_read,
      posix_write,
      posix_close,
      posix_remove,
  };
  return table;
}

void (*termination_cleanup)() = nullptr;

extern "C" void on_termination_signal(int signal_number) {
  termination_cleanup();
  // Ends the process as the signal would have: a caller (make, a shell) sees
  // death by this signal. It is delivered once this handler returns.
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

bool is_ignored(int signal_number) {
  struct sigaction current {};
  return ::sigaction(signal_number, nullptr, &current) == 0 &&
         (current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == SIG_IGN;
}

}  // namespace

void prepare_process(void (*on_termination)()) {
  termination_cleanup = on_termination;
  struct sigaction current {};
  if (::sigaction(SIGXFSZ, nullptr, &current) == 0 && (current.sa_flags & SA_SIGINFO) == 0 &&
      current.sa_handler == SIG_DFL) {
    ::signal(SIGXFSZ, SIG_IGN);  // the write then fails with EFBIG
  }
  constexpr int termination_signals[] = {SIGINT, SIGTERM, SIGHUP};
  struct sigaction action {};
  action.sa_handler = on_termination_signal;
  ::sigemptyset(&action.sa_mask);
  for (const int signal_number : termination_signals) ::sigaddset(&action.sa_mask, signal_number);
  for (const int signal_number : termination_signals) {
    if (!is_ignored(signal_number)) ::sigaction(signal_number, &action, nullptr);
  }
}

bool resource_name_bytes(const char* argument, std::string* name) {
  *name = argument;
  return true;
}

void print_message(std::FILE* stream, const char* before, const char* path, const char* after) {
  std::fputs(before, stream);
  std::fputs(path, stream);
  std::fputs(after, stream);
  std::fflush(stream);
}

}  // namespace lorvex::system

#endif

namespace lorvex::system {

call_table& calls() {
  static call_table table = native_calls();
  return table;
}

void discard_written_file(file_handle file, const file_description& written,
                          const path_char* path) {
  if (!written.regular) return;  // a device or pipe is not ours to empty or remove
  // Emptied first, so that even a file that cannot be removed holds no half script.
  if (file != no_file) calls().empty(file);
  file_description named;
  if (calls().describe_link(path, &named) && named.regular && same_file(named, written)) {
    calls().remove(file, path);
  }
}

}  // namespace lorvex::system
