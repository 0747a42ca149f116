// The tool's two files, buffered: the reader hands out blocks of up to 4096
// bytes with the end-of-file marker 0x1A applied by file kind; the writer
// sends the script out in whole 4096-byte blocks. Interrupted calls are
// retried and short writes completed here; the script's rules are not.
#pragma once

#include <cstddef>

#include "byte_scan.hpp"
#include "system_file.hpp"

namespace lorvex {

constexpr std::size_t stream_block_size = 4096;

struct byte_run {
  const unsigned char* data;
  std::size_t size;
};

class text_reader {
 public:
  text_reader() = default;
  text_reader(const text_reader&) = delete;
  text_reader& operator=(const text_reader&) = delete;
  ~text_reader() { close(); }

  // Fails for a missing file, an empty path, a directory, or a file whose
  // kind cannot be told. Reads nothing yet.
  bool open(const system::path_char* path);
  // The next block of text, with byte_scan::scan_slack readable bytes after
  // it; empty at the end of the input and after a failed read.
  byte_run read_block();
  bool failed() const { return failed_; }
  const system::file_description& description() const { return description_; }
  void close();

 private:
  system::file_handle file_ = system::no_file;
  system::file_description description_;
  bool ended_ = false;
  bool failed_ = false;
  unsigned char buffer_[stream_block_size + byte_scan::scan_slack] = {};
};

class text_writer {
 public:
  text_writer() = default;
  text_writer(const text_writer&) = delete;
  text_writer& operator=(const text_writer&) = delete;
  ~text_writer() { close(); }

  enum class opening { opened, failed, same_file };
  // Opens path for writing, creating it (mode 0644 under the umask) or
  // emptying a regular file, which keeps its mode. When path names the file
  // keep_intact describes, nothing is opened or emptied: same_file.
  opening open(const system::path_char* path,
               const system::file_description* keep_intact = nullptr);

  // The one way in: room() takes max_room bytes (and scan_slack more); commit
  // hands over those up to end. Nothing is written before more than hold_size
  // bytes are held, or the close; then all whole blocks held go in one write.
  // A line end (CR LF) is the only character of the script that takes two
  // bytes, so the first write comes after more than hold_size / 2 characters
  // of the script, more than a block's worth.
  static constexpr std::size_t max_room = 8 * stream_block_size;
  static constexpr std::size_t hold_size = 4 * stream_block_size;
  unsigned char* room() { return buffer_ + held_; }
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
  const system::file_description& description() const { return description_; }

 private:
  void write_out(std::size_t size);

  system::file_handle file_ = system::no_file;
  system::file_description description_;
  bool failed_ = false;
  std::size_t held_ = 0;
  unsigned char buffer_[hold_size + max_room + byte_scan::scan_slack];
};

}  // namespace lorvex
