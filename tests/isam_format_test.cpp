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

namespace ismgr {
namespace {

using testing::IsamBuilder;
using testing::KeySpec;
using testing::SegmentSpec;

// Runs the parsing steps of an open over crafted files, the way the open
// reads them: a zero-filled 4096-byte page, the bytes beyond it when
// header_size asks for them, then dynamic_size bytes at dynamic_offset, then
// the file-text prefix from the data file.
struct Opened {
  int status = 0;
  const char* detail = nullptr;
  IsamFileControl fc;
};

Opened parse(const IsamBuilder& b) {
  const std::vector<uint8_t> index = b.index_file(), data = b.data_file();
  Opened o;
  const size_t got = std::min(index.size(), kHeaderPageReadSize);
  std::vector<uint8_t> page(index.begin(), index.begin() + got);
  page.resize(kHeaderPageReadSize, 0);
  o.status = check_header_page(page.data(), got, kMagicIndex, &o.detail);
  if (o.status) return o;
  const size_t size = kHeaderPageReadSize + header_extra_bytes(page.data(), page.size());
  page.assign(index.begin(), index.begin() + std::min(index.size(), size));
  page.resize(size, 0);
  o.status = build_file_control(page.data(), page.size(), &o.fc, &o.detail);
  if (o.status == 0) o.status = check_dynamic_size(o.fc);
  if (o.status) return o;
  const size_t off = o.fc.header.dynamic_offset, len = o.fc.header.dynamic_size;
  if (off + len > index.size()) return {kStatusReadFailure, nullptr, {}};  // a short read
  o.status = load_dynamic_header(index.data() + off, len, &o.fc);
  if (o.status) return o;
  const uint64_t at = file_text_location(o.fc);
  const uint8_t* prefix = at + 8 <= data.size() ? data.data() + at : nullptr;
  o.status = resolve_file_text(&o.fc, prefix, prefix ? 8 : 0, data.size(), &o.detail);
  return o;
}

std::vector<uint8_t> pattern(size_t n, uint32_t x) {
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 16);
  return v;
}

// Round trips: decode then encode gives back every byte, reserved ones too,
// and a buffer one byte short is refused without being touched.
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

#define ROUND_TRIP(T, size, name) expect_round_trip<T>(size, decode_##name, encode_##name)
TEST(IsamRecordCodec, EveryRecordRoundTripsAndRefusesShortBuffers) {
  ROUND_TRIP(IsamHeader, kIsamHeaderSize, isam_header);
  ROUND_TRIP(KeyDescriptor, kKeyDescriptorSize, key_descriptor);
  ROUND_TRIP(PortIntSpec, kPortIntSpecSize, port_int_spec);
  ROUND_TRIP(R6Extension, kR6ExtensionSize, r6_extension);
  ROUND_TRIP(FreeListPart, kFreeListFullSize, free_list_part);
  ROUND_TRIP(ShortFreeListPart, kFreeListShortSize, short_free_list_part);
  ROUND_TRIP(FileCounters, kFileCountersSize, file_counters);
  ROUND_TRIP(ChangeTrackingArea, kChangeTrackingSize, change_tracking);
  ROUND_TRIP(FileTextPrefix, kFileTextPrefixSize, file_text_prefix);
  ROUND_TRIP(OldKeyRecord, kOldKeyRecordSize, old_key_record);
  ROUND_TRIP(OldHeaderBlock, kOldHeaderBlockSize, old_header_block);
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

// Every revision and layout, one builder variant per row, with the same
// counts: where each layout keeps them and what it leaves at zero.
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
      {"rev4", 4, DynamicForm::kShort, 32, false},
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
    EXPECT_TRUE(r.revision < 40 || patched_from(fc.header) == r.revision / 10);
    EXPECT_EQ(fc.has_extension, r6);
    EXPECT_EQ(fc.header.page_units, r6 ? 16 : 4);
    EXPECT_EQ(fc.free_slot_bound, r.slot_bound);
    EXPECT_EQ(fc.free_list.record_count, 70000u);
    EXPECT_EQ(fc.free_list.free_list_head, 0x800u);
    EXPECT_EQ(fc.free_list.slots[0].size, 51);
    EXPECT_EQ(fc.counters.update_count, 0x1234u);  // widened from 16 bits in short forms
    EXPECT_EQ(fc.counters.autoseed, r.counters ? -42 : 0);
    EXPECT_EQ(fc.counters.data_leof, r.counters ? 0x4000u : 0u);
    EXPECT_EQ(fc.counters.index_leof, r.counters ? 0x1400u : 0u);
    EXPECT_EQ(key_root_address(fc, 0), b.data_header_bytes());
    if (r.revision == 4 || r.revision == 5) {
      EXPECT_EQ(fc.header.file_flags2, 0u);
      EXPECT_EQ(fc.keys[0].autokey_flags, 0);
      EXPECT_EQ(fc.header.dynamic_size, 288);  // 280 + 4 + 4: no counters on disk
      EXPECT_EQ(fc.short_free_list.update_count, 0x1234);
    }
    const std::vector<uint8_t> index = b.index_file();  // written back unchanged
    const auto dynamic = index.begin() + fc.header.dynamic_offset;
    EXPECT_EQ(dynamic_header_bytes(fc), std::vector(dynamic, dynamic + fc.header.dynamic_size));
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
  for (int rev : {0, 3}) {
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
    EXPECT_EQ(fc.header.dynamic_size, 836);
    EXPECT_EQ(std::string(fc.header.creation_version.data()), "9.4.3b");
    EXPECT_EQ(fc.keys[0].seg_type[0], kSegAlpha | kSegAscending);
    EXPECT_EQ(fc.keys[1].seg_type[0], kSegAlpha);
    EXPECT_EQ(fc.keys[1].key_flags, kKeyDuplicates | kKeyNullReplicating);
    EXPECT_EQ(fc.keys[1].null_offset, 2);
    EXPECT_EQ(fc.keys[1].qualifier_offset, 5);
    EXPECT_EQ(fc.roots[0], 0x800u);
    EXPECT_EQ(fc.free_list.unusable_space, 400u);
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
}

}  // namespace
}  // namespace ismgr
