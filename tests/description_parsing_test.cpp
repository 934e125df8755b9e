// The description language: the parser, the XDL reader and its scanners,
// and the creation options of a file name.
#include <gtest/gtest.h>

#include <sstream>

#include "ismgr/describe/create_options.h"
#include "ismgr/describe/description_reader.h"
#include "ismgr/describe/xdl_keywords.h"
#include "ismgr/describe/xdl_parser.h"
#include "support/data_rows.h"
#include "support/detail_capture.h"

namespace ismgr {
namespace {

using testing_support::DetailCapture;
using testing_support::status_of;

// The description parser. Each keyword's accepted values are reproduced by
// the generated-description round trip (conformance_test) and the file bytes
// by the builder's fixed points (file_creation_test); here are the name
// handling, the ignored words and the refusals with their details.
const std::string kHead = "FILE;NAME cust;RECORD;SIZE 100;";

class ParserTest : public ::testing::Test {
 protected:
  std::unique_ptr<FileDescription> parse(const std::string& text, int revision = 6) {
    const char* cursor = text.c_str();
    return build_file_description(cursor, &name_, revision);
  }
  // The status the description fails with (0 if it parses).
  int status(const std::string& text, int revision = 6) {
    return status_of([&] { parse(text, revision); });
  }
  DetailCapture details_;
  std::string name_;
};

TEST_F(ParserTest, TheNameIgnoredWordsAndTheRecordEnd) {
  // A name given by the open with only options gets the NAME in front
  // (a whole one is kept: the round trip's); without NAME the open's name
  // must be there.
  name_ = ",page=1024";
  parse("FILE;NAME other;SIZE 10;");
  EXPECT_EQ(name_, "other,page=1024");
  EXPECT_EQ(status("FILE;SIZE 10;"), 0);
  name_.clear();  // port ints go to the name as options
  auto d = parse("FILE;PORT_INT 10:4;NAME cust;PORT_INT 20:2;SIZE 40;");
  EXPECT_EQ(name_, "cust, i=10:4, i=20:2");
  EXPECT_EQ(d->port_int_count, 0);
  name_.clear();  // the name buffer is never overrun (see the refusals)
  EXPECT_EQ(status("FILE;NAME " + std::string(529, 'n') + ";SIZE 4;"), 0);
  name_.clear();
  EXPECT_EQ(status("FILE;NAME x;PORT_INT ;SIZE 4;"), kStatusXdlString);
  EXPECT_EQ(name_, "x, i=") << "the option is appended even when its value is missing";
  // Keywords before the first section, mistyped keywords and those of the
  // older language are ignored with their values; a final keyword with
  // nothing after it is not acted on; section words take no value.
  d = parse("TITLE x;SIZE 7;FILE;NAME x;SIZZLE 9;OWNER me;RECORD;SIZE 10;AREA 0;SIZE 99;");
  EXPECT_EQ(d->record_size, 10);
  EXPECT_EQ(parse("FILE;NAME x;SIZE 10;SIZE")->record_size, 10);
  EXPECT_EQ(parse("FILE;NAME x;SYSTEM SIZE 10;")->record_size, 10);
  EXPECT_EQ(status(kHead + "KEY 0;START 91;LENGTH 10;"), 0);  // ends at the record's end
  // TEXT_ALLOCATION in bytes rounds up to whole kilobytes; K takes them as given.
  const std::pair<std::string, int> allocations[] = {
      {"1025", 2}, {"0x400", 1}, {"261120", 255}, {"010k", 8}};
  for (const auto& [given, kb] : allocations)
    EXPECT_EQ(parse(kHead + "TEXT_ALLOCATION " + given + ";")->text_alloc_kb, kb) << given;
  d = parse(kHead + "TEXT_ALLOCATION 2K;TEXT x;SEED 5;", 4);  // ignored below revision 6
  EXPECT_EQ(d->text_alloc_kb, 0);
  EXPECT_EQ(d->seed, 0);
  EXPECT_EQ(status(kHead + "SEED 5;KEY 0;START 1;LENGTH 8;", 4), 0);
}

TEST_F(ParserTest, Refusals) {
  for (const auto& r : test::data_rows("parser_refusals.tsv")) {
    std::string text = r[4];
    if (text[0] == '@' || text[0] == '%') {
      text =
          kHead + (text[0] == '%' ? "KEY 0;START 1;LENGTH 4;KEY 1;START 5;" : "") + text.substr(1);
    }
    details_.clear();
    name_.clear();
    EXPECT_EQ(status(text, r.number(3)), r.number(0)) << r.where;
    EXPECT_TRUE(r.number(1) == 0 || details_.has(r.number(1), r[2])) << r.where << details_.dump();
  }
  std::string many = kHead;  // TEXT beyond 65535 bytes in all
  for (int i = 0; i < 124; ++i) many += "TEXT " + std::string(529, 't') + ";";
  std::string full = "FILE;NAME x;SIZE 300;KEY 0;START 1;LENGTH 4;";  // five 255-byte nulls
  for (char k = '1'; k <= '5'; ++k)
    full += "KEY " + std::string(1, k) + ";START 1;LENGTH 4;NULL noreplicate;VALUE_NULL " +
            std::string(254, 'a') + ";";
  details_.clear();
  EXPECT_EQ(status(many), kStatusXdlString);
  EXPECT_TRUE(details_.has(kDetailMessageNumber, "TEXT length exceeds 65535 maximum:"));
  EXPECT_EQ(status(full + "X 1;"), kStatusInvalidNull);
  EXPECT_TRUE(details_.has(kDetailMessage, "Null block is full"));
  name_.clear();
  EXPECT_EQ(status("FILE;NAME " + std::string(529, 'n') + ";PORT_INT 1:2;SIZE 4;"),
            kStatusNameTooLong);
  EXPECT_EQ(status(kHead +
                   "KEY 0;START 1;LENGTH 4;KEY 1;START 5;LENGTH 4;NULL noreplicate;"
                   "VALUE_NULL " +
                   std::string(255, 'v') + ";"),
            kStatusInvalidNull);
  details_.clear();
  EXPECT_EQ(status(kHead + "KEY 0;START 1:201;LENGTH 200:100;"), kStatusXdlString);
  EXPECT_EQ(details_.details()[0].value, "300");  // the key length, in the detail
}

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

class OptionsTest : public ::testing::Test {
 protected:
  OptionsTest() { d_.record_size = 10; }
  uint8_t apply(const std::string& name, int revision = 6) {
    name_ = name;
    return apply_create_options(&name_, d_, &ports_, &map_, &text_, revision);
  }
  int status(const std::string& name, int revision = 6) {
    return status_of([&] { apply(name, revision); });
  }
  FileDescription d_;
  std::string name_;
  std::vector<PortIntEntry> ports_;
  std::vector<uint8_t> map_;
  CreateText text_;
  DetailCapture details_;
};

TEST_F(OptionsTest, Flags) {
  for (const auto& r : test::data_rows("option_flags.tsv")) {
    d_ = FileDescription();
    d_.file_flags = r[0].size() < 9 ? 0x10 : 0;
    EXPECT_EQ(apply(r[0]), std::stoul(r[1], nullptr, 16)) << r.where;
    EXPECT_EQ(name_, r[0].substr(0, r[0].find(','))) << r.where;
  }
  EXPECT_EQ(d_.page_units, 0);
  apply("cust,page=4096");
  EXPECT_EQ(d_.page_units, 16);
}

TEST_F(OptionsTest, Refusals) {
  for (const auto& r : test::data_rows("option_refusals.tsv")) {
    d_ = FileDescription();
    d_.record_size = 10;
    map_.clear(), details_.clear();
    EXPECT_EQ(status(r[3], r.number(0)), r.number(1)) << r.where;
    EXPECT_TRUE(r[2].empty() || details_.has(kDetailMessage, r[2])) << r.where << details_.dump();
  }
  EXPECT_EQ(status("c,text='" + std::string(65536, 'x') + "'"), kStatusInvalidOption);
  EXPECT_EQ(status("c,text='" + std::string(65535, 'x') + "'"), 0);
  EXPECT_EQ(text_.text.size(), 65535u);
  details_.clear();
  EXPECT_EQ(status("c,bogus=1"), kStatusInvalidOption);
  EXPECT_EQ(details_.dump(), std::to_string(kDetailInvalidOption) + " bogus=1 [0]\n");
  details_.clear();
  EXPECT_EQ(status("c,st" + std::string(300, 'x')), kStatusInvalidOption);
  EXPECT_EQ(details_.details()[0].text.size(), 128u);  // the option shown cut
}

TEST_F(OptionsTest, NumbersSeedTrackingAndPortableIntegers) {
  apply("c,alloc=500,density=50,ralloc=7");
  EXPECT_EQ(d_.allocation, 7u);
  EXPECT_EQ(d_.file_flags2, 0x140u);
  apply("c,seed=5", 5);  // below revision 6 no seed
  EXPECT_EQ(d_.seed, 0);
  apply("c,seed=1,i");  // the least seed; "i" without a value is passed over
  EXPECT_EQ(d_.seed, 1);
  EXPECT_TRUE(map_.empty());
  apply("c,tr=0");
  EXPECT_EQ(d_.change_tracking_start, -1);
  apply("c,i=1:4, i = 5:2 ,i=7:1");
  EXPECT_EQ(d_.port_int_count, 3);
  EXPECT_EQ(map_, (std::vector<uint8_t>{0x44, 4, 4, 0x84, 0x44, 0x84, 0x44, 0, 0, 0}));
}

TEST_F(OptionsTest, CountPortIntOptions) {
  FileDescription d;
  EXPECT_EQ(count_port_int_options("i=1:4, i =2:2,index=3,i,page=1024", d), 3);
  EXPECT_EQ(d.port_int_count, 3);
  EXPECT_EQ(count_port_int_options("", d), 0);
  // Text between the word and "=" is skipped when the options are read, so
  // the count must include such an option too.
  apply("c,i\vjunk=1:2");
  EXPECT_EQ(ports_.size(), 1u);
  EXPECT_EQ(d_.port_int_count, 1);
  d.port_int_count = 254;
  EXPECT_EQ(status_of([&] { count_port_int_options("i=1:1,i=2:1", d); }), kStatusInvalidOption);
}

// (The text's own form is the header image's.) Options after a text are
// still applied; an empty value ends the option string.
TEST_F(OptionsTest, FileText) {
  apply("c,text=2K:'x',page=1024");
  EXPECT_EQ(d_.text_alloc_kb * 100 + d_.page_units, 204);
  d_ = FileDescription();
  apply("c,text=,page=1024");
  EXPECT_EQ(d_.page_units, 0);
}

}  // namespace
}  // namespace ismgr
