// Runs a command line through the shell with its standard output and error
// captured, for end-to-end tests of the commands. Test support only.
#ifndef ISMGR_TESTS_SUPPORT_RUN_COMMAND_H_
#define ISMGR_TESTS_SUPPORT_RUN_COMMAND_H_

#include <string>

namespace ismgr::test {

struct CommandResult {
  int exit_status = -1;  // -1 when the command did not exit normally
  std::string out;
  std::string err;
};

// `s` as one shell word: in single quotes, any single quote escaped.
std::string shell_quote(const std::string& s);

// Runs `command` in directory `dir`; its output goes to files in `dir`.
CommandResult run_command(const std::string& dir, const std::string& command);

// The built command `name` (beside the tests).
std::string command_path(const std::string& name);

}  // namespace ismgr::test

#endif  // ISMGR_TESTS_SUPPORT_RUN_COMMAND_H_
