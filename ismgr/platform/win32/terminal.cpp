// Whether a standard stream is a terminal (a console).
#include "ismgr/platform/terminal.h"

#include <io.h>

namespace ismgr::platform {

bool is_terminal(int fd) {
  return ::_isatty(fd) != 0;
}

}  // namespace ismgr::platform
