// Tests of the ISAM on-disk records: encode/decode round trips and the
// decoding of crafted files of every revision and layout.
#include "ismgr/isam/isam_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ismgr/isam/file_control.h"
#include "ismgr/runtime/status.h"
#include "support/isam_builder.h"
#include "support/isam_parse.h"

namespace ismgr {
namespace {

using testing::IsamBuilder;
using testing::key_name;
using testing::KeySpec;
using testing::Opened;
using testing::parse;
using testing::parse_files;
using testing::SegmentSpec;

std::vector<uint8_t> pattern(size_t n, uint32_t seed) {
  std::vector<uint8_t> v(n);
  uint32_t x = seed;
  for (auto& b : v) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
  }
  return v;
}

// ---------------------------------------------------------------------------
// Round trips: decode then encode gives back every byte, reserved ones too,
// and a buffer one byte short is refused without being touched.
// ---------------------------------------------------------------------------
template <typename T, typename Dec, typename Enc>
void expect_round_trip(size_t size, Dec dec, Enc enc) {
  for (uint32_t seed : {1u, 77u, 4242u}) {
    const std::vector<uint8_t> in = pattern(size, seed);
    T value;
    ASSERT_TRUE(dec(in.data(), in.size(), &value));
    std::vector<uint8_t> out(size, 0);
    ASSERT_TRUE(enc(value, out.data(), out.size()));
    EXPECT_EQ(in, out) << "seed " << seed;
    T again;
    ASSERT_TRUE(dec(out.data(), out.size(), &again));
    EXPECT_TRUE(value == again);
  }
  const std::vector<uint8_t> short_in = pattern(size - 1, 5);
  T untouched;
  const T before = untouched;
  EXPECT_FALSE(dec(short_in.data(), short_in.size(), &untouched));
  EXPECT_TRUE(untouched == before);
  EXPECT_FALSE(dec(nullptr, size, &untouched));
  std::vector<uint8_t> small(size - 1, 0xEE);
  EXPECT_FALSE(enc(before, small.data(), small.size()));
  EXPECT_EQ(small, std::vector<uint8_t>(size - 1, 0xEE));
}

TEST(IsamRecordCodec, EveryRecordRoundTripsAndRefusesShortBuffers) {
  expect_round_trip<IsamHeader>(kIsamHeaderSize, decode_isam_header, encode_isam_header);
  expect_round_trip<KeyDescriptor>(kKeyDescriptorSize, decode_key_descriptor,
                                   encode_key_descriptor);
  expect_round_trip<PortIntSpec>(kPortIntSpecSize, decode_port_int_spec, encode_port_int_spec);
  expect_round_trip<R6Extension>(kR6ExtensionSize, decode_r6_extension, encode_r6_extension);
  expect_round_trip<FreeListPart>(kFreeListFullSize, decode_free_list_part, encode_free_list_part);
  expect_round_trip<ShortFreeListPart>(kFreeListShortSize, decode_short_free_list_part,
                                       encode_short_free_list_part);
  expect_round_trip<FileCounters>(kFileCountersSize, decode_file_counters, encode_file_counters);
  expect_round_trip<ChangeTrackingArea>(kChangeTrackingSize, decode_change_tracking,
                                        encode_change_tracking);
  expect_round_trip<FileTextPrefix>(kFileTextPrefixSize, decode_file_text_prefix,
                                    encode_file_text_prefix);
  expect_round_trip<OldKeyRecord>(kOldKeyRecordSize, decode_old_key_record, encode_old_key_record);
  expect_round_trip<OldHeaderBlock>(kOldHeaderBlockSize, decode_old_header_block,
                                    encode_old_header_block);
}

TEST(IsamRecordCodec, CreationVersionText) {
  IsamHeader h;
  std::memcpy(h.creation_version.data(), "100101c", 7);
  const CreationVersion v = parse_creation_version(h);
  EXPECT_EQ(v.major * 10000 + v.minor * 100 + v.build, 100101);
  EXPECT_EQ(v.letter, 'c');
  std::memcpy(h.creation_version.data(), "0903123", 7);  // a digit in place of the letter
  EXPECT_EQ(parse_creation_version(h).build, 123);
  EXPECT_EQ(parse_creation_version(h).letter, ' ');
}

// ---------------------------------------------------------------------------
// Every revision and layout, one builder variant per row, with the same
// counts: where each layout keeps them and what it leaves at zero.
// ---------------------------------------------------------------------------
struct Revision {
  const char* name;
  int revision;  // as built; 40-45: patched from 4/5 (+ counters with 45)
  DynamicForm form;
  uint32_t slot_bound;
  bool counters;  // FileCounters on disk: LEOF and autoseed read
};

TEST(IsamDecodeRevisions, EveryLayoutKeepsItsCounts) {
  const Revision rows[] = {
      {"rev0", 0, DynamicForm::kOld, 32, false},
      {"rev1", 1, DynamicForm::kOld, 32, false},
      {"rev2", 2, DynamicForm::kOld, 32, false},
      {"rev3", 3, DynamicForm::kOld, 32, false},
      {"rev4", 4, DynamicForm::kShort, 32, false},
      {"rev5", 5, DynamicForm::kShort, 32, false},
      {"patched4", 40, DynamicForm::kShort, 32, true},
      {"patched5", 50, DynamicForm::kShort, 32, true},
      {"rev6", 6, DynamicForm::kFull, 1, true},
  };
  for (const Revision& r : rows) {
    SCOPED_TRACE(r.name);
    IsamBuilder b;
    KeySpec k = KeySpec::alpha("K", 0, 8);
    k.autokey = kAutoSequence;  // meaningless below 6: cleared
    if (r.revision >= 40) {
      b.patched_from(r.revision / 10).short_with_counters();
    } else {
      b.revision(r.revision);
    }
    b.record_length(50).add_key(k).counts(70000, 3, 0x1234, 17).free_slot(0x1200, 51);
    b.free_list_head(0x800).leofs(0x4000, 0x1400).autoseed(-42);  // negative: sign kept
    if (r.revision < 6) b.file_flags2(0xFFFF);                    // ignored below 6
    Opened o = parse(b);
    ASSERT_EQ(o.status, 0) << (o.detail ? o.detail : "");
    const IsamFileControl& fc = o.fc;
    const bool r6 = r.revision == 6;
    EXPECT_EQ(fc.header.revision, r.revision >= 40 ? 6 : r.revision);
    EXPECT_EQ(fc.dynamic.form, r.form);
    EXPECT_EQ(is_patched(fc.header), r.revision >= 40);
    if (r.revision >= 40) {
      EXPECT_EQ(patched_from(fc.header), r.revision / 10);
    }
    EXPECT_EQ(fc.has_extension, r6);
    EXPECT_EQ(fc.header.page_units, r6 ? 16 : 4);
    EXPECT_EQ(fc.wide_page, r6);
    EXPECT_EQ(fc.free_slot_bound, r.slot_bound);
    EXPECT_EQ(key_name(fc.keys.at(0)), "K");
    EXPECT_EQ(fc.free_list.record_count, 70000u);
    EXPECT_EQ(fc.free_list.free_record_count, 3u);
    EXPECT_EQ(fc.free_list.free_list_head, 0x800u);
    EXPECT_EQ(fc.free_list.slots[0].size, 51);
    EXPECT_EQ(fc.free_list.slots[0].address_low, 0x1200u);
    EXPECT_EQ(fc.counters.update_count, 0x1234u);  // widened from 16 bits in short forms
    EXPECT_EQ(fc.counters.free_index_blocks, 17u);
    EXPECT_EQ(fc.counters.autoseed, r.counters ? -42 : 0);
    EXPECT_EQ(fc.counters.data_leof, r.counters ? 0x4000u : 0u);
    EXPECT_EQ(fc.counters.index_leof, r.counters ? 0x1400u : 0u);
    EXPECT_EQ(key_root_address(fc, 0), b.data_header_bytes());
    if (r.revision == 4 || r.revision == 5) {
      EXPECT_EQ(fc.header.file_flags2, 0u);
      EXPECT_EQ(fc.keys[0].autokey_flags, 0);
      EXPECT_EQ(fc.autokey_summary, 0u);
      EXPECT_EQ(fc.header.dynamic_size, 288);  // 280 + 4 + 4: no counters on disk
      EXPECT_EQ(fc.short_free_list.update_count, 0x1234);
    }
    EXPECT_EQ(dynamic_header_bytes(fc), b.dynamic_header());  // written back unchanged
  }
  // A patched page needs only 1024 bytes; an unpatched one 4096.
  IsamBuilder p;
  std::vector<uint8_t> idx = p.patched_from(5).add_key(KeySpec::alpha("K", 0, 8)).index_file();
  EXPECT_EQ(check_header_page(idx.data(), 2048, kMagicIndex, nullptr), 0);
  IsamBuilder u;
  idx = u.revision(6).add_key(KeySpec::alpha("K", 0, 8)).index_file();
  EXPECT_EQ(check_header_page(idx.data(), 2048, kMagicIndex, nullptr), kStatusIncompatible);
}

TEST(IsamDecodeRevisions, OldRevisionsAreConverted) {
  for (int rev : {0, 1, 2, 3}) {
    IsamBuilder b;
    KeySpec k0 = KeySpec::alpha("ACCT", 2, 6);
    k0.root = 0x800;
    k0.depth = 3;
    KeySpec k1;
    k1.name = "DESC";
    k1.flags = kKeyDuplicates | kKeyNullReplicating;
    k1.segments = {SegmentSpec{0x01, 8, 10}, SegmentSpec{0x01, 20, 4}};  // descending
    k1.qualifier_offset = 5;
    k1.null_offset = 2;
    b.revision(rev).record_length(40).record_overhead(7).add_key(k0).add_key(k1);
    b.counts(12, 4, 99, 6).vectors(3, 400).creation_version("9.4.3b");
    Opened o = parse(b);
    ASSERT_EQ(o.status, 0) << "revision " << rev;
    const IsamFileControl& fc = o.fc;
    EXPECT_EQ(fc.header.data_header_units, 4);
    EXPECT_EQ(fc.header.null_area_size, 64);
    EXPECT_EQ(fc.header.header_size, 0);
    EXPECT_EQ(fc.header.dynamic_offset, 0u);
    EXPECT_EQ(fc.header.dynamic_size, 836);
    EXPECT_EQ(fc.header.record_overhead, 7);
    EXPECT_EQ(std::string(fc.header.creation_version.data()), "9.4.3b");
    ASSERT_EQ(fc.keys.size(), 2u);
    EXPECT_EQ(fc.keys[0].seg_type[0], kSegAlpha | kSegAscending);
    EXPECT_EQ(fc.keys[0].seg_type[7], kSegAlpha | kSegAscending);
    EXPECT_EQ(fc.keys[1].seg_type[0], kSegAlpha);
    EXPECT_EQ(fc.keys[1].key_flags, kKeyDuplicates | kKeyNullReplicating);
    EXPECT_EQ(fc.keys[1].seg_start[1], 20);
    EXPECT_EQ(fc.keys[1].key_size, 17);
    EXPECT_EQ(fc.keys[1].null_offset, 2);
    EXPECT_EQ(fc.keys[1].qualifier_offset, 5);
    EXPECT_EQ(fc.roots[0], 0x800u);
    EXPECT_EQ(fc.depths[0], 3);
    EXPECT_EQ(fc.free_list.vector_count, 3);
    EXPECT_EQ(fc.free_list.unusable_space, 400u);
    EXPECT_EQ(fc.null_area.bytes.size(), 64u);
  }
  // Negative one-byte offsets are sign-extended.
  OldKeyRecord k;
  k.flags = 0x05;  // ascending, duplicates
  k.qualifier_offset = -2;
  k.null_offset = -1;
  const KeyDescriptor d = old_key_to_key_descriptor(k);
  EXPECT_EQ(d.key_flags, kKeyDuplicates);
  EXPECT_EQ(d.qualifier_offset, 0xFFFE);
  EXPECT_EQ(d.null_offset, 0xFFFF);
  OldHeaderBlock blk;
  blk.record_overhead = -1;
  EXPECT_EQ(old_header_to_isam_header(blk, nullptr).record_overhead, 0xFFFF);
}

TEST(IsamDecodeRevisions, TbyteAnd48BitAddressing) {
  for (bool wide : {false, true}) {
    IsamBuilder b;
    KeySpec k = KeySpec::alpha("K", 0, 12, kKeyDuplicates);
    k.root = 0x03'0000'0010ull;  // units; the fifth byte counts only with 48-bit
    b.revision(6)
        .tbyte(wide)
        .record_length(80)
        .add_key(k)
        .free_list_head(0x02'0000'0001ull)
        .free_slot(0x0102'0000'0300ull, 90)
        .leofs(0x0305'0000'1000ull, 0x01'0000'0020ull);
    Opened o = parse(b);
    ASSERT_EQ(o.status, 0);
    const IsamFileControl& fc = o.fc;
    EXPECT_EQ(fc.rfa_width, wide ? 6 : 5);
    EXPECT_EQ(address_bits(fc.header), wide ? 48 : 40);
    EXPECT_EQ(fc.dynamic.root_width, 5u);
    EXPECT_EQ(qualifier_width(fc.header), 4);
    EXPECT_EQ(fc.keys[0].key_size, 16);
    EXPECT_EQ(fc.keys[0].seg_length[0], 12);
    EXPECT_EQ(key_root_address(fc, 0), wide ? 0x03'0000'0010ull * 256 : 0x10ull * 256);
    EXPECT_EQ(free_list_head_bytes(fc.free_list, fc.header),
              wide ? 0x02'0000'0001ull * 256 : 1ull * 256);
    EXPECT_EQ(free_slot_address(fc.free_list.slots[0], fc.header),
              wide ? 0x0102'0000'0300ull : 0x02'0000'0300ull);
    EXPECT_EQ(data_leof_bytes(fc.counters, fc.header),
              wide ? 0x0305'0000'1000ull : 0x05'0000'1000ull);
    EXPECT_EQ(index_leof_bytes(fc.counters, fc.header),
              wide ? 0x01'0000'0020ull * 256 : 0x20ull * 256);
    // Search capacity uses 5 only with 48-bit addressing.
    EXPECT_EQ(fc.search_capacity, wide ? (4096u - 4) / 7 : (4096u - 4) / 6);
  }
}

}  // namespace
}  // namespace ismgr
