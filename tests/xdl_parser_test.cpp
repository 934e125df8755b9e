#include "ismgr/describe/xdl_parser.h"

#include <gtest/gtest.h>

#include <string>

#include "ismgr/describe/description_reader.h"
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

TEST_F(ParserTest, FileSectionBasics) {
  auto d = parse("FILE;NAME cust;RECORD;SIZE 100;");
  EXPECT_EQ(d->magic, 0x5CF7);
  EXPECT_EQ(d->revision, 6);
  EXPECT_EQ(d->key_count, 0);
  EXPECT_EQ(d->record_size, 100);
  EXPECT_EQ(name_, "cust");
  EXPECT_EQ(d->null_area_offset, 1112u - 1024u);
  EXPECT_EQ(d->seed, 0);
  // A name already given by the open is kept; one with only options gets
  // the name in front.
  name_ = "given";
  parse("FILE;NAME other;SIZE 10;");
  EXPECT_EQ(name_, "given");
  name_ = ",page=1024";
  parse("FILE;NAME other;SIZE 10;");
  EXPECT_EQ(name_, "other,page=1024");
  // Without NAME the open's name must be there.
  name_ = "x";
  EXPECT_EQ(status("FILE;SIZE 10;"), 0);
}

TEST_F(ParserTest, RequiredAndRepeatedKeywords) {
  EXPECT_EQ(status("FILE;SIZE 10;"), kStatusXdlString);
  EXPECT_TRUE(details_.has(kDetailKeywordMissing, "NAME")) << details_.dump();
  details_.clear();
  EXPECT_EQ(status("FILE;NAME x;RECORD;"), kStatusXdlString);
  EXPECT_TRUE(details_.has(kDetailKeywordMissing, "SIZE"));
  details_.clear();
  EXPECT_EQ(status("RECORD;SIZE 10;X 1;"), kStatusXdlString);
  EXPECT_TRUE(details_.has(kDetailKeywordMissing, "FILE"));
  details_.clear();
  EXPECT_EQ(status(kHead + "SIZE 20;"), kStatusXdlString);
  EXPECT_TRUE(details_.has(kDetailKeywordTwice, "SIZE"));
  details_.clear();
  EXPECT_EQ(status(kHead + "FILE;X 1;"), kStatusXdlString);
  EXPECT_TRUE(details_.has(kDetailKeywordTwice, "FILE"));
  details_.clear();
  EXPECT_EQ(status(kHead + "TRACK_CHANGES yes;TRACK_CHANGES no;"), kStatusXdlString);
  EXPECT_TRUE(details_.has(kDetailKeywordTwice, "TRACK_CHANGE"));
  details_.clear();
  // A missing value names the keyword as written.
  EXPECT_EQ(status("FILE;NAME x;SIZ ;X 1;"), kStatusXdlString);
  EXPECT_TRUE(details_.has(kDetailNoValue, "SIZ")) << details_.dump();
  details_.clear();
  // An ambiguous keyword is named as written.
  EXPECT_EQ(status(kHead + "NUL x;"), kStatusXdlString);
  EXPECT_TRUE(details_.has(kDetailKeywordNotAllowed, "NUL"));
}

