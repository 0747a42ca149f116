// The few Win32 calls behind file identity, the Ctrl+C ending and the reading
// of legacy device names, in a table of their own: Wine never fails them as
// some volumes do, nor races a suspended thread, nor reads names as Windows 11
// does, so tests replace them to reach those roads. Windows only.
#pragma once

#if defined(_WIN32)
#include <windows.h>

namespace lorvex::system {

struct win32_call_table {
  BOOL(WINAPI* get_file_information_by_handle_ex)
  (HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID information, DWORD size);
  BOOL(WINAPI* get_file_information_by_handle)
  (HANDLE file, LPBY_HANDLE_FILE_INFORMATION information);
  DWORD(WINAPI* suspend_thread)(HANDLE thread);
  BOOL(WINAPI* get_thread_context)(HANDLE thread, LPCONTEXT context);
  BOOL(WINAPI* terminate_process)(HANDLE process, UINT status);
  // Where Windows 10 and 11 part ways: whether aux.rc names the device AUX.
  DWORD(WINAPI* get_full_path_name)(LPCWSTR path, DWORD size, LPWSTR full, LPWSTR* name);
};

// The table system_win32.cpp uses; tests may overwrite its entries.
win32_call_table& win32_calls();

// The console control handler that prepare_process installs.
BOOL WINAPI on_console_event(DWORD event);

}  // namespace lorvex::system
#endif
