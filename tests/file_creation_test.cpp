#include "ismgr/describe/file_creation.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "ismgr/describe/xdl_parser.h"
#include "ismgr/fileio/file_io.h"
#include "ismgr/isam/file_control.h"
#include "ismgr/runtime/context.h"
#include "ismgr/runtime/keyword.h"
#include "ismgr/runtime/status.h"
#include "support/detail_capture.h"
#include "support/scratch_dir.h"

namespace ismgr {
namespace {

using testing_support::DetailCapture;
using testing_support::status_of;

std::unique_ptr<FileDescription> parse(const std::string& text, int revision = 6,
                                       std::string* name = nullptr) {
  std::string scratch;
  const char* cursor = text.c_str();
  return build_file_description(cursor, name != nullptr ? name : &scratch, revision);
}

// A description with `keys` one-segment alpha keys over the first bytes.
FileDescription plain_description(uint16_t record_size, int keys, uint16_t key_length) {
  FileDescription d;
  d.record_size = record_size;
  d.key_count = static_cast<uint8_t>(keys);
  for (int i = 0; i < keys; ++i) {
    KeyDescription k;
    k.key_flags = kKeyFifo;
    k.seg_type[0] = kSegAlpha | kSegAscending;
    k.seg_length[0] = key_length;
    k.key_size = key_length;
    d.keys.push_back(k);
  }
  return d;
}

std::vector<uint16_t> sizes(const std::vector<FreeSlot>& slots) {
  std::vector<uint16_t> out;
  for (const FreeSlot& s : slots) out.push_back(s.size);
  return out;
}

std::vector<uint16_t> range(uint16_t from, uint16_t to, uint16_t step) {
  std::vector<uint16_t> out;
  for (uint32_t v = from; v <= to; v += step) out.push_back(static_cast<uint16_t>(v));
  return out;
}

IsamHeader slot_header(int revision, uint8_t flags, uint16_t overhead, uint16_t record_size) {
  IsamHeader h;
  h.revision = static_cast<uint8_t>(revision);
  h.file_flags = flags;
  h.record_overhead = overhead;
  h.record_size = record_size;
  return h;
}

// ---------------------------------------------------------------------------
// Free-slot tables, worked out by hand.
// ---------------------------------------------------------------------------
TEST(FreeSlotTable, FixedAndMultipleFormats) {
  // Without sized headers: one slot of overhead + size.
  auto slots = initial_free_slots(slot_header(6, 0x08, 1, 100));
  ASSERT_EQ(slots.size(), 1u);
  EXPECT_EQ(slots[0].size, 101);
  EXPECT_EQ(slots[0].address_low, 0xFFFFFFFFu);
  EXPECT_EQ(slots[0].address_high, 0);
  // Multiple-format files start with an empty table.
  EXPECT_TRUE(initial_free_slots(slot_header(6, 0x3B, 9, 100)).empty());
  // tbyte: the high part of "no address" is all ones too.
  EXPECT_EQ(initial_free_slots(slot_header(6, 0x48, 1, 100))[0].address_high, 0xFFFF);
  EXPECT_EQ(initial_free_slots(slot_header(4, 0x40, 1, 100))[0].address_high, 0xFF);
}

TEST(FreeSlotTable, Revision4SpreadsThirtyTwoSizes) {
  // Variable, overhead 5, size 60: b 65, step 1, remainder 28, minimum 7.
  auto got = sizes(initial_free_slots(slot_header(4, 0x22, 5, 60)));
  std::vector<uint16_t> want = range(7, 61, 2);  // 28 sizes while the remainder lasts
  for (uint16_t v : {62, 63, 64, 65}) want.push_back(v);
  EXPECT_EQ(got, want);
  // Overhead 5, size 315: b 320, step 9, remainder 27: sizes 15, 25, ...
  got = sizes(initial_free_slots(slot_header(4, 0x22, 5, 315)));
  ASSERT_EQ(got.size(), 32u);
  EXPECT_EQ(got[0], 15);
  EXPECT_EQ(got[26], 15 + 26 * 10);      // last one with the remainder
  EXPECT_EQ(got[27], 15 + 26 * 10 + 9);  // then steps of 9
  EXPECT_EQ(got[31], 320);
}

TEST(FreeSlotTable, Revision6BelowOneSlotPerSize) {
  // Variable with static vectoring: overhead 11, size 40, b 51 < 132:
  // minimum 13, then every size up to b.
  EXPECT_EQ(sizes(initial_free_slots(slot_header(6, 0x3A, 11, 40))), range(13, 51, 1));
}

TEST(FreeSlotTable, Revision6OneSlotPerSizeWithExcess) {
  // b 200: q 1, excess 68. After the minimum 13 the excess (56 by then)
  // widens 56 steps to 2, then single steps fill the table to 132 exactly.
  std::vector<uint16_t> want = range(13, 125, 2);
  for (uint16_t v : range(126, 200, 1)) want.push_back(v);
  ASSERT_EQ(want.size(), 132u);
  EXPECT_EQ(sizes(initial_free_slots(slot_header(6, 0x3A, 11, 189))), want);
}

TEST(FreeSlotTable, Revision6CompressedPowerOfTwoSteps) {
  // Compressed fixed, overhead 9, size 291: b 300 + 1, q 2, minimum 16,
  // step 2, excess 37 (23 after the minimum): twelve steps of 4, then steps
  // of 2, the last replaced by b.
  std::vector<uint16_t> want = range(16, 64, 4);
  for (uint16_t v : range(66, 298, 2)) want.push_back(v);
  want.push_back(301);
  EXPECT_EQ(sizes(initial_free_slots(slot_header(6, 0x3C, 9, 291))), want);
}

TEST(FreeSlotTable, Revision6TbyteMinimumAndLargeRecords) {
  // tbyte raises the minimum to 9 + 6 = 15 (static vectoring), b 51 < 132;
  // an overhead of 21 raises it further to 22.
  EXPECT_EQ(sizes(initial_free_slots(slot_header(6, 0x7A, 11, 40))), range(15, 51, 1));
  EXPECT_EQ(sizes(initial_free_slots(slot_header(6, 0x7A, 21, 40))), range(22, 61, 1));
  // A large record never exceeds 132 entries and ends at b.
  auto got = initial_free_slots(slot_header(6, 0x3A, 11, 60000));
  EXPECT_LE(got.size(), 132u);
  EXPECT_EQ(got.back().size, 60011);
  for (size_t i = 1; i < got.size(); ++i) EXPECT_GT(got[i].size, got[i - 1].size);
}

// ---------------------------------------------------------------------------
// Header images, decoded byte by byte.
// ---------------------------------------------------------------------------
TEST(HeaderImage, Revision6SingleKeyLayout) {
  auto d = parse("FILE;NAME c;RECORD;SIZE 100;KEY 0;START 1;LENGTH 10;NAME id;");
  HeaderImage img = build_header(*d, "c", 6);
  const std::vector<uint8_t> b = img.render(true);
  ASSERT_EQ(b.size(), 8192u);
  EXPECT_EQ(get_u16(&b[0]), 0x5CA5);
  EXPECT_EQ(b[2], 6);
  EXPECT_EQ(b[3], 0x08);  // static RFAs; vectoring needs sized headers
  EXPECT_EQ(b[4], 1);
  EXPECT_EQ(b[5], 16);
  EXPECT_EQ(b[6], 0);
  EXPECT_EQ(b[7], 32);                // 8192 / 256
  EXPECT_EQ(get_u16(&b[8]), 1);       // record overhead
  EXPECT_EQ(get_u16(&b[10]), 160);    // 52 + 68 + 40
  EXPECT_EQ(get_u16(&b[12]), 1676);   // 1616 + 4 + 4 + 52
  EXPECT_EQ(get_u16(&b[14]), 10);     // max key size
  EXPECT_EQ(get_u16(&b[16]), 100);    // record size
  EXPECT_EQ(get_u16(&b[18]), 0);      // null area
  EXPECT_EQ(get_u32(&b[20]), 0x08u);  // prefixed file text
  EXPECT_EQ(get_u32(&b[24]), 4096u);  // dynamic offset
  EXPECT_NE(get_u32(&b[28]), 0u);     // created
  EXPECT_EQ(std::memcmp(&b[44], "100101c\0", 8), 0);
  // Key descriptor at 52.
  EXPECT_EQ(b[52], 0x02);
  EXPECT_EQ(b[56], 0x21);
  EXPECT_EQ(get_u16(&b[64]), 0);
  EXPECT_EQ(get_u16(&b[80]), 10);
  EXPECT_EQ(get_u16(&b[82]), 0);  // one segment
  EXPECT_EQ(get_u16(&b[98]), 10);
  EXPECT_EQ(get_u16(&b[100]), 1);  // qualifier offset = overhead at the key
  EXPECT_EQ(std::memcmp(&b[104], "id", 3), 0);
  // Extension at 120.
  EXPECT_EQ(get_u64(&b[120]), 0u);
  EXPECT_EQ(get_u32(&b[128]), 0u);
  EXPECT_EQ(get_u32(&b[132]), 8192u);  // data start
  EXPECT_EQ(get_u32(&b[136]), 5772u);  // text offset: 4096 + 1676
  EXPECT_EQ(b[156], 0);
  // Dynamic header: one slot of 101, root 8192, depth 1, counters zero.
  EXPECT_EQ(b[4096], 1);
  EXPECT_EQ(get_u32(&b[4096 + 32]), 0xFFFFFFFFu);
  EXPECT_EQ(get_u16(&b[4096 + 38]), 101);
  EXPECT_EQ(get_u32(&b[4096 + 1616]), 8192u);
  EXPECT_EQ(b[4096 + 1620], 1);
  EXPECT_EQ(get_u64(&b[4096 + 1624]), 0u);  // autoseed
  // Text prefix: a 32-byte allocation counted in bytes, nothing in use.
  EXPECT_EQ(get_u32(&b[5772]), 32u | 0x04000000u);
  EXPECT_EQ(get_u32(&b[5776]), 0u);
}

TEST(HeaderImage, Revision4Layout) {
  auto d = parse("FILE;NAME c;RECORD;SIZE 100;KEY 0;START 1;LENGTH 10;DUPLICATES yes;", 4);
  HeaderImage img = build_header(*d, "c", 4);
  const std::vector<uint8_t> b = img.render(true);
  ASSERT_EQ(b.size(), 2048u);
  EXPECT_EQ(b[2], 4);
  EXPECT_EQ(b[3], 0);            // revision 4 keeps the described flags
  EXPECT_EQ(b[5], 4);            // page units for short keys
  EXPECT_EQ(b[7], 8);            // 2048 / 256
  EXPECT_EQ(get_u16(&b[8]), 4);  // 1 + qualifier 3
  EXPECT_EQ(get_u16(&b[10]), 120);
  EXPECT_EQ(get_u16(&b[12]), 288);  // 280 + 4 + 4
  EXPECT_EQ(get_u16(&b[14]), 13);   // 10 + qualifier
  EXPECT_EQ(get_u32(&b[20]), 0u);
  EXPECT_EQ(get_u32(&b[24]), 1024u);
  EXPECT_EQ(std::memcmp(&b[44], "10.1.1c\0", 8), 0);
  EXPECT_EQ(b[52], 0x06);  // fifo, duplicates
  EXPECT_EQ(get_u16(&b[52 + 46]), 13);
  EXPECT_EQ(get_u16(&b[52 + 48]), 1);
  // 280-byte free-list part: one slot of 104 (4 + 100).
  EXPECT_EQ(b[1024], 1);
  EXPECT_EQ(get_u32(&b[1024 + 24]), 0xFFFFFFFFu);
  EXPECT_EQ(get_u16(&b[1024 + 30]), 104);
  EXPECT_EQ(get_u32(&b[1024 + 280]), 2048u);  // root
  EXPECT_EQ(b[1024 + 284], 1);
  // Long keys ask for 1024-byte pages.
  auto wide = parse("FILE;NAME c;RECORD;SIZE 100;KEY 0;START 1;LENGTH 60;", 4);
  EXPECT_EQ(build_header(*wide, "c", 4).header.page_units, 8);
}

TEST(HeaderImage, ChangeTrackingKeyAndTbyte) {
  std::string name = "t,track_changes=300";
  auto d = parse("FILE;RECORD;SIZE 50;KEY 0;START 1;LENGTH 8;", 6, &name);
  HeaderImage img = build_header(*d, name, 6);
  const IsamHeader& h = img.header;
  EXPECT_EQ(h.key_count, 2);
  EXPECT_EQ(h.file_flags, 0x58);  // tracking forces static vectoring and tbyte
  EXPECT_EQ(h.file_flags2 & 0x1220u, 0x1220u);
  EXPECT_EQ(h.null_area_size, 2);
  // Without sized headers: 1 + 6 vectoring, then the tracking key's 16.
  EXPECT_EQ(h.record_overhead, 23);
  const KeyDescriptor& t = img.keys[1];
  EXPECT_EQ(t.key_flags, 0x1E);
  EXPECT_EQ(t.autokey_flags, 0x10);
  EXPECT_EQ(t.density, 100);
  EXPECT_EQ(t.seg_type[0], 0x21);
  EXPECT_EQ(t.key_size, 5);
  EXPECT_EQ(t.qualifier_offset, 7);
  EXPECT_EQ(std::string(t.key_name.data(), 15), "Change Tracking");
  EXPECT_EQ(img.null_area[t.null_offset], 2);
  EXPECT_EQ(img.null_area[t.null_offset + 1], 0);
  // 300 = 255 + 45.
  EXPECT_EQ(img.counters.snapshot_count, 46);
  EXPECT_EQ(img.counters.tracking_slot, 45);
  EXPECT_EQ(img.counters.snapshot_base, 255u);
  EXPECT_EQ(img.counters.tracking_mark, 1);
  EXPECT_NE(img.tracking.times[45], 0u);
  // tbyte roots: 5 bytes in 256-byte units.
  const std::vector<uint8_t> b = img.render(true);
  const size_t dyn = h.dynamic_offset;
  EXPECT_EQ(h.dynamic_size, 1616 + 12 + 4 + 52 + 1028);
  EXPECT_EQ(get_u32(&b[dyn + 1616]), h.data_header_units);
  EXPECT_EQ(b[dyn + 1620], 0);
  EXPECT_EQ(get_u32(&b[dyn + 1621]), h.data_header_units + 16u);
  EXPECT_EQ(b[dyn + 1628], 1);
  EXPECT_EQ(b[dyn + 1629], 1);
  // Tracking slot time in the area after the counters.
  EXPECT_EQ(get_u32(&b[dyn + 1632 + 52 + 4 * 45]), img.tracking.times[45]);
}

TEST(HeaderImage, SizeFromLaidOutPartsWhenRootsPadSeparately) {
  // 232 keys + the tracking key, 5-byte roots: roots 1168 + depths 236
  // bring the dynamic block to 4100 bytes, past the first 4096-byte unit,
  // though 233 x 6 rounded to 4 (1400) would not.
  std::string name = "big,track_changes";
  FileDescription d = plain_description(10, 232, 1);
  HeaderImage img = build_header(d, name, 6);
  EXPECT_EQ(img.header.dynamic_size, 4100);
  EXPECT_EQ(img.image_size, img.header.dynamic_offset + 8192u);
  const std::vector<uint8_t> b = img.render(true);
  EXPECT_EQ(b.size(), img.image_size);
  // The depth of the last key is the last byte before the counters.
  EXPECT_EQ(b[img.header.dynamic_offset + 1616 + 1168 + 232], 1);
}

TEST(HeaderImage, FileTextPlacement) {
  // A short text stands after the dynamic block with its prefix.
  auto d = parse("FILE;NAME c;RECORD;SIZE 40;TEXT \"hello\";KEY 0;START 1;LENGTH 4;");
  HeaderImage img = build_header(*d, "c", 6);
  EXPECT_TRUE(img.text_in_image);
  EXPECT_EQ(img.header.file_flags2 & 0x18u, 0x08u);
  const std::vector<uint8_t> with = img.render(true);
  const size_t at = img.extension.text_offset;
  EXPECT_EQ(get_u32(&with[at]), 32u | 0x04000000u);
  EXPECT_EQ(get_u32(&with[at + 4]), 5u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&with[at + 8]), 5), "hello");
  const std::vector<uint8_t> without = img.render(false);
  EXPECT_EQ(get_u32(&without[at]), 0u);