TEST_F(ParserTest, NumericFileKeywords) {
  auto d = parse(kHead + "PAGE_SIZE 4096;DENSITY 80;RECORD_ALLOCATION 1000;");
  EXPECT_EQ(d->page_units, 16);
  EXPECT_EQ(d->density, 80);
  EXPECT_EQ(d->allocation, 1000u);
  EXPECT_EQ(d->file_flags2, 0x140u);
  d = parse(kHead + "RECORD_ALLOCATION 1000;", 4);
  EXPECT_EQ(d->file_flags2, 0u) << "allocation in records needs revision 6";
  EXPECT_EQ(status(kHead + "PAGE_SIZE 1000;"), kStatusXdlString);
  EXPECT_TRUE(details_.has(kDetailNumberRange, "PAGE_SIZE"));
  details_.clear();
  EXPECT_EQ(status(kHead + "INDEX_FILL 49;"), kStatusXdlString);
  EXPECT_TRUE(details_.has(kDetailNumberRange, "INDEX_FILL"));
  details_.clear();
  EXPECT_EQ(status(kHead + "DENSITY 101;"), kStatusXdlString);
  EXPECT_TRUE(details_.has(kDetailNumberRange, "file DENSITY"));
  EXPECT_EQ(status("FILE;NAME x;SIZE 0;"), kStatusXdlString);
  EXPECT_EQ(status("FILE;NAME x;SIZE 65535;"), kStatusXdlString);
  EXPECT_EQ(parse("FILE;NAME x;SIZE 65534;")->record_size, 65534);
  EXPECT_EQ(status(kHead + "KEYS 2;KEY 0;START 1;LENGTH 4;"), kStatusXdlString);
  EXPECT_TRUE(details_.has(kDetailMessage, "Invalid number of key definitions"));
  EXPECT_EQ(status(kHead + "KEYS 0;"), kStatusXdlString);
  EXPECT_EQ(parse(kHead + "KEYS 1;KEY 0;START 1;LENGTH 4;")->key_count, 1);
}

TEST_F(ParserTest, FormatCompressionAndAddressing) {
  EXPECT_EQ(parse(kHead + "FORMAT variable;")->file_flags, 0x22);
  EXPECT_EQ(parse(kHead + "FORMAT multiple;")->file_flags, 0x23);
  EXPECT_EQ(parse(kHead + "COMPRESS_DATA yes;FORMAT fixed;")->file_flags, 0x24)
      << "fixed keeps sized headers of a compressed file";
  EXPECT_EQ(parse(kHead + "FORMAT var;FORMAT_X 1;")->file_flags, 0x22);
  EXPECT_EQ(parse(kHead + "COMPRESS_DATA no;")->file_flags, 0);
  EXPECT_EQ(parse(kHead + "DATA_RECORD_COMPRESSION y;DATA_RECORD_COMPRESSION y;")->file_flags,
            0x24);
  EXPECT_EQ(status(kHead + "COMPRESS_DATA yes;FORMAT multiple;"), kStatusXdlString);
  EXPECT_TRUE(details_.has(kDetailMessage, "Multiple fixed-length records cannot be compressed"));
  EXPECT_EQ(status(kHead + "FORMAT multiple;COMPRESS_DATA yes;"), kStatusXdlString);
  EXPECT_EQ(status(kHead + "FORMAT m;COMPRESS_DATA yes;"), kStatusXdlString);
  details_.clear();
  EXPECT_EQ(status(kHead + "FORMAT blob;"), kStatusXdlString);
  ASSERT_FALSE(details_.details().empty());
  EXPECT_EQ(details_.details()[0].code, kDetailValueNotAllowed);
  EXPECT_EQ(details_.details()[0].value, "blob");
  // Addressing: "4" is ambiguous, format words are refused, 40 and 48 are tbyte.
  details_.clear();
  EXPECT_EQ(status(kHead + "ADDRESSING 4;"), kStatusXdlString);
  EXPECT_TRUE(details_.has(kDetailValueAmbiguous, "ADDRESSING"));
  details_.clear();
  EXPECT_EQ(status(kHead + "ADDRESSING fixed;"), kStatusXdlString);
  EXPECT_TRUE(details_.has(kDetailValueNotAllowed, "ADDRESSING"));
  EXPECT_EQ(parse(kHead + "ADDRESSING 40;")->file_flags, 0x40);
  EXPECT_EQ(parse(kHead + "ADDRESSING 32;")->file_flags, 0);
  // Static vectoring survives only with sized headers and without multiple.
  EXPECT_EQ(parse(kHead + "STATIC_RFA yes;")->file_flags, 0x08);
  EXPECT_EQ(parse(kHead + "STATIC_RFA yes;FORMAT variable;")->file_flags, 0x3A);
  EXPECT_EQ(parse(kHead + "STATIC_RFA yes;FORMAT multiple;")->file_flags, 0x2B);
  EXPECT_EQ(parse(kHead + "NETWORK_ENCRYPT yes;")->file_flags, 0x80);
  EXPECT_EQ(parse(kHead + "NETWORK_ENCRYPT none;")->file_flags, 0);
}

