// The Win32 calls that tests replace to reach roads that Wine never takes, each set by name.
#pragma once

#if defined(_WIN32)
#include <windows.h>

namespace lorvex::system {

// ReadConsoleW's last parameter has a type of its own in some SDKs.
inline BOOL WINAPI read_console_input(HANDLE console, LPVOID buffer, DWORD size, LPDWORD got,
                                      LPVOID) {
  return ReadConsoleW(console, buffer, size, got, nullptr);
}

struct win32_call_table {
  BOOL(WINAPI* get_file_information_by_handle_ex)
  (HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD) = GetFileInformationByHandleEx;
  BOOL(WINAPI* get_file_information_by_handle)
  (HANDLE, LPBY_HANDLE_FILE_INFORMATION) = GetFileInformationByHandle;
  HANDLE(WINAPI* reopen_file)(HANDLE, DWORD access, DWORD sharing, DWORD flags) = ReOpenFile;
  BOOL(WINAPI* set_file_information_by_handle)
  (HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD) = SetFileInformationByHandle;
  BOOL(WINAPI* lock_file_ex)(HANDLE, DWORD, DWORD, DWORD, DWORD, LPOVERLAPPED) = LockFileEx;
  BOOL(WINAPI* read_file)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED) = ReadFile;
  BOOL(WINAPI* write_file)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED) = WriteFile;
  BOOL(WINAPI* get_console_mode)(HANDLE, LPDWORD) = GetConsoleMode;
  BOOL(WINAPI* read_console)(HANDLE, LPVOID, DWORD, LPDWORD, LPVOID) = read_console_input;
  UINT(WINAPI* get_console_input_code_page)() = GetConsoleCP;
  BOOL(WINAPI* flush_file_buffers)(HANDLE) = FlushFileBuffers;
  void(WINAPI* sleep)(DWORD milliseconds) = Sleep;
  BOOL(WINAPI* terminate_process)(HANDLE, UINT status) = TerminateProcess;
  DWORD(WINAPI* get_final_path_name)(HANDLE, LPWSTR, DWORD, DWORD) = GetFinalPathNameByHandleW;
};

win32_call_table& win32_calls();

BOOL WINAPI on_console_event(DWORD event);

}  // namespace lorvex::system
#endif
