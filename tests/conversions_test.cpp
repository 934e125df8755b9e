#include "ismgr/runtime/conversions.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

namespace ismgr {
namespace {

// Converts `text` into a decimal field of `length` bytes (places given for an
// implied-decimal field) and returns the code; the field bytes go to *out.
int to_decimal(const std::string& text, uint32_t length, int places, uint32_t flags,
               std::string* out) {
  std::string field(length, '#');
  FieldDescriptor d;
  d.length = length;
  d.type = places < 0 ? kFieldDecimal : (kFieldImplied | static_cast<uint32_t>(places));
  d.data = reinterpret_cast<uint8_t*>(field.data());
  const int rc = text_to_decimal(text.data(), text.size(), flags, d);
  *out = field;
  return rc;
}

std::string negative_of(std::string digits) {
  digits.back() = static_cast<char>(digits.back() | 0x40);
  return digits;
}

TEST(TextToDecimal, ImpliedPlacesTruncateOrRound) {
  std::string f;
  EXPECT_EQ(to_decimal("  -12.345", 6, 2, 0, &f), kConvertOk);
  EXPECT_EQ(f, negative_of("001234"));
  EXPECT_EQ(to_decimal("  -12.345", 6, 2, kConvertRound, &f), kConvertOk);
  EXPECT_EQ(f, negative_of("001235"));
  // Only the first dropped digit decides the rounding.
  EXPECT_EQ(to_decimal("1.2349", 4, 3, kConvertRound, &f), kConvertOk);
  EXPECT_EQ(f, "1235");
  EXPECT_EQ(to_decimal("1.2344", 4, 3, kConvertRound, &f), kConvertOk);
  EXPECT_EQ(f, "1234");
  // Rounding carries to the left across nines.
  EXPECT_EQ(to_decimal("1.995", 4, 2, kConvertRound, &f), kConvertOk);
  EXPECT_EQ(f, "0200");
  // A fraction shorter than the places is padded on the right.
  EXPECT_EQ(to_decimal("7.5", 5, 3, 0, &f), kConvertOk);
  EXPECT_EQ(f, "07500");
}

TEST(TextToDecimal, OverflowKeepsTruncatedDigits) {
  std::string f;
  EXPECT_EQ(to_decimal("1234", 3, -1, 0, &f), kConvertOverflow);
  EXPECT_EQ(f, "234");
  EXPECT_EQ(to_decimal("-1234", 3, -1, 0, &f), kConvertOverflow);
  EXPECT_EQ(f, negative_of("234"));
  // All nines rounded up: the carry leaves the field and is reported, the
  // field never receives more than its length.
  EXPECT_EQ(to_decimal("99.99", 3, 1, kConvertRound, &f), kConvertOverflow);
  EXPECT_EQ(f, "000");
  // Leading zeros are not digits that overflow.
  EXPECT_EQ(to_decimal("000000012", 2, -1, 0, &f), kConvertOk);
  EXPECT_EQ(f, "12");
}

TEST(TextToDecimal, ZeroIsNeverNegative) {
  std::string f;
  EXPECT_EQ(to_decimal("-0.00", 4, 2, 0, &f), kConvertOk);
  EXPECT_EQ(f, "0000");
  // Digits that are truncated away leave a positive zero too.
  EXPECT_EQ(to_decimal("-0.001", 3, 2, 0, &f), kConvertOk);
  EXPECT_EQ(f, "000");
}

TEST(TextToDecimal, SyntaxErrors) {
  std::string f;
  EXPECT_EQ(to_decimal("12 3", 4, -1, 0, &f), kConvertTrailing);
  EXPECT_EQ(f, "####") << "a failed conversion must not touch the field";
  EXPECT_EQ(to_decimal("12   ", 4, -1, 0, &f), kConvertOk);
  EXPECT_EQ(f, "0012");
  EXPECT_EQ(to_decimal("12x", 4, -1, 0, &f), kConvertTrailing);
  EXPECT_EQ(to_decimal("1.2.3", 4, 2, 0, &f), kConvertSecondPoint);
  EXPECT_EQ(to_decimal("0.5.1", 4, 2, 0, &f), kConvertSecondPoint);
  EXPECT_EQ(to_decimal("1e5", 4, -1, 0, &f), kConvertNotNumber);
  EXPECT_EQ(to_decimal("1E5", 4, -1, 0, &f), kConvertNotNumber);
  EXPECT_EQ(to_decimal("", 4, -1, 0, &f), kConvertNotNumber);
  EXPECT_EQ(to_decimal("   ", 4, -1, 0, &f), kConvertNotNumber);
  EXPECT_EQ(to_decimal("-", 4, -1, 0, &f), kConvertNotNumber);
  EXPECT_EQ(to_decimal(".5", 4, 2, 0, &f), kConvertNotNumber);
  EXPECT_EQ(to_decimal("+5", 4, -1, 0, &f), kConvertNotNumber);
  EXPECT_EQ(to_decimal("1.5", 4, -1, kConvertWhole, &f), kConvertNotNumber);
  EXPECT_EQ(to_decimal("15", 4, -1, kConvertWhole, &f), kConvertOk);
}

TEST(TextToDecimal, OtherFieldKindsStoreNothing) {
  uint8_t bytes[4] = {1, 2, 3, 4};
  FieldDescriptor d{4, 0x100, bytes};
  EXPECT_EQ(text_to_decimal("12345", 5, 0, d), kConvertOverflow);
  EXPECT_EQ(text_to_decimal("12", 2, 0, d), kConvertOk);
  EXPECT_EQ(bytes[0], 1);
  EXPECT_EQ(bytes[3], 4);
  EXPECT_EQ(text_to_decimal(nullptr, 0, 0, d), kConvertNotNumber);
}

int64_t to_integer(const std::string& text, uint32_t size, uint32_t flags, int* rc) {
  uint8_t bytes[8] = {};
  FieldDescriptor d{size, 0, bytes};
  *rc = text_to_integer(text.data(), text.size(), flags, d);
  uint64_t v = 0;
  for (uint32_t i = 0; i < size && i < 8; ++i) v |= uint64_t{bytes[i]} << (8 * i);
  if (size < 8 && size > 0 && (v >> (8 * size - 1)) & 1) v |= ~uint64_t{0} << (8 * size);
  return static_cast<int64_t>(v);
}

TEST(TextToInteger, SizesAndLimits) {
  int rc;
  EXPECT_EQ(to_integer("300", 1, 0, &rc) & 0xFF, 0x2C);
  EXPECT_EQ(rc, kConvertOverflow);
  EXPECT_EQ(to_integer("127", 1, 0, &rc), 127);
  EXPECT_EQ(rc, kConvertOk);
  EXPECT_EQ(to_integer("-128", 1, 0, &rc), -128);
  EXPECT_EQ(rc, kConvertOverflow) << "-128 does not fit one byte by the layer's rule";
  EXPECT_EQ(to_integer("-32767", 2, 0, &rc), -32767);
  EXPECT_EQ(rc, kConvertOk);
  EXPECT_EQ(to_integer("32768", 2, 0, &rc), -32768);
  EXPECT_EQ(rc, kConvertOverflow);
  EXPECT_EQ(to_integer("2147483647", 4, 0, &rc), 2147483647);
  EXPECT_EQ(rc, kConvertOk);
  EXPECT_EQ(to_integer("-2147483648", 4, 0, &rc), -2147483648LL);
  EXPECT_EQ(rc, kConvertOverflow);
  EXPECT_EQ(to_integer("-9223372036854775808", 8, 0, &rc), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(rc, kConvertOk);
  EXPECT_EQ(to_integer("9223372036854775807", 8, 0, &rc), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(rc, kConvertOk);
  // Beyond 64 bits is reported, not silently wrapped.
  to_integer("9223372036854775808", 8, 0, &rc);
  EXPECT_EQ(rc, kConvertOverflow);
  to_integer("99999999999999999999999", 8, 0, &rc);
  EXPECT_EQ(rc, kConvertOverflow);
  to_integer("5", 3, 0, &rc);
  EXPECT_EQ(rc, kConvertOverflow);
}

TEST(TextToInteger, FractionsAndErrors) {
  int rc;
  EXPECT_EQ(to_integer("12.9", 4, 0, &rc), 12);
  EXPECT_EQ(rc, kConvertOk);
  EXPECT_EQ(to_integer("12.5", 4, kConvertRound, &rc), 13);
  EXPECT_EQ(to_integer("-12.5", 4, kConvertRound, &rc), -13);
  EXPECT_EQ(to_integer("12.49", 4, kConvertRound, &rc), 12);
  EXPECT_EQ(to_integer("  -7  ", 2, 0, &rc), -7);
  EXPECT_EQ(rc, kConvertOk);
  to_integer("1.2.3", 4, 0, &rc);
  EXPECT_EQ(rc, kConvertSecondPoint);
  to_integer("1.2", 4, kConvertWhole, &rc);
  EXPECT_EQ(rc, kConvertNotNumber);
  to_integer("1e3", 4, 0, &rc);
  EXPECT_EQ(rc, kConvertNotNumber);
  to_integer("12a", 4, 0, &rc);
  EXPECT_EQ(rc, kConvertTrailing);
  to_integer("abc", 4, 0, &rc);
  EXPECT_EQ(rc, kConvertNotNumber);
}

TEST(DecimalToInteger, SignDigitsAndLimits) {
  EXPECT_EQ(decimal_to_integer(reinterpret_cast<const uint8_t*>("00123"), 5), 123);
  const std::string neg = negative_of("00123");
  EXPECT_EQ(decimal_to_integer(reinterpret_cast<const uint8_t*>(neg.data()), 5), -123);
  // Only the low four bits are digits: "p" is a negative 0, "y" a negative 9.
  EXPECT_EQ(decimal_to_integer(reinterpret_cast<const uint8_t*>("1y"), 2), -19);
  EXPECT_EQ(decimal_to_integer(reinterpret_cast<const uint8_t*>("123"), 0), 0);
  EXPECT_EQ(decimal_to_integer(reinterpret_cast<const uint8_t*>("123"), -4), 0);
  // Long fields: leading zeros skipped, at most 19 digits used.
  const std::string long_field = std::string(20, '0') + "42";
  EXPECT_EQ(decimal_to_integer(reinterpret_cast<const uint8_t*>(long_field.data()), 22), 42);
  const std::string zeros(30, '0');
  EXPECT_EQ(decimal_to_integer(reinterpret_cast<const uint8_t*>(zeros.data()), 30), 0);
  const std::string max = "009223372036854775807";
  EXPECT_EQ(decimal_to_integer(reinterpret_cast<const uint8_t*>(max.data()), 21),
            std::numeric_limits<int64_t>::max());
  const std::string too_big = "009223372036854775808";
  EXPECT_EQ(decimal_to_integer(reinterpret_cast<const uint8_t*>(too_big.data()), 21), 0);
  const std::string min = negative_of("009223372036854775808");
  EXPECT_EQ(decimal_to_integer(reinterpret_cast<const uint8_t*>(min.data()), 21),
            std::numeric_limits<int64_t>::min());
  const std::string nines(25, '9');
  EXPECT_EQ(decimal_to_integer(reinterpret_cast<const uint8_t*>(nines.data()), 25), 0);
}

TEST(IntegerToDecimal, RoundTripAndTruncation) {
  char f[8];
  integer_to_decimal(reinterpret_cast<uint8_t*>(f), 5, 42);
  EXPECT_EQ(std::string(f, 5), "00042");
  integer_to_decimal(reinterpret_cast<uint8_t*>(f), 5, -42);
  EXPECT_EQ(std::string(f, 5), negative_of("00042"));
  EXPECT_EQ(decimal_to_integer(reinterpret_cast<uint8_t*>(f), 5), -42);
  integer_to_decimal(reinterpret_cast<uint8_t*>(f), 3, 12345);
  EXPECT_EQ(std::string(f, 3), "345");
  // A negative value that does not fit loses its sign too.
  integer_to_decimal(reinterpret_cast<uint8_t*>(f), 3, -12345);
  EXPECT_EQ(std::string(f, 3), "345");
  integer_to_decimal(reinterpret_cast<uint8_t*>(f), 3, -345);
  EXPECT_EQ(std::string(f, 3), negative_of("345"));
  integer_to_decimal(reinterpret_cast<uint8_t*>(f), 1, 0);
  EXPECT_EQ(f[0], '0');
  std::memset(f, '#', sizeof f);
  integer_to_decimal(reinterpret_cast<uint8_t*>(f), 0, 5);
  EXPECT_EQ(f[0], '#');
  char big[20];
  integer_to_decimal(reinterpret_cast<uint8_t*>(big), 19, std::numeric_limits<int64_t>::min());
  EXPECT_EQ(std::string(big, 19), negative_of("9223372036854775808"));
  EXPECT_EQ(decimal_to_integer(reinterpret_cast<uint8_t*>(big), 19),
            std::numeric_limits<int64_t>::min());
}

TEST(IntegerSize, Boundaries) {
  EXPECT_EQ(integer_size(0), 1);
  EXPECT_EQ(integer_size(127), 1);
  EXPECT_EQ(integer_size(128), 2);
  EXPECT_EQ(integer_size(-128), 1);
  EXPECT_EQ(integer_size(-129), 2);
  EXPECT_EQ(integer_size(32767), 2);
  EXPECT_EQ(integer_size(32768), 4);
  EXPECT_EQ(integer_size(-32768), 2);
  EXPECT_EQ(integer_size(-32769), 4);
  EXPECT_EQ(integer_size(2147483647LL), 4);
  EXPECT_EQ(integer_size(2147483648LL), 8);
  EXPECT_EQ(integer_size(-2147483648LL), 4);
  EXPECT_EQ(integer_size(-2147483649LL), 8);
  EXPECT_EQ(integer_size(std::numeric_limits<int64_t>::min()), 8);
}

}  // namespace
}  // namespace ismgr
