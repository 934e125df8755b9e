// Decoding a key's stored null value for display. The NullValueArea holds, at
// the key's null_offset, a count byte c followed by c - 1 value bytes (see
// null_value_at). A replicating key repeats the value's first byte through
// the key. A non-replicating value is kept in the key's index form: numbers
// are big-endian (integers with their sign bit flipped), decimals are digit
// nibbles with the sign in bit 0x40 of the first byte, and every descending
// segment is complemented. The descriptions and the file information query
// show the value from here, each in its own framing.
#ifndef ISMGR_ISAM_NULL_VALUE_H_
#define ISMGR_ISAM_NULL_VALUE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "ismgr/isam/isam_format.h"

namespace ismgr {

// The byte a replicating null value repeats: its first byte, 0 when empty.
uint8_t replicating_null_byte(const uint8_t* value, size_t length);

enum class NullValueKind {
  kText,       // the value's text, up to its first NUL byte
  kNumber,     // the number in decimal, with a leading '-' if negative
  kNone,       // the first segment's type has no printable form
  kBadLength,  // a binary number of a length other than 1, 2, 4 or 8 bytes
};

// Shows the non-replicating null value `value[0, length)` of a key with the
// given segment types and lengths: undoes the complement of its descending
// segments, then reads it by the type of the first segment. Decimal values
// are read as the C library's decimal conversion reads the digit characters
// (the leading run of digits) and written without leading zeros; binary
// values of 1 and 2 bytes are shown unsigned, for integer keys too. `*text`
// is set for kText and kNumber only.
NullValueKind show_non_replicating_null(const std::array<uint8_t, kMaxSegments>& seg_type,
                                        const std::array<uint16_t, kMaxSegments>& seg_length,
                                        const uint8_t* value, size_t length, std::string* text);

}  // namespace ismgr

#endif  // ISMGR_ISAM_NULL_VALUE_H_
