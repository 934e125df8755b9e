// End-to-end runs of the qinfo command on crafted files.
#include <gtest/gtest.h>

#include <cstdlib>
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

using Outcome = test::CommandResult;
using test::shell_quote;

class QinfoTest : public ::testing::Test {
 protected:
  // Runs qinfo with `args` (and `env` assignments before it) in the scratch
  // directory; collects its exit status and both outputs.
  Outcome qinfo(const std::vector<std::string>& args, const std::string& env = "") {
    std::string command = env + " " + shell_quote(test::command_path("qinfo"));
    for (const std::string& a : args) command += " " + shell_quote(a);
    return test::run_command(dir_.path().string(), command);
  }
  void write(const IsamBuilder& b, const std::string& base = "cust") {
    ASSERT_TRUE(b.write_files(dir_.path().string(), base));
  }
  std::string path(const std::string& leaf) const { return dir_.file(leaf); }

  test::ScratchDir dir_;
};

// CUSTNO at 5 (duplicates at the end), and a three-segment key MULTI.
IsamBuilder sample() {
  IsamBuilder b;
  b.revision(6).record_length(120).file_flags(0x04);
  b.add_key(KeySpec::alpha("CUSTNO", 4, 10, 0x04 | 0x02));
  KeySpec multi;
  multi.name = "MULTI";
  multi.segments = {SegmentSpec{0x21, 20, 6}, SegmentSpec{0x04, 30, 4}, SegmentSpec{0x28, 40, 2}};
  b.add_key(multi);
  b.counts(77, 0, 1, 0);
  b.times(1700000000, 0, 0, 0);
  b.file_text_prefixed("Customer master");
  return b;
}

