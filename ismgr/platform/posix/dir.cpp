// Directory listing: finding an entry without regard to case.
#include <dirent.h>

#include <cerrno>
#include <cstring>

#include "ismgr/platform/platform.h"

namespace ismgr::platform {

namespace {
// ASCII case folding only: the answer must not depend on the locale.
bool equal_ascii_nocase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    unsigned char ca = static_cast<unsigned char>(*a);
    unsigned char cb = static_cast<unsigned char>(*b);
    if (ca >= 'A' && ca <= 'Z') ca = static_cast<unsigned char>(ca + 32);
    if (cb >= 'A' && cb <= 'Z') cb = static_cast<unsigned char>(cb + 32);
    if (ca != cb) return false;
    if (ca == 0) return true;
  }
}
}  // namespace

bool find_entry_nocase(const char* directory, const char* name, std::string* found) {
  if (directory == nullptr || name == nullptr || found == nullptr) {
    set_last_error(kErrInvalidParameter);
    return false;
  }
  DIR* dir = opendir(directory);
  if (dir == nullptr) {
    set_last_error_from_errno(errno, directory);
    return false;
  }
  bool have = false;
  std::string match;
  while (struct dirent* entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, name) == 0) {
      match = entry->d_name;
      have = true;
      break;
    }
    if (!have && equal_ascii_nocase(entry->d_name, name)) {
      match = entry->d_name;
      have = true;
    }
  }
  closedir(dir);
  if (!have) {
    set_last_error(kErrFileNotFound);
    return false;
  }
  *found = match;
  return true;
}

}  // namespace ismgr::platform
