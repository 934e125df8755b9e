#include "ismgr/describe/open_create.h"

#include <new>

#include "ismgr/describe/file_creation.h"
#include "ismgr/isam/open_creation.h"
#include "ismgr/runtime/status.h"

namespace ismgr {

int create_for_open(ismgr_control* ctl, const FileDescription& description, const std::string& name,
                    uint32_t sprced, int32_t revision) {
  try {
    // The creation applies the options to the record and marks it used: it
    // works on a copy of the open's.
    FileDescription copy = description;
    copy.control = ctl;
    return create_isam_file(copy, name, sprced != 0, revision);
  } catch (const std::bad_alloc&) {
    ismgr_status* status =
        ctl != nullptr && ctl->status != nullptr ? ctl->status : default_status();
    status->code = kStatusNoMemory;
    return -1;
  }
}

void install_file_creation() {
  set_isam_create(create_for_open);
}

}  // namespace ismgr