  // 3000 bytes take 3 KB: too much beside the dynamic block, so the text
  // goes to the data file after the header region.
  std::string big(3000, 'x');
  auto e = parse("FILE;NAME c;RECORD;SIZE 40;KEY 0;START 1;LENGTH 4;");
  e->has_text = true;
  e->text = big;
  HeaderImage img2 = build_header(*e, "c", 6);
  EXPECT_FALSE(img2.text_in_image);
  EXPECT_EQ(img2.header.file_flags2 & 0x18u, 0x10u);
  EXPECT_EQ(img2.extension.text_alloc_kb, 3);
  EXPECT_EQ(img2.extension.text_offset, 8192u);
  EXPECT_EQ(img2.extension.data_start, 8192u + 3072u);
  EXPECT_EQ(img2.counters.text_length, 3000u);
  EXPECT_EQ(img2.header.data_header_units, 32);  // the header region alone

  // A text option replaces the described text; its allocation is in KB.
  auto f = parse("FILE;NAME c;RECORD;SIZE 40;TEXT \"old\";KEY 0;START 1;LENGTH 4;");
  HeaderImage img3 = build_header(*f, "c,text=1K:'it''s'", 6);
  EXPECT_EQ(img3.text, "it's");
  EXPECT_EQ(img3.text_prefix.allocation_word, 1u | 0x08000000u);
}