TEST_F(ParserTest, RevisionSixFeatures) {
  auto d = parse(kHead + "TRACK_CHANGES yes;STORED_GRFA yes;TEXT_ALLOCATION 2K;");
  EXPECT_EQ(d->file_flags2, 0x600u);
  EXPECT_EQ(d->text_alloc_kb, 2);
  EXPECT_EQ(parse(kHead + "TEXT_ALLOCATION 1025;")->text_alloc_kb, 2);
  EXPECT_EQ(parse(kHead + "TEXT_ALLOCATION 0x400;")->text_alloc_kb, 1);
  EXPECT_EQ(parse(kHead + "TEXT_ALLOCATION 010k;")->text_alloc_kb, 8);
  EXPECT_EQ(status(kHead + "TEXT_ALLOCATION 256K;"), kStatusXdlString);
  EXPECT_EQ(status(kHead + "TEXT_ALLOCATION 9223372036854775807;"), kStatusXdlString);
  EXPECT_EQ(parse(kHead + "TEXT_ALLOCATION 261120;")->text_alloc_kb, 255);
  d = parse(kHead + "TRACK_CHANGES yes;STORED_GRFA yes;TEXT_ALLOCATION 2K;TEXT x;SEED 5;", 4);
  EXPECT_EQ(d->file_flags2, 0u);
  EXPECT_EQ(d->text_alloc_kb, 0);
  EXPECT_FALSE(d->has_text);
  EXPECT_EQ(d->seed, 0) << "SEED is ignored below revision 6";
  // Two texts make one block.
  d = parse(kHead + "TEXT \"hello \";TEXT 'world';TEXT '';");
  ASSERT_TRUE(d->has_text);
  EXPECT_EQ(d->text, "hello world");
  EXPECT_EQ(d->text_offset, 1112u - 1024u);
  EXPECT_EQ(d->record_bytes(), 1112u + 4u + 11u);
  EXPECT_EQ(d->null_area_offset, d->record_bytes() - 1024u);
  // TEXT after the first key is not allowed.
  EXPECT_EQ(status(kHead + "KEY 0;START 1;LENGTH 4;TEXT x;"), kStatusXdlString);
  EXPECT_TRUE(details_.has(kDetailKeywordNotAllowed, "TEXT"));
  // The total is limited to 65535 bytes.
  std::string many = kHead;
  for (int i = 0; i < 124; ++i) many += "TEXT " + std::string(529, 't') + ";";
  EXPECT_EQ(status(many), kStatusXdlString);
  EXPECT_TRUE(details_.has(kDetailMessageNumber, "TEXT length exceeds 65535 maximum:"));
  EXPECT_EQ(status(kHead + "SEED 0;"), kStatusXdlString);
  EXPECT_TRUE(details_.has(kDetailMessage, "Invalid SEED, positive non-zero value expected"));
}

TEST_F(ParserTest, PortIntAndNameBuffer) {
  name_.clear();
  auto d = parse("FILE;PORT_INT 10:4;NAME cust;PORT_INT 20:2;SIZE 40;");
  EXPECT_EQ(name_, "cust, i=10:4, i=20:2");
  EXPECT_EQ(d->port_int_count, 0);
  // The name buffer is never overrun: an overlong name is refused.
  name_.clear();
  const std::string long_name(529, 'n');
  EXPECT_EQ(status("FILE;NAME " + long_name + ";SIZE 4;"), 0);
  name_.clear();
  EXPECT_EQ(status("FILE;NAME " + long_name + ";PORT_INT 1:2;SIZE 4;"), kStatusNameTooLong);
  name_.clear();
  EXPECT_EQ(status("FILE;NAME x;PORT_INT ;SIZE 4;"), kStatusXdlString);
  EXPECT_EQ(name_, "x, i=") << "the option is appended even when its value is missing";
}

