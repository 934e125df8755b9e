// Runs a function in a child process that talks to the test through a pair
// of pipes, one byte at a time: enough to hold a file open in another process
// while the test probes it. Test support only.
//
// On POSIX the child is forked. Windows has no fork: the child is the test
// program itself, started again on the current test alone. That re-run goes
// through the test up to the same ChildProcess, runs the body there and exits.
// On its way it reuses the parent's scratch directories without writing files
// (see ScratchDir), and an earlier ChildProcess of the test only replays what
// the parent received from that child.
#ifndef ISMGR_TESTS_SUPPORT_CHILD_PROCESS_H_
#define ISMGR_TESTS_SUPPORT_CHILD_PROCESS_H_

#include <filesystem>
#include <functional>
#include <string>

namespace ismgr::test {

// One end of the conversation.
class Link {
 public:
  Link(int in, int out) : in_(in), out_(out) {}
  void send(char c);
  // The next byte from the other side, or -1 when it has gone.
  int receive();

 private:
  friend class ChildProcess;
  int in_;
  int out_;
  std::string* log_ = nullptr;  // the bytes received so far (Windows parent)
  std::string replay_;          // the bytes to give back (Windows re-run)
  bool replaying_ = false;
};

class ChildProcess {
 public:
  // Starts the child; it runs `body` and exits with its result (0..255).
  explicit ChildProcess(const std::function<int(Link&)>& body);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  Link& link() { return link_; }
  // Waits for the child; its exit status, or -1 when it did not exit normally.
  int wait();

 private:
  int pid_ = -1;
  int to_child_ = -1;
  int from_child_ = -1;
#ifdef _WIN32
  int index_ = -1;  // the test's ChildProcess count at this one
#endif
  Link link_{-1, -1};
};

// True in a Windows child's re-run of a test: files the test writes before
// the child's body runs are the parent's and are left as they are.
bool in_child_rerun();
// The path a scratch directory of the current test uses: `fresh` itself,
// except in a Windows re-run, which uses the parent's directory of the same
// rank.
std::filesystem::path scratch_path(const std::filesystem::path& fresh);

}  // namespace ismgr::test

#endif  // ISMGR_TESTS_SUPPORT_CHILD_PROCESS_H_
