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
const char kMixed[] =
    "FILE\n"
    "  NAME mix\n"
    "  ADDRESSING 40\n"
    "  SEED 77\n"
    "  RECORD_ALLOCATION 64\n"
    "  TEXT_ALLOCATION 2k\n"
    "  TEXT \"Round trip text with 'quotes' and ; a semicolon, long enough for two lines\"\n"
    "RECORD\n"
    "  SIZE 300\n"
    "  FORMAT variable\n"
    "  PORT_INT 101:4\n"
    "  PORT_INT 111:2\n"
    "KEY 0\n  NAME id\n  START 1\n  LENGTH 8\n  TYPE decimal\n  DENSITY 80\n"
    "KEY 1\n  NAME name_city\n  START 9:41\n  LENGTH 30:20\n  TYPE nocase:alpha\n"
    "  ORDER ascending:descending\n  DUPLICATES yes\n  MODIFIABLE yes\n"
    "KEY 2\n  NAME amount\n  START 61\n  LENGTH 6\n  TYPE decimal\n  ORDER descending\n"
    "  DUPLICATES yes\n  NULL noreplicate\n  VALUE_NULL -125\n"
    "KEY 3\n  NAME balance\n  START 67\n  LENGTH 4\n  TYPE int4\n  ORDER descending\n"
    "  DUPLICATES yes\n  NULL noreplicate\n  VALUE_NULL -1\n"
    "KEY 4\n  NAME big\n  START 71\n  LENGTH 8\n  TYPE unsigned\n  DUPLICATES yes\n"
    "  DUPLICATE_ORDER lifo\n  NULL noreplicate\n  VALUE_NULL 18446744073709551615\n"
    "KEY 5\n  NAME label\n  START 81\n  LENGTH 20\n  TYPE nocase\n  DUPLICATES yes\n"
    "  NULL noreplicate\n  VALUE_NULL \"NONE\"\n"
    "KEY 6\n  NAME zip\n  START 121\n  LENGTH 10\n  DUPLICATES yes\n  NULL replicate\n"
    "  VALUE_NULL 42\n"
    "KEY 7\n  NAME remark\n  START 141\n  LENGTH 20\n  DUPLICATES yes\n  NULL short\n"
    "KEY 8\n  NAME serial\n  START 161\n  LENGTH 8\n  TYPE sequence\n"
    "KEY 9\n  NAME stamp\n  START 169\n  LENGTH 8\n  TYPE timestamp\n"
    "KEY 10\n  NAME guid\n  START 177\n  LENGTH 16\n  TYPE guid\n";

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
  // Creates `a` from `description`, describes it with `qdesc_options`, and
  // creates `b` from that description.
  void round_trip(const std::string& description, const std::string& qdesc_options) {
    dir_.write("orig.xdl", description);
    auto r = run("qcreate", "-r orig.xdl a");
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

TEST_F(RoundTrip, BareDescription) {
  round_trip(kMixed, "-xb");
  expect_same_files();
  EXPECT_EQ(dir_.read("a.xdl").find('!'), std::string::npos);
}

TEST_F(RoundTrip, ChangeTrackingWithAndWithoutTheTrackingKey) {
  // Without -ct the description leaves out the tracking key, which the
  // creation adds again for TRACK_CHANGES.
  round_trip(kTracked, "-x");
  expect_same_files();
  EXPECT_NE(dir_.read("a.xdl").find("\tKEYS\t\t2\n"), std::string::npos);
}

TEST_F(RoundTrip, ExampleFiles) {
  for (const char* example : {"customer", "compressed", "tracking"}) {
    const std::string path = std::string(ISMGR_SOURCE_DIR) + "/examples/" + example + ".xdl";
    auto r = run("qcreate", "-r '" + path + "' a");
    ASSERT_EQ(r.exit_status, 0) << example << r.err;
    r = run("qdesc", "-x a");
    ASSERT_EQ(r.exit_status, 0) << example << r.err;
    dir_.write("a.xdl", r.out);
    r = run("qcreate", "-r a.xdl b");
    ASSERT_EQ(r.exit_status, 0) << example << r.err;
    expect_same_files();
  }
}

// What a description cannot carry, by its format: a short null key's value
// and a preallocation in blocks are not described at all. A 1- or 2-byte
// integer null value is described unsigned, and taken back as such.
TEST_F(RoundTrip, LimitsOfADescription) {
  dir_.write("neg.xdl",
             "FILE\n NAME neg\nRECORD\n SIZE 50\nKEY 0\n START 1\n LENGTH 4\n"
             "KEY 1\n START 5\n LENGTH 2\n TYPE int2\n DUPLICATES yes\n NULL noreplicate\n"
             " VALUE_NULL -1\n");
  ASSERT_EQ(run("qcreate", "-r neg.xdl a").exit_status, 0);
  auto r = run("qdesc", "-x a");
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.out.find("\tVALUE_NULL\t65535\n"), std::string::npos) << r.out;
  dir_.write("a.xdl", r.out);
  r = run("qcreate", "-r a.xdl b");
  EXPECT_EQ(r.exit_status, 0) << r.err;

  dir_.write("short.xdl",
             "FILE\n NAME s\nRECORD\n SIZE 50\n FORMAT variable\nKEY 0\n START 1\n LENGTH 4\n"
             "KEY 1\n START 5\n LENGTH 8\n DUPLICATES yes\n NULL short\n VALUE_NULL \"-\"\n");
  ASSERT_EQ(run("qcreate", "-r short.xdl a").exit_status, 0);
  r = run("qdesc", "-x a");
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.out.find("\tNULL\t\tshort\n\n"), std::string::npos) << r.out;  // no VALUE_NULL
}

}  // namespace
}  // namespace ismgr