TEST(HeaderImage, RecordOverheadAndKeyFields) {
  // Variable records with sized headers and vectoring: 1 + 8 + 2; a key
  // with duplicates adds its qualifier; stored GRFA adds 4.
  auto d = parse(
      "FILE;NAME c;RECORD;SIZE 100;FORMAT variable;STORED_GRFA yes;"
      "KEY 0;START 1;LENGTH 10;"
      "KEY 1;START 11;LENGTH 6;DUPLICATES yes;DENSITY 80;"
      "KEY 2;START 21;LENGTH 4;TYPE integer;ORDER descending;DUPLICATES yes;");
  HeaderImage img = build_header(*d, "c", 6);
  EXPECT_EQ(img.header.file_flags, 0x3A);
  EXPECT_EQ(img.keys[0].qualifier_offset, 15);
  EXPECT_EQ(img.keys[1].qualifier_offset, 15);
  EXPECT_EQ(img.keys[1].key_size, 9);
  EXPECT_EQ(img.keys[1].density, 80);
  EXPECT_EQ(img.keys[2].qualifier_offset, 18);
  EXPECT_EQ(img.keys[2].key_size, 7);
  EXPECT_EQ(img.keys[2].seg_type[0], 0x04);
  EXPECT_EQ(img.header.record_overhead, 21);
  EXPECT_EQ(img.header.max_key_size, 10);
  // Roots follow the header region one block apart.
  EXPECT_EQ(img.roots[0], 8192u);
  EXPECT_EQ(img.roots[2], 8192u + 2 * 4096u);
  // A file density applies to keys without their own.
  auto e = parse("FILE;NAME c;RECORD;SIZE 100;DENSITY 70;KEY 0;START 1;LENGTH 10;");
  EXPECT_EQ(build_header(*e, "c", 6).keys[0].density, 70);
}

