// The tool's two files, buffered: the reader hands out blocks as read, large
// from files and pipes, a typed line at most 4096 bytes long from a terminal,
// with the end-of-file marker 0x1A applied by file kind; the writer sends the
// script out in large aligned blocks. Interrupted calls are retried and short
// writes completed here; the script's rules are not.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>

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

// What opening a stream came to. Its buffer is had first: without memory for
// it, no file is opened or touched.
enum class opening { opened, failed, same_file, no_memory };

// A stream's buffer, on the heap (together the two are a large part of the
// 1 MiB stack that Windows gives a main thread), zeroed, and aligned to a
// page, as the system copies to and from it fastest. From calloc: the
// aligned nothrow new of some C++ libraries throws inside, and where no
// memory is left even for that exception, the process is ended.
class stream_buffer {
 public:
  // False without memory.
  bool allocate(std::size_t size) {
    std::size_t space = size + stream_block_size - 1;
    block_.reset(static_cast<unsigned char*>(std::calloc(space, 1)));
    void* start = block_.get();
    data_ = static_cast<unsigned char*>(
        start != nullptr ? std::align(stream_block_size, size, start, space) : nullptr);
    return data_ != nullptr;
  }
  unsigned char* get() const { return data_; }

 private:
  struct free_block {
    void operator()(unsigned char* block) const { std::free(block); }
  };
  std::unique_ptr<unsigned char, free_block> block_;
  unsigned char* data_ = nullptr;
};

class text_reader {
 public:
  text_reader() = default;
  text_reader(const text_reader&) = delete;
  text_reader& operator=(const text_reader&) = delete;
  ~text_reader() { close(); }

  // Fails for a missing file, an empty path, a directory, or a file whose
  // kind cannot be told. Reads nothing yet, and picks the block size.
  opening open(const system::path_char* path);
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

  // Opens path for writing, creating it (mode 0644 under the umask) or
  // emptying a regular file, which keeps its mode; a regular file is first
  // locked, so that a second run waits until this one has closed it, and
  // opened afresh if the path no longer names it once the lock is had. When
  // path names the file keep_intact describes, nothing is opened or emptied:
  // same_file.
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
  enum class finishing { closed, write_failed, close_failed };
  // Writes out all that is held, then, the script complete and no longer the
  // run's to discard, closes, which lets go of the lock. write_failed leaves
  // the file open and claimed, for the caller to discard; after a failed
  // close the file may already be another run's.
  finishing finish();
  // Drops all that is held: a close then writes nothing more.
  void abandon() { held_ = 0; }
  // Flushes and closes; 0, or -1 when any write-out or the close failed.
  int close();
  bool failed() const { return failed_; }
  // The open file, or system::no_file once closed.
  system::file_handle file() const { return file_; }
  // Whether the file opened is the tool's to discard: set once the same-file
  // check has passed and the lock is held, before the file is emptied, until
  // the script is complete; read by signal handlers, which may run on
  // another thread (Windows).
  bool claimed() const { return claimed_.load(); }
  const system::file_description& description() const { return description_; }

 private:
  void write_out(std::size_t size);
  bool named_by(const system::path_char* path) const;

  system::file_handle file_ = system::no_file;
  system::file_description description_;
  bool failed_ = false;
  std::size_t held_ = 0;
  stream_buffer buffer_;
  system::signal_flag claimed_;
};

}  // namespace lorvex
