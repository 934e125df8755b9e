// The record codec: a byte-oriented run-length scheme (layout in compress.h).
//
// Both directions run in one pass without allocation. Run and stretch
// detection read bit masks built sixteen bytes at a time; short codes are produced with
// fixed-size block moves when the buffers have room, so the common business
// record (blank-padded names, zero-filled numbers, NUL padding) costs a few
// instructions per code rather than per byte. The expansion decodes those
// short codes in a loop of its own while both buffers have room for any of
// them, without the checks every other code needs.
#include "ismgr/isam/compress.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "ismgr/runtime/status.h"

#if defined(__SSE2__) && !defined(ISMGR_CODEC_PORTABLE)
#include <emmintrin.h>
#define ISMGR_CODEC_SSE2 1
// The encoder's mask windows take variable shifts, several instructions
// each in the baseline x86-64 instruction set and one with BMI2: a second
// copy of the encoder is built for BMI2 and chosen once at run time.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__BMI2__)
#define ISMGR_CODEC_BMI2 1
#endif
#endif

// Inlined into each copy of the encoder (see encode_bmi2), so that all of
// the encoding loop is built for that copy's instruction set.
#ifdef ISMGR_CODEC_BMI2
#define ISMGR_CODEC_INLINE [[gnu::always_inline]]
#else
#define ISMGR_CODEC_INLINE
#endif

namespace ismgr {

namespace {

// Code kinds (top three bits of a code byte).
constexpr uint8_t kCodeShortRun = 0x20;   // n + 3 copies of a byte
constexpr uint8_t kCodeLongRun = 0x40;    // 0x41: one-byte count, others: two-byte count
constexpr uint8_t kCodeShortCopy = 0x60;  // n + 1 literal bytes
constexpr uint8_t kCodeLongCopy = 0x80;   // 0x81: one-byte count, others: two-byte count
constexpr uint8_t kCodeBlanks = 0xA0;     // n + 1 blanks
constexpr uint8_t kCodeZeros = 0xC0;      // n + 1 digits zero
constexpr uint8_t kCodeNuls = 0xE0;       // n + 1 NUL bytes
constexpr uint8_t kOneByteCount = 0x01;   // low bits selecting the one-byte count form
constexpr uint8_t kTwoByteCount = 0x02;   // low bits the encoder uses for the two-byte form
constexpr size_t kMaxTwoByteCount = 65535;

// For each byte value, the code kind of its own run code (blank, digit zero,
// NUL), or 0 for an ordinary byte.
constexpr std::array<uint8_t, 256> make_special_table() {
  std::array<uint8_t, 256> table{};
  table[0x20] = kCodeBlanks;
  table[0x30] = kCodeZeros;
  table[0x00] = kCodeNuls;
  return table;
}
constexpr std::array<uint8_t, 256> kSpecialKind = make_special_table();

// The byte a special-run code (top bits 101, 110, 111) produces, by kind.
constexpr uint8_t kSpecialByte[8] = {0, 0, 0, 0, 0, 0x20, 0x30, 0x00};

// The positions where runs end and runs worth a code begin, as bit masks
// over record positions, so that the encoder finds either with a count of
// trailing zero bits instead of a loop of compares whose length it cannot
// predict. For a position p of the record:
//   same(p)  = record[p] == record[p + 1]                    (p + 1 < length)
//   worth(p) = same(p) and (record[p] == record[p + 2] or record[p] is a
//              blank, digit zero or NUL)                      (p + 2 < length)
// Positions the condition cannot hold at (near the end, or past it) have a 0
// bit. The encoder moves forward, and keeps two consecutive words of each
// mask, 128 positions from `base_`: any position in the first word then sees
// the next 64 bits in one piece, so a run or stretch that crosses into the
// next word costs no second look.
class RunMasks {
 public:
  RunMasks(const uint8_t* record, size_t length) : record_(record), length_(length) {
    words(0, &same_[0], &worth_[0]);
    words(64, &same_[1], &worth_[1]);
  }

  // The worth() bits of the 64 positions from i (i < length), bit 0 for i.
  uint64_t worth_from(size_t i) {
    seek(i);
    return window(worth_, i - base_);
  }

