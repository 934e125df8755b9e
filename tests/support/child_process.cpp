#include "support/child_process.h"

#include <cerrno>
#include <cstdlib>

#ifdef _WIN32
#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <deque>
#include <vector>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace ismgr::test {

int Link::receive() {
  if (replaying_) {
    if (replay_.empty()) return -1;
    const char c = replay_.front();
    replay_.erase(0, 1);
    return static_cast<unsigned char>(c);
  }
  char c;
  for (;;) {
    const auto n = ::read(in_, &c, 1);
    if (n == 1) {
      if (log_ != nullptr) *log_ += c;
      return static_cast<unsigned char>(c);
    }
    if (n < 0 && errno == EINTR) continue;
    return -1;
  }
}

void Link::send(char c) {
  if (replaying_) return;
  while (::write(out_, &c, 1) < 0 && errno == EINTR) {
  }
}

#ifdef _WIN32

namespace {

// What the parent tells a re-run, in ISMGR_CHILD: the rank of the child, the
// two pipe handles, then per earlier child its received bytes (hex) and exit
// status, and the test's scratch directories, all separated by '|'.
struct TestState {
  std::string test;                  // the test these belong to
  int children = 0;                  // ChildProcess objects made so far
  int scratch = 0;                   // scratch directories made so far
  std::deque<std::string> received;  // stable: the links log into them
  std::vector<int> status;
  std::vector<std::string> dirs;
};

TestState& state() {
  static TestState s;
  std::string name;
  if (const auto* info = ::testing::UnitTest::GetInstance()->current_test_info()) {
    name = std::string(info->test_suite_name()) + "." + info->name();
  }
  if (name != s.test) {
    s = TestState();
    s.test = name;
  }
  return s;
}

struct RerunOrders {
  bool active = false;
  int rank = -1;
  HANDLE in = nullptr;
  HANDLE out = nullptr;
  std::vector<std::string> received;
  std::vector<int> status;
  std::vector<std::string> dirs;
};

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t i = 0; i <= s.size(); ++i) {
    if (i == s.size() || s[i] == sep) {
      parts.push_back(s.substr(start, i - start));
      start = i + 1;
    }
  }
  return parts;
}

std::string hex(const std::string& bytes) {
  std::string h;
  char b[3];
  for (unsigned char c : bytes) h += (std::snprintf(b, sizeof b, "%02x", c), b);
  return h;
}

