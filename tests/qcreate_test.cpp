// End-to-end tests of the qcreate command.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ismgr/isam/isam_format.h"
#include "support/run_command.h"
#include "support/scratch_dir.h"
#include "tool/create_details.h"

namespace ismgr {
namespace {

using test::command_path;
using test::run_command;

const char kCust[] =
    "FILE\n"
    "  NAME fromxdl\n"
    "RECORD\n"
    "  SIZE 80\n"
    "KEY 0\n"
    "  START 1\n"
    "  LENGTH 6\n";

// One row per run in a fresh directory holding kCust as cust.xdl and the
// row's own description as x.xdl: {environment, arguments, description,
// exit status, texts stderr holds in order ("" alone: stderr empty), the
// index file made (empty: none may be left)}.
TEST(Qcreate, RunsTable) {
  const std::string usage = "usage: qcreate [-r] description [file]\n";
  const std::string known = "\" is not a known keyword";
  const auto sub = [](const std::string& from, const std::string& to) {
    std::string x = kCust;
    return x.replace(x.find(from), from.size(), to);
  };
  const std::string typo =
      "qcreate: \"TYPO\" is not a known keyword and was ignored (with the "
      "rest of its line)\n";
  const struct {
    const char* env;
    std::string args, xdl;
    int exit;
    std::vector<std::string> err;
    std::string made;
  } rows[] = {
      {"", "cust.xdl mine", "", 0, {""}, "mine.ism"},
      {"", "cust", "", 0, {""}, "fromxdl.ism"},  // NAME names it; .xdl by default
      // A mistyped keyword alone is dropped with its line, and named; comments are quiet.
      {"", "x.xdl typo", std::string(kCust) + "  TYPO decimal\n", 0, {typo}, "typo.ism"},
      {"", "x.xdl quiet", "! a comment\n" + sub("6\n", "6 ! the length\n"), 0, {""}, "quiet.ism"},
      // Where it hid a required keyword both lines tell what happened.
      {"",
       "x.xdl x",
       sub("LENGTH", "LENGHT"),
       1,
       {"qcreate: \"LENGHT" + known, "required keyword LENGTH is missing"},
       ""},
      {"",
       "x.xdl x",
       sub("SIZE", "SIZZE"),
       1,
       {"\"SIZZE" + known, "required keyword SIZE is missing"},
       ""},
      // A value not allowed: keyword, value and key named before the error.
      {"",
       "x.xdl x",
       std::string(kCust) + " TYPE decimall\n",
       1,
       {"\"decimall\"", "TYPE", "key 0", "%QCREATE-E-82: "},
       ""},
      {"",
       "x.xdl x",
       sub("RECORD", "PAGE_SIZE 1000\nRECORD"),
       1,
       {"value 1000 is out of range for keyword PAGE_SIZE"},
       ""},
      {"", "nothere x", "", 1, {"%QCREATE-E-57: ", "nothere.xdl"}, ""},
      {"ISAMC_REV=5", "cust.xdl x", "", 1, {"%QCREATE-E-30: "}, ""},
      {"", "", "", 1, {usage}, ""},
      {"", "-r", "", 1, {usage}, ""},
      {"", "a b c", "", 1, {usage}, ""},
      {"", "-x a", "", 1, {usage}, ""}};
  for (const auto& r : rows) {
    test::ScratchDir dir;
    dir.write("cust.xdl", kCust);
    if (!r.xdl.empty()) dir.write("x.xdl", r.xdl);
    const auto got = run_command(dir.path().string(),
                                 std::string(r.env) + " " + command_path("qcreate") + " " + r.args);
    const std::string row = r.args + " " + r.env;
    EXPECT_EQ(got.exit_status, r.exit) << row << "\n" << got.err;
    EXPECT_EQ(got.out, "") << row;
    if (r.err.size() == 1 && r.err[0].empty()) {
      EXPECT_EQ(got.err, "") << row;
    } else if (r.err.size() == 1 && r.err[0] == usage) {
      EXPECT_EQ(got.err, usage) << row;
    } else {
      size_t at = 0;
      for (const std::string& text : r.err) {
        at = got.err.find(text, at);
        ASSERT_NE(at, std::string::npos) << row << ": no \"" << text << "\" in\n" << got.err;
      }
    }
    if (r.made.empty()) {
      EXPECT_FALSE(dir.exists("x.ism") || dir.exists("x.is1") || dir.exists("fromxdl.ism")) << row;
    } else {
      EXPECT_EQ(dir.read(r.made).size(), 8192u + 4096u) << row;
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
  EXPECT_NE(r.err.find("\n%QCREATE-E-40: Existing file, cannot overwrite\n%QCREATE-I-01: File "
                       "specified was "),
            std::string::npos)
      << r.err;
  EXPECT_EQ(dir.read("mine.ism"), "keep me");
  r = qcreate("-r cust.xdl mine");
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(dir.read("mine.ism").size(), 8192u + 4096u);
  ASSERT_EQ(qcreate("cust.xdl 'opt,page=1024,i=11:4'").exit_status, 0);
  const std::string index = dir.read("opt.ism");
  EXPECT_EQ(static_cast<uint8_t>(index.at(5)), 4);  // page units
  EXPECT_EQ(static_cast<uint8_t>(index.at(6)), 1);  // one portable integer
  r = run_command(dir.path().string(), "ISAMC_REV=4 " + command_path("qcreate") + " cust.xdl r4");
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(static_cast<uint8_t>(dir.read("r4.ism").at(2)), 4);
}

TEST(CreateDetails, SentencesNameKeywordValueAndKey) {
  using tool::create_detail_sentence;  // the sentences the runs above do not reach
  EXPECT_EQ(create_detail_sentence(1218, "SI", 0, nullptr),
            "keyword SI is ambiguous or not allowed here");
  EXPECT_EQ(create_detail_sentence(1219, "SIZE", 0, nullptr),
            "keyword SIZE is given more than once");
  EXPECT_EQ(create_detail_sentence(1221, "START", 0, nullptr), "keyword START needs a value");
  EXPECT_EQ(create_detail_sentence(1224, "ORDER", 0, "d"),
            "value \"d\" is ambiguous for keyword ORDER");
  EXPECT_EQ(create_detail_sentence(1225, "3", 3, nullptr),
            "the error is in the description of key 3");
  EXPECT_EQ(create_detail_sentence(1054, "Key specified:", 2, nullptr), "Key specified: 2");
  EXPECT_EQ(create_detail_sentence(1142, "pgae=3", 0, nullptr),
            "invalid creation option \"pgae=3\"");
  EXPECT_EQ(create_detail_sentence(1149, nullptr, 0, nullptr), "");
}

}  // namespace
}  // namespace ismgr
