// End-to-end runs of the qinfo command on crafted files: the command line,
// exit codes and message texts (the answers themselves are the file query's).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/isam_builder.h"
#include "support/run_command.h"
#include "support/scratch_dir.h"
#include "tool/qinfo_args.h"

namespace ismgr {
namespace {

using testing::IsamBuilder;
using testing::KeySpec;
using testing::SegmentSpec;

// CUSTNO at 5 (duplicates at the end), and a three-segment key MULTI.
IsamBuilder sample() {
  IsamBuilder b;
  b.revision(6).record_length(120).file_flags(0x04);
  b.add_key(KeySpec::alpha("CUSTNO", 4, 10, 0x04 | 0x02));
  KeySpec multi;
  multi.name = "MULTI";
  multi.segments = {SegmentSpec{0x21, 20, 6}, SegmentSpec{0x04, 30, 4}, SegmentSpec{0x28, 40, 2}};
  b.add_key(multi).counts(77, 0, 1, 0);
  return b;
}

// One row per run: {args, environment, exit status, whole stdout, texts that
// stderr must hold in order ("" alone: stderr empty)}.
TEST(QinfoCommand, RunsTable) {
  test::ScratchDir dir;
  IsamBuilder num;
  KeySpec k;
  k.name = "NUM";
  k.flags = 0x20;
  k.segments = {SegmentSpec{0x24, 0, 8}};
  ASSERT_TRUE(sample().write_files(dir.path().string(), "cust"));
  ASSERT_TRUE(num.record_length(50)
                  .add_key(k)
                  .null_values({4, 1, 2, 3})
                  .write_files(dir.path().string(), "num"));
  ASSERT_TRUE(sample().poke_index(0, {0x34, 0x12}).write_files(dir.path().string(), "noindex"));
  ASSERT_TRUE(sample().magic(0x6CA6).write_files(dir.path().string(), "foreign"));
  const std::string file_was = "%QINFO-I-01: File specified was cust.ism\n";
  const std::string key1 = "00021012010" + std::string(10, ' ') + "MULTI" + "00021" + "00031" +
                           "00041" + std::string(25, '0') + "006004002" + std::string(15, '0') +
                           "\n";
  const struct {
    std::vector<std::string> args;
    const char* env;
    int exit;
    std::string out;
    std::vector<std::string> err;
  } rows[] = {
      {{"cust", "NUMR"}, "", 0, "77\n", {""}},
      {{"cust", "fopts"}, "", 0, "4\tFIXED, COMPRESS\n", {""}},  // number, tab, text
      {{"cust", "kposition", "1", "2"}, "", 0, "41\n", {""}},
      {{dir.file("cust"), "FILEN"}, "", 0, dir.file("cust.ism") + "\n", {""}},  // as expanded
      {{"-k", "cust", "1"}, "", 0, key1, {""}},
      {{"-s", "cust"}, "", 0, "0012000005010999999999999992202\n", {""}},
      {{"-n", "cust", "MULTI"}, "", 0, "1\n", {""}},
      {{"-p", "cust", "21", "6"}, "", 0, "1\n", {""}},  // positions count from 1
      {{"noindex", "numkeys"}, "", 0, "2\n", {""}},     // answered from the data file
      {{"cust", "size", "5"},
       "",
       1,
       "",
       {"qinfo: no key has that number\nqinfo: the number given was 5\nqinfo: the highest "
        "number allowed is 1\n\n%QINFO-E-02: Illegal key specified\n" +
        file_was}},
      {{"cust", "size", "0", "1"},
       "",
       1,
       "",
       {"qinfo: the key has no segment of that number\n",
        "%QINFO-E-79: Specified segment out of range\n"}},
      {{"cust", "num"},
       "",
       1,
       "",
       {"qinfo: no item of that name (or it abbreviates several)\nqinfo: the item asked for "
        "was \"num\"\n\n%QINFO-E-32: Invalid option\n" +
        file_was}},
      {{"-n", "cust", "NOSUCHKEY"}, "", 1, "", {"%QINFO-E-08: Illegal alpha key of reference\n"}},
      {{"cust", "nullvalue"},
       "",
       1,
       "",
       {"qinfo: No null value for key 0\n", "%QINFO-E-80: Null value doesn't exist for key\n"}},
      {{"-p", "cust", "22", "6"},
       "VRXOPT=45",
       1,
       "",
       {"%QINFO-E-07: Illegal decimal key of reference\n"}},
      {{"num", "string"},
       "",
       1,
       "start=1, length=8, name=NUM, type=I, null=noreplicate, value_null=\n",
       {"qinfo: NULLVALUE is invalid.\n", "%QINFO-E-45: Invalid null value\n"}},
      {{"nothere", "size"},
       "",
       1,
       "",
       {"\n%QINFO-E-", "%QINFO-I-01: File specified was ", "nothere"}},
      {{"foreign", "size"}, "", 1, "", {"%QINFO-E-43: "}}  // not retried
  };
  for (const auto& r : rows) {
    std::string command = std::string(r.env) + " " + test::shell_quote(test::command_path("qinfo"));
    for (const std::string& a : r.args) command += " " + test::shell_quote(a);
    const test::CommandResult got = test::run_command(dir.path().string(), command);
    const std::string row = ::testing::PrintToString(r.args) + " " + r.env;
    EXPECT_EQ(got.exit_status, r.exit) << row << "\n" << got.err;
    EXPECT_EQ(got.out, r.out) << row;
    if (r.err.size() == 1 && r.err[0].empty()) {
      EXPECT_EQ(got.err, "") << row;
      continue;
    }
    size_t at = 0;
    for (const std::string& text : r.err) {
      at = got.err.find(text, at);
      ASSERT_NE(at, std::string::npos) << row << ": no \"" << text << "\" in\n" << got.err;
    }
  }
}

TEST(QinfoCommand, BadCommandLinesPrintTheUsageOrTheWholeNumberMessage) {
  test::ScratchDir dir;
  ASSERT_TRUE(sample().write_files(dir.path().string(), "cust"));
  const std::vector<std::vector<std::string>> usage = {
      {}, {"cust"}, {"cust", "size", "0", "0", "0"}, {"-x", "cust", "size"}, {"-p", "cust", "1"}};
  const std::vector<std::vector<std::string>> counts = {
      {"cust", "size", "-1"}, {"cust", "size", "0", "1x"}, {"cust", "size", "99999999999"}};
  for (const auto* list : {&usage, &counts}) {
    for (const auto& args : *list) {
      std::string command = test::shell_quote(test::command_path("qinfo"));
      for (const std::string& a : args) command += " " + test::shell_quote(a);
      const test::CommandResult r = test::run_command(dir.path().string(), command);
      const std::string row = ::testing::PrintToString(args);
      EXPECT_EQ(r.exit_status, 1) << row;
      EXPECT_EQ(r.out, "") << row;
      if (list == &usage) {
        EXPECT_EQ(r.err, "usage: qinfo [-k|-s|-n|-p] file item [key [segment]]\n") << row;
      } else {
        EXPECT_EQ(r.err.rfind("qinfo: ", 0), 0u) << row << r.err;
        EXPECT_NE(r.err.find("is not a whole number of"), std::string::npos) << row << r.err;
      }
    }
  }
}

TEST(QinfoArgs, CountsAreDigitsOnlyWithinThirtyTwoBits) {
  int32_t n = -1;
  EXPECT_TRUE(tool::parse_count("0", 0, &n));
  EXPECT_EQ(n, 0);
  EXPECT_TRUE(tool::parse_count("2147483647", 0, &n));
  EXPECT_EQ(n, 2147483647);
  for (const char* bad : {"2147483648", "", "+1", static_cast<const char*>(nullptr)}) {
    EXPECT_FALSE(tool::parse_count(bad, 0, &n)) << (bad ? bad : "null");
  }
  EXPECT_FALSE(tool::parse_count("0", 1, &n));  // below the least allowed
  EXPECT_EQ(n, 2147483647);                     // failures leave the result alone
}

}  // namespace
}  // namespace ismgr
