// The tool's one contact with the operating system's files: open, describe,
// empty, read, write, close and remove. A POSIX block and a Win32 block in
// system_file.cpp fill in the same call table; everything above it (buffering,
// line-end translation, retries) is written once. Tests replace entries of the
// table to inject failures.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lorvex::system {

// A file descriptor on POSIX, a HANDLE on Win32.
using file_handle = std::intptr_t;

// The three kinds that decide how the end-of-file marker 0x1A is read.
enum class file_kind { disk, pipe, character_device };

struct file_description {
  file_kind kind = file_kind::disk;
  bool regular = false;     // a plain file: the only kind the tool ever removes
  bool identified = false;  // volume and index are known (not for every pipe or device)
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
};

inline bool same_file(const file_description& a, const file_description& b) {
  return a.identified && b.identified && a.volume == b.volume && a.index == b.index;
}

enum class io_status { done, interrupted, failed };

struct io_result {
  io_status status;
  std::size_t count;  // bytes moved when status is done; 0 means end of file on a read
};

// Each entry makes one attempt and reports it; none retries or loops.
struct call_table {
  bool (*open_for_reading)(const char* path, file_handle* file);
  // Opens for writing from the start, creating a missing file with mode 0644
  // (before the umask). Never empties: see empty().
  bool (*open_for_writing)(const char* path, file_handle* file);
  // Fails for anything that is not a disk file, pipe or character device.
  bool (*describe)(file_handle file, file_description* description);
  // Describes what path names now, without opening it for reading or writing.
  bool (*describe_path)(const char* path, file_description* description);
  bool (*empty)(file_handle file);
  io_result (*read)(file_handle file, void* buffer, std::size_t size);
  io_result (*write)(file_handle file, const void* data, std::size_t size);
  bool (*close)(file_handle file);
  bool (*remove)(const char* path);
};

// The table every stream uses, filled in by the platform block; tests may
// overwrite its entries.
call_table& calls();

}  // namespace lorvex::system
