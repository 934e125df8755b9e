// The text answers of the file information query ("string", dates,
// "putnote", the text capacity), the channel's two file summaries, the key
// parameter queries (text and record) and the key lookups by name and by
// position, through the ISAM driver's slots on crafted files.
#include "ismgr/isam/key_query.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "ismgr/channel/channel.h"
#include "ismgr/isam/file_query.h"
#include "ismgr/platform/platform.h"
#include "ismgr/runtime/keyword.h"
#include "ismgr/runtime/status.h"
#include "support/data_rows.h"
#include "support/detail_capture.h"
#include "support/query_fixture.h"

namespace ismgr {
namespace {

using namespace testing;
using testing_support::DetailCapture;

TEST(FileQueryString, KeysOfEveryShape) {
  IsamBuilder b;
  b.record_length(100).add_key(KeySpec::alpha("CUSTNO", 0, 8, 0x04 | 0x02));
  KeySpec multi;
  multi.name = "MULTI";
  multi.flags = 0x08 | 0x04 | 0x20;
  multi.density = 75;
  multi.segments = {SegmentSpec{0x21, 0, 10}, SegmentSpec{0x04, 10, 4}, SegmentSpec{0x28, 20, 2}};
  multi.null_offset = 0;
  b.add_key(multi);
  KeySpec nocase = KeySpec::alpha("ABCDEFGHIJKLMNO", 0, 4, 0x10);  // 15 characters
  nocase.segments[0].type = 0x30;
  nocase.null_offset = 3;
  b.add_key(nocase).add_key(KeySpec::alpha("              ", 4, 4));  // blanks only
  b.add_key(KeySpec::alpha("PAD   ", 8, 4));
  KeySpec desc = KeySpec::alpha("D", 12, 3, 0x20);
  desc.segments[0].type = 0x02;  // descending decimal
  desc.null_offset = 5;
  CraftedFile f(b.add_key(desc).null_values({3, 'Q', 'R', 2, '*', 4, 0x8E, 0xCD, 0xCA}));
  ASSERT_TRUE(f.ok()) << f.status();
  const std::string multi_text =
      "start=1:11:21, length=10:4:2, name=MULTI, type=A:I:U, density=75, dups, modify";
  const struct {
    int key, segment;
    std::string text;
  } rows[] = {
      {0, 0, "start=1, length=8, name=CUSTNO, dups, atend"},
      {1, 0, multi_text + ", null=noreplicate, value_null=QR"},
      {1, 1, multi_text + ", noascend, null=noreplicate, value_null=QR"},  // per segment
      {2, 0, "start=1, length=4, name=ABCDEFGHIJKLMN, type=N, null=replicate, value_null=*"},
      {3, 0, "start=5, length=4"},
      {4, 0, "start=9, length=4, name=PAD"},
      {5, 0, "start=13, length=3, name=D, type=D, noascend, null=noreplicate, value_null=125"}};
  for (const auto& r : rows) EXPECT_EQ(ask(f, "string", r.key, r.segment).text, r.text) << r.key;
}

TEST(FileQueryText, DatesAsTextOrNodate) {
  const char* const words[] = {"createdate", "cleardate", "verifydate", "reindexdate"};
  for (const auto& r : test::data_rows("query_texts.tsv")) {
    const auto time = [&](size_t i) { return static_cast<uint32_t>(std::stoul(r[i])); };
    CraftedFile f(one_key(6).times(time(1), time(2), time(3), time(4)));
    ASSERT_TRUE(f.ok()) << r.where;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(ask(f, words[i]).text, r[5 + i]) << r.where;
  }
}

TEST(FileQueryText, PutnoteInBothFormsLongCutAndTruncated) {
  const struct {
    IsamBuilder file;
    const char* text;
  } rows[] = {{one_key(6).file_text_prefixed("hello text"), "hello text"},
              {one_key(6).patched_from(5).file_text_prefixed("old text"), "old text"},
              {one_key(6).file_text_extension("extension text", 1), "extension text"},
              {one_key(6), ""}};
  for (const auto& r : rows) {
    CraftedFile f(r.file);
    ASSERT_TRUE(f.ok()) << r.text << " " << f.status();
    EXPECT_EQ(ask(f, "putnote").text, r.text);
  }
  std::string text(3000, 'x');  // longer than the work buffer
  text[2999] = 'E';
  CraftedFile f(one_key(6).file_text_extension(text, 4));
  ASSERT_TRUE(f.ok()) << f.status();
  std::vector<char> buffer(4000, '#');
  int32_t number = 0;
  ASSERT_EQ(channel_file_info(f.ch(), &number, buffer.data(), 4000, "putnote", 0, 0), 0);
  EXPECT_EQ(std::string(buffer.data()), text);
  EXPECT_EQ(ask(f, "putnote").text, std::string(255, 'x'));  // capacity 256
  std::filesystem::resize_file(f.dir().file("cust.is1"), f.fc()->text_location + 4);
  const Answer a = ask(f, "putnote");
  EXPECT_EQ(a.status, kStatusReadFailure);
  EXPECT_FALSE(a.text_written);
}

// A text is cut to the capacity less one; nothing is written beyond it, and
// nothing at all for a capacity under one.
TEST(FileQueryText, TextIsCutToCapacityLessOne) {
  IsamBuilder b;
  CraftedFile f(b.record_length(100).add_key(KeySpec::alpha("CUSTNO", 0, 8, 0x04 | 0x02)));
  ASSERT_TRUE(f.ok());
  const std::string name = f.dir().file("cust.ism");
  const struct {
    const char* keyword;
    int32_t capacity;
    std::string want;
  } rows[] = {{"string", 10, std::string("start=1, ") + '\0' + '#'},
              {"string", 1, std::string(1, '\0') + '#'},
              {"string", 0, "#"},
              {"filename", 5, name.substr(0, 4) + '\0' + '#'}};
  for (const auto& r : rows) {
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(channel_file_info(f.ch(), nullptr, buffer, r.capacity, r.keyword, 0, 0), 0);
    EXPECT_EQ(std::string(buffer, r.want.size()), r.want) << r.keyword << " " << r.capacity;
  }
  EXPECT_EQ(channel_file_info(f.ch(), nullptr, nullptr, 0, "filename", 0, 0), 0);
}

struct Summary {
  int64_t rc;
  char text[64];
};

Summary summary_text(const CraftedFile& f) {
  Summary s;
  std::memset(s.text, '#', sizeof s.text);
  ChannelCall call;
  call.text = s.text;
  s.rc = channel_call(f.ch(), kSlotParamsText, call);
  return s;
}

// The whole text is qinfo's "-s" run; here its terminator and its limits.
TEST(FileSummary, TextLimitsAndRefusals) {
  CraftedFile f(two_key_file());
  ASSERT_TRUE(f.ok());
  f.fc()->control = nullptr;
  Summary s = summary_text(f);
  ASSERT_EQ(s.rc, 31);
  EXPECT_EQ(std::string(s.text + 29, 4), std::string("02") + '\0' + "#");
  EXPECT_EQ(f.fc()->control, f.ctl());  // the caller's context is recorded
  for (const auto& [free_records, shown] : {std::pair<uint32_t, const char*>{99999999, "00000000"},
                                            {100000000, "00000000"},
                                            {0, "99999999"}}) {
    f.fc()->free_list.record_count = free_records;
    EXPECT_EQ(std::string(summary_text(f).text + 21, 8), shown) << free_records;
  }
  f.fc()->header.key_count = 100;
  EXPECT_EQ(std::string(summary_text(f).text + 29, 2), "00");
  f.fc()->header.key_count = 2;
  for (uint16_t damaged : {1003, 65535, 2}) {  // 1000 and more after the qualifier, or under it
    f.fc()->keys[0].key_size = damaged;
    s = summary_text(f);
    EXPECT_EQ(s.rc, -1) << damaged;
    EXPECT_EQ(f.code(), kStatusBadFileControl) << damaged;
    EXPECT_EQ(std::string(s.text, 64), std::string(64, '#')) << damaged;
  }
  const auto magic = f.fc()->header.magic;
  f.fc()->header.magic = 0;  // not a control block
  s = summary_text(f);
  EXPECT_EQ(s.rc, -2);
  EXPECT_EQ(s.text[0], '#');
  uint8_t record[32] = {};
  EXPECT_EQ(file_summary_record(f.fc(), record, f.ctl()), -2);
  EXPECT_EQ(file_summary_text(nullptr, s.text, f.ctl()), -2);
  f.fc()->header.magic = magic;  // so that the close frees the file
}

TEST(FileSummary, RecordByteByByteAndTheTrackingKey) {
  CraftedFile f(two_key_file());
  ASSERT_TRUE(f.ok());
  uint8_t record[24];
  std::memset(record, 0xEE, sizeof record);
  ChannelCall call;
  call.text = reinterpret_cast<char*>(record);
  ASSERT_EQ(channel_call(f.ch(), kSlotParamsRecord, call), 0);
  // 999999999 = 0x3B9AC9FF; less 77 = 0x3B9AC9B2.
  const std::vector<uint8_t> expected = {120,  0,    5,    0,    10,   0,    0xEE, 0xEE, 0xFF,
                                         0xC9, 0x9A, 0x3B, 0xB2, 0xC9, 0x9A, 0x3B, 2,    0xEE};
  EXPECT_EQ(std::vector<uint8_t>(record, record + 18), expected);
  CraftedFile tracked(two_key_file().change_tracking(0, 0, 0, 1));
  ASSERT_TRUE(tracked.ok()) << tracked.status();
  EXPECT_EQ(std::string(summary_text(tracked).text + 29, 2), "02");  // tracking key not counted
  tracked.fc()->free_list.record_count = 1000000000;
  ASSERT_EQ(file_summary_record(tracked.fc(), record, tracked.ctl()), 0);
  EXPECT_EQ(std::vector<uint8_t>(record + 12, record + 17), std::vector<uint8_t>({0, 0, 0, 0, 2}));
}

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

TEST(KeyParamRecord, FieldsByteByByte) {
  IsamBuilder b;
  b.record_length(100).add_key(KeySpec::alpha("PRIMARY", 0, 4));
  KeySpec k;
  k.name = "SEGS   ";  // trailing blanks are removed
  k.flags = 0x04 | 0x08;
  k.segments = {SegmentSpec{0x21, 10, 6}, SegmentSpec{0x04, 40, 4}};
  b.add_key(k);
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
