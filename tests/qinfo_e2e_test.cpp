// End-to-end runs of the qinfo command on crafted files: the command line,
// exit codes and message texts (the answers themselves are the file query's).
#include <gtest/gtest.h>

#include <sstream>

#include "support/data_rows.h"
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
