// Name expansion, temporary and unique names, file status, the network-drive
// test, replacement by renaming and the record hash.
#include "ismgr/fileio/names.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "ismgr/platform/platform.h"
#include "ismgr/runtime/char_class.h"
#include "ismgr/runtime/status.h"

namespace ismgr {

namespace {

// ---------------------------------------------------------------------------
// Small text helpers.
// ---------------------------------------------------------------------------

bool is_separator(char c) {
  return c == '/' || c == '\\';
}

bool is_white(char c) {
  return is_space(static_cast<unsigned char>(c));
}

bool is_letter(char c) {
  const char folded = static_cast<char>(c | 0x20);
  return folded >= 'a' && folded <= 'z';
}

void trim_right(std::string* s) {
  while (!s->empty() && is_white(s->back())) s->pop_back();
}

std::string_view trim_left(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && is_white(s[i])) ++i;
  return s.substr(i);
}

// Applies a case rule (-1 lower, 1 upper, 0 none) to s[from..].
void apply_case(std::string* s, size_t from, int rule) {
  if (rule == 0) return;
  for (size_t i = from; i < s->size(); ++i) {
    const auto c = static_cast<unsigned char>((*s)[i]);
    (*s)[i] = static_cast<char>(rule > 0 ? to_upper(c) : to_lower(c));
  }
}

// Start of the file-name part: just after the last separator.
size_t file_part_start(const std::string& name) {
  const size_t slash = name.find_last_of("/\\");
  return slash == std::string::npos ? 0 : slash + 1;
}

// ---------------------------------------------------------------------------
// Case rules.
// ---------------------------------------------------------------------------

std::mutex g_rules_mutex;
bool g_rules_read = false;
NameCaseRules g_rules;

int rule_of(char c) {
  if (c == 'u' || c == 'U') return 1;
  if (c == 'l' || c == 'L') return -1;
  return 0;
}

// ---------------------------------------------------------------------------
// Expansion.
// ---------------------------------------------------------------------------

constexpr const char* kDeviceNames[] = {"CON", "COM1", "COM2", "COM3", "COM4", "AUX",
                                        "PRN", "LPT1", "LPT2", "LPT3", "LPT4"};

bool is_device_name(const std::string& name) {
  for (const char* device : kDeviceNames) {
    if (name == device) return true;
  }
  return false;
}

// A name given as a device path ("\\.\" or "//./") is left as it is.
bool is_device_path(const std::string& name) {
  return name.size() >= 4 && is_separator(name[0]) && is_separator(name[1]) && name[2] == '.' &&
         is_separator(name[3]);
}

void use_forward_separators(std::string* name) {
  for (char& c : *name) {
    if (c == '\\') c = '/';
  }
}

bool types_with_extension(int type) {
  return type == kNameDefault || type == kNameKeepUndefined || type == kNameExtensionAsIs ||
         type == kNameNoFileNameCase;
}

// The last steps of every expansion: device paths stay as they are; the
// file-name case rule; the default extension. Returns 0 or status 4.
int finish_name(std::string* name, const NameRequest& request, std::string_view extension,
                const NameCaseRules& rules, size_t limit) {
  if (is_device_path(*name)) return 0;
  const size_t part = file_part_start(*name);
  const int type = request.type;
  if ((type == kNameDefault || type == kNameKeepUndefined || type == kNameExtensionAsIs) &&
      !request.no_case) {
    apply_case(name, part, rules.file);
  }
  if (!types_with_extension(type)) return 0;
  if (name->find('.', part) != std::string::npos) {
    // A final dot marks a name that has no extension: it goes, and no
    // default extension is added.
    if (!name->empty() && name->back() == '.') name->pop_back();
    return 0;
  }
  if (!name->empty() && name->back() == ':') return 0;
  if (name->size() + extension.size() > limit) return kStatusNameTooLong;
  const size_t at = name->size();
  name->append(extension);
  if (type != kNameExtensionAsIs) {
    const bool upper =
        part < at && (char_class(static_cast<unsigned char>((*name)[part])) & kCcUpper);
    apply_case(name, at, upper ? 1 : -1);
  }
  return 0;
}

// Joins a search-list element with the rest of the name for the existence
// test: a separator between them unless the element is empty or ends in one.
std::string join_candidate(std::string_view element, std::string_view rest) {
  std::string joined(element);
  if (!element.empty() && !is_separator(element.back())) joined += '/';
  joined.append(rest);
  return joined;
}

// Joins the element that becomes the new name with the rest: a separator
// between them unless the element is empty or ends in a colon, a separator or
// "]", or the rest is empty or begins with a colon or a separator.
std::string join_name(std::string_view element, std::string_view rest) {
  std::string joined(element);
  const bool element_closes = element.empty() || element.back() == ':' ||
                              is_separator(element.back()) || element.back() == ']';
  const bool rest_opens = rest.empty() || rest.front() == ':' || is_separator(rest.front());
  if (!element_closes && !rest_opens) joined += '/';
  joined.append(rest);
  return joined;
}

std::vector<std::string_view> split_list(std::string_view value) {
  std::vector<std::string_view> elements;
  size_t from = 0;
  for (;;) {
    const size_t comma = value.find(',', from);
    if (comma == std::string_view::npos) {
      elements.push_back(value.substr(from));
      return elements;
    }
    elements.push_back(value.substr(from, comma - from));
    from = comma + 1;
  }
}

// The value of a logical name. Logical names are matched without regard to
// case, as users of the layer expect; environment names are case-sensitive
// here, so a name not found as written is looked up in upper case (the
// conventional spelling of environment variables).
const char* logical_value(const std::string& logical) {
  if (const char* value = platform::get_env(logical.c_str())) return value;
  std::string upper = logical;
  apply_case(&upper, 0, 1);
  return upper == logical ? nullptr : platform::get_env(upper.c_str());
}

bool exists(const std::string& name) {
  FileStat status;
  return file_status(name.c_str(), &status) == 0;
}

int expand(std::string_view given, const NameRequest& request, std::string* out, bool* blank) {
  const size_t limit =
      request.max_length < kMaxExpandedName ? request.max_length : kMaxExpandedName;
  const NameCaseRules rules = name_case_rules();

  std::string name(given);
  trim_right(&name);
  if (blank != nullptr) *blank = name.empty();
  if (name.size() > limit) return kStatusNameTooLong;

  // Default directory (up to and including the last separator) and default
  // extension (the rest).
  const std::string_view defaults = request.default_name;
  const size_t defaults_slash = defaults.find_last_of("/\\");
  std::string directory;
  std::string_view extension = defaults;
  if (defaults_slash != std::string_view::npos) {
    directory.assign(defaults.substr(0, defaults_slash + 1));
    use_forward_separators(&directory);
    extension = defaults.substr(defaults_slash + 1);
  }

  // A remote part after "@" is kept apart; the name before it is used as it
  // is, without logical names, separator changes or default directory.
  std::string remote;
  bool has_remote = false;
  if (const size_t at = name.find('@'); at != std::string::npos) {
    remote = name.substr(at + 1);
    name = std::string(trim_left(std::string_view(name).substr(0, at)));
    has_remote = true;
  }

  int depth = 0;
  while (!has_remote) {
    const size_t colon = name.find(':');
    if (colon == std::string::npos) break;
    std::string logical = name.substr(0, colon);
    // Text with a separator before the colon is a path, not a logical name
    // (colons are ordinary characters in file names here).
    if (logical.find_first_of("/\\") != std::string::npos) break;
    const std::string rest(trim_left(std::string_view(name).substr(colon + 1)));
    apply_case(&logical, 0, rules.logical);
    trim_right(&logical);
    const char* value = logical_value(logical);
    if (value == nullptr) {
      if (logical.size() > 1) {
        if (is_device_name(logical)) {
          *out = logical + ":";
          return 0;
        }
        // An undefined logical name is dropped (type 2 keeps it).
        if (request.type != kNameKeepUndefined) name = rest;
        break;
      }
      // A drive letter.
      name = logical + ":" + rest;
      break;
    }
    if (++depth > kMaxLogicalNameDepth) return kStatusBadFileSpec;
    std::string_view list(value);
    while (!list.empty() && is_white(list.back())) list.remove_suffix(1);
    if (list.size() > kMaxExpandedName) return kStatusNameTooLong;
    const std::vector<std::string_view> elements = split_list(list);
    if (request.search) {
      // Every element but the last is tried; the first existing file wins.
      for (size_t i = 0; i + 1 < elements.size(); ++i) {
        if (elements[i].find('@') != std::string_view::npos) continue;
        std::string candidate = join_candidate(elements[i], rest);
        if (candidate.size() > limit) return kStatusNameTooLong;
        use_forward_separators(&candidate);
        if (const int status = finish_name(&candidate, request, extension, rules, limit)) {
          return status;
        }
        if (exists(candidate)) {
          *out = std::move(candidate);
          return 0;
        }
      }
    }
    std::string_view element = request.search ? elements.back() : elements.front();
    if (const size_t at = element.find('@'); at != std::string_view::npos) {
      remote.assign(element.substr(at + 1));
      element = element.substr(0, at);
      has_remote = true;
    }
    name = join_name(element, rest);
    if (name.size() > limit) return kStatusNameTooLong;
  }

  if (!has_remote) {
    use_forward_separators(&name);
    if (!directory.empty()) {
      // A drive prefix equal to the default directory's drive is passed over.
      size_t skip = 0;
      if (name.size() >= 2 && name[1] == ':' && is_letter(name[0]) && directory.size() >= 2 &&
          directory[1] == ':' &&
          to_upper(static_cast<unsigned char>(name[0])) ==
              to_upper(static_cast<unsigned char>(directory[0]))) {
        skip = 2;
      }
      const std::string_view body = std::string_view(name).substr(skip);
      if (body.find(':') == std::string_view::npos && (body.empty() || body.front() != '/')) {
        if (directory.size() + body.size() > limit) return kStatusNameTooLong;
        name = directory + std::string(body);
      }
    }
  }

  if (const int status = finish_name(&name, request, extension, rules, limit)) return status;
  if (has_remote) {
    if (name.size() + 1 + remote.size() > limit) return kStatusNameTooLong;
    name += '@';
    name += remote;
  }
  *out = std::move(name);
  return 0;
}

// ---------------------------------------------------------------------------
// Record hash: one table per byte position of an eight-byte step, so that
// eight bytes cost eight table lookups and no per-byte shifts of the hash.
// ---------------------------------------------------------------------------

constexpr uint32_t kHashPolynomial = 0x04C11DB7;

using HashTables = std::array<std::array<uint32_t, 256>, 8>;

constexpr HashTables make_hash_tables() {
  HashTables t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t h = i << 24;
    for (int bit = 0; bit < 8; ++bit) h = (h & 0x80000000u) ? (h << 1) ^ kHashPolynomial : h << 1;
    t[0][i] = h;
  }
  // t[k][i]: the hash of byte i followed by k zero bytes.
  for (size_t k = 1; k < 8; ++k) {
    for (uint32_t i = 0; i < 256; ++i) {
      const uint32_t prev = t[k - 1][i];
      t[k][i] = (prev << 8) ^ t[0][prev >> 24];
    }
  }
  return t;
}

