#include "ismgr/isam/compress.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ismgr/runtime/status.h"
#include "support/detail_capture.h"

namespace ismgr {
namespace {

using Bytes = std::vector<uint8_t>;
using testing_support::status_of;

Bytes bytes_of(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

// Compresses into a buffer of exactly length + 1 bytes followed by guard
// bytes, and checks that nothing beyond length + 1 was touched.
Bytes compressed(const Bytes& record) {
  constexpr size_t kGuard = 64;
  Bytes out(record.size() + 1 + kGuard, 0xEE);
  const size_t n = compress(out.data(), record.data(), record.size());
  for (size_t i = record.size() + 1; i < out.size(); ++i) {
    EXPECT_EQ(out[i], 0xEE) << "compress wrote past its buffer at " << i;
  }
  EXPECT_LE(n, record.size() + 1);
  out.resize(n);
  return out;
}

// Expands from an exactly sized copy of the stored bytes into an exactly
// sized output followed by guard bytes.
struct Expanded {
  int64_t result;
  Bytes out;
};
Expanded expanded(const Bytes& stored, size_t length, bool truncate) {
  constexpr size_t kGuard = 64;
  const Bytes in(stored);  // exact size: a read past it is visible to the sanitizers
  Bytes out(length + kGuard, 0xEE);
  const int64_t r = expand(out.data(), in.data(), in.size(), length, truncate);
  for (size_t i = length; i < out.size(); ++i) {
    EXPECT_EQ(out[i], 0xEE) << "expand wrote past its buffer at " << i;
  }
  out.resize(length);
  return {r, out};
}

// A plain, byte-by-byte statement of the encoder's choices, used as an
// independent model of the word-at-a-time encoder.
Bytes model_compress(const Bytes& rec) {
  const size_t length = rec.size();
  Bytes out;
  out.reserve(length + 1);
  auto special = [](uint8_t b) { return b == 0x00 || b == 0x20 || b == 0x30; };
  auto kind = [](uint8_t b) -> uint8_t { return b == 0x20 ? 0xA0 : b == 0x30 ? 0xC0 : 0xE0; };
  size_t i = 0;
  while (i < length) {
    const uint8_t b = rec[i];
    size_t r = 1;
    while (i + r < length && rec[i + r] == b) ++r;
    if (special(b) && r >= 2 && r <= 64) {
      if (r <= 32) {
        out.push_back(static_cast<uint8_t>(kind(b) | (r - 1)));
      } else {
        out.push_back(static_cast<uint8_t>(kind(b) | 0x1F));
        out.push_back(static_cast<uint8_t>(kind(b) | (r - 33)));
      }
      i += r;
    } else if (r <= 2) {
      size_t p = i + r;
      while (p + 2 < length &&
             !(rec[p] == rec[p + 1] && (rec[p + 2] == rec[p] || special(rec[p])))) {
        ++p;
      }
      if (p + 2 >= length) p = length;
      size_t m = p - i;
      size_t at = i;
      if (m <= 32) {
        out.push_back(static_cast<uint8_t>(0x60 | (m - 1)));
      } else if (m <= 288) {
        out.push_back(0x81);
        out.push_back(static_cast<uint8_t>(m - 33));
      } else {
        while (m > 65535) {
          out.insert(out.end(), {0x82, 0xFF, 0xFF});
          out.insert(out.end(), rec.begin() + at, rec.begin() + at + 65535);
          at += 65535;
          m -= 65535;
        }
        out.insert(out.end(), {0x82, static_cast<uint8_t>(m & 0xFF), static_cast<uint8_t>(m >> 8)});
      }
      out.insert(out.end(), rec.begin() + at, rec.begin() + at + m);
      i = p;
    } else {
      if (r <= 34) {
        out.insert(out.end(), {static_cast<uint8_t>(0x20 | (r - 3)), b});
      } else if (r <= 290) {
        out.insert(out.end(), {0x41, static_cast<uint8_t>(r - 35), b});
      } else {
        size_t left = r;
        while (left > 65535) {
          out.insert(out.end(), {0x42, 0xFF, 0xFF, b});
          left -= 65535;
        }
        out.insert(out.end(),
                   {0x42, static_cast<uint8_t>(left & 0xFF), static_cast<uint8_t>(left >> 8), b});
      }
      i += r;
    }
  }
  if (out.size() > length) {
    out.assign(1, 0x80);
    out.insert(out.end(), rec.begin(), rec.end());
  }
  return out;
}

// Checks the encoder against the model and the round trip.
void check_record(const Bytes& rec, const std::string& what) {
  const Bytes c = compressed(rec);
  ASSERT_EQ(c, model_compress(rec)) << what << " length " << rec.size();
  const Expanded e = expanded(c, rec.size(), false);
  ASSERT_EQ(e.result, static_cast<int64_t>(rec.size())) << what << " length " << rec.size();
  ASSERT_EQ(e.out, rec) << what << " length " << rec.size();
}

// A business record: blank-padded text fields, zero-filled numbers, NUL
// padding and the odd packed binary field.
Bytes business_record(size_t length, std::mt19937& rng) {
  static const char* kWords[] = {"ACME",    "CORPORATION", "LTD",     "SMITH", "JOHN",
                                 "MAIN ST", "SPRINGFIELD", "INVOICE", "PAID",  "N/A"};
  Bytes rec;
  while (rec.size() < length) {
    switch (rng() % 5) {
      case 0: {  // name field padded with blanks
        const size_t width = 10 + rng() % 40;
        std::string text = kWords[rng() % 10];
        if (rng() % 2) text += std::string(" ") + kWords[rng() % 10];
        text.resize(width, ' ');
        rec.insert(rec.end(), text.begin(), text.end());
        break;
      }
      case 1: {  // zero-filled number
        const size_t width = 6 + rng() % 14;
        std::string digits = std::to_string(rng() % 100000);
        if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
        rec.insert(rec.end(), digits.begin(), digits.end());
        break;
      }
      case 2:  // NUL padding
        rec.insert(rec.end(), 1 + rng() % 80, 0x00);
        break;
      case 3:  // binary field
        for (size_t k = 0, n = 1 + rng() % 8; k < n; ++k)
          rec.push_back(static_cast<uint8_t>(rng()));
        break;
      default:  // a fill of some ordinary byte
        rec.insert(rec.end(), 1 + rng() % 300, static_cast<uint8_t>('*' + rng() % 3));
        break;
    }
  }
  rec.resize(length);
  return rec;
}

// ---------------------------------------------------------------------------
// The stored bytes of characteristic records.
// ---------------------------------------------------------------------------

TEST(CompressFormat, SpecialRunsUpTo64TakeOneOrTwoCodeBytes) {
  EXPECT_EQ(compressed(Bytes(10, ' ')), Bytes({0xA9}));
  EXPECT_EQ(compressed(Bytes(40, ' ')), Bytes({0xBF, 0xA7}));
  EXPECT_EQ(compressed(Bytes(2, '0')), Bytes({0xC1}));
  EXPECT_EQ(compressed(Bytes(32, 0)), Bytes({0xFF}));
  EXPECT_EQ(compressed(Bytes(33, 0)), Bytes({0xFF, 0xE0}));
  EXPECT_EQ(compressed(Bytes(64, '0')), Bytes({0xDF, 0xDF}));
}

TEST(CompressFormat, LongSpecialRunsTakeRunCodes) {
  EXPECT_EQ(compressed(Bytes(65, ' ')), Bytes({0x41, 0x1E, 0x20}));
  EXPECT_EQ(compressed(Bytes(100, ' ')), Bytes({0x41, 0x41, 0x20}));
  EXPECT_EQ(compressed(Bytes(290, 0)), Bytes({0x41, 0xFF, 0x00}));
  EXPECT_EQ(compressed(Bytes(291, '0')), Bytes({0x42, 0x23, 0x01, 0x30}));
}

TEST(CompressFormat, OrdinaryRuns) {
  EXPECT_EQ(compressed(Bytes(300, 'A')), Bytes({0x42, 0x2C, 0x01, 'A'}));
  EXPECT_EQ(compressed(Bytes(34, 'A')), Bytes({0x3F, 'A'}));
  EXPECT_EQ(compressed(Bytes(35, 'A')), Bytes({0x41, 0x00, 'A'}));
  EXPECT_EQ(compressed(bytes_of("xxxy")), Bytes({0x20, 'x', 0x60, 'y'}));
  // Runs longer than a two-byte count are split at 65535.
  EXPECT_EQ(compressed(Bytes(65535 + 65535 + 7, 'Q')),
            Bytes({0x42, 0xFF, 0xFF, 'Q', 0x42, 0xFF, 0xFF, 'Q', 0x42, 0x07, 0x00, 'Q'}));
  // A remainder of one still takes the two-byte form.
  EXPECT_EQ(compressed(Bytes(65536, 'Q')), Bytes({0x42, 0xFF, 0xFF, 'Q', 0x42, 0x01, 0x00, 'Q'}));
}

TEST(CompressFormat, MixedRecord) {
  // NAME, 6 blanks, 8 digits zero, 12.
  const Bytes rec = bytes_of("NAME      0000000012");
  EXPECT_EQ(compressed(rec), Bytes({0x63, 'N', 'A', 'M', 'E', 0xA5, 0xC7, 0x61, '1', '2'}));
}

TEST(CompressFormat, StretchEndsOnlyAtRunsWorthACode) {
  // A single special byte and an ordinary pair stay inside the stretch; a
  // pair of special bytes or three equal bytes end it.
  const Bytes rec = bytes_of("AB CDDEF      GHHHHHHHIJ");
  EXPECT_EQ(compressed(rec), Bytes({0x67, 'A', 'B', ' ', 'C', 'D', 'D', 'E', 'F', 0xA5, 0x60, 'G',
                                    0x24, 'H', 0x61, 'I', 'J'}));
}

TEST(CompressFormat, StretchLooksNoFurtherThanThreeBytesBeforeTheEnd) {
  // The blank pair in the last two bytes is not looked at: the stretch
  // covers it.
  EXPECT_EQ(compressed(bytes_of("KKKKKKKKKKQRSTUVWX  ")),
            Bytes({0x27, 'K', 0x69, 'Q', 'R', 'S', 'T', 'U', 'V', 'W', 'X', ' ', ' '}));
  // Starting at the third byte before the end it is found.
  EXPECT_EQ(compressed(bytes_of("KKKKKKKKKKQRSTUVWX  Z")),
            Bytes({0x27, 'K', 0x67, 'Q', 'R', 'S', 'T', 'U', 'V', 'W', 'X', 0xA1, 0x60, 'Z'}));
  // Three equal ordinary bytes at the very end are a run of their own.
  EXPECT_EQ(compressed(bytes_of("KKKKKKKKKKQRSTZZZ")),
            Bytes({0x27, 'K', 0x63, 'Q', 'R', 'S', 'T', 0x20, 'Z'}));
}

TEST(CompressFormat, LiteralLengthForms) {
  std::mt19937 rng(7);
  auto distinct = [&](size_t n) {
    // Bytes that never form a pair: alternate two ranges of ordinary bytes.
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
      b[i] = static_cast<uint8_t>(i % 2 ? 'a' + rng() % 20 : 'A' + rng() % 20);
    return b;
  };
  // 40 literal bytes then a long blank run: 0x81 with count 40 - 33.
  Bytes rec = distinct(40);
  rec.insert(rec.end(), 200, ' ');
  Bytes c = compressed(rec);
  ASSERT_EQ(c.size(), 2u + 40 + 3);
  EXPECT_EQ(c[0], 0x81);
  EXPECT_EQ(c[1], 7);
  EXPECT_EQ(Bytes(c.begin() + 2, c.begin() + 42), Bytes(rec.begin(), rec.begin() + 40));
  EXPECT_EQ(Bytes(c.begin() + 42, c.end()), Bytes({0x41, 165, 0x20}));
  // 300 literal bytes: the two-byte form.
  rec = distinct(300);
  rec.insert(rec.end(), 200, 0);
  c = compressed(rec);
  ASSERT_EQ(c.size(), 3u + 300 + 3);
  EXPECT_EQ(Bytes(c.begin(), c.begin() + 3), Bytes({0x82, 0x2C, 0x01}));
  // Literal stretches longer than 65535 are split into full blocks.
  rec = distinct(65535 + 100);
  rec.insert(rec.end(), 1000, 0);
  c = compressed(rec);
  ASSERT_EQ(c.size(), 3u + 65535 + 3 + 100 + 4);
  EXPECT_EQ(Bytes(c.begin(), c.begin() + 3), Bytes({0x82, 0xFF, 0xFF}));
  EXPECT_EQ(Bytes(c.begin() + 3 + 65535, c.begin() + 6 + 65535), Bytes({0x82, 100, 0}));
  check_record(rec, "long literal");
}

TEST(CompressFallback, RecordsThatDoNotShrinkAreStoredRaw) {
  EXPECT_EQ(compressed(bytes_of("abc")), Bytes({0x80, 'a', 'b', 'c'}));
  // Would be 0x61 a b 0xA1 0x61 c d: 7 bytes for a 6-byte record.
  EXPECT_EQ(compressed(bytes_of("ab  cd")), Bytes({0x80, 'a', 'b', ' ', ' ', 'c', 'd'}));
  EXPECT_EQ(compressed(bytes_of("Z")), Bytes({0x80, 'Z'}));
  // A single special byte is a literal: 2 bytes for 1.
  EXPECT_EQ(compressed(Bytes{0x00}), Bytes({0x80, 0x00}));
}

TEST(CompressFallback, FormOfExactlyTheRecordLengthIsUsed) {
  EXPECT_EQ(compressed(bytes_of("xxxy")), Bytes({0x20, 'x', 0x60, 'y'}));
  EXPECT_EQ(compressed(Bytes{' ', ' '}).size(), 1u);
  // Three equal ordinary bytes: 2 bytes for 3.
  EXPECT_EQ(compressed(bytes_of("KKK")), Bytes({0x20, 'K'}));
}

TEST(CompressFallback, EmptyRecord) {
  uint8_t out[1] = {0xEE};
  EXPECT_EQ(compress(out, nullptr, 0), 0u);
  EXPECT_EQ(out[0], 0xEE);
  EXPECT_EQ(expand(out, nullptr, 0, 0, false), 0);
}

// ---------------------------------------------------------------------------
// Round trips and agreement with the plain model over many records.
// ---------------------------------------------------------------------------

TEST(CompressRoundTrip, RandomBytesOfEveryLength) {
  std::mt19937 rng(1);
  for (size_t length = 0; length <= 3000; ++length) {
    Bytes rec(length);
    for (auto& b : rec) b = static_cast<uint8_t>(rng());
    check_record(rec, "random");
  }
}

TEST(CompressRoundTrip, SmallAlphabetsOfEveryLength) {
  // Few distinct values make runs, pairs and special bytes meet at every
  // offset, including the word boundaries of the fast scans.
  std::mt19937 rng(2);
  const uint8_t alphabet[] = {0x00, 0x20, 0x30, 'A', 'B'};
  for (size_t length = 0; length <= 1500; ++length) {
    Bytes rec(length);
    const size_t span = 2 + length % 4;
    for (auto& b : rec) b = alphabet[rng() % span];
    check_record(rec, "alphabet");
  }
}

TEST(CompressRoundTrip, BusinessRecordsOfEveryLength) {
  std::mt19937 rng(3);
  for (size_t length = 0; length <= 3000; ++length) {
    check_record(business_record(length, rng), "business");
  }
}

TEST(CompressRoundTrip, RunsOfEveryLengthAroundTheFormBoundaries) {
  for (uint8_t b : {uint8_t{0x00}, uint8_t{0x20}, uint8_t{0x30}, uint8_t{'A'}, uint8_t{0xFF}}) {
    for (size_t r = 1; r <= 700; ++r) {
      for (size_t lead : {0u, 1u, 7u}) {
        Bytes rec;
        for (size_t k = 0; k < lead; ++k) rec.push_back(static_cast<uint8_t>('a' + k));
        rec.insert(rec.end(), r, b);
        rec.push_back('z');
        check_record(rec, "run");
      }
    }
  }
}

TEST(CompressRoundTrip, VeryLongRecords) {
  std::mt19937 rng(4);
  check_record(business_record(200000, rng), "business");
  Bytes rec(140000);
  for (auto& b : rec) b = static_cast<uint8_t>(rng());
  check_record(rec, "random");
  check_record(Bytes(200000, ' '), "blanks");
}

// ---------------------------------------------------------------------------
// The decoder: every code form, truncation and malformed bodies.
// ---------------------------------------------------------------------------

TEST(ExpandCodes, EveryFormDecodes) {
  EXPECT_EQ(expanded({0x21, 'x'}, 4, false).out, bytes_of("xxxx"));
  EXPECT_EQ(expanded({0x41, 0x00, 'y'}, 35, false).out, Bytes(35, 'y'));
  // Any 0x40 to 0x5F but 0x41 is the two-byte form.
  for (uint8_t code : {0x40, 0x42, 0x43, 0x5F}) {
    EXPECT_EQ(expanded({code, 0x02, 0x00, 'w'}, 2, false).out, bytes_of("ww")) << int(code);
  }
  EXPECT_EQ(expanded({0x62, 'a', 'b', 'c'}, 3, false).out, bytes_of("abc"));
  Bytes long_copy{0x81, 0x00};
  long_copy.insert(long_copy.end(), 33, 'L');
  EXPECT_EQ(expanded(long_copy, 33, false).out, Bytes(33, 'L'));
  for (uint8_t code : {0x82, 0x83, 0x9F}) {
    EXPECT_EQ(expanded({code, 0x01, 0x00, 'q'}, 1, false).out, bytes_of("q")) << int(code);
  }
  EXPECT_EQ(expanded({0xA0, 0xC1, 0xE2}, 6, false).out, Bytes({' ', '0', '0', 0, 0, 0}));
  EXPECT_EQ(expanded({0xBF, 0xDF, 0xFF}, 96, false).result, 96);
}

TEST(ExpandCodes, RawFormOnlyAsTheFirstCode) {
  EXPECT_EQ(expanded({0x80, 'a', 'b', 'c'}, 3, false).out, bytes_of("abc"));
  // Raw with the truncate flag and a shorter length copies the front.
  Expanded e = expanded({0x80, 'a', 'b', 'c'}, 2, true);
  EXPECT_EQ(e.result, 2);
  EXPECT_EQ(e.out, bytes_of("ab"));
  EXPECT_EQ(expanded({0x60, 'a', 0x80, 'b', 'c'}, 3, false).result, -1);
  EXPECT_EQ(expanded({0x60, 'a', 0x80, 'b', 'c'}, 3, true).result, -1);
  // A raw body shorter than the record.
  EXPECT_EQ(expanded({0x80, 'a', 'b'}, 3, false).result, -1);
}

TEST(ExpandTruncate, CodesBeyondTheLength) {
  Expanded e = expanded({0xA4}, 3, true);
  EXPECT_EQ(e.result, 3);
  EXPECT_EQ(e.out, Bytes(3, ' '));
  EXPECT_EQ(expanded({0xA4}, 3, false).result, -1);
  // A literal that overruns: only the bytes that fit, and expansion ends.
  e = expanded({0x60, 'a', 0x63, 'b', 'c', 'd', 'e', 0x00}, 3, true);
  EXPECT_EQ(e.result, 3);
  EXPECT_EQ(e.out, bytes_of("abc"));
  EXPECT_EQ(expanded({0x60, 'a', 0x63, 'b', 'c', 'd', 'e'}, 3, false).result, -1);
  // The front of a real compressed record.
  std::mt19937 rng(5);
  const Bytes rec = business_record(500, rng);
  const Bytes c = compressed(rec);
  for (size_t length : {0u, 1u, 17u, 250u, 499u}) {
    e = expanded(c, length, true);
    EXPECT_EQ(e.result, static_cast<int64_t>(length));
    EXPECT_EQ(e.out, Bytes(rec.begin(), rec.begin() + length));
  }
}

TEST(ExpandMalformed, CodeBytesBelow0x20) {
  for (int code = 0; code < 0x20; ++code) {
    EXPECT_EQ(expanded({static_cast<uint8_t>(code)}, 1, false).result, -1) << code;
    EXPECT_EQ(expanded({0x60, 'a', static_cast<uint8_t>(code)}, 5, true).result, -1) << code;
  }
}

TEST(ExpandMalformed, ZeroCountsInEitherMode) {
  for (bool truncate : {false, true}) {
    EXPECT_EQ(expanded({0x42, 0x00, 0x00, 'x'}, 4, truncate).result, -1);
    EXPECT_EQ(expanded({0x82, 0x00, 0x00, 'a', 'b'}, 2, truncate).result, -1);
  }
}

TEST(ExpandMalformed, BodiesThatEndEarly) {
  // Each code cut inside its own bytes.
  const Bytes cut[] = {
      {0x21}, {0x41, 0x05},      {0x42, 0x05, 0x00}, {0x42, 0x05},           {0x63, 'a', 'b'},
      {0x81}, {0x81, 0x00, 'a'}, {0x82, 0x05},       {0x82, 0x05, 0x00, 'a'}};
  for (const Bytes& body : cut) {
    EXPECT_EQ(expanded(body, 40, false).result, -1) << int(body[0]);
    EXPECT_EQ(expanded(body, 40, true).result, -1) << int(body[0]);
  }
  // Valid codes that stop before the record is complete.
  EXPECT_EQ(expanded({0xA1}, 5, false).result, -1);
  EXPECT_EQ(expanded({}, 1, true).result, -1);
  // Bytes after a complete record are not looked at.
  EXPECT_EQ(expanded({0xA1, 0x00, 0x00}, 2, false).result, 2);
}

TEST(ExpandMalformed, StatusOfTheRecordOperations) {
  const Bytes rec = bytes_of("NAME      0000000012");
  const Bytes c = compressed(rec);
  Bytes out(rec.size());
  expand_whole(out.data(), c.data(), c.size(), rec.size());
  EXPECT_EQ(out, rec);
  Bytes front(8);
  EXPECT_EQ(expand_for_read(front.data(), front.size(), c.data(), c.size(), rec.size()), 8u);
  EXPECT_EQ(front, bytes_of("NAME    "));
  const Bytes bad{0x63, 'N', 'A', 'M', 'E', 0x05};
  EXPECT_EQ(status_of([&] { expand_whole(out.data(), bad.data(), bad.size(), rec.size()); }),
            kStatusCompression);
  EXPECT_EQ(status_of([&] {
              expand_for_read(out.data(), out.size(), bad.data(), bad.size(), rec.size());
            }),
            kStatusCompression);
}

TEST(ExpandMalformed, RandomBodiesStayInsideTheBuffers) {
  // Random stored bytes: whatever the result, the guards in `expanded` see
  // no write past the output, and a success always fills the length.
  std::mt19937 rng(6);
  for (int round = 0; round < 20000; ++round) {
    Bytes body(rng() % 40);
    for (auto& b : body) b = static_cast<uint8_t>(rng());
    const size_t length = rng() % 80;
    const bool truncate = rng() % 2;
    const Expanded e = expanded(body, length, truncate);
    EXPECT_TRUE(e.result == -1 || e.result == static_cast<int64_t>(length));
  }
}

}  // namespace
}  // namespace ismgr
