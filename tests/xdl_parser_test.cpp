// The description parser. Each keyword's accepted values are reproduced by
// the generated-description round trip (conformance_test) and the file bytes
// by the builder's fixed points (file_create_disk_test); here are the name
// handling, the ignored words and the refusals with their details.
#include "ismgr/describe/xdl_parser.h"

#include <gtest/gtest.h>

#include "support/data_rows.h"
#include "support/detail_capture.h"

namespace ismgr {
namespace {

using testing_support::DetailCapture;
using testing_support::status_of;

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

}  // namespace
}  // namespace ismgr
