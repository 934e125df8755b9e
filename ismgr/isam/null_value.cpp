#include "ismgr/isam/null_value.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <vector>

namespace ismgr {

namespace {

// Complements, in place, the bytes of every segment not marked ascending.
void undo_descending(const std::array<uint8_t, kMaxSegments>& seg_type,
                     const std::array<uint16_t, kMaxSegments>& seg_length,
                     std::vector<uint8_t>* value) {
  const int segments = segment_count(seg_length);
  size_t at = 0;
  for (int s = 0; s < segments && at < value->size(); ++s) {
    const size_t end = std::min(value->size(), at + seg_length[s]);
    if (!(seg_type[s] & kSegAscending)) {
      for (size_t i = at; i < end; ++i) (*value)[i] = static_cast<uint8_t>(~(*value)[i]);
    }
    at = end;
  }
}

// Positive: the first byte's low 4 bits, then the other bytes with bits 0x30
// set; negative: the complement of each byte's low 4 bits.
std::string decimal_text(const std::vector<uint8_t>& v) {
  if (v.empty()) return "0";
  const bool positive = (v[0] & 0x40) != 0;
  std::string chars;
  for (size_t i = 0; i < v.size(); ++i) {
    if (positive) {
      chars.push_back(static_cast<char>(i == 0 ? (0x30 | (v[0] & 0x0F)) : (v[i] | 0x30)));
    } else {
      chars.push_back(static_cast<char>(0x30 | (~v[i] & 0x0F)));
    }
  }
  // The leading run of digits, without leading zeros, so that a long value
  // cannot overflow.
  size_t end = 0;
  while (end < chars.size() && chars[end] >= '0' && chars[end] <= '9') ++end;
  size_t start = 0;
  while (start + 1 < end && chars[start] == '0') ++start;
  std::string digits = end == 0 ? "0" : chars.substr(start, end - start);
  return positive ? digits : "-" + digits;
}

bool binary_text(const std::vector<uint8_t>& v, bool is_signed, std::string* out) {
  const size_t n = v.size();
  if (n != 1 && n != 2 && n != 4 && n != 8) return false;
  uint64_t value = 0;
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = (i == 0 && is_signed) ? static_cast<uint8_t>(v[0] ^ 0x80) : v[i];
    value = (value << 8) | b;
  }
  char text[32];
  if (n == 8) {
    if (is_signed) {
      std::snprintf(text, sizeof text, "%" PRId64, static_cast<int64_t>(value));
    } else {
      std::snprintf(text, sizeof text, "%" PRIu64, value);
    }
  } else if (n == 4 && is_signed) {
    std::snprintf(text, sizeof text, "%d", static_cast<int32_t>(static_cast<uint32_t>(value)));
  } else {
    std::snprintf(text, sizeof text, "%u", static_cast<uint32_t>(value));
  }
  *out = text;
  return true;
}

}  // namespace

uint8_t replicating_null_byte(const uint8_t* value, size_t length) {
  return length > 0 ? value[0] : 0;
}

NullValueKind show_non_replicating_null(const std::array<uint8_t, kMaxSegments>& seg_type,
                                        const std::array<uint16_t, kMaxSegments>& seg_length,
                                        const uint8_t* value, size_t length, std::string* text) {
  std::vector<uint8_t> v(value, value + length);
  undo_descending(seg_type, seg_length, &v);
  switch (seg_type[0] & kSegTypeMask) {
    case kSegAlpha:
    case kSegNoCase: {
      size_t n = 0;
      while (n < v.size() && v[n] != 0) ++n;
      text->assign(reinterpret_cast<const char*>(v.data()), n);
      return NullValueKind::kText;
    }
    case kSegDecimal:
      *text = decimal_text(v);
      return NullValueKind::kNumber;
    case kSegInteger:
    case kSegUnsigned: {
      std::string shown;
      if (!binary_text(v, (seg_type[0] & kSegTypeMask) == kSegInteger, &shown)) {
        return NullValueKind::kBadLength;
      }
      *text = shown;
      return NullValueKind::kNumber;
    }
    default:
      return NullValueKind::kNone;
  }
}

}  // namespace ismgr
