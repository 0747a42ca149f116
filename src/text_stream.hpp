// The tool's two files: the reader hands out blocks, the marker 0x1A applied by file kind; the
// writer sends the script out in large aligned blocks, and owns the output's whole life.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>

#include "system_file.hpp"

namespace lorvex {

// A terminal is read this much at a time, as the 0x1A rule depends on each read there; the rest in
// large blocks, which fill large pages of the file cache.
constexpr std::size_t stream_block_size = 4096;
constexpr std::size_t large_block_size = 32 * stream_block_size;

struct byte_run {
  const unsigned char* data;
  std::size_t size;
};

// A stream has its buffer first: without memory for it, no file is touched.
enum class opening { opened, failed, same_file, no_memory };

// Zeroed page-aligned memory from calloc: some libraries' aligned nothrow new throws inside.
class stream_buffer {
 public:
  bool allocate(std::size_t size);
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
  ~text_reader() { close(); }

  // Fails for a missing file, an empty path, a folder, or a file of no known kind.
  opening open(const system::path_char* path);
  // With byte_scan::scan_slack readable bytes after it; empty at the end.
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
  ~text_writer() { discard(); }

  // same_file: path names the file that keep_intact describes, untouched.
  opening open(const system::path_char* path,
               const system::file_description* keep_intact = nullptr);

  // room() takes max_room bytes (and scan_slack more), commit hands over those up to end; every
  // write-out but the last is hold_size bytes.
  static constexpr std::size_t max_room = 8 * stream_block_size;
  static constexpr std::size_t hold_size = large_block_size;
  static_assert(max_room <= hold_size, "one write-out leaves less than hold_size held");
  unsigned char* room() { return buffer_.get() + held_; }
  void commit(const unsigned char* end);
  bool failed() const { return failed_; }

  enum class finishing { closed, write_failed, close_failed };
  // write_failed has discarded; after a failed close the file may be another run's, and stays.
  finishing finish();
  void discard();
  static void discard_unfinished();  // what a signal's handler calls; async-signal-safe

 private:
  opening open_and_lock(const system::path_char* path, const system::file_description* keep_intact);
  void write_out(std::size_t size);
  void empty_and_remove() const;
  bool close();

  system::file_handle file_ = system::no_file;
  system::file_description description_;
  const system::path_char* path_ = nullptr;
  bool failed_ = false;
  std::size_t held_ = 0;
  stream_buffer buffer_;
  system::signal_flag claimed_{0};  // the file is the run's to discard
};

}  // namespace lorvex
