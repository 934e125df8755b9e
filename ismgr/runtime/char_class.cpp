#include "ismgr/runtime/char_class.h"

#include <array>
#include <cctype>
#include <clocale>
#include <cstdlib>
#include <cstring>

namespace ismgr {

namespace {

// Built at compile time, so the table is valid before any static initializer
// of another file runs.
constexpr std::array<uint32_t, 256> fixed_table() {
  std::array<uint32_t, 256> t{};
  for (int c = '0'; c <= '9'; ++c) t[c] = 0x41;
  for (int c : {'\t', '\n', '\v', '\f', '\r', ' '}) t[c] = 0x8;
  for (int c : {'!', '#', '%', '&', '(', ')', '+', '-', '/', '=', '{', '|', '}'}) t[c] = 0x4;
  for (int c : {',', '.', ':', ';', '~'}) t[c] = 0x44;
  t['"'] = 0x104;
  t['\''] = 0x104;
  t['$'] = 0x204;
  t['_'] = 0x244;
  t['*'] = 0x404;
  t['?'] = 0x404;
  for (int c = 'a'; c <= 'z'; ++c) t[c] = 0x42;
  for (int c = 'A'; c <= 'Z'; ++c) t[c] = 0x50;
  for (int c = 'a'; c <= 'f'; ++c) t[c] |= 0x20;
  for (int c = 'A'; c <= 'F'; ++c) t[c] |= 0x20;
  for (int c : {'a', 'e', 'i', 'o', 'u'}) t[c] |= 0x800;
  for (int c : {'A', 'E', 'I', 'O', 'U'}) t[c] |= 0x800;
  for (int c = 0xC1; c <= 0xDA; ++c) t[c] = 0x10;
  for (int c = 0xE1; c <= 0xFA; ++c) t[c] = 0x2;
  return t;
}

constexpr std::array<uint32_t, 256> kFixed = fixed_table();

}  // namespace

// Constant-initialized: valid before any static initializer of another file.
constinit std::array<uint32_t, 256> g_char_class = kFixed;
static_assert(kFixed['0'] == 0x41 && kFixed['_'] == 0x244 && kFixed['a'] == 0x862);
static_assert(kFixed['b'] == 0x62 && kFixed['B'] == 0x70 && kFixed['I'] == 0x850);

void reset_char_classes() {
  g_char_class = kFixed;
}

void adapt_char_classes() {
  if (MB_CUR_MAX != 1) return;
  for (int c = 128; c <= 254; ++c) {
    uint32_t cls = g_char_class[c] & ~static_cast<uint32_t>(kCcUpper | kCcLower);
    if (std::isupper(c)) {
      cls |= kCcUpper;
    } else if (std::islower(c)) {
      cls |= kCcLower;
    }
    g_char_class[c] = cls;
  }
}

}  // namespace ismgr
