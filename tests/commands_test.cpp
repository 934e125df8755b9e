// End-to-end runs of qcreate and qinfo: command lines, exit codes, messages.
#include <gtest/gtest.h>

#include <sstream>

#include "support/data_rows.h"
#include "support/isam_builder.h"
#include "support/run_command.h"
#include "support/scratch_dir.h"
#include "tool/create_details.h"
#include "tool/qinfo_args.h"

namespace ismgr {
namespace {

using test::command_path;
using test::run_command;
using testing::IsamBuilder;
using testing::KeySpec;
using testing::SegmentSpec;

// End-to-end tests of the qcreate command.
const std::string kCust =
    "FILE\n"
    "  NAME fromxdl\n"
    "RECORD\n"
    "  SIZE 80\n"
    "KEY 0\n"
    "  START 1\n"
    "  LENGTH 6\n";

// The runs of tests/data/qcreate_runs.tsv.
TEST(Qcreate, RunsTable) {
  for (const auto& r : test::data_rows("qcreate_runs.tsv")) {
    test::ScratchDir dir;
    dir.write("cust.xdl", kCust);
    if (!r[2].empty()) dir.write("x.xdl", r[2][0] == '@' ? kCust + r[2].substr(1) : r[2]);
    const auto got =
        run_command(dir.path().string(), r[0] + " " + command_path("qcreate") + " " + r[1]);
    EXPECT_EQ(got.exit_status, r.number(3)) << r.where << "\n" << got.err;
    EXPECT_EQ(got.out, "") << r.where;
    EXPECT_TRUE(r.fields.size() > 5 || got.err.empty()) << r.where << "\n" << got.err;
    size_t at = 0;
    for (size_t i = 5; i < r.fields.size(); ++i) {
      at = got.err.find(r[i], at);
      ASSERT_NE(at, std::string::npos) << r.where << ": no \"" << r[i] << "\" in\n" << got.err;
    }
    if (r[4].empty()) {
      EXPECT_FALSE(dir.exists("x.ism") || dir.exists("x.is1") || dir.exists("fromxdl.ism"))
          << r.where;
    } else {
      EXPECT_EQ(dir.read(r[4]).size(), 8192u + 4096u) << r.where;
    }
  }
}

TEST(Qcreate, ExistingFileNeedsReplaceAndOptionsAndRevisionReachTheFile) {
  test::ScratchDir dir;
  dir.write("cust.xdl", kCust);
  const auto qcreate = [&](const std::string& args) {
    return run_command(dir.path().string(), command_path("qcreate") + " " + args);
  };
  dir.write("mine.ism", "keep me");
  auto r = qcreate("cust.xdl mine");
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_TRUE(r.err.starts_with(
      "\n%QCREATE-E-40: Existing file, cannot overwrite\n%QCREATE-I-01: File specified was "))
      << r.err;
  EXPECT_EQ(dir.read("mine.ism"), "keep me");
  r = qcreate("-r cust.xdl mine");
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(dir.read("mine.ism").size(), 8192u + 4096u);
  ASSERT_EQ(qcreate("cust.xdl 'opt,page=1024'").exit_status, 0);
  EXPECT_EQ(static_cast<uint8_t>(dir.read("opt.ism").at(5)), 4);  // page units
  r = run_command(dir.path().string(), "ISAMC_REV=4 " + command_path("qcreate") + " cust.xdl r4");
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(static_cast<uint8_t>(dir.read("r4.ism").at(2)), 4);
}

TEST(CreateDetails, Sentences) {
  for (const auto& r : test::data_rows("detail_sentences.tsv")) {
    const auto text = [&](size_t i) { return r[i] == "-" ? nullptr : r[i].c_str(); };
    EXPECT_EQ(tool::create_detail_sentence(r.number(0), text(1), r.number(2), text(3)),
              r.fields.size() > 4 ? r[4] : "")
        << r.where;
  }
}

// End-to-end runs of the qinfo command on crafted files: the command line,
// exit codes and message texts (the answers themselves are the file query's).
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

// The runs of tests/data/qinfo_runs.tsv.
TEST(QinfoCommand, RunsTable) {
  test::ScratchDir dir;
  IsamBuilder num;
  KeySpec k = KeySpec::alpha("NUM", 0, 8, 0x20);
  k.segments[0].type = 0x24;
  ASSERT_TRUE(sample().write_files(dir.path().string(), "cust"));
  ASSERT_TRUE(num.record_length(50)
                  .add_key(k)
                  .null_values({4, 1, 2, 3})
                  .write_files(dir.path().string(), "num"));
  ASSERT_TRUE(sample().poke_index(0, {0x34, 0x12}).write_files(dir.path().string(), "noindex"));
  ASSERT_TRUE(sample().magic(0x6CA6).write_files(dir.path().string(), "foreign"));
  const auto in_dir = [&](std::string s) {
    const size_t at = s.find('@');
    return at == std::string::npos ? s : s.replace(at, 1, dir.path().string());
  };
  for (const auto& r : test::data_rows("qinfo_runs.tsv")) {
    std::string command = r[0] + " " + test::shell_quote(test::command_path("qinfo"));
    std::istringstream args(r[1]);
    for (std::string a; args >> a;) command += " " + test::shell_quote(in_dir(a));
    const test::CommandResult got = test::run_command(dir.path().string(), command);
    EXPECT_EQ(got.exit_status, r.number(2)) << r.where << "\n" << got.err;
    EXPECT_EQ(got.out, in_dir(r[3])) << r.where;
    EXPECT_TRUE(r.fields.size() > 4 || got.err.empty()) << r.where << "\n" << got.err;
    size_t at = 0;
    for (size_t i = 4; i < r.fields.size(); ++i) {
      at = got.err.find(r[i], at);
      ASSERT_NE(at, std::string::npos) << r.where << ": no \"" << r[i] << "\" in\n" << got.err;
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
