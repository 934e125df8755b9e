// The index form of key segments: the bytes a key is compared by in the
// index, built from the record bytes of each segment so that an unsigned
// byte-wise comparison orders keys by value.
#ifndef ISMGR_ISAM_KEY_ENCODING_H_
#define ISMGR_ISAM_KEY_ENCODING_H_

#include <cstddef>
#include <cstdint>

namespace ismgr {

// Encodes one segment of `length` bytes into `dst`. `seg_type` is the
// segment's type byte (type in the low 5 bits, 0x20 ascending). `src` holds
// the segment's record bytes, of which `available` are present (fewer than
// `length` when the record ends inside the segment).
//
//   alpha       the bytes; missing bytes are blanks
//   nocase      as alpha, lower-case letters upper-cased
//   decimal     ASCII digits with the sign in bit 0x40 of the last byte: a
//               negative value gives every digit as 0x0F minus its nibble; a
//               non-negative one its nibbles, the first with 0x40 added
//   integer     the little-endian value stored big-endian, sign bit flipped
//   unsigned    the little-endian value stored big-endian
// Numeric segments that the record does not wholly hold are all zero. A
// descending segment is the bitwise complement of its encoding.
void encode_key_segment(uint8_t seg_type, const uint8_t* src, size_t available, uint8_t* dst,
                        size_t length);

}  // namespace ismgr

#endif  // ISMGR_ISAM_KEY_ENCODING_H_
