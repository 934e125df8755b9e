#include "ismgr/isam/compress.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "ismgr/runtime/status.h"
#include "support/detail_capture.h"

namespace ismgr {
namespace {

using Bytes = std::vector<uint8_t>;
using testing_support::status_of;

Bytes text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}
Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Compresses into exactly length + 1 bytes followed by guards that must stay.
Bytes compressed(const Bytes& record) {
  Bytes out(record.size() + 1 + 64, 0xEE);
  const size_t n = compress(out.data(), record.data(), record.size());
  for (size_t i = record.size() + 1; i < out.size(); ++i) {
    EXPECT_EQ(out[i], 0xEE) << "compress wrote past its buffer at " << i;
  }
  EXPECT_LE(n, record.size() + 1);
  out.resize(n);
  return out;
}

struct Expanded {
  int64_t result;
  Bytes out;
};
// Expands from an exactly sized copy (a read past it shows under the
// sanitizers) into an output followed by guards that must stay.
Expanded expanded(const Bytes& stored, size_t length, bool truncate) {
  const Bytes in(stored);
  Bytes out(length + 64, 0xEE);
  const int64_t r = expand(out.data(), in.data(), in.size(), length, truncate);
  for (size_t i = length; i < out.size(); ++i) {
    EXPECT_EQ(out[i], 0xEE) << "expand wrote past its buffer at " << i;
  }
  out.resize(length);
  return {r, out};
}

// Bytes that never pair up, for literal stretches.
Bytes distinct(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i % 2 ? 'a' + i % 19 : 'A' + i % 23);
  return b;
}

// Hand-worked stored forms, one per code kind and length form: a different
// but decodable encoder would pass the round trips below, not these.
TEST(CompressFormat, HandWorkedVectors) {
  const Bytes big = distinct(65635);
  struct Row {
    const char* name;
    Bytes record, stored;
  } rows[] = {
      {"blank run", Bytes(10, ' '), {0xA9}},
      {"blank run 40", Bytes(40, ' '), {0xBF, 0xA7}},
      {"zero digits 2", Bytes(2, '0'), {0xC1}},
      {"NUL run 32", Bytes(32, 0), {0xFF}},
      {"NUL run 33", Bytes(33, 0), {0xFF, 0xE0}},
      {"digit run 64", Bytes(64, '0'), {0xDF, 0xDF}},
      {"special run 65", Bytes(65, ' '), {0x41, 0x1E, 0x20}},
      {"NUL run 290", Bytes(290, 0), {0x41, 0xFF, 0x00}},
      {"digit run 291", Bytes(291, '0'), {0x42, 0x23, 0x01, 0x30}},
      {"ordinary run 34", Bytes(34, 'A'), {0x3F, 'A'}},
      {"ordinary run 35", Bytes(35, 'A'), {0x41, 0x00, 'A'}},
      {"ordinary run 300", Bytes(300, 'A'), {0x42, 0x2C, 0x01, 'A'}},
      {"split run",
       Bytes(65535 + 65535 + 7, 'Q'),
       {0x42, 0xFF, 0xFF, 'Q', 0x42, 0xFF, 0xFF, 'Q', 0x42, 0x07, 0x00, 'Q'}},
      {"split run remainder 1", Bytes(65536, 'Q'), {0x42, 0xFF, 0xFF, 'Q', 0x42, 0x01, 0x00, 'Q'}},
      {"run then literal", text("xxxy"), {0x20, 'x', 0x60, 'y'}},
      {"three equal", text("KKK"), {0x20, 'K'}},
      {"mixed",
       text("NAME      0000000012"),
       {0x63, 'N', 'A', 'M', 'E', 0xA5, 0xC7, 0x61, '1', '2'}},
      {"stretch ends at runs worth a code",
       text("AB CDDEF      GHHHHHHHIJ"),
       {0x67, 'A', 'B', ' ', 'C', 'D', 'D', 'E', 'F', 0xA5, 0x60, 'G', 0x24, 'H', 0x61, 'I', 'J'}},
      {"pair in the last two bytes unseen", text("KKKKKKKKKKQRSTUVWX  "),
       Bytes{0x27, 'K', 0x69} + text("QRSTUVWX  ")},
      {"pair three before the end seen", text("KKKKKKKKKKQRSTUVWX  Z"),
       Bytes{0x27, 'K', 0x67} + text("QRSTUVWX") + Bytes{0xA1, 0x60, 'Z'}},
      {"run at the very end",
       text("KKKKKKKKKKQRSTZZZ"),
       {0x27, 'K', 0x63, 'Q', 'R', 'S', 'T', 0x20, 'Z'}},
      {"literal 40", distinct(40) + Bytes(200, ' '),
       Bytes{0x81, 7} + distinct(40) + Bytes{0x41, 165, 0x20}},
      {"literal 300", distinct(300) + Bytes(200, 0),
       Bytes{0x82, 0x2C, 0x01} + distinct(300) + Bytes{0x41, 165, 0}},
      {"literal split", distinct(65635) + Bytes(1000, 0),
       Bytes{0x82, 0xFF, 0xFF} + Bytes(big.begin(), big.begin() + 65535) + Bytes{0x82, 100, 0} +
           Bytes(big.begin() + 65535, big.end()) + Bytes{0x42, 0xE8, 0x03, 0}},
      {"raw: no gain", text("ab  cd"), Bytes{0x80} + text("ab  cd")},
      {"raw: one special byte", {0x00}, {0x80, 0x00}},
      {"raw: one byte", text("Z"), {0x80, 'Z'}}};
  for (const Row& r : rows) {
    EXPECT_EQ(compressed(r.record), r.stored) << r.name;
    const Expanded e = expanded(r.stored, r.record.size(), false);
    EXPECT_EQ(e.result, static_cast<int64_t>(r.record.size())) << r.name;
    EXPECT_EQ(e.out, r.record) << r.name;
  }
  uint8_t out[1] = {0xEE};
  EXPECT_EQ(compress(out, nullptr, 0), 0u);
  EXPECT_EQ(out[0], 0xEE);
  EXPECT_EQ(expand(out, nullptr, 0, 0, false), 0);
}

