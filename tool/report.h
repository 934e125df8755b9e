// The two error reporters of qdesc. Each writes a numbered message to the
// error sink and then abandons the description of the current file by
// throwing DescribeAbort, which the writer catches at its boundary (it closes
// what it opened and returns -1).
#ifndef ISMGR_TOOL_REPORT_H_
#define ISMGR_TOOL_REPORT_H_

#include <exception>

#include "tool/out.h"

namespace ismgr::tool {

// Unwinds one file's description to its writer. Carries nothing: the
// message has already been written.
class DescribeAbort : public std::exception {
 public:
  const char* what() const noexcept override { return "description abandoned"; }
};

// Tool error codes (only kCantCreate is raised by qdesc itself).
enum ToolError : int {
  kToolCantCreate = 0,
  kToolNotIsamIndex = 1,
  kToolNoMemory = 2,
  kToolCannotOpen = 3,
  kToolBadKey = 4,
};

// "\n%QDESC-E-nn: " with the status, its message (or "Unknown error code"),
// then "%QDESC-I-01: File specified was <name>". Throws DescribeAbort.
[[noreturn]] void report_status(Sink& err, int status, const char* name);

// "\n%QDESC-E-nn: " with the code and the code's message: `text` fills the
// messages that name a file, `number` those that give a count or key number.
// Throws DescribeAbort.
[[noreturn]] void report_tool_error(Sink& err, int code, const char* text, long number = 0);

}  // namespace ismgr::tool

#endif  // ISMGR_TOOL_REPORT_H_
