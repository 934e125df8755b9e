#include "ismgr/platform/terminal.h"

#include <unistd.h>

namespace ismgr::platform {

bool is_terminal(int fd) {
  return ::isatty(fd) == 1;
}

}  // namespace ismgr::platform
