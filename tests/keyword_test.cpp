#include "ismgr/runtime/keyword.h"

#include <gtest/gtest.h>

#include <string>

namespace ismgr {
namespace {

TEST(MatchKeyword, Table) {
  const std::string long80 = "k" + std::string(79, 'e');
  const std::string long81 = long80 + "y";
  const char* const keys[] = {"key", "keys", "name", "case", ""};
  const char* const later_exact[] = {"sizes", "size", ""};
  const char* const one[] = {"yes", ""};
  const char* const yes_no[] = {"yes", "no", ""};
  const char* const long_table[] = {long81.c_str(), long80.c_str(), ""};
  const char* const high[] = {"\xe9t\xe9", ""};
  const struct {
    std::string text;
    const char* const* table;
    int result, negated;
  } rows[] = {
      {"ke", keys, kKeywordAmbiguous, 0},
      {"KEY", keys, 0, 0},
      {"Na", keys, 2, 0},
      {"names", keys, kKeywordNotFound, 0},
      {"size", later_exact, 1, 0},  // an exact match later wins over a prefix
      {"siz", later_exact, kKeywordAmbiguous, 0},
      {"NOCASE", keys, 3, 1},
      {"no", keys, kKeywordAmbiguous, 1},  // the empty rest matches every entry
      {"no", one, 0, 1},
      {"n", keys, 2, 0},  // a single "n" is no prefix
      {"none", yes_no, kKeywordNotFound, 1},
      {long80, long_table, 1, 0},
      {long81, long_table, kKeywordNotFound, 0},  // longer than 80
      {"key", nullptr, kKeywordNotFound, 0},
      {"\xe9T", high, 0, 0},  // only A to Z fold
      {"\xc9T", high, kKeywordNotFound, 0},
  };
  for (const auto& r : rows) {
    int negated = 7;
    EXPECT_EQ(match_keyword(r.text.c_str(), r.table, &negated), r.result) << r.text;
    EXPECT_EQ(negated, r.negated) << r.text;
  }
  EXPECT_EQ(match_keyword("nocase", keys, nullptr), 3);
}

}  // namespace
}  // namespace ismgr
