#include "ismgr/isam/key_builder.h"

#include <algorithm>
#include <cstring>

#include "ismgr/runtime/char_class.h"
#include "ismgr/runtime/status.h"

namespace ismgr {

namespace {

bool is_numeric(uint8_t type) {
  return (type & (kSegDecimal | kSegInteger | kSegUnsigned)) != 0;
}

// Numeric fields are encoded only when the record holds them whole; a field
// cut short by the end of the record is all zero.
void encode_decimal(const uint8_t* field, size_t length, uint8_t* out) {
  bool negative = (field[length - 1] & 0x40) != 0;
  for (size_t i = 0; i < length; ++i) {
    uint8_t digit = static_cast<uint8_t>(field[i] & 0x0F);
    out[i] = negative ? static_cast<uint8_t>(0x0F - digit) : digit;
  }
  if (!negative) out[0] |= 0x40;
}

void encode_binary(const uint8_t* field, size_t length, bool is_signed, uint8_t* out) {
  for (size_t i = 0; i < length; ++i) out[i] = field[length - 1 - i];
  if (is_signed) out[0] = static_cast<uint8_t>(out[0] - 0x80);
}

}  // namespace

void encode_key_segment(uint8_t seg_type, const uint8_t* field, size_t available, size_t length,
                        uint8_t* out) {
  if (out == nullptr || length == 0) return;
  if (field == nullptr) available = 0;
  available = std::min(available, length);
  uint8_t type = seg_type & kSegTypeMask;
  if ((type & (kSegAlpha | kSegNoCase)) || !is_numeric(type)) {
    if (available) std::memcpy(out, field, available);
    std::memset(out + available, ' ', length - available);
    if (type & kSegNoCase) {
      for (size_t i = 0; i < length; ++i) out[i] = to_upper(out[i]);
    }
  } else if (available < length) {
    std::memset(out, 0, length);
  } else if (type & kSegDecimal) {
    encode_decimal(field, length, out);
  } else {
    encode_binary(field, length, (type & kSegInteger) != 0, out);
  }
  if (!(seg_type & kSegAscending)) {
    for (size_t i = 0; i < length; ++i) out[i] = static_cast<uint8_t>(~out[i]);
  }
}

void decode_key_segment(uint8_t seg_type, const uint8_t* encoded, size_t length, uint8_t* field) {
  for (size_t i = 0; i < length; ++i) {
    field[i] = (seg_type & kSegAscending) ? encoded[i] : static_cast<uint8_t>(~encoded[i]);
  }
  uint8_t type = seg_type & kSegTypeMask;
  if (length == 0) return;
  if (type & kSegDecimal) {
    bool negative = (field[0] & 0x40) == 0;
    for (size_t i = 0; i < length; ++i) {
      uint8_t nibble = field[i] & 0x0F;
      field[i] = static_cast<uint8_t>('0' + (negative ? 0x0F - nibble : nibble) % 10);
    }
    if (negative) field[length - 1] |= 0x40;
  } else if (type & (kSegInteger | kSegUnsigned)) {
    if (type & kSegInteger) field[0] = static_cast<uint8_t>(field[0] + 0x80);
    std::reverse(field, field + length);
  }
}

size_t build_key(const IsamHeader& h, const KeyDescriptor& k, const uint8_t* record,
                 size_t record_length, const uint8_t* stored, size_t stored_length, uint8_t* out) {
  size_t at = 0;
  size_t taken = 0;
  const size_t key_size = k.key_size;
  for (int s = 0; s < segment_count(k); ++s) {
    size_t start = k.seg_start[s];
    size_t length = k.seg_length[s];
    if (at + length > key_size) length = key_size > at ? key_size - at : 0;
    size_t available = start < record_length ? std::min(record_length - start, length) : 0;
    encode_key_segment(k.seg_type[s], record + start, available, length, out + at);
    at += length;
    taken += available;
  }
  if (k.key_flags & kKeyDuplicates) {
    size_t q = static_cast<size_t>(qualifier_width(h));
    if (key_size >= q) {
      uint8_t* qualifier = out + key_size - q;
      if (stored != nullptr && k.qualifier_offset + q <= stored_length) {
        std::memcpy(qualifier, stored + k.qualifier_offset, q);
      } else {
        std::memset(qualifier, 0, q);
      }
      if (!(k.key_flags & kKeyNullShort)) return key_size - q;
    }
  }
  if (k.key_flags & kKeyNullShort) return taken;
  return key_size;
}

size_t build_partial_key(const KeyDescriptor& k, const uint8_t* supplied, size_t supplied_length,
                         uint8_t* out) {
  size_t at = 0;
  size_t used = 0;
  for (int s = 0; s < segment_count(k) && used < supplied_length; ++s) {
    size_t length = k.seg_length[s];
    size_t available = std::min(supplied_length - used, length);
    if (available < length && is_numeric(k.seg_type[s] & kSegTypeMask)) raise_status(67);
    encode_key_segment(k.seg_type[s], supplied + used, available, available, out + at);
    at += available;
    used += available;
  }
  return at;
}

}  // namespace ismgr
