// The XDL description of an open ISAM file: FILE and RECORD sections and one
// KEY section per key, in the keywords the XDL parser reads back to create
// an empty file of the same layout, with the file's diagnosis in '!'
// comments.
#ifndef ISMGR_TOOL_XDL_WRITER_H_
#define ISMGR_TOOL_XDL_WRITER_H_

#include <string>

#include "tool/describe_context.h"

namespace ismgr::tool {

// Writes the whole XDL description of the file `name` (as given on the
// command line).
void write_xdl_description(DescribeContext& ctx, const FileView& f, DescribeIo& io,
                           const std::string& name, Sink& s);

// The KEY sections.
void write_xdl_keys(DescribeContext& ctx, const FileView& f, Sink& s);

}  // namespace ismgr::tool

#endif  // ISMGR_TOOL_XDL_WRITER_H_
