// Process-wide configuration state shared by context.cpp and config.cpp.
// Not for use outside the runtime frame.
#ifndef ISMGR_RUNTIME_CONFIG_INTERNAL_H_
#define ISMGR_RUNTIME_CONFIG_INTERNAL_H_

#include <cstdint>
#include <string>

#include "ismgr/platform/platform.h"
#include "ismgr/runtime/context.h"

namespace ismgr {

struct ConfigState {
  bool read = false;
  uint32_t options_low = 0;
  uint32_t options_high = 0;
  ismgr_config config;
  SharedListNode shared_list;
  char current_name[kCurrentNameSize] = {};
  bool compression = false;
  int eof_char = 0;
  SmallestIntegers smallest{0, 0, 0, 0};

  // Backup mode: the word reads 4 until the backup-mode file is mapped.
  uint32_t fixed_word = 4;
  platform::Handle backup_handle = platform::kInvalidHandle;
  platform::MappedWord backup_word;
  int32_t startup_status = 0;
  uint32_t startup_os_error = 0;
  std::string backup_path;  // the backup-mode file tried, "" when none

  ~ConfigState();
};

ConfigState& config_state();
// Reads the process configuration when it has not been read yet.
void ensure_configuration();
// Forgets the configuration and unmaps the backup-mode word.
void reset_configuration();
// The install directory taken from the program's path: the directory before
// its first "VRX" component (found without regard to case). False when the
// path has none.
bool install_dir_from_program(const std::string& program_path, std::string* dir);

}  // namespace ismgr

#endif  // ISMGR_RUNTIME_CONFIG_INTERNAL_H_
