// The round trip: a file created by qcreate, described by qdesc -x, and the
// description given back to qcreate gives the same file again, byte for
// byte, apart from the time stamps of the creation itself. Also the known
// limits of a description (what it cannot carry), shown as such.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "support/run_command.h"
#include "support/scratch_dir.h"

namespace ismgr {
namespace {

using test::command_path;
using test::run_command;

// Every key type, order and null rule a description can carry, segmented
// keys, portable integers, a file text over several TEXT lines, a seed and
// a preallocation in records.
// tests/data/qdesc/round_trip_mixed.xdl
const std::string kMixed = std::string(ISMGR_SOURCE_DIR) + "/tests/data/qdesc/round_trip_mixed.xdl";

const char kTracked[] =
    "FILE\n  NAME tracked\n  TRACK_CHANGES yes\n"
    "RECORD\n  SIZE 120\n"
    "KEY 0\n  START 1\n  LENGTH 10\n"
    "KEY 1\n  START 11\n  LENGTH 4\n  TYPE int4\n  DUPLICATES yes\n";

class RoundTrip : public ::testing::Test {
 protected:
  test::CommandResult run(const std::string& command, const std::string& args) {
    return run_command(dir_.path().string(), command_path(command) + " " + args);
  }
  // Creates `a` from the description file `path` (or the text with a line
  // end), describes it with `qdesc_options`, and creates `b` from that.
  void round_trip(const std::string& description, const std::string& qdesc_options) {
    if (description.find('\n') != std::string::npos) dir_.write("orig.xdl", description);
    const std::string orig =
        description.find('\n') != std::string::npos ? "orig.xdl" : "'" + description + "'";
    auto r = run("qcreate", "-r " + orig + " a");
    ASSERT_EQ(r.exit_status, 0) << r.err;
    r = run("qdesc", qdesc_options + " a");
    ASSERT_EQ(r.exit_status, 0) << r.err;
    dir_.write("a.xdl", r.out);
    r = run("qcreate", "-r a.xdl b");
    ASSERT_EQ(r.exit_status, 0) << r.err << dir_.read("a.xdl");
  }
  // The two files are equal but for 4-byte fields that hold each file's own
  // creation time (the header's `created` and, with change tracking, the
  // time tracking started).
  void expect_same_but_times(const std::string& leaf_a, const std::string& leaf_b) {
    const std::string a = dir_.read(leaf_a);
    const std::string b = dir_.read(leaf_b);
    ASSERT_EQ(a.size(), b.size()) << leaf_a;
    ASSERT_GE(a.size(), 32u);
    const std::string created_a = a.substr(28, 4);
    const std::string created_b = b.substr(28, 4);
    for (size_t i = 0; i < a.size(); ++i) {
      if (a[i] == b[i]) continue;
      bool time_field = false;
      for (size_t j = i >= 3 ? i - 3 : 0; j <= i && j + 4 <= a.size(); ++j) {
        if (a.compare(j, 4, created_a) == 0 && b.compare(j, 4, created_b) == 0) time_field = true;
      }
      EXPECT_TRUE(time_field) << leaf_a << " differs at " << i;
      if (!time_field) return;
    }
  }
  void expect_same_files() {
    expect_same_but_times("a.ism", "b.ism");
    expect_same_but_times("a.is1", "b.is1");
  }
  test::ScratchDir dir_;
};

TEST_F(RoundTrip, EveryKindOfKeyAndFileItem) {
  round_trip(kMixed, "-x");
  expect_same_files();
  // The description really carried the items (a silent drop on both sides
  // would also round-trip).
  const std::string xdl = dir_.read("a.xdl");
  for (const char* item :
       {"\tRECORD_ALLOCATION 64\n", "\tSEED\t\t77\n", "\tPORT_INT\t111:2\n",
        "\tTEXT_ALLOCATION\t2k\n", "\tVALUE_NULL\t-125\n", "\tVALUE_NULL\t-1\n",
        "\tVALUE_NULL\t18446744073709551615\n", "\tVALUE_NULL\t'NONE'\n", "\tVALUE_NULL\t42\n",
        "\tNULL\t\tshort\n", "\tTYPE\t\tnocase:alpha\n", "\tORDER\t\tascending:descending\n",
        "\tTYPE\t\tGUID\n", "\tDENSITY\t\t80\n"}) {
    EXPECT_NE(xdl.find(item), std::string::npos) << item;
  }
}

TEST_F(RoundTrip, ChangeTrackingWithAndWithoutTheTrackingKey) {
  // Without -ct the description leaves out the tracking key, which the
  // creation adds again for TRACK_CHANGES.
  round_trip(kTracked, "-x");
  expect_same_files();
  EXPECT_NE(dir_.read("a.xdl").find("\tKEYS\t\t2\n"), std::string::npos);
}

}  // namespace
}  // namespace ismgr