// Business-like records: blank-padded names, zero-filled numbers, NUL
// padding, binary fields and fills.
Bytes business_record(size_t length, std::mt19937& rng) {
  static const char* kWords[] = {"ACME", "CORPORATION", "LTD", "SMITH", "MAIN ST", "N/A"};
  Bytes rec;
  while (rec.size() < length) {
    switch (rng() % 5) {
      case 0: {
        std::string name = std::string(kWords[rng() % 6]) + " " + kWords[rng() % 6];
        name.resize(10 + rng() % 40, ' ');
        rec = rec + text(name);
        break;
      }
      case 1: {
        std::string digits = std::to_string(rng() % 100000);
        rec = rec + Bytes(6 + rng() % 14, '0') + text(digits);
        break;
      }
      case 2:
        rec.insert(rec.end(), 1 + rng() % 80, 0x00);
        break;
      case 3:
        for (size_t k = 0, n = 1 + rng() % 8; k < n; ++k)
          rec.push_back(static_cast<uint8_t>(rng()));
        break;
      default:
        rec.insert(rec.end(), 1 + rng() % 300, static_cast<uint8_t>('*' + rng() % 3));
    }
  }
  rec.resize(length);
  return rec;
}

// compress -> expand gives the record back at every length, and a truncated
// expansion gives its front.
TEST(CompressRoundTrip, EveryLengthOfGeneratedRecords) {
  std::mt19937 rng(3);
  const uint8_t alphabet[] = {0x00, 0x20, 0x30, 'A', 'B'};
  for (size_t length = 0; length <= 2500; ++length) {
    Bytes random(length), small(length);
    for (auto& b : random) b = static_cast<uint8_t>(rng());
    for (auto& b : small) b = alphabet[rng() % (2 + length % 4)];
    for (const Bytes& rec : {random, small, business_record(length, rng)}) {
      const Bytes c = compressed(rec);
      ASSERT_EQ(expanded(c, length, false).out, rec) << "length " << length;
      const size_t front = rng() % (length + 1);
      const Expanded e = expanded(c, front, true);
      ASSERT_EQ(e.result, static_cast<int64_t>(front)) << "length " << length;
      ASSERT_EQ(e.out, Bytes(rec.begin(), rec.begin() + front)) << "length " << length;
    }
  }
  const Bytes big = business_record(200000, rng);
  EXPECT_EQ(expanded(compressed(big), big.size(), false).out, big);
}

