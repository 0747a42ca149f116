// The platform blocks behind system_file.hpp: one for POSIX, one for Win32,
// each filling in native_table. Each call makes a single attempt; retries and
// short writes are the caller's job.
#include "system_file.hpp"

#if defined(_WIN32)
// ---------------------------------------------------------------- Win32 block
#include <io.h>
#include <windows.h>

#include <cstring>
#include <cwchar>

namespace lorvex::system {
namespace {

HANDLE to_native(file_handle file) { return reinterpret_cast<HANDLE>(file); }

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE;

bool has_prefix(const wchar_t* text, const wchar_t* prefix) {
  return std::wcsncmp(text, prefix, std::wcslen(prefix)) == 0;
}

// What CreateFileW is given for a path as typed, or false to open nothing. A
// long full path takes the \\?\ form, free of MAX_PATH and of the long-path
// setting; 12 below MAX_PATH is the limit for folders.
bool native_path(const wchar_t* typed, std::wstring* native) {
  if (typed[0] == L'\0') return false;  // some layers take it for the current folder
  if (has_prefix(typed, L"\\\\?\\") || has_prefix(typed, L"\\\\.\\")) {
    *native = typed;  // the verbatim or device namespace: exactly as written
    return true;
  }
  std::wstring full(MAX_PATH, L'\0');
  DWORD length = GetFullPathNameW(typed, MAX_PATH, full.data(), nullptr);
  if (length >= MAX_PATH) {  // length is then the size needed
    full.resize(length);
    length = GetFullPathNameW(typed, length, full.data(), nullptr);
  }
  if (length == 0 || length >= full.size()) return false;
  full.resize(length);
  if (has_prefix(full.c_str(), L"\\\\.\\")) {
    // A reserved stem makes a legacy device of nul.txt, aux.rc or "nul ";
    // only a bare device name, as the last part of the path, is taken as one.
    const wchar_t* name = typed;
    for (const wchar_t* at = typed; *at != L'\0'; ++at) {
      if (*at == L'\\' || *at == L'/' || *at == L':') name = at + 1;
    }
    if (CompareStringOrdinal(name, -1, full.c_str() + 4, -1, TRUE) != CSTR_EQUAL) return false;
    *native = full;
  } else if (full.size() <= MAX_PATH - 12) {
    *native = full;
  } else if (has_prefix(full.c_str(), L"\\\\")) {
    *native = L"\\\\?\\UNC" + full.substr(1);  // \\server\share becomes \\?\UNC\server\share
  } else {
    *native = L"\\\\?\\" + full;
  }
  return true;
}

bool open_native(const wchar_t* path, DWORD access, DWORD disposition, file_handle* file) {
  std::wstring native;
  if (!native_path(path, &native)) return false;
  HANDLE handle = CreateFileW(native.c_str(), access, share_all, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  // Delete access lets an unfinished script be removed through this very
  // handle; where permissions or another process's sharing refuse it, the
  // file is opened without (and can then only be emptied).
  const DWORD error = GetLastError();
  if (handle == INVALID_HANDLE_VALUE && (access & DELETE) != 0 &&
      (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)) {
    return open_native(path, access & ~DELETE, disposition, file);
  }
  if (handle == INVALID_HANDLE_VALUE) return false;
  *file = reinterpret_cast<file_handle>(handle);
  return true;
}

void read_identity(HANDLE handle, file_description* description) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return;
  description->identified = true;
  description->volume = info.dwVolumeSerialNumber;
  description->index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  description->regular =
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

bool native_describe(file_handle file, file_description* description) {
  *description = file_description{};
  const DWORD type = GetFileType(to_native(file));
  if (type == FILE_TYPE_DISK) read_identity(to_native(file), description);
  description->regular = type == FILE_TYPE_DISK;  // by its type: its identity may be unknown
  if (type == FILE_TYPE_PIPE) description->kind = file_kind::pipe;
  if (type == FILE_TYPE_CHAR) description->kind = file_kind::character_device;
  return type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE || type == FILE_TYPE_CHAR;
}

bool describe_native_path(const wchar_t* path, bool follow_link, file_description* description) {
  std::wstring native;
  // Even a look at a pipe or device path can act: a named pipe would take
  // it for a client's connection.
  if (!native_path(path, &native) || has_prefix(native.c_str(), L"\\\\.\\")) return false;
  // Access 0 asks for attributes only; backup semantics opens a folder too.
  HANDLE handle = CreateFileW(
      native.c_str(), 0, share_all | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | (follow_link ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  *description = file_description{};
  read_identity(handle, description);
  CloseHandle(handle);
  return description->identified;
}

bool native_empty(file_handle file) {
  return SetFilePointerEx(to_native(file), LARGE_INTEGER{}, nullptr, FILE_BEGIN) &&
         SetEndOfFile(to_native(file));
}

io_result native_read(file_handle file, void* buffer, std::size_t size) {
  DWORD got = 0;
  const BOOL done = ReadFile(to_native(file), buffer, static_cast<DWORD>(size), &got, nullptr);
  // The writing end of a pipe was closed: that is the pipe's end, not a failure.
  const bool ended = !done && GetLastError() == ERROR_BROKEN_PIPE;
  return {done || ended ? io_status::done : io_status::failed, got};
}

io_result native_write(file_handle file, const void* data, std::size_t size) {
  DWORD put = 0;
  const BOOL done = WriteFile(to_native(file), data, static_cast<DWORD>(size), &put, nullptr);
  return {done ? io_status::done : io_status::failed, put};
}

bool native_remove(file_handle file, const wchar_t* path) {
  std::wstring native;
  if (file == no_file) return native_path(path, &native) && DeleteFileW(native.c_str()) != 0;
  FILE_DISPOSITION_INFO disposition{TRUE};  // deleted as the last handle closes
  return SetFileInformationByHandle(to_native(file), FileDispositionInfo, &disposition,
                                    sizeof disposition) != 0;
}

const call_table native_table = {
    [](const wchar_t* path, file_handle* file) {
      return open_native(path, GENERIC_READ, OPEN_EXISTING, file);
    },
    // OPEN_ALWAYS: an existing file keeps its attributes (CREATE_ALWAYS
    // resets them and refuses hidden files).
    [](const wchar_t* path, file_handle* file) {
      return open_native(path, GENERIC_WRITE | DELETE, OPEN_ALWAYS, file);
    },
    native_describe,
    describe_native_path,
    native_empty,
    native_read,
    native_write,
    [](file_handle file) { return CloseHandle(to_native(file)) != 0; },
    native_remove,
};

void (*termination_cleanup)() = nullptr;
HANDLE writing_thread = nullptr;

BOOL WINAPI on_console_event(DWORD event) {
  if (event > CTRL_CLOSE_EVENT) return FALSE;  // not Ctrl+C, Ctrl+Break or a closed console
  // This runs on a thread of its own: the writing one stops first, so that
  // nothing reaches the file after the cleanup.
  if (writing_thread != nullptr) SuspendThread(writing_thread);
  termination_cleanup();
  ExitProcess(static_cast<UINT>(STATUS_CONTROL_C_EXIT));  // as the default handler would
}

}  // namespace

void prepare_process(void (*on_termination)()) {
  termination_cleanup = on_termination;
  DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &writing_thread,
                  THREAD_SUSPEND_RESUME, FALSE, 0);
  SetConsoleCtrlHandler(on_console_event, TRUE);  // not called for a Ctrl+C the caller ignores
}

bool resource_name_bytes(const wchar_t* argument, std::string* name) {
  // WC_NO_BEST_FIT_CHARS gives the default character instead of a lookalike
  // for a character that the code page lacks, and it is refused. UTF-8 as the
  // ANSI code page holds every character and takes no such flag.
  const UINT code_page = GetACP();
  const DWORD flags = code_page == CP_UTF8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL lossy = FALSE;
  BOOL* const lossy_report = code_page == CP_UTF8 ? nullptr : &lossy;
  int size = WideCharToMultiByte(code_page, flags, argument, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return false;
  name->assign(static_cast<std::size_t>(size), '\0');
  size = WideCharToMultiByte(code_page, flags, argument, -1, name->data(), size, nullptr,
                             lossy_report);
  name->pop_back();
  return size > 0 && !lossy;
}

void print_message(std::FILE* stream, const char* before, const wchar_t* path, const char* after) {
  std::fflush(stream);
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
    std::wstring line(before, before + std::strlen(before));  // the fixed parts are ASCII
    line += path;
    for (const char* c = after; *c != '\0'; ++c) line += *c == '\n' ? L"\r\n" : std::wstring(1, *c);
    DWORD written = 0;
    WriteConsoleW(handle, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    return;
  }
  const int size = WideCharToMultiByte(CP_UTF8, 0, path, -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, path, -1, utf8.data(), size, nullptr, nullptr);
  std::fprintf(stream, "%s%s%s", before, utf8.c_str(), after);
  std::fflush(stream);
}

}  // namespace lorvex::system

#else
// ---------------------------------------------------------------- POSIX block
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
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
  *file = fd;
  return fd >= 0;
}

bool fill_description(int result, const struct stat& status, file_description* description) {
  *description = file_description{};
  if (result != 0) return false;
  description->identified = true;
  description->volume = static_cast<std::uint64_t>(status.st_dev);
  description->index = static_cast<std::uint64_t>(status.st_ino);
  const mode_t mode = status.st_mode;
  description->regular = S_ISREG(mode);
  description->kind = S_ISFIFO(mode) || S_ISSOCK(mode) ? file_kind::pipe
                      : S_ISCHR(mode)                  ? file_kind::character_device
                                                       : file_kind::disk;
  // A block device reads as a disk; a folder, a link or anything else fails.
  return S_ISREG(mode) || S_ISBLK(mode) || description->kind != file_kind::disk;
}

bool native_empty(file_handle file) {
  // A file that is empty already is left alone: on ext4, emptying one marks
  // it as rewritten in place, and its close then waits to start writing all
  // of it to disk, a new file too.
  struct stat status {};
  if (::fstat(static_cast<int>(file), &status) == 0 && status.st_size == 0) return true;
  int result = 0;
  do {
    result = ::ftruncate(static_cast<int>(file), 0);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

io_result result_of(ssize_t moved) {
  if (moved >= 0) return {io_status::done, static_cast<std::size_t>(moved)};
  return {errno == EINTR ? io_status::interrupted : io_status::failed, 0};
}

const call_table native_table = {
    [](const char* path, file_handle* file) { return open_descriptor(path, O_RDONLY, file); },
    [](const char* path, file_handle* file) {
      return open_descriptor(path, O_WRONLY | O_CREAT, file);
    },
    [](file_handle file, file_description* description) {
      struct stat status {};
      return fill_description(::fstat(static_cast<int>(file), &status), status, description);
    },
    [](const char* path, bool follow_link, file_description* description) {
      struct stat status {};  // a link itself fails to describe
      const int result = follow_link ? ::stat(path, &status) : ::lstat(path, &status);
      return fill_description(result, status, description);
    },
    native_empty,
    [](file_handle file, void* buffer, std::size_t size) {
      return result_of(::read(static_cast<int>(file), buffer, size));
    },
    [](file_handle file, const void* data, std::size_t size) {
      return result_of(::write(static_cast<int>(file), data, size));
    },
    // Never retried: after an interrupted close the descriptor may already be
    // gone, and a retry could close one that another thread just opened.
    [](file_handle file) { return ::close(static_cast<int>(file)) == 0; },
    [](file_handle, const char* path) { return ::unlink(path) == 0; },
};

void (*termination_cleanup)() = nullptr;

extern "C" void on_termination_signal(int signal_number) {
  termination_cleanup();
  // Delivered again once this returns, now with its default action, so that
  // a caller (make, a shell) sees death by this signal.
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

bool has_action(int signal_number, void (*action)(int)) {
  struct sigaction current {};
  return ::sigaction(signal_number, nullptr, &current) == 0 &&
         (current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == action;
}

}  // namespace

void prepare_process(void (*on_termination)()) {
  termination_cleanup = on_termination;
  if (has_action(SIGXFSZ, SIG_DFL)) ::signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG
  constexpr int termination_signals[] = {SIGINT, SIGTERM, SIGHUP};
  struct sigaction action {};
  action.sa_handler = on_termination_signal;
  ::sigemptyset(&action.sa_mask);
  for (const int signal_number : termination_signals) ::sigaddset(&action.sa_mask, signal_number);
  for (const int signal_number : termination_signals) {
    if (!has_action(signal_number, SIG_IGN)) ::sigaction(signal_number, &action, nullptr);
  }
}

bool resource_name_bytes(const char* argument, std::string* name) {
  *name = argument;
  return true;
}

void print_message(std::FILE* stream, const char* before, const char* path, const char* after) {
  std::fprintf(stream, "%s%s%s", before, path, after);  // path is no format
  std::fflush(stream);
}

}  // namespace lorvex::system

#endif

namespace lorvex::system {

call_table& calls() {
  static call_table table = native_table;
  return table;
}

void discard_written_file(file_handle file, const file_description& written,
                          const path_char* path) {
  if (!written.regular) return;  // a device or pipe is not ours to empty or remove
  // Emptied first, so that even a file that cannot be removed holds no half script.
  if (file != no_file) calls().empty(file);
  file_description named;
  if (calls().describe_path(path, false, &named) && named.regular && same_file(named, written)) {
    calls().remove(file, path);
  }
}

}  // namespace lorvex::system
