// The tool's two files, buffered: the reader hands out blocks as read, large
// from files and pipes, a typed line at most 4096 bytes long from a terminal,
// with the end-of-file marker 0x1A applied by file kind; the writer sends the
// script out in large aligned blocks. Interrupted calls are retried and short
// writes completed here; the script's rules are not.
#pragma once

#include <cstddef>
#include <memory>
#include <new>

#include "byte_scan.hpp"
#include "system_file.hpp"

namespace lorvex {

// A file system block. A character device (a terminal) is read at most one
// at a time, since the 0x1A rule there depends on what each read returns.
constexpr std::size_t stream_block_size = 4096;
// Files and pipes, where no rule depends on the reads, are read this much at
// a time, and the script is written out this much at a time: few system
// calls, buffers that stay within a processor's second-level cache, and
// writes that fill whole large pages of the system's file cache.
constexpr std::size_t large_block_size = 32 * stream_block_size;

struct byte_run {
  const unsigned char* data;
  std::size_t size;
};

// A stream's buffer, on the heap (together the two are a large part of the
// 1 MiB stack that Windows gives a main thread) and aligned to a page, as the
// system copies to and from it fastest.
constexpr std::align_val_t buffer_alignment{stream_block_size};
struct buffer_delete {
  void operator()(unsigned char* buffer) const { ::operator delete[](buffer, buffer_alignment); }
};
using stream_buffer = std::unique_ptr<unsigned char[], buffer_delete>;

class text_reader {
 public:
  text_reader() = default;
  text_reader(const text_reader&) = delete;
  text_reader& operator=(const text_reader&) = delete;
  ~text_reader() { close(); }

  // Fails for a missing file, an empty path, a directory, or a file whose
  // kind cannot be told. Reads nothing yet, and picks the block size.
  bool open(const system::path_char* path);
  // The next block of text, of up to large_block_size bytes (from a device
  // stream_block_size), with byte_scan::scan_slack readable bytes after it;
  // empty at the end of the input and after a failed read.
  byte_run read_block();
  bool failed() const { return failed_; }
  const system::file_description& description() const { return description_; }
  void close();

 private:
  system::file_handle file_ = system::no_file;
  system::file_description description_;
  bool ended_ = false;
  bool failed_ = false;
  std::size_t block_size_ = 0;
  stream_buffer buffer_;
};

class text_writer {
 public:
  text_writer() = default;
  text_writer(const text_writer&) = delete;
  text_writer& operator=(const text_writer&) = delete;
  ~text_writer() { close(); }

  enum class opening { opened, failed, same_file };
  // Opens path for writing, creating it (mode 0644 under the umask) or
  // emptying a regular file, which keeps its mode; a regular file is first
  // locked, so that a second run waits until this one has closed it. When
  // path names the file keep_intact describes, nothing is opened or emptied:
  // same_file. Fails before touching the file when the buffer cannot be had.
  opening open(const system::path_char* path,
               const system::file_description* keep_intact = nullptr);

  // The one way in: room() takes max_room bytes (and scan_slack more); commit
  // hands over those up to end. Nothing is written before more than hold_size
  // bytes are held, or the close; then hold_size bytes go out in one write,
  // so that every write-out but the last starts and ends at a multiple of
  // hold_size in the file. A line end (CR LF) is the only character of the
  // script that takes two bytes, so the first write comes after more than
  // hold_size / 2 characters of the script, far more than 4096.
  static constexpr std::size_t max_room = 8 * stream_block_size;
  static constexpr std::size_t hold_size = large_block_size;
  static_assert(max_room <= hold_size, "one write-out leaves less than hold_size held");
  unsigned char* room() { return buffer_.get() + held_; }
  void commit(const unsigned char* end);

  // Writes out all that is held; false if any write-out failed.
  bool flush();
  // Drops all that is held: a close then writes nothing more.
  void abandon() { held_ = 0; }
  // Flushes and closes; 0, or -1 when any write-out or the close failed.
  int close();
  bool failed() const { return failed_; }
  // The open file, or system::no_file once closed.
  system::file_handle file() const { return file_; }
  // Whether the file opened is the tool's to discard: set once the same-file
  // check has passed and the lock is held, before the file is emptied, and
  // read by signal handlers, which may run on another thread (Windows).
  bool claimed() const { return claimed_.load(); }
  const system::file_description& description() const { return description_; }

 private:
  void write_out(std::size_t size);

  system::file_handle file_ = system::no_file;
  system::file_description description_;
  bool failed_ = false;
  std::size_t held_ = 0;
  stream_buffer buffer_;
  system::signal_flag claimed_;
};

}  // namespace lorvex
