#include "ismgr/isam/key_builder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ismgr/runtime/status.h"
#include "support/data_rows.h"
#include "support/detail_capture.h"

namespace ismgr {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t kAsc = kSegAscending;

Bytes encode(uint8_t type, const Bytes& field, size_t length) {
  Bytes out(length, 0xEE);
  encode_key_segment(type, field.data(), field.size(), length, out.data());
  return out;
}

Bytes text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

// Hand-worked encodings: the bytes on disk, which order and round trip alone
// would not pin down.
TEST(KeySegment, HandWorkedEncodings) {
  for (const auto& r : test::data_rows("key_encodings.tsv")) {
    const auto type = static_cast<uint8_t>(std::stoul(r[1], nullptr, 16));
    EXPECT_EQ(encode(type, test::data_bytes(r[2]), r.number(3)), test::data_bytes(r[4])) << r.where;
  }
  Bytes out(2, 0xEE);
  encode_key_segment(kSegAlpha | kAsc, nullptr, 5, 2, out.data());
  EXPECT_EQ(out, text("  ")) << "no record";
}

// A random field of a type and width as the record holds it, with its value
// as a number for the numeric types (often near zero, where signs meet).
Bytes random_field(std::mt19937_64& rng, uint8_t type, size_t width, __int128* number) {
  Bytes f(width);
  __int128 n = 0;
  const uint64_t raw = rng() % 4 ? rng() : rng() % 3 - 1;
  const bool binary = type == kSegInteger || type == kSegUnsigned;
  for (size_t i = 0; i < width; ++i) {
    const int d = static_cast<int>(rng() % (i % 3 ? 10 : 2));
    f[i] = static_cast<uint8_t>(type == kSegDecimal ? '0' + d
                                : binary            ? raw >> (8 * i)
                                                    : "aAbB z\xF0"[rng() % 8]);
    if (type == kSegDecimal) n = n * 10 + d;
  }
  if (type == kSegDecimal && n != 0 && rng() % 2) f.back() |= 0x40, n = -n;
  for (size_t i = width; binary && i-- > 0;) n = n * 256 + f[i];
  if (type == kSegInteger && (f.back() & 0x80)) n -= static_cast<__int128>(1) << (8 * width);
  *number = n;
  return f;
}

// Encoded keys order as their values in either direction over random pairs,
// for every type and width; and decoding gives back the field.
TEST(KeySegment, OrderAndRoundTripOverRandomValues) {
  std::mt19937_64 rng(12);
  for (uint8_t type : {kSegAlpha, kSegNoCase, kSegDecimal, kSegInteger, kSegUnsigned}) {
    for (size_t width = 1; width <= (type == kSegDecimal ? 18u : 8u); ++width) {
      for (uint8_t seg : {uint8_t(type | kAsc), type}) {
        for (int i = 0; i < 100; ++i) {
          __int128 x, y;
          Bytes a = random_field(rng, type, width, &x), b = random_field(rng, type, width, &y);
          Bytes ea = encode(seg, a, width), eb = encode(seg, b, width);
          int want = (x > y) - (x < y);
          if (type == kSegAlpha || type == kSegNoCase) {
            Bytes ua = a, ub = b;
            for (auto* v : {&ua, &ub})
              for (uint8_t& c : *v) c = type == kSegNoCase ? std::toupper(c) : c;
            want = (ua > ub) - (ua < ub);
          }
          const int c = std::memcmp(ea.data(), eb.data(), width);
          ASSERT_EQ((c > 0) - (c < 0), seg & kAsc ? want : -want) << int(seg) << " w " << width;
          if (type == kSegNoCase) continue;
          Bytes back(width);
          decode_key_segment(seg, ea.data(), width, back.data());
          ASSERT_EQ(back, a) << "type " << int(seg) << " width " << width;
        }
      }
    }
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

TEST(BuildKey, PartialKeys) {
  KeyDescriptor k = key({{kSegAlpha | kAsc, 0, 3}, {kSegNoCase | kAsc, 3, 3}});
  uint8_t out[6];
  EXPECT_EQ(build_partial_key(k, reinterpret_cast<const uint8_t*>("ABCde"), 5, out), 5u);
  EXPECT_EQ(Bytes(out, out + 5), text("ABCDE"));
  EXPECT_EQ(build_partial_key(k, reinterpret_cast<const uint8_t*>("AB"), 2, out), 2u);
  EXPECT_EQ(build_partial_key(k, nullptr, 0, out), 0u);
  KeyDescriptor numeric = key({{kSegInteger | kAsc, 0, 4}});
  EXPECT_EQ(testing_support::status_of([&] {  // a cut numeric segment is refused
              build_partial_key(numeric, reinterpret_cast<const uint8_t*>("\x01\x02"), 2, out);
            }),
            67);
}

}  // namespace
}  // namespace ismgr
