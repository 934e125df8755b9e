#include "ismgr/describe/open_create.h"

#include <cerrno>
#include <memory>
#include <new>

#include "ismgr/describe/description_reader.h"
#include "ismgr/describe/file_creation.h"
#include "ismgr/describe/xdl_parser.h"
#include "ismgr/fileio/names.h"
#include "ismgr/isam/open_creation.h"
#include "ismgr/platform/platform.h"
#include "ismgr/runtime/status.h"

namespace ismgr {

namespace {

// The calling thread's innermost creation record.
thread_local CreationRecord* t_record = nullptr;

// A status that is not the system's: no stale error may refine it.
int not_system(int status) {
  errno = 0;
  platform::set_last_error(0);
  return status;
}

}  // namespace

int create_for_open(ismgr_control* ctl, const FileDescription& description, const std::string& name,
                    uint32_t sprced, int32_t revision) {
  try {
    // The creation applies the options to the record and marks it used: it
    // works on a copy of the open's.
    FileDescription copy = description;
    copy.control = ctl;
    const int result = create_isam_file(copy, name, sprced != 0, revision);
    if (result == 0 && t_record != nullptr) t_record->note(name);
    return result;
  } catch (const std::bad_alloc&) {
    ismgr_status* status =
        ctl != nullptr && ctl->status != nullptr ? ctl->status : default_status();
    status->code = kStatusNoMemory;
    return -1;
  }
}

int create_from_description(ismgr_control* ctl, const char* description, std::string* name,
                            uint32_t sprced, std::string* failed_name) {
  if (name->size() > kFileNameCapacity) name->resize(kFileNameCapacity);
  try {
    std::string text;
    const char* cursor = description;
    if (description[0] == '@') {
      NameRequest request;
      request.default_name = ".xdl";
      request.type = kNameDefault;
      request.search = true;
      std::string path;
      if (int status = expand_file_name(description + 1, request, &path)) {
        return not_system(status);
      }
      try {
        text = read_description_file(path.c_str(), failed_name);
      } catch (const StatusError&) {
        if (failed_name->empty()) *failed_name = path;
        throw;
      }
      cursor = text.c_str();
    }
    const ismgr_config* config = ctl->config != nullptr ? ctl->config : process_config();
    const int32_t revision = config->creation_revision;
    std::unique_ptr<FileDescription> record = build_file_description(cursor, name, revision);
    if (revision < 4) return not_system(145);
    if (record == nullptr) return not_system(kStatusCannotCreate);
    if (ctl->status != nullptr) ctl->status->code = 0;
    if (create_for_open(ctl, *record, *name, sprced, revision) == -1) {
      const int code = ctl->status != nullptr ? ctl->status->code : 0;
      return code != 0 ? code : kStatusCannotCreate;
    }
    return 0;
  } catch (const StatusError& e) {
    return not_system(e.code());
  }
}

void install_file_creation() {
  set_isam_create(create_from_description);
}

CreationRecord::CreationRecord() : previous_(t_record) {
  t_record = this;
}

CreationRecord::~CreationRecord() {
  t_record = previous_;
}

void CreationRecord::note(const std::string& name) {
  made_ = creation_file_names(name, &index_, &data_) == 0;
}

void CreationRecord::remove_files() {
  if (!made_) return;
  platform::delete_file(index_.c_str());
  platform::delete_file(data_.c_str());
  made_ = false;
}

}  // namespace ismgr
