// Companion of qcheck_big.sh: runs one command with its standard output
// sent to OUT and prints "WALL CPU RSS": elapsed seconds from fork to
// reaping, processor seconds (user + system) and peak resident KiB, all of
// the child alone (no shell, time(1) or perf around it to add their own
// start-up to the elapsed time).
//
//   qcheck_time OUT COMMAND [ARG...]
//
// Exits with the command's status (128 + signal when it was killed).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: qcheck_time OUT COMMAND [ARG...]\n");
    return 2;
  }
  const int out = ::open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0) {
    std::perror(argv[1]);
    return 2;
  }
  timespec t0{}, t1{};
  ::clock_gettime(CLOCK_MONOTONIC, &t0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out, 1);
    ::close(out);
    ::execvp(argv[2], argv + 2);
    std::perror(argv[2]);
    ::_exit(127);
  }
  if (pid < 0) {
    std::perror("fork");
    return 2;
  }
  int status = 0;
  rusage usage{};
  if (::wait4(pid, &status, 0, &usage) != pid) {
    std::perror("wait4");
    return 2;
  }
  ::clock_gettime(CLOCK_MONOTONIC, &t1);
  const double wall = static_cast<double>(t1.tv_sec - t0.tv_sec) + (t1.tv_nsec - t0.tv_nsec) / 1e9;
  const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  std::printf("%.4f %.4f %ld\n", wall, cpu, usage.ru_maxrss);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}
