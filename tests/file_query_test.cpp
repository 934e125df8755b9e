// The file information query by keyword, the channel's own "filename"
// answer and the two file summaries, over crafted files opened through the
// channel layer.
#include "ismgr/isam/file_query.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ismgr/channel/channel.h"
#include "ismgr/runtime/info_keywords.h"
#include "ismgr/runtime/keyword.h"
#include "ismgr/runtime/status.h"
#include "support/data_rows.h"
#include "support/detail_capture.h"
#include "support/query_fixture.h"

namespace ismgr {
namespace {

using namespace testing;
using testing_support::DetailCapture;

TEST(FileInfoKeywordTest, CaseAbbreviationsTheIgnoredNoAndUnknowns) {
  const std::map<std::string, int> index = {
      {"numkeys", kInfoNumkeys}, {"null", kInfoNull}, {"nullvalue", kInfoNullvalue}, {"-1", -1}};
  EXPECT_EQ(lookup_file_info_keyword(""), -1);
  for (const auto& r : test::data_rows("lookups.tsv")) {
    EXPECT_TRUE(r[0] != "info" || lookup_file_info_keyword(r[1]) == index.at(r[2])) << r.where;
  }
}

// The items of tests/data/file_query_items.tsv.
TEST(FileQueryTest, ItemsTable) {
  std::unique_ptr<CraftedFile> files[5];
  files[0] = std::make_unique<CraftedFile>(two_key_file().file_flags(0x80).file_flags2(0x400));
  files[1] = std::make_unique<CraftedFile>(two_key_file().revision(5).page_units(8));
  files[2] = std::make_unique<CraftedFile>(two_key_file().tbyte().change_tracking(1, 1, 0, 1));
  KeySpec k = KeySpec::alpha("TYPES", 0, 2);
  for (uint8_t type : {0x22, 0x24, 0x28, 0x30})
    k.segments.push_back(SegmentSpec{type, uint16_t(k.segments.size() * 2), 2});
  IsamBuilder types, names;
  files[3] = std::make_unique<CraftedFile>(types.record_length(100).add_key(k));
  names.record_length(100).add_key(KeySpec::alpha("CUSTNO", 0, 4));
  names.add_key(KeySpec::alpha("ABCDEFGHIJKLMNOP", 4, 4))
      .add_key(KeySpec::alpha("PADDED    ", 8, 4));
  files[4] = std::make_unique<CraftedFile>(names.add_key(KeySpec::alpha("", 12, 4)));
  for (auto& f : files) ASSERT_TRUE(f->ok()) << f->status();
  EXPECT_EQ(files[2]->fc()->keys[0].key_size, 14);  // tbyte: 4-byte qualifier
  for (const auto& r : test::data_rows("file_query_items.tsv")) {
    const Answer a = ask(*files[r.number(0)], r[1].c_str(), r.number(2), r.number(3));
    EXPECT_EQ(a.status, r.number(6)) << r.where;
    EXPECT_EQ(a.rc, r.number(6) ? -1 : 0) << r.where;
    EXPECT_TRUE(r[4] == "*" || a.number == (r[4] == "-" ? kUntouched : r.number(4))) << r.where;
    EXPECT_TRUE(r[5] == "~" ? !a.text_written : a.text == r[5]) << r.where << " " << a.text;
  }
}

TEST(FileQueryTest, RefusalsTellTheirDetails) {
  CraftedFile f(two_key_file());
  ASSERT_TRUE(f.ok());
  DetailCapture d;
  // The details of one refused query as "code:text:value;" (codes only if asked).
  auto details = [&](const char* keyword, int key, int segment, bool number = true,
                     bool text = true, bool codes_only = false) {
    d.clear();
    EXPECT_EQ(ask(f, keyword, key, segment, number, text).rc, -1) << keyword;
    std::string all;
    for (const auto& x : d.details()) {
      all += std::to_string(x.code) + (codes_only ? ";" : ":" + x.text + ":" + x.value + ";");
    }
    return all;
  };
  const std::string message = std::to_string(kDetailMessage);
  EXPECT_EQ(details("size", 1000, 0),
            message + ":FQUERY: Invalid key number specified:0;1191::1000;1192::1;");
  // The limit told for a bad segment is the key's last segment number.
  EXPECT_EQ(details("size", 0, 1),
            message + ":FQUERY: Invalid segment specified:0;1191::1;1192::0;");
  EXPECT_EQ(details("seglength", 1, -1),
            message + ":FQUERY: Invalid segment specified:0;1191::-1;1192::2;");
  EXPECT_EQ(ask(f, "seglength", 1, 2).number, 2);  // the last segment is in range
  details("size", 0, 0, false, true);              // no number result
  EXPECT_TRUE(d.has(1226, "")) << d.dump();
  EXPECT_EQ(ask(f, "keyname", 0, 0, true, false).status, kStatusMissingParameter);
  EXPECT_EQ(details("keyname", 0, 0, true, false, true), "1227;");
  EXPECT_EQ(details("fopts", 0, 0, false, false, true), "1227;1226;");
  EXPECT_EQ(ask(f, "init_all", 0, 0, false, false).rc, 0);
  int32_t number = kUntouched;
  char text[64] = "x";  // the driver slot itself refuses "filename"
  EXPECT_EQ(file_query(f.fc(), &number, text, sizeof text, "filename", 0, 0, f.ctl()), -1);
  EXPECT_EQ(f.code(), kStatusInvalidOption);
  EXPECT_STREQ(text, "x");
  EXPECT_EQ(channel_file_info(nullptr, &number, text, sizeof text, "size", 0, 0), -2);
  EXPECT_EQ(channel_file_info(nullptr, &number, text, sizeof text, "filename", 0, 0), -2);
}

TEST(FileQueryTest, FoptsNumberAndTextForEachLayout) {
  for (const auto& r : test::data_rows("fopts.tsv")) {
    IsamBuilder b = one_key(r.number(0));
    std::istringstream in(r[1]);
    for (std::string word; in >> word;) {
      const std::string value = word.substr(word.find('=') + 1);
      const unsigned hex = std::strtoul(value.c_str(), nullptr, 16), n = std::atoi(value.c_str());
      if (word.starts_with("flags=")) b.file_flags(static_cast<uint8_t>(hex));
      if (word.starts_with("flags2=")) b.file_flags2(hex);
      if (word.starts_with("page=")) b.page_units(static_cast<uint8_t>(n));
      if (word.starts_with("patched=")) b.patched_from(n);
      if (word == "tbyte") b.tbyte();
      if (word == "tracking") b.change_tracking(0, 0, 0, 1);
      if (word.starts_with("i=")) {
        unsigned at = 0, length = 0, kind = 4;
        std::sscanf(value.c_str(), "%u:%u:%u", &at, &length, &kind);
        b.port_int(static_cast<uint16_t>(at), static_cast<uint8_t>(length),
                   static_cast<uint8_t>(kind));
      }
    }
    CraftedFile f(b);
    ASSERT_TRUE(f.ok()) << r.where << " status " << f.status();
    const Answer a = ask(f, "fopts");
    EXPECT_EQ(a.rc, 0) << r.where;
    EXPECT_EQ(a.number, r.number(2)) << r.where;
    EXPECT_EQ(a.text, r[3]) << r.where;
  }
  CraftedFile f(one_key(5).file_flags(0x04));  // either result alone
  EXPECT_EQ(ask(f, "fopts", 0, 0, true, false).number, 4);
  EXPECT_EQ(ask(f, "fopts", 0, 0, false, true).text, "FIXED, COMPRESS");
}

TEST(FileQueryTest, KtypeOfAutokeysNullRulesAndUnknownTypes) {
  CraftedFile f(one_key(6));
  ASSERT_TRUE(f.ok());
  KeyDescriptor& k = f.fc()->keys[0];
  DetailCapture d;
  const std::pair<uint8_t, const char*> autokeys[] = {
      {0x01, "T"}, {0x02, "S"}, {0x04, "G"}, {0x20, "K"}, {0x22, "S"}};
  for (const auto& [flags, letter] : autokeys) {
    k.autokey_flags = flags;
    EXPECT_EQ(ask(f, "ktype").text, letter) << int(flags);
  }
  k.autokey_flags = 0x03;  // two autokey kinds at once
  EXPECT_EQ(ask(f, "ktype").status, kStatusIndexIncongruity);
  EXPECT_TRUE(d.has(kDetailMessage, "Autokey type could not be found")) << d.dump();
  k.autokey_flags = 0;
  k.seg_type[0] = 0x23;  // type code 3 is none of the five
  EXPECT_EQ(ask(f, "ktype").status, kStatusIndexIncongruity);
  EXPECT_TRUE(d.has(kDetailMessage, "Key Type could not be found")) << d.dump();
  k.seg_type[0] = 0x21;
  const std::pair<uint8_t, const char*> nulls[] = {{0x00, "NONE"},        {0x10, "REPLICATE"},
                                                   {0x20, "NOREPLICATE"}, {0x40, "SHORT"},
                                                   {0x30, "REPLICATE"},   {0x60, "NOREPLICATE"}};
  for (const auto& [flags, name] : nulls) {
    k.key_flags = flags;
    EXPECT_EQ(ask(f, "null").text, name) << int(flags);
  }
}

TEST(FileQueryTest, NullvalueOfEveryTypeAndOrder) {
  for (const auto& r : test::data_rows("null_value_texts.tsv")) {
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(std::stoul(r[i], nullptr, 16)); };
    CraftedFile f(null_key_file(byte(1), byte(2), test::data_bytes(r[3])));
    ASSERT_TRUE(f.ok()) << r.where << " status " << f.status();
    const std::vector<uint8_t> before = f.fc()->null_area.bytes;
    const Answer a = ask(f, "nullvalue");
    EXPECT_EQ(a.status, 0) << r.where;
    EXPECT_EQ(a.text, r[4]) << r.where;
    EXPECT_EQ(ask(f, "nullvalue").text, r[4]) << r.where << ": asked twice";
    EXPECT_EQ(f.fc()->null_area.bytes, before) << r.where;
  }
}

TEST(FileQueryTest, NullvalueRefusals) {
  DetailCapture d;
  for (uint8_t type : {uint8_t{0x24}, uint8_t{0x28}}) {  // a 3-byte binary number
    CraftedFile f(null_key_file(0x20, type, {1, 2, 3}));
    ASSERT_TRUE(f.ok());
    d.clear();
    const Answer a = ask(f, "nullvalue");
    EXPECT_EQ(a.status, kStatusInvalidNull);
    EXPECT_FALSE(a.text_written);
    EXPECT_TRUE(d.has(kDetailMessage, "NULLVALUE is invalid.")) << d.dump();
    EXPECT_TRUE(d.has(kDetailMessage, "Possible corrupt isam file.")) << d.dump();
  }
  CraftedFile f(null_key_file(0x20, 0x21, {'A', 'B'}));  // outside the area: not read past
  f.fc()->keys[0].null_offset = 60000;
  EXPECT_EQ(ask(f, "nullvalue").status, kStatusInvalidNull);
  f.fc()->keys[0].null_offset = 0;
  f.fc()->null_area.bytes[0] = 250;
  EXPECT_EQ(ask(f, "nullvalue").status, kStatusInvalidNull);
  f.fc()->null_area.bytes[0] = 3;
  EXPECT_EQ(ask(f, "nullvalue").text, "AB");
}

}  // namespace
}  // namespace ismgr
