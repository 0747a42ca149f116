// Microsoft's C runtime deprecates std::tmpfile, and MinGW-w64 lacks the
// tmpfile_s it offers instead: on Windows the file is made with Win32 calls
// and deleted as its last handle closes.
#include "scratch_file.hpp"

#include <stdexcept>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

namespace lorvex::testing {

namespace {

std::FILE* open_scratch_file() {
#if defined(_WIN32)
  wchar_t folder[MAX_PATH + 1];
  wchar_t name[MAX_PATH + 1];
  if (GetTempPathW(MAX_PATH + 1, folder) == 0 || GetTempFileNameW(folder, L"lvx", 0, name) == 0) {
    return nullptr;
  }
  const HANDLE file = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  const int descriptor =
      _open_osfhandle(reinterpret_cast<std::intptr_t>(file), _O_RDWR | _O_BINARY);
  if (descriptor < 0) {
    CloseHandle(file);
    return nullptr;
  }
  std::FILE* stream = _fdopen(descriptor, "w+b");
  if (stream == nullptr) _close(descriptor);
  return stream;
#else
  return std::tmpfile();
#endif
}

}  // namespace

scratch_file make_scratch_file() {
  scratch_file file(open_scratch_file());
  if (!file) throw std::runtime_error("no scratch file");
  return file;
}

}  // namespace lorvex::testing