constexpr HashTables kHashTables = make_hash_tables();

inline uint32_t load_big_endian(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[3]);
}

}  // namespace

NameCaseRules name_case_rules() {
  std::lock_guard<std::mutex> lock(g_rules_mutex);
  if (!g_rules_read) {
    NameCaseRules rules;
    const char* value = platform::get_env("VRXCASE");
    if (value != nullptr && value[0] != '\0') {
      const size_t length = std::strlen(value);
      rules.logical = rule_of(value[0]);
      rules.file = rule_of(length >= 3 ? value[2] : value[0]);
    }
    g_rules = rules;
    g_rules_read = true;
  }
  return g_rules;
}

void reset_name_case_rules() {
  std::lock_guard<std::mutex> lock(g_rules_mutex);
  g_rules_read = false;
  g_rules = NameCaseRules{};
}

int expand_file_name(std::string_view name, const NameRequest& request, std::string* out,
                     bool* blank_name) {
  return expand(name, request, out, blank_name);
}

size_t expand_name(char* buffer, size_t capacity, std::string_view default_name, int type,
                   bool search, bool* blank_name, bool no_case) {
  const size_t length = buffer == nullptr ? capacity : strnlen(buffer, capacity);
  if (length >= capacity) raise_status(kStatusNameTooLong);  // not terminated in its buffer
  NameRequest request;
  request.default_name = default_name;
  request.type = type;
  request.search = search;
  request.no_case = no_case;
  request.max_length = capacity - 1;
  std::string expanded;
  int status;
  try {
    status = expand(std::string_view(buffer, length), request, &expanded, blank_name);
  } catch (const std::bad_alloc&) {
    raise_status(kStatusNoMemory);
  }
  if (status != 0) raise_status(status);
  std::memcpy(buffer, expanded.c_str(), expanded.size() + 1);
  return expanded.size();
}

