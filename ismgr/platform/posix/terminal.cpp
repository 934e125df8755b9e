#include "ismgr/platform/terminal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace ismgr::platform {

bool is_terminal(int fd) {
  return ::isatty(fd) == 1;
}

void guard_standard_streams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free number: this one, the ones below it being open.
    const int null = ::open("/dev/null", O_RDONLY);
    if (null >= 0 && null != fd) ::close(null);
  }
}

}  // namespace ismgr::platform