std::string unhex(const std::string& h) {
  std::string bytes;
  for (size_t i = 0; i + 1 < h.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

const RerunOrders& orders() {
  static const RerunOrders o = [] {
    RerunOrders r;
    const char* text = std::getenv("ISMGR_CHILD");
    if (text == nullptr) return r;
    std::vector<std::string> f = split(text, '|');
    r.active = true;
    r.rank = std::stoi(f[0]);
    r.in = reinterpret_cast<HANDLE>(std::stoull(f[1]));
    r.out = reinterpret_cast<HANDLE>(std::stoull(f[2]));
    const size_t n = std::stoul(f[3]);
    for (size_t i = 0; i < n; ++i) {
      std::vector<std::string> rs = split(f[4 + i], ',');
      r.received.push_back(unhex(rs[0]));
      r.status.push_back(std::stoi(rs[1]));
    }
    r.dirs.assign(f.begin() + 4 + static_cast<long>(n), f.end());
    return r;
  }();
  return o;
}

HANDLE inheritable(HANDLE h) {
  ::SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  return h;
}

}  // namespace

bool in_child_rerun() {
  return orders().active;
}

std::filesystem::path scratch_path(const std::filesystem::path& fresh) {
  TestState& s = state();
  const int rank = s.scratch++;
  if (in_child_rerun()) {
    if (rank < static_cast<int>(orders().dirs.size())) return orders().dirs[rank];
    return fresh;
  }
  s.dirs.push_back(fresh.string());
  return fresh;
}

ChildProcess::ChildProcess(const std::function<int(Link&)>& body) {
  TestState& s = state();
  index_ = s.children++;
  if (in_child_rerun()) {
    const RerunOrders& o = orders();
    if (index_ == o.rank) {
      Link link(_open_osfhandle(reinterpret_cast<intptr_t>(o.in), _O_RDONLY | _O_BINARY),
                _open_osfhandle(reinterpret_cast<intptr_t>(o.out), _O_WRONLY | _O_BINARY));
      std::fflush(nullptr);
      ::ExitProcess(static_cast<UINT>(body(link) & 0xFF));
    }
    // An earlier child: the parent's conversation with it, played back.
    link_.replaying_ = true;
    if (index_ < static_cast<int>(o.received.size())) link_.replay_ = o.received[index_];
    return;
  }
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, FALSE};
  HANDLE down_r, down_w, up_r, up_w;
  if (!::CreatePipe(&down_r, &down_w, &sa, 0) || !::CreatePipe(&up_r, &up_w, &sa, 0)) std::abort();
  std::string orders_text = std::to_string(index_) + "|" +
                            std::to_string(reinterpret_cast<uintptr_t>(inheritable(down_r))) + "|" +
                            std::to_string(reinterpret_cast<uintptr_t>(inheritable(up_w))) + "|" +
                            std::to_string(s.received.size());
  for (size_t i = 0; i < s.received.size(); ++i) {
    orders_text += "|" + hex(s.received[i]) + "," + std::to_string(s.status[i]);
  }
  for (const std::string& d : s.dirs) orders_text += "|" + d;

  wchar_t exe[MAX_PATH];
  ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::string filter = "--gtest_filter=" + s.test;
  std::wstring command =
      L"\"" + std::wstring(exe) + L"\" " + std::wstring(filter.begin(), filter.end());
  HANDLE nul =
      ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = si.hStdOutput = si.hStdError = inheritable(nul);
  PROCESS_INFORMATION pi;
  ::SetEnvironmentVariableA("ISMGR_CHILD", orders_text.c_str());
  const BOOL started =
      ::CreateProcessW(exe, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  ::SetEnvironmentVariableA("ISMGR_CHILD", nullptr);
  ::CloseHandle(nul);
  ::CloseHandle(down_r);
  ::CloseHandle(up_w);
  if (!started) std::abort();
  ::CloseHandle(pi.hThread);
  pid_ = static_cast<int>(reinterpret_cast<intptr_t>(pi.hProcess));
  to_child_ = _open_osfhandle(reinterpret_cast<intptr_t>(down_w), _O_WRONLY | _O_BINARY);
  from_child_ = _open_osfhandle(reinterpret_cast<intptr_t>(up_r), _O_RDONLY | _O_BINARY);
  s.received.emplace_back();
  s.status.push_back(-1);
  link_ = Link(from_child_, to_child_);
  link_.log_ = &s.received.back();
}

int ChildProcess::wait() {
  if (link_.replaying_) {
    const auto& status = orders().status;
    return index_ < static_cast<int>(status.size()) ? status[index_] : -1;
  }
  if (to_child_ >= 0) _close(to_child_);
  to_child_ = -1;
  if (pid_ <= 0) return -1;
  HANDLE process = reinterpret_cast<HANDLE>(static_cast<intptr_t>(pid_));
  ::WaitForSingleObject(process, INFINITE);
  DWORD code = 0;
  ::GetExitCodeProcess(process, &code);
  ::CloseHandle(process);
  pid_ = -1;
  if (from_child_ >= 0) _close(from_child_);
  from_child_ = -1;
  link_.log_ = nullptr;
  TestState& s = state();
  if (index_ < static_cast<int>(s.status.size())) s.status[index_] = static_cast<int>(code);
  return static_cast<int>(code);
}

#else

bool in_child_rerun() {
  return false;
}

std::filesystem::path scratch_path(const std::filesystem::path& fresh) {
  return fresh;
}

ChildProcess::ChildProcess(const std::function<int(Link&)>& body) {
  int down[2], up[2];
  if (::pipe(down) != 0 || ::pipe(up) != 0 || (pid_ = ::fork()) < 0) std::abort();
  if (pid_ == 0) {
    ::close(down[1]);
    ::close(up[0]);
    Link link(down[0], up[1]);
    ::_exit(body(link) & 0xFF);
  }
  ::close(down[0]);
  ::close(up[1]);
  link_ = Link(from_child_ = up[0], to_child_ = down[1]);
}

int ChildProcess::wait() {
  if (to_child_ >= 0) ::close(to_child_);
  to_child_ = -1;
  if (pid_ <= 0) return -1;
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  ::close(from_child_);
  from_child_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

#endif

ChildProcess::~ChildProcess() {
  wait();
}

}  // namespace ismgr::test
