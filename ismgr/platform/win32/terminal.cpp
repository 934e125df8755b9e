// Whether a standard stream is a terminal (a console); the standard streams
// need no guard here.
#include "ismgr/platform/terminal.h"

#include <io.h>

namespace ismgr::platform {

bool is_terminal(int fd) {
  return ::_isatty(fd) != 0;
}

void guard_standard_streams() {}

}  // namespace ismgr::platform
