// The Win32 roads that Wine cannot reach, through system_win32.cpp's own call
// table: file identity where FileIdInfo is missing or knows nothing, reparse
// points, the removal's fallbacks, an aborted console read, the order of the
// Ctrl+C ending, and device names read as Windows 10 and as Windows 11 read
// them. Real files; only those calls are replaced.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <tuple>

#include "main.hpp"
#include "scratch_file.hpp"
#include "system_file.hpp"
#include "system_win32.hpp"

namespace lorvex::system {
namespace {

FILE_ID_INFO answered_id{};  // FileIdInfo's answer; a serial of 1 fails as unsupported
DWORD answered_index = 0;    // the index's answer, on serial 5
DWORD answered_tag = 0;      // a reparse point's tag; 0: none
bool posix_delete_refused = false;
std::string calls_made;  // never by two threads at once: each waits for the other
DWORD main_thread = 0;
HANDLE pipe_nobody_reads = nullptr;
std::atomic<bool> writing{false};

void record(const std::string& call) { calls_made += call + " "; }

BOOL WINAPI fake_file_info(HANDLE, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID information, DWORD) {
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
BOOL WINAPI fake_disposition(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID, DWORD) {
  record(kind == FileDispositionInfo ? "legacy" : "posix");
  FILE_DISPOSITION_INFO legacy{TRUE};  // Wine has no POSIX semantics
  return (kind == FileDispositionInfo || !posix_delete_refused) &&
         SetFileInformationByHandle(file, FileDispositionInfo, &legacy, sizeof legacy);
}
HANDLE WINAPI refuse_reopen(HANDLE, DWORD, DWORD, DWORD) { return INVALID_HANDLE_VALUE; }
BOOL WINAPI aborted_read(HANDLE, LPVOID, DWORD, LPDWORD got, LPOVERLAPPED) {
  *got = 0;
  SetLastError(ERROR_OPERATION_ABORTED);  // what a console read cut short by Ctrl+C gives
  return TRUE;
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
  discard_unfinished_output();
}

const std::string ctrl_c_exit = std::to_string(static_cast<UINT>(STATUS_CONTROL_C_EXIT));
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

std::wstring answered_full_path;  // GetFullPathNameW's answer, whatever the path
DWORD WINAPI fake_full_path(LPCWSTR, DWORD size, LPWSTR full, LPWSTR*) {
  const auto length = static_cast<DWORD>(answered_full_path.size());
  if (length >= size) return length + 1;
  std::copy(answered_full_path.begin(), answered_full_path.end(), full);
  full[length] = L'\0';
  return length;
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
      {0x77, 0, 0, 0, 0, false, false, 0, 0, 0, ""},           // a serial with IDs of 0
      {0x77, 4, 0, 0, IO_REPARSE_TAG_SYMLINK, false, false, 0x77, 4, 0, ""},
      {0x77, 4, 0, 0, IO_REPARSE_TAG_DEDUP, false, false, 0x77, 4, 0, "posix "},  // no link
  };
  for (const identity_case& c : cases) {
    std::ofstream(out) << "half a script";
    answered_id = FILE_ID_INFO{c.serial, {{c.id_low, 0, 0, 0, 0, 0, 0, 0, c.id_high}}};
    std::tie(answered_index, answered_tag, posix_delete_refused) =
        std::tie(c.index, c.tag, c.posix_refused);
    win32_calls().reopen_file = c.reopen_refused ? refuse_reopen : ReOpenFile;
    calls_made.clear();
    file_handle file = no_file;
    file_description got;
    EXPECT_TRUE(calls().open_for_writing(out.c_str(), &file) && calls().describe(file, &got));
    const bool known = c.described_index != 0;
    EXPECT_EQ(std::tie(got.identified, got.volume, got.index, got.index_high),
              std::tie(known, c.volume, c.described_index, c.index_high));
    discard_written_file(file, got, out.c_str());  // emptied either way
    calls().close(file);
    EXPECT_EQ(calls_made, c.removal) << c.tag;
    EXPECT_EQ(size_or_absent(out), c.removal.empty() ? 0 : absent) << c.tag;
  }
}

TEST_F(WindowsSystem, ReservedStemsAreWhatGetFullPathNameSays) {
  // Windows 10 reads aux.rc as the device AUX, which lorvex refuses; Windows
  // 11 as the file aux.rc, which it writes (here one that Wine, which reads
  // names as Windows 10 does, also takes for a file). A bare name is the
  // device on both.
  const std::wstring file = (std::filesystem::temp_directory_path() / "lorvex-aux.rc").wstring();
  const std::tuple<const wchar_t*, std::wstring, bool> cases[] = {
      {L"aux.rc", L"\\\\.\\aux", false}, {L"aux.rc", file, true}, {L"NUL", L"\\\\.\\NUL", true}};
  for (const auto& [typed, full, opens] : cases) {
    win32_calls().get_full_path_name = fake_full_path;
    answered_full_path = full;
    file_handle handle = no_file;
    EXPECT_EQ(calls().open_for_writing(typed, &handle), opens) << full;
    if (handle != no_file) calls().close(handle);
    std::error_code missing;
    EXPECT_EQ(std::filesystem::remove(file, missing), opens && full == file) << full;
  }
}

TEST_F(WindowsSystem, SameFileByFinalPathWhereNoIdIsKnown) {
  win32_calls().get_file_information_by_handle_ex = fake_file_info;
  win32_calls().get_file_information_by_handle = fake_file_index;
  std::tie(answered_id, answered_index) = std::make_tuple(FILE_ID_INFO{}, 0);
  std::wstring upper_case = in.wstring();
  for (wchar_t& c : upper_case) c = static_cast<wchar_t>(std::towupper(c));
  EXPECT_EQ(run(upper_case), exit_failure);
  EXPECT_EQ(size_or_absent(in), 5u);  // never emptied
  EXPECT_EQ(run(out), exit_success);
  EXPECT_EQ(size_or_absent(out), 40u);
}

// A console read cut short; then the console's call of the handler on a
// thread of its own while the main thread is blocked in a write that nothing
// drains; then, with no main thread making calls, the handler's own cleanup
// after its wait, for every event that ends lorvex.
TEST_F(WindowsSystem, CtrlCEndsTheRunOnTheMainThreadOrAfterAWaitInTheHandler) {
  win32_calls().read_file = aborted_read;
  prepare_process(record_and_discard);
  run(out);  // goes on only as the ending is faked
  EXPECT_EQ(calls_made, "cleanup main ends " + ctrl_c_exit + " ");
  EXPECT_EQ(size_or_absent(out), absent);

  win32_calls().read_file = ReadFile;
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
  const DWORD events[] = {CTRL_C_EVENT,      CTRL_BREAK_EVENT,    CTRL_CLOSE_EVENT,
                          CTRL_LOGOFF_EVENT, CTRL_SHUTDOWN_EVENT, 3};  // 3: none
  for (const DWORD event : events) {
    calls_made.clear();
    prepare_process([] { record("cleanup"); });
    BOOL handled = FALSE;
    std::thread([&] { handled = on_console_event(event); }).join();
    EXPECT_EQ(calls_made, event != 3 ? "cleanup handler ends " + ctrl_c_exit + " " : "") << event;
    EXPECT_EQ(handled, event != 3 ? TRUE : FALSE);
  }
}

}  // namespace
}  // namespace lorvex::system
