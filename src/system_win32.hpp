// The few Win32 calls behind file identity and the Ctrl+C ending, in a table
// of their own: Wine never fails them as some volumes do, nor races a
// suspended thread, so tests replace them to reach those roads. Windows only.
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
};

// The table system_win32.cpp uses; tests may overwrite its entries.
win32_call_table& win32_calls();

// The console control handler that prepare_process installs.
BOOL WINAPI on_console_event(DWORD event);

}  // namespace lorvex::system
#endif
