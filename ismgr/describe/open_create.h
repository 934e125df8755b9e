// The creation step of the ISAM open: a description given to the open
// (its text, or "@" and the name of an XDL file) is parsed and the file it
// describes is created before the open proceeds.
#ifndef ISMGR_DESCRIBE_OPEN_CREATE_H_
#define ISMGR_DESCRIBE_OPEN_CREATE_H_

#include <cstddef>
#include <cstdint>

#include "ismgr/runtime/context.h"

namespace ismgr {

// Default extension of description files named with "@".
inline constexpr char kDescriptionExtension[] = ".xdl";

// Creates the file of `description` for the open. `name` (`name_size`
// bytes, NUL-terminated) holds the open's file name, possibly followed by
// creation options after a comma; when it is empty the description's NAME
// fills it, and PORT_INT options are appended to it. `replace` is the
// mode's IM_SPRCED bit. Returns 0, or -1 with the status code in the
// context's status block (the description file's name in the current-name
// buffer when it cannot be read).
int create_for_open(ismgr_control* ctl, const char* description, char* name, size_t name_size,
                    uint32_t replace, int32_t revision);

// Makes the ISAM open create files through create_for_open.
void install_file_creation();

}  // namespace ismgr

#endif  // ISMGR_DESCRIBE_OPEN_CREATE_H_
