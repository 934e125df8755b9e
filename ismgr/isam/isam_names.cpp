#include "ismgr/isam/isam_names.h"

#include "ismgr/runtime/char_class.h"

namespace ismgr {

size_t last_component_start(const std::string& name) {
  size_t sep = name.find_last_of("\\/");
  if (sep != std::string::npos) return sep + 1;
  size_t colon = name.rfind(':');
  if (colon != std::string::npos) return colon + 1;
  return 0;
}

bool last_component_has_dot(const std::string& name) {
  return name.find('.', last_component_start(name)) != std::string::npos;
}

std::string data_file_name(const std::string& index_name) {
  std::string data = index_name;
  if (data.empty()) return data;
  if (is_digit(static_cast<unsigned char>(data.back()))) {
    const size_t start = last_component_start(data);
    const size_t dot = data.rfind('.');
    if (dot != std::string::npos && dot > start) {
      data[dot - 1] = '_';
    } else {
      // No character before a "." in the last component: the data file must
      // still differ from the index file and stay in its directory.
      data.back() = '_';
    }
  } else {
    data.back() = '1';
  }
  return data;
}

}  // namespace ismgr
