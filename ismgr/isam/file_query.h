// The file information query of an open ISAM file: answers by keyword
// ("size", "numkeys", "fopts", "nullvalue", ...) for a key and segment, and
// the fixed file summaries as a 31-character text and as a record.
//
// Everything is read from the IsamFileControl, except the file text
// ("putnote"), which is read from the data file. The control block is never
// changed, apart from the runtime context the summaries record in it.
#ifndef ISMGR_ISAM_FILE_QUERY_H_
#define ISMGR_ISAM_FILE_QUERY_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "ismgr/isam/file_control.h"
#include "ismgr/runtime/context.h"

namespace ismgr {

// The query: `number` receives a number item, `text` (capacity bytes) a text
// item, cut to capacity - 1 characters and a NUL. Key and segment count from
// 0. Returns 0, or -1 with the status in the context's status block (2 key
// out of range, 79 segment out of range, 37 a result missing, 32 unknown or
// ambiguous keyword, 45 damaged null value, 80 no null value, 6 unknown
// type, 22 file text unreadable) and the details given to the detail hook.
int64_t file_query(IsamFileControl* fc, int32_t* number, char* text, int32_t capacity,
                   const char* keyword, int32_t key, int32_t segment, ismgr_control* control);

// The file summary as text: "%05d%05d%03d99999999%08d%02d" (record size,
// primary key start, primary key size, 99999999 less the record count, key
// count) into `text` (at least 32 bytes). Returns 31, or -2 for an invalid
// control block. A value too wide for its field is refused with status 1
// and -1, so the text never outgrows its buffer.
int64_t file_summary_text(IsamFileControl* fc, char* text, ismgr_control* control);

// The file summary as a 17-byte record: u16 record size, u16 primary key
// start, u16 primary key size, 2 bytes left alone, u32 999999999, u32
// 999999999 less the record count, u8 key count. Returns 0, or -2.
constexpr size_t kFileSummaryRecordSize = 17;
int64_t file_summary_record(IsamFileControl* fc, uint8_t* record, ismgr_control* control);

// Decodes a key's stored null value as the descriptions show it: the first
// byte as a character (or "\ooo") for a replicating key; for a
// non-replicating key the text or number show_non_replicating_null gives
// (isam/null_value.h), empty for a type without a printable form. `valid` is
// false for a value outside the area or a binary number of an impossible
// length (a damaged file).
struct NullValueText {
  bool present = false;  // the key has a null value to show
  bool valid = true;     // false: the stored value is damaged
  std::string text;
};
NullValueText describe_null_value(const IsamFileControl& fc, const KeyDescriptor& k);

}  // namespace ismgr

#endif  // ISMGR_ISAM_FILE_QUERY_H_
