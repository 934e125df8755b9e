// Reading a key's null value from a FileView. The decoding of the value for
// display is shared with the file information query (isam/null_value.h).
#ifndef ISMGR_TOOL_NULL_VALUE_H_
#define ISMGR_TOOL_NULL_VALUE_H_

#include <cstdint>
#include <vector>

#include "tool/file_view.h"

namespace ismgr::tool {

// A copy of the key's null value bytes. A value whose count byte or bytes lie
// outside the null value area is taken as empty and *inside set to false.
std::vector<uint8_t> null_value_bytes(const FileView& f, const KeyView& k, bool* inside = nullptr);

// True when any segment is of an alpha or case-insensitive type.
bool has_text_segment(const KeyView& k);

}  // namespace ismgr::tool

#endif  // ISMGR_TOOL_NULL_VALUE_H_