  // End of the run of bytes equal to record[i] that starts at i (exclusive).
  size_t run_end(size_t i) {
    seek(i);
    const uint64_t ends = ~window(same_, i - base_);  // same(length - 1) is 0
    if (ends != 0) return i + static_cast<size_t>(std::countr_zero(ends)) + 1;
    // 65 or more equal bytes: the rest of the run 64 positions at a time.
    for (i += 64;; i += 64) {
      seek(i);
      const uint64_t more = ~window(same_, i - base_);
      if (more != 0) return i + static_cast<size_t>(std::countr_zero(more)) + 1;
    }
  }

  // The first position from p on where a run worth its own code begins, or
  // the record's length when there is none.
  size_t stretch_end(size_t p) {
    if (p >= length_) return length_;
    seek(p);
    const uint64_t starts = window(worth_, p - base_);
    if (starts != 0) return p + static_cast<size_t>(std::countr_zero(starts));
    // A stretch of 64 or more bytes: the rest 64 positions at a time.
    for (p += 64; p < length_; p += 64) {
      seek(p);
      const uint64_t more = window(worth_, p - base_);
      if (more != 0) return p + static_cast<size_t>(std::countr_zero(more));
    }
    return length_;
  }

 private:
  // The 64 bits of a mask from position base_ + s (s < 64).
  static uint64_t window(const uint64_t (&mask)[2], size_t s) {
    return (mask[0] >> s) | ((mask[1] << 1) << (63 - s));
  }

  // Moves the words forward until position i lies in the first one.
  void seek(size_t i) {
    if (i < base_ + 64) return;
    if (i < base_ + 128) {
      base_ += 64;
      same_[0] = same_[1];
      worth_[0] = worth_[1];
    } else {
      base_ = i & ~size_t{63};
      words(base_, &same_[0], &worth_[0]);
    }
    words(base_ + 64, &same_[1], &worth_[1]);
  }

  // The words of the 64 positions from `base`.
  void words(size_t base, uint64_t* same_out, uint64_t* worth_out) const {
    if (base >= length_) {
      *same_out = 0;
      *worth_out = 0;
      return;
    }
#ifdef ISMGR_CODEC_SSE2
    if (base + 66 <= length_) {  // the reads go up to record[base + 65]
      sse2_words(record_ + base, same_out, worth_out);
      return;
    }
    // The last positions: the words of a copy padded to full size, with the
    // bits of positions the conditions cannot hold at cleared.
    uint8_t tail[80] = {};
    const size_t n = length_ - base;  // 1 to 65
    std::memcpy(tail, record_ + base, n);
    sse2_words(tail, same_out, worth_out);
    *same_out &= n - 1 >= 64 ? ~uint64_t{0} : (uint64_t{1} << (n - 1)) - 1;
    *worth_out &= n < 2 ? 0 : n - 2 >= 64 ? ~uint64_t{0} : (uint64_t{1} << (n - 2)) - 1;
#else
    uint64_t same = 0;
    uint64_t worth = 0;
    const size_t end = length_ - base < 64 ? length_ : base + 64;
    for (size_t p = base; p < end && p + 1 < length_; ++p) {
      const uint8_t b = record_[p];
      if (b != record_[p + 1]) continue;
      const uint64_t bit = uint64_t{1} << (p - base);
      same |= bit;
      if (p + 2 < length_ && (b == record_[p + 2] || kSpecialKind[b] != 0)) worth |= bit;
    }
    *same_out = same;
    *worth_out = worth;
#endif
  }

#ifdef ISMGR_CODEC_SSE2
  // The words of the 64 positions from `at`, as if the record went on for
  // at least 66 bytes from there (reads at[0 .. 65]).
  static void sse2_words(const uint8_t* at, uint64_t* same_out, uint64_t* worth_out) {
    // Blank and digit zero differ in bit 0x10 alone: with it cleared, one
    // compare finds both.
    const __m128i not_bit4 = _mm_set1_epi8(static_cast<char>(0xEF));
    const __m128i blank = _mm_set1_epi8(0x20);
    const __m128i nul = _mm_setzero_si128();
    uint64_t same = 0;
    uint64_t special = 0;
    for (unsigned k = 0; k < 64; k += 16) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + k));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + k + 1));
      const __m128i kinds =
          _mm_or_si128(_mm_cmpeq_epi8(_mm_and_si128(a, not_bit4), blank), _mm_cmpeq_epi8(a, nul));
      same |= static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, b))))
              << k;
      special |= static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(kinds))) << k;
    }
    // at[p + 1] == at[p + 2] is same(p + 1): the next bit, and for the last
    // position the first of the next word.
    const uint64_t next_same = (same >> 1) | (static_cast<uint64_t>(at[64] == at[65]) << 63);
    *same_out = same;
    *worth_out = same & (next_same | special);
  }