TEST(HeaderImage, SequenceAutokeyStartsAtOneOrSeed) {
  auto d = parse("FILE;NAME c;RECORD;SIZE 20;KEY 0;START 1;LENGTH 8;TYPE sequence;");
  HeaderImage img = build_header(*d, "c", 6);
  EXPECT_EQ(img.counters.autoseed, 1);
  EXPECT_EQ(img.extension.seed, 0u);
  EXPECT_EQ(img.keys[0].seg_type[0] & 0x1F, kSegInteger);
  auto e = parse("FILE;NAME c;RECORD;SIZE 20;SEED 500;KEY 0;START 1;LENGTH 8;TYPE sequence;");
  HeaderImage img2 = build_header(*e, "c", 6);
  EXPECT_EQ(img2.counters.autoseed, 500);
  EXPECT_EQ(img2.extension.seed, 500u);
}

TEST(HeaderImage, NullValuesInIndexForm) {
  auto d = parse(
      "FILE;NAME c;RECORD;SIZE 40;KEY 0;START 1;LENGTH 4;"
      "KEY 1;START 5;LENGTH 3;TYPE decimal;NULL noreplicate;VALUE_NULL 123;"
      "KEY 2;START 8;LENGTH 4;TYPE int4;ORDER descending;NULL noreplicate;VALUE_NULL 1;"
      "KEY 3;START 12;LENGTH 3;TYPE nocase;NULL noreplicate;VALUE_NULL ab;"
      "KEY 4;START 15;LENGTH 2;NULL replicate;VALUE_NULL 42;");
  HeaderImage img = build_header(*d, "c", 6);
  const auto entry = [&](int key) {
    const size_t at = img.keys[key].null_offset;
    return std::vector<uint8_t>(img.null_area.begin() + at,
                                img.null_area.begin() + at + img.null_area[at]);
  };
  EXPECT_EQ(entry(1), (std::vector<uint8_t>{4, 0x41, 0x02, 0x03}));
  EXPECT_EQ(entry(2), (std::vector<uint8_t>{5, 0x7F, 0xFF, 0xFF, 0xFE}));
  EXPECT_EQ(entry(3), (std::vector<uint8_t>{3, 'A', 'B'}));
  EXPECT_EQ(entry(4), (std::vector<uint8_t>{2, 42}));  // replicating: as given
}

