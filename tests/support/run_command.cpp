#include "support/run_command.h"

#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <windows.h>

#include <vector>
#else
#include <sys/wait.h>
#endif

#include "support/scratch_dir.h"

namespace ismgr::test {

namespace {
#ifdef _WIN32
// The words of a command line written for the shell: quotes ('...' "...")
// and a backslash before a quote, a backslash or a blank group characters;
// any other backslash is a character (Windows paths).
std::vector<std::string> shell_words(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false;
  char quote = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quote != 0) {
      if (c != quote) word += c;
      quote = c == quote ? 0 : quote;
    } else if (c == ' ' || c == '\t') {
      if (in_word) words.push_back(word);
      word.clear(), in_word = false;
    } else if (in_word = true; c == '\'' || c == '"') {
      quote = c;
    } else {
      const bool escape = c == '\\' && i + 1 < line.size() &&
                          std::string("'\"\\ ").find(line[i + 1]) != std::string::npos;
      word += escape ? line[++i] : c;
    }
  }
  if (in_word) words.push_back(word);
  return words;
}

// One argument as the C runtime of the started program splits it again.
std::string windows_quote(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string q = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c != '\\') q.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\') += c;
    backslashes = c == '\\' ? backslashes + 1 : 0;
  }
  return q.append(2 * backslashes, '\\') + "\"";
}

// Starts the command (NAME=VALUE words first set the environment) with its
// outputs in the two files; the exit status, or -1 when it did not start.
int start_and_wait(const std::string& dir, const std::string& command, const std::string& out,
                   const std::string& err) {
  std::vector<std::string> words = shell_words(command);
  std::vector<std::string> assigned;
  while (!words.empty() && words[0].find('=') != std::string::npos && words[0][0] != '=') {
    const size_t eq = words[0].find('=');
    assigned.push_back(words[0].substr(0, eq));
    ::SetEnvironmentVariableA(assigned.back().c_str(), words[0].substr(eq + 1).c_str());
    words.erase(words.begin());
  }
  std::string line;
  for (const std::string& w : words) line += (line.empty() ? "" : " ") + windows_quote(w);
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  auto open = [&](const std::string& name, DWORD access, DWORD disposition) {
    return ::CreateFileA(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, disposition,
                         0, nullptr);
  };
  STARTUPINFOA si = {};
  si.cb = sizeof si, si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = open("NUL", GENERIC_READ, OPEN_EXISTING);
  si.hStdOutput = open(out, GENERIC_WRITE, CREATE_ALWAYS);
  si.hStdError = open(err, GENERIC_WRITE, CREATE_ALWAYS);
  PROCESS_INFORMATION pi;
  const BOOL started = !words.empty() && ::CreateProcessA(nullptr, line.data(), nullptr, nullptr,
                                                          TRUE, 0, nullptr, dir.c_str(), &si, &pi);
  for (HANDLE h : {si.hStdInput, si.hStdOutput, si.hStdError}) ::CloseHandle(h);
  for (const std::string& name : assigned) ::SetEnvironmentVariableA(name.c_str(), nullptr);
  if (!started) return -1;
  ::WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  ::GetExitCodeProcess(pi.hProcess, &code);
  for (HANDLE h : {pi.hProcess, pi.hThread}) ::CloseHandle(h);
  return static_cast<int>(code);
}
#endif

}  // namespace

std::string shell_quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

CommandResult run_command(const std::string& dir, const std::string& command) {
  const std::string out = dir + "/.cmd.out", err = dir + "/.cmd.err";
  CommandResult r;
#ifdef _WIN32
  // No shell: the line is split into words as the shell would and started.
  r.exit_status = start_and_wait(dir, command, out, err);
#else
  const int status = std::system(("cd " + shell_quote(dir) + " && " + command + " >" +
                                  shell_quote(out) + " 2>" + shell_quote(err) + " </dev/null")
                                     .c_str());
  r.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
  for (auto [path, text] : {std::pair{&out, &r.out}, {&err, &r.err}}) {
    *text = read_file(*path);
    std::remove(path->c_str());
#ifdef _WIN32
    *text = without_cr(std::move(*text));  // the commands write text, CR LF there
#endif
  }
  return r;
}

std::string command_path(const std::string& name) {
#ifdef _WIN32
  // The commands lie one directory above the test program (tests\).
  char self[MAX_PATH];
  std::string path(self, ::GetModuleFileNameA(nullptr, self, MAX_PATH));
  path.resize(path.find_last_of("\\/"));
  path.resize(path.find_last_of("\\/"));
  return path + "\\" + name + ".exe";
#else
  return std::string(ISMGR_BIN_DIR) + "/" + name;
#endif
}

}  // namespace ismgr::test
