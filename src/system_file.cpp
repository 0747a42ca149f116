// The platform blocks behind system_file.hpp: one for POSIX, one for Win32.
// Each call makes a single attempt; retrying an interrupted read or write and
// completing a short write are the caller's job. Nothing here buffers.
#include "system_file.hpp"

#if defined(_WIN32)
// ---------------------------------------------------------------- Win32 block
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace lorvex::system {
namespace {

HANDLE to_native(file_handle file) { return reinterpret_cast<HANDLE>(file); }

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE;

bool open_handle(const char* path, DWORD access, DWORD disposition, file_handle* file) {
  // An empty path would otherwise be taken for the current directory by some layers.
  if (path[0] == '\0') return false;
  HANDLE handle =
      CreateFileA(path, access, share_all, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  *file = reinterpret_cast<file_handle>(handle);
  return true;
}

bool win32_open_for_reading(const char* path, file_handle* file) {
  return open_handle(path, GENERIC_READ, OPEN_EXISTING, file);
}

// OPEN_ALWAYS rather than CREATE_ALWAYS: an existing file keeps its attributes
// (CREATE_ALWAYS would reset them and refuses hidden files).
bool win32_open_for_writing(const char* path, file_handle* file) {
  return open_handle(path, GENERIC_WRITE, OPEN_ALWAYS, file);
}

void read_identity(HANDLE handle, file_description* description) {
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(handle, &info)) {
    description->identified = true;
    description->volume = info.dwVolumeSerialNumber;
    description->index =
        (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    description->regular = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  }
}

bool win32_describe(file_handle file, file_description* description) {
  HANDLE handle = to_native(file);
  *description = file_description{};
  SetLastError(NO_ERROR);
  switch (GetFileType(handle)) {
    case FILE_TYPE_DISK:
      description->kind = file_kind::disk;
      read_identity(handle, description);
      return true;
    case FILE_TYPE_PIPE:
      description->kind = file_kind::pipe;
      return true;
    case FILE_TYPE_CHAR:
      description->kind = file_kind::character_device;
      return true;
    default:
      return false;
  }
}

bool win32_describe_path(const char* path, file_description* description) {
  if (path[0] == '\0') return false;
  // Access 0 asks for attributes only; backup semantics lets a directory open too.
  HANDLE handle = CreateFileA(path, 0, share_all | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  *description = file_description{};
  read_identity(handle, description);
  CloseHandle(handle);
  return description->identified;
}

bool win32_empty(file_handle file) {
  HANDLE handle = to_native(file);
  LARGE_INTEGER start{};
  return SetFilePointerEx(handle, start, nullptr, FILE_BEGIN) && SetEndOfFile(handle);
}

io_result win32_read(file_handle file, void* buffer, std::size_t size) {
  DWORD got = 0;
  if (ReadFile(to_native(file), buffer, static_cast<DWORD>(size), &got, nullptr)) {
    return {io_status::done, got};
  }
  // The writing end of a pipe was closed: that is the pipe's end, not a failure.
  if (GetLastError() == ERROR_BROKEN_PIPE) return {io_status::done, 0};
  return {io_status::failed, 0};
}

io_result win32_write(file_handle file, const void* data, std::size_t size) {
  DWORD put = 0;
  if (WriteFile(to_native(file), data, static_cast<DWORD>(size), &put, nullptr)) {
    return {io_status::done, put};
  }
  return {io_status::failed, 0};
}

bool win32_close(file_handle file) { return CloseHandle(to_native(file)) != 0; }

bool win32_remove(const char* path) { return DeleteFileA(path) != 0; }

const call_table& native_calls() {
  static const call_table table = {
      win32_open_for_reading,
      win32_open_for_writing,
      win32_describe,
      win32_describe_path,
      win32_empty,
      win32_read,
      win32_write,
      win32_close,
      win32_remove,
  };
  return table;
}

}  // namespace
}  // namespace lorvex::system

#else
// ---------------------------------------------------------------- POSIX block
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#include <cerrno>

namespace lorvex::system {
namespace {

bool open_descriptor(const char* path, int flags, file_handle* file) {
  int fd = -1;
  do {
    // Opening a FIFO waits for its other end, and that wait can be interrupted.
    fd = ::open(path, flags | O_CLOEXEC | O_NOCTTY, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  *file = fd;
  return true;
}

bool posix_open_for_reading(const char* path, file_handle* file) {
  return open_descriptor(path, O_RDONLY, file);
}

bool posix_open_for_writing(const char* path, file_handle* file) {
  return open_descriptor(path, O_WRONLY | O_CREAT, file);
}

bool fill_description(const struct stat& status, file_description* description) {
  *description = file_description{};
  description->identified = true;
  description->volume = static_cast<std::uint64_t>(status.st_dev);
  description->index = static_cast<std::uint64_t>(status.st_ino);
  if (S_ISREG(status.st_mode)) {
    description->kind = file_kind::disk;
    description->regular = true;
  } else if (S_ISBLK(status.st_mode)) {
    description->kind = file_kind::disk;
  } else if (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode)) {
    description->kind = file_kind::pipe;
  } else if (S_ISCHR(status.st_mode)) {
    description->kind = file_kind::character_device;
  } else {
    return false;  // a directory, or something this tool cannot tell
  }
  return true;
}

bool posix_describe(file_handle file, file_description* description) {
  struct stat status {};
  if (::fstat(static_cast<int>(file), &status) != 0) return false;
  return fill_description(status, description);
}

bool posix_describe_path(const char* path, file_description* description) {
  struct stat status {};
  if (::stat(path, &status) != 0) return false;
  fill_description(status, description);
  return true;
}

bool posix_empty(file_handle file) {
  int result = 0;
  do {
    result = ::ftruncate(static_cast<int>(file), 0);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

io_result posix_read(file_handle file, void* buffer, std::size_t size) {
  ssize_t got = ::read(static_cast<int>(file), buffer, size);
  if (got >= 0) return {io_status::done, static_cast<std::size_t>(got)};
  return {errno == EINTR ? io_status::interrupted : io_status::failed, 0};
}

io_result posix_write(file_handle file, const void* data, std::size_t size) {
  ssize_t put = ::write(static_cast<int>(file), data, size);
  if (put >= 0) return {io_status::done, static_cast<std::size_t>(put)};
  return {errno == EINTR ? io_status::interrupted : io_status::failed, 0};
}

// Never retried: after an interrupted close the descriptor may already be
// gone, and a retry could close one that another thread just opened.
bool posix_close(file_handle file) { return ::close(static_cast<int>(file)) == 0; }

bool posix_remove(const char* path) { return ::unlink(path) == 0; }

const call_table& native_calls() {
  static const call_table table = {
      posix_open_for_reading,
      posix_open_for_writing,
      posix_describe,
      posix_describe_path,
      posix_empty,
      posix_read,
      posix_write,
      posix_close,
      posix_remove,
  };
  return table;
}

}  // namespace
}  // namespace lorvex::system

#endif

namespace lorvex::system {

call_table& calls() {
  static call_table table = native_calls();
  return table;
}

}  // namespace lorvex::system
