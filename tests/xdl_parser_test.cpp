#include "ismgr/describe/xdl_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ismgr/runtime/keyword.h"
#include "ismgr/runtime/status.h"
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

TEST_F(ParserTest, FileSectionAndTheName) {
  auto d = parse("FILE;NAME cust;RECORD;SIZE 100;");
  EXPECT_EQ(d->magic, 0x5CF7);
  EXPECT_EQ(d->revision, 6);
  EXPECT_EQ(d->key_count, 0);
  EXPECT_EQ(d->record_size, 100);
  EXPECT_EQ(name_, "cust");
  EXPECT_EQ(d->null_area_offset, 1112u - 1024u);
  EXPECT_EQ(d->seed, 0);
  // A name given by the open is kept; one with only options gets the name
  // in front; without NAME the open's name must be there.
  const std::pair<std::string, std::string> names[] = {
      {"given", "given"}, {",page=1024", "other,page=1024"}, {"x", "x"}};
  for (const auto& [given, want] : names) {
    name_ = given;
    parse("FILE;NAME other;SIZE 10;");
    EXPECT_EQ(name_, want) << given;
  }
  name_ = "x";
  EXPECT_EQ(status("FILE;SIZE 10;"), 0);
  name_.clear();  // port ints go to the name as options
  d = parse("FILE;PORT_INT 10:4;NAME cust;PORT_INT 20:2;SIZE 40;");
  EXPECT_EQ(name_, "cust, i=10:4, i=20:2");
  EXPECT_EQ(d->port_int_count, 0);
  name_.clear();  // the name buffer is never overrun (see the refusals)
  EXPECT_EQ(status("FILE;NAME " + std::string(529, 'n') + ";SIZE 4;"), 0);
  name_.clear();
  EXPECT_EQ(status("FILE;NAME x;PORT_INT ;SIZE 4;"), kStatusXdlString);
  EXPECT_EQ(name_, "x, i=") << "the option is appended even when its value is missing";
}

// Accepted file sections: {text, revision, file_flags, file_flags2}.
TEST_F(ParserTest, FileFlagsTable) {
  const struct {
    std::string text;
    int revision;
    uint8_t flags;
    uint32_t flags2;
  } rows[] = {{"FORMAT variable;", 6, 0x22, 0},
              {"FORMAT multiple;", 6, 0x23, 0},
              {"COMPRESS_DATA yes;FORMAT fixed;", 6, 0x24, 0},  // fixed keeps the sized headers
              {"COMPRESS_DATA no;", 6, 0, 0},
              {"DATA_RECORD_COMPRESSION y;DATA_RECORD_COMPRESSION y;", 6, 0x24, 0},
              {"ADDRESSING 40;", 6, 0x40, 0},
              {"ADDRESSING 32;", 6, 0, 0},
              {"STATIC_RFA yes;", 6, 0x08, 0},  // static vectoring needs sized headers
              {"STATIC_RFA yes;FORMAT variable;", 6, 0x3A, 0},
              {"STATIC_RFA yes;FORMAT multiple;", 6, 0x2B, 0},
              {"NETWORK_ENCRYPT yes;", 6, 0x80, 0},
              {"NETWORK_ENCRYPT none;", 6, 0, 0},
              {"RECORD_ALLOCATION 1000;", 6, 0, 0x140},
              {"RECORD_ALLOCATION 1000;", 4, 0, 0},  // allocation in records needs revision 6
              {"TRACK_CHANGES yes;STORED_GRFA yes;", 6, 0, 0x600},
              {"TRACK_CHANGES yes;STORED_GRFA yes;", 4, 0, 0}};
  for (const auto& r : rows) {
    auto d = parse(kHead + r.text, r.revision);
    EXPECT_EQ(d->file_flags, r.flags) << r.text << " revision " << r.revision;
    EXPECT_EQ(d->file_flags2, r.flags2) << r.text << " revision " << r.revision;
  }
  auto d = parse(kHead + "PAGE_SIZE 4096;DENSITY 80;RECORD_ALLOCATION 1000;");
  EXPECT_EQ(d->page_units, 16);
  EXPECT_EQ(d->density, 80);
  EXPECT_EQ(d->allocation, 1000u);
  EXPECT_EQ(parse("FILE;NAME x;SIZE 65534;")->record_size, 65534);
  EXPECT_EQ(parse(kHead + "KEYS 1;KEY 0;START 1;LENGTH 4;")->key_count, 1);
  const std::pair<std::string, int> allocations[] = {
      {"2K", 2}, {"1025", 2}, {"0x400", 1}, {"010k", 8}, {"261120", 255}};
  for (const auto& [value, kb] : allocations) {
    EXPECT_EQ(parse(kHead + "TEXT_ALLOCATION " + value + ";")->text_alloc_kb, kb) << value;
  }
  d = parse(kHead + "TEXT_ALLOCATION 2K;TEXT x;SEED 5;", 4);  // ignored below revision 6
  EXPECT_EQ(d->text_alloc_kb, 0);
  EXPECT_FALSE(d->has_text);
  EXPECT_EQ(d->seed, 0);
  d = parse(kHead + "TEXT \"hello \";TEXT 'world';TEXT '';");  // texts make one block
  ASSERT_TRUE(d->has_text);
  EXPECT_EQ(d->text, "hello world");
  EXPECT_EQ(d->text_offset, 1112u - 1024u);
  EXPECT_EQ(d->record_bytes(), 1112u + 4u + 11u);
  EXPECT_EQ(d->null_area_offset, d->record_bytes() - 1024u);
}

