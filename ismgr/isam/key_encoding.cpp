#include "ismgr/isam/key_encoding.h"

#include <cstring>

#include "ismgr/runtime/char_class.h"

namespace ismgr {

void encode_key_segment(uint8_t seg_type, const uint8_t* src, size_t available, uint8_t* dst,
                        size_t length) {
  if (dst == nullptr || length == 0) return;
  if (src == nullptr) available = 0;
  if (available > length) available = length;
  const uint8_t type = seg_type & 0x1F;
  const bool numeric = (type & (0x01 | 0x10)) == 0 && (type & (0x02 | 0x04 | 0x08)) != 0;

  if (!numeric) {
    if (available > 0) std::memcpy(dst, src, available);
    std::memset(dst + available, ' ', length - available);
    if (type & 0x10) {
      for (size_t i = 0; i < length; ++i) {
        if (char_class(dst[i]) & kCcLower) dst[i] = static_cast<uint8_t>(dst[i] & ~0x20);
      }
    }
  } else if (available < length) {
    std::memset(dst, 0, length);
  } else if (type & 0x02) {
    const bool negative = (src[length - 1] & 0x40) != 0;
    for (size_t i = 0; i < length; ++i) {
      const uint8_t digit = src[i] & 0x0F;
      dst[i] = negative ? static_cast<uint8_t>(0x0F - digit) : digit;
    }
    if (!negative) dst[0] = static_cast<uint8_t>(dst[0] + 0x40);
  } else {
    for (size_t i = 0; i < length; ++i) dst[i] = src[length - 1 - i];
    if (type & 0x04) dst[0] = static_cast<uint8_t>(dst[0] - 0x80);
  }

  if (!(seg_type & 0x20)) {
    for (size_t i = 0; i < length; ++i) dst[i] = static_cast<uint8_t>(~dst[i]);
  }
}

}  // namespace ismgr
