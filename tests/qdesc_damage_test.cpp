// Damaged files: qdesc describes them or refuses them with a status, and
// never crashes or reads outside what it read. The description runs through
// the command's own entry (run_qdesc over the channel open), in process, so
// that the sanitizer build watches every byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "ismgr/runtime/context.h"
#include "support/damaged_headers.h"
#include "support/scratch_dir.h"
#include "support/stream_text.h"
#include "tool/describe_run.h"
#include "tool/open_description.h"

namespace ismgr::tool {
namespace {

using ismgr::testing::IsamBuilder;

class DamagedFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_process_for_test();
    ctl_ = ismgr_init();
    ASSERT_NE(ctl_, nullptr);
  }
  void TearDown() override { ismgr_shutdown(ctl_); }

  // Describes dir/f as `option` ("" or "-x"); the outcome must be a whole
  // description (status 0, text ending in a line end) or a refusal (status
  // 1 with the reporter's message, nothing on the description stream).
  int describe_or_refuse(const char* option, const std::string& what) {
    const std::string name = dir_.file("f");
    std::vector<const char*> argv{"qdesc"};
    if (*option) argv.push_back(option);
    argv.push_back(name.c_str());
    ChannelOpener opener(ctl_);
    std::FILE* out = std::tmpfile();  // fresh streams: one run must not mask the next
    std::FILE* err = std::tmpfile();
    if (out == nullptr || err == nullptr) {
      ADD_FAILURE() << "no temporary file";
      return -1;
    }
    const int rc =
        run_qdesc(static_cast<int>(argv.size()), argv.data(), opener, out, err, [] { return 0; });
    last_text_ = test::stream_text(out);
    const std::string error = test::stream_text(err);
    std::fclose(out);
    std::fclose(err);
    if (rc == 0) {
      EXPECT_EQ(error, "") << what;
      EXPECT_TRUE(!last_text_.empty() && last_text_.back() == '\n') << what;
      ++described_;
    } else {
      EXPECT_EQ(rc, 1) << what;
      EXPECT_EQ(last_text_, "") << what;
      EXPECT_EQ(error.rfind("\n%QDESC-E-", 0), 0u) << what << ": " << error;
      EXPECT_NE(error.find("%QDESC-I-01: File specified was "), std::string::npos) << what;
      ++refused_;
    }
    return rc;
  }
  // Writes a new file (rewriting one in place by truncating it is slow on
  // some file systems).
  void put(const std::string& leaf, const std::vector<uint8_t>& bytes, size_t length) {
    std::filesystem::remove(dir_.file(leaf));
    ASSERT_TRUE(IsamBuilder::write_file(
        dir_.file(leaf), std::vector<uint8_t>(bytes.begin(), bytes.begin() + length)));
  }
  void put(const IsamBuilder& b) {
    put("f.ism", b.index_file(), b.index_file().size());
    put("f.is1", b.data_file(), b.data_file().size());
  }

  ismgr_control* ctl_ = nullptr;
  test::ScratchDir dir_;
  int described_ = 0;
  int refused_ = 0;
  std::string last_text_;
};

// Either file cut short at every length through the header region (8192
// bytes) and in steps past it.
TEST_F(DamagedFiles, FilesCutAtEveryLength) {
  const IsamBuilder b = testing::damage_base();
  for (bool index : {true, false}) {
    const std::vector<uint8_t> bytes = index ? b.index_file() : b.data_file();
    put(b);
    // Every length of the index through its headers (the dynamic header
    // ends at 5776); the data file's copy and text in steps of 7.
    const size_t whole = index ? 6144 : 8192 + 512;
    for (size_t cut = 0; cut < bytes.size(); cut += (cut < whole ? (index ? 1 : 7) : 61)) {
      put(index ? "f.ism" : "f.is1", bytes, cut);
      describe_or_refuse(cut % 2 ? "-x" : "", std::to_string(cut) + (index ? " index" : " data"));
      if (HasFatalFailure()) return;
    }
  }
  // Without its index the data file's copy of the header is described.
  std::filesystem::remove(dir_.file("f.ism"));
  const std::vector<uint8_t> data = b.data_file();
  for (size_t cut = 0; cut < data.size(); cut += (cut < 8192 ? 13 : 61)) {
    put("f.is1", data, cut);
    describe_or_refuse(cut % 2 ? "-x" : "", "data alone cut at " + std::to_string(cut));
    if (HasFatalFailure()) return;
  }
  EXPECT_GT(refused_, 0);
  EXPECT_GT(described_, 0);
}

// The shared table of damaged headers, in both formats.
TEST_F(DamagedFiles, DamagedHeaders) {
  for (const testing::DamagedHeader& d : testing::damaged_headers()) {
    put(d.build());
    describe_or_refuse("", d.name);
    describe_or_refuse("-x", d.name);
    if (HasFatalFailure()) return;
  }
  EXPECT_GT(refused_, 0);
  EXPECT_GT(described_, 0);
}

}  // namespace
}  // namespace ismgr::tool