TEST_F(ParserTest, KeySectionsAndSegments) {
  auto d = parse(kHead +
                 "KEY 0;START 1:11;LENGTH 10:20;NAME primary_key_name_long;KEY 1;"
                 "POSITION 30;LENGTH 5;DUPLICATES yes;MODIFIABLE yes;DENSITY 70;");
  ASSERT_EQ(d->key_count, 2);
  const KeyDescription& k0 = d->keys[0];
  EXPECT_EQ(k0.seg_start[0], 0);
  EXPECT_EQ(k0.seg_start[1], 10);
  EXPECT_EQ(k0.seg_length[1], 20);
  EXPECT_EQ(k0.key_size, 30);
  EXPECT_EQ(k0.seg_type[0], 0x21);
  EXPECT_EQ(k0.seg_type[1], 0x21);
  EXPECT_EQ(std::string(k0.key_name.data()), "primary_key_nam");
  EXPECT_EQ(k0.key_flags, 0x02);
  const KeyDescription& k1 = d->keys[1];
  EXPECT_EQ(k1.seg_start[0], 30);
  EXPECT_EQ(k1.key_flags, 0x0E);
  EXPECT_EQ(k1.density, 70);
  EXPECT_EQ(d->density, 0);

  EXPECT_EQ(status(kHead + "KEY 1;START 1;LENGTH 4;"), kStatusXdlString);
  EXPECT_TRUE(details_.has(kDetailMessage, "KEY numbers are out of sequence"));
  details_.clear();
  EXPECT_EQ(status(kHead + "KEY 0;START 1;LENGTH 10:20;"), kStatusXdlString);
  EXPECT_TRUE(details_.has(kDetailMessage, "Mismatched segments"));
  EXPECT_TRUE(details_.has(kDetailKeyNumber, "0")) << details_.dump();
  details_.clear();
  EXPECT_EQ(status(kHead + "KEY 0;START 1:201;LENGTH 200:100;"), kStatusXdlString);
  ASSERT_TRUE(details_.has(kDetailMessageNumber, "Invalid key length:"));
  EXPECT_EQ(details_.details()[0].value, "300");
  details_.clear();
  EXPECT_EQ(status(kHead + "KEY 0;START 0;LENGTH 4;"), kStatusXdlString);
  EXPECT_TRUE(details_.has(kDetailNumberRange, "START"));
  EXPECT_EQ(status(kHead + "KEY 0;POSITION -1;LENGTH 4;"), kStatusXdlString);
  EXPECT_EQ(status(kHead + "KEY 0;START 1;LENGTH 0;"), kStatusXdlString);
  EXPECT_EQ(status(kHead + "KEY 0;START 1:2:3:4:5:6:7:8:9;LENGTH 1;"), kStatusXdlString);
  // Incomplete keys, at the next KEY and at the end.
  details_.clear();
  EXPECT_EQ(status(kHead + "KEY 0;START 1;KEY 1;START 1;LENGTH 2;"), kStatusXdlString);
  EXPECT_TRUE(details_.has(kDetailKeywordMissing, "LENGTH"));
  details_.clear();
  EXPECT_EQ(status(kHead + "KEY 0;LENGTH 4;X 1;"), kStatusXdlString);
  EXPECT_TRUE(details_.has(kDetailKeywordMissing, "START[POSITION]"));
  // A key keyword outside a key, and one given twice.
  details_.clear();
  EXPECT_EQ(status(kHead + "START 1;"), kStatusXdlString);
  EXPECT_TRUE(details_.has(kDetailKeywordMissing, "KEY"));
  details_.clear();
  EXPECT_EQ(status(kHead + "KEY 0;START 1;START 2;LENGTH 1;"), kStatusXdlString);
  EXPECT_TRUE(details_.has(kDetailKeywordTwice, "START"));
  // Key spans the end of the record.
  details_.clear();
  EXPECT_EQ(status(kHead + "KEY 0;START 95;LENGTH 10;"), 39);
  EXPECT_TRUE(details_.has(kDetailMessageNumber, "Key specified:"));
  EXPECT_EQ(status(kHead + "KEY 0;START 91;LENGTH 10;"), 0);
  EXPECT_EQ(status(kHead + "KEY 0;START 1;LENGTH 4;DENSITY 20;"), kStatusXdlString);
  EXPECT_TRUE(details_.has(kDetailNumberRange, "key DENSITY"));
}