// ---------------------------------------------------------------------------
// Answers.
// ---------------------------------------------------------------------------
TEST_F(QinfoTest, NumberTextAndFoptsItems) {
  write(sample());
  Outcome r = qinfo({"cust", "size"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out, "120\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(qinfo({"cust", "NUMR"}).out, "77\n");
  EXPECT_EQ(qinfo({"cust", "fopts"}).out, "4\tFIXED, COMPRESS\n");
  EXPECT_EQ(qinfo({"cust", "string"}).out, "start=5, length=10, name=CUSTNO, dups, atend\n");
  EXPECT_EQ(qinfo({"cust", "createdate"}).out, "Tue Nov 14 22:13:20 2023\n");
  EXPECT_EQ(qinfo({"cust", "cleardate"}).out, "NODATE\n");
  EXPECT_EQ(qinfo({"cust", "putnote"}).out, "Customer master\n");
  EXPECT_EQ(qinfo({"cust", "init_all"}).out, "\n");
  EXPECT_EQ(qinfo({"cust", "filename"}).out, std::string("cust.ism") + "\n");
  // The name as the open expanded it: the default extension added.
  EXPECT_EQ(qinfo({path("cust"), "filename"}).out, path("cust.ism") + "\n");
  EXPECT_EQ(qinfo({path("cust"), "FILEN"}).out, path("cust.ism") + "\n");
}

TEST_F(QinfoTest, KeyAndSegmentArguments) {
  write(sample());
  EXPECT_EQ(qinfo({"cust", "kposition", "1"}).out, "21\n");
  EXPECT_EQ(qinfo({"cust", "kposition", "1", "2"}).out, "41\n");
  EXPECT_EQ(qinfo({"cust", "ktype", "1", "1"}).out, "I\n");
  EXPECT_EQ(qinfo({"cust", "keyname", "1"}).out, "MULTI\n");
  EXPECT_EQ(qinfo({"cust", "keylength", "0"}).out, "10\n");
}

TEST_F(QinfoTest, KeyTextStatisticsAndLookups) {
  write(sample());
  Outcome k = qinfo({"-k", "cust", "1"});
  EXPECT_EQ(k.exit_status, 0) << k.err;
  const std::string key1 = "00021012010" + std::string(10, ' ') + "MULTI" + "00021" + "00031" +
                           "00041" + std::string(25, '0') + "006004002" + std::string(15, '0') +
                           "\n";
  EXPECT_EQ(k.out, key1);
  EXPECT_EQ(k.out.size(), 91u);
  Outcome s = qinfo({"-s", "cust"});
  EXPECT_EQ(s.exit_status, 0) << s.err;
  EXPECT_EQ(s.out,
            "00120000050109999999999999922"
            "02\n");
  EXPECT_EQ(qinfo({"-n", "cust", "MULTI"}).out, "1\n");
  EXPECT_EQ(qinfo({"-n", "cust", "CUST"}).out, "0\n");
  // Positions count from 1 on the command line.
  EXPECT_EQ(qinfo({"-p", "cust", "21", "6"}).out, "1\n");
  EXPECT_EQ(qinfo({"-p", "cust", "5", "4"}).out, "0\n");
  EXPECT_EQ(qinfo({"-p", "cust", "22", "6"}).out, "0\n");  // no key: the primary
}

// ---------------------------------------------------------------------------
// Failures.
// ---------------------------------------------------------------------------
TEST_F(QinfoTest, KeyOutOfRangeIsExplainedThenReported) {
  write(sample());
  Outcome r = qinfo({"cust", "size", "5"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "qinfo: no key has that number\n"
            "qinfo: the number given was 5\n"
            "qinfo: the highest number allowed is 1\n"
            "\n%QINFO-E-02: Illegal key specified\n"
            "%QINFO-I-01: File specified was " +
                std::string("cust.ism") + "\n");
  r = qinfo({"cust", "size", "0", "1"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_NE(r.err.find("qinfo: the key has no segment of that number\n"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("%QINFO-E-79: Specified segment out of range\n"), std::string::npos);
}

TEST_F(QinfoTest, UnknownItemsAndLookupMisses) {
  write(sample());
  Outcome r = qinfo({"cust", "num"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err,
            "qinfo: no item of that name (or it abbreviates several)\n"
            "qinfo: the item asked for was \"num\"\n"
            "\n%QINFO-E-32: Invalid option\n"
            "%QINFO-I-01: File specified was " +
                std::string("cust.ism") + "\n");
  r = qinfo({"-n", "cust", "NOSUCHKEY"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("%QINFO-E-08: Illegal alpha key of reference\n"), std::string::npos);
  r = qinfo({"-k", "cust", "2"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_NE(r.err.find("%QINFO-E-02: Illegal key specified\n"), std::string::npos);
  r = qinfo({"cust", "nullvalue"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_NE(r.err.find("qinfo: No null value for key 0\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("%QINFO-E-80: Null value doesn't exist for key\n"), std::string::npos);
}

TEST_F(QinfoTest, Option45TurnsAPositionMissIntoAnError) {
  write(sample());
  Outcome r = qinfo({"-p", "cust", "22", "6"}, "VRXOPT=45");
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("%QINFO-E-07: Illegal decimal key of reference\n"), std::string::npos)
      << r.err;
  EXPECT_EQ(qinfo({"-p", "cust", "21", "6"}, "VRXOPT=45").out, "1\n");
}

TEST_F(QinfoTest, DamagedNullValueShowsTheTextAndTheStatus) {
  IsamBuilder b;
  b.record_length(50);
  KeySpec k;
  k.name = "NUM";
  k.flags = 0x20;
  k.segments = {SegmentSpec{0x24, 0, 8}};
  b.add_key(k).null_values({4, 1, 2, 3});
  write(b);
  Outcome r = qinfo({"cust", "string"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.out, "start=1, length=8, name=NUM, type=I, null=noreplicate, value_null=\n");
  EXPECT_NE(r.err.find("qinfo: NULLVALUE is invalid.\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("%QINFO-E-45: Invalid null value\n"), std::string::npos) << r.err;
}

TEST_F(QinfoTest, MissingFileIsReportedWithItsExpandedName) {
  Outcome r = qinfo({"nothere", "size"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("\n%QINFO-E-"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("%QINFO-I-01: File specified was "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("nothere"), std::string::npos) << r.err;
}

TEST_F(QinfoTest, DamagedIndexIsAnsweredFromTheDataFile) {
  IsamBuilder b = sample();
  b.poke_index(0, {0x34, 0x12});  // no longer an index file
  write(b);
  Outcome r = qinfo({"cust", "numkeys"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out, "2\n");
}

TEST_F(QinfoTest, IncompatibleFileIsNotRetried) {
  IsamBuilder b = sample();
  b.magic(0x6CA6);
  write(b);
  Outcome r = qinfo({"cust", "size"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_NE(r.err.find("%QINFO-E-43: "), std::string::npos) << r.err;
}

// ---------------------------------------------------------------------------
// The command line.
// ---------------------------------------------------------------------------
TEST_F(QinfoTest, WrongArgumentCountsAndOptionsPrintTheUsage) {
  write(sample());
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"cust"},
      {"cust", "size", "0", "0", "0"},
      {"-x", "cust", "size"},
      {"-s"},
      {"-s", "cust", "extra"},
      {"-k", "cust"},
      {"-n", "cust"},
      {"-p", "cust", "1"},
      {"", "size"},
  };
  for (const auto& args : bad) {
    Outcome r = qinfo(args);
    EXPECT_EQ(r.exit_status, 1) << ::testing::PrintToString(args);
    EXPECT_EQ(r.err, "usage: qinfo [-k|-s|-n|-p] file item [key [segment]]\n")
        << ::testing::PrintToString(args);
    EXPECT_EQ(r.out, "");
  }
}

TEST_F(QinfoTest, KeysAndSegmentsMustBeWholeNumbers) {
  write(sample());
  const std::vector<std::vector<std::string>> bad = {
      {"cust", "size", "abc"},         {"cust", "size", "-1"},   {"cust", "size", "0", "1x"},
      {"cust", "size", "99999999999"}, {"cust", "size", " 1"},   {"-k", "cust", "-2"},
      {"-p", "cust", "0", "4"},        {"-p", "cust", "1", "0"},
  };
  for (const auto& args : bad) {
    Outcome r = qinfo(args);
    EXPECT_EQ(r.exit_status, 1) << ::testing::PrintToString(args);
    EXPECT_EQ(r.err.rfind("qinfo: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("is not a whole number of"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
}

TEST(QinfoArgsTest, CountsAreDigitsOnlyWithinThirtyTwoBits) {
  int32_t n = -1;
  EXPECT_TRUE(tool::parse_count("0", 0, &n));
  EXPECT_EQ(n, 0);
  EXPECT_TRUE(tool::parse_count("2147483647", 0, &n));
  EXPECT_EQ(n, 2147483647);
  EXPECT_FALSE(tool::parse_count("2147483648", 0, &n));
  EXPECT_FALSE(tool::parse_count("", 0, &n));
  EXPECT_FALSE(tool::parse_count("+1", 0, &n));
  EXPECT_FALSE(tool::parse_count("0", 1, &n));
  EXPECT_FALSE(tool::parse_count(nullptr, 0, &n));
  EXPECT_EQ(n, 2147483647);  // failures leave the result alone
}

TEST(QinfoArgsTest, PositionsAreTurnedIntoOffsets) {
  const char* argv[] = {"qinfo", "-p", "f", "21", "6"};
  tool::QinfoArgs args;
  std::string error;
  ASSERT_EQ(tool::parse_qinfo_args(5, argv, &args, &error), tool::QinfoParse::kOk);
  EXPECT_EQ(args.mode, tool::QinfoMode::kKeyByPosition);
  EXPECT_EQ(args.start, 20);
  EXPECT_EQ(args.length, 6);
  EXPECT_EQ(args.file, "f");
}

}  // namespace
}  // namespace ismgr
