#include "support/child_process.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace ismgr::test {

void Link::send(char c) {
  while (::write(out_, &c, 1) < 0 && errno == EINTR) {
  }
}

int Link::receive() {
  char c;
  for (;;) {
    ssize_t n = ::read(in_, &c, 1);
    if (n == 1) return static_cast<unsigned char>(c);
    if (n < 0 && errno == EINTR) continue;
    return -1;
  }
}

ChildProcess::ChildProcess(const std::function<int(Link&)>& body) {
  int down[2], up[2];
  if (::pipe(down) != 0) std::abort();
  if (::pipe(up) != 0) std::abort();
  pid_ = ::fork();
  if (pid_ < 0) std::abort();
  if (pid_ == 0) {
    ::close(down[1]);
    ::close(up[0]);
    Link link(down[0], up[1]);
    int rc = body(link);
    ::_exit(rc & 0xFF);
  }
  ::close(down[0]);
  ::close(up[1]);
  to_child_ = down[1];
  from_child_ = up[0];
  link_ = Link(from_child_, to_child_);
}

ChildProcess::~ChildProcess() {
  wait();
}

int ChildProcess::wait() {
  if (to_child_ >= 0) ::close(to_child_);
  to_child_ = -1;
  if (pid_ <= 0) return -1;
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  if (from_child_ >= 0) ::close(from_child_);
  from_child_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool ChildProcess::become_unprivileged() {
  if (::geteuid() != 0) return true;
  return ::setgid(65534) == 0 && ::setuid(65534) == 0;
}

}  // namespace ismgr::test
