#include <gtest/gtest.h>

#include <cstdio>

#include "ismgr/isam/open_creation.h"
#include "ismgr/ismgr.h"
#include "support/golden.h"
#include "support/run_command.h"
#include "support/scratch_dir.h"

namespace ismgr {
namespace {

// The public C interface (ismgr/ismgr.h) over files it creates itself: the
// two record forms of the queries against their text forms, the key lookups,
// the description round trip (describe, create from it, describe again) and
// the status paths of a host program.
const char kDescription[] =
    "FILE;RECORD;SIZE 60;KEY 0;NAME id;START 1;LENGTH 8;"
    "KEY 1;NAME city;START 9:21;LENGTH 12:4;TYPE nocase:integer;DUPLICATES yes;";

class ApiTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(ismgr_init(), nullptr); }
  void TearDown() override { set_isam_create(nullptr); }
  ismgr_channel* open(const std::string& leaf) {
    return ismgr_open(dir_.file(leaf).c_str(), ISMGR_MODE_INPUT | ISMGR_MODE_ISAM, 0, 0, nullptr,
                      nullptr);
  }
  // The bare XDL description, in a buffer of the length the first call gives.
  std::string describe(ismgr_channel* ch) {
    size_t length = 0;
    ismgr_describe(ch, ISMGR_FORMAT_XDL, ISMGR_DESCRIBE_BARE, "c", nullptr, 0, &length);
    std::string text(length + 1, 'x');
    EXPECT_EQ(ismgr_describe(ch, ISMGR_FORMAT_XDL, ISMGR_DESCRIBE_BARE, "c", text.data(),
                             text.size(), nullptr),
              0);
    return text.substr(0, length);
  }
  test::ScratchDir dir_;
};

TEST_F(ApiTest, RecordsAgreeWithTextsAndKeysAreFound) {
  ASSERT_EQ(ismgr_create(dir_.file("c").c_str(), kDescription, 0), 0);
  ismgr_channel* ch = open("c");
  ASSERT_NE(ch, nullptr);
  for (int32_t key = 0; key < 2; ++key) {
    ismgr_key_params p;
    char text[91] = {}, model[128];
    ASSERT_EQ(ismgr_key_record(ch, key, &p), 0);
    ASSERT_EQ(ismgr_key_text(ch, key, text), 90);
    int n = std::snprintf(model, sizeof model, "%05d%03d%d%d%d%15s", p.start, p.size, p.duplicates,
                          p.ascending, p.modifiable, p.name);
    for (int s = 0; s < 8; ++s) n += std::snprintf(model + n, 6, "%05d", p.seg_start[s]);
    for (int s = 0; s < 8; ++s) n += std::snprintf(model + n, 4, "%03d", p.seg_length[s]);
    EXPECT_STREQ(text, model);
  }
  EXPECT_EQ(ismgr_key_by_name(ch, "city", 4), 1);
  EXPECT_EQ(ismgr_key_by_position(ch, 8, 12), 1);
  EXPECT_EQ(ismgr_key_by_name(ch, "zip", 3), -1);
  EXPECT_EQ(ismgr_last_status(), 8);

  ismgr_file_summary sum;
  char text[32], model[64];
  ASSERT_EQ(ismgr_file_summary_record(ch, &sum), 0);
  ASSERT_EQ(ismgr_file_summary_text(ch, text), 31);
  std::snprintf(model, sizeof model, "%05d%05d%03d99999999%08u%02d", sum.record_size, sum.key_start,
                sum.key_size, 99999999u - (999999999u - sum.records_left), sum.key_count);
  EXPECT_STREQ(text, model);
  EXPECT_EQ(sum.max_records, 999999999u);
  ismgr_call_args store = {};
  EXPECT_EQ(ismgr_call(ch, 4, &store), -1);  // records are not part of this system
  EXPECT_EQ(ismgr_last_status(), 63);
  EXPECT_EQ(ismgr_close(ch, 0, nullptr), 0);
}

