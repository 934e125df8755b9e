// The per-file frame of qdesc and the run over the command line's files.
//
// Each description is independent: the writer creates its output file when
// -g asked for one, opens the ISAM file, writes, closes. Any error reported
// on the way (DescribeAbort) ends that file's description at the writer's
// boundary: the channel and the created output file are closed and the
// writer returns -1; what was written stays.
#ifndef ISMGR_TOOL_DESCRIBE_RUN_H_
#define ISMGR_TOOL_DESCRIBE_RUN_H_

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tool/describe_context.h"

namespace ismgr::tool {

// One file open for description; destroying it closes the channel.
class OpenedFile {
 public:
  virtual ~OpenedFile() = default;
  virtual const FileView& view() const = 0;
  virtual DescribeIo& io() = 0;
};

// Opens files for description. On failure it reports through report_status
// (which throws DescribeAbort). It sets ctx.in_progress_sort when the file
// was found in the middle of a sort, and with -t fills ctx.main_file.
class FileOpener {
 public:
  virtual ~FileOpener() = default;
  virtual std::unique_ptr<OpenedFile> open(DescribeContext& ctx, const std::string& name) = 0;
};

// Describe one file as PAR or XDL to `stream`, or, when `stream` is null, to
// a created file beside it. Return 0 or -1 (PAR also returns -1 after a
// complete description whose file text did not fit its file line).
int write_par(DescribeContext& ctx, FileOpener& opener, const std::string& name, std::FILE* stream);
int write_xdl(DescribeContext& ctx, FileOpener& opener, const std::string& name, std::FILE* stream);

// The whole command: scans the arguments, describes each file in turn and
// stops at the first failure. `out` and `err` are standard output and
// standard error. Returns the exit status (0 when every file was described).
int run_qdesc(int argc, const char* const* argv, FileOpener& opener, std::FILE* out, std::FILE* err,
              std::function<int64_t()> clock = nullptr);

}  // namespace ismgr::tool

#endif  // ISMGR_TOOL_DESCRIBE_RUN_H_
