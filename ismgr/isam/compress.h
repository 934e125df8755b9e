// Record compression for data files with compressed data (file flag 0x04).
//
// A record's contents are stored as a sequence of codes. Each code begins with
// a code byte whose top three bits select the kind and whose low five bits n
// carry a count or a sub-kind; two-byte counts are little-endian. No
// terminator follows the last code: the decoder stops when it has rebuilt the
// record length it was given.
//
//   0x00-0x1F            invalid
//   0x20-0x3F  b         n + 3 copies of b (3 to 34)
//   0x41       c b       c + 35 copies of b (35 to 290)
//   0x40-0x5F  k16 b     k copies of b (1 to 65535), any low bits but 1
//   0x60-0x7F  bytes     n + 1 literal bytes (1 to 32)
//   0x80       record    the whole record unchanged; only as the sole code
//   0x81       c bytes   c + 33 literal bytes (33 to 288)
//   0x80-0x9F  k16 bytes k literal bytes (1 to 65535), low bits neither 0 nor 1
//   0xA0-0xBF            n + 1 blanks (0x20)
//   0xC0-0xDF            n + 1 digits zero (0x30)
//   0xE0-0xFF            n + 1 NUL bytes
//
// The encoder's choices are fixed (they decide the bytes on disk, and equal
// records must give equal bytes); see compress.cpp. A record that does not get
// shorter is stored raw behind 0x80, so the compressed form is never more than
// one byte longer than the record.
#ifndef ISMGR_ISAM_COMPRESS_H_
#define ISMGR_ISAM_COMPRESS_H_

#include <cstddef>
#include <cstdint>

namespace ismgr {

// Code bytes with a meaning of their own.
constexpr uint8_t kCodeRaw = 0x80;

// Compresses `length` record bytes into `out`, which must hold at least
// length + 1 bytes and must not overlap `record`. Returns the length of the
// stored form: at most `length` when compression paid off, otherwise
// length + 1 (0x80 followed by the record). A record of length 0 gives 0.
size_t compress(uint8_t* out, const uint8_t* record, size_t length);

// Rebuilds `length` bytes into `out` (which holds at least `length` bytes)
// from the `in_length` stored bytes at `in`. Returns the number of bytes
// produced (always `length` on success), or -1 when the stored bytes are
// malformed: a code byte below 0x20, 0x80 after another code, a zero count,
// a code that runs past the end of the stored bytes, or stored bytes that end
// before the record is complete.
//
// Without `truncate`, a code that would produce bytes beyond `length` is
// malformed. With it, such a code produces only the bytes that still fit and
// expansion ends there; the reading operations use this to hand a caller the
// front of a record that is longer than the caller's buffer. The raw form is
// copied in full up to `length` in either mode.
int64_t expand(uint8_t* out, const uint8_t* in, size_t in_length, size_t length, bool truncate);

// The expansion of the reading operations: fills the caller's buffer of
// `capacity` bytes with the front of a record of `record_length` bytes
// (the whole record when it fits). Returns the number of bytes produced.
// A malformed body raises status 27 ("Data compression/uncompression error").
size_t expand_for_read(uint8_t* out, size_t capacity, const uint8_t* in, size_t in_length,
                       size_t record_length);

// The expansion of the record engine's other uses: the whole record, no
// truncation. A malformed body raises status 27.
void expand_whole(uint8_t* out, const uint8_t* in, size_t in_length, size_t record_length);

}  // namespace ismgr

#endif  // ISMGR_ISAM_COMPRESS_H_
