// The text answers of the file information query ("string", dates,
// "putnote", the text capacity) and the two file summaries of the channel.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "ismgr/isam/file_query.h"
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

TEST(FileQueryString, AutokeysAndUnknownTypes) {
  IsamBuilder b;
  KeySpec k;
  k.name = "SEQ";
  k.segments = {SegmentSpec{0x21, 0, 4}, SegmentSpec{0x21, 4, 4}};
  CraftedFile f(b.record_length(100).add_key(k));
  ASSERT_TRUE(f.ok());
  KeyDescriptor& key = f.fc()->keys[0];
  key.autokey_flags = 0x02;  // every segment alpha: no type part
  EXPECT_EQ(ask(f, "string").text, "start=1:5, length=4:4, name=SEQ");
  key.seg_type[1] = 0x28;  // the autokey letter for every segment
  EXPECT_EQ(ask(f, "string").text, "start=1:5, length=4:4, name=SEQ, type=S:S");
  key.autokey_flags = 0x06;
  EXPECT_EQ(ask(f, "string").status, kStatusIndexIncongruity);
  key.autokey_flags = 0;
  key.seg_type[1] = 0x3F;
  DetailCapture d;
  EXPECT_EQ(ask(f, "string").status, kStatusIndexIncongruity);
  EXPECT_TRUE(d.has(kDetailMessage, "Key Type could not be found.")) << d.dump();
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
  f.fc()->header.magic = 0;  // not a control block
  s = summary_text(f);
  EXPECT_EQ(s.rc, -2);
  EXPECT_EQ(s.text[0], '#');
  uint8_t record[32] = {};
  EXPECT_EQ(file_summary_record(f.fc(), record, f.ctl()), -2);
  EXPECT_EQ(file_summary_text(nullptr, s.text, f.ctl()), -2);
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

}  // namespace
}  // namespace ismgr
