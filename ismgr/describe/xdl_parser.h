// The description parser: turns a description string into a FileDescription.
#ifndef ISMGR_DESCRIBE_XDL_PARSER_H_
#define ISMGR_DESCRIBE_XDL_PARSER_H_

#include <cstddef>
#include <memory>
#include <string>

#include "ismgr/describe/file_description.h"

namespace ismgr {

// Capacity of the open's file-name buffer (characters, NUL excluded).
inline constexpr size_t kFileNameCapacity = 530;

// Parses the description string at `cursor` (moved to its end) for a file of
// creation revision `revision`. `file_name` is the open's file-name buffer:
// NAME fills it when it is empty (or puts the name in front of options it
// already holds) and PORT_INT appends ", i=<list>" to it. Every error reports
// its details through the detail hook and raises a status: 82 for grammar and
// value errors, 45 for null values, 39 for a key beyond the record, 2 for
// autokeys, 4 when the file name would exceed kFileNameCapacity.
std::unique_ptr<FileDescription> build_file_description(const char*& cursor, std::string* file_name,
                                                        int revision);

// Result codes of store_null_value.
enum NullStoreResult : int {
  kNullStored = 0,
  kNullBlockFull = 1,
  kNullBadInteger = 2,
  kNullBadUnsigned = 3,
  kNullBadDecimal = 4,
};

// Appends the null value of `key` to the description's null-value block.
// With `text` null the key is replicating and `length` is the byte that fills
// a null key. Otherwise an alpha or nocase first segment stores the text
// itself, a numeric first segment the value converted to the segment's record
// form (decimal digits, or a little-endian integer of the segment's length).
int store_null_value(FileDescription& description, KeyDescription& key, const char* text,
                     size_t length);

}  // namespace ismgr

#endif  // ISMGR_DESCRIBE_XDL_PARSER_H_
