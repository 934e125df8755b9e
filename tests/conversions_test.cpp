#include "ismgr/runtime/conversions.h"

#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <random>
#include <string>
#include <tuple>

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
  // Without room for every digit the sign goes too.
  const std::tuple<int64_t, int64_t, std::string> encode[] = {
      {3, 12345, "345#"}, {3, -12345, "345#"}, {3, -345, field("345-") + "#"}, {0, 5, "####"}};
  for (const auto& [length, value, expected] : encode) {
    std::string f(4, '#');
    integer_to_decimal(reinterpret_cast<uint8_t*>(f.data()), length, value);
    EXPECT_EQ(f, expected) << value;
  }
}

}  // namespace
}  // namespace ismgr
