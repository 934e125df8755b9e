#include "ismgr/describe/create_options.h"

#include <gtest/gtest.h>

#include "support/data_rows.h"
#include "support/detail_capture.h"

namespace ismgr {
namespace {

using testing_support::DetailCapture;
using testing_support::status_of;

class OptionsTest : public ::testing::Test {
 protected:
  OptionsTest() { d_.record_size = 10; }
  uint8_t apply(const std::string& name, int revision = 6) {
    name_ = name;
    return apply_create_options(&name_, d_, &ports_, &map_, &text_, revision);
  }
  int status(const std::string& name, int revision = 6) {
    return status_of([&] { apply(name, revision); });
  }
  FileDescription d_;
  std::string name_;
  std::vector<PortIntEntry> ports_;
  std::vector<uint8_t> map_;
  CreateText text_;
  DetailCapture details_;
};

TEST_F(OptionsTest, Flags) {
  for (const auto& r : test::data_rows("option_flags.tsv")) {
    d_ = FileDescription();
    d_.file_flags = r[0].size() < 9 ? 0x10 : 0;
    EXPECT_EQ(apply(r[0]), std::stoul(r[1], nullptr, 16)) << r.where;
    EXPECT_EQ(name_, r[0].substr(0, r[0].find(','))) << r.where;
  }
  EXPECT_EQ(d_.page_units, 0);
  apply("cust,page=4096");
  EXPECT_EQ(d_.page_units, 16);
}

TEST_F(OptionsTest, Refusals) {
  for (const auto& r : test::data_rows("option_refusals.tsv")) {
    d_ = FileDescription();
    d_.record_size = 10;
    map_.clear(), details_.clear();
    EXPECT_EQ(status(r[3], r.number(0)), r.number(1)) << r.where;
    EXPECT_TRUE(r[2].empty() || details_.has(kDetailMessage, r[2])) << r.where << details_.dump();
  }
  EXPECT_EQ(status("c,text='" + std::string(65536, 'x') + "'"), kStatusInvalidOption);
  EXPECT_EQ(status("c,text='" + std::string(65535, 'x') + "'"), 0);
  EXPECT_EQ(text_.text.size(), 65535u);
  details_.clear();
  EXPECT_EQ(status("c,bogus=1"), kStatusInvalidOption);
  EXPECT_EQ(details_.dump(), std::to_string(kDetailInvalidOption) + " bogus=1 [0]\n");
  details_.clear();
  EXPECT_EQ(status("c,st" + std::string(300, 'x')), kStatusInvalidOption);
  EXPECT_EQ(details_.details()[0].text.size(), 128u);  // the option shown cut
}

TEST_F(OptionsTest, NumbersSeedTrackingAndPortableIntegers) {
  apply("c,alloc=500,density=50,ralloc=7");
  EXPECT_EQ(d_.allocation, 7u);
  EXPECT_EQ(d_.file_flags2, 0x140u);
  apply("c,seed=5", 5);  // below revision 6 no seed
  EXPECT_EQ(d_.seed, 0);
  apply("c,tr=0");
  EXPECT_EQ(d_.change_tracking_start, -1);
  apply("c,i=1:4, i = 5:2 ,i=7:1");
  EXPECT_EQ(d_.port_int_count, 3);
  EXPECT_EQ(map_, (std::vector<uint8_t>{0x44, 4, 4, 0x84, 0x44, 0x84, 0x44, 0, 0, 0}));
}

TEST_F(OptionsTest, CountPortIntOptions) {
  FileDescription d;
  EXPECT_EQ(count_port_int_options("i=1:4, i =2:2,index=3,i,page=1024", d), 3);
  EXPECT_EQ(d.port_int_count, 3);
  EXPECT_EQ(count_port_int_options("", d), 0);
  // Text between the word and "=" is skipped when the options are read, so
  // the count must include such an option too.
  apply("c,i\vjunk=1:2");
  EXPECT_EQ(ports_.size(), 1u);
  EXPECT_EQ(d_.port_int_count, 1);
  d.port_int_count = 254;
  EXPECT_EQ(status_of([&] { count_port_int_options("i=1:1,i=2:1", d); }), kStatusInvalidOption);
}

// (The text's own form is the header image's.) Options after a text are
// still applied; an empty value ends the option string.
TEST_F(OptionsTest, FileText) {
  apply("c,text=2K:'x',page=1024");
  EXPECT_EQ(d_.text_alloc_kb * 100 + d_.page_units, 204);
  d_ = FileDescription();
  apply("c,text=,page=1024");
  EXPECT_EQ(d_.page_units, 0);
}

}  // namespace
}  // namespace ismgr
