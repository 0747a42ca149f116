// The Win32 side of system_file.hpp: handles, wide paths in every form
// Windows takes, console events and the ANSI code page. Each call makes a
// single attempt; retries and short writes are the caller's job.
#include "system_file.hpp"

#include <io.h>
#include <windows.h>

#include <cstring>
#include <cwchar>
#include <utility>

#include "system_win32.hpp"

namespace lorvex::system {
namespace {

HANDLE to_native(file_handle file) { return reinterpret_cast<HANDLE>(file); }

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE;

bool has_prefix(const std::wstring& text, const wchar_t* prefix) {
  return text.compare(0, std::wcslen(prefix), prefix) == 0;
}

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool equal_ignoring_case(const wchar_t* a, std::size_t a_length, const wchar_t* b,
                         std::size_t b_length) {
  return CompareStringOrdinal(a, static_cast<int>(a_length), b, static_cast<int>(b_length), TRUE) ==
         CSTR_EQUAL;
}

// The forms of a typed path, told by its first characters as Windows tells
// them; either separator counts in every prefix.
enum class path_form { drive_absolute, drive_relative, rooted, relative, unc, device, verbatim };

path_form form_of(const wchar_t* typed) {
  if (is_separator(typed[0])) {
    if (!is_separator(typed[1])) return path_form::rooted;  // \dir, on the current drive
    if ((typed[2] == L'.' || typed[2] == L'?') && (is_separator(typed[3]) || typed[3] == L'\0')) {
      return typed[2] == L'?' && typed[3] != L'\0' ? path_form::verbatim : path_form::device;
    }
    return path_form::unc;
  }
  if (typed[0] != L'\0' && typed[1] == L':') {
    return is_separator(typed[2]) ? path_form::drive_absolute : path_form::drive_relative;
  }
  return path_form::relative;
}

bool full_path_of(const wchar_t* typed, std::wstring* full) {
  full->assign(MAX_PATH, L'\0');
  DWORD length = GetFullPathNameW(typed, MAX_PATH, full->data(), nullptr);
  if (length >= MAX_PATH) {  // length is then the size needed
    full->resize(length);
    length = GetFullPathNameW(typed, length, full->data(), nullptr);
  }
  if (length == 0 || length >= full->size()) return false;
  full->resize(length);
  return true;
}

// Whether a full path names a file on a drive or a share (X:\... or
// \\server\share\..., either also behind \\.\ or \\?\). The share "pipe" holds
// named pipes; any other device path (GLOBALROOT, a device) is no file either.
bool names_file(const std::wstring& full) {
  std::size_t server = 2;
  if (has_prefix(full, L"\\\\?\\") || has_prefix(full, L"\\\\.\\")) {
    const wchar_t* rest = full.c_str() + 4;
    if (rest[0] != L'\0' && rest[1] == L':' && rest[2] == L'\\' && rest[3] != L'\0') return true;
    if (full.size() < 8 || !equal_ignoring_case(rest, 4, L"UNC\\", 4)) return false;
    server = 8;
  } else if (!has_prefix(full, L"\\\\")) {
    return true;  // X:\...
  }
  const std::size_t share = full.find(L'\\', server);
  if (share == std::wstring::npos || share == server) return false;
  const std::size_t share_end = full.find(L'\\', share + 1);
  const std::size_t length =
      (share_end == std::wstring::npos ? full.size() : share_end) - share - 1;
  return length > 0 && !equal_ignoring_case(full.c_str() + share + 1, length, L"pipe", 4);
}

// A legacy device that a path names only by its reserved stem (nul.txt,
// aux.rc, "nul ", nul.rc:nul) is refused: only the bare name is taken, as the
// last part of the path, with one colon after it (NUL, con:, C:\x\NUL).
bool typed_as_device_name(const wchar_t* typed, path_form form, const std::wstring& full) {
  const wchar_t* name = typed;
  for (const wchar_t* at = typed; *at != L'\0'; ++at) {
    if (is_separator(*at)) name = at + 1;
  }
  if (form == path_form::drive_relative && name == typed) name += 2;  // C:NUL
  std::size_t length = std::wcslen(name);
  if (length > 0 && name[length - 1] == L':') --length;
  return equal_ignoring_case(name, length, full.c_str() + 4, full.size() - 4);
}

// A typed path as lorvex uses it, decided from its form alone.
struct windows_path {
  std::wstring native;  // what CreateFileW is given; empty: open nothing
  bool file = false;    // a drive or share file: it may be looked at before the
                        // open and by the cleanup; anything else is opened once
};

windows_path classify(const wchar_t* typed) {
  windows_path path;
  if (typed[0] == L'\0') return path;  // some layers take it for the current folder
  const path_form form = form_of(typed);
  std::wstring full;
  // Windows uses \\?\ with backslashes exactly as written, and normalises
  // every other spelling (//?/, //./, \\.\) as GetFullPathNameW does.
  if (form == path_form::verbatim && has_prefix(typed, L"\\\\?\\")) {
    full = typed;
  } else if (!full_path_of(typed, &full)) {
    return path;
  }
  const bool typed_as_device = form == path_form::device || form == path_form::verbatim;
  if (!typed_as_device && has_prefix(full, L"\\\\.\\") &&
      !typed_as_device_name(typed, form, full)) {
    return path;
  }
  path.file = names_file(full);
  // A long full path takes the \\?\ form, free of MAX_PATH and of the
  // long-path setting; 12 below MAX_PATH is the limit for folders.
  if (path.file && full.size() > MAX_PATH - 12) {
    if (has_prefix(full, L"\\\\.\\")) {
      full[2] = L'?';  // already normalised: the same file
    } else if (has_prefix(full, L"\\\\?\\")) {
      // never a second prefix
    } else if (has_prefix(full, L"\\\\")) {
      full.insert(2, L"?\\UNC\\");  // \\server\share becomes \\?\UNC\server\share
    } else {
      full.insert(0, L"\\\\?\\");
    }
  }
  path.native = std::move(full);
  return path;
}

bool open_native(const wchar_t* path, DWORD access, DWORD disposition, file_handle* file) {
  const windows_path named = classify(path);
  if (named.native.empty()) return false;
  HANDLE handle = CreateFileW(named.native.c_str(), access, share_all, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  // Delete access lets an unfinished script be removed through this very
  // handle; where permissions or another process's sharing refuse it, the
  // file is opened without (and can then only be emptied).
  const DWORD error = GetLastError();
  if (handle == INVALID_HANDLE_VALUE && (access & DELETE) != 0 &&
      (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)) {
    handle = CreateFileW(named.native.c_str(), access & ~DELETE, share_all, nullptr, disposition,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (handle == INVALID_HANDLE_VALUE) return false;
  *file = reinterpret_cast<file_handle>(handle);
  return true;
}

// FileIdInfo gives the 64-bit volume serial and the 128-bit file ID (ReFS
// needs all of it); where a volume lacks it, the 32-bit serial and 64-bit
// index serve. A serial and an ID that are both 0 identify nothing.
void read_identity(HANDLE handle, file_description* description) {
  BY_HANDLE_FILE_INFORMATION info{};
  const bool has_info = win32_calls().get_file_information_by_handle(handle, &info) != 0;
  FILE_ID_INFO id;
  if (win32_calls().get_file_information_by_handle_ex(handle, FileIdInfo, &id, sizeof id)) {
    description->volume = id.VolumeSerialNumber;
    static_assert(sizeof id.FileId.Identifier == 2 * sizeof description->index, "128 bits");
    std::memcpy(&description->index, id.FileId.Identifier, sizeof description->index);
    std::memcpy(&description->index_high, id.FileId.Identifier + sizeof description->index,
                sizeof description->index_high);
  } else if (has_info) {
    description->volume = info.dwVolumeSerialNumber;
    description->index =
        (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  } else {
    return;
  }
  description->identified =
      description->volume != 0 || description->index != 0 || description->index_high != 0;
  description->regular =
      has_info &&
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
  // A look at anything but a drive or share file can act: a named pipe
  // would take it for a client's connection.
  const windows_path named = classify(path);
  if (!named.file) return false;
  // Access 0 asks for attributes only; backup semantics opens a folder too.
  HANDLE handle = CreateFileW(
      named.native.c_str(), 0, share_all | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
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

// One byte at 2^62, far beyond any data a file can hold: a lock there keeps
// lorvex runs apart and no other handle's reads or writes. A handle without
// FILE_FLAG_OVERLAPPED waits for it; its close lets it go.
lock_result native_lock(file_handle file) {
  OVERLAPPED at{};
  at.OffsetHigh = 0x40000000;
  if (!LockFileEx(to_native(file), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at)) {
    // A wait cancelled (CancelSynchronousIo) is no licence to write unlocked.
    return GetLastError() == ERROR_OPERATION_ABORTED ? lock_result::interrupted
                                                     : lock_result::unavailable;
  }
  // Deleted by the run before (it failed), as its handle closed: this
  // handle then holds a file that no path reaches, and that goes with it.
  FILE_STANDARD_INFO standard{};
  if (GetFileInformationByHandleEx(to_native(file), FileStandardInfo, &standard, sizeof standard) &&
      standard.DeletePending) {
    return lock_result::removed;
  }
  return lock_result::held;
}

io_result native_read(file_handle file, void* buffer, std::size_t size) {
  DWORD got = 0;
  const BOOL done = ReadFile(to_native(file), buffer, static_cast<DWORD>(size), &got, nullptr);
  // The server closed or disconnected the pipe: that is its end, not a failure.
  const DWORD error = done ? ERROR_SUCCESS : GetLastError();
  const bool ended = error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED;
  return {done || ended ? io_status::done : io_status::failed, got};
}

io_result native_write(file_handle file, const void* data, std::size_t size) {
  DWORD put = 0;
  const BOOL done = WriteFile(to_native(file), data, static_cast<DWORD>(size), &put, nullptr);
  return {done ? io_status::done : io_status::failed, put};
}

bool native_remove(file_handle file, const wchar_t* path) {
  if (file == no_file) {
    const windows_path named = classify(path);
    return named.file && DeleteFileW(named.native.c_str()) != 0;
  }
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
    native_lock,
    native_read,
    native_write,
    [](file_handle file) { return CloseHandle(to_native(file)) != 0; },
    native_remove,
};

void (*termination_cleanup)() = nullptr;
HANDLE writing_thread = nullptr;

win32_call_table win32_table = {GetFileInformationByHandleEx, GetFileInformationByHandle,
                                SuspendThread, GetThreadContext, TerminateProcess};

}  // namespace

const call_table& native_calls() { return native_table; }

win32_call_table& win32_calls() { return win32_table; }

BOOL WINAPI on_console_event(DWORD event) {
  if (event > CTRL_CLOSE_EVENT) return FALSE;  // not Ctrl+C, Ctrl+Break or a closed console
  // This runs on a thread of its own. The writing one stops first, so that
  // nothing reaches the file after the cleanup; SuspendThread only asks for
  // that, and GetThreadContext waits until it has happened.
  if (writing_thread != nullptr &&
      win32_calls().suspend_thread(writing_thread) != static_cast<DWORD>(-1)) {
    CONTEXT context{};
    context.ContextFlags = CONTEXT_CONTROL;
    win32_calls().get_thread_context(writing_thread, &context);
  }
  termination_cleanup();
  // The status the default handler gives, without the C runtime's shutdown,
  // which could wait for a lock that the stopped thread holds.
  win32_calls().terminate_process(GetCurrentProcess(), static_cast<UINT>(STATUS_CONTROL_C_EXIT));
  return TRUE;
}

void prepare_process(void (*on_termination)()) {
  termination_cleanup = on_termination;
  DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &writing_thread,
                  THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, 0);
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