TEST_F(ParserTest, SegmentKeywords) {
  auto d = parse(kHead + "KEY 0;SEGPOS 4;SEGLEN 2;SEGPOS 10;SEGLEN 3;TYPE decimal;ORDER desc;");
  const KeyDescription& k = d->keys[0];
  EXPECT_EQ(k.seg_start[0], 4);
  EXPECT_EQ(k.seg_start[1], 10);
  EXPECT_EQ(k.key_size, 5);
  EXPECT_EQ(k.seg_type[0], 0x02);
  EXPECT_EQ(k.seg_type[1], 0x02) << "further segments take the first one's type and order";
  EXPECT_EQ(status(kHead + "KEY 0;START 1;SEGPOS 4;LENGTH 2;"), kStatusXdlString);
  EXPECT_TRUE(details_.has(kDetailMessage, "Cannot mix START[POSITION]/SEGn_POSITION keywords"));
  EXPECT_EQ(status(kHead + "KEY 0;LENGTH 1;SEGLEN 4;START 1;"), kStatusXdlString);
  EXPECT_TRUE(details_.has(kDetailMessage, "Cannot mix LENGTH/SEGn_LENGTH keywords"));
  details_.clear();
  EXPECT_EQ(status(kHead + "KEY 0;SEGPOS ;SEGLEN 1;"), kStatusXdlString);
  EXPECT_TRUE(details_.has(kDetailNoValue, "SEGn_POSITION"));
  // The rewriting of XDL words reaches the parser.
  std::string name;
  const std::string s = description_from_xdl(
      "FILE\nNAME x\nSIZE 50\nKEY 0\nSEG1_POSITION 2\nSEG1_LENGTH 3\n"
      "SEG2_POSITION 8\nSEG2_LENGTH 4\n",
      "x.xdl", &name);
  const char* cursor = s.c_str();
  d = build_file_description(cursor, &name_, 6);
  EXPECT_EQ(d->keys[0].key_size, 7);
  EXPECT_EQ(d->keys[0].seg_start[1], 8);
}

