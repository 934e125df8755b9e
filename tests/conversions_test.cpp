#include "ismgr/runtime/conversions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace ismgr {
namespace {

constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

// A negative decimal field has bit 0x40 set in its last digit.
std::string neg(std::string digits) {
  digits.back() = static_cast<char>(digits.back() | 0x40);
  return digits;
}
const uint8_t* bytes(const std::string& s) {
  return reinterpret_cast<const uint8_t*>(s.data());
}

TEST(TextToDecimal, Table) {
  const struct {
    const char* text;
    uint32_t length;
    int places;  // -1: a plain decimal field
    uint32_t flags;
    int rc;
    std::string field;  // empty: untouched
  } rows[] = {
      {"  -12.345", 6, 2, 0, kConvertOk, neg("001234")},
      {"  -12.345", 6, 2, kConvertRound, kConvertOk, neg("001235")},
      {"1.2349", 4, 3, kConvertRound, kConvertOk, "1235"},  // the first dropped digit decides
      {"1.2344", 4, 3, kConvertRound, kConvertOk, "1234"},
      {"1.995", 4, 2, kConvertRound, kConvertOk, "0200"},  // the carry crosses nines
      {"7.5", 5, 3, 0, kConvertOk, "07500"},
      {"1234", 3, -1, 0, kConvertOverflow, "234"},  // the truncated digits are kept
      {"-1234", 3, -1, 0, kConvertOverflow, neg("234")},
      {"99.99", 3, 1, kConvertRound, kConvertOverflow, "000"},
      {"000000012", 2, -1, 0, kConvertOk, "12"},
      {"-0.00", 4, 2, 0, kConvertOk, "0000"},  // zero is never negative
      {"-0.001", 3, 2, 0, kConvertOk, "000"},
      {"12   ", 4, -1, 0, kConvertOk, "0012"},
      {"12 3", 4, -1, 0, kConvertTrailing, ""},
      {"12x", 4, -1, 0, kConvertTrailing, ""},
      {"1.2.3", 4, 2, 0, kConvertSecondPoint, ""},
      {"0.5.1", 4, 2, 0, kConvertSecondPoint, ""},
      {"1e5", 4, -1, 0, kConvertNotNumber, ""},
      {"", 4, -1, 0, kConvertNotNumber, ""},
      {"   ", 4, -1, 0, kConvertNotNumber, ""},
      {"-", 4, -1, 0, kConvertNotNumber, ""},
      {".5", 4, 2, 0, kConvertNotNumber, ""},
      {"+5", 4, -1, 0, kConvertNotNumber, ""},
      {"1.5", 4, -1, kConvertWhole, kConvertNotNumber, ""},
      {"15", 4, -1, kConvertWhole, kConvertOk, "0015"},
  };
  for (const auto& r : rows) {
    std::string field(r.length, '#');
    FieldDescriptor d;
    d.length = r.length;
    d.type = r.places < 0 ? kFieldDecimal : (kFieldImplied | static_cast<uint32_t>(r.places));
    d.data = reinterpret_cast<uint8_t*>(field.data());
    EXPECT_EQ(text_to_decimal(r.text, std::strlen(r.text), r.flags, d), r.rc) << r.text;
    EXPECT_EQ(field, r.field.empty() ? std::string(r.length, '#') : r.field) << r.text;
  }
  uint8_t other[4] = {1, 2, 3, 4};  // other field kinds store nothing
  FieldDescriptor d{4, 0x100, other};
  EXPECT_EQ(text_to_decimal("12345", 5, 0, d), kConvertOverflow);
  EXPECT_EQ(text_to_decimal("12", 2, 0, d), kConvertOk);
  EXPECT_EQ(other[0] + other[3], 5);
  EXPECT_EQ(text_to_decimal(nullptr, 0, 0, d), kConvertNotNumber);
}

TEST(TextToInteger, Table) {
  const struct {
    const char* text;
    uint32_t size, flags;
    int rc;
    int64_t value;  // checked when rc is ok or an overflow
  } rows[] = {
      {"300", 1, 0, kConvertOverflow, 0x2C},
      {"127", 1, 0, kConvertOk, 127},
      {"-128", 1, 0, kConvertOverflow, -128},  // not in one byte by the layer's rule
      {"-32767", 2, 0, kConvertOk, -32767},
      {"32768", 2, 0, kConvertOverflow, -32768},
      {"2147483647", 4, 0, kConvertOk, 2147483647},
      {"-2147483648", 4, 0, kConvertOverflow, -2147483648LL},
      {"-9223372036854775808", 8, 0, kConvertOk, kMin},
      {"9223372036854775807", 8, 0, kConvertOk, kMax},
      {"9223372036854775808", 8, 0, kConvertOverflow, kMin},  // beyond 64 bits: reported
      {"5", 3, 0, kConvertOverflow, 5},
      {"12.9", 4, 0, kConvertOk, 12},
      {"12.5", 4, kConvertRound, kConvertOk, 13},
      {"-12.5", 4, kConvertRound, kConvertOk, -13},
      {"12.49", 4, kConvertRound, kConvertOk, 12},
      {"  -7  ", 2, 0, kConvertOk, -7},
      {"1.2.3", 4, 0, kConvertSecondPoint, 0},
      {"1.2", 4, kConvertWhole, kConvertNotNumber, 0},
      {"1e3", 4, 0, kConvertNotNumber, 0},
      {"12a", 4, 0, kConvertTrailing, 0},
      {"abc", 4, 0, kConvertNotNumber, 0},
  };
  for (const auto& r : rows) {
    uint8_t out[8] = {};
    FieldDescriptor d{r.size, 0, out};
    EXPECT_EQ(text_to_integer(r.text, std::strlen(r.text), r.flags, d), r.rc) << r.text;
    int64_t v = 0;
    std::memcpy(&v, out, std::min<uint32_t>(r.size, 8));
    if (r.size < 8 && (v >> (8 * r.size - 1)) & 1) v |= int64_t(~uint64_t{0} << (8 * r.size));
    if (r.rc == kConvertOk || (r.rc == kConvertOverflow && r.size != 3 && r.size != 8)) {
      EXPECT_EQ(r.size == 1 ? v & 0xFF : v, r.size == 1 ? r.value & 0xFF : r.value) << r.text;
    }
  }
  uint8_t out[8];
  FieldDescriptor d{8, 0, out};
  EXPECT_EQ(text_to_integer("99999999999999999999999", 23, 0, d), kConvertOverflow);
}

// integer_to_decimal then decimal_to_integer gives the value back when it
// fits; integer_size is the smallest of 1, 2, 4, 8 bytes that holds it.
TEST(DecimalFields, RoundTripAndSizes) {
  std::mt19937_64 rng(11);
  for (int i = 0; i < 3000; ++i) {
    const int64_t v = i == 0 ? kMin : i == 1 ? kMax : int64_t(rng()) >> (rng() % 64);
    std::string f(19, '#');
    integer_to_decimal(reinterpret_cast<uint8_t*>(f.data()), 19, v);
    ASSERT_EQ(decimal_to_integer(bytes(f), 19), v) << f;
    const int size = integer_size(v);
    int expected = 8;
    for (int width : {4, 2, 1}) {
      if (v >= -(int64_t{1} << (8 * width - 1)) && v < (int64_t{1} << (8 * width - 1))) {
        expected = width;
      }
    }
    ASSERT_EQ(size, expected) << v;
  }
  const struct {
    std::string field;
    int64_t length, value;
  } decode[] = {
      {"00123", 5, 123},
      {neg("00123"), 5, -123},
      {"1y", 2, -19},  // only the low four bits are digits
      {"123", 0, 0},
      {"123", -4, 0},
      {std::string(20, '0') + "42", 22, 42},  // leading zeros skipped
      {"009223372036854775808", 21, 0},
      {std::string(25, '9'), 25, 0},
      {neg("009223372036854775808"), 21, kMin},
  };
  for (const auto& d : decode) EXPECT_EQ(decimal_to_integer(bytes(d.field), d.length), d.value);
  const struct {
    int64_t length, value;
    std::string field;
  } encode[] = {{3, 12345, "345"},
                {3, -12345, "345"},  // no room: the sign goes too
                {3, -345, neg("345")},
                {1, 0, "0"},
                {0, 5, ""}};
  for (const auto& e : encode) {
    std::string f(4, '#');
    integer_to_decimal(reinterpret_cast<uint8_t*>(f.data()), e.length, e.value);
    EXPECT_EQ(f, e.field + std::string(4 - e.field.size(), '#')) << e.value;
  }
}

}  // namespace
}  // namespace ismgr