// ---------------------------------------------------------------------------
// Key overlap.
// ---------------------------------------------------------------------------
TEST(KeyOverlap, AlphaSharesNumericMustCoincide) {
  const auto status = [](const std::string& keys, const std::string& name = "c") {
    auto d = parse("FILE;NAME c;RECORD;SIZE 40;" + keys);
    return status_of([&] { build_header(*d, name, 6); });
  };
  EXPECT_EQ(status("KEY 0;START 1;LENGTH 10;KEY 1;START 5;LENGTH 10;"), 0);
  EXPECT_EQ(status("KEY 0;START 1;LENGTH 4;TYPE decimal;KEY 1;START 1;LENGTH 4;TYPE decimal;"), 0);
  // Same start, different lengths, either order.
  EXPECT_EQ(status("KEY 0;START 1;LENGTH 4;TYPE decimal;KEY 1;START 1;LENGTH 2;TYPE decimal;"), 68);
  EXPECT_EQ(status("KEY 0;START 1;LENGTH 2;TYPE decimal;KEY 1;START 1;LENGTH 4;TYPE decimal;"), 68);
  // A one-byte field against the first byte of a longer one, both ways.
  EXPECT_EQ(status("KEY 0;START 1;LENGTH 1;TYPE decimal;KEY 1;START 1;LENGTH 4;TYPE decimal;"), 68);
  EXPECT_EQ(status("KEY 0;START 1;LENGTH 4;TYPE decimal;KEY 1;START 1;LENGTH 1;TYPE decimal;"), 68);
  // A numeric field that begins inside a later segment.
  EXPECT_EQ(status("KEY 0;START 3;LENGTH 2;TYPE decimal;KEY 1;START 1;LENGTH 4;TYPE decimal;"), 68);
  // Alpha over numeric bytes, and different numeric types.
  EXPECT_EQ(status("KEY 0;START 1;LENGTH 4;TYPE integer;KEY 1;START 1;LENGTH 4;"), 68);
  EXPECT_EQ(status("KEY 0;START 1;LENGTH 4;TYPE integer;KEY 1;START 1;LENGTH 4;TYPE unsigned;"),
            68);
  // Portable integers are integer fields.
  EXPECT_EQ(status("KEY 0;START 1;LENGTH 4;TYPE integer;", "c,i=1:4"), 0);
  EXPECT_EQ(status("KEY 0;START 1;LENGTH 4;TYPE decimal;", "c,i=1:4"), 68);
  EXPECT_EQ(status("KEY 0;START 3;LENGTH 4;", "c,i=1:4"), 68);
  // An autokey's field is never shared.
  EXPECT_EQ(status("KEY 0;START 1;LENGTH 8;TYPE sequence;KEY 1;START 1;LENGTH 8;TYPE integer;"),
            68);
}

TEST(KeyOverlap, ReportsTheKey) {
  DetailCapture details;
  auto d = parse(
      "FILE;NAME c;RECORD;SIZE 40;KEY 0;START 1;LENGTH 4;KEY 1;START 20;LENGTH 4;TYPE decimal;"
      "KEY 2;START 20;LENGTH 3;TYPE decimal;");
  EXPECT_EQ(status_of([&] { build_header(*d, "c", 6); }), 68);
  EXPECT_TRUE(details.has(kDetailMessage, "Key 2 specified")) << details.dump();
}