std::string expand_name_copy(std::string_view name, std::string_view default_name, int type,
                             bool search) {
  NameRequest request;
  request.default_name = default_name;
  request.type = type;
  request.search = search;
  std::string expanded;
  int status;
  try {
    status = expand(name, request, &expanded, nullptr);
  } catch (const std::bad_alloc&) {
    raise_status(kStatusNoMemory);
  }
  if (status != 0) raise_status(status);
  return expanded;
}

bool temporary_directory(std::string* dir) {
  for (const char* variable : {"TMP", "TEMP"}) {
    const char* value = platform::get_env(variable);
    if (value == nullptr || value[0] == '\0') continue;
    platform::FileStatus status;
    if (!platform::file_status(value, &status) || !status.is_directory || status.read_only) {
      continue;
    }
    dir->assign(value);
    if (!is_separator(dir->back())) *dir += '/';
    return true;
  }
  return false;
}

bool unique_name(std::string* path) {
  return unique_name(path, [](const std::string& candidate) {
    FileStat status;
    return file_status(candidate.c_str(), &status) == 0 ? 0 : errno;
  });
}

bool unique_name(std::string* path, const NameProbe& probe) {
  constexpr int kMaxDenied = 50;
  const char first = name_case_rules().file > 0 ? 'A' : 'a';
  const char last = static_cast<char>(first + 25);
  std::string& name = *path;
  const size_t end = name.size();
  size_t start = end;
  while (start > 0 && name[start - 1] == 'X') --start;
  if (start == end) return probe(name) == ENOENT;

  for (size_t i = start; i < end; ++i) name[i] = '0';
  int denied = 0;
  for (;;) {
    const int result = probe(name);
    if (result == ENOENT) return true;
    if (result == EACCES) {
      if (++denied > kMaxDenied) return false;
    } else if (result != 0) {
      return false;
    }
    // Next candidate, counted from the first position of the run.
    size_t pos = start;
    while (pos < end && name[pos] == last) ++pos;
    if (pos == end) {
      // Every position would wrap: the last candidate once more, then give up.
      return probe(name) == ENOENT;
    }
    for (size_t i = start; i < pos; ++i) name[i] = first;  // wrapped positions
    name[pos] = name[pos] == '0' ? first : static_cast<char>(name[pos] + 1);
  }
}

