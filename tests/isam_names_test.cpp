#include "ismgr/isam/isam_names.h"

#include <gtest/gtest.h>

namespace ismgr {
namespace {

TEST(DataFileName, DigitAndLetterRules) {
  EXPECT_EQ(data_file_name("cust.ism"), "cust.is1");
  EXPECT_EQ(data_file_name("CUST.ISM"), "CUST.IS1");
  EXPECT_EQ(data_file_name("cust.dt5"), "cus_.dt5");
  EXPECT_EQ(data_file_name("/a.b/cust.dt5"), "/a.b/cus_.dt5");
  EXPECT_EQ(data_file_name("cust.is1"), "cus_.is1");
  EXPECT_EQ(data_file_name("a.b.c9"), "a._.c9");  // the last "." counts
  EXPECT_EQ(data_file_name(""), "");
}

TEST(DataFileName, NeverTheIndexNameNorAnotherDirectory) {
  EXPECT_EQ(data_file_name("dir/.5"), "dir/._");
  EXPECT_EQ(data_file_name("dir.x/abc5"), "dir.x/abc_");
  EXPECT_EQ(data_file_name("x"), "1");
  for (const char* name : {"dir/.5", "dir.x/abc5", "cust.dt5", "a.1", "c:.7", "q"}) {
    EXPECT_NE(data_file_name(name), name) << name;
  }
}

TEST(LastComponent, SeparatorsAndDots) {
  EXPECT_EQ(last_component_start("/x/y/cust.ism"), 5u);
  EXPECT_EQ(last_component_start("c:cust"), 2u);
  EXPECT_EQ(last_component_start("d\\e"), 2u);
  EXPECT_EQ(last_component_start("plain"), 0u);
  EXPECT_TRUE(last_component_has_dot("/x.y/c.ism"));
  EXPECT_FALSE(last_component_has_dot("/x.y/cust"));
  EXPECT_FALSE(last_component_has_dot("a.b:cust"));
  EXPECT_FALSE(last_component_has_dot(""));
}

}  // namespace
}  // namespace ismgr