TEST_F(ParserTest, TypesAndOrders) {
  auto type_of = [&](const std::string& key, int segment) {
    return parse(kHead + "KEY 0;" + key)->keys[0].seg_type[static_cast<size_t>(segment)];
  };
  EXPECT_EQ(type_of("START 1;LENGTH 4;TYPE decimal;", 0), 0x22);
  EXPECT_EQ(type_of("START 1;LENGTH 4;TYPE dint4;", 0), 0x24) << "no ORDER: ascending";
  EXPECT_EQ(type_of("START 1;LENGTH 4;TYPE dint4;ORDER descending;", 0), 0x04);
  EXPECT_EQ(type_of("START 1;LENGTH 4;TYPE nocase;", 0), 0x30);
  EXPECT_EQ(type_of("START 1;LENGTH 4;TYPE case:int2;", 0), 0x24);
  EXPECT_EQ(type_of("START 1;LENGTH 4;TYPE string;", 0), 0x21);
  EXPECT_EQ(type_of("START 1;LENGTH 4;TYPE bin4;", 0), 0x28);
  EXPECT_EQ(type_of("START 1:5;LENGTH 4:4;TYPE int4;", 1), 0x24);
  EXPECT_EQ(type_of("START 1:5;LENGTH 4:4;TYPE alpha:decimal;ORDER asc:desc;", 1), 0x02);
  EXPECT_EQ(type_of("START 1:5;LENGTH 4:4;ORDER descending;", 1), 0x01);
  EXPECT_EQ(type_of("START 1:5;LENGTH 4:4;TYPE unsigned;ORDER descending;", 1), 0x08);
  // POSITION: every further segment takes the first segment's type and order.
  EXPECT_EQ(type_of("POSITION 0:10:20;LENGTH 4:4:4;TYPE int4;ORDER descending;", 2), 0x04);
  EXPECT_EQ(type_of("POSITION 0:10:20;LENGTH 4:4:4;TYPE decimal;", 2), 0x22);
  EXPECT_EQ(type_of("POSITION 0:10:20;LENGTH 4:4:4;", 2), 0x21);

  EXPECT_EQ(status(kHead + "KEY 0;START 1:5:9;LENGTH 4:4:4;TYPE alpha:decimal;"), kStatusXdlString);
  EXPECT_TRUE(details_.has(kDetailMessage, "Incorrect number of types specified"));
  EXPECT_EQ(status(kHead + "KEY 0;START 1:5:9;LENGTH 4:4:4;ORDER asc:desc;"), kStatusXdlString);
  EXPECT_TRUE(details_.has(kDetailMessage, "Incorrect number of orders specified"));
  details_.clear();
  EXPECT_EQ(status(kHead + "KEY 0;START 1;LENGTH 4;TYPE blob;"), kStatusXdlString);
  EXPECT_TRUE(details_.has(kDetailValueNotAllowed, "TYPE"));
  EXPECT_TRUE(details_.has(kDetailKeyNumber, "0"));
  details_.clear();
  EXPECT_EQ(status(kHead + "KEY 0;START 1;LENGTH 4;TYPE d;"), kStatusXdlString);
  EXPECT_TRUE(details_.has(kDetailValueAmbiguous, "TYPE"));
  EXPECT_EQ(status(kHead + "KEY 0;START 1;LENGTH 4;ORDER sideways;"), kStatusXdlString);
  EXPECT_TRUE(details_.has(kDetailValueNotAllowed, "ORDER"));
  EXPECT_EQ(
      parse(kHead + "KEY 0;START 1;LENGTH 4;DUPLICATES y;DUPLICATE_ORDER lifo;")->keys[0].key_flags,
      0x04);
}

