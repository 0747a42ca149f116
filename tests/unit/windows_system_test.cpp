// The Win32 roads that Wine cannot reach, through system_win32.cpp's own call
// table: file identity where FileIdInfo is missing or knows nothing, reparse
// points, the removal's fallbacks, consoles as Windows 8 and later answer,
// locks a server refuses, network shares, and the order of the Ctrl+C
// ending. Real files; only those calls are replaced.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "main.hpp"
#include "scratch_file.hpp"
#include "system_file.hpp"
#include "system_win32.hpp"
#include "text_stream.hpp"

namespace lorvex::system {
namespace {

FILE_ID_INFO answered_id{};    // FileIdInfo's answer; a serial of 1 fails as unsupported
DWORD answered_index = 0;      // the index's answer, on serial 5
DWORD answered_tag = 0;        // a reparse point's tag; 0: none
bool answered_remote = false;  // whether FileRemoteProtocolInfo is answered: a network share
bool posix_delete_refused = false;
std::string calls_made;  // never by two threads at once: each waits for the other
DWORD main_thread = 0;
HANDLE pipe_nobody_reads = nullptr;
std::atomic<bool> writing{false};

void record(const std::string& call) { calls_made += call + " "; }

BOOL WINAPI fake_file_info(HANDLE, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID information, DWORD) {
  if (kind == FileRemoteProtocolInfo) return answered_remote;
  if (kind == FileAttributeTagInfo)
    *static_cast<FILE_ATTRIBUTE_TAG_INFO*>(information) = {0, answered_tag};
  if (kind == FileIdInfo) *static_cast<FILE_ID_INFO*>(information) = answered_id;
  return kind == FileAttributeTagInfo || answered_id.VolumeSerialNumber != 1;
}
BOOL WINAPI fake_file_index(HANDLE, LPBY_HANDLE_FILE_INFORMATION information) {
  *information = BY_HANDLE_FILE_INFORMATION{};
  information->dwFileAttributes = answered_tag != 0 ? FILE_ATTRIBUTE_REPARSE_POINT : 0;
  information->dwVolumeSerialNumber = 5;
  information->nFileIndexLow = answered_index;
  return TRUE;
}
BOOL WINAPI fake_disposition(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID information,
                             DWORD size) {
  if (kind == FileEndOfFileInfo || kind == FileRenameInfo) {
    return SetFileInformationByHandle(file, kind, information, size);
  }
  record(kind == FileDispositionInfo ? "legacy" : "posix");
  FILE_DISPOSITION_INFO legacy{TRUE};  // Wine has no POSIX semantics
  return (kind == FileDispositionInfo || !posix_delete_refused) &&
         SetFileInformationByHandle(file, FileDispositionInfo, &legacy, sizeof legacy);
}
HANDLE WINAPI refuse_delete_access(HANDLE file, DWORD access, DWORD sharing, DWORD flags) {
  return (access & DELETE) != 0 ? INVALID_HANDLE_VALUE : ReOpenFile(file, access, sharing, flags);
}

// A console as Windows 8 and later answer it. Each entry is what one read
// returns, L"" a read that Ctrl+C cuts short: ReadConsoleW then succeeds
// with nothing and ERROR_OPERATION_ABORTED. (ReadFile, which would read the
// test's file instead, cannot tell such a read from the end of the input.)
std::vector<std::wstring> typed_lines;
std::size_t typed_read = 0;
UINT console_code_page = CP_UTF8;
// When the console's handler thread has set about its work: before the cut
// read returns, after it (by the next read), or never, where the caller
// started lorvex with Ctrl+C ignored.
enum class handler_timing { early, late, none };
handler_timing handler_comes = handler_timing::none;
std::thread console_handler;
std::atomic<bool> handler_waiting{false};

void WINAPI noting_sleep(DWORD milliseconds) {
  handler_waiting = true;
  Sleep(milliseconds);
}
// The console calls the handler on a thread of its own as it cuts the read.
void cut_by_ctrl_c() {
  if (handler_comes == handler_timing::none) return;
  handler_waiting = false;
  console_handler = std::thread([] { on_console_event(CTRL_C_EVENT); });
  if (handler_comes == handler_timing::early) {
    while (!handler_waiting) std::this_thread::yield();
  }
}
const std::wstring& next_typed() {
  static const std::wstring end = L"\x1A\r\n";  // Ctrl+Z typed at the start of a line
  while (handler_comes == handler_timing::late && console_handler.joinable() && !handler_waiting) {
    std::this_thread::yield();
  }
  return typed_read < typed_lines.size() ? typed_lines[typed_read++] : end;
}
BOOL WINAPI console_mode(HANDLE, LPDWORD mode) {
  *mode = ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT;
  return TRUE;
}
UINT WINAPI console_input_code_page() { return console_code_page; }
BOOL WINAPI console_read(HANDLE, LPVOID buffer, DWORD size, LPDWORD got, LPVOID) {
  const std::wstring line = next_typed();
  if (line.empty()) cut_by_ctrl_c();
  *got = std::min<DWORD>(size, static_cast<DWORD>(line.size()));
  if (*got < line.size()) {
    typed_lines.insert(typed_lines.begin() + static_cast<std::ptrdiff_t>(typed_read),
                       line.substr(*got));
  }
  std::copy_n(line.data(), *got, static_cast<wchar_t*>(buffer));
  SetLastError(line.empty() ? ERROR_OPERATION_ABORTED : ERROR_SUCCESS);
  return TRUE;
}
DWORD WINAPI no_final_path(HANDLE, LPWSTR, DWORD, DWORD) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return 0;
}
BOOL WINAPI remote_or_real_info(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID information,
                                DWORD size) {
  if (kind == FileRemoteProtocolInfo) return answered_remote;
  return GetFileInformationByHandleEx(file, kind, information, size);
}
bool flush_succeeds = true;
BOOL WINAPI recorded_flush(HANDLE) {
  record("flush");
  return flush_succeeds;
}

std::vector<DWORD> lock_errors;  // answered by the next lock calls, before the real lock
int lock_calls = 0;
BOOL WINAPI answering_lock(HANDLE file, DWORD flags, DWORD reserved, DWORD low, DWORD high,
                           LPOVERLAPPED at) {
  ++lock_calls;
  if (lock_errors.empty()) return LockFileEx(file, flags, reserved, low, high, at);
  SetLastError(lock_errors.front());
  lock_errors.erase(lock_errors.begin());
  return FALSE;
}
BOOL WINAPI blocked_write(HANDLE, LPCVOID, DWORD, LPDWORD put, LPOVERLAPPED) {
  writing = true;
  static char block[1 << 20];  // far more than the pipe holds
  return WriteFile(pipe_nobody_reads, block, sizeof block, put, nullptr);
}
void WINAPI no_sleep(DWORD) {}
BOOL WINAPI fake_terminate(HANDLE process, UINT status) {
  record((GetCurrentThreadId() == main_thread ? "main ends " : "handler ends ") +
         std::to_string(process == GetCurrentProcess() ? status : 0));
  return TRUE;
}
void record_and_discard() {
  record("cleanup");
  text_writer::discard_unfinished();
}

const std::string ctrl_c_exit = std::to_string(static_cast<UINT>(STATUS_CONTROL_C_EXIT));

std::string script_of(const std::vector<std::string>& entries) {
  std::string script = "N RCDATA\r\nBEGIN\r\n";
  for (const std::string& entry : entries) script += "\"" + entry + "\\n\",\r\n";
  return script + "\"\\0\",\r\nEND\r\n";
}

std::string read_back(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}
const std::filesystem::path in = std::filesystem::temp_directory_path() / "lorvex-in.txt";
const std::filesystem::path out = std::filesystem::temp_directory_path() / "lorvex-out.rc";
constexpr std::uintmax_t absent = std::uintmax_t(-1);

std::uintmax_t size_or_absent(const std::filesystem::path& path) {
  std::error_code missing;
  return std::filesystem::file_size(path, missing);
}

int run(const std::filesystem::path& output) {
  const wchar_t* argv[] = {L"lorvex", L"N", in.c_str(), output.c_str()};
  const testing::scratch_file messages = testing::make_scratch_file();
  return run_command_line(4, argv, messages.get());
}

class WindowsSystem : public ::testing::Test {
  void SetUp() override {
    win32_calls().terminate_process = fake_terminate;
    win32_calls().sleep = no_sleep;
    main_thread = GetCurrentThreadId();
    calls_made.clear();
    std::ofstream(in, std::ios::binary) << "text\n";
  }
  void TearDown() override {
    win32_calls() = saved_;
    prepare_process(nullptr);  // no run is interrupted any more
    SetConsoleCtrlHandler(on_console_event, FALSE);
    std::filesystem::remove(in);
    std::filesystem::remove(out);
  }
  win32_call_table saved_ = win32_calls();
};

TEST_F(WindowsSystem, IdentityLinksAndDeleteAccessDecideWhatTheDiscardRemoves) {
  win32_calls().get_file_information_by_handle_ex = fake_file_info;
  win32_calls().get_file_information_by_handle = fake_file_index;
  win32_calls().set_file_information_by_handle = fake_disposition;
  struct identity_case {
    ULONGLONG serial;
    BYTE id_low, id_high;  // the first byte of each half of the ID
    DWORD index, tag;
    bool posix_refused, reopen_refused;
    std::uint64_t volume, described_index, index_high;  // as described; index 0: unknown
    std::string removal;                                // "": only emptied
  };
  const identity_case cases[] = {
      {0x1234567890, 4, 5, 3, 0, false, false, 0x1234567890, 4, 5, "posix "},  // FileIdInfo
      {1, 0, 0, 3, 0, true, false, 5, 3, 0, "posix legacy "},  // where it fails: the index
      {0x77, 0, 0, 3, 0, false, true, 5, 3, 0, ""},            // it answers 0; no delete access
      {0x77, 0, 0, 0, 0, false, false, 5, 0, 0, ""},           // a serial with IDs of 0
      {0x77, 4, 0, 0, IO_REPARSE_TAG_SYMLINK, false, false, 0x77, 4, 0, ""},
      {0x77, 4, 0, 0, IO_REPARSE_TAG_DEDUP, false, false, 0x77, 4, 0, "posix "},  // no link
  };
  for (const identity_case& c : cases) {
    std::ofstream(out) << "half a script";
    answered_id = FILE_ID_INFO{c.serial, {{c.id_low, 0, 0, 0, 0, 0, 0, 0, c.id_high}}};
    std::tie(answered_index, answered_tag, posix_delete_refused) =
        std::tie(c.index, c.tag, c.posix_refused);
    win32_calls().reopen_file = c.reopen_refused ? refuse_delete_access : ReOpenFile;
    file_handle file = no_file;
    file_description got;
    EXPECT_TRUE(calls().open_for_writing(out.c_str(), &file) && calls().describe(file, &got));
    calls().close(file);
    const bool known = c.described_index != 0;
    EXPECT_EQ(std::tie(got.identified, got.volume, got.index, got.index_high),
              std::tie(known, c.volume, c.described_index, c.index_high));
    calls_made.clear();
    text_writer writer;
    EXPECT_EQ(writer.open(out.c_str()), opening::opened);
    writer.discard();  // emptied either way
    EXPECT_EQ(calls_made, c.removal) << c.tag;
    EXPECT_EQ(size_or_absent(out), c.removal.empty() ? 0 : absent) << c.tag;
  }
}

// Where a volume answers no file ID, the final paths tell the input from
// the output; where they cannot be had either, the two cannot be told apart
// on one volume, and the input is kept safe: nothing there is touched.
TEST_F(WindowsSystem, SameFileByFinalPathWhereNoIdIsKnown) {
  win32_calls().get_file_information_by_handle_ex = fake_file_info;
  win32_calls().get_file_information_by_handle = fake_file_index;
  std::tie(answered_id, answered_index) = std::make_tuple(FILE_ID_INFO{}, DWORD{0});
  std::wstring upper_case = in.wstring();
  for (wchar_t& c : upper_case) c = static_cast<wchar_t>(std::towupper(c));
  for (const bool final_paths : {true, false}) {
    win32_calls().get_final_path_name = final_paths ? GetFinalPathNameByHandleW : no_final_path;
    std::ofstream(out, std::ios::binary) << "precious";
    EXPECT_EQ(run(upper_case), exit_failure) << final_paths;
    EXPECT_EQ(size_or_absent(in), 5u) << final_paths;  // never emptied
    EXPECT_EQ(run(out), final_paths ? exit_success : exit_failure) << final_paths;
    EXPECT_EQ(read_back(out), final_paths ? script_of({"text"}) : "precious") << final_paths;
  }
}

// A file on a network share is flushed before its close, whose success says
// nothing of the write-back; a failed flush fails the run, and the file is
// discarded. A local file is not flushed.
TEST_F(WindowsSystem, ANetworkShareFileIsFlushedBeforeItsClose) {
  win32_calls().get_file_information_by_handle_ex = remote_or_real_info;
  win32_calls().flush_file_buffers = recorded_flush;
  const struct {
    bool remote, flush_succeeds;
    std::string calls;
    int status;
  } cases[] = {{false, true, "", exit_success},
               {true, true, "flush ", exit_success},
               {true, false, "flush ", exit_failure}};
  for (const auto& c : cases) {
    std::tie(answered_remote, flush_succeeds) = std::tie(c.remote, c.flush_succeeds);
    calls_made.clear();
    EXPECT_EQ(run(out), c.status) << c.remote << c.flush_succeeds;
    EXPECT_EQ(calls_made, c.calls) << c.remote << c.flush_succeeds;
    EXPECT_EQ(size_or_absent(out), c.status == exit_success ? 40u : absent);
  }
}

// Text typed at a console: the bytes of its input code page, UTF-8 included;
// a read that Ctrl+C cuts short is never the end of the input. Where a
// handler comes, the run ends on the main thread at its next call; where the
// caller ignored Ctrl+C, no handler comes, and the read is made again.
TEST_F(WindowsSystem, ConsoleInputIsWhatWasTypedAndCtrlCNeverEndsIt) {
  const std::string cleanup_then_ends =
      "cleanup main ends " + ctrl_c_exit + " handler ends " + ctrl_c_exit + " ";
  const std::wstring long_line = std::wstring(1364, L'x') + L"\U0001F600\r\n";
  const struct {
    const char* what;
    std::vector<std::wstring> lines;
    UINT code_page;
    handler_timing handler;
    std::string calls;   // the ending, if any
    std::string script;  // "" for none left
  } cases[] = {
      {"Ctrl+C ignored by the caller",
       {L"typed\r\n", L"", L"more\r\n"},
       CP_UTF8,
       handler_timing::none,
       "",
       script_of({"typed", "more"})},
      {"Ctrl+C handled at once",
       {L"typed\r\n", L"", L"more\r\n"},
       CP_UTF8,
       handler_timing::early,
       cleanup_then_ends,
       ""},
      {"Ctrl+C handled late",
       {L"typed\r\n", L"", L"more\r\n"},
       CP_UTF8,
       handler_timing::late,
       cleanup_then_ends,
       ""},
      {"UTF-8, beyond the BMP too",
       {L"\u03A9mega \u2603 \U0001F600\r\n"},
       CP_UTF8,
       handler_timing::none,
       "",
       script_of({"\xCE\xA9mega \xE2\x98\x83 \xF0\x9F\x98\x80"})},
      {"a pair of surrogates across two reads",
       {long_line},
       CP_UTF8,
       handler_timing::none,
       "",
       script_of({std::string(1023, 'x'), std::string(341, 'x') + "\xF0\x9F\x98\x80"})},
      {"code page 1252",
       {L"caf\u00E9\r\n"},
       1252,
       handler_timing::none,
       "",
       script_of({"caf\xE9"})},
  };
  win32_calls().get_console_mode = console_mode;
  win32_calls().read_console = console_read;
  win32_calls().get_console_input_code_page = console_input_code_page;
  win32_calls().sleep = noting_sleep;
  for (const auto& c : cases) {
    std::tie(typed_lines, typed_read, console_code_page, handler_comes) =
        std::make_tuple(c.lines, std::size_t{0}, c.code_page, c.handler);
    calls_made.clear();
    prepare_process(record_and_discard);
    const int status = run(out);  // goes on after an ending only as the ending is faked
    if (console_handler.joinable()) console_handler.join();
    EXPECT_EQ(calls_made, c.calls) << c.what;
    if (c.script.empty()) {
      EXPECT_EQ(size_or_absent(out), absent) << c.what;
    } else {
      EXPECT_EQ(status, exit_success) << c.what;
      EXPECT_EQ(read_back(out), c.script) << c.what;
    }
  }
}

// Only an error that says the file system has no locks lets a run write
// unlocked; a server that refuses a waiting lock that another run holds is
// asked again; any other refusal fails the open, the output untouched.
TEST_F(WindowsSystem, OnlyAFileSystemWithoutLocksLetsARunWriteUnlocked) {
  win32_calls().lock_file_ex = answering_lock;
  const struct {
    const char* what;
    std::vector<DWORD> errors;
    int calls, status;
    bool written;
  } cases[] = {
      {"another run holds it, says a server", {ERROR_LOCK_VIOLATION}, 2, exit_success, true},
      {"no locks here", {ERROR_NOT_SUPPORTED}, 1, exit_success, true},
      {"a quota error", {ERROR_NOT_ENOUGH_QUOTA}, 1, exit_failure, false},
  };
  for (const auto& c : cases) {
    std::ofstream(out, std::ios::binary) << "precious";
    std::tie(lock_errors, lock_calls) = std::make_tuple(c.errors, 0);
    EXPECT_EQ(run(out), c.status) << c.what;
    EXPECT_EQ(lock_calls, c.calls) << c.what;
    EXPECT_EQ(read_back(out), c.written ? script_of({"text"}) : "precious") << c.what;
  }
}

// The console's call of the handler on a thread of its own while the main
// thread is blocked in a write that nothing drains; then, with no main thread
// making calls, the handler's own cleanup after its wait, for every event
// that ends lorvex, and none for another user's logoff, which a program under
// a service receives.
TEST_F(WindowsSystem, CtrlCEndsTheRunOnTheMainThreadOrAfterAWaitInTheHandler) {
  HANDLE read_end = nullptr;
  ASSERT_TRUE(CreatePipe(&read_end, &pipe_nobody_reads, nullptr, 1));
  win32_calls().write_file = blocked_write;
  win32_calls().sleep = Sleep;  // the handler waits as long as it would
  calls_made.clear();
  std::thread main_run([] {
    main_thread = GetCurrentThreadId();
    prepare_process(record_and_discard);
    run(out);
  });
  while (!writing) std::this_thread::yield();
  Sleep(100);  // into WriteFile
  EXPECT_TRUE(on_console_event(CTRL_C_EVENT));
  main_run.join();
  EXPECT_EQ(calls_made, "cleanup main ends " + ctrl_c_exit + " handler ends " + ctrl_c_exit + " ");
  EXPECT_EQ(size_or_absent(out), absent);
  CloseHandle(read_end);
  CloseHandle(pipe_nobody_reads);

  win32_calls().sleep = no_sleep;
  const DWORD events[] = {CTRL_C_EVENT,        CTRL_BREAK_EVENT,  CTRL_CLOSE_EVENT,
                          CTRL_SHUTDOWN_EVENT, CTRL_LOGOFF_EVENT, 3};  // 3: none
  for (const DWORD event : events) {
    const bool ends = event != CTRL_LOGOFF_EVENT && event != 3;
    calls_made.clear();
    prepare_process([] { record("cleanup"); });
    BOOL handled = FALSE;
    std::thread([&] { handled = on_console_event(event); }).join();
    EXPECT_EQ(calls_made, ends ? "cleanup handler ends " + ctrl_c_exit + " " : "") << event;
    EXPECT_EQ(handled, ends ? TRUE : FALSE) << event;
  }
}

}  // namespace
}  // namespace lorvex::system