// ---------------------------------------------------------------------------
// Refusals of build_header.
// ---------------------------------------------------------------------------
TEST(HeaderRefusals, StatusAndDetail) {
  DetailCapture details;
  const auto status = [](FileDescription d, const std::string& name = "c", int revision = 6) {
    return status_of([&] { build_header(d, name, revision); });
  };
  FileDescription base = plain_description(100, 1, 10);
  EXPECT_EQ(status(base, "c", 5), 30);
  EXPECT_EQ(status(plain_description(3, 1, 2)), 35);
  EXPECT_EQ(status(plain_description(100, 0, 10)), 41);

  FileDescription d = base;
  d.keys[0].key_flags |= kKeyModifiable;
  EXPECT_EQ(status(d), 2);
  EXPECT_TRUE(details.has(kDetailMessage, "Key 0 cannot be modified"));
  d = base;
  d.keys[0].key_flags |= kKeyNullReplicating;
  EXPECT_EQ(status(d), 2);
  EXPECT_TRUE(details.has(kDetailMessage, "Primary key does not allow null keys"));
  d = base;
  d.keys[0].seg_type[0] = kSegAlpha | kSegDecimal;
  EXPECT_EQ(status(d), 2);
  EXPECT_TRUE(details.has(kDetailMessage, "Invalid segment type specified"));
  d = base;
  d.keys[0].seg_start[0] = 95;
  EXPECT_EQ(status(d), 39);
  d = base;
  d.keys[0].autokey_flags = kAutoSequence;
  d.keys[0].seg_length[0] = 8;
  d.keys[0].key_size = 8;
  EXPECT_EQ(status(d, "c", 4), 2);
  EXPECT_TRUE(details.has(kDetailMessage, "Autokeys not supported by REV 4"));
  // Key too long once the qualifier is added.
  d = plain_description(300, 1, 252);
  d.keys[0].key_flags |= kKeyDuplicates;
  EXPECT_EQ(status(d), 2);
  EXPECT_TRUE(details.has(kDetailMessage, "Invalid key length, Key 0 Length 255"));
  EXPECT_EQ(status(plain_description(300, 1, 101), "c,page=512"), 32);
  // tbyte with 48-bit addressing needs 6 record bytes.
  EXPECT_EQ(status(plain_description(5, 1, 4), "c,tbyte"), 35);
  EXPECT_EQ(status(plain_description(5, 1, 4), "c,tbyte", 4), 0);
  // Record and overhead beyond a 16-bit slot.
  d = plain_description(65534, 1, 10);
  details.clear();
  EXPECT_EQ(status(d, "c,variable"), 35);
  EXPECT_FALSE(details.details().empty());
  EXPECT_EQ(details.details().back().code, kDetailRecordTooLong);
  // Too much text, text beyond its allocation.
  d = base;
  d.has_text = true;
  d.text.assign(65537, 't');
  EXPECT_EQ(status(d), 32);
  d.text.assign(2000, 't');
  d.text_alloc_kb = 1;
  EXPECT_EQ(status(d), 32);
  EXPECT_TRUE(details.has(kDetailMessage, "Specified file text exceeds allocation size"));
  // Change tracking leaves room for its key only below 255 keys.
  d = plain_description(10, 255, 1);
  EXPECT_EQ(status(d, "c,track_changes"), 30);
  EXPECT_TRUE(details.has(kDetailMessage, "Too many keys specified with TRACK_CHANGES: 254"));
  // A preallocation in records beyond 2 GB.
  EXPECT_EQ(status(plain_description(1000, 1, 10), "c,ralloc=4000000"), 16);
}

// ---------------------------------------------------------------------------
// Names.
// ---------------------------------------------------------------------------
TEST(CreationNames, ExtensionsAndDataNames) {
  std::string index, data;
  EXPECT_EQ(creation_file_names("cust", &index, &data), 0);
  EXPECT_EQ(index, "cust.ism");
  EXPECT_EQ(data, "cust.is1");
  EXPECT_EQ(creation_file_names("dir/Cust, page=1024", &index, &data), 0);
  EXPECT_EQ(index, "dir/Cust.ISM");
  EXPECT_EQ(data, "dir/Cust.IS1");
  EXPECT_EQ(creation_file_names("a.b/cust.dt5", &index, &data), 0);
  EXPECT_EQ(data, "a.b/cus_.dt5");
  // A final "." means "no extension", which an ISAM file name needs.
  EXPECT_EQ(creation_file_names("plain.", &index, &data), 58);
  EXPECT_EQ(creation_file_names("dir/", &index, &data), 58);
  EXPECT_EQ(creation_file_names("", &index, &data), 58);
  EXPECT_EQ(creation_file_names(std::string(600, 'n'), &index, &data), 4);
}

// ---------------------------------------------------------------------------
// Creation on disk.
// ---------------------------------------------------------------------------
class CreateTest : public ::testing::Test {
 protected:
  void SetUp() override { ctl_ = current_context(); }
  void TearDown() override { set_file_io_hooks_for_testing({}); }
  int create(const std::string& xdl, const std::string& leaf, bool replace = false,
             int revision = 6) {
    std::string name = dir_.file(leaf);
    auto d = parse(xdl, revision, &name);
    d->control = ctl_;
    const int rc = create_isam_file(*d, name, replace, revision);
    if (rc == 0) {
      EXPECT_EQ(d->magic, 0);
    }
    return rc;
  }
  int last_status() const { return ctl_->status->code; }
  std::vector<uint8_t> bytes(const std::string& leaf) const {
    const std::string s = dir_.read(leaf);
    return std::vector<uint8_t>(s.begin(), s.end());
  }
  test::ScratchDir dir_;
  ismgr_control* ctl_ = nullptr;
};

