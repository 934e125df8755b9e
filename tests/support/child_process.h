// Runs a function in a forked child process that talks to the test one byte
// at a time through a pair of pipes: enough to hold a file open in another
// process while the test probes it. Test support only.
#ifndef ISMGR_TESTS_SUPPORT_CHILD_PROCESS_H_
#define ISMGR_TESTS_SUPPORT_CHILD_PROCESS_H_

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>

namespace ismgr::test {

// One end of the conversation; receive() gives -1 when the other side has gone.
struct Link {
  int in = -1, out = -1;
  void send(char c) { (void)!::write(out, &c, 1); }
  int receive() {
    char c;
    return ::read(in, &c, 1) == 1 ? static_cast<unsigned char>(c) : -1;
  }
};

class ChildProcess {
 public:
  // Forks; the child runs `body` and exits with its result (0..255).
  explicit ChildProcess(const std::function<int(Link&)>& body) {
    int down[2], up[2];
    if (::pipe(down) != 0 || ::pipe(up) != 0 || (pid_ = ::fork()) < 0) std::abort();
    if (pid_ == 0) {
      ::close(down[1]);
      ::close(up[0]);
      Link link{down[0], up[1]};
      ::_exit(body(link) & 0xFF);
    }
    ::close(down[0]);
    ::close(up[1]);
    link_ = Link{up[0], down[1]};
  }
  ~ChildProcess() { wait(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  Link& link() { return link_; }
  // Waits for the child; its exit status, or -1 when it did not exit normally.
  int wait() {
    if (pid_ <= 0) return -1;
    ::close(link_.out);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    ::close(link_.in);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  int pid_ = -1;
  Link link_;
};

}  // namespace ismgr::test

#endif  // ISMGR_TESTS_SUPPORT_CHILD_PROCESS_H_
