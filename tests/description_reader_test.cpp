#include "ismgr/describe/description_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ismgr/describe/xdl_keywords.h"
#include "ismgr/runtime/keyword.h"
#include "ismgr/runtime/status.h"
#include "support/detail_capture.h"

namespace ismgr {
namespace {

using testing_support::DetailCapture;
using testing_support::status_of;

std::string xdl(const std::string& text) {
  std::string name;
  return description_from_xdl(text, "test.xdl", &name);
}

// One row per XDL text and the description it reads as.
TEST(Reader, XdlTextTable) {
  const std::string v532(532, 'v');
  const std::pair<std::string, std::string> rows[] = {
      {"TITLE \"x\"\nIDENT y\nFILE\n  NAME cust\n  SIZE 100 FORMAT fixed\n",
       "FILE;NAME cust;SIZE 100;FORMAT fixed;"},
      // An AREA section is dropped up to the next section.
      {"FILE\nAREA 0\n  ALLOCATION 10\n  SIZE 5\nRECORD\n  SIZE 7\n", "FILE;RECORD;SIZE 7;"},
      // Non-keywords after the first section take their line along.
      {"FILE\nBOGUS SIZE 5\nSIZE 6\n", "FILE;SIZE 6;"},
      {"FILE\nSYSTEM SIZE 5\n", "FILE;SIZE 5;"},  // section words keep the rest of the line
      {"FILE\nOWNER me\nPROTECTION x\nSIZE 1\n", "FILE;SIZE 1;"},  // ignored even in a section
      {"KEY 0\nSEG3_POSITION 10\nSEG0_LENGTH 4\n", "KEY 0;SEGPOS 10;SEGLEN 4;"},
      {"KEY 0\nSEG_POSITION_LENGTH 3\n", "KEY 0;SEGLEN 3;"},  // both words: LENGTH wins
      {"FILE\nFILE_MONITORING no\nSIZE 3\n", "FILE;static_rfa yes ;SIZE 3;"},
      {"FILE\nFILE_MON\nSIZE 3\n", "FILE;static_rfa yes ;SIZE 3;"},
      {"FILE_MONITORING yes\n", ""},             // outside a section: dropped
      {"FILE\nKEY\n", "FILE;KEY ;"},             // alone at the line's end
      {"FILE\nSIZE \n100\n", "FILE;SIZE 100;"},  // one blank: value on the next line
      {"FILE\nSIZE  \n100\n", "FILE;SIZE ;"},    // two blanks: empty value
      {"FILE\nSIZE! record size\n100\n", "FILE;SIZE 100;"},
      {"FILE\nNAME \"a b;c!d\"\n", "FILE;NAME \"a b;c!d\";"},  // quotes keep everything
      {"FILE\nNAME 'x y'\n", "FILE;NAME 'x y';"},
      {"FILE\nNAME \"open", "FILE;NAME \"open;"},  // unterminated: to the end
      {"FILE\nSIZE 100 ! blah\n", "FILE;SIZE 100;"},
      {"FILE\nSIZE 100!zz\n", "FILE;SIZE 100;"},
      // A comment word that is a keyword prefix: "note" is "te" negated,
      // ambiguous between TEXT_ALLOCATION and TEXT.
      {"FILE\nSIZE 100!note\n", "FILE;SIZE 100;NOTE ;"},
      {"file\nname Cust\n", "FILE;NAME Cust;"},  // keywords folded, values not
      {"FILE\nNUL x\n", "FILE;NUL x;"},          // ambiguous: for the parser to report
      {"", ""},
      {"! only a comment", ""},
      {"FILE\r\n  NAME cust\r\n  SIZE 100\r\n\x1a", "FILE;NAME cust;SIZE 100;"},
      {"FILE\r\nKEY\r\n", "FILE;KEY ;"},
      {"FILE\nSIZE 1\n\x1aSIZE 2\n", "FILE;SIZE 1;"},  // nothing after a Ctrl-Z
      {"FILE\nNAME " + v532 + "\n", "FILE;NAME " + v532 + ";"},
      // A word longer than the word buffer is cut, never overrun, not found.
      {"FILE\n" + std::string(500, 'S') + " 5\nSIZE 4\n", "FILE;SIZE 4;"}};
  for (const auto& [text, want] : rows) EXPECT_EQ(xdl(text), want) << text.substr(0, 80);
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
  const std::string path = ::testing::TempDir() + "reader_test.xdl";  // CRLF lines
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("FILE\r\n NAME x\r\n", f);
  std::fclose(f);
  EXPECT_EQ(read_description_file(path.c_str(), nullptr), "FILE;NAME x;");
  std::remove(path.c_str());
}

TEST(Scanners, ValueEdgeCases) {
  std::string value;
  const std::string missing = "KEY ;SIZE 4;";
  const char* p = missing.c_str() + 4;
  EXPECT_EQ(next_value(p, &value), 0u);
  EXPECT_EQ(std::string(p), "SIZE 4;");
  // An empty quoted value is no value; an unterminated one stops at the NUL.
  const std::string empty_quoted = "'';X";
  p = empty_quoted.c_str();
  EXPECT_EQ(next_value(p, &value), 0u);
  EXPECT_EQ(std::string(p), "X");
  const std::string open = "\"abc";
  p = open.c_str();
  EXPECT_EQ(next_value(p, &value), 3u);
  EXPECT_EQ(*p, '\0');
  // 529 characters are a value, 530 are not.
  const std::string v529 = std::string(529, 'a') + ";";
  p = v529.c_str();
  EXPECT_EQ(next_value(p, &value), 529u);
  const std::string v530 = std::string(530, 'a') + ";NEXT";
  p = v530.c_str();
  EXPECT_EQ(next_value(p, &value), 0u);
  EXPECT_EQ(std::string(p), "NEXT");
}

std::vector<int64_t> numbers(const std::string& list) {
  const char* p = list.data();
  int64_t remaining = static_cast<int64_t>(list.size());
  std::vector<int64_t> out;
  int more = 1;
  while (more) out.push_back(next_list_item(p, remaining, &more, kListNumber, nullptr));
  return out;
}

TEST(Scanners, ListItems) {
  EXPECT_EQ(numbers("1:11:21"), (std::vector<int64_t>{1, 11, 21}));
  EXPECT_EQ(numbers("10:20,30"), (std::vector<int64_t>{10, 20}));
  EXPECT_EQ(numbers("'A':5"), (std::vector<int64_t>{65}));
  EXPECT_EQ(numbers("\"\\42\""), (std::vector<int64_t>{42}));
  EXPECT_EQ(numbers("::"), (std::vector<int64_t>{-1, -1}));
  EXPECT_EQ(numbers(""), (std::vector<int64_t>{-1}));
  EXPECT_EQ(numbers("-3x"), (std::vector<int64_t>{-3}));
  EXPECT_EQ(numbers(std::string(531, '1')), (std::vector<int64_t>{-1}));
  // The list length bounds the scan even without a terminator in memory.
  const char bytes[] = {'7', ':', '8', ':', '9'};
  const char* p = bytes;
  int64_t remaining = 3;
  int more = 0;
  EXPECT_EQ(next_list_item(p, remaining, &more, kListNumber, nullptr), 7);
  EXPECT_EQ(more, 1);
  EXPECT_EQ(next_list_item(p, remaining, &more, kListNumber, nullptr), 8);
  EXPECT_EQ(more, 0);
  EXPECT_EQ(remaining, 0);

  const std::string types = "int4:dstring";
  p = types.data();
  remaining = static_cast<int64_t>(types.size());
  std::string item;
  EXPECT_EQ(next_list_item(p, remaining, &more, kListText, &item), 4);
  EXPECT_EQ(item, "int4");
  EXPECT_EQ(next_list_item(p, remaining, &more, kListText, &item), 7);
  EXPECT_EQ(item, "dstring");
  EXPECT_EQ(more, 0);
  EXPECT_EQ(next_list_item(p, remaining, &more, kListText, &item), 0);
}

TEST(Scanners, CountKeySections) {
  EXPECT_EQ(count_key_sections("FILE;NAME x;KEY 0;LENGTH 4;KEY 1;START 1;"), 2);
  // A final keyword with nothing after it is not counted.
  EXPECT_EQ(count_key_sections("FILE;KEY 0;LENGTH 4;KEY"), 1);
  // A quoted value holding "KEY" is a value, not a section.
  EXPECT_EQ(count_key_sections("FILE;NAME \"KEY 0;\";KEY 0;X 1;"), 1);
  // Only the exact word counts.
  EXPECT_EQ(count_key_sections("FILE;KE 0;KEYS 2;X 1;"), 0);
  EXPECT_EQ(count_key_sections(""), 0);
  EXPECT_EQ(count_key_sections(nullptr), 0);
}

TEST(Numbers, DecimalAndBasePrefixes) {
  EXPECT_EQ(description_number("  42abc"), 42);
  EXPECT_EQ(description_number("-7"), -7);
  EXPECT_EQ(description_number("abc"), 0);
  EXPECT_EQ(description_number("99999999999999999999999"), INT64_MAX);
  const struct {
    const char* text;
    int64_t value;
    size_t end;
  } rows[] = {{"0x1F", 31, 4}, {"010K", 8, 3}, {"2K", 2, 1}, {"K", 0, 0}, {"0", 0, 1}};
  for (const auto& r : rows) {
    size_t end = 99;
    EXPECT_EQ(description_number_with_base(r.text, &end), r.value) << r.text;
    EXPECT_EQ(end, r.end) << r.text;
  }
}

}  // namespace
}  // namespace ismgr
