// The standard streams: whether one is a terminal (long work shows its
// progress only to a person watching, never into a file or a pipe), and a
// guard for the ones a program was started without.
#ifndef ISMGR_PLATFORM_TERMINAL_H_
#define ISMGR_PLATFORM_TERMINAL_H_

namespace ismgr::platform {

// True when descriptor `fd` (0, 1 or 2 for the standard streams) is a
// terminal.
bool is_terminal(int fd);

// Makes sure descriptors 0, 1 and 2 are open, each closed one on the null
// device for reading only. A file the program opens later can then never
// take a standard stream's number and receive text meant for the stream,
// while writes to a stream the program was started without still fail (and
// are reported). Call first thing in main. Nothing to do on Windows, whose
// file handles are never a standard stream's number.
void guard_standard_streams();

}  // namespace ismgr::platform

#endif  // ISMGR_PLATFORM_TERMINAL_H_