int file_status(const char* path, FileStat* status) {
  *status = FileStat{};
  if (path == nullptr || path[0] == '\0') {
    errno = EINVAL;
    return -1;
  }
  const size_t length = std::strlen(path);
  const bool has_drive = length >= 2 && path[1] == ':' && is_letter(path[0]);
  if (has_drive && length == 2) {
    errno = EINVAL;
    return -1;
  }
  platform::FileStatus found;
  if (!platform::file_status(path, &found)) {
    const uint32_t error = platform::last_error();
    errno = error == platform::kErrAccessDenied   ? EACCES
            : error == platform::kErrFileNotFound ? ENOENT
                                                  : EINVAL;
    return -1;
  }
  const char* after_drive = has_drive ? path + 2 : path;
  const bool root = is_separator(after_drive[0]) && after_drive[1] == '\0';
  uint32_t mode = (found.is_directory || root) ? kModeDirectory | kModeExecute : kModeRegular;
  mode |= kModeRead;
  if (!found.read_only) mode |= kModeWrite;
  if (length >= 4 && path[length - 4] == '.') {
    std::string suffix(path + length - 3);
    apply_case(&suffix, 0, -1);
    if (suffix == "exe" || suffix == "cmd" || suffix == "bat" || suffix == "com") {
      mode |= kModeExecute;
    }
  }
  const uint32_t owner = mode & (kModeRead | kModeWrite | kModeExecute);
  status->mode = mode | owner >> 3 | owner >> 6;
  status->size = static_cast<uint32_t>(static_cast<uint64_t>(found.size) & 0xFFFFFFFFu);
  status->created = found.changed;
  status->accessed = found.accessed;
  status->modified = found.modified;
  status->links = 1;
  status->device = has_drive ? to_upper(static_cast<unsigned char>(path[0])) - 'A' : 0;
  return 0;
}

bool on_network_drive(const char* path) {
  if (path == nullptr || path[0] == '\0') return false;
  return platform::is_network_path(path);
}

int replace_by_rename(const char* existing_name, const char* new_name) {
  if (existing_name == nullptr || new_name == nullptr) return 1;
  FileStat status;
  if (file_status(existing_name, &status) != 0) return 1;
  if (std::strcmp(existing_name, new_name) == 0) return 0;
  if (file_status(new_name, &status) == 0 && !platform::delete_file(new_name)) return 1;
  return platform::move_file(existing_name, new_name) ? 0 : 1;
}

uint32_t record_hash(const void* data, size_t length) {
  const auto* p = static_cast<const uint8_t*>(data);
  uint32_t hash = 0;
  const auto& t = kHashTables;
  while (length >= 8) {
    const uint32_t a = hash ^ load_big_endian(p);
    const uint32_t b = load_big_endian(p + 4);
    hash = t[7][a >> 24] ^ t[6][(a >> 16) & 0xFF] ^ t[5][(a >> 8) & 0xFF] ^ t[4][a & 0xFF] ^
           t[3][b >> 24] ^ t[2][(b >> 16) & 0xFF] ^ t[1][(b >> 8) & 0xFF] ^ t[0][b & 0xFF];
    p += 8;
    length -= 8;
  }
  while (length-- > 0) hash = (hash << 8) ^ t[0][(hash >> 24) ^ *p++];
  return hash;
}

}  // namespace ismgr
