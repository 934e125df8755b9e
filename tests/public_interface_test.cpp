// What users touch: the public C interface, the installed package, and the
// qcreate and qinfo commands run end to end.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "ismgr/isam/open_creation.h"
#include "ismgr/ismgr.h"
#include "ismgr/runtime/channel_driver.h"
#include "support/data_rows.h"
#include "support/golden.h"
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

// The ISAM driver's close, followed by a flush error (42).
int64_t close_then_fail(void* handle, ChannelCall& call) {
  const int64_t result = isam_channel_driver().slots[kSlotClose](handle, call);
  call.control->status->code = 42;
  return result;
}

TEST_F(ApiTest, CreationFailingAfterwardsLeavesNoFileAndNamesIt) {
  EXPECT_EQ(open("missing"), nullptr);
  EXPECT_EQ(std::string(ismgr_last_file_name()), dir_.file("missing.ism"));
  ChannelDriver failing = isam_channel_driver();
  failing.slots[kSlotClose] = close_then_fail;
  const ChannelDriver* previous = set_channel_driver_for_test(ChannelDriverKind::kIsam, &failing);
  EXPECT_EQ(ismgr_create(dir_.file("c").c_str(), kDescription, 0), 42);
  set_channel_driver_for_test(ChannelDriverKind::kIsam, previous);
  EXPECT_EQ(std::string(ismgr_last_file_name()), dir_.file("c.ism"));
  EXPECT_EQ(ismgr_create(dir_.file("c").c_str(), kDescription, 0), 0);  // nothing was in the way
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

// End-to-end runs of qcreate and qinfo: command lines, exit codes, messages.
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
