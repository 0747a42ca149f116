// One-instance named-pipe servers for the tests, each creating \\.\pipe\NAME,
// then the file READY once a client may connect, and taking one client:
//   pipe_server receive NAME READY SAVED  saves all the client sent in SAVED;
//                                         a client that only looks uses it up.
//   pipe_server send NAME READY           sends "piped" and a line feed, then
//                                         flushes, disconnects and closes.
//   pipe_server messages NAME READY OUT   once OUT is emptied (the client has
//                                         opened it), opens OUT to read as
//                                         fopen does, then sends the same text
//                                         as messages "pi", "" and "ped\n".
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cstring>
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

// Waits until path holds nothing, then opens it as another program would.
bool readable_once_emptied(const char* path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  while (!GetFileAttributesExA(path, GetFileExInfoStandard, &data) || data.nFileSizeLow != 0) {
    Sleep(10);
  }
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

}  // namespace

int main(int argc, char* argv[]) {
  const bool sending = argc == 4 && std::string(argv[1]) == "send";
  const bool messages = argc == 5 && std::string(argv[1]) == "messages";
  if (argc != 5 && !sending) return 2;
  const std::string name = std::string("\\\\.\\pipe\\") + argv[2];
  HANDLE pipe = CreateNamedPipeA(
      name.c_str(), sending || messages ? PIPE_ACCESS_OUTBOUND : PIPE_ACCESS_INBOUND,
      (messages ? PIPE_TYPE_MESSAGE : PIPE_TYPE_BYTE) | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
  if (pipe == INVALID_HANDLE_VALUE) return failed("CreateNamedPipe");
  CloseHandle(CreateThread(nullptr, 0, give_up_later, nullptr, 0, nullptr));
  if (!create_empty_file(argv[3])) return failed("creating the ready file");
  if (!ConnectNamedPipe(pipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) {
    return failed("ConnectNamedPipe");
  }
  DWORD put = 0;
  if (messages) {
    const bool readable = readable_once_emptied(argv[4]);  // reported at the end
    for (const char* message : {"pi", "", "ped\n"}) {
      const auto size = static_cast<DWORD>(std::strlen(message));
      if (!WriteFile(pipe, message, size, &put, nullptr) || !FlushFileBuffers(pipe)) {
        return failed("sending a message");
      }
    }
    if (!DisconnectNamedPipe(pipe) || !CloseHandle(pipe)) return failed("disconnecting");
    return readable ? 0 : failed("opening the output to read");
  }
  if (sending) {
    // The documented end of a server: the client gets every byte, then finds
    // the pipe disconnected rather than closed.
    if (!WriteFile(pipe, "piped\n", 6, &put, nullptr) || put != 6 || !FlushFileBuffers(pipe) ||
        !DisconnectNamedPipe(pipe) || !CloseHandle(pipe)) {
      return failed("sending");
    }
    return 0;
  }
  std::string received;
  char block[4096];
  DWORD got = 0;
  while (ReadFile(pipe, block, sizeof block, &got, nullptr) && got > 0) received.append(block, got);
  HANDLE saved = CreateFileA(argv[4], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (saved == INVALID_HANDLE_VALUE) return failed("creating the saved file");
  const BOOL written =
      WriteFile(saved, received.data(), static_cast<DWORD>(received.size()), &put, nullptr);
  CloseHandle(saved);
  return written && put == received.size() ? 0 : 1;
}
