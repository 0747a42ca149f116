// Buffering and line-end translation for both directions. Interrupted reads
// and writes are retried and short writes completed here, so the platform
// blocks below stay single calls.
#include "text_stream.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

namespace lorvex {

namespace {

system::io_result read_retrying(system::file_handle file, void* buffer, std::size_t size) {
  for (;;) {
    const system::io_result result = system::calls().read(file, buffer, size);
    if (result.status != system::io_status::interrupted) return result;
  }
}

bool write_all(system::file_handle file, const char* data, std::size_t size) {
  while (size > 0) {
    const system::io_result result = system::calls().write(file, data, size);
    if (result.status == system::io_status::interrupted) continue;
    // A write that moves nothing would loop for ever; count it as failed.
    if (result.status == system::io_status::failed || result.count == 0) return false;
    data += result.count;
    size -= result.count;
  }
  return true;
}

}  // namespace

// ------------------------------------------------------------------ reading

text_reader::text_reader(system::file_handle file, const system::file_description& description)
    : file_(file), description_(description) {}

text_reader::text_reader(text_reader&& other) noexcept
    : file_(other.file_),
      description_(other.description_),
      open_(std::exchange(other.open_, false)),
      marker_seen_(other.marker_seen_),
      end_pending_(other.end_pending_),
      failed_(other.failed_),
      next_(other.next_),
      end_(other.end_) {
  std::memcpy(buffer_, other.buffer_, end_);
}

text_reader::~text_reader() {
  if (open_) system::calls().close(file_);
}

std::optional<text_reader> open_text_reader(const system::path_char* path) {
  system::file_handle file = 0;
  if (!system::calls().open_for_reading(path, &file)) return std::nullopt;
  system::file_description description;
  if (!system::calls().describe(file, &description)) {
    system::calls().close(file);
    return std::nullopt;
  }
  return text_reader(file, description);
}

// Reads the next block. On a character device an end-of-file marker cuts the
// block short, and a block that starts with one is read as the end of input.
bool text_reader::refill() {
  next_ = end_ = 0;
  if (marker_seen_ || failed_) return false;
  const system::io_result result = read_retrying(file_, buffer_, stream_buffer_size);
  if (result.status != system::io_status::done) {
    failed_ = true;
    return false;
  }
  std::size_t count = result.count;
  if (description_.kind == system::file_kind::character_device) {
    const void* marker = std::memchr(buffer_, end_of_file_marker, count);
    if (marker != nullptr) {
      count = static_cast<std::size_t>(static_cast<const unsigned char*>(marker) - buffer_);
    }
  }
  end_ = count;
  return count > 0;
}

int text_reader::read_char_slowly() {
  if (end_pending_) {
    end_pending_ = false;
    return end_of_input;
  }
  if (next_ == end_ && !refill()) return end_of_input;
  const unsigned char c = buffer_[next_++];
  if (c == end_of_file_marker) {
    // Only files and pipes get here: device blocks were cut at the marker.
    marker_seen_ = true;
    next_ = end_ = 0;
    return end_of_input;
  }
  if (c != '\r') return c;
  // A CR decides on the byte after it, which may have to come from the next
  // block. If that read finds the end of input (on a terminal, perhaps only for
  // now), the CR is delivered and the end comes next.
  if (next_ == end_ && !refill()) {
    end_pending_ = !failed_ && !marker_seen_;
    return '\r';
  }
  if (buffer_[next_] == '\n') {
    ++next_;
    return '\n';
  }
  return '\r';
}

buffered_bytes buffered_input(const text_reader& reader) {
  return {reader.buffer_ + reader.next_, reader.end_ - reader.next_};
}

void consume_plain(text_reader& reader, std::size_t count) { reader.next_ += count; }

int close_stream(text_reader& reader) {
  if (!reader.open_) return -1;
  reader.open_ = false;
  return system::calls().close(reader.file_) ? 0 : -1;
}

// ------------------------------------------------------------------ writing

text_writer::text_writer(system::file_handle file, const system::file_description& description)
    : file_(file), description_(description) {}

text_writer::text_writer(text_writer&& other) noexcept
    : file_(other.file_),
      description_(other.description_),
      open_(std::exchange(other.open_, false)),
      failed_(other.failed_),
      held_(other.held_),
      pending_size_(other.pending_size_) {
  std::memcpy(pending_, other.pending_, pending_size_);
}

text_writer::~text_writer() {
  if (open_) system::calls().close(file_);
}

writer_opening open_text_writer(const system::path_char* path,
                                const system::file_description* keep_intact) {
  writer_opening opening;
  // Checked before opening too, so that the same file is reported as such
  // even when it could not be opened for writing.
  system::file_description existing;
  if (keep_intact != nullptr && system::calls().describe_path(path, &existing) &&
      system::same_file(existing, *keep_intact)) {
    opening.refused_same_file = true;
    return opening;
  }
  system::file_handle file = 0;
  if (!system::calls().open_for_writing(path, &file)) return opening;
  system::file_description description;
  bool usable = system::calls().describe(file, &description);
  // Checked again on the open file, in case the path changed in between.
  if (usable && keep_intact != nullptr && system::same_file(description, *keep_intact)) {
    opening.refused_same_file = true;
    usable = false;
  }
  if (usable && description.regular) usable = system::calls().empty(file);
  if (!usable) {
    system::calls().close(file);
    return opening;
  }
  opening.writer.emplace(text_writer(file, description));
  return opening;
}

// Writes the whole blocks among the first `through` pending bytes (all of
// them when closing) and keeps the rest for later, so the file gets the same
// aligned writes as a block copy.
bool text_writer::write_out(std::size_t through, bool closing) {
  const std::size_t size = closing ? through : through - through % stream_buffer_size;
  held_ = 0;
  if (!write_all(file_, pending_, size)) {
    failed_ = true;
    pending_size_ = 0;
    return false;
  }
  pending_size_ -= size;
  std::memmove(pending_, pending_ + size, pending_size_);
  return true;
}

std::size_t write_chars(text_writer& writer, const char* data, std::size_t count) {
  std::size_t taken = 0;
  while (taken < count && !writer.failed_) {
    if (writer.held_ == stream_buffer_size && !writer.write_out(writer.pending_size_, false)) break;
    const std::size_t room = std::min(stream_buffer_size - writer.held_, count - taken);
    // Translated on the way in: every LF becomes CR LF.
    const char* from = data + taken;
    const char* const last = from + room;
    char* out = writer.pending_ + writer.pending_size_;
    while (from != last) {
      const void* found = std::memchr(from, '\n', static_cast<std::size_t>(last - from));
      const char* const run_end = found != nullptr ? static_cast<const char*>(found) : last;
      std::memcpy(out, from, static_cast<std::size_t>(run_end - from));
      out += run_end - from;
      from = run_end;
      if (from != last) {
        *out++ = '\r';
        *out++ = '\n';
        ++from;
      }
    }
    writer.pending_size_ = static_cast<std::size_t>(out - writer.pending_);
    writer.held_ += room;
    taken += room;
  }
  return taken;
}

char* reserve_line(text_writer& writer) { return writer.pending_ + writer.pending_size_; }

bool commit_line(text_writer& writer, std::size_t count) {
  if (writer.failed_ || count == 0) return !writer.failed_;
  const std::size_t line_start = writer.pending_size_;
  // The line's last character, its only LF, becomes CR LF.
  writer.pending_[line_start + count - 1] = '\r';
  writer.pending_[line_start + count] = '\n';
  writer.pending_size_ += count + 1;
  if (writer.held_ + count > stream_buffer_size) {
    // The character that finds the buffer full is the line's (room + 1)th;
    // what was handed over before it, none of it a line feed, goes out.
    const std::size_t room = stream_buffer_size - writer.held_;
    const std::size_t rest = count - room;
    if (!writer.write_out(line_start + room, false)) return false;
    writer.held_ = rest;
    return true;
  }
  writer.held_ += count;
  return true;
}

output_room reserve_output(text_writer& writer) {
  // At most a block's remainder and one buffer's worth of characters (each
  // perhaps a CR LF) are pending, so the room never falls below a buffer.
  static_assert(sizeof writer.pending_ - byte_scan::scan_slack >= 4 * stream_buffer_size,
                "pending output must leave room for max_line_chars");
  return {writer.pending_ + writer.pending_size_,
          sizeof writer.pending_ - byte_scan::scan_slack - writer.pending_size_};
}

bool commit_output(text_writer& writer, std::size_t count, std::size_t line_ends) {
  if (writer.failed_ || count == 0) return !writer.failed_;
  writer.pending_size_ += count;
  const std::size_t held = writer.held_ + (count - line_ends);
  if (held <= stream_buffer_size) {
    writer.held_ = held;
    return true;
  }
  // Handed over one by one, these characters would have found the buffer full
  // at every multiple of its size; what it holds after that is the same.
  if (!writer.write_out(writer.pending_size_, false)) return false;
  writer.held_ = (held - 1) % stream_buffer_size + 1;
  return true;
}

bool text_writer::flush() {
  if (!failed_ && pending_size_ > 0) write_out(pending_size_, true);
  return !failed_;
}

int close_stream(text_writer& writer) {
  if (!writer.open_) return -1;
  writer.flush();
  writer.open_ = false;
  const bool closed = system::calls().close(writer.file_);
  return closed && !writer.failed_ ? 0 : -1;
}

}  // namespace lorvex
