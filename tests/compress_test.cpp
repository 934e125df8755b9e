#include "ismgr/isam/compress.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "ismgr/runtime/status.h"
#include "support/data_rows.h"
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
  EXPECT_EQ(Bytes(out.begin() + record.size() + 1, out.end()), Bytes(64, 0xEE)) << "past the end";
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
  EXPECT_EQ(Bytes(out.begin() + length, out.end()), Bytes(64, 0xEE)) << "past the end";
  out.resize(length);
  return {r, out};
}

// Bytes that never pair up, for literal stretches.
Bytes distinct(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i % 2 ? 'a' + i % 19 : 'A' + i % 23);
  return b;
}

// A byte list as tests/data/compress_vectors.tsv writes it ("dn": n bytes
// that never pair up).
Bytes bytes_of(const std::string& s) {
  Bytes out;
  std::istringstream in(s);
  for (std::string t; in >> t;)
    out = out + (t[0] == 'd' ? distinct(std::stoul(t.substr(1))) : test::data_bytes(t));
  return out;
}

// Hand-worked stored forms, one per code kind and length form: a different
// but decodable encoder would pass the round trips below, not these.
TEST(CompressFormat, HandWorkedVectors) {
  const Bytes big = distinct(65635);
  std::vector<std::tuple<std::string, Bytes, Bytes>> rows = {
      {"literal split", distinct(65635) + Bytes(1000, 0),
       Bytes{0x82, 0xFF, 0xFF} + Bytes(big.begin(), big.begin() + 65535) + Bytes{0x82, 100, 0} +
           Bytes(big.begin() + 65535, big.end()) + Bytes{0x42, 0xE8, 0x03, 0}}};
  for (const auto& r : test::data_rows("compress_vectors.tsv")) {
    rows.emplace_back(r.where + " " + r[0], bytes_of(r[1]), bytes_of(r[2]));
  }
  for (const auto& [name, record, stored] : rows) {
    EXPECT_EQ(compressed(record), stored) << name;
    const Expanded e = expanded(stored, record.size(), false);
    EXPECT_EQ(e.result, static_cast<int64_t>(record.size())) << name;
    EXPECT_EQ(e.out, record) << name;
  }
  EXPECT_EQ(rows.size(), 28u);
  uint8_t out[1] = {0xEE};
  EXPECT_EQ(compress(out, nullptr, 0), 0u);
  EXPECT_EQ(out[0], 0xEE);
  EXPECT_EQ(expand(out, nullptr, 0, 0, false), 0);
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
    Bytes runs;  // runs of one byte past every length form
    while (runs.size() < length) runs.insert(runs.end(), 1 + rng() % 300, alphabet[rng() % 5]);
    runs.resize(length);
    for (const Bytes& rec : {random, small, runs}) {
      const Bytes c = compressed(rec);
      ASSERT_EQ(expanded(c, length, false).out, rec) << "length " << length;
      const size_t front = rng() % (length + 1);
      const Expanded e = expanded(c, front, true);
      ASSERT_EQ(e.result, static_cast<int64_t>(front)) << "length " << length;
      ASSERT_EQ(e.out, Bytes(rec.begin(), rec.begin() + front)) << "length " << length;
    }
  }
}

// Decoding: every code form, the raw form, truncation and malformed bodies.
TEST(Expand, CodesTruncationAndMalformedBodies) {
  for (const auto& r : test::data_rows("expand_rows.tsv")) {
    const Expanded e = expanded(bytes_of(r[1]), r.number(2), r[3] == "1");
    EXPECT_EQ(e.result, r.number(4)) << r.where;
    EXPECT_TRUE(e.result < 0 || e.out == bytes_of(r.fields.size() > 5 ? r[5] : "")) << r.where;
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
}

TEST(Expand, RecordOperationsReportCompressionStatus) {
  const Bytes rec = text("NAME      0000000012"), c = compressed(rec);
  Bytes out(rec.size());
  EXPECT_EQ(expand_for_read(out.data(), 8, c.data(), c.size(), rec.size()), 8u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 8), text("NAME    "));
  const Bytes bad{0x63, 'N', 'A', 'M', 'E', 0x05};
  EXPECT_EQ(status_of([&] { expand_whole(out.data(), bad.data(), bad.size(), rec.size()); }),
            kStatusCompression);
}

}  // namespace
}  // namespace ismgr
