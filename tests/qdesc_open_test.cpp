// Descriptions of files on disk, opened through the channel layer as the
// command opens them.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "ismgr/platform/platform.h"
#include "ismgr/runtime/context.h"
#include "support/isam_builder.h"
#include "support/scratch_dir.h"
#include "support/stream_text.h"
#include "tool/describe_run.h"
#include "tool/open_description.h"

namespace ismgr::tool {
namespace {

using ismgr::testing::IsamBuilder;
using ismgr::testing::KeySpec;

class DescribeFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_process_for_test();
    ctl = ismgr_init();
    ASSERT_NE(ctl, nullptr);
  }
  void TearDown() override { ismgr_shutdown(ctl); }

  static std::string slurp(std::FILE* f) {
    std::string text = test::stream_text(f);
    return text;
  }
  int run(std::vector<std::string> args) {
    std::vector<const char*> argv{"qdesc"};
    for (const std::string& a : args) argv.push_back(a.c_str());
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    ChannelOpener opener(ctl);
    int rc = run_qdesc(static_cast<int>(argv.size()), argv.data(), opener, out, err,
                       [] { return int64_t{0}; });
    stdout_text = slurp(out);
    stderr_text = slurp(err);
    std::fclose(out);
    std::fclose(err);
    return rc;
  }
  static IsamBuilder basic() {
    IsamBuilder b;
    b.record_length(100).add_key(KeySpec::alpha("CUST", 0, 10));
    return b;
  }
  bool has(const std::string& piece) const { return stdout_text.find(piece) != std::string::npos; }

  ismgr_control* ctl = nullptr;
  ismgr::test::ScratchDir dir;
  std::string stdout_text, stderr_text;
};

const char kEpoch[] = "Thu Jan 01 00:00:00 1970\n";

TEST_F(DescribeFileTest, ParOfABuiltFile) {
  ASSERT_TRUE(basic().write_files(dir.path().string(), "cust"));
  const std::string name = dir.file("cust");
  EXPECT_EQ(run({name}), 0) << stderr_text;
  EXPECT_EQ(stderr_text, "");
  EXPECT_EQ(stdout_text, std::string(";\tCorveth ISAM PAR File created ") + kEpoch + name +
                             "\n"
                             "100\t;Record size\n"
                             "1\t;Number of keys\n"
                             "\t;5ca5 magic, revision 6, 1 byte record overhead\n"
                             "\t;Default R6 file attributes:\n"
                             "\t;  Page size 4K\n"
                             "\t;Creation version 10.1.1c {Compat Level 6.0}\n"
                             "\t;Update revision count 0\n"
                             "\t;File created on " +
                             kEpoch +
                             "\t;10 byte longest key\n"
                             "\t;0 free index blocks, 0x0 free list head\n"
                             "\t;0 records, 0 free\n"
                             "CUST\n"
                             "\t;Primary alpha key\n"
                             "10\t;Key size\n"
                             "1\t;Start position\n"
                             "N\t;Duplicates allowed\n"
                             "A\t;Ascending/descending\n"
                             "\t;Root 0x2000, index depth 1\n"
                             "\t;Minimum keys per block 145\n");
}

TEST_F(DescribeFileTest, BareXdlOfABuiltFile) {
  ASSERT_TRUE(basic().write_files(dir.path().string(), "cust"));
  const std::string name = dir.file("cust");
  EXPECT_EQ(run({"-xb", name}), 0) << stderr_text;
  EXPECT_EQ(stdout_text, "FILE\n\tNAME\t\t\"" + name +
                             "\"\n\tADDRESSING\t32\n\tNETWORK_ENCRYPT\tno\n"
                             "\tTRACK_CHANGES\tno\n\tKEYS\t\t1\n\nRECORD\n\tSIZE\t\t100\n"
                             "\tFORMAT\t\tfixed\n\tCOMPRESS_DATA\tno\n\nKEY 0\n\tSTART\t\t1\n"
                             "\tLENGTH\t\t10\n\tTYPE\t\talpha\n\tORDER\t\tascending\n"
                             "\tNAME\t\t\"CUST\"\n\tDUPLICATES\tno\n\tMODIFIABLE\tno\n");
}

