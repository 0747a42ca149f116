#include "fake_system.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

namespace lorvex::testing {

namespace {

fake_system* current = nullptr;

// Once: what it calls may make the same call again.
void run_once(std::function<void()>& action) {
  const std::function<void()> taken = std::exchange(action, nullptr);
  if (taken) taken();
}

bool fake_open_for_reading(const system::path_char*, system::file_handle* file) {
  if (!current->input_exists) return false;
  *file = fake_input_handle;
  return true;
}

bool fake_open_for_writing(const system::path_char*, system::file_handle* file) {
  current->output_opened = true;
  if (!current->output_openable) return false;
  ++current->output_opens;
  *file = fake_output_handle;
  return true;
}

bool fake_describe(system::file_handle file, system::file_description* description) {
  if (file == fake_output_handle) run_once(current->during_output_describe);
  *description = system::file_description{};
  description->identified = true;
  description->volume = 7;
  description->index = static_cast<std::uint64_t>(
      file == fake_output_handle && current->output_is_input ? fake_input_handle : file);
  if (file == fake_input_handle || (file == fake_output_handle && current->output_is_input)) {
    description->kind = current->input_kind;
    description->regular = current->input_kind == system::file_kind::disk;
  } else {
    description->kind =
        current->output_regular ? system::file_kind::disk : system::file_kind::character_device;
    description->regular = current->output_regular;
  }
  return true;
}

bool fake_describe_path(const system::path_char*, bool follow_link,
                        system::file_description* description) {
  // Before the open, the path names the input or cannot be looked at; once
  // the output is open, it names the output; before a removal, the output
  // or another file put there since.
  if (follow_link && current->output_path_names_input) {
    return fake_describe(fake_input_handle, description);
  }
  if (follow_link) {
    return current->output_opens > 0 && fake_describe(fake_output_handle, description);
  }
  fake_describe(current->output_path_replaced ? 99 : fake_output_handle, description);
  return true;
}

bool fake_empty(system::file_handle) {
  run_once(current->during_output_empty);
  current->emptied = true;
  current->written.clear();
  return true;
}

system::lock_result fake_lock(system::file_handle) {
  run_once(current->during_output_lock);
  if (current->lock_results.empty()) return system::lock_result::held;
  const system::lock_result result = current->lock_results.front();
  current->lock_results.pop_front();
  return result;
}

system::io_result fake_read(system::file_handle, void* buffer, std::size_t size) {
  fake_system& fake = *current;
  const std::size_t call = fake.reads++;
  if (fake.interrupt_every_other_call && call % 2 == 0) return {system::io_status::interrupted, 0};
  if (!fake.read_faults.empty()) {
    const system::io_status status = fake.read_faults.front();
    fake.read_faults.pop_front();
    return {status, 0};
  }
  if (call == fake.failing_read) return {system::io_status::failed, 0};
  const std::size_t allowed = fake.read_sizes[std::min(call, fake.read_sizes.size() - 1)];
  const std::size_t count = std::min({size, allowed, fake.input.size() - fake.input_offset});
  std::memcpy(buffer, fake.input.data() + fake.input_offset, count);
  fake.input_offset += count;
  return {system::io_status::done, count};
}

system::io_result fake_write(system::file_handle, const void* data, std::size_t size) {
  fake_system& fake = *current;
  fake.write_sizes.push_back(size);
  const std::size_t call = fake.writes++;
  if (fake.interrupt_every_other_call && call % 2 == 0) return {system::io_status::interrupted, 0};
  if (call == fake.failing_write) return {system::io_status::failed, 0};
  if (!fake.write_faults.empty()) {
    const system::io_status status = fake.write_faults.front();
    fake.write_faults.pop_front();
    return {status, 0};
  }
  const std::size_t count = std::min(size, fake.longest_write);
  fake.written.append(static_cast<const char*>(data), count);
  return {system::io_status::done, count};
}

bool fake_close(system::file_handle file) {
  if (file == fake_output_handle) run_once(current->during_output_close);
  return !(file == fake_output_handle && current->fail_output_close);
}

bool fake_remove(system::file_handle, const system::path_char*) {
  if (current->removal_refused) return false;
  current->output_removed = true;
  return true;
}

}  // namespace

fake_system_scope::fake_system_scope(fake_system& fake) : saved_(system::calls()) {
  current = &fake;
  system::call_table& table = system::calls();
  table.open_for_reading = fake_open_for_reading;
  table.open_for_writing = fake_open_for_writing;
  table.describe = fake_describe;
  table.describe_path = fake_describe_path;
  table.empty = fake_empty;
  table.lock = fake_lock;
  table.read = fake_read;
  table.write = fake_write;
  table.sync = [](system::file_handle) { return true; };
  table.close = fake_close;
  table.remove = fake_remove;
  table.compare_final_paths = [](system::file_handle, system::file_handle) {
    return system::sameness::unknown;  // every fake file is identified
  };
}

fake_system_scope::~fake_system_scope() {
  system::calls() = saved_;
  current = nullptr;
}

}  // namespace lorvex::testing