#endif

  const uint8_t* record_;
  size_t length_;
  size_t base_ = 0;  // the first position of the words held
  uint64_t same_[2];
  uint64_t worth_[2];
};

// Writes the codes into `out` while they fit within `limit` bytes; `out`
// itself holds limit + 1 bytes, which the short block moves may use.
class Encoder {
 public:
  Encoder(uint8_t* out, const uint8_t* record, size_t limit)
      : out_(out), record_(record), limit_(limit), masks_(record, limit) {}

  // Codes the whole record. False as soon as a code does not fit within the
  // limit; otherwise true with the compressed length in *produced.
  //
  // The record alternates between literal stretches and runs worth a code:
  // a stretch always ends where such a run begins (or at the record's end),
  // so only after a run is there a choice of what comes next.
  ISMGR_CODEC_INLINE bool run(size_t* produced) {
    const size_t length = limit_;
    // The output position is a local handed to the code writers, so that
    // the byte stores (which may alias anything) do not force it, or the
    // output pointer, back to memory after each code.
    uint8_t* const out = out_;
    size_t o = 0;
    size_t i = 0;
    while (i < length) {
      const uint64_t starts = masks_.worth_from(i);
      // (A set bit means i + 2 < length: last_special_pair() is false then.)
      if ((starts & 1) == 0 && (starts != 0 || !last_special_pair(i))) {
        // No run worth a code begins at i: the literal stretch goes on to
        // the next position where one does.
        const size_t end = starts != 0 ? i + static_cast<size_t>(std::countr_zero(starts))
                                       : masks_.stretch_end(i + 64);
        if (!literal(out, o, length, record_ + i, i, end - i)) return false;
        i = end;
        if (i >= length) break;
      }
      const size_t r = masks_.run_end(i) - i;  // 2 or more
      if (!run_code(out, o, length, record_[i], r)) return false;
      i += r;
    }
    *produced = o;
    return true;
  }

 private:
  // Whether the record ends at i with two blanks, digits zero or NUL bytes.
  // worth() is never set there, but the pair still takes its own code when
  // a run code (not a literal stretch) came before it.
  bool last_special_pair(size_t i) const {
    return i + 2 == limit_ && record_[i] == record_[i + 1] && kSpecialKind[record_[i]] != 0;
  }

  // Code for a run of `r` >= 2 copies of `b` that is worth one: a blank,
  // digit zero or NUL run of up to 64 bytes takes its own code, once or
  // twice (33 to 64 bytes: 32, then the rest), anything else a repeat code.
  static bool run_code(uint8_t* __restrict out, size_t& o, size_t limit, uint8_t b, size_t r) {
    const uint8_t kind = kSpecialKind[b];
    if (kind != 0 && r <= 64) {
      const size_t n = r > 32 ? 2 : 1;
      if (o + n > limit) return false;
      // Both bytes are written either way (out has room for one byte past
      // the limit); a second byte not needed is overwritten by what follows.
      out[o] = static_cast<uint8_t>(kind | (r > 32 ? 31 : r - 1));
      out[o + 1] = static_cast<uint8_t>(kind | ((r - 33) & 0x1F));
      o += n;
      return true;
    }
    return repeat(out, o, limit, b, r);
  }

