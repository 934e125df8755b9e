#include "ismgr/describe/description_reader.h"

#include <gtest/gtest.h>

#include <sstream>

#include "ismgr/describe/xdl_keywords.h"
#include "support/data_rows.h"
#include "support/detail_capture.h"

namespace ismgr {
namespace {

using testing_support::DetailCapture;
using testing_support::status_of;

std::string xdl(const std::string& text) {
  std::string name;
  return description_from_xdl(text, "test.xdl", &name);
}

TEST(Reader, XdlTexts) {
  EXPECT_EQ(xdl(""), "");
  for (const auto& r : test::data_rows("xdl_texts.tsv"))
    EXPECT_EQ(xdl(r[0]), r.fields.size() > 1 ? r[1] : "") << r.where;
}

// Refusals: a comment where the value should be, an overlong value (532
// characters are a value, 533 not), a missing file; the name is kept.
TEST(Reader, RefusalsAndFiles) {
  DetailCapture d;
  std::string name;
  EXPECT_EQ(status_of([&] { description_from_xdl("FILE\nSIZE ! c\n100\n", "bad.xdl", &name); }),
            kStatusXdlFile);
  EXPECT_EQ(name, "bad.xdl");
  ASSERT_EQ(d.details().size(), 2u);
  EXPECT_EQ(d.details()[0].text, "No value supplied before comment");
  EXPECT_EQ(d.details()[1].code, kDetailKeywordSpecified);
  EXPECT_EQ(d.details()[1].value, "SIZE");
  d.clear();
  const std::string v533 = "FILE\nNAME " + std::string(533, 'v') + "\n";
  EXPECT_EQ(status_of([&] { description_from_xdl(v533, "b.xdl", &name); }), kStatusXdlFile);
  ASSERT_EQ(d.details().size(), 3u);
  EXPECT_EQ(d.details()[0].text, "String exceeds maximum length");
  EXPECT_EQ(d.details()[2].value, "NAME");
  const std::string quoted = "FILE\nNAME \"" + std::string(600, 'q');
  EXPECT_EQ(status_of([&] { description_from_xdl(quoted, "b.xdl", &name); }), kStatusXdlFile);
  EXPECT_EQ(status_of([&] { read_description_file("/nonexistent/dir/none.xdl", &name); }),
            kStatusFileNotFound);
  EXPECT_EQ(name, "/nonexistent/dir/none.xdl");
}

TEST(Scanners, ValuesAndLists) {
  for (const auto& r : test::data_rows("scanner_values.tsv")) {
    std::string value;
    const char* p = r[1].c_str();
    if (r[0] == "value") {
      EXPECT_EQ(next_value(p, &value), std::stoul(r[2])) << r.where;
      EXPECT_EQ(std::string(p), r.fields.size() > 3 ? r[3] : "") << r.where;
      continue;
    }
    int64_t remaining = static_cast<int64_t>(r[1].size());
    std::istringstream want(r[2]);
    int more = 1;
    for (int64_t n; want >> n;) {
      EXPECT_EQ(more, 1) << r.where;
      EXPECT_EQ(next_list_item(p, remaining, &more, kListNumber, nullptr), n) << r.where;
    }
    EXPECT_EQ(more, 0) << r.where;
  }
}

// (The prefixed bases are the TEXT_ALLOCATION values of the parser test.)
TEST(Numbers, DecimalSaturates) {
  EXPECT_EQ(description_number("  42abc"), 42);
  EXPECT_EQ(description_number("-7"), -7);
  EXPECT_EQ(description_number("99999999999999999999999"), INT64_MAX);
  size_t end = 99;
  EXPECT_EQ(description_number_with_base("K", &end), 0);
  EXPECT_EQ(end, 0u);
}

}  // namespace
}  // namespace ismgr