TEST_F(ParserTest, KeysSegmentsTypesAndOrders) {
  auto d = parse(kHead +
                 "KEY 0;START 1:11;LENGTH 10:20;NAME primary_key_name_long;KEY 1;"
                 "POSITION 30;LENGTH 5;DUPLICATES yes;MODIFIABLE yes;DENSITY 70;");
  ASSERT_EQ(d->key_count, 2);
  const KeyDescription& k0 = d->keys[0];
  EXPECT_EQ(k0.seg_start[0], 0);
  EXPECT_EQ(k0.seg_start[1], 10);
  EXPECT_EQ(k0.seg_length[1], 20);
  EXPECT_EQ(k0.key_size, 30);
  EXPECT_EQ(std::string(k0.key_name.data()), "primary_key_nam");
  EXPECT_EQ(k0.key_flags, 0x02);
  EXPECT_EQ(d->keys[1].seg_start[0], 30);
  EXPECT_EQ(d->keys[1].key_flags, 0x0E);
  EXPECT_EQ(d->keys[1].density, 70);
  EXPECT_EQ(d->density, 0);
  EXPECT_EQ(status(kHead + "KEY 0;START 91;LENGTH 10;"), 0);  // ends at the record's end
  d = parse(kHead + "KEY 0;SEGPOS 4;SEGLEN 2;SEGPOS 10;SEGLEN 3;TYPE decimal;ORDER desc;");
  EXPECT_EQ(d->keys[0].seg_start[1], 10);
  EXPECT_EQ(d->keys[0].key_size, 5);
  // {key text, segment, type byte}: further segments take the first one's
  // type and order unless given their own.
  const struct {
    std::string key;
    int segment;
    uint8_t type;
  } rows[] = {{"SEGPOS 4;SEGLEN 2;SEGPOS 10;SEGLEN 3;TYPE decimal;ORDER desc;", 1, 0x02},
              {"START 1;LENGTH 4;TYPE decimal;", 0, 0x22},
              {"START 1;LENGTH 4;TYPE dint4;", 0, 0x24},  // no ORDER: ascending
              {"START 1;LENGTH 4;TYPE dint4;ORDER descending;", 0, 0x04},
              {"START 1;LENGTH 4;TYPE nocase;", 0, 0x30},
              {"START 1;LENGTH 4;TYPE case:int2;", 0, 0x24},
              {"START 1;LENGTH 4;TYPE string;", 0, 0x21},
              {"START 1;LENGTH 4;TYPE bin4;", 0, 0x28},
              {"START 1:5;LENGTH 4:4;TYPE alpha:decimal;ORDER asc:desc;", 1, 0x02},
              {"START 1:5;LENGTH 4:4;ORDER descending;", 1, 0x01},
              {"START 1:5;LENGTH 4:4;TYPE unsigned;ORDER descending;", 1, 0x08},
              {"POSITION 0:10:20;LENGTH 4:4:4;TYPE int4;ORDER descending;", 2, 0x04},
              {"POSITION 0:10:20;LENGTH 4:4:4;", 2, 0x21}};
  for (const auto& r : rows) {
    EXPECT_EQ(parse(kHead + "KEY 0;" + r.key)->keys[0].seg_type[r.segment], r.type) << r.key;
  }
  EXPECT_EQ(
      parse(kHead + "KEY 0;START 1;LENGTH 4;DUPLICATES y;DUPLICATE_ORDER lifo;")->keys[0].key_flags,
      0x04);
  d = parse(kHead + "KEY 0;START 1;LENGTH 8;TYPE sequence;SEED 5;");
  EXPECT_EQ(d->keys[0].autokey_flags, 0x02);
  EXPECT_EQ(d->keys[0].seg_type[0] & 0x1F, 0);
  EXPECT_EQ(d->seed, 5);
  EXPECT_EQ(status(kHead + "SEED 5;KEY 0;START 1;LENGTH 8;", 4), 0);
}

