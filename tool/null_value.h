// Reading and showing a key's null value. The NullValueArea holds, at the
// key's null_offset, a count byte c followed by c - 1 value bytes. A
// non-replicating null value is kept in the key's index form: numbers are
// big-endian (integers with their sign bit flipped), decimals are digit
// nibbles with the sign in bit 0x40 of the first byte, and every descending
// segment is complemented.
#ifndef ISMGR_TOOL_NULL_VALUE_H_
#define ISMGR_TOOL_NULL_VALUE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "tool/file_view.h"

namespace ismgr::tool {

// A copy of the key's null value bytes. A value whose count byte or bytes lie
// outside the null value area is taken as empty and *inside set to false.
std::vector<uint8_t> null_value_bytes(const FileView& f, const KeyView& k, bool* inside = nullptr);

// Number of segments: entries up to the first zero length, at most 8.
int segment_count(const KeyView& k);

// True when any segment is of an alpha or case-insensitive type.
bool has_text_segment(const KeyView& k);

// Undoes the complement of the descending segments of an index-form value.
void undo_descending(const KeyView& k, std::vector<uint8_t>* value);

enum class NullShow {
  kText,    // `text` is the value text, to be written between single quotes
  kNumber,  // `text` is the number in decimal, with a leading '-' if negative
  kNone,    // the value has no printable form (unknown type or length)
};

// Shows a non-replicating null value (already copied and un-complemented)
// by the type code of the key's first segment.
NullShow show_non_replicating(const KeyView& k, const std::vector<uint8_t>& value,
                              std::string* text);

}  // namespace ismgr::tool

#endif  // ISMGR_TOOL_NULL_VALUE_H_
