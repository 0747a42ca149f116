// Buffering for both files, and the output's life from its open to its close or discard.
#include "text_stream.hpp"

#include <atomic>
#include <cstring>

#include "byte_scan.hpp"

namespace lorvex {

namespace {

constexpr unsigned char end_of_file_marker = 0x1A;

std::atomic<text_writer*> unfinished{nullptr};  // from before the output's open to its end
static_assert(std::atomic<text_writer*>::is_always_lock_free, "a signal handler reads it");

bool write_all(system::file_handle file, const unsigned char* data, std::size_t size) {
  while (size > 0) {
    const system::io_result result = system::calls().write(file, data, size);
    if (result.status == system::io_status::interrupted) continue;
    if (result.status == system::io_status::failed || result.count == 0) return false;
    data += result.count;
    size -= result.count;
  }
  return true;
}

// Whether path names the file described (through a final link, or directly).
bool names(const system::path_char* path, bool follow_link, const system::file_description& file) {
  system::file_description named;
  return system::calls().describe_path(path, follow_link, &named) &&
         (follow_link || named.regular) &&
         system::compare_files(named, file) == system::sameness::same;
}

system::lock_result wait_for_lock(system::file_handle file) {
  system::lock_result locked = system::lock_result::interrupted;
  while (locked == system::lock_result::interrupted) locked = system::calls().lock(file);
  return locked;
}

}  // namespace

bool stream_buffer::allocate(std::size_t size) {
  std::size_t space = size + stream_block_size - 1;
  block_.reset(static_cast<unsigned char*>(std::calloc(space, 1)));
  void* start = block_.get();
  data_ = static_cast<unsigned char*>(
      start != nullptr ? std::align(stream_block_size, size, start, space) : nullptr);
  return data_ != nullptr;
}

opening text_reader::open(const system::path_char* path) {
  if (!buffer_.allocate(large_block_size + byte_scan::scan_slack)) return opening::no_memory;
  if (!system::calls().open_for_reading(path, &file_)) return opening::failed;
  if (!system::calls().describe(file_, &description_)) {
    close();
    return opening::failed;
  }
  block_size_ = description_.kind == system::file_kind::character_device ? stream_block_size
                                                                         : large_block_size;
  return opening::opened;
}

byte_run text_reader::read_block() {
  unsigned char* const buffer = buffer_.get();
  if (ended_ || failed_) return {buffer, 0};
  system::io_result result{system::io_status::interrupted, 0};
  while (result.status == system::io_status::interrupted) {
    result = system::calls().read(file_, buffer, block_size_);
  }
  if (result.status == system::io_status::failed) {
    failed_ = true;
    return {buffer, 0};
  }
  std::size_t size = result.count;
  if (const void* marker = std::memchr(buffer, end_of_file_marker, size)) {
    size = static_cast<std::size_t>(static_cast<const unsigned char*>(marker) - buffer);
    // It ends a file or pipe for good. From a character device (a terminal) it drops the rest of
    // this read (of the typed line), and ends the input only at the start of a read.
    ended_ = description_.kind != system::file_kind::character_device;
  }
  return {buffer, size};
}

void text_reader::close() {
  if (file_ != system::no_file) system::calls().close(file_);
  file_ = system::no_file;
}

// The output's life, in order: registered for the handlers; opened, no other file than the input;
// locked, a regular file, so that a run on it waits for this one, and then opened afresh if the
// path no longer names it (the run before removed or renamed it); claimed, the run's to remove on a
// failure or signal, only now (a run that ends before leaves a file it created, empty); emptied.
// finish() writes all out, unclaims and only then closes, which lets the lock go; discard() empties
// and removes it before. Nothing is left to undo once another run may have the file.
opening text_writer::open(const system::path_char* path,
                          const system::file_description* keep_intact) {
  if (keep_intact != nullptr && names(path, true, *keep_intact)) return opening::same_file;
  if (!buffer_.allocate(hold_size + max_room + byte_scan::scan_slack)) return opening::no_memory;
  path_ = path;
  unfinished.store(this);
  for (int round = 0; round < 100; ++round) {  // a path that never settles fails
    if (!system::calls().open_for_writing(path, &file_) ||
        !system::calls().describe(file_, &description_)) {
      break;
    }
    // Files that cannot be told apart (no ID, no final path) count as one.
    if (keep_intact != nullptr &&
        system::compare_files(description_, *keep_intact) != system::sameness::different) {
      discard();
      return opening::same_file;
    }
    const system::lock_result locked =
        description_.regular ? wait_for_lock(file_) : system::lock_result::unavailable;
    if (locked == system::lock_result::refused) break;
    // Where the file's identity is unknown (some Windows volumes), it is taken.
    if (locked == system::lock_result::unavailable || !description_.identified ||
        names(path, true, description_)) {
      claimed_.store(true);
      if (!description_.regular || system::calls().empty(file_)) return opening::opened;
      claimed_.store(false);  // a file that cannot be emptied is left as it was
      break;
    }
    close();
  }
  discard();
  return opening::failed;
}

void text_writer::commit(const unsigned char* end) {
  held_ = static_cast<std::size_t>(end - buffer_.get());
  if (held_ > hold_size) write_out(hold_size);
}

void text_writer::write_out(std::size_t size) {
  if (!failed_ && !write_all(file_, buffer_.get(), size)) failed_ = true;
  held_ -= size;
  std::memmove(buffer_.get(), buffer_.get() + size, held_);
}

text_writer::finishing text_writer::finish() {
  if (held_ > 0) write_out(held_);
  if (failed_ || !system::calls().sync(file_)) {
    discard();
    return finishing::write_failed;
  }
  claimed_.store(false);
  unfinished.store(nullptr);
  return close() ? finishing::closed : finishing::close_failed;
}

void text_writer::discard() {
  held_ = 0;
  if (claimed_.load()) empty_and_remove();
  claimed_.store(false);
  text_writer* self = this;
  unfinished.compare_exchange_strong(self, nullptr);
  close();
}

void text_writer::discard_unfinished() {
  const text_writer* output = unfinished.load();
  if (output != nullptr && output->claimed_.load()) output->empty_and_remove();
}

// Emptied first, so that a file that cannot be removed holds no half script; removed only where the
// path names that very file directly (no link, no file put there since).
void text_writer::empty_and_remove() const {
  if (!description_.regular) return;
  system::calls().empty(file_);
  if (names(path_, false, description_)) system::calls().remove(file_, path_);
}

bool text_writer::close() {
  if (file_ == system::no_file) return true;
  const bool closed = system::calls().close(file_);
  file_ = system::no_file;
  return closed;
}

}  // namespace lorvex