// Accepted null rules: {key 1 text, key flags, null area entry (count byte first)}.
TEST_F(ParserTest, NullValuesTable) {
  const struct {
    std::string key;
    uint8_t flags;
    std::vector<uint8_t> entry;
  } rows[] = {{"LENGTH 4;NULL replicate;", 0x12, {2, 0x20}},
              {"LENGTH 4;VALUE_NULL 32;NULL replicate;", 0x12, {2, 2}},  // before NULL: text
              {"LENGTH 4;NULL replicate;VALUE_NULL 32;", 0x12, {2, 32}},
              {"LENGTH 4;NULL noreplicate;VALUE_NULL 'N/A';", 0x22, {4, 'N', '/', 'A'}},
              {"LENGTH 5;TYPE decimal;NULL noreplicate;", 0x22, {6, '0', '0', '0', '0', '0'}},
              {"LENGTH 2;TYPE int2;NULL noreplicate;VALUE_NULL -2;", 0x22, {3, 0xFE, 0xFF}},
              {"LENGTH 1;TYPE unsigned;NULL noreplicate;VALUE_NULL 255;", 0x22, {2, 0xFF}},
              {"LENGTH 4;NULL short;", 0x42, {}},  // stores nothing
              {"LENGTH 4;NULL_KEY yes;", 0x12, {2, 0x20}}};
  for (const auto& r : rows) {
    auto d = parse(kHead + "KEY 0;START 1;LENGTH 4;KEY 1;START 5;" + r.key);
    const KeyDescription& k = d->keys[1];
    EXPECT_EQ(k.key_flags, r.flags) << r.key;
    EXPECT_EQ(d->null_area_size, r.entry.size()) << r.key;
    if (!r.entry.empty()) {
      EXPECT_EQ(std::vector<uint8_t>(d->null_area.begin() + k.null_offset,
                                     d->null_area.begin() + k.null_offset + r.entry.size()),
                r.entry)
          << r.key;
    }
  }
}

// Keywords before the first section, mistyped keywords and those of the
// older language are ignored with their values; a final keyword with
// nothing after it is not acted on; section words take no value.
TEST_F(ParserTest, IgnoredAndMistypedKeywords) {
  auto d = parse(
      "TITLE x;SIZE 7;FILE;NAME x;SIZZLE 9;OWNER me;RECORD;SIZE 10;AREA 0;"
      "SIZE 99;KEY 0;START 1;LENGTH 2;");
  EXPECT_EQ(d->record_size, 10);
  EXPECT_EQ(d->key_count, 1);
  EXPECT_EQ(parse("FILE;NAME x;SIZE 10;SIZE")->record_size, 10);
  EXPECT_EQ(parse("FILE;NAME x;SYSTEM SIZE 10;")->record_size, 10);
}

