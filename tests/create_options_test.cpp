#include "ismgr/describe/create_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ismgr/runtime/keyword.h"
#include "ismgr/runtime/status.h"
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

TEST_F(OptionsTest, NameWithoutOptions) {
  d_.file_flags = 0x10;
  EXPECT_EQ(apply("cust.ism"), 0x10) << "nothing is applied without a comma";
  EXPECT_EQ(name_, "cust.ism");
  EXPECT_EQ(apply("cust,"), 0);
  EXPECT_EQ(name_, "cust");
}

TEST_F(OptionsTest, FormatsAndFlags) {
  EXPECT_EQ(apply("cust,page=4096, multiple"), 0x23);
  EXPECT_EQ(name_, "cust");
  EXPECT_EQ(d_.page_units, 16);
  d_ = FileDescription();
  EXPECT_EQ(apply("c,variable,s"), 0x3A);
  d_ = FileDescription();
  EXPECT_EQ(apply("c,compress,fixed"), 0x24);
  d_ = FileDescription();
  EXPECT_EQ(apply("c,variable,fixed,st"), 0x08) << "static vectoring needs sized headers";
  d_ = FileDescription();
  EXPECT_EQ(apply("c,t,network_encrypt"), 0xC0);
  d_ = FileDescription();
  EXPECT_EQ(apply("c,TB"), 0x40);
  EXPECT_EQ(status("c,multiple,compress"), kStatusInvalidOption);
  EXPECT_TRUE(details_.has(kDetailMessage, "Multiple fixed-length records cannot be compressed"));
  d_ = FileDescription();
  EXPECT_EQ(status("c,compress,multiple"), kStatusInvalidOption);
}

TEST_F(OptionsTest, NumbersAndRanges) {
  apply("c,alloc=500,density=50,ralloc=7");
  EXPECT_EQ(d_.allocation, 7u);
  EXPECT_EQ(d_.density, 50);
  EXPECT_EQ(d_.file_flags2, 0x140u);
  d_ = FileDescription();
  apply("c,ralloc=7", 4);
  EXPECT_EQ(d_.file_flags2, 0u);
  EXPECT_EQ(status("c,page=1000"), 70);
  EXPECT_EQ(status("c,page"), 70) << "a missing value is 0";
  EXPECT_EQ(status("c,density=49"), 71);
  EXPECT_EQ(status("c,density=101"), 71);
  EXPECT_EQ(status("c,alloc=-1"), kStatusInvalidOption);
}

TEST_F(OptionsTest, UnknownAndRevisionSixOptions) {
  EXPECT_EQ(status("c,bogus=1"), kStatusInvalidOption);
  ASSERT_EQ(details_.details().size(), 1u);
  EXPECT_EQ(details_.details()[0].code, kDetailInvalidOption);
  EXPECT_EQ(details_.details()[0].text, "bogus=1");
  details_.clear();
  EXPECT_EQ(status("c,st" + std::string(300, 'x')), kStatusInvalidOption);
  EXPECT_EQ(details_.details()[0].text.size(), 128u);
  EXPECT_EQ(status("c,sgrfa", 5), kStatusInvalidOption);
  EXPECT_EQ(status("c,track_changes", 4), kStatusInvalidOption);
  d_ = FileDescription();
  EXPECT_EQ(status("c,seed=5", 5), 0);
  EXPECT_EQ(d_.seed, 0);
  EXPECT_EQ(status("c,se=5"), 0);
  EXPECT_EQ(d_.seed, 5);
  EXPECT_EQ(status("c,seed=0"), kStatusInvalidOption);
  EXPECT_TRUE(details_.has(kDetailMessage, "Invalid SEED, positive non-zero value expected"));
  apply("c,tr=0");
  EXPECT_EQ(d_.change_tracking_start, -1);
  EXPECT_EQ(d_.file_flags2 & 0x1200u, 0x1200u);
  apply("c,track_changes=0x10");
  EXPECT_EQ(d_.change_tracking_start, 16);
  apply("c,sgrfa");
  EXPECT_EQ(d_.file_flags2 & 0x400u, 0x400u);
}

