#include "ismgr/runtime/char_class.h"

#include <gtest/gtest.h>

namespace ismgr {
namespace {

TEST(CharClass, FixedContents) {
  reset_char_classes();
  EXPECT_EQ(char_class('7'), 0x41u);
  EXPECT_EQ(char_class(' '), 0x8u);
  EXPECT_EQ(char_class('\t'), 0x8u);
  EXPECT_EQ(char_class('!'), 0x4u);
  EXPECT_EQ(char_class(','), 0x44u);
  EXPECT_EQ(char_class('~'), 0x44u);
  EXPECT_EQ(char_class('"'), 0x104u);
  EXPECT_EQ(char_class('\''), 0x104u);
  EXPECT_EQ(char_class('$'), 0x204u);
  EXPECT_EQ(char_class('_'), 0x244u);
  EXPECT_EQ(char_class('*'), 0x404u);
  EXPECT_EQ(char_class('?'), 0x404u);
  EXPECT_EQ(char_class('b'), 0x62u);
  EXPECT_EQ(char_class('f'), 0x62u);
  EXPECT_EQ(char_class('g'), 0x42u);
  EXPECT_EQ(char_class('F'), 0x70u);
  EXPECT_EQ(char_class('Z'), 0x50u);
  EXPECT_EQ(char_class('a'), 0x862u);
  EXPECT_EQ(char_class('o'), 0x842u);
  EXPECT_EQ(char_class('E'), 0x870u);
  EXPECT_EQ(char_class('U'), 0x850u);
  EXPECT_EQ(char_class(0xC1), 0x10u);
  EXPECT_EQ(char_class(0xFA), 0x2u);
  EXPECT_EQ(char_class(0xC0), 0u);
  EXPECT_EQ(char_class(0xFF), 0u);
  EXPECT_EQ(char_class('@'), 0u);
  EXPECT_EQ(char_class(0), 0u);
}

TEST(CharClass, CaseFolding) {
  reset_char_classes();
  EXPECT_EQ(to_upper('q'), 'Q');
  EXPECT_EQ(to_upper('Q'), 'Q');
  EXPECT_EQ(to_upper('1'), '1');
  EXPECT_EQ(to_lower('Q'), 'q');
  EXPECT_EQ(to_upper(0xE1), 0xC1);
  EXPECT_EQ(to_lower(0xDA), 0xFA);
  EXPECT_EQ(to_upper('@'), '@');  // '@' | 0x20 would be '`': no class, untouched
}

}  // namespace
}  // namespace ismgr
