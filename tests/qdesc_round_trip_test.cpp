// The round trip: a file created by qcreate from a description of every kind
// of key and file item, described by qdesc -x, and the description given back
// to qcreate gives the same file again, byte for byte, apart from the time
// stamps of the creation itself.
#include <gtest/gtest.h>

#include <string>

#include "support/run_command.h"
#include "support/scratch_dir.h"

namespace ismgr {
namespace {

// The two files are equal but for 4-byte fields that hold each file's own
// creation time (the header's `created` at 28).
void expect_same_but_times(const std::string& a, const std::string& b, const char* what) {
  ASSERT_EQ(a.size(), b.size()) << what;
  ASSERT_GE(a.size(), 32u);
  const std::string created_a = a.substr(28, 4), created_b = b.substr(28, 4);
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] == b[i]) continue;
    bool time_field = false;
    for (size_t j = i >= 3 ? i - 3 : 0; j <= i && j + 4 <= a.size(); ++j) {
      if (a.compare(j, 4, created_a) == 0 && b.compare(j, 4, created_b) == 0) time_field = true;
    }
    ASSERT_TRUE(time_field) << what << " differs at " << i;
  }
}

TEST(RoundTrip, EveryKindOfKeyAndFileItem) {
  test::ScratchDir dir;
  auto run = [&](const std::string& command, const std::string& args) {
    return test::run_command(dir.path().string(), test::command_path(command) + " " + args);
  };
  // tests/data/qdesc/round_trip_mixed.xdl
  auto r = run("qcreate",
               "-r " + std::string(ISMGR_SOURCE_DIR) + "/tests/data/qdesc/round_trip_mixed.xdl a");
  ASSERT_EQ(r.exit_status, 0) << r.err;
  r = run("qdesc", "-x a");
  ASSERT_EQ(r.exit_status, 0) << r.err;
  dir.write("a.xdl", r.out);
  r = run("qcreate", "-r a.xdl b");
  ASSERT_EQ(r.exit_status, 0) << r.err << dir.read("a.xdl");
  expect_same_but_times(dir.read("a.ism"), dir.read("b.ism"), "index");
  expect_same_but_times(dir.read("a.is1"), dir.read("b.is1"), "data");
  // The description really carried the items (a silent drop on both sides
  // would also round-trip).
  const std::string xdl = dir.read("a.xdl");
  for (const char* item :
       {"\tRECORD_ALLOCATION 64\n", "\tSEED\t\t77\n", "\tPORT_INT\t111:2\n",
        "\tTEXT_ALLOCATION\t2k\n", "\tVALUE_NULL\t-125\n", "\tVALUE_NULL\t-1\n",
        "\tVALUE_NULL\t18446744073709551615\n", "\tVALUE_NULL\t'NONE'\n", "\tVALUE_NULL\t42\n",
        "\tNULL\t\tshort\n", "\tTYPE\t\tnocase:alpha\n", "\tORDER\t\tascending:descending\n",
        "\tTYPE\t\tGUID\n", "\tDENSITY\t\t80\n"}) {
    EXPECT_NE(xdl.find(item), std::string::npos) << item;
  }
}

}  // namespace
}  // namespace ismgr