TEST_F(ApiTest, DescriptionCreatesTheSameLayoutAgain) {
  ASSERT_EQ(ismgr_create(dir_.file("c").c_str(), kDescription, 0), 0);
  EXPECT_EQ(ismgr_create(dir_.file("c").c_str(), kDescription, 0), 40);
  ismgr_channel* ch = open("c");
  ASSERT_NE(ch, nullptr);
  const std::string text = describe(ch);
  dir_.write("copy.xdl", text);
  char cut[10];
  ASSERT_EQ(
      ismgr_describe(ch, ISMGR_FORMAT_XDL, ISMGR_DESCRIBE_BARE, "c", cut, sizeof cut, nullptr), 0);
  EXPECT_EQ(std::string(cut), text.substr(0, 9));
  ismgr_close(ch, 0, nullptr);

  ASSERT_EQ(ismgr_create(dir_.file("copy").c_str(), ("@" + dir_.file("copy.xdl")).c_str(), 0), 0);
  ch = open("copy");
  ASSERT_NE(ch, nullptr);
  EXPECT_EQ(describe(ch), text);
  EXPECT_EQ(ismgr_describe(ch, 7, 0, "c", cut, sizeof cut, nullptr), 1);
  ismgr_close(ch, 0, nullptr);
}

void collect(void* user, int code, const char*, int64_t, const char*) {
  static_cast<std::vector<int>*>(user)->push_back(code);
}

TEST_F(ApiTest, FailuresLeaveTheirStatus) {
  EXPECT_EQ(open("missing"), nullptr);
  EXPECT_EQ(ismgr_last_status(), 57);
  EXPECT_STREQ(ismgr_status_text(57), "File not found");
  EXPECT_EQ(ismgr_status_text(85), nullptr);
  ::ismgr_status* own = ismgr_status_new();
  EXPECT_EQ(ismgr_open_with_status(nullptr, dir_.file("x@y").c_str(), ISMGR_MODE_INPUT, 0, 0,
                                   nullptr, nullptr, own),
            nullptr);
  EXPECT_EQ(ismgr_status_code(own), 58);
  ismgr_status_free(own);
  EXPECT_EQ(ismgr_last_status(), 57);  // the default block again, not the freed one
  EXPECT_EQ(ismgr_close(nullptr, 0, nullptr), -1);

  std::vector<int> codes;
  ismgr_set_detail_hook(collect, &codes);
  ASSERT_EQ(ismgr_create(dir_.file("c").c_str(), kDescription, 0), 0);
  ismgr_channel* ch = open("c");
  int32_t n = 0;
  EXPECT_EQ(ismgr_file_number(ch, "num", &n), -1);
  EXPECT_EQ(ismgr_last_status(), 32);
  ismgr_set_detail_hook(nullptr, nullptr);
  EXPECT_EQ(codes, (std::vector<int>{1052, 1142}));
  ismgr_close(ch, 0, nullptr);
}

// The installed package as a host program meets it: tests/install/
// host_example.sh installs the build into a scratch prefix, checks what lands
// there (commands, manual pages, library, the one public header, the CMake
// package and ismgr.pc), builds examples/host against it with CMake and with
// pkg-config and cc, and runs both on the bundled example files. Their output
// is the golden file's.
TEST(Install, HostExampleBuildsAgainstTheInstalledPackage) {
#if defined(ISMGR_SANITIZED)
  GTEST_SKIP() << "an instrumented library needs the sanitizer runtime in every host";
#elif defined(_WIN32)
  GTEST_SKIP() << "the install script is a POSIX shell script";
#endif
  test::ScratchDir dir;
  const std::string script = std::string(ISMGR_SOURCE_DIR) + "/tests/install/host_example.sh";
  auto r = test::run_command(dir.path().string(), "sh " + test::shell_quote(script) + " " +
                                                      test::shell_quote(ISMGR_BIN_DIR) + " " +
                                                      test::shell_quote(ISMGR_SOURCE_DIR) + " " +
                                                      test::shell_quote(dir.path().string()) + " " +
                                                      test::shell_quote(ISMGR_CMAKE_GENERATOR));
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_TRUE(test::matches_golden("host/examples.txt", r.out));
}

}  // namespace
}  // namespace ismgr
