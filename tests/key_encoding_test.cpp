#include "ismgr/isam/key_encoding.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ismgr {
namespace {

std::vector<uint8_t> encode(uint8_t type, std::vector<uint8_t> record, size_t length) {
  std::vector<uint8_t> out(length, 0xEE);
  encode_key_segment(type, record.data(), record.size(), out.data(), length);
  return out;
}

std::vector<uint8_t> bytes(const std::string& s) {
  return std::vector<uint8_t>(s.begin(), s.end());
}

TEST(KeyEncoding, Decimal) {
  EXPECT_EQ(encode(0x22, bytes("12"), 2), (std::vector<uint8_t>{0x41, 0x02}));
  std::vector<uint8_t> minus12 = bytes("12");
  minus12[1] |= 0x40;
  EXPECT_EQ(encode(0x22, minus12, 2), (std::vector<uint8_t>{0x0E, 0x0D}));
  // Every negative value sorts below every non-negative one, and larger
  // magnitudes below smaller ones.
  std::vector<uint8_t> minus99 = bytes("99");
  minus99[1] |= 0x40;
  EXPECT_LT(encode(0x22, minus99, 2), encode(0x22, minus12, 2));
  EXPECT_LT(encode(0x22, minus12, 2), encode(0x22, bytes("00"), 2));
  EXPECT_LT(encode(0x22, bytes("09"), 2), encode(0x22, bytes("10"), 2));
}

TEST(KeyEncoding, IntegersAndUnsigned) {
  EXPECT_EQ(encode(0x24, {0xFF, 0xFF}, 2), (std::vector<uint8_t>{0x7F, 0xFF}));
  EXPECT_EQ(encode(0x24, {0x00, 0x00}, 2), (std::vector<uint8_t>{0x80, 0x00}));
  EXPECT_EQ(encode(0x24, {0x01, 0x02, 0x03, 0x04}, 4),
            (std::vector<uint8_t>{0x84, 0x03, 0x02, 0x01}));
  EXPECT_EQ(encode(0x28, {0x00, 0x01}, 2), (std::vector<uint8_t>{0x01, 0x00}));
  EXPECT_LT(encode(0x24, {0xFF, 0xFF}, 2), encode(0x24, {0x00, 0x00}, 2));
}

TEST(KeyEncoding, AlphaNocaseAndShortRecords) {
  EXPECT_EQ(encode(0x21, bytes("AB"), 2), bytes("AB"));
  EXPECT_EQ(encode(0x01, bytes("AB"), 2), (std::vector<uint8_t>{0xBE, 0xBD}));
  EXPECT_EQ(encode(0x30, bytes("aB1z"), 4), bytes("AB1Z"));
  // A record that ends inside the segment: blanks for alpha, zeros for numbers.
  EXPECT_EQ(encode(0x21, bytes("A"), 3), bytes("A  "));
  EXPECT_EQ(encode(0x24, {0x01}, 2), (std::vector<uint8_t>{0, 0}));
  EXPECT_EQ(encode(0x04, {}, 2), (std::vector<uint8_t>{0xFF, 0xFF}));
  std::vector<uint8_t> out(2, 0xEE);
  encode_key_segment(0x21, nullptr, 5, out.data(), 2);
  EXPECT_EQ(out, bytes("  "));
}

TEST(KeyEncoding, DescendingReversesOrder) {
  EXPECT_GT(encode(0x04, {0xFF, 0xFF}, 2), encode(0x04, {0x00, 0x00}, 2));
  EXPECT_GT(encode(0x02, bytes("09"), 2), encode(0x02, bytes("10"), 2));
}

}  // namespace
}  // namespace ismgr