  // Literal stretch of `m` record bytes starting at `from`.
  static bool literal(uint8_t* __restrict out, size_t& o, size_t limit, const uint8_t* src,
                      size_t from, size_t m) {
    if (m <= 32) {
      if (o + 1 + m > limit) return false;
      out[o] = static_cast<uint8_t>(kCodeShortCopy | (m - 1));
      // A fixed 32-byte move when both buffers have room: the bytes beyond
      // the stretch are overwritten by the codes that follow.
      if (o + 33 <= limit + 1 && from + 32 <= limit) {
        std::memcpy(out + o + 1, src, 32);
      } else {
        std::memcpy(out + o + 1, src, m);
      }
      o += 1 + m;
      return true;
    }
    if (m <= 288) {
      if (o + 2 + m > limit) return false;
      out[o] = kCodeLongCopy | kOneByteCount;
      out[o + 1] = static_cast<uint8_t>(m - 33);
      std::memcpy(out + o + 2, src, m);
      o += 2 + m;
      return true;
    }
    while (m > 0) {
      const size_t part = m > kMaxTwoByteCount ? kMaxTwoByteCount : m;
      if (o + 3 + part > limit) return false;
      out[o] = kCodeLongCopy | kTwoByteCount;
      out[o + 1] = static_cast<uint8_t>(part & 0xFF);
      out[o + 2] = static_cast<uint8_t>(part >> 8);
      std::memcpy(out + o + 3, src, part);
      o += 3 + part;
      src += part;
      m -= part;
    }
    return true;
  }

  // Run code for `r` copies of `b` (an ordinary byte with r >= 3, or a
  // special byte with r >= 65).
  static bool repeat(uint8_t* __restrict out, size_t& o, size_t limit, uint8_t b, size_t r) {
    if (r <= 34) {
      if (o + 2 > limit) return false;
      out[o] = static_cast<uint8_t>(kCodeShortRun | (r - 3));
      out[o + 1] = b;
      o += 2;
      return true;
    }
    if (r <= 290) {
      if (o + 3 > limit) return false;
      out[o] = kCodeLongRun | kOneByteCount;
      out[o + 1] = static_cast<uint8_t>(r - 35);
      out[o + 2] = b;
      o += 3;
      return true;
    }
    while (r > 0) {
      const size_t part = r > kMaxTwoByteCount ? kMaxTwoByteCount : r;
      if (o + 4 > limit) return false;
      out[o] = kCodeLongRun | kTwoByteCount;
      out[o + 1] = static_cast<uint8_t>(part & 0xFF);
      out[o + 2] = static_cast<uint8_t>(part >> 8);
      out[o + 3] = b;
      o += 4;
      r -= part;
    }
    return true;
  }

  uint8_t* out_;
  const uint8_t* record_;
  size_t limit_;
  RunMasks masks_;
};

#ifdef ISMGR_CODEC_BMI2
// The encoder built twice, Encoder::run inlined into each copy: for the
// baseline instruction set, and for processors with BMI2.
bool encode_baseline(uint8_t* out, const uint8_t* record, size_t length, size_t* produced) {
  return Encoder(out, record, length).run(produced);
}

[[gnu::target("bmi,bmi2")]] bool encode_bmi2(uint8_t* out, const uint8_t* record, size_t length,
                                             size_t* produced) {
  return Encoder(out, record, length).run(produced);
}

bool cpu_has_bmi2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2");
}
#endif

}  // namespace

size_t compress(uint8_t* out, const uint8_t* record, size_t length) {
  size_t produced = 0;
#ifdef ISMGR_CODEC_BMI2
  static const bool bmi2 = cpu_has_bmi2();
  const bool done = bmi2 ? encode_bmi2(out, record, length, &produced)
                         : encode_baseline(out, record, length, &produced);
#else
  const bool done = Encoder(out, record, length).run(&produced);
#endif
  if (done) return produced;
  // A code did not fit within the record length: store the record raw.
  out[0] = kCodeRaw;
  if (length != 0) std::memcpy(out + 1, record, length);
  return length + 1;
}

#ifdef ISMGR_CODEC_SSE2
namespace {

inline void store32(uint8_t* out, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), v);
}

// Expands the short codes that make up nearly every business record (short
// literals, blank, zero digit and NUL runs, short runs of 3 to 32 bytes)
// while at least 32 bytes of room and 34 stored bytes remain: every code
// then fits, and its output is written as one 32-byte block, so no code
// needs a check of its own. Returns at a code of another kind, or when room
// runs short; the caller goes on.
inline void expand_short_codes(uint8_t* out, size_t* o_at, const uint8_t* in, size_t* ip_at,
                               size_t in_length, size_t length) {
  size_t o = *o_at;
  size_t ip = *ip_at;
  while (length - o >= 32 && in_length - ip >= 34) {
    const uint8_t code = in[ip];
    const size_t n = static_cast<size_t>(code & 0x1F) + 1;
    const unsigned kind = code >> 5;
    if (kind == 3) {  // n literal bytes
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + ip + 1));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + ip + 17));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), a);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o + 16), b);
      o += n;
      ip += n + 1;
    } else if (kind >= 5) {  // n blanks, digits zero or NUL bytes
      store32(out + o, _mm_set1_epi8(static_cast<char>(kSpecialByte[kind])));
      o += n;
      ip += 1;
    } else if (kind == 1 && n <= 30) {  // n + 2 copies of the next byte
      store32(out + o, _mm_set1_epi8(static_cast<char>(in[ip + 1])));
      o += n + 2;
      ip += 2;
    } else {
      break;
    }
  }
  *o_at = o;
  *ip_at = ip;
}

}  // namespace
#endif

