#include "support/run_command.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace ismgr::test {

namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

std::string shell_quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

CommandResult run_command(const std::string& dir, const std::string& command) {
  const std::string out = dir + "/.cmd.out";
  const std::string err = dir + "/.cmd.err";
  const std::string line = "cd " + shell_quote(dir) + " && " + command + " >" + shell_quote(out) +
                           " 2>" + shell_quote(err) + " </dev/null";
  const int status = std::system(line.c_str());
  CommandResult r;
  r.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = slurp(out);
  r.err = slurp(err);
  std::remove(out.c_str());
  std::remove(err.c_str());
  return r;
}

std::string command_path(const std::string& name) {
  return std::string(ISMGR_BIN_DIR) + "/" + name;
}

}  // namespace ismgr::test
