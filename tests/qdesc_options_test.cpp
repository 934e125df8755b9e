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

// The options a command line sets, as letters: g x b c(hange tracking key)
// t(emporary index), then "|temporary name", then " > file file ...";
// "usage" when the usage line is due.
std::string scanned(std::vector<const char*> args) {
  const CommandLine l = scan(args);
  if (l.usage) return "usage";
  const RunOptions& o = l.options;
  std::string s = std::string(o.generate ? "g" : "") + (o.xdl ? "x" : "") + (o.bare ? "b" : "") +
                  (o.change_tracking_key ? "c" : "") + (o.temp_key ? "t|" + o.temp_name : "") +
                  " >";
  for (const std::string& f : l.files) s += " " + f;
  return s;
}

TEST(OptionScan, Table) {
  const struct {
    std::vector<const char*> args;
    const char* expected;
  } rows[] = {
      {{"qdesc"}, "usage"},  // no file names
      {{"qdesc", "-x"}, "usage"},
      {{"qdesc", "-q", "file"}, "usage"},  // unknown letters
      {{"qdesc", "-bz", "file"}, "usage"},
      {{"qdesc", "-", "-"}, "usage"},
      {{"qdesc", "file"}, " > file"},
      {{"qdesc", "-Gx", "-B", "CUST.ISM"}, "gxb > CUST.ISM"},  // any case, combined
      {{"qdesc", "-c", "file"}, " > file"},                    // c needs t
      {{"qdesc", "-cT", "file"}, "c > file"},
      {{"qdesc", "-Ct", "file"}, "c > file"},
      {{"qdesc", "-cx", "file"}, "x > file"},    // c alone goes on with the next letter
      {{"qdesc", "-ctb", "file"}, "bc > file"},  // the t consumed by c is no temporary index
      {{"qdesc", "-bttmp/k.tmp.x", "main"}, "bt|tmp/k.tmp.x > main"},  // the rest is the name
      {{"qdesc", "-t", "-x", "main"}, "x > main"},
      {{"qdesc", "-", "a", "-x", "b"}, " > a -x b"},  // the first non-option starts the names
  };
  for (const auto& r : rows) EXPECT_EQ(scanned(r.args), r.expected) << r.args.back();
  std::string notices;
  scan({"qdesc", "-t", "-x", "main"}, &notices);
  EXPECT_EQ(notices, "Invalid use of option T\n");
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

}  // namespace
}  // namespace ismgr::tool
