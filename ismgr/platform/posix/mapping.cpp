// The read-only view of a file's first word. It is read with a positioned
// read on a private descriptor rather than through a memory mapping: a mapping
// faults when another process shrinks the file, a read just comes back short.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "ismgr/platform/platform.h"

namespace ismgr::platform {

MappedWord::~MappedWord() {
  unmap();
}

bool MappedWord::map(Handle handle) {
  unmap();
  struct stat st;
  if (::fstat(handle, &st) != 0) {
    set_last_error_from_errno(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode) || st.st_size < 4) {
    set_last_error(kErrFileInvalid);
    return false;
  }
  // An independent open: it holds no share claims or locks of the handle.
  std::string p = "/proc/self/fd/" + std::to_string(handle);
  int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    set_last_error_from_errno(errno);
    return false;
  }
  view_ = fd;
  return true;
}

uint32_t MappedWord::value() const {
  if (view_ < 0) return 0;
  unsigned char b[4] = {0, 0, 0, 0};
  size_t got = 0;
  while (got < sizeof b) {
    ssize_t n = ::pread(view_, b + got, sizeof b - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // shrunk or unreadable: the rest reads as 0
    got += static_cast<size_t>(n);
  }
  return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
         static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
}

void MappedWord::unmap() {
  if (view_ >= 0) ::close(view_);
  view_ = -1;
}

}  // namespace ismgr::platform
