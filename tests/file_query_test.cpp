// The file information query by keyword, the channel's own "filename"
// answer and the two file summaries, over crafted files opened through the
// channel layer.
#include "ismgr/isam/file_query.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "ismgr/runtime/channel.h"
#include "ismgr/runtime/info_keywords.h"
#include "ismgr/runtime/keyword.h"
#include "ismgr/runtime/status.h"
#include "support/detail_capture.h"
#include "support/isam_builder.h"
#include "support/open_crafted.h"

namespace ismgr {
namespace {

using testing::CraftedFile;
using testing::IsamBuilder;
using testing::KeySpec;
using testing::SegmentSpec;
using testing_support::DetailCapture;

constexpr int32_t kUntouched = -12345;

struct Answer {
  int64_t rc = 0;
  int32_t number = kUntouched;
  std::string text;
  bool text_written = false;
  int status = -1;
};

struct Ask {
  int key = 0;
  int segment = 0;
  bool number = true;
  bool text = true;
  int32_t capacity = 256;
};

// Asks the query through the channel; the text buffer starts as "#" so an
// answer that writes nothing shows.
Answer ask(const CraftedFile& f, const char* keyword, Ask a = {}) {
  Answer r;
  char buffer[300];
  std::memset(buffer, '#', sizeof buffer);
  buffer[sizeof buffer - 1] = '\0';
  f.ctl()->status->code = -7;
  r.rc = channel_file_info(f.ch(), a.number ? &r.number : nullptr, a.text ? buffer : nullptr,
                           a.capacity, keyword, a.key, a.segment);
  r.status = f.ctl()->status->code;
  r.text_written = buffer[0] != '#';
  r.text = buffer;
  return r;
}

Answer ask_at(const CraftedFile& f, const char* keyword, int key, int segment = 0) {
  Ask a;
  a.key = key;
  a.segment = segment;
  return ask(f, keyword, a);
}

// A revision-6 file with two keys: CUSTNO (duplicates at the end,
// modifiable, density 80) and a three-segment key of mixed types and order.
IsamBuilder two_key_file() {
  IsamBuilder b;
  b.revision(6).record_length(120).record_overhead(5);
  KeySpec custno = KeySpec::alpha("CUSTNO", 4, 10, 0x04 | 0x02 | 0x08);
  custno.density = 80;
  custno.depth = 3;
  b.add_key(custno);
  KeySpec multi;
  multi.name = "MULTI";
  multi.segments = {SegmentSpec{0x21, 20, 6}, SegmentSpec{0x04, 30, 4}, SegmentSpec{0x28, 40, 2}};
  multi.depth = 2;
  b.add_key(multi);
  b.counts(77, 1, 3, 0);
  return b;
}

// ---------------------------------------------------------------------------
// Keyword lookup.
// ---------------------------------------------------------------------------
TEST(FileInfoKeywordTest, CaseAbbreviationsAndTheIgnoredNo) {
  EXPECT_EQ(lookup_file_info_keyword("NUMKEYS"), kInfoNumkeys);
  EXPECT_EQ(lookup_file_info_keyword("numk"), kInfoNumkeys);
  EXPECT_EQ(lookup_file_info_keyword("numr"), kInfoNumrecs);
  EXPECT_EQ(lookup_file_info_keyword("NoNumKeys"), kInfoNumkeys);
  EXPECT_EQ(lookup_file_info_keyword("nosize"), kInfoSize);
  // An exact match wins over the longer keyword it begins.
  EXPECT_EQ(lookup_file_info_keyword("null"), kInfoNull);
  EXPECT_EQ(lookup_file_info_keyword("nullv"), kInfoNullvalue);
  EXPECT_EQ(lookup_file_info_keyword("nonull"), kInfoNull);
}

TEST(FileInfoKeywordTest, AmbiguousEmptyAndOverlongKeywordsAreUnknown) {
  EXPECT_EQ(lookup_file_info_keyword("num"), -1);
  EXPECT_EQ(lookup_file_info_keyword("key"), -1);
  EXPECT_EQ(lookup_file_info_keyword(""), -1);
  EXPECT_EQ(lookup_file_info_keyword("no"), -1);  // nothing left: every entry
  EXPECT_EQ(lookup_file_info_keyword("sizes"), -1);
  EXPECT_EQ(lookup_file_info_keyword(std::string(81, 's')), -1);
  // A one-letter "n" is not stripped, and several keywords begin with it.
  EXPECT_EQ(lookup_file_info_keyword("n"), -1);
}

class FileQueryTest : public ::testing::Test {
 protected:
  DetailCapture details_;
};

TEST_F(FileQueryTest, UnknownKeywordsFailWithInvalidOption) {
  CraftedFile f(two_key_file());
  ASSERT_TRUE(f.ok()) << f.status();
  EXPECT_EQ(ask(f, "nonumkeys").number, 2);
  for (const char* word : {"num", "key", "", "bogus"}) {
    details_.clear();
    Answer a = ask(f, word);
    EXPECT_EQ(a.rc, -1) << word;
    EXPECT_EQ(a.status, kStatusInvalidOption) << word;
    EXPECT_EQ(a.number, kUntouched) << word;
    EXPECT_FALSE(a.text_written) << word;
    EXPECT_TRUE(details_.has(kDetailMessage, "Invalid FQUERY option")) << details_.dump();
    EXPECT_TRUE(details_.has(kDetailInvalidOption, word)) << details_.dump();
  }
}

TEST_F(FileQueryTest, TheDriverSlotRefusesFilename) {
  CraftedFile f(two_key_file());
  ASSERT_TRUE(f.ok());
  int32_t number = kUntouched;
  char text[64] = "x";
  EXPECT_EQ(file_query(f.fc(), &number, text, sizeof text, "filename", 0, 0, f.ctl()), -1);
  EXPECT_EQ(f.code(), kStatusInvalidOption);
  EXPECT_STREQ(text, "x");
}

// ---------------------------------------------------------------------------
// Key and segment range checks, and missing results.
// ---------------------------------------------------------------------------
TEST_F(FileQueryTest, KeyOutOfRangeFailsWithIllegalKeyAndItsDetails) {
  CraftedFile f(two_key_file());
  ASSERT_TRUE(f.ok());
  for (int key : {-1, 2, 1000}) {
    details_.clear();
    Answer a = ask_at(f, "size", key);
    EXPECT_EQ(a.rc, -1);
    EXPECT_EQ(a.status, kStatusIllegalKey);
    EXPECT_EQ(a.number, kUntouched);
    ASSERT_EQ(details_.details().size(), 3u) << details_.dump();
    EXPECT_EQ(details_.details()[0].code, kDetailMessage);
    EXPECT_EQ(details_.details()[0].text, "FQUERY: Invalid key number specified");
    EXPECT_EQ(details_.details()[1].code, 1191);
    EXPECT_EQ(details_.details()[1].value, std::to_string(key));
    EXPECT_EQ(details_.details()[2].code, 1192);
    EXPECT_EQ(details_.details()[2].value, "1");
  }
  // The key is checked before the keyword.
  EXPECT_EQ(ask_at(f, "bogus", 5).status, kStatusIllegalKey);
}

TEST_F(FileQueryTest, SegmentOutOfRangeFailsForEveryItem) {
  CraftedFile f(two_key_file());
  ASSERT_TRUE(f.ok());
  Answer a = ask_at(f, "size", 0, 1);  // a file-level item on a one-segment key
  EXPECT_EQ(a.rc, -1);
  EXPECT_EQ(a.status, kStatusSegmentRange);
  ASSERT_EQ(details_.details().size(), 3u) << details_.dump();
  EXPECT_EQ(details_.details()[0].text, "FQUERY: Invalid segment specified");
  EXPECT_EQ(details_.details()[1].code, 1191);
  EXPECT_EQ(details_.details()[1].value, "1");
  EXPECT_EQ(details_.details()[2].code, 1192);
  EXPECT_EQ(details_.details()[2].value, "0");
  EXPECT_EQ(ask_at(f, "size", 0, -1).status, kStatusSegmentRange);
  EXPECT_EQ(ask_at(f, "seglength", 1, 3).status, kStatusSegmentRange);
  // The last segment of the three-segment key is in range.
  Answer last = ask_at(f, "seglength", 1, 2);
  EXPECT_EQ(last.rc, 0);
  EXPECT_EQ(last.number, 2);
  EXPECT_EQ(last.status, 0);  // cleared after the failures before it
}

TEST_F(FileQueryTest, MissingResultsFailWithMissingParameter) {
  CraftedFile f(two_key_file());
  ASSERT_TRUE(f.ok());
  Ask no_number;
  no_number.number = false;
  Answer a = ask(f, "size", no_number);
  EXPECT_EQ(a.rc, -1);
  EXPECT_EQ(a.status, kStatusMissingParameter);
  EXPECT_TRUE(details_.has(1226, "")) << details_.dump();

  details_.clear();
  Ask no_text;
  no_text.text = false;
  a = ask(f, "keyname", no_text);
  EXPECT_EQ(a.rc, -1);
  EXPECT_EQ(a.status, kStatusMissingParameter);
  EXPECT_EQ(a.number, kUntouched);
  ASSERT_EQ(details_.details().size(), 1u);
  EXPECT_EQ(details_.details()[0].code, 1227);

  details_.clear();
  Ask neither;
  neither.number = false;
  neither.text = false;
  a = ask(f, "fopts", neither);
  EXPECT_EQ(a.status, kStatusMissingParameter);
  ASSERT_EQ(details_.details().size(), 2u) << details_.dump();
  EXPECT_EQ(details_.details()[0].code, 1227);
  EXPECT_EQ(details_.details()[1].code, 1226);
}

TEST_F(FileQueryTest, InitAllDoesNothingAndGivesAnEmptyText) {
  CraftedFile f(two_key_file());
  ASSERT_TRUE(f.ok());
  Answer a = ask(f, "init_all");
  EXPECT_EQ(a.rc, 0);
  EXPECT_EQ(a.number, kUntouched);
  EXPECT_EQ(a.text, "");
  Ask bare;
  bare.number = false;
  bare.text = false;
  EXPECT_EQ(ask(f, "init_all", bare).rc, 0);
}

// ---------------------------------------------------------------------------
// Number items.
// ---------------------------------------------------------------------------
TEST_F(FileQueryTest, FileLevelNumbers) {
  IsamBuilder b = two_key_file();
  b.file_flags(0x80).file_flags2(0x400);
  CraftedFile f(b);
  ASSERT_TRUE(f.ok()) << f.status();
  EXPECT_EQ(ask(f, "size").number, 120);
  EXPECT_EQ(ask(f, "numrecs").number, 77);
  EXPECT_EQ(ask(f, "numkeys").number, 2);
  EXPECT_EQ(ask(f, "revision").number, 6);
  EXPECT_EQ(ask(f, "pagesize").number, 4096);
  EXPECT_EQ(ask(f, "netcrypt").number, 1);
  EXPECT_EQ(ask(f, "rovh").number, 5);
  EXPECT_EQ(ask(f, "sgrfa").number, 1);
  // A number item leaves a given text buffer empty.
  EXPECT_EQ(ask(f, "size").text, "");
}

TEST_F(FileQueryTest, FileLevelFlagsAreZeroWhenClear) {
  IsamBuilder b = two_key_file();
  b.revision(5).page_units(8);
  CraftedFile f(b);
  ASSERT_TRUE(f.ok()) << f.status();
  EXPECT_EQ(ask(f, "netcrypt").number, 0);
  EXPECT_EQ(ask(f, "sgrfa").number, 0);
  EXPECT_EQ(ask(f, "revision").number, 5);
  EXPECT_EQ(ask(f, "pagesize").number, 2048);
}

TEST_F(FileQueryTest, KeyLevelNumbers) {
  CraftedFile f(two_key_file());
  ASSERT_TRUE(f.ok());
  EXPECT_EQ(ask_at(f, "kposition", 0).number, 5);
  EXPECT_EQ(ask_at(f, "keylength", 0).number, 10);  // key_size 13 less the qualifier
  EXPECT_EQ(ask_at(f, "keysegments", 0).number, 1);
  EXPECT_EQ(ask_at(f, "keydensity", 0).number, 80);
  EXPECT_EQ(ask_at(f, "dups", 0).number, 1);
  EXPECT_EQ(ask_at(f, "modify", 0).number, 1);
  EXPECT_EQ(ask_at(f, "atend", 0).number, 1);
  EXPECT_EQ(ask_at(f, "ascend", 0).number, 1);
  EXPECT_EQ(ask_at(f, "keydepth", 0).number, 3);

  EXPECT_EQ(ask_at(f, "keylength", 1).number, 12);
  EXPECT_EQ(ask_at(f, "keysegments", 1).number, 3);
  EXPECT_EQ(ask_at(f, "keydensity", 1).number, 0);
  EXPECT_EQ(ask_at(f, "dups", 1).number, 0);
  EXPECT_EQ(ask_at(f, "modify", 1).number, 0);
  EXPECT_EQ(ask_at(f, "atend", 1).number, 0);
  EXPECT_EQ(ask_at(f, "keydepth", 1).number, 2);
  // Per segment.
  EXPECT_EQ(ask_at(f, "kposition", 1, 0).number, 21);
  EXPECT_EQ(ask_at(f, "kposition", 1, 1).number, 31);
  EXPECT_EQ(ask_at(f, "kposition", 1, 2).number, 41);
  EXPECT_EQ(ask_at(f, "seglength", 1, 1).number, 4);
  EXPECT_EQ(ask_at(f, "ascend", 1, 0).number, 1);
  EXPECT_EQ(ask_at(f, "ascend", 1, 1).number, 0);
  EXPECT_EQ(ask_at(f, "ascend", 1, 2).number, 1);
}

TEST_F(FileQueryTest, TbyteQualifierAndChangeTrackingKeyCount) {
  IsamBuilder b = two_key_file();
  b.tbyte().change_tracking(1, 1, 0, 1700000000);
  CraftedFile f(b);
  ASSERT_TRUE(f.ok()) << f.status();
  EXPECT_EQ(ask_at(f, "keylength", 0).number, 10);  // key_size 14 less 4
  EXPECT_EQ(f.fc()->keys[0].key_size, 14);
  EXPECT_EQ(ask(f, "numkeys").number, 2);  // the tracking key is not counted
  // The tracking key itself can still be asked about.
  EXPECT_EQ(ask_at(f, "keyname", 2).text, "Change Tracking");
}

// ---------------------------------------------------------------------------
// "fopts".
// ---------------------------------------------------------------------------
struct FoptsCase {
  const char* name;
  IsamBuilder builder;
  int32_t number;
  const char* text;
};

IsamBuilder one_key(int revision) {
  IsamBuilder b;
  b.revision(revision).record_length(100).add_key(KeySpec::alpha("K", 0, 10));
  return b;
}

TEST_F(FileQueryTest, FoptsNumberAndTextForEachLayout) {
  std::vector<FoptsCase> cases;
  cases.push_back({"fixed compressed rev5", one_key(5).file_flags(0x04), 4, "FIXED, COMPRESS"});
  cases.push_back({"rev4 2048 small keys", one_key(4).page_units(8), 0, "FIXED, PAGE=2048"});
  cases.push_back(
      {"rev4 2048 large keys", one_key(4).page_units(8).max_key_size_override(80), 0, "FIXED"});
  cases.push_back({"rev4 1024 small keys", one_key(4).page_units(4), 0, "FIXED"});
  cases.push_back({"rev6 4096", one_key(6), 0, "FIXED"});
  cases.push_back({"rev6 1024", one_key(6).page_units(4), 0, "FIXED, PAGE=1024"});
  cases.push_back({"patched 1024", one_key(6).patched_from(5).page_units(4), 0, "FIXED"});
  cases.push_back({"multiple", one_key(6).file_flags(0x03), 3, "MULTIPLE"});
  cases.push_back({"variable", one_key(6).file_flags(0x02), 2, "VARIABLE"});
  cases.push_back({"static rfa rev5", one_key(5).file_flags(0x08), 8, "FIXED, STATIC_RFA"});
  // Revision 6 unpatched: the bit counts, the text leaves it out.
  cases.push_back({"static rfa rev6", one_key(6).file_flags(0x08), 8, "FIXED"});
  cases.push_back({"tbyte rev5", one_key(5).tbyte(), 0x40, "FIXED, TBYTE"});
  cases.push_back({"tbyte rev6", one_key(6).tbyte(), 0, "FIXED, TBYTE"});
  cases.push_back(
      {"tracking", one_key(6).tbyte().change_tracking(0, 0, 0, 1), 0x200, "FIXED, TRACK_CHANGES"});
  cases.push_back({"grfa", one_key(6).file_flags2(0x400), 0, "FIXED, STORED_GRFA"});
  cases.push_back(
      {"port ints", one_key(6).port_int(10, 4).port_int(20, 2, 1), 0, "FIXED, I=10:4, I=20:2"});
  cases.push_back({"everything in order",
                   one_key(6)
                       .patched_from(5)
                       .file_flags(0x02 | 0x04 | 0x08)
                       .tbyte()
                       .file_flags2(0x400)
                       .port_int(30, 8),
                   0x4E, "VARIABLE, COMPRESS, STATIC_RFA, TBYTE, STORED_GRFA, I=30:8"});
  cases.push_back({"page after port ints", one_key(6).page_units(8).port_int(12, 2), 0,
                   "FIXED, I=12:2, PAGE=2048"});
  for (const FoptsCase& c : cases) {
    CraftedFile f(c.builder);
    ASSERT_TRUE(f.ok()) << c.name << " status " << f.status();
    Answer a = ask(f, "fopts");
    EXPECT_EQ(a.rc, 0) << c.name;
    EXPECT_EQ(a.number, c.number) << c.name;
    EXPECT_EQ(a.text, c.text) << c.name;
  }
}

TEST_F(FileQueryTest, FoptsWithOnlyOneResult) {
  CraftedFile f(one_key(5).file_flags(0x04));
  ASSERT_TRUE(f.ok());
  Ask number_only;
  number_only.text = false;
  Answer a = ask(f, "fopts", number_only);
  EXPECT_EQ(a.rc, 0);
  EXPECT_EQ(a.number, 4);
  Ask text_only;
  text_only.number = false;
  a = ask(f, "fopts", text_only);
  EXPECT_EQ(a.rc, 0);
  EXPECT_EQ(a.text, "FIXED, COMPRESS");
}

// ---------------------------------------------------------------------------
// "ktype", "null", "keyname".
// ---------------------------------------------------------------------------
TEST_F(FileQueryTest, KtypeLettersBySegmentType) {
  IsamBuilder b;
  b.record_length(100);
  KeySpec k;
  k.name = "TYPES";
  k.segments = {SegmentSpec{0x21, 0, 2}, SegmentSpec{0x22, 2, 2}, SegmentSpec{0x24, 4, 2},
                SegmentSpec{0x28, 6, 2}, SegmentSpec{0x30, 8, 2}};
  b.add_key(k);
  CraftedFile f(b);
  ASSERT_TRUE(f.ok()) << f.status();
  const char* letters[] = {"A", "D", "I", "U", "N"};
  for (int s = 0; s < 5; ++s) {
    Answer a = ask_at(f, "ktype", 0, s);
    EXPECT_EQ(a.rc, 0);
    EXPECT_EQ(a.text, letters[s]);
  }
}

TEST_F(FileQueryTest, KtypeOfAutokeysAndUnknownTypes) {
  CraftedFile f(one_key(6));
  ASSERT_TRUE(f.ok());
  KeyDescriptor& k = f.fc()->keys[0];
  const std::pair<uint8_t, const char*> autokeys[] = {
      {0x01, "T"}, {0x02, "S"}, {0x04, "G"}, {0x20, "K"}, {0x22, "S"}};
  for (const auto& [flags, letter] : autokeys) {
    k.autokey_flags = flags;
    EXPECT_EQ(ask(f, "ktype").text, letter) << int(flags);
  }
  k.autokey_flags = 0x03;  // two autokey kinds at once
  Answer a = ask(f, "ktype");
  EXPECT_EQ(a.rc, -1);
  EXPECT_EQ(a.status, kStatusIndexIncongruity);
  EXPECT_TRUE(details_.has(kDetailMessage, "Autokey type could not be found")) << details_.dump();

  k.autokey_flags = 0;
  k.seg_type[0] = 0x23;  // type code 3 is none of the five
  details_.clear();
  a = ask(f, "ktype");
  EXPECT_EQ(a.rc, -1);
  EXPECT_EQ(a.status, kStatusIndexIncongruity);
  EXPECT_TRUE(details_.has(kDetailMessage, "Key Type could not be found")) << details_.dump();
  k.seg_type[0] = 0x21;
}

TEST_F(FileQueryTest, NullRuleNames) {
  CraftedFile f(one_key(6));
  ASSERT_TRUE(f.ok());
  KeyDescriptor& k = f.fc()->keys[0];
  const std::pair<uint8_t, const char*> rules[] = {
      {0x00, "NONE"},      {0x10, "REPLICATE"},   {0x20, "NOREPLICATE"}, {0x40, "SHORT"},
      {0x30, "REPLICATE"}, {0x60, "NOREPLICATE"}, {0x04, "NONE"}};
  for (const auto& [flags, name] : rules) {
    k.key_flags = flags;
    EXPECT_EQ(ask(f, "null").text, name) << int(flags);
  }
  k.key_flags = 0;
}

TEST_F(FileQueryTest, KeynameUpToTheFirstNulOrAllSixteen) {
  IsamBuilder b;
  b.record_length(100);
  b.add_key(KeySpec::alpha("CUSTNO", 0, 4));
  b.add_key(KeySpec::alpha("ABCDEFGHIJKLMNOP", 4, 4));
  b.add_key(KeySpec::alpha("PADDED          ", 8, 4));
  b.add_key(KeySpec::alpha("", 12, 4));
  CraftedFile f(b);
  ASSERT_TRUE(f.ok());
  EXPECT_EQ(ask_at(f, "keyname", 0).text, "CUSTNO");
  EXPECT_EQ(ask_at(f, "keyname", 1).text, "ABCDEFGHIJKLMNOP");
  EXPECT_EQ(ask_at(f, "keyname", 2).text, "PADDED          ");
  Answer empty = ask_at(f, "keyname", 3);
  EXPECT_EQ(empty.rc, 0);
  EXPECT_EQ(empty.text, "");
}

// ---------------------------------------------------------------------------
// "nullvalue".
// ---------------------------------------------------------------------------
struct NullCase {
  const char* name;
  uint8_t key_flags;
  uint8_t seg_type;
  std::vector<uint8_t> value;  // the value bytes, without the count byte
  const char* text;
};

// One key of the given type and null rule, its null value at offset 0.
IsamBuilder null_key_file(uint8_t key_flags, uint8_t seg_type, const std::vector<uint8_t>& value) {
  IsamBuilder b;
  b.record_length(100);
  KeySpec k;
  k.name = "NK";
  k.flags = key_flags;
  k.segments = {SegmentSpec{seg_type, 0, 8}};
  k.null_offset = 0;
  b.add_key(k);
  std::vector<uint8_t> area(value.size() + 1);
  area[0] = static_cast<uint8_t>(value.size() + 1);
  for (size_t i = 0; i < value.size(); ++i) area[i + 1] = value[i];
  b.null_values(area);
  return b;
}

TEST_F(FileQueryTest, NullvalueOfEveryTypeAndOrder) {
  const std::vector<NullCase> cases = {
      {"replicating letter", 0x10, 0x21, {'A', 'B'}, "A"},
      {"replicating NUL", 0x10, 0x21, {0}, "\\000"},
      {"replicating high byte", 0x10, 0x24, {200}, "\\310"},
      {"replicating blank", 0x10, 0x21, {' '}, " "},
      {"replicating tilde and DEL", 0x10, 0x21, {127}, "\\177"},
      {"alpha text", 0x20, 0x21, {'X', 'Y', 'Z'}, "XYZ"},
      {"alpha text ends at NUL", 0x20, 0x21, {'X', 0, 'Z'}, "X"},
      {"case-insensitive text", 0x20, 0x30, {'n', 'o'}, "no"},
      {"decimal positive", 0x20, 0x22, {0x71, 0x32, 0x35}, "125"},
      {"decimal positive leading zeros", 0x20, 0x22, {0x40, 0x30, 0x37}, "7"},
      {"decimal negative", 0x20, 0x22, {0x0E, 0x0D, 0x0A}, "-125"},
      {"decimal descending", 0x20, 0x02, {0x8E, 0xCD, 0xCA}, "125"},
      {"integer 4 bytes -1", 0x20, 0x24, {0x7F, 0xFF, 0xFF, 0xFF}, "-1"},
      {"integer 4 bytes 5", 0x20, 0x24, {0x80, 0x00, 0x00, 0x05}, "5"},
      {"integer 4 bytes descending 123", 0x20, 0x04, {0x7F, 0xFF, 0xFF, 0x84}, "123"},
      {"integer 1 byte -1 shown unsigned", 0x20, 0x24, {0x7F}, "255"},
      {"integer 2 bytes", 0x20, 0x24, {0x81, 0x00}, "256"},
      {"integer 8 bytes -2", 0x20, 0x24, {0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}, "-2"},
      {"unsigned 2 bytes", 0x20, 0x28, {0x01, 0x00}, "256"},
      {"unsigned 4 bytes", 0x20, 0x28, {0xFF, 0xFF, 0xFF, 0xFF}, "4294967295"},
      {"unsigned 8 bytes",
       0x20,
       0x28,
       {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
       "18446744073709551615"},
      {"unsigned descending", 0x20, 0x08, {0xFE, 0xFF}, "256"},
  };
  for (const NullCase& c : cases) {
    CraftedFile f(null_key_file(c.key_flags, c.seg_type, c.value));
    ASSERT_TRUE(f.ok()) << c.name << " status " << f.status();
    Answer a = ask(f, "nullvalue");
    EXPECT_EQ(a.rc, 0) << c.name;
    EXPECT_EQ(a.status, 0) << c.name;
    EXPECT_EQ(a.text, c.text) << c.name;
  }
}

TEST_F(FileQueryTest, NullvalueLeavesTheControlBlockAsItWas) {
  CraftedFile f(null_key_file(0x20, 0x04, {0x7F, 0xFF, 0xFF, 0x84}));
  ASSERT_TRUE(f.ok());
  const std::vector<uint8_t> before = f.fc()->null_area.bytes;
  EXPECT_EQ(ask(f, "nullvalue").text, "123");
  EXPECT_EQ(ask(f, "nullvalue").text, "123");
  EXPECT_EQ(f.fc()->null_area.bytes, before);
}

TEST_F(FileQueryTest, NullvalueOfImpossibleLengthIsInvalid) {
  for (uint8_t type : {uint8_t{0x24}, uint8_t{0x28}}) {
    CraftedFile f(null_key_file(0x20, type, {1, 2, 3}));
    ASSERT_TRUE(f.ok());
    details_.clear();
    Answer a = ask(f, "nullvalue");
    EXPECT_EQ(a.rc, -1);
    EXPECT_EQ(a.status, kStatusInvalidNull);
    EXPECT_FALSE(a.text_written);
    EXPECT_TRUE(details_.has(kDetailMessage, "NULLVALUE is invalid.")) << details_.dump();
    EXPECT_TRUE(details_.has(kDetailMessage, "Possible corrupt isam file.")) << details_.dump();
  }
}

TEST_F(FileQueryTest, NullvalueOfKeysWithoutOne) {
  IsamBuilder b;
  b.record_length(100);
  b.add_key(KeySpec::alpha("PLAIN", 0, 4));
  KeySpec short_null = KeySpec::alpha("SHORT", 4, 4, 0x40);
  b.add_key(short_null);
  b.null_values({1});
  CraftedFile f(b);
  ASSERT_TRUE(f.ok()) << f.status();
  for (int key : {0, 1}) {
    details_.clear();
    Answer a = ask_at(f, "nullvalue", key);
    EXPECT_EQ(a.rc, -1);
    EXPECT_EQ(a.status, 80);
    ASSERT_EQ(details_.details().size(), 1u) << details_.dump();
    EXPECT_EQ(details_.details()[0].code, kDetailMessageNumber);
    EXPECT_EQ(details_.details()[0].text, "No null value for key ");
    EXPECT_EQ(details_.details()[0].value, std::to_string(key));
  }
}

TEST_F(FileQueryTest, NullvalueOutsideItsAreaIsInvalidNotReadPast) {
  CraftedFile f(null_key_file(0x20, 0x21, {'A', 'B'}));
  ASSERT_TRUE(f.ok());
  // A damaged offset or count byte points beyond the area.
  f.fc()->keys[0].null_offset = 60000;
  EXPECT_EQ(ask(f, "nullvalue").status, kStatusInvalidNull);
  f.fc()->keys[0].null_offset = 0;
  f.fc()->null_area.bytes[0] = 250;
  EXPECT_EQ(ask(f, "nullvalue").status, kStatusInvalidNull);
  f.fc()->null_area.bytes[0] = 3;
  EXPECT_EQ(ask(f, "nullvalue").text, "AB");
}

// ---------------------------------------------------------------------------
// "string".
// ---------------------------------------------------------------------------
TEST_F(FileQueryTest, StringOfAnAlphaKeyWithDuplicatesAtTheEnd) {
  IsamBuilder b;
  b.record_length(100).add_key(KeySpec::alpha("CUSTNO", 0, 8, 0x04 | 0x02));
  CraftedFile f(b);
  ASSERT_TRUE(f.ok());
  EXPECT_EQ(ask(f, "string").text, "start=1, length=8, name=CUSTNO, dups, atend");
}

TEST_F(FileQueryTest, StringOfASegmentedKeyOfMixedTypes) {
  IsamBuilder b;
  b.record_length(100);
  KeySpec k;
  k.name = "MULTI";
  k.flags = 0x08 | 0x04 | 0x20;
  k.density = 75;
  k.segments = {SegmentSpec{0x21, 0, 10}, SegmentSpec{0x04, 10, 4}, SegmentSpec{0x28, 20, 2}};
  k.null_offset = 0;
  b.add_key(k);
  b.null_values({3, 'Q', 'R'});
  CraftedFile f(b);
  ASSERT_TRUE(f.ok()) << f.status();
  const std::string common =
      "start=1:11:21, length=10:4:2, name=MULTI, type=A:I:U, density=75, dups, modify";
  EXPECT_EQ(ask_at(f, "string", 0, 0).text, common + ", null=noreplicate, value_null=QR");
  // "noascend" follows the segment asked about.
  EXPECT_EQ(ask_at(f, "string", 0, 1).text, common + ", noascend, null=noreplicate, value_null=QR");
}

TEST_F(FileQueryTest, StringTypesNamesAndNullValues) {
  IsamBuilder b;
  b.record_length(100);
  KeySpec nocase = KeySpec::alpha("ABCDEFGHIJKLMNO", 0, 4, 0x10);  // 15 characters
  nocase.segments[0].type = 0x30;
  nocase.null_offset = 0;
  b.add_key(nocase);
  b.add_key(KeySpec::alpha("              ", 4, 4));  // blanks only
  b.add_key(KeySpec::alpha("PAD   ", 8, 4));
  KeySpec desc = KeySpec::alpha("D", 12, 3, 0x20);
  desc.segments[0].type = 0x02;  // descending decimal
  desc.null_offset = 2;
  b.add_key(desc);
  b.null_values({2, '*', 4, 0x8E, 0xCD, 0xCA});
  CraftedFile f(b);
  ASSERT_TRUE(f.ok()) << f.status();
  EXPECT_EQ(ask_at(f, "string", 0).text,
            "start=1, length=4, name=ABCDEFGHIJKLMN, type=N, null=replicate, value_null=*");
  EXPECT_EQ(ask_at(f, "string", 1).text, "start=5, length=4");
  EXPECT_EQ(ask_at(f, "string", 2).text, "start=9, length=4, name=PAD");
  EXPECT_EQ(ask_at(f, "string", 3).text,
            "start=13, length=3, name=D, type=D, noascend, null=noreplicate, value_null=125");
}

TEST_F(FileQueryTest, StringOfAnAutokeyUsesItsLetterForEverySegment) {
  IsamBuilder b;
  b.record_length(100);
  KeySpec k;
  k.name = "SEQ";
  k.segments = {SegmentSpec{0x21, 0, 4}, SegmentSpec{0x21, 4, 4}};
  b.add_key(k);
  CraftedFile f(b);
  ASSERT_TRUE(f.ok());
  f.fc()->keys[0].autokey_flags = 0x02;
  // Every segment is of alpha type: the type part is left out.
  EXPECT_EQ(ask(f, "string").text, "start=1:5, length=4:4, name=SEQ");
  f.fc()->keys[0].seg_type[1] = 0x28;
  EXPECT_EQ(ask(f, "string").text, "start=1:5, length=4:4, name=SEQ, type=S:S");
  f.fc()->keys[0].autokey_flags = 0x06;
  Answer a = ask(f, "string");
  EXPECT_EQ(a.rc, -1);
  EXPECT_EQ(a.status, kStatusIndexIncongruity);
  f.fc()->keys[0].autokey_flags = 0;
  f.fc()->keys[0].seg_type[1] = 0x3F;
  details_.clear();
  a = ask(f, "string");
  EXPECT_EQ(a.status, kStatusIndexIncongruity);
  EXPECT_TRUE(details_.has(kDetailMessage, "Key Type could not be found.")) << details_.dump();
  f.fc()->keys[0].seg_type[1] = 0x21;
}

TEST_F(FileQueryTest, StringWithAnImpossibleNullValueStopsAfterValueNull) {
  IsamBuilder b = null_key_file(0x20, 0x24, {1, 2, 3});
  CraftedFile f(b);
  ASSERT_TRUE(f.ok());
  Answer a = ask(f, "string");
  EXPECT_EQ(a.rc, 0);
  EXPECT_EQ(a.status, kStatusInvalidNull);
  EXPECT_EQ(a.text, "start=1, length=8, name=NK, type=I, null=noreplicate, value_null=");
  EXPECT_TRUE(details_.has(kDetailMessage, "NULLVALUE is invalid.")) << details_.dump();
}

// ---------------------------------------------------------------------------
// Dates.
// ---------------------------------------------------------------------------
TEST_F(FileQueryTest, DatesAsLocalTimeTextOrNodate) {
  // Only a creation date of zero is the epoch; the other dates say NODATE.
  const struct {
    uint32_t created, cleared, verified, reindexed;
    const char* texts[4];
  } cases[] = {
      {1700000000,
       0,
       86400,
       0,
       {"Tue Nov 14 22:13:20 2023", "NODATE", "Fri Jan 02 00:00:00 1970", "NODATE"}},
      {0,
       1,
       0,
       1700000000,
       {"Thu Jan 01 00:00:00 1970", "Thu Jan 01 00:00:01 1970", "NODATE",
        "Tue Nov 14 22:13:20 2023"}},
  };
  const char* const words[] = {"createdate", "cleardate", "verifydate", "reindexdate"};
  for (const auto& c : cases) {
    CraftedFile f(one_key(6).times(c.created, c.cleared, c.verified, c.reindexed));
    ASSERT_TRUE(f.ok());
    for (int i = 0; i < 4; ++i) EXPECT_EQ(ask(f, words[i]).text, c.texts[i]) << words[i];
  }
}

// ---------------------------------------------------------------------------
// "putnote": the file text read from the data file.
// ---------------------------------------------------------------------------
TEST_F(FileQueryTest, PutnoteReadsTheFileTextInBothForms) {
  const struct {
    IsamBuilder file;
    const char* text;
  } cases[] = {
      {one_key(6).file_text_prefixed("hello text"), "hello text"},
      {one_key(6).patched_from(5).file_text_prefixed("old text"), "old text"},
      {one_key(6).file_text_extension("extension text", 1), "extension text"},
      {one_key(6), ""},
  };
  for (const auto& c : cases) {
    CraftedFile f(c.file);
    ASSERT_TRUE(f.ok()) << c.text << " " << f.status();
    Answer a = ask(f, "putnote");
    EXPECT_EQ(a.rc, 0) << c.text;
    EXPECT_EQ(a.text, c.text);
  }
}

TEST_F(FileQueryTest, PutnoteLongerThanTheWorkBufferAndCutToCapacity) {
  std::string text(3000, 'x');
  text[2999] = 'E';
  CraftedFile f(one_key(6).file_text_extension(text, 4));
  ASSERT_TRUE(f.ok()) << f.status();
  std::vector<char> buffer(4000, '#');
  int32_t number = 0;
  ASSERT_EQ(channel_file_info(f.ch(), &number, buffer.data(), 4000, "putnote", 0, 0), 0);
  EXPECT_EQ(std::string(buffer.data()), text);
  Answer cut = ask(f, "putnote");  // capacity 256
  EXPECT_EQ(cut.text, std::string(255, 'x'));
}

TEST_F(FileQueryTest, PutnoteOfATruncatedDataFileFailsInsteadOfShowingGarbage) {
  CraftedFile f(one_key(6).file_text_extension("extension text", 1));
  ASSERT_TRUE(f.ok()) << f.status();
  const uint64_t location = f.fc()->text_location;
  std::filesystem::resize_file(f.dir().file("cust.is1"), location + 4);
  Answer a = ask(f, "putnote");
  EXPECT_EQ(a.rc, -1);
  EXPECT_EQ(a.status, kStatusReadFailure);
  EXPECT_FALSE(a.text_written);
}

// ---------------------------------------------------------------------------
// The text result's capacity.
// ---------------------------------------------------------------------------
TEST_F(FileQueryTest, TextIsCutToCapacityLessOne) {
  IsamBuilder b;
  b.record_length(100).add_key(KeySpec::alpha("CUSTNO", 0, 8, 0x04 | 0x02));
  CraftedFile f(b);
  ASSERT_TRUE(f.ok());
  char buffer[16];
  std::memset(buffer, '#', sizeof buffer);
  ASSERT_EQ(channel_file_info(f.ch(), nullptr, buffer, 10, "string", 0, 0), 0);
  EXPECT_EQ(std::string(buffer, 10), std::string("start=1, ") + '\0');
  EXPECT_EQ(buffer[10], '#');  // nothing beyond the capacity

  std::memset(buffer, '#', sizeof buffer);
  ASSERT_EQ(channel_file_info(f.ch(), nullptr, buffer, 1, "string", 0, 0), 0);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(buffer[1], '#');
  for (int32_t capacity : {0, -5}) {
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(channel_file_info(f.ch(), nullptr, buffer, capacity, "string", 0, 0), 0);
    EXPECT_EQ(buffer[0], '#') << capacity;
  }
}

// ---------------------------------------------------------------------------
// The channel's own "filename".
// ---------------------------------------------------------------------------
TEST_F(FileQueryTest, FilenameIsAnsweredByTheChannel) {
  CraftedFile f(two_key_file());
  ASSERT_TRUE(f.ok());
  const std::string expected = f.dir().file("cust.ism");
  for (const char* word : {"filename", "FILEN", "fi", "nofilename"}) {
    // Key and segment are not looked at: the driver is not asked.
    Answer a = ask_at(f, word, 99, 99);
    EXPECT_EQ(a.rc, 0) << word;
    EXPECT_EQ(a.text, expected) << word;
    EXPECT_EQ(a.number, kUntouched) << word;
  }
  char small[8];
  std::memset(small, '#', sizeof small);
  EXPECT_EQ(channel_file_info(f.ch(), nullptr, small, 5, "filename", 0, 0), 0);
  EXPECT_EQ(std::string(small), expected.substr(0, 4));
  EXPECT_EQ(small[5], '#');
  EXPECT_EQ(channel_file_info(f.ch(), nullptr, nullptr, 0, "filename", 0, 0), 0);
  // "f" begins both "filename" and "fopts": the driver refuses it.
  EXPECT_EQ(ask(f, "f").status, kStatusInvalidOption);
}

TEST_F(FileQueryTest, NullChannelIsRefused) {
  int32_t number = 0;
  char text[8];
  EXPECT_EQ(channel_file_info(nullptr, &number, text, sizeof text, "size", 0, 0), -2);
  EXPECT_EQ(channel_file_info(nullptr, &number, text, sizeof text, "filename", 0, 0), -2);
}

// ---------------------------------------------------------------------------
// The file summaries (slots 10 and 11).
// ---------------------------------------------------------------------------
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

TEST_F(FileQueryTest, SummaryTextCharacterByCharacter) {
  CraftedFile f(two_key_file());
  ASSERT_TRUE(f.ok());
  f.fc()->control = nullptr;
  Summary s = summary_text(f);
  ASSERT_EQ(s.rc, 31);
  const std::string expected =
      std::string("00120") + "00005" + "010" + "99999999" + "99999922" + "02";
  ASSERT_EQ(expected.size(), 31u);
  EXPECT_EQ(std::string(s.text, 31), expected);
  EXPECT_EQ(s.text[31], '\0');
  EXPECT_EQ(s.text[32], '#');
  EXPECT_EQ(f.fc()->control, f.ctl());  // the caller's context is recorded
}

TEST_F(FileQueryTest, SummaryTextLimits) {
  CraftedFile f(two_key_file().change_tracking(0, 0, 0, 1));
  ASSERT_TRUE(f.ok()) << f.status();
  // Tracking: the tracking key is not counted.
  EXPECT_EQ(std::string(summary_text(f).text + 29, 2), "02");
  f.fc()->free_list.record_count = 99999999;
  EXPECT_EQ(std::string(summary_text(f).text + 21, 8), "00000000");
  f.fc()->free_list.record_count = 100000000;
  EXPECT_EQ(std::string(summary_text(f).text + 21, 8), "00000000");
  f.fc()->free_list.record_count = 0;
  EXPECT_EQ(std::string(summary_text(f).text + 21, 8), "99999999");
  const uint8_t keys = f.fc()->header.key_count;
  f.fc()->header.key_count = 100;
  Summary s = summary_text(f);
  EXPECT_EQ(s.rc, 31);
  EXPECT_EQ(std::string(s.text + 29, 2), "00");
  f.fc()->header.key_count = keys;
}

TEST_F(FileQueryTest, SummaryTextRefusesAValueWiderThanItsField) {
  CraftedFile f(two_key_file());
  ASSERT_TRUE(f.ok());
  const uint16_t key_size = f.fc()->keys[0].key_size;
  for (uint16_t damaged : {uint16_t{1003}, uint16_t{65535}}) {
    f.fc()->keys[0].key_size = damaged;  // 1000 and more after the qualifier
    f.ctl()->status->code = 0;
    Summary s = summary_text(f);
    EXPECT_EQ(s.rc, -1);
    EXPECT_EQ(f.code(), kStatusBadFileControl);
    for (char c : s.text) ASSERT_EQ(c, '#');  // nothing written at all
  }
  f.fc()->keys[0].key_size = 2;  // less than the qualifier
  EXPECT_EQ(summary_text(f).rc, -1);
  f.fc()->keys[0].key_size = key_size;
  EXPECT_EQ(summary_text(f).rc, 31);
}

TEST_F(FileQueryTest, SummariesRefuseAnInvalidControlBlock) {
  CraftedFile f(two_key_file());
  ASSERT_TRUE(f.ok());
  f.fc()->header.magic = 0;
  Summary s = summary_text(f);
  EXPECT_EQ(s.rc, -2);
  EXPECT_EQ(s.text[0], '#');
  uint8_t record[32] = {};
  EXPECT_EQ(file_summary_record(f.fc(), record, f.ctl()), -2);
  f.fc()->header.magic = kMagicIndex;
  EXPECT_EQ(file_summary_text(nullptr, s.text, f.ctl()), -2);
}

TEST_F(FileQueryTest, SummaryRecordByteByByte) {
  CraftedFile f(two_key_file());
  ASSERT_TRUE(f.ok());
  uint8_t record[24];
  std::memset(record, 0xEE, sizeof record);
  ChannelCall call;
  call.text = reinterpret_cast<char*>(record);
  ASSERT_EQ(channel_call(f.ch(), kSlotParamsRecord, call), 0);
  const uint8_t expected[17] = {120,  0,    5,    0,    10,   0,    0xEE, 0xEE, 0xFF,
                                0xC9, 0x9A, 0x3B, 0xB2, 0xC9, 0x9A, 0x3B, 2};
  // 999999999 = 0x3B9AC9FF; less 77 = 0x3B9AC9B2.
  for (size_t i = 0; i < 17; ++i) EXPECT_EQ(record[i], expected[i]) << "byte " << i;
  EXPECT_EQ(record[17], 0xEE);
}

TEST_F(FileQueryTest, SummaryRecordCountsDownToZeroAtMost) {
  CraftedFile f(two_key_file().change_tracking(0, 0, 0, 1));
  ASSERT_TRUE(f.ok());
  f.fc()->free_list.record_count = 1000000000;
  uint8_t record[17];
  ASSERT_EQ(file_summary_record(f.fc(), record, f.ctl()), 0);
  EXPECT_EQ(get_u32(record + 12), 0u);
  EXPECT_EQ(record[16], 2);  // three keys, one of them the tracking key
}

}  // namespace
}  // namespace ismgr
