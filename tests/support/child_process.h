// Runs a function in a forked child process that talks to the test through a
// pair of pipes, one byte at a time: enough to hold a file open in another
// process while the test probes it. Test support only.
#ifndef ISMGR_TESTS_SUPPORT_CHILD_PROCESS_H_
#define ISMGR_TESTS_SUPPORT_CHILD_PROCESS_H_

#include <functional>

namespace ismgr::test {

// One end of the conversation.
class Link {
 public:
  Link(int in, int out) : in_(in), out_(out) {}
  void send(char c);
  // The next byte from the other side, or -1 when it has gone.
  int receive();

 private:
  int in_;
  int out_;
};

class ChildProcess {
 public:
  // Forks; the child runs `body` and exits with its result (0..255).
  explicit ChildProcess(const std::function<int(Link&)>& body);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  Link& link() { return link_; }
  // Waits for the child; its exit status, or -1 when it did not exit normally.
  int wait();
  // Drops privileges to an unprivileged user when running as root (for tests
  // about files this process may not write); true when now unprivileged.
  static bool become_unprivileged();

 private:
  int pid_ = -1;
  int to_child_ = -1;
  int from_child_ = -1;
  Link link_{-1, -1};
};

}  // namespace ismgr::test

#endif  // ISMGR_TESTS_SUPPORT_CHILD_PROCESS_H_
