// Buffering for both files; every system call goes through system_file.hpp.
#include "text_stream.hpp"

#include <cstring>

namespace lorvex {

namespace {

constexpr unsigned char end_of_file_marker = 0x1A;

bool write_all(system::file_handle file, const unsigned char* data, std::size_t size) {
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

// A signal that ends the run ends it in the wait too; any other is waited out.
system::lock_result wait_for_lock(system::file_handle file) {
  system::lock_result locked = system::lock_result::interrupted;
  while (locked == system::lock_result::interrupted) locked = system::calls().lock(file);
  return locked;
}

}  // namespace

opening text_reader::open(const system::path_char* path) {
  // Zeroed, so that the bytes scanned past a block's end are never undefined.
  if (!buffer_.allocate(large_block_size + byte_scan::scan_slack)) return opening::no_memory;
  if (!system::calls().open_for_reading(path, &file_)) return opening::failed;
  if (!system::calls().describe(file_, &description_)) {
    close();
    return opening::failed;
  }
  // A terminal returns one typed line per read, and the marker drops the
  // rest of that read: its reads stay as small as a typed line can be.
  block_size_ = description_.kind == system::file_kind::character_device ? stream_block_size
                                                                         : large_block_size;
  return opening::opened;
}

byte_run text_reader::read_block() {
  unsigned char* const buffer = buffer_.get();
  if (ended_ || failed_) return {buffer, 0};
  system::io_result result{};
  do {
    result = system::calls().read(file_, buffer, block_size_);
  } while (result.status == system::io_status::interrupted);
  if (result.status == system::io_status::failed) {
    failed_ = true;
    return {buffer, 0};
  }
  std::size_t size = result.count;
  if (const void* marker = std::memchr(buffer, end_of_file_marker, size)) {
    size = static_cast<std::size_t>(static_cast<const unsigned char*>(marker) - buffer);
    // The marker ends a file or pipe for good. From a character device (a
    // terminal) it drops only the rest of this read, usually the rest of the
    // typed line, and ends the input only at the start of a read.
    ended_ = description_.kind != system::file_kind::character_device;
  }
  return {buffer, size};
}

void text_reader::close() {
  if (file_ != system::no_file) system::calls().close(file_);
  file_ = system::no_file;
}

opening text_writer::open(const system::path_char* path,
                          const system::file_description* keep_intact) {
  // Looked at before opening too, so that the same file is reported as such
  // even when it cannot be opened for writing.
  system::file_description existing;
  if (keep_intact != nullptr && system::calls().describe_path(path, true, &existing) &&
      system::compare_files(existing, *keep_intact) == system::sameness::same) {
    return opening::same_file;
  }
  constexpr std::size_t buffer_size = hold_size + max_room + byte_scan::scan_slack;
  if (!buffer_.allocate(buffer_size)) return opening::no_memory;
  // Each round but the last follows another run that removed or renamed the
  // file while this one waited; a path that never settles fails the open.
  for (int round = 0; round < 100; ++round) {
    if (!system::calls().open_for_writing(path, &file_)) return opening::failed;
    if (!system::calls().describe(file_, &description_)) break;
    // The path changed in between, or could not be looked at. Where the two
    // cannot be told apart (no ID, no final path), the input is kept safe.
    if (keep_intact != nullptr &&
        system::compare_files(description_, *keep_intact) != system::sameness::different) {
      close();
      return opening::same_file;
    }
    if (description_.regular) {
      const system::lock_result locked = wait_for_lock(file_);
      if (locked == system::lock_result::refused) break;
      if (locked == system::lock_result::held && !named_by(path)) {
        close();
        continue;
      }
    }
    // The claim lets a failure or a signal empty and remove the file. It
    // comes once this run holds the lock (or no lock can be had: a device,
    // a pipe, a file system without locks), never before: until then
    // another run may be writing the file, and a signal to this one,
    // waiting, must leave it be. A file that this open created is no
    // exception, as another run may have opened and locked it since; a run
    // that ends between its open and here leaves it there, empty.
    claimed_.store(true);
    if (!description_.regular || system::calls().empty(file_)) return opening::opened;
    claimed_.store(false);
    break;
  }
  close();
  return opening::failed;
}

// Whether path still names the file opened. The run that held the lock
// before may have removed or renamed it, or put another file there: a script
// written to this one would then reach no path, or another name. Where the
// file's identity is unknown (some Windows volumes), it cannot be told, and
// the file opened is taken.
bool text_writer::named_by(const system::path_char* path) const {
  system::file_description named;
  return !description_.identified ||
         (system::calls().describe_path(path, true, &named) &&
          system::compare_files(named, description_) == system::sameness::same);
}

void text_writer::commit(const unsigned char* end) {
  held_ = static_cast<std::size_t>(end - buffer_.get());
  if (held_ > hold_size) write_out(hold_size);
}

// Writes the first size bytes held and keeps the rest.
void text_writer::write_out(std::size_t size) {
  if (!failed_ && !write_all(file_, buffer_.get(), size)) failed_ = true;
  held_ -= size;
  std::memmove(buffer_.get(), buffer_.get() + size, held_);
}

bool text_writer::flush() {
  if (held_ > 0) write_out(held_);
  return !failed_;
}

text_writer::finishing text_writer::finish() {
  if (!flush() || (description_.remote && !system::calls().sync(file_))) {
    return finishing::write_failed;
  }
  claimed_.store(false);
  return close() == 0 ? finishing::closed : finishing::close_failed;
}

int text_writer::close() {
  if (file_ == system::no_file) return -1;
  flush();
  const bool closed = system::calls().close(file_);
  file_ = system::no_file;
  return closed && !failed_ ? 0 : -1;
}

}  // namespace lorvex
