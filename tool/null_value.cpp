#include "tool/null_value.h"

#include <cinttypes>
#include <cstdio>

namespace ismgr::tool {

std::vector<uint8_t> null_value_bytes(const FileView& f, const KeyView& k, bool* inside) {
  std::vector<uint8_t> value;
  size_t offset = k.null_offset;
  const auto& area = f.null_area;
  bool ok = offset < area.size();
  if (ok) {
    size_t count = area[offset];
    size_t length = count > 0 ? count - 1 : 0;
    ok = length <= area.size() - offset - 1;
    if (ok) value.assign(area.begin() + offset + 1, area.begin() + offset + 1 + length);
  }
  if (inside) *inside = ok;
  return value;
}

int segment_count(const KeyView& k) {
  int n = 0;
  while (n < 8 && k.seg_length[n] != 0) ++n;
  return n;
}

bool has_text_segment(const KeyView& k) {
  int n = segment_count(k);
  for (int j = 0; j < n; ++j) {
    if (k.seg_type[j] & 0x11) return true;
  }
  return false;
}

void undo_descending(const KeyView& k, std::vector<uint8_t>* value) {
  size_t offset = 0;
  int n = segment_count(k);
  for (int j = 0; j < n && offset < value->size(); ++j) {
    size_t end = offset + k.seg_length[j];
    if ((k.seg_type[j] & 0x20) == 0) {
      for (size_t i = offset; i < end && i < value->size(); ++i) {
        (*value)[i] = static_cast<uint8_t>(~(*value)[i]);
      }
    }
    offset = end;
  }
}

namespace {

// The decimal value of a digit string, as the C library's conversion reads
// it (the leading run of digits), written without leading zeros.
std::string digit_value(const std::string& digits) {
  size_t end = 0;
  while (end < digits.size() && digits[end] >= '0' && digits[end] <= '9') ++end;
  size_t start = 0;
  while (start + 1 < end && digits[start] == '0') ++start;
  if (end == 0) return "0";
  return digits.substr(start, end - start);
}

uint64_t big_endian(const std::vector<uint8_t>& v) {
  uint64_t x = 0;
  for (uint8_t b : v) x = (x << 8) | b;
  return x;
}

}  // namespace

NullShow show_non_replicating(const KeyView& k, const std::vector<uint8_t>& value,
                              std::string* text) {
  int type = k.seg_type[0] & 0x1F;
  char number[32];
  switch (type) {
    case 1:
    case 16: {
      // The value is shown as text: it ends at its first NUL byte.
      size_t n = 0;
      while (n < value.size() && value[n] != 0) ++n;
      text->assign(reinterpret_cast<const char*>(value.data()), n);
      return NullShow::kText;
    }
    case 2: {
      if (value.empty()) {
        *text = "0";
        return NullShow::kNumber;
      }
      std::string digits;
      if (value[0] & 0x40) {
        digits.push_back(static_cast<char>(0x30 | (value[0] & 0x0F)));
        for (size_t i = 1; i < value.size(); ++i)
          digits.push_back(static_cast<char>(value[i] | 0x30));
        *text = digit_value(digits);
      } else {
        for (uint8_t b : value) digits.push_back(static_cast<char>(0x30 | (~b & 0x0F)));
        *text = "-" + digit_value(digits);
      }
      return NullShow::kNumber;
    }
    case 4:
    case 8: {
      std::vector<uint8_t> v = value;
      bool integer = type == 4;
      if (integer && !v.empty()) v[0] ^= 0x80;
      uint64_t x = big_endian(v);
      switch (v.size()) {
        case 1:
        case 2:
          std::snprintf(number, sizeof number, "%u", static_cast<unsigned>(x));
          break;
        case 4:
          if (integer) {
            std::snprintf(number, sizeof number, "%d",
                          static_cast<int32_t>(static_cast<uint32_t>(x)));
          } else {
            std::snprintf(number, sizeof number, "%u", static_cast<uint32_t>(x));
          }
          break;
        case 8:
          if (integer) {
            std::snprintf(number, sizeof number, "%" PRId64, static_cast<int64_t>(x));
          } else {
            std::snprintf(number, sizeof number, "%" PRIu64, x);
          }
          break;
        default:
          return NullShow::kNone;
      }
      *text = number;
      return NullShow::kNumber;
    }
    default:
      return NullShow::kNone;
  }
}

}  // namespace ismgr::tool
