// The Win32 side of system_file.hpp: handles, wide paths in every form
// Windows takes, console events and the ANSI code page. Each call makes a
// single attempt; retries and short writes are the caller's job. A console
// event ends the run on the main thread, which owns every handle.
#include "system_file.hpp"

#include <io.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <utility>

#include "system_win32.hpp"

// Platform block: what older SDK and MinGW-w64 headers declare only for
// newer _WIN32_WINNT settings (Windows 10 1607 and later).
#ifndef FILE_DISPOSITION_FLAG_DELETE
#define FILE_DISPOSITION_FLAG_DELETE 0x00000001
#define FILE_DISPOSITION_FLAG_POSIX_SEMANTICS 0x00000002
#endif
namespace lorvex::system {
namespace {
constexpr auto file_disposition_info_ex = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
struct disposition_info_ex {
  DWORD flags;
};
}  // namespace
}  // namespace lorvex::system
// End of the platform block.

namespace lorvex::system {
namespace {

HANDLE to_native(file_handle file) { return reinterpret_cast<HANDLE>(file); }

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE;
// The output shares delete too: its discard takes delete access through a
// second handle, which every open handle of the file must allow.
constexpr DWORD output_sharing = share_all | FILE_SHARE_DELETE;

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
  DWORD length = win32_calls().get_full_path_name(typed, MAX_PATH, full->data(), nullptr);
  if (length >= MAX_PATH) {  // length is then the size needed
    full->resize(length);
    length = win32_calls().get_full_path_name(typed, length, full->data(), nullptr);
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
    // A volume by its GUID, \\?\Volume{...}\..., is a drive by another name.
    if (full.size() > 11 && equal_ignoring_case(rest, 7, L"Volume{", 7)) {
      const std::size_t end = full.find(L"}\\", 11);
      return end != std::wstring::npos && end + 2 < full.size();
    }
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

// The output, classified once as it is opened, so that its cleanup, which
// may run on the console handler's thread, neither classifies nor allocates.
std::wstring registered_typed;
windows_path registered_output;

const windows_path& classified(const wchar_t* typed, windows_path* scratch) {
  if (!registered_output.native.empty() && registered_typed == typed) return registered_output;
  *scratch = classify(typed);
  return *scratch;
}

// --- The ending of an interrupted run ---
// A console event sets interrupted and cancels the main thread's blocked
// call; the main thread then cleans up at its next call and ends the
// process. The handler never touches a handle that the main thread may be
// using, and does the cleanup itself, through handles of its own, only if
// the main thread never comes. Taking the ending and cancelling exclude each
// other, so that no cancel reaches the main thread's own cleanup.
void (*termination_cleanup)() = nullptr;
signal_flag interrupted;
std::atomic<DWORD> ending_thread{0};  // the thread that took the ending road, 0 before
signal_flag cleaned_up;
DWORD main_thread_id = 0;
HANDLE main_thread = nullptr;
SRWLOCK ending_lock = SRWLOCK_INIT;

// True for the thread that takes the ending first, and again on it.
bool take_ending() {
  AcquireSRWLockExclusive(&ending_lock);
  DWORD holder = 0;
  const bool taken = ending_thread.compare_exchange_strong(holder, GetCurrentThreadId()) ||
                     holder == GetCurrentThreadId();
  ReleaseSRWLockExclusive(&ending_lock);
  return taken;
}

// Cancels the main thread's call in progress unless the ending is taken;
// false once it is.
bool cancel_unless_ending() {
  AcquireSRWLockExclusive(&ending_lock);
  const bool open = ending_thread.load() == 0;
  if (open && main_thread != nullptr) CancelSynchronousIo(main_thread);
  ReleaseSRWLockExclusive(&ending_lock);
  return open;
}

void clean_up_and_end() {
  if (!cleaned_up.load() && termination_cleanup != nullptr) termination_cleanup();
  // The status the default handler gives, without the C runtime's shutdown.
  win32_calls().terminate_process(GetCurrentProcess(), static_cast<UINT>(STATUS_CONTROL_C_EXIT));
  cleaned_up.store(true);  // reached only where the ending is faked
}

// Each of the main thread's calls looks before and after it runs.
void end_if_interrupted() {
  if (!interrupted.load() || GetCurrentThreadId() != main_thread_id) return;
  if (ending_thread.load() == main_thread_id) return;  // its own cleanup's calls
  if (take_ending()) {
    clean_up_and_end();
    return;  // only where the ending is faked
  }
  for (;;) Sleep(INFINITE);  // the handler cleans up and ends the process
}

// How long a run waits before it asks a server for a refused lock again.
constexpr DWORD lock_retry_ms = 50;

bool open_native(const wchar_t* path, DWORD access, DWORD sharing, DWORD disposition,
                 file_handle* file) {
  end_if_interrupted();
  windows_path scratch;
  const windows_path& named = classified(path, &scratch);
  if (named.native.empty()) return false;
  const HANDLE handle = CreateFileW(named.native.c_str(), access, sharing, nullptr, disposition,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  end_if_interrupted();
  if (handle == INVALID_HANDLE_VALUE) return false;
  *file = reinterpret_cast<file_handle>(handle);
  return true;
}

// Only a name surrogate (a symbolic link, a junction) stands for another
// file; other reparse points (cloud placeholders, deduplicated files) are
// the file itself. Where the tag cannot be read, it counts as a link.
bool is_link_or_folder(HANDLE handle, DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return true;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return false;
  FILE_ATTRIBUTE_TAG_INFO tag{};
  return !win32_calls().get_file_information_by_handle_ex(handle, FileAttributeTagInfo, &tag,
                                                          sizeof tag) ||
         IsReparseTagNameSurrogate(tag.ReparseTag);
}

// FileIdInfo gives the 64-bit volume serial and the 128-bit file ID (ReFS
// needs all of it); where a volume lacks it or answers 0, the 32-bit serial
// and 64-bit index serve. An ID of 0 identifies nothing, whatever the serial:
// some file systems and redirected drives answer 0 for every file. The
// serial is kept all the same: files on two volumes are never one.
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
  }
  if (description->index == 0 && description->index_high == 0 && has_info) {
    description->volume = info.dwVolumeSerialNumber;
    description->index =
        (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  }
  description->identified = description->index != 0 || description->index_high != 0;
  description->regular = has_info && !is_link_or_folder(handle, info.dwFileAttributes);
}

bool native_describe(file_handle file, file_description* description) {
  *description = file_description{};
  const DWORD type = GetFileType(to_native(file));
  if (type == FILE_TYPE_DISK) read_identity(to_native(file), description);
  // Only a file on a network share answers this.
  FILE_REMOTE_PROTOCOL_INFO protocol{};
  description->remote = type == FILE_TYPE_DISK &&
                        win32_calls().get_file_information_by_handle_ex(
                            to_native(file), FileRemoteProtocolInfo, &protocol, sizeof protocol);
  description->regular = type == FILE_TYPE_DISK;         // by its type: its identity may be unknown
  if (type == FILE_TYPE_DISK) description->file = file;  // a device is never the same file
  if (type == FILE_TYPE_PIPE) description->kind = file_kind::pipe;
  if (type == FILE_TYPE_CHAR) description->kind = file_kind::character_device;
  return type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE || type == FILE_TYPE_CHAR;
}

bool describe_native_path(const wchar_t* path, bool follow_link, file_description* description) {
  // A look at anything but a drive or share file can act: a named pipe
  // would take it for a client's connection.
  windows_path scratch;
  const windows_path& named = classified(path, &scratch);
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

// Through a handle of its own: the calls of the main thread's handle are
// taken one at a time, and the Ctrl+C handler's cleanup must not wait
// behind a call in progress there. The file pointer is never moved.
bool native_empty(file_handle file) {
  end_if_interrupted();
  const HANDLE emptying =
      win32_calls().reopen_file(to_native(file), GENERIC_WRITE, output_sharing, 0);
  FILE_END_OF_FILE_INFO end{};
  const bool emptied =
      emptying != INVALID_HANDLE_VALUE &&
      win32_calls().set_file_information_by_handle(emptying, FileEndOfFileInfo, &end, sizeof end);
  if (emptying != INVALID_HANDLE_VALUE) CloseHandle(emptying);
  end_if_interrupted();
  return emptied;
}

// A lock on far_lock_byte. A handle without FILE_FLAG_OVERLAPPED waits for
// it; its close lets it go. Only the errors of a file system without locks
// let the run go on unlocked; a cancel (CancelSynchronousIo) waits again, as
// does a server that refuses a waiting request while another run holds the
// byte (some SMB servers do).
lock_result native_lock(file_handle file) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(far_lock_byte);
  at.OffsetHigh = static_cast<DWORD>(far_lock_byte >> 32);
  end_if_interrupted();
  const BOOL locked =
      win32_calls().lock_file_ex(to_native(file), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at);
  end_if_interrupted();  // Ctrl+C while waiting: the file is not yet claimed, nothing is touched
  if (locked) return lock_result::held;
  switch (GetLastError()) {
    case ERROR_LOCK_VIOLATION:
      win32_calls().sleep(lock_retry_ms);
      return lock_result::interrupted;
    case ERROR_OPERATION_ABORTED:
      return lock_result::interrupted;
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
    case ERROR_CALL_NOT_IMPLEMENTED:
      return lock_result::unavailable;
    default:
      return lock_result::refused;
  }
}

// A console is read as text typed in UTF-16, given in the console's input
// code page as ReadFile would give it: ReadFile cannot tell a read that
// Ctrl+C cut short from the end of the input (since Windows 8 both succeed
// with nothing), and under code page 65001 it loses every character beyond
// ASCII. A read cut short, by Ctrl+C, Ctrl+Break or the handler's cancel,
// succeeds with nothing: it is never the end of the input. The run ends at
// the next call if a handler came; where the caller ignored Ctrl+C, none
// comes, and the read is made again.
io_result read_console(HANDLE console, void* buffer, std::size_t size) {
  // At most four bytes a UTF-16 unit in any code page (GB 18030).
  wchar_t typed[1024];
  static wchar_t pending_high_surrogate = 0;  // its pair comes with the next read
  DWORD held = 0;
  if (pending_high_surrogate != 0) typed[held++] = pending_high_surrogate;
  const auto room = static_cast<DWORD>(std::min<std::size_t>(size / 4, std::size(typed)));
  DWORD got = 0;
  const BOOL done = win32_calls().read_console(console, typed + held, room - held, &got, nullptr);
  if (!done && GetLastError() != ERROR_OPERATION_ABORTED) return {io_status::failed, 0};
  if (!done || got == 0) return {io_status::interrupted, 0};
  held += got;
  pending_high_surrogate = IS_HIGH_SURROGATE(typed[held - 1]) ? typed[--held] : 0;
  if (held == 0) return {io_status::interrupted, 0};
  const int bytes = WideCharToMultiByte(win32_calls().get_console_input_code_page(), 0, typed,
                                        static_cast<int>(held), static_cast<char*>(buffer),
                                        static_cast<int>(size), nullptr, nullptr);
  return {bytes > 0 ? io_status::done : io_status::failed, static_cast<std::size_t>(bytes)};
}

io_result native_read(file_handle file, void* buffer, std::size_t size) {
  end_if_interrupted();
  DWORD mode = 0;
  if (win32_calls().get_console_mode(to_native(file), &mode)) {
    const io_result typed = read_console(to_native(file), buffer, size);
    end_if_interrupted();
    return typed;
  }
  DWORD got = 0;
  const BOOL done =
      win32_calls().read_file(to_native(file), buffer, static_cast<DWORD>(size), &got, nullptr);
  const DWORD error = GetLastError();
  end_if_interrupted();
  // A pipe server may send an empty message: only its close or disconnect
  // ends the pipe. A pipe that cannot be peeked at any more, or never could
  // (a FIFO that Wine opens as a pipe, whose writer has gone), ends here.
  if (done && got == 0 && GetFileType(to_native(file)) == FILE_TYPE_PIPE &&
      PeekNamedPipe(to_native(file), nullptr, 0, nullptr, nullptr, nullptr)) {
    return {io_status::interrupted, 0};
  }
  const bool ended = !done && (error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED);
  return {done || ended ? io_status::done : io_status::failed, got};
}

io_result native_write(file_handle file, const void* data, std::size_t size) {
  end_if_interrupted();
  DWORD put = 0;
  const BOOL done =
      win32_calls().write_file(to_native(file), data, static_cast<DWORD>(size), &put, nullptr);
  end_if_interrupted();
  return {done ? io_status::done : io_status::failed, put};
}

// Delete access is taken only now, through the open handle, so that it
// reaches this very file. The name goes at once where the volume allows it
// (NTFS, Windows 10 1809 and later), even while another program holds the
// file; elsewhere when the last handle closes. Allocates nothing.
bool native_remove(file_handle file, const wchar_t* path) {
  if (file == no_file) {
    windows_path scratch;
    const windows_path& named = classified(path, &scratch);
    return named.file && DeleteFileW(named.native.c_str()) != 0;
  }
  const HANDLE deleting = win32_calls().reopen_file(to_native(file), DELETE, output_sharing, 0);
  if (deleting == INVALID_HANDLE_VALUE) return false;  // it stays emptied
  disposition_info_ex posix{FILE_DISPOSITION_FLAG_DELETE | FILE_DISPOSITION_FLAG_POSIX_SEMANTICS};
  FILE_DISPOSITION_INFO legacy{TRUE};
  const bool at_once = win32_calls().set_file_information_by_handle(
      deleting, file_disposition_info_ex, &posix, sizeof posix);
  const bool removed = at_once || win32_calls().set_file_information_by_handle(
                                      deleting, FileDispositionInfo, &legacy, sizeof legacy);
  // Where the name stays until the last handle closes, another run waiting
  // on the file would find it still at the path, and Wine lets it be opened
  // there: it is renamed out of the way, in its folder, as it goes.
  if (removed && !at_once) {
    alignas(
        FILE_RENAME_INFO) unsigned char rename[sizeof(FILE_RENAME_INFO) + 32 * sizeof(wchar_t)]{};
    auto* const renamed = reinterpret_cast<FILE_RENAME_INFO*>(rename);
    const int length = std::swprintf(renamed->FileName, 32, L"lorvex-%lu.removed",
                                     static_cast<unsigned long>(GetCurrentProcessId()));
    renamed->FileNameLength = static_cast<DWORD>(length) * sizeof(wchar_t);
    win32_calls().set_file_information_by_handle(deleting, FileRenameInfo, renamed, sizeof rename);
  }
  CloseHandle(deleting);
  return removed;
}

bool final_path(HANDLE handle, DWORD flags, std::wstring* path) {
  path->assign(MAX_PATH, L'\0');
  DWORD length = win32_calls().get_final_path_name(handle, path->data(), MAX_PATH, flags);
  if (length >= MAX_PATH) {  // the size needed, its NUL counted
    path->assign(length, L'\0');
    length = win32_calls().get_final_path_name(handle, path->data(), length, flags);
  }
  if (length == 0 || length >= path->size()) return false;
  path->resize(length);
  return true;
}

sameness native_compare_final_paths(file_handle a, file_handle b) {
  std::wstring a_path;
  std::wstring b_path;
  // The drive form where both have one, else the volume's device name.
  for (const DWORD flags : {DWORD{FILE_NAME_NORMALIZED | VOLUME_NAME_DOS},
                            DWORD{FILE_NAME_NORMALIZED | VOLUME_NAME_NT}}) {
    if (final_path(to_native(a), flags, &a_path) && final_path(to_native(b), flags, &b_path)) {
      return equal_ignoring_case(a_path.c_str(), a_path.size(), b_path.c_str(), b_path.size())
                 ? sameness::same
                 : sameness::different;
    }
  }
  return sameness::unknown;
}

const call_table native_table = {
    [](const wchar_t* path, file_handle* file) {
      return open_native(path, GENERIC_READ, share_all, OPEN_EXISTING, file);
    },
    // OPEN_ALWAYS: an existing file keeps its attributes (CREATE_ALWAYS
    // resets them and refuses hidden files).
    [](const wchar_t* path, file_handle* file) {
      registered_output = classify(path);
      registered_typed = path;
      return open_native(path, GENERIC_WRITE, output_sharing, OPEN_ALWAYS, file);
    },
    native_describe,
    describe_native_path,
    native_empty,
    native_lock,
    native_read,
    native_write,
    [](file_handle file) {
      end_if_interrupted();
      const bool flushed = win32_calls().flush_file_buffers(to_native(file)) != 0;
      end_if_interrupted();
      return flushed;
    },
    [](file_handle file) {
      end_if_interrupted();  // not after: the handle is gone then
      return CloseHandle(to_native(file)) != 0;
    },
    native_remove,
    native_compare_final_paths,
};

win32_call_table win32_table = {GetFileInformationByHandleEx,
                                GetFileInformationByHandle,
                                ReOpenFile,
                                SetFileInformationByHandle,
                                LockFileEx,
                                ReadFile,
                                GetConsoleMode,
                                ReadConsoleW,
                                GetConsoleCP,
                                FlushFileBuffers,
                                WriteFile,
                                Sleep,
                                TerminateProcess,
                                GetFullPathNameW,
                                GetFinalPathNameByHandleW};

// The handler waits this long for the main thread to end the run, a little
// less than the 5 seconds that Windows gives a closed console.
constexpr DWORD handler_step_ms = 20;
constexpr int handler_steps = 200;

}  // namespace

const call_table& native_calls() { return native_table; }

win32_call_table& win32_calls() { return win32_table; }

// A program under a service (a CI agent) receives CTRL_LOGOFF_EVENT whenever
// any user logs off, and its default handling does not end it: nor does
// lorvex's. Interactive programs never receive it or CTRL_SHUTDOWN_EVENT.
BOOL WINAPI on_console_event(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT &&
      event != CTRL_SHUTDOWN_EVENT) {
    return FALSE;
  }
  interrupted.store(true);
  // Cancelled again and again: a call that the main thread starts after a
  // cancel still sees the flag before it starts, or is cancelled next time.
  for (int step = 0; step < handler_steps && cancel_unless_ending(); ++step) {
    win32_calls().sleep(handler_step_ms);
  }
  if (take_ending()) {
    clean_up_and_end();  // the main thread never came: stuck outside lorvex's calls
  } else {
    while (!cleaned_up.load()) win32_calls().sleep(handler_step_ms);
    win32_calls().terminate_process(GetCurrentProcess(), static_cast<UINT>(STATUS_CONTROL_C_EXIT));
  }
  return TRUE;
}

void prepare_process(void (*on_termination)()) {
  termination_cleanup = on_termination;
  interrupted.store(false);
  ending_thread.store(0);
  cleaned_up.store(false);
  main_thread_id = GetCurrentThreadId();
  if (main_thread != nullptr) CloseHandle(main_thread);
  main_thread = nullptr;
  // CancelSynchronousIo needs THREAD_TERMINATE.
  DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &main_thread,
                  THREAD_TERMINATE, FALSE, 0);
  SetConsoleCtrlHandler(on_console_event, TRUE);  // not called for a Ctrl+C the caller ignores
}