int64_t expand(uint8_t* out, const uint8_t* in, size_t in_length, size_t length, bool truncate) {
  size_t o = 0;
  size_t ip = 0;
  while (o < length) {
#ifdef ISMGR_CODEC_SSE2
    expand_short_codes(out, &o, in, &ip, in_length, length);
    if (o >= length) break;
#endif
    if (ip >= in_length) return -1;  // the stored bytes end before the record does
    const uint8_t code = in[ip++];
    const uint8_t low = code & 0x1F;
    size_t count;
    int fill;  // the byte to repeat, or -1 for a literal copy
    switch (code >> 5) {
      case 0:
        return -1;
      case 1:  // short run of any byte
        if (ip >= in_length) return -1;
        count = static_cast<size_t>(low) + 3;
        fill = in[ip++];
        break;
      case 2:  // long run of any byte
        if (low == kOneByteCount) {
          if (in_length - ip < 2) return -1;
          count = static_cast<size_t>(in[ip]) + 35;
          fill = in[ip + 1];
          ip += 2;
        } else {
          if (in_length - ip < 3) return -1;
          count = static_cast<size_t>(in[ip]) | static_cast<size_t>(in[ip + 1]) << 8;
          fill = in[ip + 2];
          ip += 3;
        }
        break;
      case 3:  // short literal
        count = static_cast<size_t>(low) + 1;
        fill = -1;
        break;
      case 4:  // raw record or long literal
        if (code == kCodeRaw) {
          // Valid only as the first and only code; copies the record in full.
          if (ip != 1 || in_length - 1 < length) return -1;
          std::memcpy(out, in + 1, length);
          return static_cast<int64_t>(length);
        }
        if (low == kOneByteCount) {
          if (ip >= in_length) return -1;
          count = static_cast<size_t>(in[ip]) + 33;
          ip += 1;
        } else {
          if (in_length - ip < 2) return -1;
          count = static_cast<size_t>(in[ip]) | static_cast<size_t>(in[ip + 1]) << 8;
          ip += 2;
        }
        fill = -1;
        break;
      default:  // blanks, digits zero, NUL bytes
        count = static_cast<size_t>(low) + 1;
        fill = kSpecialByte[code >> 5];
        break;
    }
    // A zero count is malformed in either mode: the encoder never writes one,
    // so such a body is damaged even when the record is being truncated.
    if (count == 0) return -1;
    const size_t room = length - o;
    if (count > room) {
      if (!truncate) return -1;
      count = room;
    }
    if (fill < 0) {
      if (count > in_length - ip) return -1;
      if (count <= 32 && room >= 32 && in_length - ip >= 32) {
        std::memcpy(out + o, in + ip, 32);  // the excess is overwritten by later codes
      } else {
        std::memcpy(out + o, in + ip, count);
      }
      ip += count;
    } else if (count <= 32 && room >= 32) {
      std::memset(out + o, fill, 32);
    } else {
      std::memset(out + o, fill, count);
    }
    o += count;
  }
  return static_cast<int64_t>(o);
}

size_t expand_for_read(uint8_t* out, size_t capacity, const uint8_t* in, size_t in_length,
                       size_t record_length) {
  const size_t length = capacity < record_length ? capacity : record_length;
  const int64_t produced = expand(out, in, in_length, length, true);
  if (produced < 0) raise_status(kStatusCompression);
  return static_cast<size_t>(produced);
}

void expand_whole(uint8_t* out, const uint8_t* in, size_t in_length, size_t record_length) {
  if (expand(out, in, in_length, record_length, false) < 0) raise_status(kStatusCompression);
}

}  // namespace ismgr
