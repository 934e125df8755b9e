// The process configuration: read once from the environment by the first
// context of the process, together with the locale adaptation of the
// character classes and the backup-mode set-up.
#include <cctype>
#include <climits>
#include <clocale>
#include <cstring>
#include <string>

#include "ismgr/platform/platform.h"
#include "ismgr/runtime/char_class.h"
#include "ismgr/runtime/config_internal.h"
#include "ismgr/runtime/context.h"

namespace ismgr {

ConfigState::~ConfigState() {
  backup_word.unmap();
  if (backup_handle != platform::kInvalidHandle) platform::close_file(backup_handle);
}

ConfigState& config_state() {
  static ConfigState state;
  return state;
}

int c_atoi(const char* text) {
  if (text == nullptr) return 0;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  int64_t value = 0;
  while (*p >= '0' && *p <= '9') {
    if (value <= int64_t{INT_MAX} + 1) value = value * 10 + (*p - '0');
    ++p;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

namespace {

// Each maximal run of decimal digits is an option number; 1 to 32 go to the
// low word, 33 to 64 to the high word, anything else is ignored.
void read_options(const char* text, uint32_t* low, uint32_t* high) {
  *low = 0;
  *high = 0;
  if (text == nullptr) return;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (*p != 0) {
    if (!is_digit(*p)) {
      ++p;
      continue;
    }
    uint32_t n = 0;
    while (*p != 0 && is_digit(*p)) {
      if (n <= 64) n = n * 10 + static_cast<uint32_t>(*p - '0');
      ++p;
    }
    if (n >= 1 && n <= 32) {
      *low |= uint32_t{1} << (n - 1);
    } else if (n >= 33 && n <= 64) {
      *high |= uint32_t{1} << (n - 33);
    }
  }
  *low &= kOptionMaskLow;
  *high &= kOptionMaskHigh;
}

bool equal_nocase(const std::string& a, size_t at, const char* b) {
  size_t n = std::strlen(b);
  if (at + n > a.size()) return false;
  for (size_t i = 0; i < n; ++i) {
    if (to_upper(static_cast<unsigned char>(a[at + i])) != static_cast<unsigned char>(b[i])) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool install_dir_from_program(const std::string& path, std::string* dir) {
  for (size_t i = 0; i < path.size(); ++i) {
    if ((path[i] == '/' || path[i] == '\\') && equal_nocase(path, i + 1, "VRX") &&
        i + 4 < path.size() && (path[i + 4] == '/' || path[i + 4] == '\\')) {
      *dir = path.substr(0, i);
      return true;
    }
  }
  return false;
}

namespace {

// The nearest existing directory at or above `dir`, for the volume test.
std::string existing_ancestor(std::string dir) {
  platform::FileStatus st;
  while (!dir.empty()) {
    if (platform::file_status(dir.c_str(), &st)) return dir;
    size_t cut = dir.find_last_of("/\\");
    if (cut == std::string::npos) return ".";
    dir.resize(cut);
  }
  return "/";
}

// `dir` joined with the entry `name`, spelled as the directory spells it
// when it holds it in another case.
std::string join_nocase(const std::string& dir, const char* name) {
  std::string found;
  const char* lookup = dir.empty() ? "/" : dir.c_str();
  if (!platform::find_entry_nocase(lookup, name, &found)) found = name;
  return dir + "/" + found;
}

// Backup mode off: start-up status 0, the word keeps the value 4.
void backup_off(ConfigState& s) {
  s.startup_status = 0;
}

// Maps the backup-mode word of "corbackup.cfg" under the install
// directory. A failing step records the start-up status and the OS error.
void setup_backup_mode(ConfigState& s) {
  if (s.backup_handle != platform::kInvalidHandle) return;
  std::string dir;
  if (const char* v = platform::get_env("CORVETHRT64")) {
    dir = v;
  } else if (const char* v32 = platform::get_env("CORVETHRT32")) {
    dir = v32;
  } else if (!install_dir_from_program(platform::executable_path(), &dir)) {
    return;  // backup mode off: the word keeps the value 4
  }

  if (!platform::is_fixed_drive(existing_ancestor(dir).c_str())) {
    backup_off(s);
    return;
  }
  std::string path = join_nocase(join_nocase(dir, "vrx"), "corbackup.cfg");
  s.backup_path = path;

  platform::OpenOptions options;
  options.access = platform::Access::kRead;
  options.share = platform::kShareRead | platform::kShareWrite;
  options.disposition = platform::Disposition::kOpenExisting;
  platform::Handle handle = platform::open_file(path.c_str(), options);
  if (handle == platform::kInvalidHandle) {
    uint32_t error = platform::last_error();
    s.startup_os_error = error;
    if (error == platform::kErrFileNotFound) {
      backup_off(s);
    } else if (error == platform::kErrSharingViolation) {
      s.startup_status = kStatusBackupInUse;
    } else {
      s.startup_status = kStatusBackupAccess;
    }
    return;
  }
  if (!s.backup_word.map(handle)) {
    s.startup_os_error = platform::last_error();
    platform::close_file(handle);
    s.startup_status = kStatusBackupAccess;
    return;
  }
  s.backup_handle = handle;
}

void read_configuration(ConfigState& s) {
  const char* v = platform::get_env("SCSCOMPR");
  s.compression = v != nullptr && c_atoi(v) != 0;

  v = platform::get_env("ISAMC_REV");
  s.config.creation_revision = v != nullptr ? c_atoi(v) : 6;

  s.config.mode_word1 = 1;
  s.config.mode_word2 = 1;
  s.eof_char = 26;
  s.config.options_high = &s.options_high;
  s.config.options_low = &s.options_low;
  s.config.default_ext_sequential = ".DDF";
  s.config.default_ext_isam = ".ISM";
  s.shared_list.next = &s.shared_list;
  s.shared_list.prev = &s.shared_list;
  s.smallest = SmallestIntegers{INT8_MIN, INT16_MIN, INT32_MIN, INT64_MIN};

  setup_backup_mode(s);

  read_options(platform::get_env("VRXOPT"), &s.options_low, &s.options_high);

  if (platform::get_env("CORVETH_NOLOCALE") == nullptr) {
    std::setlocale(LC_CTYPE, "");
    adapt_char_classes();
  }
}

}  // namespace

void ensure_configuration() {
  ConfigState& s = config_state();
  if (s.read) return;
  s.read = true;
  read_configuration(s);
}

void reset_configuration() {
  ConfigState& s = config_state();
  s.backup_word.unmap();
  if (s.backup_handle != platform::kInvalidHandle) platform::close_file(s.backup_handle);
  s.backup_handle = platform::kInvalidHandle;
  s.read = false;
  s.options_low = 0;
  s.options_high = 0;
  s.config = ismgr_config();
  s.shared_list = SharedListNode();
  std::memset(s.current_name, 0, sizeof s.current_name);
  s.compression = false;
  s.eof_char = 0;
  s.smallest = SmallestIntegers{0, 0, 0, 0};
  s.fixed_word = 4;
  s.startup_status = 0;
  s.startup_os_error = 0;
  s.backup_path.clear();
  std::setlocale(LC_CTYPE, "C");
  reset_char_classes();
}

int eof_char() {
  ensure_configuration();
  return config_state().eof_char;
}

bool compression_setting() {
  ensure_configuration();
  return config_state().compression;
}

const SmallestIntegers& smallest_integers() {
  ensure_configuration();
  return config_state().smallest;
}

uint32_t data_cache_buffers() {
  const char* value = ismgr_getenv("NUMDBUFS");
  if (value == nullptr) return 4;
  const int n = c_atoi(value);
  return n >= 1 && n <= 10 ? static_cast<uint32_t>(n) : 1;
}

bool option_set(int n) {
  ensure_configuration();
  const ConfigState& s = config_state();
  if (n >= 1 && n <= 32) return (s.options_low >> (n - 1)) & 1;
  if (n >= 33 && n <= 64) return (s.options_high >> (n - 33)) & 1;
  return false;
}

int32_t startup_status() {
  ensure_configuration();
  return config_state().startup_status;
}

uint32_t startup_os_error() {
  ensure_configuration();
  return config_state().startup_os_error;
}

uint32_t backup_mode_word() {
  const ConfigState& s = config_state();
  return s.backup_word.mapped() ? s.backup_word.value() : s.fixed_word;
}

bool backup_mode_mapped() {
  return config_state().backup_word.mapped();
}

}  // namespace ismgr
