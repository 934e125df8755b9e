#include "ismgr/describe/open_create.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "ismgr/describe/description_reader.h"
#include "ismgr/describe/file_creation.h"
#include "ismgr/describe/xdl_parser.h"
#include "ismgr/fileio/names.h"
#include "ismgr/isam/isam_open.h"
#include "ismgr/runtime/status.h"

namespace ismgr {

namespace {

void store_status(ismgr_control* ctl, int code) {
  ismgr_status* status = ctl != nullptr && ctl->status != nullptr ? ctl->status : default_status();
  status->code = code;
}

void set_current_name(ismgr_control* ctl, const std::string& text) {
  if (ctl == nullptr || ctl->current_name == nullptr) return;
  const size_t n = std::min(text.size(), kCurrentNameSize - 1);
  std::memcpy(ctl->current_name, text.data(), n);
  ctl->current_name[n] = '\0';
}

}  // namespace

int create_for_open(ismgr_control* ctl, const char* description, char* name, size_t name_size,
                    uint32_t replace, int32_t revision) {
  if (description == nullptr || name == nullptr || name_size == 0) {
    store_status(ctl, kStatusCannotCreate);
    return -1;
  }
  try {
    std::string file_name(name, strnlen(name, name_size));
    if (file_name.size() > kFileNameCapacity) file_name.resize(kFileNameCapacity);
    std::string text;
    const char* cursor = description;
    if (description[0] == '@') {
      NameRequest request;
      request.default_spec = kDescriptionExtension;
      request.type = kNameDefault;
      request.search = true;
      std::string path;
      const int status = expand_file_name(description + 1, request, &path);
      if (status != 0) {
        set_current_name(ctl, description + 1);
        raise_status(status);
      }
      std::string failing_name;
      try {
        text = read_description_file(path.c_str(), &failing_name);
      } catch (const StatusError&) {
        set_current_name(ctl, failing_name.empty() ? path : failing_name);
        throw;
      }
      cursor = text.c_str();
    }
    std::unique_ptr<FileDescription> d = build_file_description(cursor, &file_name, revision);
    d->control = ctl;
    if (create_isam_file(*d, file_name, replace != 0, revision) != 0) return -1;
    const size_t n = std::min(file_name.size(), name_size - 1);
    std::memcpy(name, file_name.data(), n);
    name[n] = '\0';
    return 0;
  } catch (const StatusError& e) {
    store_status(ctl, e.code());
  } catch (const std::bad_alloc&) {
    store_status(ctl, kStatusNoMemory);
  }
  return -1;
}

void install_file_creation() {
  set_isam_create(create_for_open);
}

}  // namespace ismgr
