// Runs a command and prints the CPU time it used, user and system, in
// seconds with microseconds, and its peak resident memory in KiB: what
// /usr/bin/time reports, without rounding the times to hundredths.
//
//   cpu_time COMMAND [ARG...]   prints "USER SYSTEM PEAK_KIB" on stderr
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: cpu_time COMMAND [ARG...]\n");
    return 2;
  }
  const pid_t child = fork();
  if (child < 0) {
    std::perror("cpu_time: fork");
    return 2;
  }
  if (child == 0) {
    execvp(argv[1], argv + 1);
    std::perror("cpu_time: exec");
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) {
    std::perror("cpu_time: wait4");
    return 2;
  }
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6;
  };
  std::fprintf(stderr, "%.6f %.6f %ld\n", seconds(usage.ru_utime), seconds(usage.ru_stime),
               usage.ru_maxrss);
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}
