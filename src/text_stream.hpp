// Buffered text streams with the tool's own line-end translation, identical on
// every platform: reading turns CR LF into LF and stops at the end-of-file
// marker 0x1A; writing turns every LF into CR LF. The streams never use a C
// runtime's text mode and make every system call through system_file.hpp.
#pragma once

#include <cstddef>
#include <optional>

#include "byte_scan.hpp"
#include "system_file.hpp"

namespace lorvex {

constexpr std::size_t stream_buffer_size = 4096;
constexpr int end_of_input = -1;
constexpr unsigned char end_of_file_marker = 0x1A;

class text_reader {
 public:
  text_reader(text_reader&& other) noexcept;
  text_reader& operator=(text_reader&&) = delete;
  text_reader(const text_reader&) = delete;
  ~text_reader();

  // True once a read failed; from then on every read yields the end of input.
  bool failed() const { return failed_; }
  const system::file_description& description() const { return description_; }

 private:
  text_reader(system::file_handle file, const system::file_description& description);
  int read_char_slowly();
  bool refill();

  system::file_handle file_;
  system::file_description description_;
  bool open_ = true;
  bool marker_seen_ = false;  // 0x1A met in a file or pipe: the input has ended for good
  bool end_pending_ = false;  // the read that looked past a CR found the end of input
  bool failed_ = false;
  std::size_t next_ = 0;
  std::size_t end_ = 0;
  unsigned char buffer_[stream_buffer_size + byte_scan::scan_slack] = {};

  friend std::optional<text_reader> open_text_reader(const system::path_char* path);
  friend int read_char(text_reader& reader);
  friend struct buffered_bytes buffered_input(const text_reader& reader);
  friend void consume_plain(text_reader& reader, std::size_t count);
  friend int close_stream(text_reader& reader);
};

struct writer_opening;
struct output_room;

class text_writer {
 public:
  text_writer(text_writer&& other) noexcept;
  text_writer& operator=(text_writer&&) = delete;
  text_writer(const text_writer&) = delete;
  ~text_writer();

  // True once a write-out failed; the stream takes no more characters.
  bool failed() const { return failed_; }
  const system::file_description& description() const { return description_; }
  // The open file, or system::no_file once closed.
  system::file_handle file() const { return open_ ? file_ : system::no_file; }
  // Writes out everything handed over so far; false if any write-out failed.
  bool flush();
  // Drops what is not written out yet: closing then writes nothing more.
  void abandon() { pending_size_ = held_ = 0; }

 private:
  text_writer(system::file_handle file, const system::file_description& description);
  bool write_out(std::size_t through, bool closing);

  system::file_handle file_;
  system::file_description description_;
  bool open_ = true;
  bool failed_ = false;
  // Characters handed over since the last write-out: the buffer holds at most
  // stream_buffer_size of them, and the next one sends them out.
  std::size_t held_ = 0;
  // The output, already translated (LF as CR LF), not yet written. Whole
  // blocks go to the file; the rest waits for the next write-out.
  std::size_t pending_size_ = 0;
  char pending_[4 * stream_buffer_size + byte_scan::scan_slack];

  friend writer_opening open_text_writer(const system::path_char* path,
                                         const system::file_description* keep_intact);
  friend std::size_t write_chars(text_writer& writer, const char* data, std::size_t count);
  friend char* reserve_line(text_writer& writer);
  friend bool commit_line(text_writer& writer, std::size_t count);
  friend output_room reserve_output(text_writer& writer);
  friend bool commit_output(text_writer& writer, std::size_t count, std::size_t line_ends);
  friend int close_stream(text_writer& writer);
};

// Opens an existing file for reading. Fails for a missing file, an empty path,
// a directory, or a file whose kind cannot be told. Reads nothing yet.
std::optional<text_reader> open_text_reader(const system::path_char* path);

struct writer_opening {
  std::optional<text_writer> writer;
  bool refused_same_file = false;  // path names keep_intact: nothing was opened or emptied
};

// Opens path for writing, creating it (mode 0644 under the umask) or emptying
// it; an existing file keeps its mode. When keep_intact is given and path
// names that same file, the open is refused before anything is touched.
writer_opening open_text_writer(const system::path_char* path,
                                const system::file_description* keep_intact = nullptr);

// The next character after translation, or end_of_input (also after a failed
// read: see text_reader::failed).
inline int read_char(text_reader& reader) {
  if (reader.next_ < reader.end_) {
    const unsigned char c = reader.buffer_[reader.next_];
    if (c != '\r' && c != end_of_file_marker) {
      ++reader.next_;
      return c;
    }
  }
  return reader.read_char_slowly();
}

// Bulk access for a consumer that handles ordinary runs itself: the bytes
// buffered and not yet read, untranslated, followed by byte_scan::scan_slack
// readable bytes. Every byte in it but a CR or a 0x1A reads as itself, so a
// consumer may take runs of such bytes with consume_plain, and must leave a
// CR or 0x1A, and the refilling of an empty buffer, to read_char.
struct buffered_bytes {
  const unsigned char* data;
  std::size_t size;
};
buffered_bytes buffered_input(const text_reader& reader);
void consume_plain(text_reader& reader, std::size_t count);

// Hands count characters to the stream; returns how many it took, fewer than
// count when a write-out failed.
std::size_t write_chars(text_writer& writer, const char* data, std::size_t count);

// For a producer that builds whole lines in place, sparing a copy and the
// search for line feeds: room for max_line_chars characters (and
// byte_scan::scan_slack more bytes) at the end of the stream's output. It is
// valid until commit_line hands over the first count of them, of which only
// the last is a line feed; the stream then holds them as if write_chars had
// been given them. commit_line returns false when a write-out failed.
constexpr std::size_t max_line_chars = stream_buffer_size;
char* reserve_line(text_writer& writer);
bool commit_line(text_writer& writer, std::size_t count);

// For a producer that writes many lines in place with their line ends
// already translated: room for size bytes (and byte_scan::scan_slack more) at
// the end of the stream's output, never less than max_line_chars. It is valid
// until commit_output hands over the first count bytes, which end line_ends
// lines with CR LF; the stream then holds them as if write_chars had been
// given the same lines with LF. commit_output returns false when a write-out
// failed.
struct output_room {
  char* data;
  std::size_t size;
};
output_room reserve_output(text_writer& writer);
bool commit_output(text_writer& writer, std::size_t count, std::size_t line_ends);

// Closes the file (a writer first writes out its buffer). Returns 0, or -1
// when the closing failed or, for a writer, when any write-out failed.
int close_stream(text_reader& reader);
int close_stream(text_writer& writer);

}  // namespace lorvex
