#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/qdesc_fixture.h"
#include "support/stream_text.h"
#include "tool/describe_run.h"
#include "tool/options.h"

namespace ismgr::tool {
namespace {

using testing::FakeOpener;

CommandLine scan(std::vector<const char*> args, std::string* notices = nullptr) {
  StringSink sink;
  CommandLine line = scan_command_line(static_cast<int>(args.size()), args.data(), sink);
  if (notices) *notices = sink.text();
  return line;
}

TEST(OptionScan, UsageWithoutFileNamesOrOnUnknownLetters) {
  EXPECT_TRUE(scan({"qdesc"}).usage);
  EXPECT_TRUE(scan({"qdesc", "-x"}).usage);
  EXPECT_TRUE(scan({"qdesc", "-q", "file"}).usage);
  EXPECT_TRUE(scan({"qdesc", "-bz", "file"}).usage);
  EXPECT_TRUE(scan({"qdesc", "-", "-"}).usage);
  EXPECT_FALSE(scan({"qdesc", "file"}).usage);
}

TEST(OptionScan, LettersInAnyCaseAndCombined) {
  CommandLine l = scan({"qdesc", "-Gx", "-B", "CUST.ISM"});
  EXPECT_TRUE(l.options.generate);
  EXPECT_TRUE(l.options.xdl);
  EXPECT_TRUE(l.options.bare);
  EXPECT_FALSE(l.options.change_tracking_key);
  ASSERT_EQ(l.files.size(), 1u);
  EXPECT_EQ(l.files[0], "CUST.ISM");
}

TEST(OptionScan, ChangeTrackingNeedsCThenT) {
  CommandLine c = scan({"qdesc", "-c", "file"});
  EXPECT_FALSE(c.usage);
  EXPECT_FALSE(c.options.change_tracking_key);
  EXPECT_FALSE(c.options.temp_key);
  EXPECT_TRUE(scan({"qdesc", "-cT", "file"}).options.change_tracking_key);
  EXPECT_TRUE(scan({"qdesc", "-Ct", "file"}).options.change_tracking_key);
  // "c" alone goes on with the next letter.
  CommandLine cx = scan({"qdesc", "-cx", "file"});
  EXPECT_TRUE(cx.options.xdl);
  EXPECT_FALSE(cx.options.change_tracking_key);
  // The t consumed by c is no temporary index option.
  CommandLine ctb = scan({"qdesc", "-ctb", "file"});
  EXPECT_TRUE(ctb.options.bare);
  EXPECT_FALSE(ctb.options.temp_key);
}

TEST(OptionScan, TemporaryIndexTakesTheRestOfTheArgument) {
  CommandLine l = scan({"qdesc", "-bttmp/k.tmp.x", "main"});
  EXPECT_TRUE(l.options.bare);
  EXPECT_TRUE(l.options.temp_key);
  EXPECT_EQ(l.options.temp_name, "tmp/k.tmp.x");  // the x is part of the name
  EXPECT_FALSE(l.options.xdl);
  std::string notices;
  CommandLine bad = scan({"qdesc", "-t", "-x", "main"}, &notices);
  EXPECT_EQ(notices, "Invalid use of option T\n");
  EXPECT_FALSE(bad.usage);
  EXPECT_FALSE(bad.options.temp_key);
  EXPECT_TRUE(bad.options.xdl);
}

TEST(OptionScan, FirstNonOptionStartsTheFileNames) {
  CommandLine l = scan({"qdesc", "-", "a", "-x", "b"});
  EXPECT_FALSE(l.usage);
  EXPECT_FALSE(l.options.xdl);
  EXPECT_EQ(l.files, (std::vector<std::string>{"a", "-x", "b"}));
}

TEST(OutputNaming, ExtensionByFirstCharacterClass) {
  EXPECT_EQ(output_file_name("CUST.ISM", true), "CUST.XDL");
  EXPECT_EQ(output_file_name("CUST.ISM", false), "CUST.PAR");
  EXPECT_EQ(output_file_name("cust.ism", false), "cust.par");
  EXPECT_EQ(output_file_name("9data", false), "9data.par");
  EXPECT_EQ(output_file_name("cust", true), "cust.xdl");
  EXPECT_EQ(output_file_name("a.b.c", false), "a.b.par");
  EXPECT_EQ(output_file_name("", false), ".par");
}

TEST(OutputNaming, DotsInDirectoriesAreNoExtension) {
  EXPECT_EQ(output_file_name("../data/cust", false), "../data/cust.par");
  EXPECT_EQ(output_file_name("..\\data\\cust", false), "..\\data\\cust.par");
  EXPECT_EQ(output_file_name("./v1.2/Cust", true), "./v1.2/Cust.xdl");  // '.' decides the case
  EXPECT_EQ(output_file_name("v1.2/cust.ism", false), "v1.2/cust.par");
  EXPECT_EQ(output_file_name("Data/cust.ism", false), "Data/cust.PAR");
}

// The run over the command line, with a fake opener.
class RunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    out = std::tmpfile();
    err = std::tmpfile();
    ASSERT_NE(out, nullptr);
    ASSERT_NE(err, nullptr);
  }
  void TearDown() override {
    std::fclose(out);
    std::fclose(err);
  }
  static std::string read_all(std::FILE* f) {
    std::string text = test::stream_text(f);
    return text;
  }
  int run(std::vector<const char*> args) {
    return run_qdesc(static_cast<int>(args.size()), args.data(), opener, out, err,
                     [] { return int64_t{0}; });
  }
  FakeOpener opener;
  std::FILE* out = nullptr;
  std::FILE* err = nullptr;
};

