// The XDL writer on crafted file views, and the null values in both formats.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/writer_fixture.h"
#include "tool/null_value.h"
#include "tool/writer_common.h"

namespace ismgr::tool {
namespace {

using testing::set_name;
using testing::WriterTest;

// ---------------------------------------------------------------- null values

class NullValueTest : public WriterTest {
 protected:
  // Key 0 gets a null rule and `value` as its null value.
  void null_key(uint8_t flags, std::vector<uint8_t> value, uint8_t type = 0x21,
                uint16_t length = 0) {
    KeyView& k = f.keys[0];
    k.key_flags = flags;
    k.seg_type[0] = type;
    k.seg_length[0] = length ? length : static_cast<uint16_t>(value.size() ? value.size() : 1);
    k.null_offset = 4;
    f.null_area.assign(4, 0xEE);
    f.null_area.push_back(static_cast<uint8_t>(value.size() + 1));
    f.null_area.insert(f.null_area.end(), value.begin(), value.end());
    f.null_area.resize((f.null_area.size() + 3) & ~size_t{3}, 0);
  }
  std::string par_null() { return part(par(), "\t;Primary", "10\t;Key size"); }
  std::string xdl_null() { return part(xdl(), "\tNULL", "\n\t!Root"); }
};

TEST_F(NullValueTest, Replicating) {
  null_key(0x10, {' '});
  EXPECT_TRUE(has(par(),
                  "CUSTNO/null\n\t;Primary alpha key\nR\t;Replicating null key\n"
                  "32\t;Null value ' '\n"));
  EXPECT_EQ(xdl_null(), "\tNULL\t\treplicate\n\tVALUE_NULL\t32\n");
  null_key(0x10, {7});
  EXPECT_TRUE(has(par(), "R\t;Replicating null key\n7\t;Null value\n"));
  null_key(0x10, {200}, 0x28);
  EXPECT_TRUE(has(par(), "R\t;Replicating null key\n0\t;Default numeric null value\n"));
  EXPECT_EQ(xdl_null(), "\tNULL\t\treplicate\n\tVALUE_NULL\t0\n");
  null_key(0x10, {});  // count byte 1: the empty value
  EXPECT_TRUE(has(par(), "R\t;Replicating null key\n0\t;Null value\n"));
}

TEST_F(NullValueTest, NonReplicatingText) {
  null_key(0x20, {'N', 'O', 'N', 'E'});
  EXPECT_TRUE(has(par(), "N\t;Non-replicating null key\n'NONE'\t;Null value string\n"));
  EXPECT_EQ(xdl_null(), "\tNULL\t\tnoreplicate\n\tVALUE_NULL\t'NONE'\n");
  // A descending alpha value is kept complemented: "AB" is stored 0xBE 0xBD.
  null_key(0x20, {0xBE, 0xBD}, 0x01);
  EXPECT_TRUE(has(par(), "'AB'\t;Null value string\n"));
  EXPECT_TRUE(has(xdl(), "\tVALUE_NULL\t'AB'\n"));
}

TEST_F(NullValueTest, NonReplicatingDecimal) {
  null_key(0x20, {0x71, 0x32, 0x35}, 0x22);
  EXPECT_TRUE(has(par(), "N\t;Non-replicating null key\n125\t;Null value\n"));
  EXPECT_TRUE(has(xdl(), "\tVALUE_NULL\t125\n"));
  null_key(0x20, {0x41, 0x02, 0x05}, 0x22);  // index form of 125
  EXPECT_TRUE(has(par(), "\n125\t;Null value\n"));
  null_key(0x20, {0x0E, 0x0D}, 0x22);  // index form of -12
  EXPECT_TRUE(has(par(), "\n-12\t;Null value\n"));
  EXPECT_TRUE(has(xdl(), "\tVALUE_NULL\t-12\n"));
  null_key(0x20, {0x40, 0x00, 0x07}, 0x22);  // leading zeros
  EXPECT_TRUE(has(par(), "\n7\t;Null value\n"));
}

TEST_F(NullValueTest, DescendingKeysAreDecodedAfterUndoingTheComplement) {
  null_key(0x20, {0xBE, 0xFD, 0xFA}, 0x02);  // 125, descending
  EXPECT_TRUE(has(par(), "\n125\t;Null value\n"));
  EXPECT_TRUE(has(xdl(), "\tVALUE_NULL\t125\n"));
  null_key(0x20, {0x80, 0x00, 0x00, 0x00}, 0x04);  // -1 integer, descending
  EXPECT_TRUE(has(par(), "\n-1\t;Null value\n"));
  null_key(0x20, {0xFE, 0xFF}, 0x08);  // 256 unsigned, descending
  EXPECT_TRUE(has(par(), "\n256\t;Null value\n"));
  // A segmented key: only the descending segment is complemented.
  null_key(0x20, {'A', 0xBD}, 0x21);
  f.keys[0].seg_type[1] = 0x01;
  f.keys[0].seg_length = {1, 1};
  EXPECT_TRUE(has(par(), "'AB'\t;Null value string\n"));
}

TEST_F(NullValueTest, NonReplicatingIntegers) {
  null_key(0x20, {0x01, 0x00}, 0x28);
  EXPECT_TRUE(has(par(), "\n256\t;Null value\n"));
  EXPECT_TRUE(has(xdl(), "\tVALUE_NULL\t256\n"));
  null_key(0x20, {0x7F, 0xFF, 0xFF, 0xFF}, 0x24);
  EXPECT_TRUE(has(par(), "\n-1\t;Null value\n"));
  EXPECT_TRUE(has(xdl(), "\tVALUE_NULL\t-1\n"));
  null_key(0x20, {0x7F}, 0x24);  // a 1-byte -1 is shown unsigned
  EXPECT_TRUE(has(par(), "\n255\t;Null value\n"));
  null_key(0x20, {0xFF, 0xFF, 0xFF, 0xFF}, 0x28);
  EXPECT_TRUE(has(par(), "\n4294967295\t;Null value\n"));
  null_key(0x20, {0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}, 0x24);
  EXPECT_TRUE(has(par(), "\n-2\t;Null value\n"));
  EXPECT_TRUE(has(xdl(), "\tVALUE_NULL\t-2\n"));
  null_key(0x20, std::vector<uint8_t>(8, 0xFF), 0x28);
  EXPECT_TRUE(has(par(), "\n18446744073709551615\t;Null value\n"));
}

TEST_F(NullValueTest, ValuesWithoutPrintableForm) {
  null_key(0x20, {1, 2, 3}, 0x28);  // 3-byte unsigned
  EXPECT_TRUE(
      has(par(), "N\t;Non-replicating null key\nU\t;Unsigned integer type\n10\t;Key size\n"));
  EXPECT_EQ(xdl_null(), "\tNULL\t\tnoreplicate\n\t!VALUE_NULL not shown: no printable form\n");
  null_key(0x20, {1}, 0x23);  // unknown type
  EXPECT_EQ(xdl_null(), "\tNULL\t\tnoreplicate\n\t!VALUE_NULL not shown: no printable form\n");
  bare();
  std::string t = xdl();
  const std::string tail = "\tMODIFIABLE\tno\n\tNULL\t\tnoreplicate\n";
  EXPECT_EQ(t.substr(t.size() - tail.size()), tail);
}

TEST_F(NullValueTest, ValuesOutsideTheAreaAreEmpty) {
  null_key(0x20, {'X'});
  f.keys[0].null_offset = 400;
  EXPECT_TRUE(has(par(), "N\t;Non-replicating null key\n''\t;Null value string\n"));
  f.keys[0].null_offset = 4;
  f.null_area[4] = 200;  // count runs past the area
  bool inside = true;
  EXPECT_TRUE(null_value_bytes(f, f.keys[0], &inside).empty());
  EXPECT_FALSE(inside);
  f.null_area[4] = 0;
  EXPECT_TRUE(null_value_bytes(f, f.keys[0], &inside).empty());
  EXPECT_TRUE(inside);
}

// ---------------------------------------------------------------- XDL

TEST_F(WriterTest, XdlFileSectionByRevision) {
  f.file_flags = 0x40 | 0x80 | 0x04 | 0x02;
  f.file_flags2 = 0x100;
  f.seed = 9;
  f.allocation = 64;
  f.page_units = 8;
  keep(part(xdl(), "FILE", "RECORD"));
  f.file_flags2 = 0x100 | 0x40 | 0x01;  // patched: 40-bit, no seed, no tracking line
  keep(part(xdl(), "\tADDRESSING", "\tKEYS"));
  f.revision = 5;
  f.file_flags = 0x08;
  f.page_units = 4;
  std::string t = xdl();
  keep(part(t, "\tADDRESSING", "\tKEYS"));
  keep(part(t, "RECORD", "\t!5ca5"));
}

TEST_F(WriterTest, XdlRecordSection) {
  f.file_flags = 0x03 | 0x04;
  f.file_flags2 = 0x400;
  f.port_ints = {{4, 2, 30}, {1, 1, 1}};
  keep(part(xdl(), "RECORD", "\t!5ca5"));
  f.file_flags = 0x02;
  f.file_flags2 = 0x01;
  EXPECT_TRUE(has(xdl(), "\tFORMAT\t\tvariable\n\tCOMPRESS_DATA\tno\n\tSTATIC_RFA\tno\n"));
}

TEST_F(WriterTest, XdlKeyCountWithChangeTracking) {
  f.file_flags |= 0x40;
  f.file_flags2 = 0x200;
  f.key_count = 3;
  f.keys.resize(3, f.keys[0]);
  f.keys[2].autokey_flags = 0x10;
  std::string t = xdl();
  EXPECT_TRUE(has(t, "\tTRACK_CHANGES\tyes\n\tKEYS\t\t2\n"));
  EXPECT_TRUE(has(t, "\nKEY 1\n"));
  EXPECT_FALSE(has(t, "\nKEY 2\n"));
  ctx.options.change_tracking_key = true;
  t = xdl();
  EXPECT_TRUE(has(t, "\tKEYS\t\t3\n"));
  // The change-tracking key's minimum divides by one more byte: 2048 / 15.
  EXPECT_TRUE(has(t, "\nKEY 2\n\t!Alternate key #2\n"));
  EXPECT_TRUE(has(part(t, "KEY 2"), "\t!Minimum keys per block 136\n"));
}

TEST_F(WriterTest, XdlComments) {
  f.revision = 4;
  f.file_flags = 0x08 | 0x10;
  f.unusable_space = 100;
  f.vector_count = 0xFFFF;
  f.file_flags2 = 0;
  f.cleared = 86400;
  f.update_count = 5;
  f.dynamic_flags = 1;
  f.creation_version = {'V', '4', 0};
  ctx.options.temp_key = true;  // changes nothing in the XDL file section
  std::string t = xdl();
  keep(part(t, "\t!5ca5", "\nKEY 0"));
  f.file_flags = 0;
  EXPECT_TRUE(has(xdl(), "\t!100 bytes unusable RFA space\n"));
  f.revision = 2;
  t = xdl();
  EXPECT_TRUE(has(t, "!\tWARNING: Old level ISAM file Rev 2\n"));
  EXPECT_FALSE(has(t, "File created on"));
}

TEST_F(WriterTest, XdlPreallocationAlsoWithTemporaryIndex) {
  ctx.options.temp_key = true;
  ctx.main_file.key_count = 4;
  f.file_flags2 = 0x100;
  f.allocation = 2;
  io.data.assign(512, 0);
  f.data_leof = 512;
  std::string t = xdl();
  EXPECT_TRUE(has(t,
                  "\t!Preallocated file blocks (unused)\n\t!  0 index blocks\n"
                  "\t!  0 (512 byte) data blocks {LEOF=0x200}\n"
                  "\t!  Total record capacity: 1\n\t!0 free"));
  EXPECT_TRUE(has(t, "\nKEY 0\n\t!Temporary key #4\n"));
}

TEST_F(WriterTest, XdlSegmentedKey) {
  KeyView& k = f.keys[0];
  k.seg_type = {0x21, 0x21, 0x02, 0, 0, 0, 0, 0};
  k.seg_start = {0, 10, 20};
  k.seg_length = {10, 10, 4};
  k.key_size = 27;
  k.key_flags = 0x04 | 0x02 | 0x08;
  k.density = 70;
  k.qualifier_offset = 12;
  keep(part(xdl(), "KEY 0"));
  k.key_flags = 0x04;
  EXPECT_TRUE(has(xdl(), "\tDUPLICATES\tyes\n\tDUPLICATE_ORDER\tlifo\n"));
}

TEST_F(WriterTest, XdlAutokeysAndTypes) {
  f.key_count = 3;
  f.keys.resize(3, f.keys[0]);
  KeyView& seq = f.keys[1];
  seq.autokey_flags = 0x02;
  seq.seg_length = {8};
  set_name(&seq, "   ");
  KeyView& mixed = f.keys[2];
  mixed.autokey_flags = 0x03;  // no single autokey kind: no type word
  mixed.seg_type = {0x30, 0x08, 0x1F, 0, 0, 0, 0, 0};
  mixed.seg_length = {1, 1, 1};
  f.autokey_summary = 0x101;
  f.autoseed = 7;
  std::string t = xdl();
  keep(part(t, "KEY 1", "\tLENGTH"));
  EXPECT_TRUE(has(part(t, "KEY 1", "\tDUPLICATES"), "\tTYPE\t\tsequence\n\tORDER\t\tascending\n"));
  EXPECT_FALSE(has(part(t, "KEY 1", "KEY 2"), "\tNAME"));
  EXPECT_TRUE(has(part(t, "KEY 2"), "\tTYPE\t\t::\n\tORDER\t\tascending:descending:descending\n"));
  mixed.autokey_flags = 0;
  EXPECT_TRUE(has(part(xdl(), "KEY 2"), "\tTYPE\t\tnocase:unsigned:\n"));
  f.autoseed = -5;
  EXPECT_TRUE(has(xdl(), "\t!Autoseed:\t-- FULL --\n"));
  seq.autokey_flags = 0x04;
  EXPECT_TRUE(has(xdl(), "\tTYPE\t\tGUID\n"));
  seq.autokey_flags = 0x01;
  EXPECT_TRUE(has(xdl(), "\tTYPE\t\ttimestamp\n"));
}

TEST_F(WriterTest, XdlShortNullKey) {
  f.keys[0].key_flags = 0x40;
  EXPECT_TRUE(has(xdl(), "\tMODIFIABLE\tno\n\tNULL\t\tshort\n\n"));
}

}  // namespace
}  // namespace ismgr::tool