const char* resource_name_bytes(const wchar_t* argument, std::string* name) {
  // WC_NO_BEST_FIT_CHARS gives the default character instead of a lookalike
  // for a character that the code page lacks, and it is refused. UTF-8 as the
  // ANSI code page holds every character and takes no such flag.
  const UINT code_page = GetACP();
  const DWORD flags = code_page == CP_UTF8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL lossy = FALSE;
  BOOL* const lossy_report = code_page == CP_UTF8 ? nullptr : &lossy;
  int size = WideCharToMultiByte(code_page, flags, argument, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return nullptr;
  name->assign(static_cast<std::size_t>(size), '\0');
  size = WideCharToMultiByte(code_page, flags, argument, -1, name->data(), size, nullptr,
                             lossy_report);
  name->pop_back();
  return size > 0 && !lossy ? name->c_str() : nullptr;
}

bool print_message(std::FILE* stream, const char* before, const wchar_t* path, const char* after) {
  std::fflush(stream);
  // A process started without a standard output (by a GUI program, as a
  // detached job) has no descriptor for it, and _get_osfhandle would end
  // the process for the invalid one: such a message goes nowhere.
  const int descriptor = _fileno(stream);
  if (descriptor < 0) return false;
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
  DWORD mode = 0;
  if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
    std::wstring line(before, before + std::strlen(before));  // the fixed parts are ASCII
    line += path;
    for (const char* c = after; *c != '\0'; ++c) {
      if (*c == '\n') line += L'\r';
      line += static_cast<wchar_t>(static_cast<unsigned char>(*c));
    }
    DWORD written = 0;
    return WriteConsoleW(handle, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
           written == line.size();
  }
  const int size = WideCharToMultiByte(CP_UTF8, 0, path, -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, path, -1, utf8.data(), size, nullptr, nullptr);
  const int printed = std::fprintf(stream, "%s%s%s", before, utf8.c_str(), after);
  return std::fflush(stream) == 0 && printed >= 0;
}

}  // namespace lorvex::system