TEST_F(DescribeFileTest, MissingIndexIsDescribedFromTheDataFile) {
  IsamBuilder b = basic();
  b.counts(5, 1, 9, 2);
  ASSERT_TRUE(b.write_files(dir.path().string(), "cust"));
  std::filesystem::remove(dir.file("cust.ism"));
  EXPECT_EQ(run({dir.file("cust")}), 0) << stderr_text;
  const std::string warning =
      ";\tWARNING: Cannot access index file\n"
      ";\t         Parameters reflect initial state\n"
      ";\t         Run fsalvage to restore current state\n";
  EXPECT_EQ(stdout_text.substr(0, warning.size()), warning);
  EXPECT_TRUE(has("\n100\t;Record size\n"));
  EXPECT_TRUE(has("\nCUST\n\t;Primary alpha key\n"));
}

TEST_F(DescribeFileTest, IncompatibleFileIsNotRetried) {
  IsamBuilder b = basic();
  b.magic(0x6CA6);
  ASSERT_TRUE(b.write_files(dir.path().string(), "cust"));
  EXPECT_EQ(run({dir.file("cust")}), 1);
  EXPECT_EQ(stderr_text,
            "\n%QDESC-E-43: Encountered incompatible ISAM file\n"
            "%QDESC-I-01: File specified was " +
                dir.file("cust.ism") + "\n");
}

// The retry through the data file decides the status: its missing data file,
// refined by the channel open into "File not found".
TEST_F(DescribeFileTest, MissingFilesReportTheRetrysStatus) {
  EXPECT_EQ(run({dir.file("none"), dir.file("other")}), 1);
  EXPECT_EQ(stderr_text,
            "\n%QDESC-E-57: File not found\n"
            "%QDESC-I-01: File specified was " +
                dir.file("none.ism") + "\n");
  EXPECT_EQ(stdout_text, "");
}

// The name in a message is the file the open reached: through a logical
// name (found without regard to its case) and with the default extension
// in the case of the name's first letter.
TEST_F(DescribeFileTest, MessagesNameTheFileTheOpenReached) {
  IsamBuilder b = basic();
  b.magic(0x6CA6);
  ASSERT_TRUE(b.write_files(dir.path().string(), "Cust", ".ISM"));
  ASSERT_TRUE(platform::put_env(("QDESCLOGICAL=" + dir.path().string()).c_str()));
  EXPECT_EQ(run({"qdesclogical:Cust"}), 1);
  platform::put_env("QDESCLOGICAL=");
  EXPECT_EQ(stderr_text,
            "\n%QDESC-E-43: Encountered incompatible ISAM file\n"
            "%QDESC-I-01: File specified was " +
                dir.file("Cust.ISM") + "\n");
}

TEST_F(DescribeFileTest, InProgressSortIsMarkedOnce) {
  IsamBuilder b = basic();
  ASSERT_TRUE(b.write_files(dir.path().string(), "cust"));
  const std::string target = dir.file("rebuild.is1");
  ASSERT_TRUE(IsamBuilder::write_file(dir.file("cust.is1"), IsamBuilder::work_file_page(target)));
  ASSERT_TRUE(IsamBuilder::write_file(target, b.shifted_data_file()));
  ASSERT_TRUE(basic().write_files(dir.path().string(), "good"));
  EXPECT_EQ(run({"-x", dir.file("cust"), dir.file("good")}), 0) << stderr_text;
  const std::string warning =
      "!\tWARNING: In-progress sort detected\n!\t         You MUST re-run fmaint\n";
  EXPECT_EQ(stdout_text.substr(0, warning.size()), warning);
  EXPECT_EQ(stdout_text.find("In-progress", warning.size()), std::string::npos);  // not for good
  EXPECT_FALSE(has("Cannot access index file"));
}