TEST_F(ParserTest, NullValues) {
  auto d = parse(kHead + "KEY 0;START 1;LENGTH 4;KEY 1;START 5;LENGTH 4;NULL replicate;");
  const KeyDescription& k = d->keys[1];
  EXPECT_EQ(k.key_flags, 0x12);
  EXPECT_EQ(d->null_area[k.null_offset], 2);
  EXPECT_EQ(d->null_area[k.null_offset + 1], 0x20);
  EXPECT_EQ(d->null_area_size, 2);
  // VALUE_NULL before NULL is text: the fill byte becomes its length.
  d = parse(kHead + "KEY 0;START 1;LENGTH 4;KEY 1;START 5;LENGTH 4;VALUE_NULL 32;NULL replicate;");
  EXPECT_EQ(d->null_area[d->keys[1].null_offset + 1], 2);
  d = parse(kHead + "KEY 0;START 1;LENGTH 4;KEY 1;START 5;LENGTH 4;NULL replicate;VALUE_NULL 32;");
  EXPECT_EQ(d->null_area[d->keys[1].null_offset + 1], 32);
  // Non-replicating alpha keys need a value.
  EXPECT_EQ(status(kHead + "KEY 0;START 1;LENGTH 4;KEY 1;START 5;LENGTH 4;NULL noreplicate;"),
            kStatusInvalidNull);
  EXPECT_TRUE(details_.has(kDetailMessage,
                           "Null value must be specified for alpha non-replicating null key"));
  d = parse(kHead +
            "KEY 0;START 1;LENGTH 4;KEY 1;START 5;LENGTH 4;NULL noreplicate;"
            "VALUE_NULL 'N/A';");
  EXPECT_EQ(d->null_area[0], 4);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&d->null_area[1]), 3), "N/A");
  // Numeric keys store the value in the record form of their first segment.
  d = parse(kHead +
            "KEY 0;START 1;LENGTH 4;KEY 1;START 5;LENGTH 5;TYPE decimal;"
            "NULL noreplicate;");
  EXPECT_EQ(d->null_area[0], 6);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&d->null_area[1]), 5), "00000");
  d = parse(kHead +
            "KEY 0;START 1;LENGTH 4;KEY 1;START 5;LENGTH 2;TYPE int2;"
            "NULL noreplicate;VALUE_NULL -2;");
  EXPECT_EQ(d->null_area[0], 3);
  EXPECT_EQ(d->null_area[1], 0xFE);
  EXPECT_EQ(d->null_area[2], 0xFF);
  d = parse(kHead +
            "KEY 0;START 1;LENGTH 4;KEY 1;START 5;LENGTH 1;TYPE unsigned;"
            "NULL noreplicate;VALUE_NULL 255;");
  EXPECT_EQ(d->null_area[1], 0xFF) << "an unsigned byte above 127 is accepted";
  EXPECT_EQ(status(kHead + "KEY 0;START 1;LENGTH 4;KEY 1;START 5;LENGTH 1;TYPE int2;"
                           "NULL noreplicate;VALUE_NULL 300;"),
            kStatusInvalidNull);
  EXPECT_TRUE(details_.has(kDetailMessage, "Invalid integer value"));
  EXPECT_EQ(status(kHead + "KEY 0;START 1;LENGTH 4;KEY 1;START 5;LENGTH 3;TYPE decimal;"
                           "NULL noreplicate;VALUE_NULL 1e3;"),
            kStatusInvalidNull);
  EXPECT_TRUE(details_.has(kDetailMessage, "Invalid decimal value"));
  // Short null keys store nothing; a null rule needs written-out NULL.
  d = parse(kHead + "KEY 0;START 1;LENGTH 4;KEY 1;START 5;LENGTH 4;NULL short;");
  EXPECT_EQ(d->keys[1].key_flags, 0x42);
  EXPECT_EQ(d->null_area_size, 0);
  d = parse(kHead + "KEY 0;START 1;LENGTH 4;KEY 1;START 5;LENGTH 4;NULL_KEY yes;");
  EXPECT_EQ(d->keys[1].key_flags, 0x12);
  EXPECT_EQ(status(kHead + "KEY 0;START 1;LENGTH 4;NULL yes;"), kStatusXdlString);
  EXPECT_EQ(status(kHead + "KEY 0;START 1;LENGTH 4;NULL no;"), kStatusXdlString);
  EXPECT_TRUE(details_.has(kDetailValueAmbiguous, "NULL"));
  // A non-replicating alpha value longer than 254 characters is refused.
  EXPECT_EQ(status(kHead +
                   "KEY 0;START 1;LENGTH 4;KEY 1;START 5;LENGTH 4;NULL noreplicate;"
                   "VALUE_NULL " +
                   std::string(255, 'v') + ";"),
            kStatusInvalidNull);
  // A numeric segment of a segmented non-replicating key must not lie under
  // the null string.
  EXPECT_EQ(status(kHead + "KEY 0;START 1;LENGTH 4;KEY 1;START 5:9;LENGTH 2:2;"
                           "TYPE decimal:alpha;NULL noreplicate;VALUE_NULL 12;"),
            kStatusInvalidNull);
  EXPECT_TRUE(
      details_.has(kDetailMessage, "Null strings are not allowed on segmented numeric keys"));
  EXPECT_EQ(status(kHead + "KEY 0;START 1;LENGTH 4;KEY 1;START 5:9;LENGTH 2:2;"
                           "TYPE alpha:decimal;NULL noreplicate;VALUE_NULL 'abcd';"),
            kStatusInvalidNull);
  EXPECT_TRUE(details_.has(kDetailMessage, "Null string cannot overlap numeric segment"));
}

