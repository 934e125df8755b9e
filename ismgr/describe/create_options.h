// The creation option string: options after the first comma of the name
// handed to file creation ("cust,page=4096,i=10:4"), in the form of a PAR
// file's file line. They adjust the FileDescription before the header is
// built.
#ifndef ISMGR_DESCRIBE_CREATE_OPTIONS_H_
#define ISMGR_DESCRIBE_CREATE_OPTIONS_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ismgr/describe/file_description.h"

namespace ismgr {

// Marks of a portable integer in the record-byte map: first byte, bytes
// between, last byte (a one-byte field has only the first mark).
inline constexpr uint8_t kMapFirst = 0x44;
inline constexpr uint8_t kMapMiddle = 0x04;
inline constexpr uint8_t kMapLast = 0x84;

// The file text given by the "text" option.
struct CreateText {
  bool given = false;
  std::string text;  // at most 65535 bytes
};

// Cuts `name` at its first comma and applies the options after it to
// `description`. Portable integers ("i=position:length") are appended to
// `port_ints` and marked in `byte_map` (resized to the record size when
// smaller); without a map they are ignored. The "text" option fills *text.
// Returns the final file_flags; a name without a comma is left unchanged.
// Errors raise a status after their details: 32 for an unknown or malformed
// option, 70 for a page size, 71 for a density, 76 for a portable-integer
// size, 77 for overlapping portable integers.
uint8_t apply_create_options(std::string* name, FileDescription& description,
                             std::vector<PortIntEntry>* port_ints, std::vector<uint8_t>* byte_map,
                             CreateText* text, int revision);

// Counts the options of `options` whose word begins with "i" and that have a
// "=" before the next comma, adds the count to description.port_int_count and
// returns it (status 32 when the count no longer fits 8 bits).
int count_port_int_options(std::string_view options, FileDescription& description);

}  // namespace ismgr

#endif  // ISMGR_DESCRIBE_CREATE_OPTIONS_H_
