// The key parameter queries (text and record) and the key lookups by name
// and by position, through the ISAM driver's slots on crafted files.
#include "ismgr/isam/key_query.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ismgr/runtime/channel.h"
#include "ismgr/runtime/status.h"
#include "support/data_rows.h"
#include "support/isam_builder.h"
#include "support/open_crafted.h"

namespace ismgr {
namespace {

using testing::CraftedFile;
using testing::IsamBuilder;
using testing::KeySpec;
using testing::SegmentSpec;

// Slot 13: the text with its terminator, and the byte after it; "" when
// refused (then nothing at all may be written).
std::string key_text(const CraftedFile& f, int32_t key) {
  char text[128];
  std::memset(text, '#', sizeof text);
  ChannelCall call;
  call.key = key;
  call.text = text;
  f.ctl()->status->code = -7;
  const int64_t rc = channel_call(f.ch(), kSlotKeyText, call);
  if (rc != 90)
    return rc < 0 && text[0] == '#' && text[127] == '#' ? "" : "rc " + std::to_string(rc);
  return std::string(text, 92);
}

int64_t call(const CraftedFile& f, int slot, int32_t key, std::string name, int32_t length) {
  ChannelCall c;
  c.key = key;
  c.text = name.data();
  c.capacity = length;
  f.ctl()->status->code = -7;
  return channel_call(f.ch(), slot, c);
}

int64_t by_name(const CraftedFile& f, const std::string& name) {
  return call(f, kSlotKeyByName, 0, name, static_cast<int32_t>(name.size()));
}

TEST(KeyParamText, CharacterByCharacter) {
  IsamBuilder b;
  b.record_length(200).add_key(KeySpec::alpha("CUSTNO", 0, 8, 0x04 | 0x08));  // NUL-padded
  b.add_key(KeySpec::alpha("CUSTNO          ", 0, 8, 0x04));                  // blank-padded
  KeySpec k;
  k.name = "ABCDEFGHIJKLMNOP";  // 16 characters: no NUL within the name
  k.segments = {SegmentSpec{0x01, 9, 12}, SegmentSpec{0x24, 99, 4}, SegmentSpec{0x28, 150, 2}};
  CraftedFile f(b.add_key(k));
  ASSERT_TRUE(f.ok()) << f.status();
  const std::string end = std::string(1, '\0') + "#";
  // start, size (less the qualifier), dups, ascending, modifiable, "%15s"
  // name, starts, lengths; blank-padded names read as NUL-padded ones.
  const auto custno = [&](const char* modifiable) {
    return "0000100811" + (modifiable + std::string(9, ' ')) + "CUSTNO" + "00001" +
           std::string(35, '0') + "008" + std::string(21, '0') + end;
  };
  const std::string rows[] = {custno("1"), custno("0"),
                              "00010018000ABCDEFGHIJKLMNO000100010000151" + std::string(25, '0') +
                                  "012004002" + std::string(15, '0') + end};
  for (int key = 0; key < 3; ++key) EXPECT_EQ(key_text(f, key), rows[key]) << "key " << key;
  EXPECT_EQ(f.code(), 0);
}

TEST(KeyParam, TrackingKeyAndDamagedValuesAreRefusedNotWidened) {
  IsamBuilder b;
  b.record_length(100).add_key(KeySpec::alpha("A", 0, 6)).add_key(KeySpec::alpha("B", 4, 4));
  CraftedFile f(b.change_tracking(0, 0, 0, 1));
  ASSERT_TRUE(f.ok()) << f.status();
  ASSERT_EQ(f.fc()->keys.size(), 3u);
  EXPECT_NE(key_text(f, 1), "");
  for (int32_t key : {2, -1, 70000}) {  // the tracking key is never described
    EXPECT_EQ(key_text(f, key), "") << key;
    EXPECT_EQ(f.code(), kStatusIllegalKey) << key;
  }
  EXPECT_EQ(by_name(f, "Change Tracking"), 2);  // but found by name
  KeyDescriptor& k = f.fc()->keys[0];
  const KeyDescriptor saved = k;
  k.key_size = 1000;
  EXPECT_EQ(key_text(f, 0), "");
  EXPECT_EQ(f.code(), kStatusBadFileControl);
  k = saved;
  k.seg_length[7] = 4000;  // even a segment after the key's last is shown
  EXPECT_EQ(key_text(f, 0), "");
  k = saved;
  k.key_flags = 0x04;  // duplicates, key_size less than the qualifier
  k.key_size = 2;
  EXPECT_EQ(key_text(f, 0), "");
  k = saved;
  k.seg_start[0] = 65535;  // start 65536 still fits five digits
  EXPECT_EQ(key_text(f, 0).substr(0, 5), "65536");
  k = saved;
  uint8_t record[56];  // the record form refuses alike
  std::memset(record, 0xEE, sizeof record);
  f.fc()->control = nullptr;
  EXPECT_EQ(key_param_record(f.fc(), 2, record, f.ctl()), -1);
  EXPECT_EQ(f.code(), kStatusIllegalKey);
  EXPECT_EQ(f.fc()->control, f.ctl());  // the caller's context is recorded
  EXPECT_EQ(key_param_record(f.fc(), -1, record, f.ctl()), -1);
  EXPECT_EQ(record[0], 0xEE);
  EXPECT_EQ(key_param_record(nullptr, 0, record, f.ctl()), -2);
  f.fc()->header.magic = 0x1234;
  EXPECT_EQ(key_param_record(f.fc(), 0, record, f.ctl()), -2);
  f.fc()->header.magic = kMagicIndex;
}

TEST(KeyParamRecord, FieldsByteByByteAndNames) {
  IsamBuilder b;
  b.record_length(100).add_key(KeySpec::alpha("PRIMARY", 0, 4));
  KeySpec k;
  k.name = "SEGS   ";  // trailing blanks are removed
  k.flags = 0x04 | 0x08;
  k.segments = {SegmentSpec{0x21, 10, 6}, SegmentSpec{0x04, 40, 4}};
  b.add_key(k).add_key(KeySpec::alpha("CUSTNO          ", 0, 8));
  b.add_key(KeySpec::alpha("ABCDEFGHIJKLMNOP", 0, 8)).add_key(KeySpec::alpha("CUST\tNO \t", 0, 8));
  CraftedFile f(b);
  ASSERT_TRUE(f.ok()) << f.status();
  uint8_t record[64];
  std::memset(record, 0xEE, sizeof record);
  ChannelCall c;
  c.key = 1;
  c.text = reinterpret_cast<char*>(record);
  ASSERT_EQ(channel_call(f.ch(), kSlotKeyRecord, c), 0);
  std::vector<uint8_t> want = {11, 0, 10, 0, 1, 1, 1, 0xEE, 'S', 'E', 'G', 'S'};  // size less
  want.resize(24, 0);  // the qualifier; duplicates, ascending, modifiable; byte 7 untouched
  for (uint16_t v : {11, 41, 0, 0, 0, 0, 0, 0, 6, 4, 0, 0, 0, 0, 0, 0}) {
    want.push_back(static_cast<uint8_t>(v));
    want.push_back(0);
  }
  want.push_back(0xEE);
  EXPECT_EQ(std::vector<uint8_t>(record, record + 57), want);
  const char* names[] = {"CUSTNO", "ABCDEFGHIJKLMNO", "CUST\tNO"};  // padded out, cut at 15
  for (int key = 2; key < 5; ++key) {
    std::memset(record, 0xEE, sizeof record);
    ASSERT_EQ(key_param_record(f.fc(), key, record, f.ctl()), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(record + 8)), names[key - 2]) << key;
    EXPECT_EQ(record[23], 0) << key;
  }
}

// The rows of tests/data/lookups.tsv.
TEST(KeyByName, Table) {
  IsamBuilder b;
  // The full-width name comes first: past its 16 bytes lie the next key's
  // flags, a 0 byte that a name with its terminator would match.
  b.record_length(100).add_key(KeySpec::alpha("ABCDEFGHIJKLMNOP", 16, 8));
  b.add_key(KeySpec::alpha("CUSTNO", 0, 8)).add_key(KeySpec::alpha("CUSTNAME", 8, 8));
  CraftedFile f(b);
  ASSERT_TRUE(f.ok());
  for (const auto& r : test::data_rows("lookups.tsv")) {
    if (r[0] != "key") continue;
    EXPECT_EQ(by_name(f, r[1]), r.number(2)) << r.where;
    EXPECT_EQ(f.code(), r.number(2) < 0 ? 8 : 0) << r.where;
  }
  EXPECT_EQ(call(f, kSlotKeyByName, 0, "CUSTNO", -3), -1);  // a negative length
  EXPECT_EQ(f.code(), 8);
  ChannelCall c;
  c.capacity = 4;  // no name bytes at all
  EXPECT_EQ(channel_call(f.ch(), kSlotKeyByName, c), -1);
}

// An exact single-segment key first, else the first covering key, else the
// primary without a status (qinfo's runs show option 45 making a miss status 7).
TEST(KeyByPosition, ExactThenCoveringThenPrimary) {
  IsamBuilder b;
  KeySpec segmented;  // key 0: starts at 10, first segment 8 long
  segmented.name = "SEG";
  segmented.segments = {SegmentSpec{0x21, 10, 8}, SegmentSpec{0x21, 30, 2}};
  b.record_length(100).add_key(segmented).add_key(KeySpec::alpha("LONG", 40, 12));
  b.add_key(KeySpec::alpha("EXACT", 10, 4)).add_key(KeySpec::alpha("DUPS", 60, 6, 0x04));
  CraftedFile f(b.add_key(KeySpec::alpha("SHORTER", 40, 6)));
  ASSERT_TRUE(f.ok()) << f.status();
  // start, length, key found (-1: a miss, the primary given back)
  const int32_t rows[][3] = {{10, 4, 2}, {40, 6, 4},  {60, 6, 3},   {40, 12, 1},
                             {10, 8, 0}, {10, 3, 0},  {40, 9, 1},   {40, 3, 1},
                             {60, 5, 3}, {11, 2, -1}, {40, 13, -1}, {-1, 4, -1}};
  for (const auto& [start, length, want] : rows) {
    EXPECT_EQ(call(f, kSlotKeyByPosition, start, "", length), std::max(want, 0)) << start;
    EXPECT_EQ(f.code(), want < 0 ? -7 : 0) << start << ":" << length;  // a miss sets no status
  }
}

}  // namespace
}  // namespace ismgr
