// The PAR writer on crafted file views: every branch of the file line, the
// comments and the key sections.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/writer_fixture.h"
#include "tool/null_value.h"
#include "tool/writer_common.h"

namespace ismgr::tool {
namespace {

using testing::kParBanner;
using testing::set_name;
using testing::WriterTest;

// ---------------------------------------------------------------- PAR file section

// The whole descriptions of the basic view, plain and bare.
TEST_F(WriterTest, WholeDescriptionsOfABasicFile) {
  std::string all = "== par\n" + par() + "== xdl\n" + xdl();
  EXPECT_EQ(result, 0);
  bare();
  all += "== par bare\n" + par() + "== xdl bare\n" + xdl();
  EXPECT_TRUE(ismgr::test::matches_golden("qdesc/view.txt", all));
}

TEST_F(WriterTest, ParBannerUsesZeroForANegativeClock) {
  ctx.clock = [] { return int64_t{-5}; };
  EXPECT_EQ(par().substr(0, kParBanner.size()), kParBanner);
  ctx.clock = [] { return int64_t{86400 * 31 + 3661}; };
  EXPECT_EQ(par().substr(0, kParBanner.size()),
            ";\tCorveth ISAM PAR File created Sun Feb 01 01:01:01 1970\n");
}

TEST_F(WriterTest, ParFileLineOptions) {
  f.file_flags = 0x18 | 0x04 | 0x40 | 0x80;
  f.file_flags2 = 0x400 | 0x200 | 0x100 | 0x40;
  f.seed = 77;
  f.allocation = 100;
  f.port_ints = {{4, 4, 10}, {3, 2, 1}, {4, 0xFF, 20}};
  keep(part(par(), "cust", "512"));
  f.file_flags = 0x02 | 0x40;
  f.file_flags2 = 0x100;
  f.seed = 0;
  f.page_units = 4;
  f.port_ints.clear();
  keep(part(par(), "cust", "512"));
  f.file_flags = 0x03;
  f.file_flags2 = 0;
  keep(part(par(), "cust", "512"));
}

TEST_F(WriterTest, ParPageAndStaticRfaByRevision) {
  f.revision = 5;
  f.page_units = 4;
  keep(part(par(), "cust", "512"));
  f.revision = 6;
  f.file_flags2 = 0x01;
  f.page_units = 16;
  keep(part(par(), "cust", "512"));
  f.file_flags = 0;
  f.seed = 5;  // a seed is shown for unpatched files only
  keep(part(par(), "cust", "512"));
}

TEST_F(WriterTest, ParNameIsNeverAFormat) {
  keep(part(par("a%s%n.ism"), "a%", "512"));
}

// ---------------------------------------------------------------- file text

class FileTextTest : public WriterTest {
 protected:
  void with_text(const std::string& text, bool prefix, uint32_t alloc_word = 0) {
    f.text_location = 64;
    f.text_length = static_cast<uint32_t>(text.size());
    f.text_alloc_word = alloc_word;
    io.data.assign(64, 0);
    if (prefix) {
      f.file_flags2 = 0x08;
      for (int i = 0; i < 4; ++i) io.data.push_back(static_cast<uint8_t>(alloc_word >> (8 * i)));
      for (int i = 0; i < 4; ++i) io.data.push_back(static_cast<uint8_t>(text.size() >> (8 * i)));
    } else {
      f.file_flags2 = 0x10;
      f.text_offset = 64;
      f.text_alloc_kb = static_cast<uint8_t>(alloc_word);
    }
    io.data.insert(io.data.end(), text.begin(), text.end());
    f.text_allocation = 2048;
  }
};

TEST_F(FileTextTest, ParTextInKilobytesAndInBytes) {
  with_text("hello", false, 0x08000000 | 2);
  std::string t = par();
  keep(part(t, "cust", "512"));
  EXPECT_TRUE(has(t, "\t;5 of 2048 byte file text allocation in use, @0x40\n"));
  EXPECT_FALSE(has(t, "invalid location"));
  f.text_offset = 0;
  with_text("say \"hi\"; ok", true, 600);  // allocation in bytes: no "k", no ':'
  t = par();
  keep(part(t, "cust", "512"));
  EXPECT_TRUE(has(t, "in use, @0x48\n\t; Warning! File text at invalid location\n"));
}

TEST_F(FileTextTest, ParEmptyTextWithKilobyteAllocation) {
  with_text("", true, 0x08000000 | 4);
  keep(part(par(), "cust", "512"));
  with_text("", true, 600);
  keep(part(par(), "cust", "512"));
}

TEST_F(FileTextTest, ParTextThatDoesNotFitIsWrittenAsTextLines) {
  std::string text;
  for (int i = 0; i < 120; ++i) text.push_back(static_cast<char>('a' + i % 26));
  with_text(text, true, 600);
  std::string name(900, 'n');
  std::string t = par(name);
  EXPECT_EQ(result, -1);
  keep(part(t, name, "512"));
  EXPECT_TRUE(has(t, "\t;Minimum keys per block"));  // the keys still follow
}

TEST_F(FileTextTest, ParLineLimitIs995) {
  std::string text(100, 't');
  with_text(text, true, 600);
  // 888 + ", text=" + 100 = 995: fits.
  std::string name(888, 'n');
  keep(part(par(name), name, "512"));
  EXPECT_EQ(result, 0);
  name.push_back('n');
  std::string t = par(name);
  EXPECT_EQ(result, -1);
  EXPECT_TRUE(has(t, name + ", text=\n\t;WARNING"));
  EXPECT_TRUE(has(t, "\t;     lines using INVOKE PUTNOTE.\n\t;TEXT\t\"" + std::string(50, 't') +
                         "\"\n\t;TEXT\t\"" + std::string(50, 't') + "\"\n512"));
}

TEST_F(FileTextTest, UnreadableTextIsLeftOut) {
  with_text("hello", true, 0x08000000 | 2);
  io.data.resize(64 + 8 + 2);  // text cut short
  std::string t = par();
  keep(part(t, "cust", "512"));
  EXPECT_TRUE(has(t, "\t;5 of 2048 byte file text allocation in use, @0x48\n"));
  // A prefix the open could not read leaves allocation word and length 0.
  f.text_alloc_word = 0;
  f.text_length = 0;
  keep(part(par(), "cust", "512"));
  std::string x = xdl();
  EXPECT_FALSE(has(x, "TEXT"));
  f.text_length = 0xFFFFFFFF;  // never read into memory
  keep(part(par(), "cust", "512"));
}

TEST_F(FileTextTest, XdlTextLines) {
  std::string text(120, 'x');
  text[0] = '"';
  with_text(text, false, 0x08000000 | 2);
  std::string t = xdl();
  keep(part(t, "\tTEXT_ALLOCATION", "\tKEYS"));
  with_text(std::string(30, 'y'), true, 600);
  keep(part(xdl(), "\tTRACK_CHANGES", "\tKEYS"));
  with_text("", true, 0x08000000 | 2);
  keep(part(xdl(), "\tTRACK_CHANGES", "\tKEYS"));
}

// ---------------------------------------------------------------- revision comments

TEST_F(WriterTest, ParPatchedFromRevision4) {
  f.file_flags = 0x08;
  f.file_flags2 = 0x01 | 0x02;
  keep(part(par(), "\t;5ca5", "\t;Update"));
}

TEST_F(WriterTest, ParBeforeRevision6) {
  f.revision = 5;
  f.magic = 0x5CB5;
  f.file_flags = 0;
  f.creation_version = {'V', '5', '.', '1', 0, 'z', 'z', 'z'};
  keep(part(par(), "\t;5cb5", "\t;Update"));
  f.creation_version = {'1', '2', '3', '4', '5', '6', '7', '8'};  // no NUL: 8 characters
  EXPECT_TRUE(has(par(), "\t;Creation version 12345678\n"));
}

TEST_F(WriterTest, CreationVersionLetterAndNumber) {
  f.creation_version = {'0', '7', '1', '0', '1', '2', '3', 0};
  EXPECT_TRUE(has(par(), "\t;Creation version 7.10.123  {Compat Level 6.0}\n"));
  f.creation_version = {'0', '6', '0', '2', '5', 0, 0, 0};
  f.compat_level = 3;
  EXPECT_TRUE(has(par(), "\t;Creation version 6.2.5  {Compat Level 6.3}\n"));
  f.creation_version = {'0', '6', '0', '2', 'b', 0, 0, 0};
  EXPECT_TRUE(has(par(), "\t;Creation version 6.2.0b {Compat Level 6.3}\n"));
}

// ---------------------------------------------------------------- dates

TEST_F(WriterTest, ParDates) {
  f.created = 86400;
  f.cleared = 2 * 86400;
  f.reindexed = 3 * 86400;
  f.verified = 4 * 86400;
  f.reorganized = 5 * 86400;
  f.update_count = 4000000000u;
  keep(part(par(), "\t;Update", "\t;10 byte"));
  f.file_flags2 = 0x01;  // patched: no re-organization date
  EXPECT_FALSE(has(par(), "re-organization"));
}

TEST_F(WriterTest, ParTemporaryIndexComparison) {
  ctx.options.temp_key = true;
  ctx.main_file = {100, 200, 300, 10, 2};
  f.created = 100;
  f.cleared = 200;
  f.reindexed = 300;
  f.update_count = 7;
  f.free_list_head = 86400;
  f.file_flags2 = 0x100;
  std::string t = par();
  keep(part(t, "\t;Tempkey", "\t;File created"));
  keep(part(t, "\t;10 byte", "\t;Temporary"));  // no blocks, no free counts
  EXPECT_TRUE(has(t, "\t;Temporary alpha key #2\n"));
  f.update_count = 12;
  EXPECT_TRUE(has(par(), "\t;Update revision count 12 (+65533 out of sync)\n"));
  f.update_count = 10;
  EXPECT_TRUE(has(par(), "\t;Update revision count 10\n\t;File created"));
  f.cleared = 201;
  EXPECT_TRUE(has(par(),
                  "\t;Update revision count 10\n\t; (This index is out of sync with data)\n"
                  "\t;File created"));
}

// ---------------------------------------------------------------- space, blocks, counts

TEST_F(WriterTest, ParUnusableSpace) {
  f.unusable_space = 300;
  f.vector_count = 0xFFFF;
  EXPECT_TRUE(has(par(), "\t;300 bytes unusable RFA space; exceeds 65535 vectors\n"));
  f.vector_count = 12;
  EXPECT_TRUE(has(par(), "\t;300 bytes unusable RFA space; 12 vectors\n"));
  f.file_flags = 0;
  EXPECT_TRUE(has(par(), "\t;300 bytes unusable space\n\t;0 free"));
  bare();
  keep(part(par(), "1\n"));
}

// Index blocks of pages other than 4K are counted in 512-byte blocks.
TEST_F(WriterTest, ParPreallocatedIndexBlocksOfSmallPages) {
  f.file_flags2 = 0x100 | 0x40;  // allocation in records: 100 records of 520 bytes
  f.allocation = 100;
  f.page_units = 2;
  f.index_leof = 0x400;
  io.index_size = 0x400 + 1024;
  std::string t = par();
  EXPECT_TRUE(has(t, "\t;  2 (512 byte) index blocks {LEOF=0x400}\n\t;  0 data blocks\n"));
  EXPECT_TRUE(has(t, ", ralloc=100"));
}

TEST_F(WriterTest, ParPreallocationThatCannotBeComputed) {
  f.file_flags2 = 0x140;
  f.allocation = 0x7FFFFFFF;  // far beyond 2 GB of records
  f.index_open = false;
  f.data_leof = 0x1000;
  io.data.assign(0x800, 0);  // data file shorter than its LEOF
  keep(part(par(), "\t;Preall", "\t;0 free"));
  f.file_flags2 = 0x100;
  f.record_size = 0;
  f.record_overhead = 0;
  EXPECT_TRUE(has(par(), "\t;  Total record capacity: unknown\n"));
  f.record_size = 512;
  f.page_units = 0;
  f.index_open = true;
  f.index_leof = 0x10;
  io.index_size = 0x1000;
  EXPECT_TRUE(has(par(), "\t;  0 (0K) index blocks {LEOF=0x10}\n"));  // no division by 0
}

TEST_F(WriterTest, ParTbyteAddressesAndCounts) {
  f.file_flags |= 0x40;
  f.file_flags2 = 0x20 | 0x100;
  f.free_list_head = 0x10;
  f.free_list_head_high = 1;
  f.index_leof = 0x20;
  f.index_leof_high = 0;
  io.index_size = 0x2000 + 4096;
  f.data_leof = 0x1000;
  f.data_leof_high = 0;
  io.data.assign(0x1000, 0);
  f.free_index_blocks = 5;
  f.record_count = 3000000000u;
  f.free_record_count = 2;
  f.dynamic_flags = 1;
  f.keys[0].root_low = 0x10;
  f.keys[0].root_high = 1;
  std::string t = par();
  EXPECT_TRUE(has(t, "\t;  1 (4K) index blocks {LEOF=0x2000}\n"));
  EXPECT_TRUE(has(t, "\t;  0 (512 byte) data blocks {LEOF=0x1000}\n"));
  EXPECT_TRUE(has(t,
                  "\t;5 free index blocks, 0x10000001000 free list head\n"
                  "\t;  WARNING: Index freelist overflow - Re-indexing recommended\n"
                  "\t;3000000000 records, 2 free\n"));
  EXPECT_TRUE(has(t, "\t;Root 0x10000001000, index depth 1\n"));
  f.file_flags2 = 0;  // 40-bit: the fifth byte is no part of index addresses
  t = par();
  EXPECT_TRUE(has(t, "\t;Root 0x1000, index depth 1\n"));
  EXPECT_TRUE(has(t, "0x1000 free list head\n"));
}

// ---------------------------------------------------------------- PAR key sections

TEST_F(WriterTest, ParKeyWithDuplicatesInArrivalOrder) {
  KeyView& k = f.keys[0];
  k.key_flags = 0x04 | 0x02;
  k.key_size = 13;
  k.qualifier_offset = 20;
  keep(part(par(), "CUSTNO"));
  k.key_flags = 0x04;
  f.file_flags |= 0x40;
  k.key_size = 14;
  EXPECT_TRUE(has(par(), "10\t;Key size\n1\t;Start position\nY\t;Duplicates allowed\nY\t;Insert"));
}

TEST_F(WriterTest, ParSegmentedKeyWithMixedOrder) {
  KeyView& k = f.keys[0];
  set_name(&k, "ORDERS");
  k.key_flags = 0x08 | 0x40;
  k.density = 80;
  k.seg_type = {0x22, 0x04, 0, 0, 0, 0, 0, 0};
  k.seg_start = {4, 0};
  k.seg_length = {6, 4};
  k.key_size = 10;
  keep(part(par(), "ORDERS"));
}

TEST_F(WriterTest, ParSegmentedAlphaKeyWithOneOrder) {
  KeyView& k = f.keys[0];
  k.seg_type = {0x21, 0x21, 0x21, 0, 0, 0, 0, 0};
  k.seg_start = {0, 10, 20};
  k.seg_length = {10, 10, 4, 0, 7};  // the list ends at the first zero
  k.key_size = 24;
  keep(part(par(), "CUSTNO"));
  k.seg_length = {1, 1, 1, 1, 1, 1, 1, 1};
  EXPECT_TRUE(has(par(), "\n8\t;Number of segments\n"));
}

TEST_F(WriterTest, ParKeyNames) {
  set_name(&f.keys[0], "ABCDEFGHIJKLMNOP");
  EXPECT_TRUE(has(par(), "\nABCDEFGHIJKLMNO\n\t;Primary"));
  f.keys[0].key_name.fill(' ');
  f.keys[0].key_flags = 0x08;
  EXPECT_TRUE(has(par(), "\n/modify\n\t;Primary"));
  f.keys[0].key_name.fill(0);
  std::memcpy(f.keys[0].key_name.data(), "A%dB \t", 6);
  EXPECT_TRUE(has(par(), "\nA%dB/modify\n"));
}

TEST_F(WriterTest, ParAlternateKeysTypesAndAutokeys) {
  f.key_count = 3;
  f.keys.resize(3, f.keys[0]);
  KeyView& seq = f.keys[1];
  set_name(&seq, "SEQ");
  seq.autokey_flags = 0x02;
  seq.seg_type[0] = 0x21;  // alpha bits do not make an autokey alpha
  seq.key_size = 8;
  seq.seg_length[0] = 8;
  f.autokey_summary = 0x101;
  f.autoseed = 42;
  KeyView& odd = f.keys[2];
  set_name(&odd, "ODD");
  odd.seg_type[0] = 0x06;
  std::string t = par();
  keep(part(t, "SEQ", "N\t;Dup"));
  keep(part(t, "ODD", "N\t;Dup"));
  EXPECT_TRUE(has(t, "\nD\t;Ascending/descending\n"));
  f.autoseed = -1;
  EXPECT_TRUE(has(par(), "\t;Autoseed -- FULL --\n"));
  f.autokey_summary = 0x0001;  // no key in the sequence slot
  EXPECT_FALSE(has(par(), "Autoseed"));
  f.autokey_summary = 0x105;  // no such key
  EXPECT_FALSE(has(par(), "Autoseed"));
}

TEST_F(WriterTest, ParTypeLines) {
  const struct {
    uint8_t type, autokey;
    const char* line;
  } rows[] = {
      {0x01, 0, "A\t;  Alpha type\n"},
      {0x02, 0, "D\t;  Decimal type\n"},
      {0x24, 0, "I\t;  Integer type\n"},
      {0x08, 0, "U\t;  Unsigned integer type\n"},
      {0x10, 0, "N\t;  Case insensitive type\n"},
      {0x00, 0, " \t;  WARNING! UNKNOWN TYPE\n"},
      {0x01, 0x07, "T\t;  Timestamp autokey type\n"},
      {0x01, 0x06, "S\t;  Sequence autokey type\n"},
      {0x01, 0x04, "G\t;  GUID autokey type\n"},
  };
  for (const auto& r : rows) {
    KeyView k;
    k.seg_type[1] = r.type;
    k.autokey_flags = r.autokey;
    sink.clear();
    write_par_type(ctx, k, 1, sink, true);
    EXPECT_EQ(sink.text(), r.line);
  }
  sink.clear();
  KeyView k;
  k.seg_type[0] = 0x08;
  write_par_type(ctx, k, 0, sink, false);
  EXPECT_EQ(sink.text(), "U\t;Unsigned integer type\n");
}

TEST_F(WriterTest, ParChangeTrackingKeyOnlyWithOption) {
  f.file_flags |= 0x40;
  f.file_flags2 = 0x200;
  f.key_count = 2;
  f.keys.resize(2, f.keys[0]);
  KeyView& ct = f.keys[1];
  set_name(&ct, "");
  ct.autokey_flags = 0x10;
  ct.seg_type[0] = 0x28;
  ct.key_size = 10;
  std::string t = par();
  EXPECT_FALSE(has(t, "Alternate"));
  ctx.options.change_tracking_key = true;
  t = par();
  keep(part(t, "/type"));
}

TEST_F(WriterTest, MinimumKeysPerBlock) {
  f.page_units = 4;
  KeyView k = f.keys[0];
  EXPECT_EQ(min_keys_per_block_par(f, k), 36);
  EXPECT_EQ(min_keys_per_block_xdl(f, k), 36);
  k.key_size = 2;
  EXPECT_EQ(min_keys_per_block_par(f, k), 84);
  EXPECT_EQ(min_keys_per_block_xdl(f, k), 85);
  f.file_flags2 = 0x20;  // 48-bit: 14-byte block header
  EXPECT_EQ(min_keys_per_block_par(f, k), 505 / 6);
  k.autokey_flags = 0x10;
  EXPECT_EQ(min_keys_per_block_xdl(f, k), 512 / 7);
  k.key_size = 0;
  f.index_entry_width = -1;
  k.autokey_flags = 0x10;
  EXPECT_EQ(min_keys_per_block_par(f, k), 0);  // nothing to divide by
  EXPECT_EQ(min_keys_per_block_xdl(f, k), 0);
}

}  // namespace
}  // namespace ismgr::tool
