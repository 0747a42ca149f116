// The POSIX side of system_file.hpp: descriptors, fstat and the signals that
// end a run. Each call makes a single attempt; retries and short writes are
// the caller's job.
#include "system_file.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace lorvex::system {
namespace {

// A 32-bit off_t would put the lock's far byte out of reach and fail every
// file of 2 GiB or more: 32-bit targets need _FILE_OFFSET_BITS=64, which the
// CMake and Meson builds set.
static_assert(sizeof(off_t) >= sizeof far_lock_byte, "off_t must hold 64-bit file offsets");

bool open_descriptor(const char* path, int flags, file_handle* file) {
  int fd = -1;
  do {
    // Opening a FIFO waits for its other end, and that wait can be interrupted.
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
  const mode_t mode = status.st_mode;
  description->regular = S_ISREG(mode);
  description->kind = S_ISFIFO(mode) || S_ISSOCK(mode) ? file_kind::pipe
                      : S_ISCHR(mode)                  ? file_kind::character_device
                                                       : file_kind::disk;
  // A block device reads as a disk; a folder, a link or anything else fails.
  return S_ISREG(mode) || S_ISBLK(mode) || description->kind != file_kind::disk;
}

bool native_empty(file_handle file) {
  // A file that is empty already is left alone: on ext4, emptying one marks
  // it as rewritten in place, and its close then waits to start writing all
  // of it to disk, a new file too.
  struct stat status {};
  if (::fstat(static_cast<int>(file), &status) == 0 && status.st_size == 0) return true;
  int result = 0;
  do {
    result = ::ftruncate(static_cast<int>(file), 0);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

// A lock that belongs to this open file and goes exactly at the output's
// close: a classic fcntl lock would belong to the process and go when any of
// its descriptors of the file closed. An open-file-description lock on
// far_lock_byte keeps lorvex runs apart and hardly anyone else: on Linux a
// caller's whole-file flock (flock(1) around lorvex, say) does not stop it.
// Elsewhere, and on kernels without it, flock.
int lock_open_file(int fd) {
#if defined(F_OFD_SETLKW)
  struct flock far_byte {};
  far_byte.l_type = F_WRLCK;
  far_byte.l_whence = SEEK_SET;
  far_byte.l_start = static_cast<off_t>(far_lock_byte);
  far_byte.l_len = 1;
  const int result = ::fcntl(fd, F_OFD_SETLKW, &far_byte);
  if (result == 0 || errno != EINVAL) return result;  // EINVAL: a kernel without it
#endif
  return ::flock(fd, LOCK_EX);
}

// Only a file system without locks (ENOLCK, EOPNOTSUPP, ENOTSUP, EINVAL:
// some network shares) lets the run go on without one.
lock_result native_lock(file_handle file) {
  if (lock_open_file(static_cast<int>(file)) == 0) return lock_result::held;
  switch (errno) {
    case EINTR:
      return lock_result::interrupted;
    case ENOLCK:
    case EOPNOTSUPP:
#if ENOTSUP != EOPNOTSUPP
    case ENOTSUP:
#endif
    case EINVAL:
      return lock_result::unavailable;
    default:
      return lock_result::refused;
  }
}

io_result result_of(ssize_t moved) {
  if (moved >= 0) return {io_status::done, static_cast<std::size_t>(moved)};
  return {errno == EINTR ? io_status::interrupted : io_status::failed, 0};
}

const call_table native_table = {
    [](const char* path, file_handle* file) { return open_descriptor(path, O_RDONLY, file); },
    [](const char* path, file_handle* file) {
      return open_descriptor(path, O_WRONLY | O_CREAT, file);
    },
    [](file_handle file, file_description* description) {
      struct stat status {};
      return fill_description(::fstat(static_cast<int>(file), &status), status, description);
    },
    [](const char* path, bool follow_link, file_description* description) {
      struct stat status {};  // a link itself fails to describe
      const int result = follow_link ? ::stat(path, &status) : ::lstat(path, &status);
      return fill_description(result, status, description);
    },
    native_empty, native_lock,
    [](file_handle file, void* buffer, std::size_t size) {
      return result_of(::read(static_cast<int>(file), buffer, size));
    },
    [](file_handle file, const void* data, std::size_t size) {
      return result_of(::write(static_cast<int>(file), data, size));
    },
    [](file_handle file) { return ::fsync(static_cast<int>(file)) == 0; },
    // Never retried: after an interrupted close the descriptor may already be
    // gone, and a retry could close one that another thread just opened.
    [](file_handle file) { return ::close(static_cast<int>(file)) == 0; },
    [](file_handle, const char* path) { return ::unlink(path) == 0; },
    [](file_handle, file_handle) { return sameness::unknown; },  // every file is identified
};

void (*termination_cleanup)() = nullptr;

// The catchable signals whose default action ends the process: each cleans
// up first, as compilers and linkers do, then ends lorvex by that signal.
// SIGPIPE comes only from a pipe or socket, which is never removed, and keeps
// its default; SIGXFSZ is ignored, so that a write past a file-size limit
// fails like any other write. A signal whose default the system makes
// "ignore" is left alone: handling it would end runs it never ended.
constexpr int ending_signals[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGTERM, SIGALRM, SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF,
    SIGXCPU,   SIGSEGV, SIGBUS,  SIGILL,  SIGFPE,  SIGABRT, SIGSYS,  SIGTRAP,
// Linux ends a process on SIGPWR (container managers send it to ask for a
// shutdown), SIGIO (alias SIGPOLL) and SIGSTKFLT; macOS and the BSDs ignore
// SIGIO, and have no other two.
#if defined(__linux__)
    SIGPWR,    SIGIO,
#if defined(SIGSTKFLT)
    SIGSTKFLT,
#endif
#endif
#if defined(SIGEMT)  // ends the process wherever it exists
    SIGEMT,
#endif
};

// Calls act for every signal of the table, then every real-time signal,
// whose default action ends the process too.
template <typename action_type>
void for_each_ending_signal(action_type act) {
  for (const int signal_number : ending_signals) act(signal_number);
#if defined(SIGRTMIN) && defined(SIGRTMAX)
  for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number) act(signal_number);
#endif
}

extern "C" void on_ending_signal(int signal_number) {
  termination_cleanup();
  // Delivered again once this returns, now with its default action, so that
  // a caller (make, a shell) sees death by this signal. A fault's instruction
  // faults again instead, with the same result.
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

bool ignored_at_start(int signal_number) {
  struct sigaction current {};
  return ::sigaction(signal_number, nullptr, &current) == 0 &&
         (current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == SIG_IGN;
}

// A stack overflow raises SIGSEGV with no stack left for its handler: the
// handlers run on a stack of their own. A run takes little of the main
// stack, some 16 KiB with the start-up's (8 KiB of it the encoder's list of
// stops), and the handlers need a few hundred bytes beside the system's
// signal frame (some kilobytes where the processor has wide registers).
// 64 KiB is far above SIGSTKSZ and above MINSIGSTKSZ on every processor
// (SIGSTKSZ is no constant in newer C libraries), and static: nothing to
// allocate or free.
alignas(16) char handler_stack[64 * 1024];

void give_handlers_a_stack() {
  stack_t alternate{};
  alternate.ss_sp = handler_stack;
  alternate.ss_size = sizeof handler_stack;
  ::sigaltstack(&alternate, nullptr);
}

}  // namespace

const call_table& native_calls() { return native_table; }

void prepare_process(void (*on_termination)()) {
  termination_cleanup = on_termination;
  ::signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG instead
  give_handlers_a_stack();
  struct sigaction action {};
  action.sa_handler = on_ending_signal;
  action.sa_flags = SA_ONSTACK;  // every one, since any may come as the stack runs out
  ::sigemptyset(&action.sa_mask);
  for_each_ending_signal([&](int signal_number) { ::sigaddset(&action.sa_mask, signal_number); });
  for_each_ending_signal([&](int signal_number) {
    if (!ignored_at_start(signal_number)) ::sigaction(signal_number, &action, nullptr);
  });
}

const char* resource_name_bytes(const char* argument, std::string*) { return argument; }

bool print_message(std::FILE* stream, const char* before, const char* path, const char* after) {
  const int printed = std::fprintf(stream, "%s%s%s", before, path, after);  // path is no format
  return std::fflush(stream) == 0 && printed >= 0;
}

}  // namespace lorvex::system
