// File names as users write them, and the other path and name helpers.
//
// A name reaches the layer with a logical name and a colon in front, with
// either separator, without extension, in any case. Before a driver opens a
// file the name is expanded: logical names are replaced by the value of the
// environment variable of that name (possibly a comma-separated search list),
// the "VRXCASE" case rules apply, a default directory and extension are added,
// and device names are recognised.
//
// Logical names are matched without regard to case: a name not defined as
// written is looked up in upper case. Text that holds a separator before its
// first colon is a path, not a logical name.
//
// "/" is the directory separator; a "\" in a name is read as one and becomes
// "/" in the expanded name. A name beginning with two separators is an
// ordinary local path.
//
// Unlike a plain cut, an expansion whose result would not fit is refused with
// status 4 ("Filename length too long"): opening a shorter name than the one
// the user gave would reach a different file.
#ifndef ISMGR_FILEIO_NAMES_H_
#define ISMGR_FILEIO_NAMES_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace ismgr {

// The smallest name buffer a caller may hand to expand_name (the current-name
// buffers of the layer hold at least this much).
constexpr size_t kMinNameBuffer = 531;
// The longest expanded name (a path buffer of 4096 bytes with its terminator).
constexpr size_t kMaxExpandedName = 4095;
// Logical names substituted in one expansion before it is refused with
// status 58 ("Bad file specification"): a logical name whose value refers
// back to itself would otherwise be substituted for ever.
constexpr int kMaxLogicalNameDepth = 16;

// Expansion types.
enum NameType : int {
  kNameNoExtension = 0,     // no extension, no file-name case rule (also 3 and others)
  kNameDefault = 1,         // extension with adapted case, file-name case rule
  kNameKeepUndefined = 2,   // as 1, and an undefined logical name stays in the name
  kNameExtensionAsIs = 4,   // extension appended unchanged, file-name case rule
  kNameNoFileNameCase = 5,  // extension with adapted case, no file-name case rule
};

// Case rules of "VRXCASE": -1 lower case, 1 upper case, 0 unchanged.
struct NameCaseRules {
  int logical = 0;
  int file = 0;
};
// The process-wide rules, read from "VRXCASE" at the first use: with three
// or more characters the first sets the logical-name rule and the third the
// file-name rule; a shorter value sets both from its first character. "u"/"U"
// is upper case, "l"/"L" lower case, anything else unchanged.
NameCaseRules name_case_rules();
// Forgets the rules, so that the next use reads "VRXCASE" again (for tests and
// after the environment was changed on purpose).
void reset_name_case_rules();

struct NameRequest {
  // Directory, separator, default name part: the part after the last
  // separator is the default extension (".ISM"), the part up to and
  // including it the default directory. Without a separator the whole string
  // is the default extension.
  std::string_view default_name;
  int type = kNameDefault;
  // Try every element of a logical name's search list and take the first
  // that exists (opening); otherwise only the first element (creating).
  bool search = false;
  // Leave the case of the file-name part alone.
  bool no_case = false;
  // The longest result accepted (at most kMaxExpandedName).
  size_t max_length = kMaxExpandedName;
};

// Expands `name` into *out. Returns 0, or a status code with *out
// unspecified: 4 when the expanded name (or a step towards it) would exceed
// request.max_length, 58 when logical names are nested deeper than
// kMaxLogicalNameDepth. *blank_name (when given) is set when the name is
// empty or only white space; the expansion then goes on with the empty name.
int expand_file_name(std::string_view name, const NameRequest& request, std::string* out,
                     bool* blank_name = nullptr);

// Expands the NUL-terminated name in `buffer` (of `capacity` bytes) in place
// and returns the length of the expanded name. A name that is not terminated
// within the buffer, or whose expansion does not fit in it, raises status 4;
// nested logical names raise status 58.
size_t expand_name(char* buffer, size_t capacity, std::string_view default_name, int type,
                   bool search, bool* blank_name, bool no_case);

// Expands `name` into a new string. Raises status 4 for a name or result
// longer than kMaxExpandedName, 58 for nested logical names and 31 when
// memory is short.
std::string expand_name_copy(std::string_view name, std::string_view default_name, int type,
                             bool search);

// The temporary directory: "TMP", or when that is unset or not a directory
// this process may read and write, "TEMP". True with *dir holding the
// directory and a trailing separator; false when neither works.
bool temporary_directory(std::string* dir);

// How a candidate name fared: 0 when it exists, otherwise the C library error
// number of its file status (ENOENT: free to take).
using NameProbe = std::function<int(const std::string& candidate)>;

// Turns a template whose file name ends in a run of "X" into the name of a
// file that does not exist yet: the run is replaced by "0"s and then counted
// like an odometer whose fastest position is the first of the run ("0", then
// the letters "a" to "z", or "A" to "Z" under an upper-case file-name rule).
// A template without "X"s is returned when it does not exist. False when no
// free name was found, when more than 50 candidates were refused with EACCES,
// or when a candidate's status failed otherwise.
bool unique_name(std::string* path);
// The same with the existence test given (for tests).
bool unique_name(std::string* path, const NameProbe& probe);

// The file status record of the layer: the C library's status record with
// 64-bit times and a 32-bit size.
struct FileStat {
  uint32_t mode = 0;  // kMode* bits
  uint32_t size = 0;  // low 32 bits of the file size
  int64_t created = 0;
  int64_t accessed = 0;
  int64_t modified = 0;
  int32_t links = 0;
  int32_t device = 0;  // the drive number less one; 0 without a drive letter
};
constexpr uint32_t kModeDirectory = 0x4000;
constexpr uint32_t kModeRegular = 0x8000;
constexpr uint32_t kModeRead = 0x100;
constexpr uint32_t kModeWrite = 0x80;
constexpr uint32_t kModeExecute = 0x40;

// The status of a file. Returns 0, or -1 with errno set: EINVAL (22) for an
// empty path, a drive letter and colon alone, or any failure but these two,
// ENOENT (2) when the file does not exist, EACCES (13) when access is denied.
// On failure times, mode and size are cleared.
int file_status(const char* path, FileStat* status);

// True when the file lies on a network file system (a missing file is judged
// by the nearest directory above it that exists).
bool on_network_drive(const char* path);

// Replaces `new_name` by renaming `existing_name` to it. Returns 0 on
// success, also for equal names; 1 when the existing file has no status, when
// an existing `new_name` cannot be deleted, or when the rename fails.
int replace_by_rename(const char* existing_name, const char* new_name);

// The record hash: CRC-32 with the polynomial 0x04C11DB7, most significant
// bit first, initial value 0, no reflection and no final inversion. "abc"
// gives 0x2C17398C; no bytes give 0.
uint32_t record_hash(const void* data, size_t length);

}  // namespace ismgr

#endif  // ISMGR_FILEIO_NAMES_H_
