#include "ismgr/runtime/conversions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <map>
#include <random>
#include <string>

#include "support/table_file.h"

namespace ismgr {
namespace {

// The names the case tables use for results and flags.
int code(const std::string& name) {
  static const std::map<std::string, int> codes = {{"ok", kConvertOk},
                                                   {"overflow", kConvertOverflow},
                                                   {"trailing", kConvertTrailing},
                                                   {"second point", kConvertSecondPoint},
                                                   {"not a number", kConvertNotNumber},
                                                   {"0", 0},
                                                   {"round", kConvertRound},
                                                   {"whole", kConvertWhole}};
  return codes.at(name);
}
// A field as the tables write it: a trailing "-" sets bit 0x40 of the last digit.
std::string field(std::string text) {
  if (!text.empty() && text.back() == '-') {
    text.pop_back();
    text.back() = static_cast<char>(text.back() | 0x40);
  }
  return text;
}

TEST(TextToDecimal, Table) {
  for (const auto& r : test::read_table("tables/text_to_decimal.txt", 6)) {
    const uint32_t length = std::stoul(r.f[1]);
    const int places = std::stoi(r.f[2]);
    std::string out(length, '#');
    FieldDescriptor d;
    d.length = length;
    d.type = places < 0 ? kFieldDecimal : (kFieldImplied | static_cast<uint32_t>(places));
    d.data = reinterpret_cast<uint8_t*>(out.data());
    EXPECT_EQ(text_to_decimal(r.f[0].c_str(), r.f[0].size(), code(r.f[3]), d), code(r.f[4]))
        << r.where;
    EXPECT_EQ(out, r.f[5] == "#" ? std::string(length, '#') : field(r.f[5])) << r.where;
  }
}

TEST(TextToInteger, Table) {
  for (const auto& r : test::read_table("tables/text_to_integer.txt", 5)) {
    const uint32_t size = std::stoul(r.f[1]);
    const int rc = code(r.f[3]);
    uint8_t out[8] = {};
    FieldDescriptor d{size, 0, out};
    EXPECT_EQ(text_to_integer(r.f[0].c_str(), r.f[0].size(), code(r.f[2]), d), rc) << r.where;
    int64_t v = 0;
    std::memcpy(&v, out, std::min<uint32_t>(size, 8));
    if (size < 8 && (v >> (8 * size - 1)) & 1) v |= int64_t(~uint64_t{0} << (8 * size));
    if (rc == kConvertOk || (rc == kConvertOverflow && size < 8 && size != 3)) {
      const int64_t want = std::stoll(r.f[4]);
      EXPECT_EQ(size == 1 ? v & 0xFF : v, size == 1 ? want & 0xFF : want) << r.where;
    }
  }
}

// integer_to_decimal then decimal_to_integer gives the value back when it
// fits; integer_size is the smallest of 1, 2, 4, 8 bytes that holds it.
TEST(DecimalFields, RoundTripAndSizes) {
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  std::mt19937_64 rng(11);
  for (int i = 0; i < 3000; ++i) {
    const int64_t v = i == 0 ? kMin : i == 1 ? ~kMin : int64_t(rng()) >> (rng() % 64);
    std::string f(19, '#');
    integer_to_decimal(reinterpret_cast<uint8_t*>(f.data()), 19, v);
    ASSERT_EQ(decimal_to_integer(reinterpret_cast<const uint8_t*>(f.data()), 19), v) << f;
    int expected = 8;
    for (int width : {4, 2, 1}) {
      if (v >= -(int64_t{1} << (8 * width - 1)) && v < (int64_t{1} << (8 * width - 1))) {
        expected = width;
      }
    }
    ASSERT_EQ(integer_size(v), expected) << v;
  }
  for (const auto& r : test::read_table("tables/decimal_to_integer.txt", 3)) {
    const std::string f = field(r.f[0]);
    EXPECT_EQ(decimal_to_integer(reinterpret_cast<const uint8_t*>(f.data()), std::stoll(r.f[1])),
              std::stoll(r.f[2]))
        << r.where;
  }
  const struct {
    int64_t length, value;
    std::string field;
  } encode[] = {
      {3, 12345, "345#"}, {3, -12345, "345#"}, {3, -345, field("345-") + "#"}, {0, 5, "####"}};
  for (const auto& e : encode) {  // no room: the sign goes too
    std::string f(4, '#');
    integer_to_decimal(reinterpret_cast<uint8_t*>(f.data()), e.length, e.value);
    EXPECT_EQ(f, e.field) << e.value;
  }
}

}  // namespace
}  // namespace ismgr