TEST_F(OptionsTest, PortableIntegers) {
  apply("c,i=1:4, i = 5:2 ,i=7:1");
  ASSERT_EQ(ports_.size(), 3u);
  EXPECT_EQ(d_.port_int_count, 3);
  EXPECT_EQ(ports_[1].kind, 4);
  EXPECT_EQ(ports_[1].position, 5);
  EXPECT_EQ(ports_[1].length, 2);
  ASSERT_EQ(map_.size(), 10u);
  EXPECT_EQ(map_, (std::vector<uint8_t>{0x44, 4, 4, 0x84, 0x44, 0x84, 0x44, 0, 0, 0}));

  EXPECT_EQ(status("c,i=5:3"), 76);
  EXPECT_EQ(status("c,i=0:4"), kStatusInvalidOption);
  EXPECT_TRUE(details_.has(kDetailMessage, "Non-key integer data spans record boundary"));
  EXPECT_EQ(status("c,i=8:4"), kStatusInvalidOption);
  EXPECT_EQ(status("c,i=9223372036854775807:2"), kStatusInvalidOption);
  EXPECT_EQ(status("c,i=-9223372036854775808:2"), kStatusInvalidOption);
  map_.clear();
  EXPECT_EQ(status("c,i=7:4"), 0) << "ends exactly at the last byte";
  map_.clear();
  EXPECT_EQ(status("c,i=1:4,i=3:4"), 77);
  EXPECT_EQ(status("c,i=12"), kStatusInvalidOption);
  EXPECT_TRUE(details_.has(kDetailMessage, "Invalid non-key integer data specified"));
  // Without a map portable integers are ignored.
  FileDescription other;
  std::string name = "c,i=1:4";
  apply_create_options(&name, other, nullptr, nullptr, nullptr, 6);
  EXPECT_EQ(other.port_int_count, 0);
}

TEST_F(OptionsTest, CountPortIntOptions) {
  FileDescription d;
  EXPECT_EQ(count_port_int_options("i=1:4, i =2:2,index=3,i,page=1024", d), 3);
  EXPECT_EQ(d.port_int_count, 3);
  EXPECT_EQ(count_port_int_options("", d), 0);
  // Text between the word and "=" is skipped when the options are read, so
  // the count must include such an option too.
  FileDescription skipped;
  skipped.record_size = 10;
  std::string name = "c,i\vjunk=1:2";
  std::vector<PortIntEntry> ports;
  std::vector<uint8_t> map;
  apply_create_options(&name, skipped, &ports, &map, nullptr, 6);
  EXPECT_EQ(ports.size(), 1u);
  EXPECT_EQ(skipped.port_int_count, 1);
  d.port_int_count = 254;
  EXPECT_EQ(status_of([&] { count_port_int_options("i=1:1,i=2:1", d); }), kStatusInvalidOption);
}

TEST_F(OptionsTest, FileText) {
  apply("c,text=2K:'it''s',page=1024");
  EXPECT_TRUE(text_.given);
  EXPECT_EQ(text_.text, "it's");
  EXPECT_EQ(d_.text_alloc_kb, 2);
  EXPECT_EQ(d_.page_units, 4) << "options after the text are still applied";
  text_ = CreateText();
  apply("c,text=\"a, b\",density=60");
  EXPECT_EQ(text_.text, "a, b");
  EXPECT_EQ(d_.density, 60);
  apply("c,text=1500");
  EXPECT_EQ(d_.text_alloc_kb, 2);
  apply("c,text=0x800");
  EXPECT_EQ(d_.text_alloc_kb, 2);
  // An empty value ends the option string.
  d_ = FileDescription();
  apply("c,text=,page=1024");
  EXPECT_EQ(d_.page_units, 0);
  EXPECT_EQ(status("c,text=abc"), kStatusInvalidOption);
  EXPECT_EQ(status("c,text='open"), kStatusInvalidOption);
  EXPECT_EQ(status("c,text"), kStatusInvalidOption);
  EXPECT_EQ(status("c,text=300K"), kStatusInvalidOption);
  EXPECT_EQ(status("c,text=9223372036854775807"), kStatusInvalidOption);
  EXPECT_EQ(status("c,text='" + std::string(65536, 'x') + "'"), kStatusInvalidOption);
  EXPECT_EQ(status("c,text='" + std::string(65535, 'x') + "'"), 0);
  EXPECT_EQ(text_.text.size(), 65535u);
}

}  // namespace
}  // namespace ismgr
