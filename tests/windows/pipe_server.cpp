// A one-instance named-pipe server for the tests: pipe_server NAME READY SAVED
// creates \\.\pipe\NAME, creates the file READY once clients may connect,
// takes exactly one client and saves all it sent in SAVED. A client that
// connects only to look (and sends nothing) uses up the one instance.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

int failed(const char* step) {
  std::fprintf(stderr, "pipe_server: %s failed, error %lu\n", step, GetLastError());
  return 1;
}

DWORD WINAPI give_up_later(void*) {
  Sleep(30000);  // no client came: end, so that a failing test cannot hang
  ExitProcess(3);
}

bool create_empty_file(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 4) return 2;
  const std::string name = std::string("\\\\.\\pipe\\") + argv[1];
  HANDLE pipe = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1,
                                 4096, 4096, 0, nullptr);
  if (pipe == INVALID_HANDLE_VALUE) return failed("CreateNamedPipe");
  CloseHandle(CreateThread(nullptr, 0, give_up_later, nullptr, 0, nullptr));
  if (!create_empty_file(argv[2])) return failed("creating the ready file");
  if (!ConnectNamedPipe(pipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) {
    return failed("ConnectNamedPipe");
  }
  std::string received;
  char block[4096];
  DWORD got = 0;
  while (ReadFile(pipe, block, sizeof block, &got, nullptr) && got > 0) received.append(block, got);
  HANDLE saved = CreateFileA(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (saved == INVALID_HANDLE_VALUE) return failed("creating the saved file");
  DWORD put = 0;
  const BOOL written =
      WriteFile(saved, received.data(), static_cast<DWORD>(received.size()), &put, nullptr);
  CloseHandle(saved);
  return written && put == received.size() ? 0 : 1;
}
