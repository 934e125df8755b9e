// The creation branch of the ISAM open: a description (text, or "@" and the
// name of an XDL file) is parsed into a file description record, which the
// installed file creation turns into a new file.
//
// Kept apart from the ISAM format headers: the description records have
// names of their own.
#ifndef ISMGR_ISAM_OPEN_CREATION_H_
#define ISMGR_ISAM_OPEN_CREATION_H_

#include <cstdint>
#include <string>

#include "ismgr/runtime/context.h"

namespace ismgr {

struct FileDescription;

// Creates the file from a parsed description under `name` (the open's name
// buffer: the file name, possibly followed by "," and creation options),
// with the IM_SPRCED bit of the open mode and the creation revision.
// Returns 0, or -1 with the status code in the context's status block.
using IsamCreateFn = int (*)(ismgr_control* ctl, const FileDescription& description,
                             const std::string& name, uint32_t sprced, int32_t revision);

// Installs the file creation the ISAM open calls (null removes it); returns
// the previous one. Without a creation, an open that is given a description
// parses it and then fails with status 30 ("Cannot create file").
IsamCreateFn set_isam_create(IsamCreateFn create);

// Reads ("@file", default extension ".xdl") and parses the description with
// the creation revision of the configuration, refuses a revision below 4
// (145), and calls `create`. `name` is the open's name buffer (cut to 530
// characters); the description may fill or extend it. Returns 0 or a status
// code: the reader's or the parser's, 145, 30 without a creation, or the
// creation's. For a description file that cannot be read, `failed_name`
// receives its name.
int create_from_description(ismgr_control* ctl, const char* description, std::string* name,
                            uint32_t sprced, IsamCreateFn create, std::string* failed_name);

}  // namespace ismgr

#endif  // ISMGR_ISAM_OPEN_CREATION_H_
