// The file creation of the ISAM open: the open reads and parses the
// description it is given, then hands the parsed description to the
// creation installed here, which writes the new file pair.
#ifndef ISMGR_DESCRIBE_OPEN_CREATE_H_
#define ISMGR_DESCRIBE_OPEN_CREATE_H_

#include <cstdint>
#include <string>

#include "ismgr/describe/file_description.h"
#include "ismgr/runtime/context.h"

namespace ismgr {

// Creates the file of `description` under `name` (possibly followed by a
// comma and creation options). `sprced` is the open mode's IM_SPRCED bit
// (replace existing files). Returns 0, or -1 with the status code in the
// context's status block.
int create_for_open(ismgr_control* ctl, const FileDescription& description, const std::string& name,
                    uint32_t sprced, int32_t revision);

// Makes the ISAM open create files through create_for_open.
void install_file_creation();

}  // namespace ismgr

#endif  // ISMGR_DESCRIBE_OPEN_CREATE_H_