TEST_F(RunTest, UsageGoesToStandardErrorWithStatus1) {
  EXPECT_EQ(run({"./qdesc"}), 1);
  EXPECT_EQ(run({"./qdesc", "-q", "file"}), 1);
  EXPECT_EQ(read_all(err), "usage: ./qdesc [-bgx] isam_files\nusage: ./qdesc [-bgx] isam_files\n");
  EXPECT_EQ(read_all(out), "");
  EXPECT_TRUE(opener.opened.empty());
}

TEST_F(RunTest, StopsAtTheFirstFailure) {
  opener.add("good1", testing::basic_file());
  opener.add("good2", testing::basic_file());
  EXPECT_EQ(run({"qdesc", "good1", "bad", "good2"}), 1);
  EXPECT_EQ(opener.opened, (std::vector<std::string>{"good1", "bad"}));
  EXPECT_EQ(opener.open_channels, 0);
  EXPECT_EQ(read_all(err),
            "\n%QDESC-E-20: Cannot open index file\n%QDESC-I-01: File specified was bad\n");
  std::string text = read_all(out);
  EXPECT_EQ(text.find("good1\n"), text.find('\n') + 1);  // banner, then the file line
}

TEST_F(RunTest, EveryFileDescribedGivesStatus0) {
  opener.add("a", testing::basic_file());
  opener.add("-x", testing::basic_file());
  EXPECT_EQ(run({"qdesc", "a", "-x"}), 0);
  std::string text = read_all(out);
  EXPECT_NE(text.find("\na\n"), std::string::npos);
  EXPECT_NE(text.find("\n-x\n"), std::string::npos);  // described as PAR
  EXPECT_EQ(text.find("FILE\n"), std::string::npos);
}

TEST_F(RunTest, TooLongFileTextFailsTheRunAfterACompleteDescription) {
  FileView f = testing::basic_file();
  f.file_flags2 = 0x10;
  f.text_length = 990;
  f.text_location = 0;
  f.text_alloc_word = 0x08000000 | 1;
  auto& e = opener.add("t", f);
  e.io.data.assign(990, 'q');
  opener.add("u", testing::basic_file());
  EXPECT_EQ(run({"qdesc", "t", "u"}), 1);
  EXPECT_EQ(opener.opened, (std::vector<std::string>{"t"}));
  std::string text = read_all(out);
  EXPECT_NE(text.find("\t;Minimum keys per block"), std::string::npos);  // keys written
}

class GenerateTest : public RunTest {
 protected:
  void SetUp() override {
    RunTest::SetUp();
    dir = (std::filesystem::temp_directory_path() /
           ("qdesc_gen_" + std::to_string(reinterpret_cast<uintptr_t>(this))))
              .string();
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir + "/sub.d");
  }
  void TearDown() override {
    std::filesystem::remove_all(dir);
    RunTest::TearDown();
  }
  static std::string file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<missing>";
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  std::string dir;
};

TEST_F(GenerateTest, WritesBesideTheInputAndNotToStandardOutput) {
  // The case of the extension follows the first character of the name as
  // given, so a name relative to the current directory is used.
  std::filesystem::path here = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  opener.add("CUST.ISM", testing::basic_file());
  opener.add("sub.d/cust", testing::basic_file());
  std::string abs = dir + "/Abs.ism";
  opener.add(abs, testing::basic_file());
  int rc = run({"qdesc", "-gx", "CUST.ISM", "sub.d/cust", abs.c_str()});
  std::filesystem::current_path(here);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(read_all(out), "");
  EXPECT_EQ(file(dir + "/CUST.XDL").substr(0, 6), "!\tCorv");
  EXPECT_NE(file(dir + "/sub.d/cust.xdl"), "<missing>");
  EXPECT_NE(file(dir + "/Abs.xdl"), "<missing>");  // the name begins with a slash
}

TEST_F(GenerateTest, OutputFileIsCreatedBeforeTheOpenAndKeptOnFailure) {
  std::string name = dir + "/missing";
  EXPECT_EQ(run({"qdesc", "-g", name.c_str()}), 1);
  EXPECT_EQ(file(dir + "/missing.par"), "");
}

TEST_F(GenerateTest, UncreatableOutputIsReported) {
  std::string name = dir + "/nodir/cust";
  opener.add(name, testing::basic_file());
  EXPECT_EQ(run({"qdesc", "-g", name.c_str()}), 1);
  EXPECT_TRUE(opener.opened.empty());
  EXPECT_EQ(read_all(err), "\n%QDESC-E-00: Can't create '" + dir + "/nodir/cust.par'\n");
}

}  // namespace
}  // namespace ismgr::tool
