// Whether a standard stream is a terminal: long work shows its progress only
// to a person watching, never into a file or a pipe.
#ifndef ISMGR_PLATFORM_TERMINAL_H_
#define ISMGR_PLATFORM_TERMINAL_H_

namespace ismgr::platform {

// True when descriptor `fd` (0, 1 or 2 for the standard streams) is a
// terminal.
bool is_terminal(int fd);

}  // namespace ismgr::platform

#endif  // ISMGR_PLATFORM_TERMINAL_H_
