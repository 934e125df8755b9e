// The key parameter queries (text and record) and the key lookups by name
// and by position, through the ISAM driver's slots on crafted files.
#include "ismgr/isam/key_query.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ismgr/platform/platform.h"
#include "ismgr/runtime/channel.h"
#include "ismgr/runtime/status.h"
#include "support/isam_builder.h"
#include "support/open_crafted.h"

namespace ismgr {
namespace {

using testing::CraftedFile;
using testing::IsamBuilder;
using testing::KeySpec;
using testing::SegmentSpec;

struct KeyText {
  int64_t rc;
  char text[128];
};

KeyText key_text(const CraftedFile& f, int32_t key) {
  KeyText r;
  std::memset(r.text, '#', sizeof r.text);
  ChannelCall call;
  call.key = key;
  call.text = r.text;
  f.ctl()->status->code = -7;
  r.rc = channel_call(f.ch(), kSlotKeyText, call);
  return r;
}

int64_t by_name(const CraftedFile& f, const std::string& name, int32_t length) {
  ChannelCall call;
  std::string bytes = name;
  call.text = bytes.data();
  call.capacity = length;
  f.ctl()->status->code = -7;
  return channel_call(f.ch(), kSlotKeyByName, call);
}
int64_t by_name(const CraftedFile& f, const std::string& name) {
  return by_name(f, name, static_cast<int32_t>(name.size()));
}

int64_t by_position(const CraftedFile& f, int32_t start, int32_t length) {
  ChannelCall call;
  call.key = start;
  call.capacity = length;
  f.ctl()->status->code = -7;
  return channel_call(f.ch(), kSlotKeyByPosition, call);
}

// ---------------------------------------------------------------------------
// Key parameter text (slot 13).
// ---------------------------------------------------------------------------
TEST(KeyParamTextTest, OneSegmentAtByteZeroCharacterByCharacter) {
  IsamBuilder b;
  b.record_length(100).add_key(KeySpec::alpha("ID", 0, 6, 0x08));
  CraftedFile f(b);
  ASSERT_TRUE(f.ok()) << f.status();
  KeyText t = key_text(f, 0);
  ASSERT_EQ(t.rc, 90);
  std::string expected = "00001006";
  expected += "011";                        // no duplicates, ascending, modifiable
  expected += std::string(13, ' ') + "ID";  // "%15s"
  expected += "00001" + std::string(35, '0');
  expected += "006" + std::string(21, '0');
  ASSERT_EQ(expected.size(), 90u);
  EXPECT_EQ(std::string(t.text, 90), expected);
  EXPECT_EQ(t.text[90], '\0');
  EXPECT_EQ(t.text[91], '#');
  EXPECT_EQ(f.code(), 0);
}

TEST(KeyParamTextTest, NulPaddedAndBlankPaddedNamesGiveTheSameText) {
  IsamBuilder b;
  b.record_length(100);
  b.add_key(KeySpec::alpha("CUSTNO", 0, 8, 0x04));            // NUL-padded
  b.add_key(KeySpec::alpha("CUSTNO          ", 0, 8, 0x04));  // blank-padded, 16 bytes
  CraftedFile f(b);
  ASSERT_TRUE(f.ok()) << f.status();
  KeyText nul = key_text(f, 0);
  KeyText blank = key_text(f, 1);
  ASSERT_EQ(nul.rc, 90);
  ASSERT_EQ(blank.rc, 90);
  EXPECT_EQ(std::string(nul.text, 91), std::string(blank.text, 91));
  EXPECT_EQ(std::string(nul.text + 11, 15), std::string(9, ' ') + "CUSTNO");
  // Duplicates of size 8 (key_size 11): described with size 8.
  EXPECT_EQ(std::string(nul.text, 11), "00001008110");
}

TEST(KeyParamTextTest, SegmentFieldsAndLongNames) {
  IsamBuilder b;
  b.record_length(200);
  KeySpec k;
  k.name = "ABCDEFGHIJKLMNOP";  // 16 characters: no NUL within the name
  k.segments = {SegmentSpec{0x01, 9, 12}, SegmentSpec{0x24, 99, 4}, SegmentSpec{0x28, 150, 2}};
  b.add_key(k);
  CraftedFile f(b);
  ASSERT_TRUE(f.ok()) << f.status();
  KeyText t = key_text(f, 0);
  ASSERT_EQ(t.rc, 90);
  const std::string text(t.text, 90);
  EXPECT_EQ(text.substr(0, 11), "00010018000");  // descending first segment
  EXPECT_EQ(text.substr(11, 15), "ABCDEFGHIJKLMNO");
  EXPECT_EQ(text.substr(26, 40), "000100010000151" + std::string(25, '0'));
  EXPECT_EQ(text.substr(66, 24), "012004002" + std::string(15, '0'));
}

TEST(KeyParamTextTest, ChangeTrackingKeyIsNeverDescribed) {
  IsamBuilder b;
  b.record_length(100);
  b.add_key(KeySpec::alpha("A", 0, 4)).add_key(KeySpec::alpha("B", 4, 4));
  b.change_tracking(0, 0, 0, 1);
  CraftedFile f(b);
  ASSERT_TRUE(f.ok()) << f.status();
  ASSERT_EQ(f.fc()->keys.size(), 3u);
  EXPECT_EQ(key_text(f, 0).rc, 90);
  EXPECT_EQ(key_text(f, 1).rc, 90);
  for (int32_t key : {2, -1, 70000}) {
    KeyText t = key_text(f, key);
    EXPECT_EQ(t.rc, -2) << key;
    EXPECT_EQ(f.code(), kStatusIllegalKey) << key;
    EXPECT_EQ(t.text[0], '#') << key;
  }
  // The lookup by name still finds it.
  EXPECT_EQ(by_name(f, "Change Tracking"), 2);
}

TEST(KeyParamTextTest, DamagedValuesAreRefusedNotWidened) {
  IsamBuilder b;
  b.record_length(100).add_key(KeySpec::alpha("K", 0, 6));
  CraftedFile f(b);
  ASSERT_TRUE(f.ok());
  KeyDescriptor& k = f.fc()->keys[0];
  const KeyDescriptor saved = k;
  k.key_size = 1000;
  KeyText t = key_text(f, 0);
  EXPECT_EQ(t.rc, -1);
  EXPECT_EQ(f.code(), kStatusBadFileControl);
  for (char c : t.text) ASSERT_EQ(c, '#');
  k = saved;
  k.seg_length[7] = 4000;  // even a segment after the key's last is shown
  t = key_text(f, 0);
  EXPECT_EQ(t.rc, -1);
  for (char c : t.text) ASSERT_EQ(c, '#');
  k = saved;
  k.key_flags = 0x04;  // duplicates: key_size 6 less a 3-byte qualifier
  k.key_size = 2;      // less than the qualifier
  EXPECT_EQ(key_text(f, 0).rc, -1);
  k = saved;
  k.seg_start[0] = 65535;  // start 65536 still fits five digits
  t = key_text(f, 0);
  EXPECT_EQ(t.rc, 90);
  EXPECT_EQ(std::string(t.text, 5), "65536");
  EXPECT_EQ(t.text[90], '\0');
  k = saved;
}

// ---------------------------------------------------------------------------
// Key parameter record (slot 14).
// ---------------------------------------------------------------------------
TEST(KeyParamRecordTest, FieldsByteByByte) {
  IsamBuilder b;
  b.record_length(100);
  b.add_key(KeySpec::alpha("PRIMARY", 0, 4));
  KeySpec k;
  k.name = "SEGS   ";  // trailing blanks are removed
  k.flags = 0x04 | 0x08;
  k.segments = {SegmentSpec{0x21, 10, 6}, SegmentSpec{0x04, 300 - 260, 4}};
  b.add_key(k);
  CraftedFile f(b);
  ASSERT_TRUE(f.ok()) << f.status();
  uint8_t record[64];
  std::memset(record, 0xEE, sizeof record);
  ChannelCall call;
  call.key = 1;
  call.text = reinterpret_cast<char*>(record);
  ASSERT_EQ(channel_call(f.ch(), kSlotKeyRecord, call), 0);
  EXPECT_EQ(get_u16(record + 0), 11);  // start
  EXPECT_EQ(get_u16(record + 2), 10);  // 6 + 4, the qualifier left out
  EXPECT_EQ(record[4], 1);             // duplicates
  EXPECT_EQ(record[5], 1);             // ascending (first segment)
  EXPECT_EQ(record[6], 1);             // modifiable
  EXPECT_EQ(record[7], 0xEE);          // not written
  EXPECT_EQ(std::string(reinterpret_cast<char*>(record + 8)), "SEGS");
  for (int i = 12; i < 24; ++i) EXPECT_EQ(record[i], 0) << i;
  EXPECT_EQ(get_u16(record + 24), 11);
  EXPECT_EQ(get_u16(record + 26), 41);
  for (int s = 2; s < 8; ++s) EXPECT_EQ(get_u16(record + 24 + 2 * s), 0) << s;
  EXPECT_EQ(get_u16(record + 40), 6);
  EXPECT_EQ(get_u16(record + 42), 4);
  for (int s = 2; s < 8; ++s) EXPECT_EQ(get_u16(record + 40 + 2 * s), 0) << s;
  EXPECT_EQ(record[56], 0xEE);
}

TEST(KeyParamRecordTest, NamesArePaddedOutAndCutAtFifteen) {
  IsamBuilder b;
  b.record_length(100);
  b.add_key(KeySpec::alpha("CUSTNO", 0, 8));
  b.add_key(KeySpec::alpha("CUSTNO          ", 0, 8));
  b.add_key(KeySpec::alpha("ABCDEFGHIJKLMNOP", 0, 8));
  b.add_key(KeySpec::alpha("CUST\tNO \t", 0, 8));
  CraftedFile f(b);
  ASSERT_TRUE(f.ok()) << f.status();
  const char* names[] = {"CUSTNO", "CUSTNO", "ABCDEFGHIJKLMNO", "CUST\tNO"};
  for (int key = 0; key < 4; ++key) {
    uint8_t record[56];
    std::memset(record, 0xEE, sizeof record);
    ASSERT_EQ(key_param_record(f.fc(), key, record, f.ctl()), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(record + 8)), names[key]) << key;
    EXPECT_EQ(record[23], 0) << key;  // the 16th byte is always the terminator
  }
}

TEST(KeyParamRecordTest, RefusalsAndTheRecordedContext) {
  IsamBuilder b;
  b.record_length(100).add_key(KeySpec::alpha("A", 0, 4)).change_tracking(0, 0, 0, 1);
  CraftedFile f(b);
  ASSERT_TRUE(f.ok());
  uint8_t record[56];
  std::memset(record, 0xEE, sizeof record);
  f.fc()->control = nullptr;
  EXPECT_EQ(key_param_record(f.fc(), 1, record, f.ctl()), -1);  // the tracking key
  EXPECT_EQ(f.code(), kStatusIllegalKey);
  EXPECT_EQ(f.fc()->control, f.ctl());
  EXPECT_EQ(key_param_record(f.fc(), -1, record, f.ctl()), -1);
  EXPECT_EQ(record[0], 0xEE);
  EXPECT_EQ(key_param_record(nullptr, 0, record, f.ctl()), -2);
  f.fc()->header.magic = 0x1234;
  EXPECT_EQ(key_param_record(f.fc(), 0, record, f.ctl()), -2);
  f.fc()->header.magic = kMagicIndex;
  EXPECT_EQ(key_param_record(f.fc(), 0, record, f.ctl()), 0);
}

// ---------------------------------------------------------------------------
// Key by name (slot 24).
// ---------------------------------------------------------------------------
TEST(KeyByNameTest, FirstKeyWhoseNameBeginsWithTheBytes) {
  IsamBuilder b;
  b.record_length(100);
  b.add_key(KeySpec::alpha("CUSTNO", 0, 8));
  b.add_key(KeySpec::alpha("CUSTNAME", 8, 8));
  b.add_key(KeySpec::alpha("ABCDEFGHIJKLMNOP", 16, 8));
  CraftedFile f(b);
  ASSERT_TRUE(f.ok());
  EXPECT_EQ(by_name(f, "CUSTNAME"), 1);
  EXPECT_EQ(f.code(), 0);
  EXPECT_EQ(by_name(f, "CUST"), 0);  // both begin so: the first wins
  EXPECT_EQ(by_name(f, "CUSTN"), 0);
  EXPECT_EQ(by_name(f, "CUSTNA"), 1);
  // With the terminator counted, only the whole name matches.
  EXPECT_EQ(by_name(f, std::string("CUSTNO\0", 7)), 0);
  EXPECT_EQ(by_name(f, std::string("CUST\0", 5)), -1);
  EXPECT_EQ(by_name(f, "ABCDEFGHIJKLMNOP"), 2);  // all 16 bytes
}

TEST(KeyByNameTest, NoMatchGivesIllegalAlphaKey) {
  IsamBuilder b;
  // The full-width name comes first: past its 16 bytes lie the next key's
  // flags, a 0 byte that a name with its terminator would match.
  b.record_length(100).add_key(KeySpec::alpha("ABCDEFGHIJKLMNOP", 8, 8));
  b.add_key(KeySpec::alpha("CUSTNO", 0, 8));
  CraftedFile f(b);
  ASSERT_TRUE(f.ok());
  EXPECT_EQ(by_name(f, "custno"), -1);
  EXPECT_EQ(f.code(), 8);
  // Longer than a key name: no key matches, nothing is read past the names.
  EXPECT_EQ(by_name(f, "ABCDEFGHIJKLMNOPQ"), -1);
  EXPECT_EQ(f.code(), 8);
  EXPECT_EQ(by_name(f, std::string("ABCDEFGHIJKLMNOP\0", 17)), -1);
  // A negative length names nothing.
  EXPECT_EQ(by_name(f, "CUSTNO", -3), -1);
  EXPECT_EQ(f.code(), 8);
  ChannelCall call;
  call.capacity = 4;  // no name bytes at all
  EXPECT_EQ(channel_call(f.ch(), kSlotKeyByName, call), -1);
}

// ---------------------------------------------------------------------------
// Key by position and length (slot 25).
// ---------------------------------------------------------------------------
IsamBuilder position_file() {
  IsamBuilder b;
  b.record_length(100);
  KeySpec segmented;  // key 0: starts at 10, first segment 8 long
  segmented.name = "SEG";
  segmented.segments = {SegmentSpec{0x21, 10, 8}, SegmentSpec{0x21, 30, 2}};
  b.add_key(segmented);
  b.add_key(KeySpec::alpha("LONG", 40, 12));       // key 1
  b.add_key(KeySpec::alpha("EXACT", 10, 4));       // key 2
  b.add_key(KeySpec::alpha("DUPS", 60, 6, 0x04));  // key 3: key_size 9
  b.add_key(KeySpec::alpha("SHORTER", 40, 6));     // key 4
  return b;
}

TEST(KeyByPositionTest, ExactSingleSegmentKeyComesFirst) {
  CraftedFile f(position_file());
  ASSERT_TRUE(f.ok()) << f.status();
  EXPECT_EQ(by_position(f, 10, 4), 2);  // exact, although key 0 covers it
  EXPECT_EQ(by_position(f, 40, 6), 4);  // exact, although key 1 covers it
  EXPECT_EQ(by_position(f, 60, 6), 3);  // the size without its qualifier
  EXPECT_EQ(by_position(f, 40, 12), 1);
}

TEST(KeyByPositionTest, OtherwiseTheFirstCoveringKey) {
  CraftedFile f(position_file());
  ASSERT_TRUE(f.ok());
  EXPECT_EQ(by_position(f, 10, 8), 0);  // segmented: its first segment covers
  EXPECT_EQ(by_position(f, 10, 3), 0);
  EXPECT_EQ(by_position(f, 40, 9), 1);
  EXPECT_EQ(by_position(f, 40, 3), 1);
  EXPECT_EQ(by_position(f, 60, 5), 3);
}

TEST(KeyByPositionTest, NoKeyGivesThePrimaryWithoutStatus) {
  CraftedFile f(position_file());
  ASSERT_TRUE(f.ok());
  EXPECT_EQ(by_position(f, 11, 2), 0);   // no key starts there
  EXPECT_EQ(f.code(), -7);               // no status set
  EXPECT_EQ(by_position(f, 40, 13), 0);  // none long enough
  EXPECT_EQ(by_position(f, -1, 4), 0);
  EXPECT_EQ(f.code(), -7);
}

TEST(KeyByPositionTest, Option45MakesAMissAnError) {
  // Each test runs in its own process: the configuration is read anew.
  platform::put_env("VRXOPT=45");
  reset_process_for_test();
  {
    CraftedFile f(position_file());
    ASSERT_TRUE(f.ok());
    EXPECT_EQ(by_position(f, 11, 2), -2);
    EXPECT_EQ(f.code(), 7);
    EXPECT_EQ(by_position(f, 10, 4), 2);  // a found key is unaffected
    EXPECT_EQ(by_position(f, 40, 3), 1);
  }
  platform::put_env("VRXOPT=");
  reset_process_for_test();
}

}  // namespace
}  // namespace ismgr
