// End-to-end tests of the qcreate command.
#include <gtest/gtest.h>

#include "support/data_rows.h"
#include "support/run_command.h"
#include "support/scratch_dir.h"
#include "tool/create_details.h"

namespace ismgr {
namespace {

using test::command_path;
using test::run_command;

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

}  // namespace
}  // namespace ismgr