TEST_F(ParserTest, NullBlockFills) {
  // 1024 bytes hold four keys of 254-character null strings (255 each) but
  // not a fifth.
  std::string text = "FILE;NAME x;SIZE 300;KEY 0;START 1;LENGTH 4;";
  for (int k = 1; k <= 5; ++k) {
    text += "KEY " + std::to_string(k) + ";START 1;LENGTH 4;NULL noreplicate;VALUE_NULL " +
            std::string(254, 'a') + ";";
  }
  text += "X 1;";
  EXPECT_EQ(status(text), kStatusInvalidNull);
  EXPECT_TRUE(details_.has(kDetailMessage, "Null block is full"));
}

TEST_F(ParserTest, Autokeys) {
  auto d = parse(kHead + "KEY 0;START 1;LENGTH 8;TYPE sequence;SEED 5;");
  EXPECT_EQ(d->keys[0].autokey_flags, 0x02);
  EXPECT_EQ(d->keys[0].seg_type[0] & 0x1F, 0);
  EXPECT_EQ(d->seed, 5);
  EXPECT_EQ(status(kHead + "KEY 0;START 1;LENGTH 8;TYPE sequence;ORDER descending;"),
            kStatusIllegalKey);
  EXPECT_TRUE(details_.has(kDetailMessage, "Sequence key cannot be descending"));
  EXPECT_EQ(status(kHead + "KEY 0;START 1;LENGTH 8;TYPE guid;"), kStatusIllegalKey);
  EXPECT_TRUE(details_.has(kDetailMessage, "Expected key size of 16"));
  EXPECT_EQ(status(kHead + "KEY 0;START 1;LENGTH 4;TYPE timestamp;"), kStatusIllegalKey);
  EXPECT_TRUE(details_.has(kDetailMessage, "Expected key size of 8"));
  EXPECT_EQ(status(kHead + "KEY 0;START 1:9;LENGTH 4:4;TYPE sequence:alpha;"), kStatusIllegalKey);
  EXPECT_TRUE(details_.has(kDetailMessage, "AUTOKEYS cannot be segmented"));
  EXPECT_EQ(status(kHead + "KEY 0;START 1;LENGTH 8;TYPE sequence;DUPLICATES yes;"),
            kStatusIllegalKey);
  EXPECT_EQ(status(kHead + "KEY 0;START 1;LENGTH 8;TYPE sequence;", 4), kStatusIllegalKey);
  EXPECT_EQ(status(kHead + "SEED 5;KEY 0;START 1;LENGTH 8;"), kStatusInvalidNull);
  EXPECT_TRUE(details_.has(kDetailMessage, "SEED option used without an Autonumber key"));
  EXPECT_EQ(status(kHead + "SEED 5;KEY 0;START 1;LENGTH 8;", 4), 0);
}

TEST_F(ParserTest, IgnoredAndMistypedKeywords) {
  // Keywords before the first section, mistyped keywords and those of the
  // older language are ignored with their values.
  auto d = parse(
      "TITLE x;SIZE 7;FILE;NAME x;SIZZLE 9;OWNER me;RECORD;SIZE 10;AREA 0;"
      "SIZE 99;KEY 0;START 1;LENGTH 2;");
  EXPECT_EQ(d->record_size, 10);
  EXPECT_EQ(d->key_count, 1);
  // A final keyword with nothing after it is not acted on.
  d = parse("FILE;NAME x;SIZE 10;SIZE");
  EXPECT_EQ(d->record_size, 10);
  // Section words take no value.
  d = parse("FILE;NAME x;SYSTEM SIZE 10;");
  EXPECT_EQ(d->record_size, 10);
}

TEST_F(ParserTest, HiddenKeySectionIsRefused) {
  // The counter reads the quoted value whole and sees no KEY section; the
  // parser skips the ignored TITLE only to its first ";" and then meets one.
  EXPECT_EQ(status("FILE;NAME x;SIZE 10;TITLE \";KEY 0;START 1;LENGTH 2;\" ;X 1;"),
            kStatusXdlString);
  EXPECT_TRUE(details_.has(kDetailMessage, "Invalid number of key definitions"));
}

}  // namespace
}  // namespace ismgr