const std::string kCustomer =
    "FILE;RECORD;SIZE 100;KEY 0;START 1;LENGTH 10;NAME id;"
    "KEY 1;START 11;LENGTH 20;DUPLICATES yes;NAME name;";

TEST_F(CreateTest, WritesBothFilesAndOpensBack) {
  ASSERT_EQ(create(kCustomer, "cust"), 0) << last_status();
  const auto index = bytes("cust.ism");
  const auto data = bytes("cust.is1");
  // Index: the image, then two empty root blocks.
  ASSERT_EQ(index.size(), 8192u + 2 * 4096u);
  EXPECT_EQ(get_u16(&index[0]), 0x5CA5);
  EXPECT_EQ(index[8192], 0xFF);
  EXPECT_EQ(index[8193], 0);
  EXPECT_EQ(index[12288], 0xFF);
  // Data: the same image under its own magic, with the text prefix.
  ASSERT_EQ(data.size(), 8192u);
  EXPECT_EQ(get_u16(&data[0]), 0x5CB5);
  // Only the data file holds the text prefix (after the 1680-byte dynamic
  // block at 4096); the images agree up to it.
  EXPECT_TRUE(std::equal(index.begin() + 2, index.begin() + 5776, data.begin() + 2));
  EXPECT_EQ(get_u32(&data[5776]), 32u | 0x04000000u);
  EXPECT_EQ(get_u32(&index[5776]), 0u);

  // The open's decoding accepts it and finds what was asked for.
  IsamFileControl fc;
  const char* detail = nullptr;
  ASSERT_EQ(build_file_control(index.data(), 4096, &fc, &detail), 0) << (detail ? detail : "");
  ASSERT_EQ(check_dynamic_size(fc), 0);
  ASSERT_EQ(load_dynamic_header(&index[fc.header.dynamic_offset], fc.header.dynamic_size, &fc), 0);
  EXPECT_EQ(fc.header.record_size, 100);
  EXPECT_EQ(fc.header.key_count, 2);
  EXPECT_EQ(fc.keys[1].key_flags & kKeyDuplicates, kKeyDuplicates);
  EXPECT_EQ(std::string(fc.keys[1].key_name.data(), 4), "name");
  EXPECT_EQ(fc.record_overhead, 4);
  EXPECT_EQ(key_root_address(fc, 1), 12288u);
  EXPECT_EQ(fc.depths[1], 1);
  EXPECT_EQ(fc.free_list.slot_count, 1);
  EXPECT_EQ(fc.free_list.slots[0].size, 104);
  EXPECT_EQ(fc.data_start, 8192u);
  EXPECT_EQ(std::string(ctl_->current_name), dir_.file("cust.ism"));
}

TEST_F(CreateTest, OptionsOnTheNameAndPortableIntegers) {
  ASSERT_EQ(create(kCustomer + "PORT_INT 41:4;", "opt,page=1024,i=51:2"), 0) << last_status();
  EXPECT_TRUE(dir_.exists("opt.ism"));
  const auto index = bytes("opt.ism");
  EXPECT_EQ(index[5], 4);  // page units
  EXPECT_EQ(index[6], 2);  // two portable integers
  const size_t at = 52 + 2 * 68;
  EXPECT_EQ(index[at], 4);
  EXPECT_EQ(index[at + 1], 2);
  EXPECT_EQ(get_u16(&index[at + 2]), 51);
  EXPECT_EQ(index[at + 5], 4);
  EXPECT_EQ(get_u16(&index[at + 6]), 41);
}

TEST_F(CreateTest, ExistingFilesNeedReplace) {
  dir_.write("keep.ism", "precious");
  EXPECT_EQ(create(kCustomer, "keep"), -1);
  EXPECT_EQ(last_status(), 40);
  EXPECT_EQ(dir_.read("keep.ism"), "precious");
  EXPECT_FALSE(dir_.exists("keep.is1"));
  // The data file alone also blocks.
  dir_.write("other.is1", "x");
  EXPECT_EQ(create(kCustomer, "other"), -1);
  EXPECT_EQ(last_status(), 40);
  EXPECT_FALSE(dir_.exists("other.ism"));
  // With replace both are rewritten.
  EXPECT_EQ(create(kCustomer, "keep", true), 0);
  EXPECT_EQ(bytes("keep.ism").size(), 16384u);
}

TEST_F(CreateTest, FailuresLeaveNoFiles) {
  DetailCapture details;
  EXPECT_EQ(create(kCustomer, "r5", false, 5), -1);
  EXPECT_EQ(last_status(), 30);
  EXPECT_EQ(create("FILE;RECORD;SIZE 40;KEY 0;START 1;LENGTH 4;TYPE decimal;"
                   "KEY 1;START 1;LENGTH 2;TYPE decimal;",
                   "ovl"),
            -1);
  EXPECT_EQ(last_status(), 68);
  EXPECT_TRUE(details.has(kDetailCreateFailed, ""));
  EXPECT_EQ(create(kCustomer, "bad,page=1000"), -1);
  EXPECT_EQ(last_status(), 70);
  EXPECT_EQ(create(kCustomer, "bad,frobnicate"), -1);
  EXPECT_EQ(last_status(), 32);
  EXPECT_EQ(create("FILE;RECORD;SIZE 40;", "nokeys"), -1);
  EXPECT_EQ(last_status(), 41);
  // A bad description record is refused before anything else.
  FileDescription d = plain_description(100, 1, 10);
  d.magic = 0;
  d.control = ctl_;
  EXPECT_EQ(create_isam_file(d, dir_.file("magic"), false, 6), -1);
  EXPECT_EQ(last_status(), 1);
  // Nothing was left behind.
  EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));
}

