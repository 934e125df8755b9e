// Key encoding: turns the fields of a record into the key bytes stored in
// the index, so that a plain unsigned byte comparison orders keys as their
// segment types and orders demand.
//
// Per segment (seg_length bytes of the key each):
//   alpha            the record bytes; blanks beyond the end of the record
//   case-insensitive as alpha, lower-case letters upper-cased
//   decimal          digits as nibbles: a non-negative value gets 0x40 on its
//                    first byte; a negative one (bit 0x40 on its last byte)
//                    has every byte stored as 0x0F minus the digit; all zero
//                    beyond the record
//   integer          the little-endian value stored big-endian, 0x80
//                    subtracted from the first byte; all zero beyond the record
//   unsigned         the little-endian value stored big-endian
// A descending segment (seg_type without 0x20) is complemented.
#ifndef ISMGR_ISAM_KEY_BUILDER_H_
#define ISMGR_ISAM_KEY_BUILDER_H_

#include <cstddef>
#include <cstdint>

#include "ismgr/isam/isam_format.h"

namespace ismgr {

// Encodes one segment of `length` bytes from the `available` field bytes at
// `field` (fewer than `length` when the record ends inside the segment) into
// `out`. `seg_type` is the descriptor's type byte (type bits and 0x20).
void encode_key_segment(uint8_t seg_type, const uint8_t* field, size_t available, size_t length,
                        uint8_t* out);

// Reverses encode_key_segment for a segment that lay wholly in the record:
// gives back the field bytes (decimal digits as ASCII with the sign bit on
// the last byte, integers little-endian). Used to describe stored null values.
void decode_key_segment(uint8_t seg_type, const uint8_t* encoded, size_t length, uint8_t* field);

// Builds the key of a record into `out` (key_size bytes). `record` holds the
// record's fields, `record_length` bytes of them; `stored` (may be null) is
// the record as stored, header included, from which a key with duplicates
// takes its qualifier at qualifier_offset. Returns the key length: for a
// short null key the bytes of the segments within the record, for a key
// with duplicates key_size without the qualifier, else key_size.
size_t build_key(const IsamHeader& h, const KeyDescriptor& k, const uint8_t* record,
                 size_t record_length, const uint8_t* stored, size_t stored_length, uint8_t* out);

// Builds a partial search key from `supplied` bytes laid out as the key's
// segments one after another in field form: each segment takes as many bytes
// as remain, and the first segment that gets none ends the key. A numeric
// segment cut short fails with status 67 ("Partial numeric key not
// allowed"). Returns the encoded length.
size_t build_partial_key(const KeyDescriptor& k, const uint8_t* supplied, size_t supplied_length,
                         uint8_t* out);

}  // namespace ismgr

#endif  // ISMGR_ISAM_KEY_BUILDER_H_
