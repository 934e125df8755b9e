// Tests of the ISAM header checks and write side: the file text forms, the
// damaged headers, the conversions between the old, short and full layouts,
// the dynamic header write-back, the preallocation and fill-limit
// arithmetic, the initial index and the work-file names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ismgr/isam/file_control.h"
#include "ismgr/isam/isam_format.h"
#include "ismgr/runtime/status.h"
#include "support/damaged_headers.h"
#include "support/isam_builder.h"
#include "support/isam_parse.h"

namespace ismgr {
namespace {

using testing::IsamBuilder;
using testing::KeySpec;
using testing::Opened;
using testing::parse;
using testing::parse_files;

// ---------------------------------------------------------------------------
// File text.
// ---------------------------------------------------------------------------
TEST(IsamFileText, PrefixedFormInUnpatchedAndPatchedFiles) {
  IsamBuilder u;
  u.revision(6).add_key(KeySpec::alpha("K", 0, 8)).file_text_prefixed("hello world");
  Opened o = parse(u);
  ASSERT_EQ(o.status, 0);
  EXPECT_TRUE(file_text_prefixed(o.fc));
  EXPECT_EQ(o.fc.text_location, u.text_location());
  EXPECT_EQ(o.fc.text_location, o.fc.extension.text_offset);
  EXPECT_EQ(o.fc.text_length, 11u);
  EXPECT_EQ(o.fc.text_allocation, 32u);  // short texts get at least 32 bytes
  EXPECT_EQ(o.fc.text_allocation_word, 0x04000000u + 32);

  IsamBuilder p;
  p.patched_from(4).add_key(KeySpec::alpha("K", 0, 8)).file_text_prefixed("abc", 0x08000004);
  o = parse(p);
  ASSERT_EQ(o.status, 0);
  EXPECT_EQ(o.fc.text_location, uint64_t{o.fc.header.dynamic_offset} + o.fc.header.dynamic_size);
  EXPECT_EQ(o.fc.text_allocation, 4096u);
  EXPECT_EQ(o.fc.text_length, 3u);

  // A prefix that cannot be read gives allocation and length 0.
  std::vector<uint8_t> data = u.data_file();
  data.resize(u.text_location() + 4);
  o = parse_files(u.index_file(), data);
  ASSERT_EQ(o.status, 0);
  EXPECT_EQ(o.fc.text_allocation, 0u);
  EXPECT_EQ(o.fc.text_length, 0u);
}

TEST(IsamFileText, ExtensionForm) {
  IsamBuilder b;
  b.revision(6).add_key(KeySpec::alpha("K", 0, 8)).file_text_extension("some text", 2);
  Opened o = parse(b);
  ASSERT_EQ(o.status, 0) << (o.detail ? o.detail : "");
  EXPECT_FALSE(file_text_prefixed(o.fc));
  EXPECT_EQ(o.fc.text_allocation, 2048u);
  EXPECT_EQ(o.fc.text_allocation_word, 0x08000002u);
  EXPECT_EQ(o.fc.text_length, 9u);
  EXPECT_EQ(o.fc.text_location, b.data_header_bytes());
  EXPECT_EQ(o.fc.data_start, b.data_header_bytes() + 2048);
}

// ---------------------------------------------------------------------------
// Damaged headers (the shared table), the revision messages and the magics.
// ---------------------------------------------------------------------------
TEST(IsamDamagedHeaders, EachIsRefusedWithItsStatus) {
  EXPECT_EQ(parse(testing::damage_base()).status, 0);  // the base is sound
  for (const testing::DamagedHeader& d : testing::damaged_headers()) {
    EXPECT_EQ(parse(d.build()).status, d.status) << d.name;
  }
}

TEST(IsamDamagedHeaders, RevisionMessages) {
  EXPECT_STREQ(revision_check_message(0, 0x10), "Old revision, run fmaint -p");
  EXPECT_STREQ(revision_check_message(1, 0x20), "Old revision, run fmaint -p");
  EXPECT_EQ(revision_check_message(2, 0x30), nullptr);
  EXPECT_EQ(revision_check_message(0, 0x20), nullptr);
  EXPECT_EQ(revision_check_message(6, 0xFF), nullptr);
  EXPECT_STREQ(revision_check_message(7, 0), "File revision newer than ISMGR");
  EXPECT_STREQ(revision_check_message(255, 0), "File revision newer than ISMGR");
  EXPECT_STREQ(parse(testing::damage_base().compat_level(1)).detail,
               "File compatability level newer than ISMGR");
  // The data file's copy checks against 0x5CB5; its magic is no index kind.
  IsamBuilder b = testing::damage_base();
  const std::vector<uint8_t> data = b.data_file();
  EXPECT_EQ(check_header_page(data.data(), 4096, kMagicData, nullptr), 0);
  EXPECT_EQ(check_header_page(data.data(), 4096, kMagicIndex, nullptr), kStatusNotIsam);
  const std::vector<uint8_t> temp = b.temp_index_file();
  EXPECT_EQ(check_header_page(temp.data(), 4096, kMagicTempIndex, nullptr), 0);
  // A text allocation that disagrees with the data start says so.
  b = testing::damage_base().file_text_extension("t", 2);
  b.data_start_override(b.data_header_bytes() + 1024);
  EXPECT_STREQ(parse(b).detail, "File text allocation wrong in header");
  // A prefix whose length runs past the end of the data file.
  IsamBuilder c;
  c.revision(6).add_key(KeySpec::alpha("K", 0, 8)).file_text_prefixed("abc", 0x08003FFF);
  std::vector<uint8_t> cut = c.data_file();
  cut[c.text_location() + 4] = cut[c.text_location() + 5] = 0xFF;
  cut.resize(c.text_location() + 8 + 100);
  EXPECT_EQ(parse_files(c.index_file(), cut).status, kStatusBadFileControl);
}

// ---------------------------------------------------------------------------
// Conversions against hand-worked values.
// ---------------------------------------------------------------------------
TEST(IsamConversions, OldHeaderBackAndForth) {
  IsamBuilder b;
  b.revision(3).add_key(KeySpec::alpha("K", 0, 8)).counts(4, 1, 12, 2).free_slot(0x500, 20);
  const std::vector<uint8_t> page = b.index_file();
  OldHeaderBlock blk;
  ASSERT_TRUE(decode_old_header_block(page.data(), page.size(), &blk));
  FreeListPart f;
  FileCounters c;
  old_header_to_dynamic(blk, &f, &c);
  EXPECT_EQ(f.record_count, 4u);
  EXPECT_EQ(c.update_count, 12u);
  f.record_count = 5;
  f.slots[0].size = 0;
  c.update_count = 13;
  dynamic_to_old_header(f, c, {0x1400}, {2}, &blk);
  std::vector<uint8_t> out(page.begin(), page.begin() + kOldHeaderBlockSize);
  ASSERT_TRUE(encode_old_header_block(blk, out.data(), out.size()));
  // Hand-placed: record count at 20, update count at 832, first slot size
  // at 508, key 0 root at 28 + 4 and depth at 28 + 2.
  EXPECT_EQ(get_u32(out.data() + 20), 5u);
  EXPECT_EQ(get_u32(out.data() + 832), 13u);
  EXPECT_EQ(get_u16(out.data() + 508), 0);
  EXPECT_EQ(get_u32(out.data() + 32), 0x1400u);
  EXPECT_EQ(out[30], 2);
  for (size_t i : {0u, 2u, 4u, 12u, 28u, 72u, 768u}) EXPECT_EQ(out[i], page[i]) << i;
}

TEST(IsamConversions, PreallocationInBlocksAndFillLimits) {
  IsamHeader h;
  h.record_size = 100;
  h.record_overhead = 12;
  EXPECT_EQ(preallocation_blocks(h, 4096, 50), 50);  // in blocks: unchanged
  h.file_flags2 = kFlags2AllocInRecords;
  // 10 records of 112 bytes after 4096 bytes: (1120 + 4096 + 511) / 512 = 11.
  EXPECT_EQ(preallocation_blocks(h, 4096, 10), 11);
  EXPECT_EQ(preallocation_blocks(h, 0, 0), 0);
  EXPECT_EQ(preallocation_blocks(h, 512, 0), 1);
  EXPECT_EQ(preallocation_blocks(h, 513, 0), 2);
  // Without tbyte the bytes must stay below 2^31 - 1.
  // 19173961 records x 112 = 2147483632; + 14 = 2147483646 (= 2^31 - 2).
  EXPECT_EQ(preallocation_blocks(h, 14, 19173961), (2147483646ll + 511) / 512);
  EXPECT_EQ(preallocation_blocks(h, 15, 19173961), -1);
  EXPECT_EQ(preallocation_blocks(h, 0, 0xFFFFFFFF), -1);
  h.file_flags = kFileTbyte;
  EXPECT_EQ(preallocation_blocks(h, 0, 0xFFFFFFFF), (0xFFFFFFFFll * 112 + 511) / 512);
  IsamBuilder b;
  b.revision(6).record_length(100).add_key(KeySpec::alpha("K", 0, 8)).preallocation(10, true);
  Opened o = parse(b);
  ASSERT_EQ(o.status, 0);
  EXPECT_EQ(o.fc.prealloc_blocks, (1010 + b.data_start() + 511) / 512);  // overhead 1
  o = parse(IsamBuilder().revision(6).add_key(KeySpec::alpha("K", 0, 8)).preallocation(64));
  EXPECT_EQ(o.fc.prealloc_blocks, 64);

  IsamHeader p;
  p.page_units = 4;  // 1024 bytes
  KeyDescriptor k;
  k.key_size = 10;
  k.density = 50;
  EXPECT_EQ(key_fill_limit(p, k), (512 - 12) / 14);
  p.file_flags = kFileSizedHeaders;  // entries 2 bytes wider
  EXPECT_EQ(key_fill_limit(p, k), (512 - 12) / 16);
  k.density = 1;  // 10 bytes usable less 12: nothing fits
  EXPECT_EQ(key_fill_limit(p, k), 0);
  k.density = 250;  // taken as 100
  EXPECT_EQ(key_fill_limit(p, k), (1024 - 12) / 16);
}

// ---------------------------------------------------------------------------
// Dynamic header write-back.
// ---------------------------------------------------------------------------
TEST(IsamDynamicWriteBack, ChangesReachTheirOffsets) {
  IsamBuilder b;
  b.revision(5).add_key(KeySpec::alpha("K", 0, 8)).add_key(KeySpec::alpha("L", 8, 8));
  Opened o = parse(b);
  ASSERT_EQ(o.status, 0);
  o.fc.counters.update_count = 0x20005;
  o.fc.free_list.record_count = 77;
  o.fc.roots[1] = 0x4C00;
  o.fc.depths[1] = 2;
  const std::vector<uint8_t> out = dynamic_header_bytes(o.fc);
  ASSERT_EQ(out.size(), b.dynamic_size());
  EXPECT_EQ(get_u16(out.data() + 2), 5);  // 16-bit update count
  EXPECT_EQ(get_u32(out.data() + 8), 77u);
  EXPECT_EQ(get_u32(out.data() + 280 + 4), 0x4C00u);  // second root
  EXPECT_EQ(out[280 + 8 + 1], 2);                     // second depth
  std::vector<uint8_t> idx = b.index_file();
  std::copy(out.begin(), out.end(), idx.begin() + b.dynamic_offset());
  Opened again = parse_files(idx, b.data_file());
  ASSERT_EQ(again.status, 0);
  EXPECT_EQ(again.fc.counters.update_count, 5u);
  EXPECT_EQ(again.fc.roots[1], 0x4C00u);
  EXPECT_EQ(again.fc.depths[1], 2);
  // More bytes than laid out are refused.
  std::vector<uint8_t> big(o.fc.dynamic.size + 1, 0);
  EXPECT_EQ(load_dynamic_header(big.data(), big.size(), &o.fc), kStatusBadFileControl);
}

TEST(IsamDynamicWriteBack, ShortDynamicSizeLeavesTheRestZero) {
  // A revision-6 dynamic_size that stops before the counters: they read 0,
  // and the write-back writes exactly dynamic_size bytes.
  IsamBuilder b;
  b.revision(6).add_key(KeySpec::alpha("K", 0, 8)).autoseed(99).counts(1, 0, 5, 0);
  b.dynamic_size_override(1616 + 8);
  Opened o = parse(b);
  ASSERT_EQ(o.status, 0);
  EXPECT_EQ(o.fc.counters.autoseed, 0);
  EXPECT_EQ(o.fc.counters.update_count, 0u);
  EXPECT_EQ(o.fc.free_list.record_count, 1u);
  EXPECT_EQ(dynamic_header_bytes(o.fc).size(), 1616u + 8);
  // A tracking file whose read stops short of the area has none.
  IsamBuilder t;
  t.revision(6).add_key(KeySpec::alpha("K", 0, 8)).change_tracking(0, 1, 0, 1234);
  t.dynamic_size_override(static_cast<uint16_t>(t.dynamic_size() - 4));
  o = parse(t);
  ASSERT_EQ(o.status, 0);
  EXPECT_FALSE(o.fc.has_tracking);
  EXPECT_EQ(o.fc.tracking_file_offset, 0u);
  EXPECT_LE(dynamic_header_bytes(o.fc).size(), o.fc.dynamic.tracking_offset);
}

// ---------------------------------------------------------------------------
// Initial index writer and work-file names.
// ---------------------------------------------------------------------------
TEST(IsamInitialIndex, HeaderThenOneEmptyRootPerKeyInPieces) {
  IsamBuilder b;
  b.revision(6)
      .page_units(32)
      .add_key(KeySpec::alpha("K", 0, 8))
      .add_key(KeySpec::alpha("L", 8, 8));
  std::vector<uint8_t> image = b.index_file();
  image.resize(b.data_header_bytes());
  std::vector<size_t> pieces;
  std::vector<uint8_t> out;
  int rc =
      write_initial_index(image.data(), image.size(), [&](const uint8_t* p, size_t n) -> int64_t {
        pieces.push_back(n);
        out.insert(out.end(), p, p + n);
        return static_cast<int64_t>(n);
      });
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(out, b.index_file());        // the same bytes the builder lays out
  ASSERT_EQ(pieces.size(), 1u + 2 * 2);  // 8192-byte blocks in two pieces
  for (size_t i = 1; i < pieces.size(); ++i) EXPECT_EQ(pieces[i], 4096u);
  std::vector<uint8_t> buffer;
  ASSERT_EQ(initial_index_image(image.data(), image.size(), &buffer), 0);
  EXPECT_EQ(buffer, out);
  // A short or failed write fails the whole.
  int calls = 0;
  auto short_second = [&](const uint8_t*, size_t n) -> int64_t {
    return ++calls == 2 ? static_cast<int64_t>(n) - 1 : static_cast<int64_t>(n);
  };
  EXPECT_EQ(write_initial_index(image.data(), image.size(), short_second), -1);
  EXPECT_EQ(calls, 2);
  auto failing = [](const uint8_t*, size_t) -> int64_t { return -1; };
  EXPECT_EQ(write_initial_index(image.data(), image.size(), failing), -1);
  EXPECT_EQ(write_initial_index(image.data(), 10, IndexWriter(short_second)), -1);
}

// A control block is valid when its magic matches the handles it holds:
// an index both, a data-file-only open its data handle and no index, a
// temporary index its index handle.
TEST(IsamFileControlValidity, MagicMustMatchHandles) {
  EXPECT_FALSE(file_control_valid(nullptr));
  const struct {
    uint16_t magic;
    int index, data;
    bool valid;
  } rows[] = {
      {kMagicIndex, 3, 0, true},  // descriptor 0 is a handle like any other
      {kMagicIndex, 3, -1, false},     {kMagicData, 3, 0, false},     {kMagicData, -1, 0, true},
      {kMagicTempIndex, -1, 0, false}, {kMagicTempIndex, 5, 0, true}, {0, 5, 0, false},  // closed
  };
  for (const auto& r : rows) {
    IsamFileControl fc;
    fc.header.magic = r.magic;
    fc.index_handle = r.index < 0 ? platform::kInvalidHandle : r.index;
    fc.data_handle = r.data < 0 ? platform::kInvalidHandle : r.data;
    EXPECT_EQ(file_control_valid(&fc), r.valid) << std::hex << r.magic << " " << r.index;
  }
}

TEST(IsamWorkFiles, Names) {
  EXPECT_EQ(is2_marker_name("/data/cust.ism"), "/data/cust_ism.is2");
  EXPECT_EQ(is2_marker_name("a.b.dat"), "a.b_dat.is2");
  EXPECT_EQ(last_name_component("C:\\work\\cust.tmp"), "cust.tmp");
  EXPECT_EQ(last_name_component("D:cust.tmp"), "cust.tmp");
  EXPECT_EQ(last_name_component("/tmp/x/cust.tmp"), "cust.tmp");
  EXPECT_EQ(last_name_component("cust.tmp"), "cust.tmp");
}

}  // namespace
}  // namespace ismgr