// One row per refused description: {text, revision, status, detail code,
// detail text}; a detail code of 0 checks the status alone.
TEST_F(ParserTest, RefusalsTable) {
  const std::string h = kHead, k1 = kHead + "KEY 0;START 1;LENGTH 4;KEY 1;START 5;";
  std::string many = kHead;  // TEXT beyond 65535 bytes in all
  for (int i = 0; i < 124; ++i) many += "TEXT " + std::string(529, 't') + ";";
  std::string full = "FILE;NAME x;SIZE 300;KEY 0;START 1;LENGTH 4;";  // five 255-byte nulls
  for (int k = 1; k <= 5; ++k) {
    full += "KEY " + std::to_string(k) + ";START 1;LENGTH 4;NULL noreplicate;VALUE_NULL " +
            std::string(254, 'a') + ";";
  }
  const int xs = kStatusXdlString, nul = kStatusInvalidNull, key = kStatusIllegalKey;
  const int msg = kDetailMessage, num = kDetailMessageNumber, range = kDetailNumberRange;
  const struct {
    std::string text;
    int revision, status, code;
    std::string detail;
  } rows[] = {
      {"FILE;SIZE 10;", 6, xs, kDetailKeywordMissing, "NAME"},
      {"FILE;NAME x;RECORD;", 6, xs, kDetailKeywordMissing, "SIZE"},
      {"RECORD;SIZE 10;X 1;", 6, xs, kDetailKeywordMissing, "FILE"},
      {h + "SIZE 20;", 6, xs, kDetailKeywordTwice, "SIZE"},
      {h + "FILE;X 1;", 6, xs, kDetailKeywordTwice, "FILE"},
      {h + "TRACK_CHANGES yes;TRACK_CHANGES no;", 6, xs, kDetailKeywordTwice, "TRACK_CHANGE"},
      {"FILE;NAME x;SIZ ;X 1;", 6, xs, kDetailNoValue, "SIZ"},  // named as written
      {h + "NUL x;", 6, xs, kDetailKeywordNotAllowed, "NUL"},   // ambiguous
      {h + "PAGE_SIZE 1000;", 6, xs, range, "PAGE_SIZE"},
      {h + "INDEX_FILL 49;", 6, xs, range, "INDEX_FILL"},
      {h + "DENSITY 101;", 6, xs, range, "file DENSITY"},
      {"FILE;NAME x;SIZE 0;", 6, xs, 0, ""},
      {"FILE;NAME x;SIZE 65535;", 6, xs, 0, ""},
      {h + "KEYS 2;KEY 0;START 1;LENGTH 4;", 6, xs, msg, "Invalid number of key definitions"},
      {h + "KEYS 0;", 6, xs, 0, ""},
      // The counter reads the quoted value whole and sees no KEY section; the
      // parser skips the ignored TITLE only to its first ";" and meets one.
      {"FILE;NAME x;SIZE 10;TITLE \";KEY 0;START 1;LENGTH 2;\" ;X 1;", 6, xs, msg,
       "Invalid number of key definitions"},
      {h + "COMPRESS_DATA yes;FORMAT multiple;", 6, xs, msg,
       "Multiple fixed-length records cannot be compressed"},
      {h + "FORMAT multiple;COMPRESS_DATA yes;", 6, xs, 0, ""},
      {h + "FORMAT blob;", 6, xs, kDetailValueNotAllowed, "FORMAT"},
      {h + "ADDRESSING 4;", 6, xs, kDetailValueAmbiguous, "ADDRESSING"},
      {h + "ADDRESSING fixed;", 6, xs, kDetailValueNotAllowed, "ADDRESSING"},
      {h + "TEXT_ALLOCATION 256K;", 6, xs, 0, ""},
      {h + "TEXT_ALLOCATION 9223372036854775807;", 6, xs, 0, ""},
      {h + "KEY 0;START 1;LENGTH 4;TEXT x;", 6, xs, kDetailKeywordNotAllowed, "TEXT"},
      {many, 6, xs, num, "TEXT length exceeds 65535 maximum:"},
      {h + "SEED 0;", 6, xs, msg, "Invalid SEED, positive non-zero value expected"},
      {"FILE;NAME " + std::string(529, 'n') + ";PORT_INT 1:2;SIZE 4;", 6, kStatusNameTooLong, 0,
       ""},
      {h + "KEY 1;START 1;LENGTH 4;", 6, xs, msg, "KEY numbers are out of sequence"},
      {h + "KEY 0;START 1;LENGTH 10:20;", 6, xs, msg, "Mismatched segments"},
      {h + "KEY 0;START 1;LENGTH 10:20;", 6, xs, kDetailKeyNumber, "0"},
      {h + "KEY 0;START 1:201;LENGTH 200:100;", 6, xs, num, "Invalid key length:"},
      {h + "KEY 0;START 0;LENGTH 4;", 6, xs, range, "START"},
      {h + "KEY 0;POSITION -1;LENGTH 4;", 6, xs, 0, ""},
      {h + "KEY 0;START 1;LENGTH 0;", 6, xs, 0, ""},
      {h + "KEY 0;START 1:2:3:4:5:6:7:8:9;LENGTH 1;", 6, xs, 0, ""},
      {h + "KEY 0;START 1;KEY 1;START 1;LENGTH 2;", 6, xs, kDetailKeywordMissing, "LENGTH"},
      {h + "KEY 0;LENGTH 4;X 1;", 6, xs, kDetailKeywordMissing, "START[POSITION]"},
      {h + "START 1;", 6, xs, kDetailKeywordMissing, "KEY"},
      {h + "KEY 0;START 1;START 2;LENGTH 1;", 6, xs, kDetailKeywordTwice, "START"},
      {h + "KEY 0;START 95;LENGTH 10;", 6, 39, num, "Key specified:"},
      {h + "KEY 0;START 1;LENGTH 4;DENSITY 20;", 6, xs, range, "key DENSITY"},
      {h + "KEY 0;START 1;SEGPOS 4;LENGTH 2;", 6, xs, msg,
       "Cannot mix START[POSITION]/SEGn_POSITION keywords"},
      {h + "KEY 0;LENGTH 1;SEGLEN 4;START 1;", 6, xs, msg,
       "Cannot mix LENGTH/SEGn_LENGTH keywords"},
      {h + "KEY 0;SEGPOS ;SEGLEN 1;", 6, xs, kDetailNoValue, "SEGn_POSITION"},
      {h + "KEY 0;START 1:5:9;LENGTH 4:4:4;TYPE alpha:decimal;", 6, xs, msg,
       "Incorrect number of types specified"},
      {h + "KEY 0;START 1:5:9;LENGTH 4:4:4;ORDER asc:desc;", 6, xs, msg,
       "Incorrect number of orders specified"},
      {h + "KEY 0;START 1;LENGTH 4;TYPE blob;", 6, xs, kDetailValueNotAllowed, "TYPE"},
      {h + "KEY 0;START 1;LENGTH 4;TYPE d;", 6, xs, kDetailValueAmbiguous, "TYPE"},
      {h + "KEY 0;START 1;LENGTH 4;ORDER sideways;", 6, xs, kDetailValueNotAllowed, "ORDER"},
      {k1 + "LENGTH 4;NULL noreplicate;", 6, nul, msg,
       "Null value must be specified for alpha non-replicating null key"},
      {k1 + "LENGTH 1;TYPE int2;NULL noreplicate;VALUE_NULL 300;", 6, nul, msg,
       "Invalid integer value"},
      {k1 + "LENGTH 3;TYPE decimal;NULL noreplicate;VALUE_NULL 1e3;", 6, nul, msg,
       "Invalid decimal value"},
      {h + "KEY 0;START 1;LENGTH 4;NULL yes;", 6, xs, 0, ""},
      {h + "KEY 0;START 1;LENGTH 4;NULL no;", 6, xs, kDetailValueAmbiguous, "NULL"},
      {k1 + "LENGTH 4;NULL noreplicate;VALUE_NULL " + std::string(255, 'v') + ";", 6, nul, 0, ""},
      {h + "KEY 0;START 1;LENGTH 4;KEY 1;START 5:9;LENGTH 2:2;TYPE decimal:alpha;NULL "
           "noreplicate;VALUE_NULL 12;",
       6, nul, msg, "Null strings are not allowed on segmented numeric keys"},
      {h + "KEY 0;START 1;LENGTH 4;KEY 1;START 5:9;LENGTH 2:2;TYPE alpha:decimal;NULL "
           "noreplicate;VALUE_NULL 'abcd';",
       6, nul, msg, "Null string cannot overlap numeric segment"},
      {full + "X 1;", 6, nul, msg, "Null block is full"},
      {h + "KEY 0;START 1;LENGTH 8;TYPE sequence;ORDER descending;", 6, key, msg,
       "Sequence key cannot be descending"},
      {h + "KEY 0;START 1;LENGTH 8;TYPE guid;", 6, key, msg, "Expected key size of 16"},
      {h + "KEY 0;START 1;LENGTH 4;TYPE timestamp;", 6, key, msg, "Expected key size of 8"},
      {h + "KEY 0;START 1:9;LENGTH 4:4;TYPE sequence:alpha;", 6, key, msg,
       "AUTOKEYS cannot be segmented"},
      {h + "KEY 0;START 1;LENGTH 8;TYPE sequence;DUPLICATES yes;", 6, key, 0, ""},
      {h + "KEY 0;START 1;LENGTH 8;TYPE sequence;", 4, key, 0, ""},
      {h + "SEED 5;KEY 0;START 1;LENGTH 8;", 6, nul, msg,
       "SEED option used without an Autonumber key"}};
  for (const auto& r : rows) {
    details_.clear();
    name_.clear();
    EXPECT_EQ(status(r.text, r.revision), r.status) << r.text.substr(0, 160);
    if (r.code != 0) {
      EXPECT_TRUE(details_.has(r.code, r.detail)) << r.text.substr(0, 160) << "\n"
                                                  << details_.dump();
    }
  }
  details_.clear();
  EXPECT_EQ(status(h + "KEY 0;START 1:201;LENGTH 200:100;"), xs);
  EXPECT_EQ(details_.details()[0].value, "300");  // the key length, in the detail
}

}  // namespace
}  // namespace ismgr
