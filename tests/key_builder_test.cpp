#include "ismgr/isam/key_builder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ismgr/runtime/status.h"

namespace ismgr {
namespace {

std::vector<uint8_t> encode(uint8_t type, const std::string& field, size_t length) {
  std::vector<uint8_t> out(length);
  encode_key_segment(type, reinterpret_cast<const uint8_t*>(field.data()), field.size(), length,
                     out.data());
  return out;
}

std::vector<uint8_t> bytes(std::initializer_list<int> list) {
  std::vector<uint8_t> v;
  for (int b : list) v.push_back(static_cast<uint8_t>(b));
  return v;
}

constexpr uint8_t kAsc = kSegAscending;

TEST(KeySegment, DecimalDigitsAndSign) {
  EXPECT_EQ(encode(kSegDecimal | kAsc, "12", 2), bytes({0x41, 0x02}));
  // -12 is stored with the sign bit on the last digit.
  EXPECT_EQ(encode(kSegDecimal | kAsc, std::string("1") + char('2' | 0x40), 2),
            bytes({0x0E, 0x0D}));
  EXPECT_EQ(encode(kSegDecimal | kAsc, "", 3), bytes({0, 0, 0}));
}

TEST(KeySegment, IntegersBigEndianWithSignFlip) {
  EXPECT_EQ(encode(kSegInteger | kAsc, std::string("\xFF\xFF", 2), 2), bytes({0x7F, 0xFF}));
  EXPECT_EQ(encode(kSegInteger | kAsc, std::string("\0\0", 2), 2), bytes({0x80, 0x00}));
  EXPECT_EQ(encode(kSegInteger | kAsc, std::string("\x01\x02\x03\x04", 4), 4),
            bytes({0x84, 0x03, 0x02, 0x01}));
  EXPECT_EQ(encode(kSegUnsigned | kAsc, std::string("\x01\x02\x03\x04", 4), 4),
            bytes({0x04, 0x03, 0x02, 0x01}));
  // A field the record does not wholly hold is all zero.
  EXPECT_EQ(encode(kSegInteger | kAsc, std::string("\x01", 1), 2), bytes({0, 0}));
}

TEST(KeySegment, AlphaCaseAndOrder) {
  EXPECT_EQ(encode(kSegAlpha, "AB", 2), bytes({0xBE, 0xBD}));  // descending
  EXPECT_EQ(encode(kSegAlpha | kAsc, "ab", 4), bytes({'a', 'b', ' ', ' '}));
  EXPECT_EQ(encode(kSegNoCase | kAsc, "aB1z", 4), bytes({'A', 'B', '1', 'Z'}));
}

// Encoded keys must order as the values they encode, whatever the type and
// direction: compare every pair of a sample.
TEST(KeySegment, ByteOrderFollowsValueOrder) {
  std::mt19937 rng(7);
  std::vector<int64_t> values = {0, 1, -1, 127, -128, 255, -256, 32767, -32768};
  for (int i = 0; i < 60; ++i) values.push_back(static_cast<int16_t>(rng()));
  for (uint8_t order : {kAsc, uint8_t{0}}) {
    for (int64_t a : values) {
      for (int64_t b : values) {
        int16_t x = static_cast<int16_t>(a), y = static_cast<int16_t>(b);
        std::string fx(reinterpret_cast<const char*>(&x), 2),
            fy(reinterpret_cast<const char*>(&y), 2);
        auto ex = encode(kSegInteger | order, fx, 2), ey = encode(kSegInteger | order, fy, 2);
        int c = std::memcmp(ex.data(), ey.data(), 2);
        int want = (x < y) ? -1 : (x > y ? 1 : 0);
        if (!order) want = -want;
        ASSERT_EQ((c > 0) - (c < 0), want) << x << " " << y;
        // Decimal fields of the same values, five digits with the sign bit.
        char tx[8], ty[8];
        std::snprintf(tx, sizeof tx, "%05d", x < 0 ? -x : x);
        std::snprintf(ty, sizeof ty, "%05d", y < 0 ? -y : y);
        if (x < 0) tx[4] |= 0x40;
        if (y < 0) ty[4] |= 0x40;
        auto dx = encode(kSegDecimal | order, tx, 5), dy = encode(kSegDecimal | order, ty, 5);
        c = std::memcmp(dx.data(), dy.data(), 5);
        if (x == 0 && y == 0) continue;
        ASSERT_EQ((c > 0) - (c < 0), want) << x << " " << y;
      }
    }
  }
}

TEST(KeySegment, DecodeUndoesEncode) {
  struct Case {
    uint8_t type;
    std::string field;
  } cases[] = {{kSegDecimal | kAsc, "00125"},
               {kSegDecimal, "00125"},
               {kSegDecimal, std::string("0012") + char('5' | 0x40)},
               {kSegInteger | kAsc, std::string("\x7D\x00", 2)},
               {kSegInteger, std::string("\x83\xFF", 2)},
               {kSegUnsigned, std::string("\x01\x02\x03", 3)},
               {kSegAlpha, "Hello"}};
  for (const Case& c : cases) {
    auto e = encode(c.type, c.field, c.field.size());
    std::string back(c.field.size(), '\0');
    decode_key_segment(c.type, e.data(), e.size(), reinterpret_cast<uint8_t*>(back.data()));
    EXPECT_EQ(back, c.field) << int(c.type);
  }
}

KeyDescriptor key(std::initializer_list<std::tuple<uint8_t, uint16_t, uint16_t>> segs) {
  KeyDescriptor k;
  int i = 0;
  for (auto [type, start, length] : segs) {
    k.seg_type[i] = type;
    k.seg_start[i] = start;
    k.seg_length[i] = length;
    k.key_size = static_cast<uint16_t>(k.key_size + length);
    ++i;
  }
  return k;
}

TEST(BuildKey, SegmentsInDescriptorOrder) {
  IsamHeader h;
  KeyDescriptor k = key({{kSegAlpha | kAsc, 4, 3}, {kSegUnsigned | kAsc, 0, 2}});
  const uint8_t record[] = {0x34, 0x12, 'x', 'x', 'A', 'B', 'C', 'y'};
  uint8_t out[5];
  EXPECT_EQ(build_key(h, k, record, sizeof record, nullptr, 0, out), 5u);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 5), bytes({'A', 'B', 'C', 0x12, 0x34}));
}

