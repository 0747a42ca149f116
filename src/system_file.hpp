// The tool's one contact with the operating system: system_posix.cpp and
// system_win32.cpp fill in the same call table, so that buffering and
// retries above it are written once, and tests replace its entries to inject
// failures. Also the process set-up, the resource name and the messages.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace lorvex::system {

// Paths and arguments as the system delivers them: bytes on POSIX, UTF-16 on
// Windows, whose narrow forms go through the ANSI code page and its lookalikes.
#if defined(_WIN32)
using path_char = wchar_t;
#else
using path_char = char;
#endif

// A file descriptor on POSIX, a HANDLE on Win32.
using file_handle = std::intptr_t;

// A handle that names no open file.
constexpr file_handle no_file = -1;

// The three kinds that decide how the end-of-file marker 0x1A is read.
enum class file_kind { disk, pipe, character_device };

struct file_description {
  file_kind kind = file_kind::disk;
  bool regular = false;     // a plain file: the only kind the tool ever removes
  bool identified = false;  // volume and index are known (not for every pipe or device)
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  std::uint64_t index_high = 0;  // the upper half of a 128-bit Windows file ID, else 0
  // On a network share, whose client may report a failed write-back only
  // after the writes: such a file is flushed before its close.
  bool remote = false;
  // The handle described, while it stays open (never from describe_path):
  // where identity is unknown, compare_files asks the system about it.
  file_handle file = no_file;
};

enum class io_status { done, interrupted, failed };

struct io_result {
  io_status status;
  std::size_t count;  // bytes moved when status is done; 0 means end of file on a read
};

// The one byte that the output's lock covers: 2^62, far beyond any data a
// file can hold, so that the lock keeps lorvex runs apart and no other
// reads or writes. 64 bits on every target, as every file offset here is.
constexpr std::uint64_t far_lock_byte = std::uint64_t{1} << 62;

enum class sameness { same, different, unknown };

// What waiting for the output's lock came to.
enum class lock_result {
  held,         // this run holds it until the close
  interrupted,  // by a signal (or a cancel) that did not end the run: wait again
  unavailable,  // the file system has no locks (some network shares): go on without
  refused,      // any other error: neither write unlocked nor report success
};

// Each entry makes one attempt; a failed open leaves *file as it was, or
// no_file. Those that discard_written_file uses are async-signal-safe on POSIX.
struct call_table {
  bool (*open_for_reading)(const path_char* path, file_handle* file);
  // Opens for writing from the start, creating a missing file with mode 0644
  // (before the umask). Never empties: see empty().
  bool (*open_for_writing)(const path_char* path, file_handle* file);
  // Fails for anything that is not a disk file, pipe or character device.
  bool (*describe)(file_handle file, file_description* description);
  // Describes what path names now, without opening it for reading or
  // writing: through a final symbolic link, or (follow_link false) the link
  // itself, never regular. Fails where a look would act (a Windows pipe).
  bool (*describe_path)(const path_char* path, bool follow_link, file_description* description);
  bool (*empty)(file_handle file);
  // Waits for an exclusive lock on a disk file that only other lorvex runs
  // look at: every handle may still read and write all of the file.
  lock_result (*lock)(file_handle file);
  io_result (*read)(file_handle file, void* buffer, std::size_t size);
  io_result (*write)(file_handle file, const void* data, std::size_t size);
  // Waits until the file system holds what was written (only for remote files).
  bool (*sync)(file_handle file);
  bool (*close)(file_handle file);
  // Removes file, or what path names when it is no_file (POSIX: always path;
  // Windows: through the handle, where delete access can be had through it).
  bool (*remove)(file_handle file, const path_char* path);
  // Whether two open files have the same final path (Windows, ignoring case);
  // unknown where the system gives none.
  sameness (*compare_final_paths)(file_handle a, file_handle b);
};

// A flag that a signal handler reads (on Windows, from another thread): an
// int-sized atomic, which every target makes lock-free, where a byte-sized
// one is only sometimes so (riscv64).
class signal_flag {
 public:
  bool load() const { return value_.load() != 0; }
  void store(bool set) { value_.store(set ? 1 : 0); }

 private:
  std::atomic<int> value_{0};
  static_assert(std::atomic<int>::is_always_lock_free, "a signal handler reads it");
};

// The table every stream uses; tests may overwrite its entries.
call_table& calls();
// The platform's own entries, from system_posix.cpp or system_win32.cpp.
const call_table& native_calls();

// Whether two files are one: by volume and index; where either index is
// unknown, by the final paths of both open handles, if both are open. A pipe
// or device without identity is never the same as another file.
sameness compare_files(const file_description& a, const file_description& b);

// Undoes an unfinished output: empties the file through its handle, if open,
// and removes it if path still names that very file directly (no link, no
// file put there since); never a device or pipe. Async-signal-safe on POSIX.
void discard_written_file(file_handle file, const file_description& written, const path_char* path);

// Before any file is opened: a write past a file-size limit is to fail, not
// kill (SIGXFSZ ignored); every signal that would end the process (on
// Windows Ctrl+C, Ctrl+Break, a closed console and shutdown) and
// that the caller did not ignore is to call the async-signal-safe
// on_termination first, then end the process as it would have.
void prepare_process(void (*on_termination)());

// The resource name as the bytes the script holds: on POSIX the argument
// itself, on Windows the argument in the ANSI code page, held in storage.
// nullptr when that code page cannot hold it exactly.
const char* resource_name_bytes(const path_char* argument, std::string* storage);

// Prints before, path and after as one message and flushes it; false when
// that failed. A Windows console gets the path as UTF-16, a file or pipe
// gets UTF-8.
bool print_message(std::FILE* stream, const char* before, const path_char* path, const char* after);

}  // namespace lorvex::system
