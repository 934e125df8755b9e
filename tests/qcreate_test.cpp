// End-to-end tests of the qcreate command.
#include <gtest/gtest.h>

#include <string>

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

class QcreateTest : public ::testing::Test {
 protected:
  test::CommandResult qcreate(const std::string& args) {
    return run_command(dir_.path().string(), command_path("qcreate") + " " + args);
  }
  test::ScratchDir dir_;
};

TEST_F(QcreateTest, CreatesQuietly) {
  dir_.write("cust.xdl", kCust);
  auto r = qcreate("cust.xdl mine");
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  const std::string index = dir_.read("mine.ism");
  ASSERT_EQ(index.size(), 8192u + 4096u);
  EXPECT_EQ(get_u16(reinterpret_cast<const uint8_t*>(index.data())), 0x5CA5);
  EXPECT_TRUE(dir_.exists("mine.is1"));
  // Without a file the description's NAME names it; the default extension
  // of the description is .xdl.
  r = qcreate("cust");
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_TRUE(dir_.exists("fromxdl.ism"));
}

// A mistyped keyword is named on standard error: alone it is dropped (the
// file is made with the default it stood for), and where it hid a required
// keyword both lines tell the user what happened.
TEST_F(QcreateTest, UnknownWordsAreNamed) {
  dir_.write("typo.xdl", std::string(kCust) + "  TYPO decimal\n");
  auto r = qcreate("typo.xdl typo");
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "qcreate: \"TYPO\" is not a known keyword and was ignored (with the rest of its "
            "line)\n");
  dir_.write("lenght.xdl", "FILE\n  NAME x\nRECORD\n  SIZE 80\nKEY 0\n  START 1\n  LENGHT 6\n");
  r = qcreate("lenght.xdl lenght");
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_NE(r.err.find("qcreate: \"LENGHT\" is not a known keyword"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("required keyword LENGTH is missing"), std::string::npos) << r.err;
  EXPECT_FALSE(dir_.exists("lenght.ism"));
  // Comments and known keywords raise no such line.
  dir_.write("quiet.xdl", std::string("! a comment line\n") + kCust + "  TYPE alpha ! the type\n");
  r = qcreate("quiet.xdl quiet");
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.err, "");
}

TEST_F(QcreateTest, OptionsAfterTheName) {
  dir_.write("cust.xdl", kCust);
  auto r = qcreate("cust.xdl 'opt,page=1024,i=11:4'");
  ASSERT_EQ(r.exit_status, 0) << r.err;
  const std::string index = dir_.read("opt.ism");
  ASSERT_GT(index.size(), 8u);
  EXPECT_EQ(static_cast<uint8_t>(index[5]), 4);  // page units
  EXPECT_EQ(static_cast<uint8_t>(index[6]), 1);  // one portable integer
}

TEST_F(QcreateTest, ExistingFileNeedsReplace) {
  dir_.write("cust.xdl", kCust);
  ASSERT_EQ(qcreate("cust.xdl mine").exit_status, 0);
  dir_.write("mine.ism", "keep me");
  auto r = qcreate("cust.xdl mine");
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("\n%QCREATE-E-40: Existing file, cannot overwrite"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("%QCREATE-I-01: File specified was "), std::string::npos);
  EXPECT_EQ(dir_.read("mine.ism"), "keep me");
  r = qcreate("-r cust.xdl mine");
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(dir_.read("mine.ism").size(), 8192u + 4096u);
}

TEST_F(QcreateTest, MistypedKeywordsAreNamed) {
  // A value not allowed: the keyword, the value and the key are named.
  dir_.write("t.xdl", "FILE\nRECORD\n SIZE 80\nKEY 0\n START 1\n LENGTH 6\n TYPE decimall\n");
  auto r = qcreate("t.xdl x");
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_NE(r.err.find("\"decimall\""), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("TYPE"), std::string::npos);
  EXPECT_NE(r.err.find("key 0"), std::string::npos);
  EXPECT_NE(r.err.find("%QCREATE-E-82: "), std::string::npos);
  // The details come before the error line.
  EXPECT_LT(r.err.find("decimall"), r.err.find("%QCREATE-E-82"));
  // A mistyped required keyword is missed: its name is given.
  dir_.write("s.xdl", "FILE\nRECORD\n SIZZE 80\nKEY 0\n START 1\n LENGTH 6\n");
  r = qcreate("s.xdl x");
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_NE(r.err.find("required keyword SIZE is missing"), std::string::npos) << r.err;
  EXPECT_LT(r.err.find("\"SIZZE\" is not a known keyword"), r.err.find("SIZE is missing")) << r.err;
  // A number out of range.
  dir_.write("p.xdl", "FILE\n PAGE_SIZE 1000\nRECORD\n SIZE 80\nKEY 0\n START 1\n LENGTH 6\n");
  r = qcreate("p.xdl x");
  EXPECT_NE(r.err.find("value 1000 is out of range for keyword PAGE_SIZE"), std::string::npos)
      << r.err;
  EXPECT_FALSE(dir_.exists("x.ism"));
  EXPECT_FALSE(dir_.exists("x.is1"));
}

TEST_F(QcreateTest, UsageAndMissingDescription) {
  for (const char* args : {"", "-r", "a b c", "-x a"}) {
    auto r = qcreate(args);
    EXPECT_EQ(r.exit_status, 1) << args;
    EXPECT_EQ(r.err, "usage: qcreate [-r] description [file]\n") << args;
  }
  auto r = qcreate("nothere x");
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_NE(r.err.find("%QCREATE-E-57: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("nothere.xdl"), std::string::npos) << r.err;
}

TEST_F(QcreateTest, RevisionFromTheEnvironment) {
  dir_.write("cust.xdl", kCust);
  auto r =
      run_command(dir_.path().string(), "ISAMC_REV=4 " + command_path("qcreate") + " cust.xdl r4");
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(static_cast<uint8_t>(dir_.read("r4.ism")[2]), 4);
  r = run_command(dir_.path().string(), "ISAMC_REV=5 " + command_path("qcreate") + " cust.xdl r5");
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_NE(r.err.find("%QCREATE-E-30: "), std::string::npos) << r.err;
  EXPECT_FALSE(dir_.exists("r5.ism"));
}

TEST(CreateDetails, SentencesNameKeywordValueAndKey) {
  using tool::create_detail_sentence;
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
