// The Win32 side of system_file.hpp: handles, paths opened in the form that windows_path.cpp gives
// them, console events and the ANSI code page. Each call makes a single attempt. A console event
// ends the run on the main thread, which owns every handle.
#include "system_file.hpp"

#include <io.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <utility>

#include "system_win32.hpp"
#include "windows_path.hpp"

// Platform block: what older SDK and MinGW-w64 headers declare only for Windows 10 1607 and later.
#ifndef FILE_DISPOSITION_FLAG_DELETE
#define FILE_DISPOSITION_FLAG_DELETE 0x00000001
#define FILE_DISPOSITION_FLAG_POSIX_SEMANTICS 0x00000002
#endif
namespace lorvex::system {
namespace {
constexpr auto file_disposition_info_ex = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
}  // namespace
}  // namespace lorvex::system
// End of the platform block.

namespace lorvex::system {
namespace {

HANDLE to_native(file_handle file) { return reinterpret_cast<HANDLE>(file); }

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE;
// The output shares delete too: its discard takes delete access through a second handle.
constexpr DWORD output_sharing = share_all | FILE_SHARE_DELETE;

// A console event sets interrupted and cancels the main thread's call in progress; the main thread
// cleans up at its next call and ends the process, or else the handler, through handles of its own.
// Taking the ending and cancelling exclude each other: no cancel reaches the main thread's cleanup.
void (*termination_cleanup)() = nullptr;
signal_flag interrupted{0};
signal_flag cleaned_up{0};
std::atomic<DWORD> ending_thread{0};  // the thread that took the ending, 0 before
DWORD main_thread_id = 0;
HANDLE main_thread = nullptr;
SRWLOCK ending_lock = SRWLOCK_INIT;
// A little less than the 5 seconds that Windows gives a closed console.
constexpr DWORD handler_step_ms = 20;
constexpr int handler_steps = 200;

bool take_ending() {
  AcquireSRWLockExclusive(&ending_lock);
  DWORD holder = 0;
  const bool taken = ending_thread.compare_exchange_strong(holder, GetCurrentThreadId()) ||
                     holder == GetCurrentThreadId();
  ReleaseSRWLockExclusive(&ending_lock);
  return taken;
}

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

void end_if_interrupted() {
  if (!interrupted.load() || GetCurrentThreadId() != main_thread_id) return;
  if (ending_thread.load() == main_thread_id) return;  // its own cleanup's calls
  if (take_ending()) return clean_up_and_end();        // returns only where faked
  for (;;) Sleep(INFINITE);                            // the handler ends the process
}

// Every entry of the table looks before and after its call.
template <auto call>
struct guarded;
template <typename result, typename... arguments, result (*call)(arguments...)>
struct guarded<call> {
  static result run(arguments... values) {
    end_if_interrupted();
    const result answer = call(values...);
    end_if_interrupted();
    return answer;
  }
};

// GetFullPathNameW's or GetFinalPathNameByHandleW's answer, in a buffer grown once to its size.
template <typename answer_type>
std::wstring grown(answer_type answer) {
  std::wstring text(MAX_PATH, L'\0');
  DWORD length = answer(text.data(), MAX_PATH);
  if (length >= MAX_PATH) {
    text.assign(length, L'\0');
    length = answer(text.data(), length);
  }
  text.resize(length < text.size() ? length : 0);
  return text;
}

windows_path::resolved resolve(const wchar_t* typed) {
  return windows_path::resolve(typed, grown([typed](wchar_t* full, DWORD size) {
                                 return GetFullPathNameW(typed, size, full, nullptr);
                               }));
}

// Resolved once at its open, so that the cleanup on the handler's thread does not allocate.
std::wstring output_typed;
windows_path::resolved output_path;

const windows_path::resolved& resolved(const wchar_t* typed, windows_path::resolved* scratch) {
  if (!output_path.native.empty() && output_typed == typed) return output_path;
  return *scratch = resolve(typed);
}

bool open_native(const wchar_t* path, DWORD access, DWORD sharing, DWORD disposition,
                 file_handle* file) {
  windows_path::resolved scratch;
  const windows_path::resolved& named = resolved(path, &scratch);
  const HANDLE handle = named.native.empty()
                            ? INVALID_HANDLE_VALUE
                            : CreateFileW(named.native.c_str(), access, sharing, nullptr,
                                          disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle != INVALID_HANDLE_VALUE) *file = reinterpret_cast<file_handle>(handle);
  return handle != INVALID_HANDLE_VALUE;
}

bool open_for_reading(const wchar_t* path, file_handle* file) {
  return open_native(path, GENERIC_READ, share_all, OPEN_EXISTING, file);
}

// OPEN_ALWAYS: CREATE_ALWAYS would reset an existing file's attributes and refuse a hidden one.
bool open_for_writing(const wchar_t* path, file_handle* file) {
  output_path = resolve(path);
  output_typed = path;
  return open_native(path, GENERIC_WRITE, output_sharing, OPEN_ALWAYS, file);
}

// FileIdInfo's 128-bit ID (ReFS needs all of it), else the 64-bit index. An ID of 0 identifies
// nothing (some redirected drives answer it for every file); its serial still tells volumes apart.
// Only a name surrogate (a link, a junction) stands for another file, not a cloud placeholder.
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
  FILE_ATTRIBUTE_TAG_INFO tag{};
  const bool link = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
                    (!win32_calls().get_file_information_by_handle_ex(handle, FileAttributeTagInfo,
                                                                      &tag, sizeof tag) ||
                     IsReparseTagNameSurrogate(tag.ReparseTag));
  description->regular =
      has_info && !link && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool describe(file_handle file, file_description* description) {
  *description = file_description{};
  const DWORD type = GetFileType(to_native(file));
  if (type == FILE_TYPE_DISK) {
    read_identity(to_native(file), description);
    description->regular = true;  // by its type: its identity may be unknown
    description->file = file;
  }
  if (type == FILE_TYPE_PIPE) description->kind = file_kind::pipe;
  if (type == FILE_TYPE_CHAR) description->kind = file_kind::character_device;
  return type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE || type == FILE_TYPE_CHAR;
}

// A look at anything but a drive or share file can act: a pipe takes it for a client.
bool describe_path(const wchar_t* path, bool follow_link, file_description* description) {
  windows_path::resolved scratch;
  const windows_path::resolved& named = resolved(path, &scratch);
  if (!named.file) return false;
  HANDLE handle = CreateFileW(
      named.native.c_str(), 0, output_sharing, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | (follow_link ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  *description = file_description{};
  read_identity(handle, description);
  CloseHandle(handle);
  return description->identified;
}

// The drive form where both have one, else the volume's device name.
sameness compare_final_paths(file_handle a, file_handle b) {
  for (const DWORD flags : {DWORD{FILE_NAME_NORMALIZED | VOLUME_NAME_DOS},
                            DWORD{FILE_NAME_NORMALIZED | VOLUME_NAME_NT}}) {
    std::wstring paths[2];
    for (int i = 0; i < 2; ++i) {
      paths[i] = grown([&](wchar_t* path, DWORD size) {
        return win32_calls().get_final_path_name(to_native(i == 0 ? a : b), path, size, flags);
      });
    }
    if (paths[0].empty() || paths[1].empty()) continue;
    return CompareStringOrdinal(paths[0].c_str(), static_cast<int>(paths[0].size()),
                                paths[1].c_str(), static_cast<int>(paths[1].size()),
                                TRUE) == CSTR_EQUAL
               ? sameness::same
               : sameness::different;
  }
  return sameness::unknown;
}

// Through a handle of its own: the handler's cleanup must not wait behind the main thread's call.
bool empty(file_handle file) {
  const HANDLE emptying =
      win32_calls().reopen_file(to_native(file), GENERIC_WRITE, output_sharing, 0);
  if (emptying == INVALID_HANDLE_VALUE) return false;
  FILE_END_OF_FILE_INFO end{};
  const bool emptied =
      win32_calls().set_file_information_by_handle(emptying, FileEndOfFileInfo, &end, sizeof end);
  CloseHandle(emptying);
  return emptied;
}

// Waits (no FILE_FLAG_OVERLAPPED) until the close lets it go. A cancel waits again, as does a
// server that refuses a waiting request while another run holds the byte (some SMB servers).
lock_result lock(file_handle file) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(far_lock_byte);
  at.OffsetHigh = static_cast<DWORD>(far_lock_byte >> 32);
  if (win32_calls().lock_file_ex(to_native(file), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at)) {
    return lock_result::held;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_LOCK_VIOLATION) win32_calls().sleep(50);
  if (error == ERROR_LOCK_VIOLATION || error == ERROR_OPERATION_ABORTED) {
    return lock_result::interrupted;
  }
  const bool no_locks = error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION ||
                        error == ERROR_CALL_NOT_IMPLEMENTED;
  return no_locks ? lock_result::unavailable : lock_result::refused;
}

// Delete access, taken through the open handle, reaches this very file. The name goes at once where
// the volume allows it (NTFS, Windows 10 1809 on); elsewhere (FAT, Wine) the file goes with its
// last handle, renamed out of the way meanwhile for a run waiting on it. Allocates nothing.
bool remove(file_handle file, const wchar_t*) {
  const HANDLE deleting = win32_calls().reopen_file(to_native(file), DELETE, output_sharing, 0);
  if (deleting == INVALID_HANDLE_VALUE) return false;  // it stays emptied
  DWORD posix = FILE_DISPOSITION_FLAG_DELETE | FILE_DISPOSITION_FLAG_POSIX_SEMANTICS;
  FILE_DISPOSITION_INFO legacy{TRUE};
  const bool at_once = win32_calls().set_file_information_by_handle(
      deleting, file_disposition_info_ex, &posix, sizeof posix);
  const bool removed = at_once || win32_calls().set_file_information_by_handle(
                                      deleting, FileDispositionInfo, &legacy, sizeof legacy);
  if (removed && !at_once) {
    alignas(FILE_RENAME_INFO) unsigned char rename[sizeof(FILE_RENAME_INFO) + 64]{};
    auto* const renamed = reinterpret_cast<FILE_RENAME_INFO*>(rename);
    constexpr std::size_t room =
        (sizeof rename - offsetof(FILE_RENAME_INFO, FileName)) / sizeof(wchar_t);
    static_assert(room >= sizeof "lorvex-4294967295.removed", "every process ID fits");
    const int length = std::swprintf(renamed->FileName, room, L"lorvex-%lu.removed",
                                     static_cast<unsigned long>(GetCurrentProcessId()));
    renamed->FileNameLength = static_cast<DWORD>(length) * DWORD{sizeof(wchar_t)};
    win32_calls().set_file_information_by_handle(deleting, FileRenameInfo, renamed, sizeof rename);
  }
  CloseHandle(deleting);
  return removed;
}

// As typed, in UTF-16, given in the input code page: through ReadFile, a read that Ctrl+C cut short
// looks like the end (since Windows 8), and code page 65001 loses all beyond ASCII. A read cut
// short is never the end: a handler ends the run, or (Ctrl+C ignored) the read is made again.
io_result read_console(HANDLE console, void* buffer, std::size_t size) {
  wchar_t typed[1024];  // at most four bytes a unit in any code page (GB 18030)
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

io_result read(file_handle file, void* buffer, std::size_t size) {
  DWORD mode = 0;
  if (win32_calls().get_console_mode(to_native(file), &mode)) {
    return read_console(to_native(file), buffer, size);
  }
  DWORD got = 0;
  const BOOL done =
      win32_calls().read_file(to_native(file), buffer, static_cast<DWORD>(size), &got, nullptr);
  const DWORD error = GetLastError();
  // A pipe ends as its server ends it, not at an empty message (a FIFO under Wine: when
  // unpeekable).
  if (done && got == 0 && GetFileType(to_native(file)) == FILE_TYPE_PIPE &&
      PeekNamedPipe(to_native(file), nullptr, 0, nullptr, nullptr, nullptr)) {
    return {io_status::interrupted, 0};
  }
  const bool ended = !done && (error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED);
  return {done || ended ? io_status::done : io_status::failed, got};
}

io_result write(file_handle file, const void* data, std::size_t size) {
  DWORD put = 0;
  const BOOL done =
      win32_calls().write_file(to_native(file), data, static_cast<DWORD>(size), &put, nullptr);
  return {done ? io_status::done : io_status::failed, put};
}

// A local file is not flushed: only a file on a network share answers FileRemoteProtocolInfo.
bool sync(file_handle file) {
  FILE_REMOTE_PROTOCOL_INFO protocol{};
  return !win32_calls().get_file_information_by_handle_ex(to_native(file), FileRemoteProtocolInfo,
                                                          &protocol, sizeof protocol) ||
         win32_calls().flush_file_buffers(to_native(file)) != 0;
}

bool close(file_handle file) { return CloseHandle(to_native(file)) != 0; }

call_table make_native_table() {
  call_table table{};
  table.open_for_reading = guarded<open_for_reading>::run;
  table.open_for_writing = guarded<open_for_writing>::run;
  table.describe = guarded<describe>::run;
  table.describe_path = guarded<describe_path>::run;
  table.empty = guarded<empty>::run;
  table.lock = guarded<lock>::run;
  table.read = guarded<read>::run;
  table.write = guarded<write>::run;
  table.sync = guarded<sync>::run;
  table.close = guarded<close>::run;
  table.remove = guarded<remove>::run;
  table.compare_final_paths = guarded<compare_final_paths>::run;
  return table;
}

}  // namespace

const call_table& native_calls() {
  static const call_table table = make_native_table();
  return table;
}

win32_call_table& win32_calls() {
  static win32_call_table table;
  return table;
}

// A program under a service receives any user's logoff, which does not end it by default either.
BOOL WINAPI on_console_event(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT &&
      event != CTRL_SHUTDOWN_EVENT) {
    return FALSE;
  }
  interrupted.store(true);
  // Again and again: a call started after a cancel sees the flag, or the next cancel.
  for (int step = 0; step < handler_steps && cancel_unless_ending(); ++step) {
    win32_calls().sleep(handler_step_ms);
  }
  if (take_ending()) {
    clean_up_and_end();  // the main thread never came
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
  main_thread = nullptr;  // CancelSynchronousIo needs THREAD_TERMINATE
  DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &main_thread,
                  THREAD_TERMINATE, FALSE, 0);
  SetConsoleCtrlHandler(on_console_event, TRUE);  // not called for a Ctrl+C the caller ignores
}

// A character that the code page lacks gives the default character, not a lookalike, and is
// refused; UTF-8 holds every character.
const char* resource_name_bytes(const wchar_t* argument, std::string* name) {
  const UINT code_page = GetACP();
  const DWORD flags = code_page == CP_UTF8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL lossy = FALSE;
  int size = WideCharToMultiByte(code_page, flags, argument, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return nullptr;
  name->assign(static_cast<std::size_t>(size), '\0');
  size = WideCharToMultiByte(code_page, flags, argument, -1, name->data(), size, nullptr,
                             code_page == CP_UTF8 ? nullptr : &lossy);
  name->pop_back();
  return size > 0 && !lossy ? name->c_str() : nullptr;
}

// Without a standard output (started by a GUI program), _get_osfhandle would end the process.
bool print_message(std::FILE* stream, const char* before, const wchar_t* path, const char* after) {
  std::fflush(stream);
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
