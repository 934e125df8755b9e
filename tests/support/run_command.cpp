#include "support/run_command.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace ismgr::test {

std::string shell_quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

CommandResult run_command(const std::string& dir, const std::string& command) {
  const std::string out = dir + "/.cmd.out", err = dir + "/.cmd.err";
  const int status = std::system(("cd " + shell_quote(dir) + " && " + command + " >" +
                                  shell_quote(out) + " 2>" + shell_quote(err) + " </dev/null")
                                     .c_str());
  CommandResult r;
  r.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  for (auto [path, text] : {std::pair{&out, &r.out}, {&err, &r.err}}) {
    std::ifstream in(*path, std::ios::binary);
    text->assign(std::istreambuf_iterator<char>(in), {});
    std::remove(path->c_str());
  }
  return r;
}

std::string command_path(const std::string& name) {
  return std::string(ISMGR_BIN_DIR) + "/" + name;
}

}  // namespace ismgr::test
