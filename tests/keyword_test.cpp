#include "ismgr/runtime/keyword.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ismgr {
namespace {

const char* const kKeyTable[] = {"key", "keys", "name", "case", ""};

TEST(MatchKeyword, PrefixesAndExactMatch) {
  int neg = 7;
  EXPECT_EQ(match_keyword("ke", kKeyTable, &neg), kKeywordAmbiguous);
  EXPECT_EQ(neg, 0);
  EXPECT_EQ(match_keyword("key", kKeyTable, &neg), 0);
  EXPECT_EQ(match_keyword("KEYS", kKeyTable, &neg), 1);
  EXPECT_EQ(match_keyword("Na", kKeyTable, &neg), 2);
  EXPECT_EQ(match_keyword("names", kKeyTable, &neg), kKeywordNotFound);
  EXPECT_EQ(match_keyword("x", kKeyTable, &neg), kKeywordNotFound);
  // An exact match later in the table wins over an earlier prefix match.
  const char* const later_exact[] = {"sizes", "size", ""};
  EXPECT_EQ(match_keyword("size", later_exact, nullptr), 1);
  EXPECT_EQ(match_keyword("siz", later_exact, nullptr), kKeywordAmbiguous);
}

TEST(MatchKeyword, NoPrefixIsStrippedAndReported) {
  int neg = 0;
  EXPECT_EQ(match_keyword("NOCASE", kKeyTable, &neg), 3);
  EXPECT_EQ(neg, 1);
  EXPECT_EQ(match_keyword("nokey", kKeyTable, &neg), 0);
  EXPECT_EQ(neg, 1);
  // "no" alone leaves an empty text that matches every entry.
  EXPECT_EQ(match_keyword("no", kKeyTable, &neg), kKeywordAmbiguous);
  EXPECT_EQ(neg, 1);
  const char* const one[] = {"yes", ""};
  EXPECT_EQ(match_keyword("no", one, &neg), 0);
  EXPECT_EQ(neg, 1);
  // A single "n" is not a no prefix.
  EXPECT_EQ(match_keyword("n", kKeyTable, &neg), 2);
  EXPECT_EQ(neg, 0);
  // "none" is "ne" negated: not in this table, but the flag says no.
  const char* const yes_no[] = {"yes", "no", ""};
  EXPECT_EQ(match_keyword("none", yes_no, &neg), kKeywordNotFound);
  EXPECT_EQ(neg, 1);
  // A null flag pointer is allowed (the "strip and ignore" rule).
  EXPECT_EQ(match_keyword("nocase", kKeyTable, nullptr), 3);
}

TEST(MatchKeyword, LengthLimitsAndEmptyTables) {
  int neg = 0;
  EXPECT_EQ(match_keyword("", kKeyTable, &neg), kKeywordNotFound);
  const std::string long80 = "k" + std::string(79, 'e');
  const std::string long81 = long80 + "y";
  const std::vector<std::string> storage = {long80 + "y", long80};
  const char* const long_table[] = {storage[0].c_str(), storage[1].c_str(), ""};
  EXPECT_EQ(match_keyword(long80, long_table, &neg), 1);
  EXPECT_EQ(match_keyword(long81, long_table, &neg), kKeywordNotFound);
  const char* const empty[] = {""};
  EXPECT_EQ(match_keyword("key", empty, &neg), kKeywordNotFound);
  EXPECT_EQ(match_keyword("key", nullptr, &neg), kKeywordNotFound);
  const char* const null_ended[] = {"key", nullptr};
  EXPECT_EQ(match_keyword("k", null_ended, &neg), 0);
  // Only A to Z fold: a character above 127 must match exactly.
  const char* const high[] = {"\xe9t\xe9", ""};
  EXPECT_EQ(match_keyword("\xe9T", high, &neg), 0);
  EXPECT_EQ(match_keyword("\xc9T", high, &neg), kKeywordNotFound);
}

struct Seen {
  int code;
  std::string text;
  int64_t value;
  std::string value_text;
};
std::vector<Seen> g_seen;

void record(void* context, int code, const char* text, int64_t value) {
  EXPECT_EQ(context, nullptr);
  g_seen.push_back(
      {code, text ? text : "", value, detail_value_is_text(code) ? detail_value_text(value) : ""});
}

TEST(DetailHook, InstallReportAndRemove) {
  g_seen.clear();
  report_detail(nullptr, kDetailMessage, "dropped", 0);  // no hook: dropped
  EXPECT_EQ(set_detail_hook(record), nullptr);
  EXPECT_EQ(detail_hook(), record);
  report_detail(nullptr, kDetailMessageNumber, "Invalid key length:", 300);
  report_detail_text(nullptr, kDetailValueNotAllowed, "TYPE", "blob");
  report_detail_text(nullptr, kDetailKeywordSpecified, "Keyword specified:", nullptr);
  EXPECT_EQ(set_detail_hook(nullptr), record);
  report_detail(nullptr, kDetailMessage, "dropped again", 0);
  ASSERT_EQ(g_seen.size(), 3u);
  EXPECT_EQ(g_seen[0].code, 1054);
  EXPECT_EQ(g_seen[0].text, "Invalid key length:");
  EXPECT_EQ(g_seen[0].value, 300);
  EXPECT_EQ(g_seen[1].code, 1222);
  EXPECT_EQ(g_seen[1].value_text, "blob");
  EXPECT_EQ(g_seen[2].value_text, "");
  EXPECT_FALSE(detail_value_is_text(kDetailNumberRange));
}

}  // namespace
}  // namespace ismgr
