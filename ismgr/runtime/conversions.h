// Conversions between text, stored decimal fields and integers.
//
// A stored decimal field is a fixed number of ASCII digits, most significant
// first, with an implied decimal point a fixed number of places from the
// right. A negative value has bit 0x40 set in its last byte ("0" to "9" read
// as "p" to "y"); zero is never negative. Only the low four bits of a byte
// give its digit when a field is read.
#ifndef ISMGR_RUNTIME_CONVERSIONS_H_
#define ISMGR_RUNTIME_CONVERSIONS_H_

#include <cstddef>
#include <cstdint>

namespace ismgr {

// Type flags of a field descriptor.
inline constexpr uint32_t kFieldDecimal = 0x400;  // decimal, no decimal places
inline constexpr uint32_t kFieldImplied = 0x800;  // implied decimal; low byte = places

// Conversion flags.
inline constexpr uint32_t kConvertWhole = 0x1;        // a decimal point is an error
inline constexpr uint32_t kConvertRound = 0x1000000;  // round half up instead of truncating

// Result codes.
inline constexpr int kConvertOk = 0;
inline constexpr int kConvertNotNumber = -20;     // no digit, point in a whole number, exponent
inline constexpr int kConvertSecondPoint = -144;  // a second decimal point
inline constexpr int kConvertTrailing = -151;     // a non-blank after the number
inline constexpr int kConvertOverflow = -15;      // the value does not fit (truncated value stored)

// The field a conversion writes. For the integer conversion `length` is the
// integer size (1, 2, 4 or 8) and the integer is stored little-endian, two's
// complement. Other type flags than decimal and implied decimal make the
// decimal conversion check the text and store nothing.
struct FieldDescriptor {
  uint32_t length = 0;
  uint32_t type = 0;
  uint8_t* data = nullptr;
};

// Text to a stored decimal field. Leading blanks and one "-" are allowed,
// trailing blanks too. Integer digits that do not fit are dropped from the
// left (-15); fraction digits beyond the places are truncated, or rounded half
// up with kConvertRound (a carry out of the leftmost digit is -15 and leaves
// the field zero). The field is written only when the text is a number.
int text_to_decimal(const char* text, size_t length, uint32_t flags, const FieldDescriptor& field);

// Text to a two's-complement integer of field.length bytes (1, 2, 4 or 8;
// any other size is -15 and nothing is stored). Fraction digits are ignored
// except that kConvertRound rounds on the first one. A magnitude that does not
// fit gives -15 with the truncated value stored: above 0x7FFFFFFF for 4 bytes,
// above 0x7FFF for 2, 128 or above for 1, and beyond the signed 64-bit range
// for 8.
int text_to_integer(const char* text, size_t length, uint32_t flags, const FieldDescriptor& field);

// A stored decimal field to an integer. A value beyond the 64-bit range gives
// 0 (the most negative value itself is returned unchanged).
int64_t decimal_to_integer(const uint8_t* field, int64_t length);

// An integer to a stored decimal field of `length` bytes. Digits that do not
// fit are lost on the left; a negative value that does not fit is written
// without its sign bit.
void integer_to_decimal(uint8_t* field, int64_t length, int64_t value);

// The smallest integer size (1, 2, 4 or 8) that holds `value`.
int integer_size(int64_t value);

}  // namespace ismgr

#endif  // ISMGR_RUNTIME_CONVERSIONS_H_
