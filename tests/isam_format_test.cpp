// The ISAM on-disk records: byte round trips, header page sizes, old
// revisions, preallocations (isam_open_test opens and encodes back the
// layouts of every revision; the generated descriptions round trip the rest).
#include "ismgr/isam/isam_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ismgr/isam/file_control.h"
#include "ismgr/runtime/status.h"
#include "support/query_fixture.h"

namespace ismgr {
namespace {

using testing::IsamBuilder;
using testing::KeySpec;
using testing::SegmentSpec;

// Decode then encode gives back every byte of each record, reserved ones
// too, and a buffer one byte short is refused without being touched.
template <typename T, typename Dec, typename Enc>
void expect_round_trip(const char* name, size_t size, Dec dec, Enc enc) {
  SCOPED_TRACE(name);
  uint32_t x = static_cast<uint32_t>(size);
  std::vector<uint8_t> in(size);
  for (auto& b : in) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 16);
  T value;
  ASSERT_TRUE(dec(in.data(), in.size(), &value));
  std::vector<uint8_t> out(size, 0);
  ASSERT_TRUE(enc(value, out.data(), out.size()));
  EXPECT_EQ(in, out);
  T untouched;
  EXPECT_FALSE(dec(in.data(), size - 1, &untouched));
  EXPECT_FALSE(dec(nullptr, size, &untouched));
  std::vector<uint8_t> small(size - 1, 0xEE);
  EXPECT_FALSE(enc(value, small.data(), small.size()));
  EXPECT_FALSE(enc(value, nullptr, size));
  EXPECT_EQ(small, std::vector<uint8_t>(size - 1, 0xEE));
}

#define ROUND_TRIP(T, size, name) expect_round_trip<T>(#name, size, decode_##name, encode_##name)
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

// A patched page needs only 1024 bytes; an unpatched one 4096.
TEST(IsamDecodeRevisions, HeaderPageSizeOfPatchedAndUnpatchedFiles) {
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
    testing::CraftedFile f(b);
    ASSERT_TRUE(f.ok()) << "revision " << rev << " status " << f.status();
    const IsamFileControl& fc = *f.fc();
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

// An allocation in records becomes blocks after the header bytes; without
// tbyte the bytes stay below 2^31 - 1.
TEST(IsamConversions, PreallocationInBlocks) {
  IsamHeader h;
  h.record_size = 100;
  h.record_overhead = 12;
  EXPECT_EQ(preallocation_blocks(h, 4096, 50), 50);  // already in blocks
  h.file_flags2 = kFlags2AllocInRecords;
  EXPECT_EQ(preallocation_blocks(h, 4096, 10), (1120 + 4096 + 511) / 512);
  EXPECT_EQ(preallocation_blocks(h, 513, 0), 2);
  // 19173961 records of 112 bytes are 2147483632 bytes.
  EXPECT_EQ(preallocation_blocks(h, 14, 19173961), (2147483646ll + 511) / 512);
  EXPECT_EQ(preallocation_blocks(h, 15, 19173961), -1);
  h.file_flags = kFileTbyte;
  EXPECT_EQ(preallocation_blocks(h, 15, 19173961), (2147483647ll + 511) / 512);
}

}  // namespace
}  // namespace ismgr
