// The POSIX side of system_file.hpp: descriptors, fstat, the output's lock and the signals that end
// a run. Each call makes a single attempt.
#include "system_file.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace lorvex::system {
namespace {

// A 32-bit off_t misses the far byte and fails files of 2 GiB: 32-bit targets need 64-bit offsets.
static_assert(sizeof(off_t) >= sizeof far_lock_byte, "off_t must hold 64-bit file offsets");

int descriptor(file_handle file) { return static_cast<int>(file); }

bool open_descriptor(const char* path, int flags, file_handle* file) {
  int fd = -1;
  do {  // opening a FIFO waits for its other end, and that wait can be interrupted
    fd = ::open(path, flags | O_CLOEXEC | O_NOCTTY, 0644);
  } while (fd < 0 && errno == EINTR);
  *file = fd;
  return fd >= 0;
}

bool fill_description(int result, const struct stat& status, file_description* description) {
  *description = file_description{};
  if (result != 0) return false;
  description->identified = true;
  description->volume = static_cast<std::uint64_t>(status.st_dev);
  description->index = static_cast<std::uint64_t>(status.st_ino);
  description->regular = S_ISREG(status.st_mode);
  description->kind = S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode) ? file_kind::pipe
                      : S_ISCHR(status.st_mode) ? file_kind::character_device
                                                : file_kind::disk;
  // A block device reads as a disk; a folder, a link or anything else fails.
  return S_ISREG(status.st_mode) || S_ISBLK(status.st_mode) || description->kind != file_kind::disk;
}

// An empty file is left alone: on ext4, emptying marks a file rewritten, and its close then waits.
bool empty(file_handle file) {
  struct stat status {};
  if (::fstat(descriptor(file), &status) == 0 && status.st_size == 0) return true;
  int result = 0;
  do {
    result = ::ftruncate(descriptor(file), 0);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

// Of this open file, going at its close (a classic fcntl lock goes with any of the process's
// descriptors of it); a caller's flock does not stop it on Linux. Elsewhere flock. Only a file
// system without locks (ENOLCK, EOPNOTSUPP, EINVAL: some network shares) lets a run go on.
lock_result lock(file_handle file) {
  int result = -1;
#if defined(F_OFD_SETLKW)
  struct flock far_byte {};
  far_byte.l_type = F_WRLCK;
  far_byte.l_whence = SEEK_SET;
  far_byte.l_start = static_cast<off_t>(far_lock_byte);
  far_byte.l_len = 1;
  result = ::fcntl(descriptor(file), F_OFD_SETLKW, &far_byte);
  if (result != 0 && errno == EINVAL) result = ::flock(descriptor(file), LOCK_EX);  // an old kernel
#else
  result = ::flock(descriptor(file), LOCK_EX);
#endif
  if (result == 0) return lock_result::held;
  if (errno == EINTR) return lock_result::interrupted;
  const bool no_locks =
      errno == ENOLCK || errno == EOPNOTSUPP || errno == ENOTSUP || errno == EINVAL;
  return no_locks ? lock_result::unavailable : lock_result::refused;
}

io_result result_of(ssize_t moved) {
  if (moved >= 0) return {io_status::done, static_cast<std::size_t>(moved)};
  return {errno == EINTR ? io_status::interrupted : io_status::failed, 0};
}

call_table make_native_table() {
  call_table table{};
  table.open_for_reading = [](const char* path, file_handle* file) {
    return open_descriptor(path, O_RDONLY, file);
  };
  table.open_for_writing = [](const char* path, file_handle* file) {
    return open_descriptor(path, O_WRONLY | O_CREAT, file);
  };
  table.describe = [](file_handle file, file_description* description) {
    struct stat status {};
    return fill_description(::fstat(descriptor(file), &status), status, description);
  };
  table.describe_path = [](const char* path, bool follow_link, file_description* description) {
    struct stat status {};  // a link itself fails to describe
    const int result = follow_link ? ::stat(path, &status) : ::lstat(path, &status);
    return fill_description(result, status, description);
  };
  table.empty = empty;
  table.lock = lock;
  table.read = [](file_handle file, void* buffer, std::size_t size) {
    return result_of(::read(descriptor(file), buffer, size));
  };
  table.write = [](file_handle file, const void* data, std::size_t size) {
    return result_of(::write(descriptor(file), data, size));
  };
  table.sync = [](file_handle) { return true; };  // a network file system reports at the close
  // Never retried: after an interrupted close, a retry could close another thread's descriptor.
  table.close = [](file_handle file) { return ::close(descriptor(file)) == 0; };
  table.remove = [](file_handle, const char* path) { return ::unlink(path) == 0; };
  table.compare_final_paths = [](file_handle, file_handle) { return sameness::unknown; };
  return table;
}

void (*termination_cleanup)() = nullptr;

// Those whose default action ends the process: each cleans up first, then ends lorvex by that
// signal. SIGPIPE comes only from a pipe, never removed; SIGXFSZ is ignored, so the write fails.
constexpr int ending_signals[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGTERM, SIGALRM, SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF,
    SIGXCPU,   SIGSEGV, SIGBUS,  SIGILL,  SIGFPE,  SIGABRT, SIGSYS,  SIGTRAP,
#if defined(__linux__)  // which macOS and the BSDs ignore, or lack
    SIGPWR,    SIGIO,
#if defined(SIGSTKFLT)
    SIGSTKFLT,
#endif
#endif
#if defined(SIGEMT)
    SIGEMT,
#endif
};

template <typename action_type>
void for_each_ending_signal(action_type act) {
  for (const int signal_number : ending_signals) act(signal_number);
#if defined(SIGRTMIN) && defined(SIGRTMAX)
  for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number) act(signal_number);
#endif
}

extern "C" void on_ending_signal(int signal_number) {
  termination_cleanup();
  // Delivered again with its default action, so that a caller (make, a shell) sees death by it; a
  // fault's instruction faults again instead.
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

// A stack overflow raises SIGSEGV with no stack left: the handlers run on one of their own, above
// MINSIGSTKSZ on every processor, and static.
alignas(16) char handler_stack[64 * 1024];

}  // namespace

const call_table& native_calls() {
  static const call_table table = make_native_table();
  return table;
}

void prepare_process(void (*on_termination)()) {
  termination_cleanup = on_termination;
  ::signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG instead
  stack_t alternate{};
  alternate.ss_sp = handler_stack;
  alternate.ss_size = sizeof handler_stack;
  ::sigaltstack(&alternate, nullptr);
  struct sigaction action {};
  action.sa_handler = on_ending_signal;
  action.sa_flags = SA_ONSTACK;  // every one, since any may come as the stack runs out
  ::sigemptyset(&action.sa_mask);
  for_each_ending_signal([&](int signal_number) { ::sigaddset(&action.sa_mask, signal_number); });
  for_each_ending_signal([&](int signal_number) {
    struct sigaction current {};  // one that the caller ignored stays ignored
    if (::sigaction(signal_number, nullptr, &current) != 0 ||
        (current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_IGN) {
      ::sigaction(signal_number, &action, nullptr);
    }
  });
}

const char* resource_name_bytes(const char* argument, std::string*) { return argument; }

bool print_message(std::FILE* stream, const char* before, const char* path, const char* after) {
  const int printed = std::fprintf(stream, "%s%s%s", before, path, after);  // path is no format
  return std::fflush(stream) == 0 && printed >= 0;
}

}  // namespace lorvex::system
