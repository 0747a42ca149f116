// The tool's one contact with the operating system, a call table that system_posix.cpp or
// system_win32.cpp fills in and tests replace; also the process set-up, the name and messages.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace lorvex::system {

// As the system delivers them: bytes, or UTF-16 on Windows, never through the ANSI code page.
#if defined(_WIN32)
using path_char = wchar_t;
#else
using path_char = char;
#endif

using file_handle = std::intptr_t;  // a descriptor, or a HANDLE
constexpr file_handle no_file = -1;

enum class file_kind { disk, pipe, character_device };  // each reads 0x1A its own way

struct file_description {
  file_kind kind = file_kind::disk;
  bool regular = false;     // a plain file: the only kind ever locked, emptied or removed
  bool identified = false;  // volume and index are known
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  std::uint64_t index_high = 0;  // the upper half of a 128-bit Windows file ID
  file_handle file = no_file;    // while open: where identity is unknown, its final path tells
};

enum class io_status { done, interrupted, failed };
struct io_result {
  io_status status;
  std::size_t count;  // 0 from a read: the end of the file
};

enum class sameness { same, different, unknown };

// Far beyond any data: a lock there keeps lorvex runs apart and no one's reads or writes.
constexpr std::uint64_t far_lock_byte = std::uint64_t{1} << 62;

// unavailable: the file system has no locks; refused: any other error.
enum class lock_result { held, interrupted, unavailable, refused };

// Each entry makes one attempt. Those a discard uses are async-signal-safe on POSIX.
struct call_table {
  bool (*open_for_reading)(const path_char* path, file_handle* file);
  // Creates a missing file with mode 0644 (before the umask); never empties.
  bool (*open_for_writing)(const path_char* path, file_handle* file);
  // Fails for anything but a disk file, pipe or character device.
  bool (*describe)(file_handle file, file_description* description);
  // What path names now, through a final link or not; fails where a look would act (a pipe).
  bool (*describe_path)(const path_char* path, bool follow_link, file_description* description);
  bool (*empty)(file_handle file);
  lock_result (*lock)(file_handle file);  // waits for it, on far_lock_byte
  io_result (*read)(file_handle file, void* buffer, std::size_t size);
  io_result (*write)(file_handle file, const void* data, std::size_t size);
  // Flushes a file on a network share, whose client may report a failed write-back only later.
  bool (*sync)(file_handle file);
  bool (*close)(file_handle file);
  bool (*remove)(file_handle file, const path_char* path);  // Windows: through the handle
  sameness (*compare_final_paths)(file_handle a, file_handle b);
};

const call_table& native_calls();
inline call_table& calls() {  // the table every stream uses; tests overwrite entries
  static call_table table = native_calls();
  return table;
}

// By volume and index, else by the final paths of both open files.
inline sameness compare_files(const file_description& a, const file_description& b) {
  if (a.identified && b.identified) {
    const bool same = a.volume == b.volume && a.index == b.index && a.index_high == b.index_high;
    return same ? sameness::same : sameness::different;
  }
  if (!a.regular || !b.regular || a.volume != b.volume) return sameness::different;
  if (a.file == no_file || b.file == no_file) return sameness::unknown;
  return calls().compare_final_paths(a.file, b.file);
}

// What a signal handler reads: int-sized, lock-free on every target, where a byte is not (riscv64).
using signal_flag = std::atomic<int>;
static_assert(signal_flag::is_always_lock_free, "a signal handler reads it");

// A write past a file-size limit is to fail, not kill; a signal that would end the process (on
// Windows Ctrl+C, Ctrl+Break, a closed console, shutdown) and that the caller did not ignore calls
// the async-signal-safe on_termination first.
void prepare_process(void (*on_termination)());

// On Windows in the ANSI code page, kept in storage; nullptr where it lacks a character.
const char* resource_name_bytes(const path_char* argument, std::string* storage);

// False when it could not be written. A Windows console gets UTF-16, a file or pipe UTF-8.
bool print_message(std::FILE* stream, const char* before, const path_char* path, const char* after);

}  // namespace lorvex::system
