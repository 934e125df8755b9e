// Runs a command line through the shell with its standard output and error
// captured, for end-to-end tests of the commands; and reads back what a
// command's own run in this process wrote to a temporary stream.
#ifndef ISMGR_TESTS_SUPPORT_RUN_COMMAND_H_
#define ISMGR_TESTS_SUPPORT_RUN_COMMAND_H_

#include <cstdio>
#include <string>

namespace ismgr::test {

struct CommandResult {
  int exit_status = -1;  // -1 when the command did not exit normally
  std::string out, err;
};

// `s` as one shell word: in single quotes, any single quote escaped.
std::string shell_quote(const std::string& s);

// Runs `command` in directory `dir`; its output goes to files in `dir`.
CommandResult run_command(const std::string& dir, const std::string& command);

// The built command `name` (beside the tests).
std::string command_path(const std::string& name);

// The whole text written so far to a temporary stream (flushed, read from
// its start; the stream is left at its end).
inline std::string stream_text(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string text;
  for (int c; (c = std::fgetc(f)) != EOF;) text += static_cast<char>(c);
  return text;
}

}  // namespace ismgr::test

#endif  // ISMGR_TESTS_SUPPORT_RUN_COMMAND_H_
