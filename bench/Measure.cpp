// Runs a command and records its wall time and the peak resident memory of the largest process
// it ran (the kernel reports the maximum over the process and every child it waited for), so
// the benchmark script needs no external timing tool.
//
// Usage: vornel_measure RESULT_FILE COMMAND [ARGUMENTS...]
// RESULT_FILE receives one line: "<wall seconds> <peak KiB> <exit status> <CPU seconds>" (CPU is
// user plus system time of the command and its children). The exit status is the command's own.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: vornel_measure RESULT_FILE COMMAND [ARGUMENTS...]\n";
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = ::fork();
  if (child < 0) {
    std::perror("fork");
    return 2;
  }
  if (child == 0) {
    ::execvp(argv[2], argv + 2);
    std::perror(argv[2]);
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  while (::wait4(child, &status, 0, &usage) < 0) {
    if (errno != EINTR) {
      std::perror("wait4");
      return 2;
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::ofstream result(argv[1], std::ios::trunc);
  const auto cpu = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  result << seconds << " " << usage.ru_maxrss << " " << code << " "
         << cpu(usage.ru_utime) + cpu(usage.ru_stime) << "\n";
  result.close();
  if (!result) {
    std::cerr << "cannot write " << argv[1] << "\n";
    return 2;
  }
  return code;
}