TEST_F(CreateTest, WriteFailureDeletesBothFiles) {
  int writes = 0;
  FileIoHooks hooks;
  // The data file's header goes through; the index image meets a full disk.
  hooks.write = [&](FileHandle h, const void* buffer, uint32_t count, uint32_t* done) {
    if (++writes >= 2) {
      *done = 0;
      platform::set_last_error(112);  // disk full
      return false;
    }
    return platform::write(h, buffer, count, done);
  };
  set_file_io_hooks_for_testing(hooks);
  EXPECT_EQ(create(kCustomer, "full"), -1);
  set_file_io_hooks_for_testing({});
  EXPECT_EQ(last_status(), 16);
  EXPECT_FALSE(dir_.exists("full.ism"));
  EXPECT_FALSE(dir_.exists("full.is1"));
}

TEST_F(CreateTest, PreallocationInRecords) {
  ASSERT_EQ(create("FILE;RECORD;SIZE 100;KEY 0;START 1;LENGTH 10;", "pre,ralloc=10"), 0)
      << last_status();
  // (10 x 101 + 8192 + 511) / 512 = 18 blocks: 9216 bytes.
  const auto data = bytes("pre.is1");
  ASSERT_EQ(data.size(), 9216u);
  EXPECT_EQ(data[8192], 0x80);
  EXPECT_EQ(get_u32(&data[8193]), 9216u);
  // The index gets room for one more block of the key.
  const auto index = bytes("pre.ism");
  EXPECT_EQ(index.size(), 8192u + 4096u + 4096u);
  IsamFileControl fc;
  ASSERT_EQ(build_file_control(index.data(), 4096, &fc, nullptr), 0);
  ASSERT_EQ(load_dynamic_header(&index[4096], fc.header.dynamic_size, &fc), 0);
  EXPECT_EQ(fc.counters.data_leof, 8192u);
  EXPECT_EQ(fc.counters.index_leof, 12288u);
  EXPECT_EQ(fc.extension.allocation, 10u);
  EXPECT_EQ(fc.header.file_flags2 & 0x140u, 0x140u);
  EXPECT_EQ(fc.prealloc_blocks, 18);
}

TEST_F(CreateTest, CompressedPreallocationAndLargeText) {
  std::string xdl =
      "FILE;RECORD;SIZE 200;COMPRESS_DATA yes;RECORD_ALLOCATION 100;"
      "KEY 0;START 1;LENGTH 10;";
  ASSERT_EQ(create(xdl, "cmp"), 0) << last_status();
  // Overhead 9: 100 records of 209 - 140 bytes after the header: (6900 +
  // 8192 + 511) / 512 = 30 blocks. Sized headers: length word, flag byte,
  // vectoring bytes, then the address.
  const auto data = bytes("cmp.is1");
  ASSERT_EQ(data.size(), 30u * 512u);
  EXPECT_EQ(get_u16(&data[8192]), 13);
  EXPECT_EQ(data[8194], 0x80);
  EXPECT_EQ(get_u32(&data[8192 + 9]), 30u * 512u);

  // A text of 3000 bytes goes after the header region of the data file.
  std::string name = dir_.file("txt");
  auto d = parse("FILE;RECORD;SIZE 20;KEY 0;START 1;LENGTH 4;", 6, &name);
  d->has_text = true;
  d->text.assign(3000, 'q');
  d->control = ctl_;
  ASSERT_EQ(create_isam_file(*d, name, false, 6), 0);
  const auto t = bytes("txt.is1");
  ASSERT_EQ(t.size(), 8192u + 3072u);
  EXPECT_EQ(t[8192], 'q');
  EXPECT_EQ(t[8192 + 2999], 'q');
  EXPECT_EQ(t[8192 + 3000], 0);
}

TEST_F(CreateTest, IndexEstimate) {
  IsamHeader h;
  h.page_units = 4;  // 1024 bytes
  KeyDescriptor k;
  k.key_size = 10;
  // (1024 - 12) x 90 / 100 / 14 = 65 entries a leaf; upper blocks hold
  // 90 x 1016 / 100 / 14 = 65 entries: 1000 records need 16 leaves + 1.
  EXPECT_EQ(estimate_index_blocks(h, {k}, 1000), 17u);
  EXPECT_EQ(estimate_index_blocks(h, {k}, 65), 1u);
  EXPECT_EQ(estimate_index_blocks(h, {k}, 0), 0u);
  k.density = 100;  // 95 percent: 68 a leaf
  EXPECT_EQ(estimate_index_blocks(h, {k}, 68), 1u);
  EXPECT_EQ(estimate_index_blocks(h, {k, k}, 69), 6u);  // 2 leaves + 1 root, twice
}

}  // namespace
}  // namespace ismgr
