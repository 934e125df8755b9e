// The creation branch of the ISAM open. The open is given a description
// (text, or "@" and the name of an XDL file) and hands it to the creation
// installed here, which reads and parses it and writes the new file pair.
// Reading descriptions belongs to the layer above (ismgr/describe installs
// its creation with install_file_creation()): the ISAM layer only calls it.
#ifndef ISMGR_ISAM_OPEN_CREATION_H_
#define ISMGR_ISAM_OPEN_CREATION_H_

#include <cstdint>
#include <string>

#include "ismgr/runtime/context.h"

namespace ismgr {

// Creates the file pair of `description` under `*name`, the open's name
// buffer (the file name, possibly followed by "," and creation options; the
// description may fill or extend it), with the IM_SPRCED bit of the open
// mode. Returns 0 or a status code; for a description file that cannot be
// read, `*failed_name` receives its name. A status that is not the system's
// leaves errno and the thread's last OS error 0.
using IsamCreateFn = int (*)(ismgr_control* ctl, const char* description, std::string* name,
                             uint32_t sprced, std::string* failed_name);

// Installs the file creation the ISAM open calls (null removes it); returns
// the previous one. Without a creation, an open that is given a description
// fails with status 30 ("Cannot create file").
IsamCreateFn set_isam_create(IsamCreateFn create);

}  // namespace ismgr

#endif  // ISMGR_ISAM_OPEN_CREATION_H_
