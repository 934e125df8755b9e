// The character class table: 256 class masks indexed by the unsigned
// character code. All case folding and parsing in the layer goes through it.
#ifndef ISMGR_RUNTIME_CHAR_CLASS_H_
#define ISMGR_RUNTIME_CHAR_CLASS_H_

#include <array>
#include <cstdint>

namespace ismgr {

enum CharClass : uint32_t {
  kCcDigit = 0x1,
  kCcLower = 0x2,
  kCcPunct = 0x4,
  kCcSpace = 0x8,
  kCcUpper = 0x10,
  kCcHex = 0x20,
  kCcAlnum = 0x40,
  kCcQuote = 0x100,
  kCcDollar = 0x200,  // the dollar sign and the underscore
  kCcWild = 0x400,
  kCcVowel = 0x800,
};

// The process-wide table. Its fixed contents are set at load; the start-up
// may adapt codes 128 to 254 to a single-byte locale (adapt_char_classes).
extern std::array<uint32_t, 256> g_char_class;

inline uint32_t char_class(unsigned char c) {
  return g_char_class[c];
}
inline bool is_digit(unsigned char c) {
  return (g_char_class[c] & kCcDigit) != 0;
}
inline bool is_space(unsigned char c) {
  return (g_char_class[c] & kCcSpace) != 0;
}
// Upper-casing clears bit 0x20 of a lower-case letter; lower-casing sets it
// on an upper-case letter.
inline unsigned char to_upper(unsigned char c) {
  return (g_char_class[c] & kCcLower) ? static_cast<unsigned char>(c & ~0x20) : c;
}
inline unsigned char to_lower(unsigned char c) {
  return (g_char_class[c] & kCcUpper) ? static_cast<unsigned char>(c | 0x20) : c;
}

// Restores the fixed contents (for tests).
void reset_char_classes();
// Adapts codes 128 to 254 to the current C locale when it is a single-byte
// locale; under a multi-byte locale single bytes above 127 are not
// characters and the fixed classes stay.
void adapt_char_classes();

}  // namespace ismgr

#endif  // ISMGR_RUNTIME_CHAR_CLASS_H_
