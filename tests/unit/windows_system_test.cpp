// The Win32 roads that Wine cannot reach, through system_win32.cpp's own call
// table: file identity where FileIdInfo is missing or knows nothing, the order
// of the Ctrl+C ending, and device names read as Windows 10 and as Windows 11
// read them. Real files; only those calls are replaced.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

#include "system_file.hpp"
#include "system_win32.hpp"

namespace lorvex::system {
namespace {

FILE_ID_INFO answered_id{};  // FileIdInfo's answer; a serial of 1 fails as unsupported
std::string calls_made;

BOOL WINAPI fake_file_id(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID information, DWORD) {
  *static_cast<FILE_ID_INFO*>(information) = answered_id;
  return answered_id.VolumeSerialNumber != 1;
}
BOOL WINAPI fake_file_index(HANDLE, LPBY_HANDLE_FILE_INFORMATION information) {
  *information = BY_HANDLE_FILE_INFORMATION{};
  information->dwVolumeSerialNumber = 5;
  information->nFileIndexLow = 3;
  return TRUE;
}
DWORD WINAPI fake_suspend(HANDLE) {
  calls_made += "suspend ";
  return 0;
}
BOOL WINAPI fake_context(HANDLE, LPCONTEXT) {
  calls_made += "context ";
  return TRUE;
}
BOOL WINAPI fake_terminate(HANDLE process, UINT status) {
  calls_made += (process == GetCurrentProcess() ? "terminate " : "? ") + std::to_string(status);
  return TRUE;
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
    win32_calls() = {fake_file_id, fake_file_index, fake_suspend,
                     fake_context, fake_terminate,  GetFullPathNameW};
  }
  void TearDown() override { win32_calls() = saved_; }
  win32_call_table saved_ = win32_calls();
};

TEST_F(WindowsSystem, IdentityFromFileIdInfoOrTheIndexAndNoneFromZeros) {
  const std::filesystem::path path = std::filesystem::temp_directory_path() / "lorvex-id.rc";
  struct identity_case {
    ULONGLONG serial;
    BYTE id_low, id_high;                     // the first byte of each half of the ID
    std::uint64_t volume, index, index_high;  // as described; all 0: unknown
  };
  const identity_case cases[] = {
      {0x1234567890, 4, 5, 0x1234567890, 4, 5}, {1, 0, 0, 5, 3, 0}, {0, 0, 0, 0, 0, 0}};
  for (const identity_case& c : cases) {
    std::ofstream(path) << "half a script";
    answered_id = FILE_ID_INFO{c.serial, {{c.id_low, 0, 0, 0, 0, 0, 0, 0, c.id_high}}};
    file_handle file = no_file;
    file_description got;
    EXPECT_TRUE(calls().open_for_writing(path.c_str(), &file) && calls().describe(file, &got));
    const bool known = c.volume != 0;
    EXPECT_EQ(std::tie(got.identified, got.volume, got.index, got.index_high),
              std::tie(known, c.volume, c.index, c.index_high));
    // Emptied either way; removed only when it is known to be the file written.
    discard_written_file(file, got, path.c_str());
    calls().close(file);
    std::error_code missing;
    EXPECT_EQ(std::filesystem::file_size(path, missing), known ? std::uintmax_t(-1) : 0) << known;
    std::filesystem::remove(path, missing);
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

TEST_F(WindowsSystem, CtrlCStopsTheWriterForSureThenCleansUpThenEnds) {
  prepare_process([] { calls_made += "cleanup "; });
  EXPECT_FALSE(on_console_event(CTRL_LOGOFF_EVENT));  // not one that ends lorvex
  EXPECT_EQ(calls_made, "");
  EXPECT_TRUE(on_console_event(CTRL_C_EVENT));  // returns only as the ending is faked
  EXPECT_EQ(calls_made, "suspend context cleanup terminate " +
                            std::to_string(static_cast<UINT>(STATUS_CONTROL_C_EXIT)));
  SetConsoleCtrlHandler(on_console_event, FALSE);
}

}  // namespace
}  // namespace lorvex::system
