// The decoding of stored null values shared by the descriptions and the file
// information query: the edges the callers' own tests do not reach.
#include "ismgr/isam/null_value.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ismgr {
namespace {

struct Shown {
  NullValueKind kind;
  std::string text;
};

// One key with segments of the given (type, length) pairs.
Shown show(const std::vector<std::pair<uint8_t, uint16_t>>& segments,
           const std::vector<uint8_t>& value) {
  std::array<uint8_t, kMaxSegments> type{};
  std::array<uint16_t, kMaxSegments> length{};
  for (size_t i = 0; i < segments.size(); ++i) {
    type[i] = segments[i].first;
    length[i] = segments[i].second;
  }
  Shown s{NullValueKind::kNone, "untouched"};
  s.kind = show_non_replicating_null(type, length, value.data(), value.size(), &s.text);
  return s;
}

TEST(NullValueDecodeTest, DecimalReadsTheLeadingDigitsOnly) {
  // A nibble above 9 is not a digit: the number ends before it.
  Shown s = show({{0x22, 3}}, {0x41, 0x3A, 0x35});
  EXPECT_EQ(s.kind, NullValueKind::kNumber);
  EXPECT_EQ(s.text, "1");
  EXPECT_EQ(show({{0x22, 2}}, {0x4B, 0x35}).text, "0");  // no digit at all
  EXPECT_EQ(show({{0x22, 2}}, {0x05, 0x0F}).text, "-0");
  EXPECT_EQ(show({{0x22, 2}}, {0x40, 0x30}).text, "0");  // all zeros keep one
  Shown empty = show({{0x22, 2}}, {});
  EXPECT_EQ(empty.kind, NullValueKind::kNumber);
  EXPECT_EQ(empty.text, "0");
  // A digit string longer than any integer is shown whole.
  std::vector<uint8_t> long_value(30, 0x39);
  long_value[0] = 0x49;
  EXPECT_EQ(show({{0x22, 30}}, long_value).text, std::string(30, '9'));
}

TEST(NullValueDecodeTest, OnlyDescendingSegmentsAreComplemented) {
  // Ascending alpha, then a descending 2-byte unsigned: the first segment's
  // type decides the form, the second segment's bytes are complemented.
  EXPECT_EQ(show({{0x21, 1}, {0x08, 2}}, {'A', 0xBE, 0xBD}).text, "AAB");
  // Bytes beyond the last segment stay as stored.
  EXPECT_EQ(show({{0x01, 1}}, {0xBE, 'C'}).text, "AC");
  // A segment longer than the value is cut at the value's end.
  EXPECT_EQ(show({{0x08, 8}}, {0xFE, 0xFF}).text, "256");
}

TEST(NullValueDecodeTest, BinaryNumbersOfOtherLengthsAreTold) {
  for (size_t n : {0, 3, 5, 7, 9}) {
    for (uint8_t type : {0x24, 0x28}) {
      Shown s = show({{type, 9}}, std::vector<uint8_t>(n, 0x80));
      EXPECT_EQ(s.kind, NullValueKind::kBadLength) << n << " " << int(type);
      EXPECT_EQ(s.text, "untouched");
    }
  }
  // Sign bit flipped for integers only; 2-byte integers shown unsigned.
  EXPECT_EQ(show({{0x24, 2}}, {0x00, 0x01}).text, "32769");
  EXPECT_EQ(show({{0x28, 2}}, {0x00, 0x01}).text, "1");
  EXPECT_EQ(show({{0x24, 4}}, {0x00, 0x00, 0x00, 0x00}).text, "-2147483648");
  EXPECT_EQ(show({{0x24, 8}}, {0, 0, 0, 0, 0, 0, 0, 0}).text, "-9223372036854775808");
}

TEST(NullValueDecodeTest, EmptyTextAndTheReplicatingByte) {
  Shown empty = show({{0x30, 4}}, {});
  EXPECT_EQ(empty.kind, NullValueKind::kText);
  EXPECT_EQ(empty.text, "");
  const uint8_t value[] = {'*', 'x'};
  EXPECT_EQ(replicating_null_byte(value, 2), '*');
  EXPECT_EQ(replicating_null_byte(nullptr, 0), 0);
}

}  // namespace
}  // namespace ismgr
