#include "ismgr/isam/isam_names.h"

#include <gtest/gtest.h>

namespace ismgr {
namespace {

TEST(DataFileName, NeverTheIndexNameNorAnotherDirectory) {
  const char* rows[][2] = {{"cust.ism", "cust.is1"},
                           {"CUST.ISM", "CUST.IS1"},
                           {"cust.dt5", "cus_.dt5"},
                           {"/a.b/cust.dt5", "/a.b/cus_.dt5"},
                           {"cust.is1", "cus_.is1"},
                           {"a.b.c9", "a._.c9"},
                           {"", ""},
                           {"dir/.5", "dir/._"},
                           {"dir.x/abc5", "dir.x/abc_"},
                           {"x", "1"},
                           {"cust", "cus1"}};
  for (const auto& r : rows) EXPECT_EQ(data_file_name(r[0]), r[1]) << r[0];
  for (const char* name : {"c:.7", "a.1", "q"}) EXPECT_NE(data_file_name(name), name) << name;
  EXPECT_EQ(last_component_start("/x/y/cust.ism"), 5u);
  EXPECT_EQ(last_component_start("c:cust"), 2u);
  EXPECT_TRUE(last_component_has_dot("/x.y/c.ism"));
  EXPECT_FALSE(last_component_has_dot("a.b:cust"));
}

}  // namespace
}  // namespace ismgr
