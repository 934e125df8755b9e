// Command-line scanning and output naming of qdesc.
#ifndef ISMGR_TOOL_OPTIONS_H_
#define ISMGR_TOOL_OPTIONS_H_

#include <string>
#include <vector>

#include "tool/out.h"

namespace ismgr::tool {

// Options of one run; they hold for every file described.
struct RunOptions {
  bool bare = false;                 // -b: strip comments, no banner
  bool change_tracking_key = false;  // -ct: also describe the change-tracking key
  bool temp_key = false;             // -t<name>: describe a temporary key index
  std::string temp_name;             //   ... named by the rest of the argument
  bool xdl = false;                  // -x: XDL instead of PAR
  bool generate = false;             // -g: one output file beside each input
};

struct CommandLine {
  RunOptions options;
  std::vector<std::string> files;
  bool usage = false;  // the usage line must be printed and the run fails
};

// Scans argv[1..]. Option letters may be upper or lower case; "-" alone is
// skipped; the first argument that does not begin with "-" and everything
// after it are file names. "-t" without a name writes "Invalid use of option
// T\n" to `notices` and is otherwise ignored.
CommandLine scan_command_line(int argc, const char* const* argv, Sink& notices);

// The usage line for program name `program`.
std::string usage_text(const char* program);

// The name of the description file written beside `name` with -g: the
// extension (".PAR"/".XDL" when the name begins with an upper-case letter,
// else ".par"/".xdl") replaces the extension of the last path component, or
// is appended when that component has none. Dots in directory parts are
// never taken for an extension.
std::string output_file_name(const std::string& name, bool xdl);

}  // namespace ismgr::tool

#endif  // ISMGR_TOOL_OPTIONS_H_
