// Key parameter queries of an open ISAM file: one key's parameters as a
// fixed-width text or as a record, and the number of the key with a given
// name or position and length. They read the key descriptors and change
// nothing but the runtime context the record query records.
#ifndef ISMGR_ISAM_KEY_QUERY_H_
#define ISMGR_ISAM_KEY_QUERY_H_

#include <cstddef>
#include <cstdint>

#include "ismgr/isam/file_control.h"
#include "ismgr/runtime/context.h"

namespace ismgr {

constexpr size_t kKeyParamTextLength = 90;
constexpr size_t kKeyParamRecordSize = 56;

// The key's parameters as 90 characters and a NUL in `text` (at least 91
// bytes): start "%05d", size "%03d", duplicates, ascending and modifiable as
// "1"/"0", the name right-aligned in 15 characters, then per segment 0 to 7
// the start "%05d" and after them the lengths "%03d" (zeros for a segment
// of length 0). Returns 90; -2 with status 2 for a key out of range
// (the change-tracking key is never described); -1 with status 1 when a
// value of a damaged header does not fit its field.
int64_t key_param_text(IsamFileControl* fc, int32_t key, char* text, ismgr_control* control);

// The same as a 56-byte record: u16 start, u16 size, u8 duplicates, u8
// ascending, u8 modifiable, one byte left alone, the name (15 characters less
// trailing white space, NUL-terminated, in 16 bytes), u16 starts[8] (start +
// 1, 0 for a segment of length 0), u16 lengths[8]. Returns 0, -1 with status 2
// for a key out of range, -2 for an invalid control block.
int64_t key_param_record(IsamFileControl* fc, int32_t key, uint8_t* record, ismgr_control* control);

// The number of the first key whose name begins with the `length` bytes of
// `name`; a name longer than the 16 bytes of a key name matches none. -1
// with status 8 when no key matches.
int64_t key_by_name(IsamFileControl* fc, const char* name, size_t length, ismgr_control* control);

// The number of the key at `start` (counted from 0) with `length`: first a
// single-segment key of exactly that start and size, else the first key whose
// first segment starts there and is at least that long. With none: -2 with
// status 7 when runtime option 45 is set, else 0 (the primary key).
int64_t key_by_position(IsamFileControl* fc, int32_t start, int32_t length, ismgr_control* control);

}  // namespace ismgr

#endif  // ISMGR_ISAM_KEY_QUERY_H_
