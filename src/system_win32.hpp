// The Win32 calls behind file identity, removal, reads, writes, the Ctrl+C
// ending and the reading of legacy device names, in a table of their own:
// Wine never fails them as some volumes and consoles do, nor reads names as
// Windows 11 does, so tests replace them to reach those roads. Windows only.
#pragma once

#if defined(_WIN32)
#include <windows.h>

namespace lorvex::system {

struct win32_call_table {
  BOOL(WINAPI* get_file_information_by_handle_ex)
  (HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID information, DWORD size);
  BOOL(WINAPI* get_file_information_by_handle)
  (HANDLE file, LPBY_HANDLE_FILE_INFORMATION information);
  HANDLE(WINAPI* reopen_file)(HANDLE file, DWORD access, DWORD sharing, DWORD flags);
  BOOL(WINAPI* set_file_information_by_handle)
  (HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID information, DWORD size);
  BOOL(WINAPI* lock_file_ex)
  (HANDLE file, DWORD flags, DWORD reserved, DWORD low, DWORD high, LPOVERLAPPED at);
  BOOL(WINAPI* read_file)(HANDLE file, LPVOID buffer, DWORD size, LPDWORD got, LPOVERLAPPED);
  BOOL(WINAPI* get_console_mode)(HANDLE console, LPDWORD mode);
  BOOL(WINAPI* read_console)
  (HANDLE console, LPVOID buffer, DWORD size, LPDWORD got, LPVOID control);
  UINT(WINAPI* get_console_input_code_page)();
  BOOL(WINAPI* flush_file_buffers)(HANDLE file);
  BOOL(WINAPI* write_file)(HANDLE file, LPCVOID data, DWORD size, LPDWORD put, LPOVERLAPPED);
  void(WINAPI* sleep)(DWORD milliseconds);
  BOOL(WINAPI* terminate_process)(HANDLE process, UINT status);
  // Where Windows 10 and 11 part ways: whether aux.rc names the device AUX.
  DWORD(WINAPI* get_full_path_name)(LPCWSTR path, DWORD size, LPWSTR full, LPWSTR* name);
  DWORD(WINAPI* get_final_path_name)(HANDLE file, LPWSTR path, DWORD size, DWORD flags);
};

// The table system_win32.cpp uses; tests may overwrite its entries.
win32_call_table& win32_calls();

// The console control handler that prepare_process installs.
BOOL WINAPI on_console_event(DWORD event);

}  // namespace lorvex::system
#endif