TEST(BuildKey, ShortRecordsAndShortNullKeys) {
  IsamHeader h;
  KeyDescriptor k = key({{kSegAlpha | kAsc, 2, 4}, {kSegDecimal | kAsc, 6, 2}});
  const uint8_t record[] = {'-', '-', 'A', 'B'};
  uint8_t out[6];
  EXPECT_EQ(build_key(h, k, record, sizeof record, nullptr, 0, out), 6u);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 6), bytes({'A', 'B', ' ', ' ', 0, 0}));
  k.key_flags = kKeyNullShort;
  EXPECT_EQ(build_key(h, k, record, sizeof record, nullptr, 0, out), 2u);
}

TEST(BuildKey, DuplicateQualifierComesUnencodedFromTheStoredRecord) {
  IsamHeader h;
  KeyDescriptor k = key({{kSegAlpha, 0, 2}});
  k.key_flags = kKeyDuplicates;
  k.key_size = 5;
  k.qualifier_offset = 1;
  const uint8_t record[] = {'A', 'B'};
  const uint8_t stored[] = {0x80, 0x11, 0x22, 0x33, 'A', 'B'};
  uint8_t out[5];
  EXPECT_EQ(build_key(h, k, record, 2, stored, sizeof stored, out), 2u);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 5), bytes({0xBE, 0xBD, 0x11, 0x22, 0x33}));
  // tbyte files carry a 4-byte qualifier.
  h.file_flags = kFileTbyte;
  k.key_size = 6;
  uint8_t wide[6];
  EXPECT_EQ(build_key(h, k, record, 2, stored, sizeof stored, wide), 2u);
  EXPECT_EQ(std::vector<uint8_t>(wide + 2, wide + 6), bytes({0x11, 0x22, 0x33, 'A'}));
  // A qualifier outside the stored record is not read.
  k.qualifier_offset = 4;
  EXPECT_EQ(build_key(h, k, record, 2, stored, sizeof stored, wide), 2u);
  EXPECT_EQ(std::vector<uint8_t>(wide + 2, wide + 6), bytes({0, 0, 0, 0}));
}