// Decoding: every code form, the raw form, truncation and malformed bodies.
TEST(Expand, CodesTruncationAndMalformedBodies) {
  struct Row {
    const char* name;
    Bytes stored;
    size_t length;
    bool truncate;
    int64_t result;
    Bytes out;  // checked when result >= 0
  } rows[] = {{"short run", {0x21, 'x'}, 4, false, 4, text("xxxx")},
              {"run 0x41", {0x41, 0x00, 'y'}, 35, false, 35, Bytes(35, 'y')},
              {"run 0x40", {0x40, 0x02, 0x00, 'w'}, 2, false, 2, text("ww")},
              {"run 0x5F", {0x5F, 0x02, 0x00, 'w'}, 2, false, 2, text("ww")},
              {"literal", {0x62, 'a', 'b', 'c'}, 3, false, 3, text("abc")},
              {"literal 0x81", Bytes{0x81, 0x00} + Bytes(33, 'L'), 33, false, 33, Bytes(33, 'L')},
              {"literal 0x83", {0x83, 0x01, 0x00, 'q'}, 1, false, 1, text("q")},
              {"literal 0x9F", {0x9F, 0x01, 0x00, 'q'}, 1, false, 1, text("q")},
              {"specials", {0xA0, 0xC1, 0xE2}, 6, false, 6, {' ', '0', '0', 0, 0, 0}},
              {"longest specials",
               {0xBF, 0xDF, 0xFF},
               96,
               false,
               96,
               Bytes(32, ' ') + Bytes(32, '0') + Bytes(32, 0)},
              {"raw", {0x80, 'a', 'b', 'c'}, 3, false, 3, text("abc")},
              {"raw truncated", {0x80, 'a', 'b', 'c'}, 2, true, 2, text("ab")},
              {"raw not first", {0x60, 'a', 0x80, 'b', 'c'}, 3, false, -1, {}},
              {"raw not first truncated", {0x60, 'a', 0x80, 'b', 'c'}, 3, true, -1, {}},
              {"raw body short", {0x80, 'a', 'b'}, 3, false, -1, {}},
              {"run beyond length, truncated", {0xA4}, 3, true, 3, Bytes(3, ' ')},
              {"run beyond length", {0xA4}, 3, false, -1, {}},
              {"literal overruns, truncated",
               {0x60, 'a', 0x63, 'b', 'c', 'd', 'e', 0x00},
               3,
               true,
               3,
               text("abc")},
              {"literal overruns", {0x60, 'a', 0x63, 'b', 'c', 'd', 'e'}, 3, false, -1, {}},
              {"zero run count", {0x42, 0x00, 0x00, 'x'}, 4, false, -1, {}},
              {"zero run count truncated", {0x42, 0x00, 0x00, 'x'}, 4, true, -1, {}},
              {"zero literal count", {0x82, 0x00, 0x00, 'a', 'b'}, 2, false, -1, {}},
              {"zero literal count truncated", {0x82, 0x00, 0x00, 'a', 'b'}, 2, true, -1, {}},
              {"ends short of the record", {0xA1}, 5, false, -1, {}},
              {"nothing stored", {}, 1, true, -1, {}},
              {"bytes after the record unread", {0xA1, 0x00, 0x00}, 2, false, 2, text("  ")}};
  for (const Row& r : rows) {
    const Expanded e = expanded(r.stored, r.length, r.truncate);
    EXPECT_EQ(e.result, r.result) << r.name;
    if (r.result >= 0) {
      EXPECT_EQ(e.out, r.out) << r.name;
    }
  }
  const Bytes cut[] = {
      {0x21}, {0x41, 0x05},      {0x42, 0x05, 0x00}, {0x42, 0x05},           {0x63, 'a', 'b'},
      {0x81}, {0x81, 0x00, 'a'}, {0x82, 0x05},       {0x82, 0x05, 0x00, 'a'}};
  for (const Bytes& body : cut) {
    for (bool truncate : {false, true})
      EXPECT_EQ(expanded(body, 40, truncate).result, -1) << "cut code " << int(body[0]);
  }
  for (int code = 0; code < 0x20; ++code) {
    EXPECT_EQ(expanded({static_cast<uint8_t>(code)}, 1, false).result, -1) << code;
    EXPECT_EQ(expanded({0x60, 'a', static_cast<uint8_t>(code)}, 5, true).result, -1) << code;
  }
  std::mt19937 rng(6);  // random bodies: no write past the output, success fills it
  for (int round = 0; round < 20000; ++round) {
    Bytes body(rng() % 40);
    for (auto& b : body) b = static_cast<uint8_t>(rng());
    const size_t length = rng() % 80;
    const Expanded e = expanded(body, length, rng() % 2);
    ASSERT_TRUE(e.result == -1 || e.result == static_cast<int64_t>(length));
  }
}

TEST(Expand, RecordOperationsReportCompressionStatus) {
  const Bytes rec = text("NAME      0000000012");
  const Bytes c = compressed(rec);
  Bytes out(rec.size());
  expand_whole(out.data(), c.data(), c.size(), rec.size());
  EXPECT_EQ(out, rec);
  Bytes front(8);
  EXPECT_EQ(expand_for_read(front.data(), front.size(), c.data(), c.size(), rec.size()), 8u);
  EXPECT_EQ(front, text("NAME    "));
  const Bytes bad{0x63, 'N', 'A', 'M', 'E', 0x05};
  EXPECT_EQ(status_of([&] { expand_whole(out.data(), bad.data(), bad.size(), rec.size()); }),
            kStatusCompression);
  EXPECT_EQ(status_of([&] {
              expand_for_read(out.data(), out.size(), bad.data(), bad.size(), rec.size());
            }),
            kStatusCompression);
}

}  // namespace
}  // namespace ismgr
