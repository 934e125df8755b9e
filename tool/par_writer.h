// The PAR description of an open ISAM file: the file line in the creation
// option syntax, one value per line with a ';' comment, the file's
// diagnosis in comments, then one section per key.
#ifndef ISMGR_TOOL_PAR_WRITER_H_
#define ISMGR_TOOL_PAR_WRITER_H_

#include <string>

#include "tool/describe_context.h"

namespace ismgr::tool {

// Writes the whole PAR description (file section and key sections) of the
// file `name` (as given on the command line). Returns 0, or -1 when the file
// text did not fit on the file line (the description is still complete).
int write_par_description(DescribeContext& ctx, const FileView& f, DescribeIo& io,
                          const std::string& name, Sink& s);

// The key sections.
void write_par_keys(DescribeContext& ctx, const FileView& f, Sink& s);

// One type line of a key for `segment` (0 for an unsegmented key), indented
// by two blanks for segment lines.
void write_par_type(DescribeContext& ctx, const KeyView& key, int segment, Sink& s, bool indent);

}  // namespace ismgr::tool

#endif  // ISMGR_TOOL_PAR_WRITER_H_