TEST(BuildKey, PartialKeys) {
  KeyDescriptor k = key({{kSegAlpha | kAsc, 0, 3}, {kSegNoCase | kAsc, 3, 3}});
  uint8_t out[6];
  EXPECT_EQ(build_partial_key(k, reinterpret_cast<const uint8_t*>("ABCde"), 5, out), 5u);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 5), bytes({'A', 'B', 'C', 'D', 'E'}));
  EXPECT_EQ(build_partial_key(k, reinterpret_cast<const uint8_t*>("AB"), 2, out), 2u);
  EXPECT_EQ(build_partial_key(k, nullptr, 0, out), 0u);
  KeyDescriptor numeric = key({{kSegInteger | kAsc, 0, 4}});
  try {
    build_partial_key(numeric, reinterpret_cast<const uint8_t*>("\x01\x02"), 2, out);
    FAIL();
  } catch (const StatusError& e) {
    EXPECT_EQ(e.code(), 67);
  }
}

std::vector<uint8_t> encode_record(uint8_t type, std::vector<uint8_t> record, size_t length) {
  std::vector<uint8_t> out(length, 0xEE);
  encode_key_segment(type, record.data(), record.size(), length, out.data());
  return out;
}

std::vector<uint8_t> text_bytes(const std::string& s) {
  return std::vector<uint8_t>(s.begin(), s.end());
}

TEST(KeySegmentRecordForm, Decimal) {
  EXPECT_EQ(encode_record(0x22, text_bytes("12"), 2), (std::vector<uint8_t>{0x41, 0x02}));
  std::vector<uint8_t> minus12 = text_bytes("12");
  minus12[1] |= 0x40;
  EXPECT_EQ(encode_record(0x22, minus12, 2), (std::vector<uint8_t>{0x0E, 0x0D}));
  // Every negative value sorts below every non-negative one, and larger
  // magnitudes below smaller ones.
  std::vector<uint8_t> minus99 = text_bytes("99");
  minus99[1] |= 0x40;
  EXPECT_LT(encode_record(0x22, minus99, 2), encode_record(0x22, minus12, 2));
  EXPECT_LT(encode_record(0x22, minus12, 2), encode_record(0x22, text_bytes("00"), 2));
  EXPECT_LT(encode_record(0x22, text_bytes("09"), 2), encode_record(0x22, text_bytes("10"), 2));
}

TEST(KeySegmentRecordForm, IntegersAndUnsigned) {
  EXPECT_EQ(encode_record(0x24, {0xFF, 0xFF}, 2), (std::vector<uint8_t>{0x7F, 0xFF}));
  EXPECT_EQ(encode_record(0x24, {0x00, 0x00}, 2), (std::vector<uint8_t>{0x80, 0x00}));
  EXPECT_EQ(encode_record(0x24, {0x01, 0x02, 0x03, 0x04}, 4),
            (std::vector<uint8_t>{0x84, 0x03, 0x02, 0x01}));
  EXPECT_EQ(encode_record(0x28, {0x00, 0x01}, 2), (std::vector<uint8_t>{0x01, 0x00}));
  EXPECT_LT(encode_record(0x24, {0xFF, 0xFF}, 2), encode_record(0x24, {0x00, 0x00}, 2));
}

TEST(KeySegmentRecordForm, AlphaNocaseAndShortRecords) {
  EXPECT_EQ(encode_record(0x21, text_bytes("AB"), 2), text_bytes("AB"));
  EXPECT_EQ(encode_record(0x01, text_bytes("AB"), 2), (std::vector<uint8_t>{0xBE, 0xBD}));
  EXPECT_EQ(encode_record(0x30, text_bytes("aB1z"), 4), text_bytes("AB1Z"));
  // A record that ends inside the segment: blanks for alpha, zeros for numbers.
  EXPECT_EQ(encode_record(0x21, text_bytes("A"), 3), text_bytes("A  "));
  EXPECT_EQ(encode_record(0x24, {0x01}, 2), (std::vector<uint8_t>{0, 0}));
  EXPECT_EQ(encode_record(0x04, {}, 2), (std::vector<uint8_t>{0xFF, 0xFF}));
  std::vector<uint8_t> out(2, 0xEE);
  encode_key_segment(0x21, nullptr, 5, 2, out.data());
  EXPECT_EQ(out, text_bytes("  "));
}

TEST(KeySegmentRecordForm, DescendingReversesOrder) {
  EXPECT_GT(encode_record(0x04, {0xFF, 0xFF}, 2), encode_record(0x04, {0x00, 0x00}, 2));
  EXPECT_GT(encode_record(0x02, text_bytes("09"), 2), encode_record(0x02, text_bytes("10"), 2));
}

}  // namespace
}  // namespace ismgr
