#include "ismgr/runtime/conversions.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

namespace ismgr {

namespace {

// A number scanned from text: its sign and its integer and fraction digits
// (leading zeros of the integer part dropped).
struct ScannedNumber {
  bool negative = false;
  std::string integer_digits;
  std::string fraction_digits;
};

inline bool is_ascii_digit(char c) {
  return c >= '0' && c <= '9';
}

// Scans the text with the layer's rules; returns a result code.
int scan_number(const char* text, size_t length, uint32_t flags, ScannedNumber* out) {
  if (text == nullptr) return kConvertNotNumber;
  size_t i = 0;
  while (i < length && text[i] == ' ') ++i;
  if (i < length && text[i] == '-') {
    out->negative = true;
    ++i;
  }
  if (i >= length || !is_ascii_digit(text[i])) return kConvertNotNumber;
  while (i < length && text[i] == '0') ++i;

  bool seen_point = false;
  for (; i < length; ++i) {
    const char c = text[i];
    if (is_ascii_digit(c)) {
      (seen_point ? out->fraction_digits : out->integer_digits).push_back(c);
    } else if (c == '.') {
      if (flags & kConvertWhole) return kConvertNotNumber;
      if (seen_point) return kConvertSecondPoint;
      seen_point = true;
    } else if (c == 'E' || c == 'e') {
      return kConvertNotNumber;
    } else {
      break;
    }
  }
  // Whatever ended the number must be a blank, and only blanks may follow.
  for (; i < length; ++i) {
    if (text[i] != ' ') return kConvertTrailing;
  }
  return kConvertOk;
}

}  // namespace

int text_to_decimal(const char* text, size_t length, uint32_t flags, const FieldDescriptor& field) {
  ScannedNumber number;
  const int scanned = scan_number(text, length, flags, &number);
  if (scanned != kConvertOk) return scanned;

  const size_t field_length = field.length;
  size_t places = 0;
  if (field.type & kFieldImplied) places = field.type & 0xFF;
  if (places > field_length) places = field_length;
  const size_t integer_room = field_length - places;

  bool overflow = false;
  std::string digits;
  digits.reserve(field_length);
  // Integer part: drop leading digits that do not fit, pad on the left.
  const std::string& int_digits = number.integer_digits;
  if (int_digits.size() > integer_room) {
    overflow = true;
    digits.append(int_digits, int_digits.size() - integer_room, integer_room);
  } else {
    digits.append(integer_room - int_digits.size(), '0');
    digits.append(int_digits);
  }
  // Fraction: keep `places` digits, pad on the right.
  const std::string& frac = number.fraction_digits;
  digits.append(frac, 0, std::min(places, frac.size()));
  digits.append(field_length - digits.size(), '0');

  if ((flags & kConvertRound) && frac.size() > places && frac[places] >= '5') {
    size_t pos = digits.size();
    bool carry = true;
    while (carry && pos > 0) {
      --pos;
      if (digits[pos] == '9') {
        digits[pos] = '0';
      } else {
        ++digits[pos];
        carry = false;
      }
    }
    if (carry) overflow = true;  // all nines rounded up: the leading 1 is lost
  }

  bool negative = number.negative;
  if (digits.find_first_not_of('0') == std::string::npos) negative = false;

  if ((field.type & (kFieldDecimal | kFieldImplied)) && field.data != nullptr && field_length > 0) {
    std::memcpy(field.data, digits.data(), field_length);
    if (negative) field.data[field_length - 1] |= 0x40;
  }
  return overflow ? kConvertOverflow : kConvertOk;
}

int text_to_integer(const char* text, size_t length, uint32_t flags, const FieldDescriptor& field) {
  ScannedNumber number;
  const int scanned = scan_number(text, length, flags, &number);
  if (scanned != kConvertOk) return scanned;

  // Build the magnitude, noting when it leaves the 64-bit range.
  uint64_t magnitude = 0;
  bool huge = false;
  for (char c : number.integer_digits) {
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (magnitude > (std::numeric_limits<uint64_t>::max() - digit) / 10) huge = true;
    magnitude = magnitude * 10 + digit;
  }
  if ((flags & kConvertRound) && !number.fraction_digits.empty() &&
      number.fraction_digits[0] >= '5') {
    if (magnitude == std::numeric_limits<uint64_t>::max()) huge = true;
    ++magnitude;
  }

  uint64_t limit;
  switch (field.length) {
    case 1:
      limit = 127;
      break;
    case 2:
      limit = 0x7FFF;
      break;
    case 4:
      limit = 0x7FFFFFFF;
      break;
    case 8:
      limit = number.negative ? (uint64_t{1} << 63) : uint64_t{0x7FFFFFFFFFFFFFFF};
      break;
    default:
      return kConvertOverflow;
  }
  const uint64_t value = number.negative ? (~magnitude + 1) : magnitude;
  if (field.data != nullptr) {
    for (uint32_t b = 0; b < field.length; ++b) {
      field.data[b] = static_cast<uint8_t>(value >> (8 * b));
    }
  }
  return (huge || magnitude > limit) ? kConvertOverflow : kConvertOk;
}

int64_t decimal_to_integer(const uint8_t* field, int64_t length) {
  if (field == nullptr || length <= 0) return 0;
  int64_t first = 0;
  int64_t count = length;
  if (length > 18) {
    while (first < length && (field[first] & 0x0F) == 0) ++first;
    if (first == length) return 0;
    count = std::min<int64_t>(length - first, 19);
  }
  // At most 19 digits of at most 15 each: the sum stays below 2^64.
  uint64_t magnitude = 0;
  for (int64_t i = 0; i < count; ++i) magnitude = magnitude * 10 + (field[first + i] & 0x0F);
  const bool negative = (field[first + count - 1] & 0x40) != 0;
  if (negative) {
    if (magnitude > (uint64_t{1} << 63)) return 0;
    return static_cast<int64_t>(~magnitude + 1);
  }
  if (magnitude > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return 0;
  return static_cast<int64_t>(magnitude);
}

void integer_to_decimal(uint8_t* field, int64_t length, int64_t value) {
  if (field == nullptr || length <= 0) return;
  const bool negative = value < 0;
  uint64_t magnitude = negative ? ~static_cast<uint64_t>(value) + 1 : static_cast<uint64_t>(value);
  for (int64_t pos = length - 1; pos >= 0; --pos) {
    field[pos] = static_cast<uint8_t>('0' + magnitude % 10);
    magnitude /= 10;
  }
  // A negative value whose digits did not all fit is written without its sign.
  if (negative && magnitude == 0) field[length - 1] |= 0x40;
}

int integer_size(int64_t value) {
  if (value < 0) {
    if (value >= -128) return 1;
    if (value >= -32768) return 2;
    if (value >= -2147483648LL) return 4;
    return 8;
  }
  if (value <= 127) return 1;
  if (value <= 32767) return 2;
  if (value <= 2147483647LL) return 4;
  return 8;
}

}  // namespace ismgr