TEST_F(DescribeFileTest, TemporaryKeyIndex) {
  IsamBuilder b = basic();
  b.counts(0, 0, 10, 0).times(100, 200, 0, 300);
  b.add_key(KeySpec::alpha("NAME", 10, 20));
  ASSERT_TRUE(b.write_files(dir.path().string(), "cust"));
  IsamBuilder t = basic();
  t.counts(0, 0, 7, 0).times(100, 200, 0, 300).free_list_head(86400);
  ASSERT_TRUE(IsamBuilder::write_file(dir.file("cust.tk"), t.temp_index_file()));
  EXPECT_EQ(run({"-t" + dir.file("cust.tk"), dir.file("cust")}), 0) << stderr_text;
  EXPECT_TRUE(
      has("\t;Tempkey index created on Fri Jan 02 00:00:00 1970\n"
          "\t;Update revision count 7 (+3 out of sync)\n"));
  EXPECT_TRUE(has("\t;0 records\nCUST\n\t;Temporary alpha key #2\n"));
  // The data file moved to the temporary index and was released with it:
  // the main file opens again at once.
  EXPECT_EQ(run({dir.file("cust")}), 0) << stderr_text;
}

TEST_F(DescribeFileTest, FilesAreNotChanged) {
  IsamBuilder b = basic();
  b.counts(3, 1, 5, 0).file_text_prefixed("note");
  ASSERT_TRUE(b.write_files(dir.path().string(), "cust"));
  auto before_index = b.index_file();
  auto before_data = b.data_file();
  auto time_index = std::filesystem::last_write_time(dir.file("cust.ism"));
  auto time_data = std::filesystem::last_write_time(dir.file("cust.is1"));
  EXPECT_EQ(run({dir.file("cust")}), 0) << stderr_text;
  EXPECT_EQ(run({"-x", dir.file("cust")}), 0) << stderr_text;
  EXPECT_TRUE(has("\tTEXT\t\t\"note\"\n"));
  std::string index = dir.read("cust.ism");
  std::string data = dir.read("cust.is1");
  EXPECT_EQ(std::vector<uint8_t>(index.begin(), index.end()), before_index);
  EXPECT_EQ(std::vector<uint8_t>(data.begin(), data.end()), before_data);
  EXPECT_EQ(std::filesystem::last_write_time(dir.file("cust.ism")), time_index);
  EXPECT_EQ(std::filesystem::last_write_time(dir.file("cust.is1")), time_data);
}

// Damaged files are described or refused, never a crash or a read beyond a
// buffer (run under the sanitizers by the asan build).
TEST_F(DescribeFileTest, TruncatedFilesAreDescribedOrRefused) {
  IsamBuilder b = basic();
  b.add_key(KeySpec::alpha("NAME", 10, 20, 0x20)).null_values({3, 'x', 'y', 0});
  b.file_text_prefixed(std::string(120, 't')).preallocation(10, true);
  const auto index = b.index_file();
  const auto data = b.data_file();
  for (size_t cut : {size_t{0}, size_t{1}, size_t{51}, size_t{60}, size_t{200}, size_t{4095},
                     size_t{4100}, size_t{5000}, index.size() - 1}) {
    ASSERT_TRUE(IsamBuilder::write_file(dir.file("cust.ism"),
                                        std::vector<uint8_t>(index.begin(), index.begin() + cut)));
    ASSERT_TRUE(IsamBuilder::write_file(dir.file("cust.is1"), data));
    int rc = run({dir.file("cust")});
    EXPECT_TRUE(rc == 0 || rc == 1) << cut;
    if (rc == 1) {
      EXPECT_EQ(stderr_text.substr(0, 10), "\n%QDESC-E-") << cut;
    }
  }
  ASSERT_TRUE(IsamBuilder::write_file(dir.file("cust.ism"), index));
  for (size_t cut : {size_t{0}, size_t{100}, size_t{4096}, data.size() - 1}) {
    ASSERT_TRUE(IsamBuilder::write_file(dir.file("cust.is1"),
                                        std::vector<uint8_t>(data.begin(), data.begin() + cut)));
    int rc = run({"-x", dir.file("cust")});
    EXPECT_TRUE(rc == 0 || rc == 1) << cut;
  }
}

}  // namespace
}  // namespace ismgr::tool
