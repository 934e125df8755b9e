#include "ismgr/runtime/context.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "ismgr/platform/platform.h"
#include "ismgr/runtime/audit.h"
#include "ismgr/runtime/char_class.h"
#include "ismgr/runtime/config_internal.h"
#include "ismgr/runtime/status.h"
#include "support/detail_capture.h"

namespace ismgr {
namespace {

namespace fs = std::filesystem;

const char* const kEnvNames[] = {"VRXOPT",           "ISAMC_REV",           "SCSCOMPR",
                                 "CORVETHRT64",      "CORVETHRT32",         "CORVETH_NOLOCALE",
                                 "ISMGR_AUDIT",      "ISMGR_AUDIT_SRV",     "ISMGR_AUDIT_MODE",
                                 "ISMGR_AUDIT_FULL", "ISMGR_AUDIT_INTERNAL"};

// Every test starts from an unread configuration and a clean environment.
class ContextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kEnvNames) unsetenv(name);
    setenv("CORVETH_NOLOCALE", "1", 1);
    reset_process_for_test();
    dir_ = fs::temp_directory_path() /
           ("ismgr_ctx_" + std::to_string(platform::process_id()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    set_timed_wait_for_test(nullptr);
    set_allocation_failure_for_test(false);
    reset_process_for_test();
    for (const char* name : kEnvNames) unsetenv(name);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // Writes the backup-mode file <dir>/<vrx>/<file> holding `bytes`.
  std::string make_backup_file(const std::string& bytes, const char* vrx = "vrx",
                               const char* file = "corbackup.cfg") {
    fs::create_directories(dir_ / vrx);
    std::string path = (dir_ / vrx / file).string();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  static std::string word(uint32_t w) {
    std::string b(4, '\0');
    for (int i = 0; i < 4; ++i) b[i] = static_cast<char>((w >> (8 * i)) & 0xFF);
    return b;
  }

  fs::path dir_;
};

// ---------------------------------------------------------------------------
// Configuration read from the environment
// ---------------------------------------------------------------------------
TEST_F(ContextTest, OptionWordsFromVrxopt) {
  std::string all;
  for (int n = 1; n <= 64; ++n) all += std::to_string(n) + ",";
  const struct {
    const char* value;  // nullptr: unset
    uint32_t low, high;
  } cases[] = {
      {nullptr, 0, 0},
      {"3,40;99 x 0", 1u << 2, 1u << 7},
      // 4, 6 and 64 are outside the masks; 1, 32, 33 and 56 survive. A run of
      // digits too long for any integer is ignored without overflow.
      {"4 6 1 32 33 56 64 99999999999999999999999", (1u << 0) | (1u << 31), (1u << 0) | (1u << 23)},
      {all.c_str(), kOptionMaskLow, kOptionMaskHigh},
  };
  for (const auto& c : cases) {
    reset_process_for_test();
    if (c.value) setenv("VRXOPT", c.value, 1);
    ismgr_config* cfg = process_config();
    EXPECT_EQ(*cfg->options_low, c.low) << (c.value ? c.value : "unset");
    EXPECT_EQ(*cfg->options_high, c.high) << (c.value ? c.value : "unset");
  }
  reset_process_for_test();
  setenv("VRXOPT", "3,40;99 x 0", 1);
  EXPECT_TRUE(option_set(3));
  EXPECT_TRUE(option_set(40));
  EXPECT_FALSE(option_set(99));
  EXPECT_FALSE(option_set(0));
}

TEST_F(ContextTest, CreationRevisionAndItsNumberRule) {
  const struct {
    const char* value;  // nullptr: unset
    int revision;
  } cases[] = {{nullptr, 6}, {"text", 0}, {" 4xyz", 4}, {"99999999999999999999", 2147483647}};
  for (const auto& c : cases) {
    reset_process_for_test();
    if (c.value) setenv("ISAMC_REV", c.value, 1);
    EXPECT_EQ(process_config()->creation_revision, c.revision) << (c.value ? c.value : "unset");
  }
  EXPECT_EQ(c_atoi(nullptr), 0);
  EXPECT_EQ(c_atoi("  -12ab"), -12);
  EXPECT_EQ(c_atoi("+7"), 7);
  EXPECT_EQ(c_atoi("- 7"), 0);
  EXPECT_EQ(c_atoi("-99999999999999999999"), -2147483647 - 1);
}

TEST_F(ContextTest, FixedConfigurationValues) {
  ismgr_config* cfg = process_config();
  EXPECT_STREQ(cfg->default_ext_sequential, ".DDF");
  EXPECT_STREQ(cfg->default_ext_isam, ".ISM");
  EXPECT_EQ(cfg->mode_word1, 1u);
  EXPECT_EQ(cfg->mode_word2, 1u);
  EXPECT_EQ(eof_char(), 26);
}

TEST_F(ContextTest, CompressionSettingMarksEachContext) {
  setenv("SCSCOMPR", "0", 1);
  ASSERT_NE(current_context(), nullptr);
  EXPECT_FALSE(compression_setting());
  EXPECT_EQ(process_config()->flags & kConfigCompression, 0u);
  reset_process_for_test();
  setenv("SCSCOMPR", "2", 1);
  EXPECT_EQ(process_config()->flags & kConfigCompression, 0u);  // no context yet
  ASSERT_NE(current_context(), nullptr);
  EXPECT_TRUE(compression_setting());
  EXPECT_EQ(process_config()->flags & kConfigCompression, kConfigCompression);
}

TEST_F(ContextTest, LocaleAdaptationAndItsSuppression) {
  // Under the single-byte "C" locale no code above 127 is a letter, so the
  // adaptation clears the fixed upper-case class of 0xC1.
  setenv("LC_ALL", "C", 1);
  unsetenv("CORVETH_NOLOCALE");
  process_config();
  EXPECT_EQ(char_class(0xC1), 0u);
  EXPECT_EQ(char_class(0xFF), 0u);
  EXPECT_EQ(char_class('A'), 0x870u);
  reset_process_for_test();
  setenv("CORVETH_NOLOCALE", "0", 1);  // any value suppresses it, 0 included
  process_config();
  EXPECT_EQ(char_class(0xC1), 0x10u);
  unsetenv("LC_ALL");
}

// ---------------------------------------------------------------------------
// Thread context, status block, start-up and shutdown
// ---------------------------------------------------------------------------
TEST_F(ContextTest, ContextIsCreatedOnceAndWired) {
  EXPECT_EQ(existing_context(), nullptr);
  ismgr_control* ctl = current_context();
  ASSERT_NE(ctl, nullptr);
  EXPECT_EQ(current_context(), ctl);
  EXPECT_EQ(existing_context(), ctl);
  EXPECT_EQ(ctl->status, default_status());
  EXPECT_EQ(ctl->config, process_config());
  ASSERT_NE(ctl->shared_list, nullptr);
  EXPECT_EQ(ctl->shared_list->next, ctl->shared_list);
  EXPECT_EQ(ctl->shared_list->prev, ctl->shared_list);
  ASSERT_NE(ctl->current_name, nullptr);
  EXPECT_TRUE(ctl->description_text.empty());
  EXPECT_EQ(default_status()->handle, kNoHandle);
  EXPECT_EQ(default_status()->code, 0);
}

TEST_F(ContextTest, ShutdownReleasesAndAFreshContextFollows) {
  ismgr_control* ctl = ismgr_init();
  ASSERT_NE(ctl, nullptr);
  ASSERT_TRUE(ctl->description_text.obtain_fresh(10));
  ASSERT_TRUE(default_status()->record_buffer.obtain_fresh(100));
  ismgr_shutdown(ctl);
  EXPECT_EQ(existing_context(), nullptr);
  EXPECT_TRUE(default_status()->record_buffer.empty());
  ismgr_control* again = ismgr_init();
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(again->description_text.empty());
  // Shutdown without a context only frees the default block's buffers.
  ismgr_shutdown(again);
  ASSERT_TRUE(default_status()->block_buffer.obtain_fresh(1));
  ismgr_shutdown(nullptr);
  EXPECT_TRUE(default_status()->block_buffer.empty());
}

TEST_F(ContextTest, CloseContextFreesCallerStatusBuffersAndDefaultOnlyWhenFinal) {
  ismgr_control* ctl = current_context();
  ASSERT_NE(ctl, nullptr);
  ismgr_status own;
  ctl->status = &own;
  ASSERT_TRUE(own.block_buffer.obtain_fresh(5000));
  ASSERT_TRUE(default_status()->block_buffer.obtain_fresh(1));
  close_context(ctl, false);
  EXPECT_TRUE(own.block_buffer.empty());
  EXPECT_FALSE(default_status()->block_buffer.empty());
  EXPECT_EQ(existing_context(), nullptr);
  close_context(nullptr, true);  // no slot: nothing happens
  EXPECT_FALSE(default_status()->block_buffer.empty());
  ctl = current_context();
  close_context(ctl, true);
  EXPECT_TRUE(default_status()->block_buffer.empty());
}

TEST_F(ContextTest, EachThreadHasItsOwnContext) {
  ismgr_control* mine = current_context();
  ismgr_control* theirs = nullptr;
  bool theirs_closed = false;
  std::thread t([&] {
    theirs = current_context();
    ismgr_shutdown(theirs);
    theirs_closed = existing_context() == nullptr;
  });
  t.join();
  EXPECT_NE(theirs, nullptr);
  EXPECT_NE(theirs, mine);
  EXPECT_TRUE(theirs_closed);
  EXPECT_EQ(existing_context(), mine);
}

TEST_F(ContextTest, NameLookupCreatesTheContext) {
  setenv("ISMGR_TEST_NAME", "value", 1);
  EXPECT_STREQ(ismgr_getenv("ISMGR_TEST_NAME"), "value");
  EXPECT_NE(existing_context(), nullptr);
  EXPECT_EQ(ismgr_getenv("ISMGR_TEST_NAME_UNSET"), nullptr);
  EXPECT_EQ(ismgr_getenv(nullptr), nullptr);
  unsetenv("ISMGR_TEST_NAME");
}

// ---------------------------------------------------------------------------
// Work buffers
// ---------------------------------------------------------------------------
TEST(WorkBuffer, CapacityRule) {
  EXPECT_EQ(WorkBuffer::capacity_for(0), 4096u);
  EXPECT_EQ(WorkBuffer::capacity_for(1), 4096u);
  EXPECT_EQ(WorkBuffer::capacity_for(4095), 4096u);
  EXPECT_EQ(WorkBuffer::capacity_for(4096), 8192u);
  EXPECT_EQ(WorkBuffer::capacity_for(8191), 8192u);
  EXPECT_EQ(WorkBuffer::capacity_for(10000), 12288u);
  EXPECT_EQ(WorkBuffer::capacity_for(UINT64_MAX), 0u);
  EXPECT_EQ(WorkBuffer::capacity_for(UINT64_MAX - 4095 - 4096), UINT64_MAX - 4095);
}

TEST(WorkBuffer, FreshDropsAndKeepingKeeps) {
  WorkBuffer b;
  ASSERT_TRUE(b.obtain_fresh(100));
  EXPECT_EQ(b.capacity(), 4096u);
  std::memcpy(b.data(), "contents", 9);
  ASSERT_TRUE(b.obtain_keeping(5000));
  EXPECT_EQ(b.capacity(), 8192u);
  EXPECT_STREQ(b.chars(), "contents");
  b.data()[8191] = 1;  // the whole capacity is usable
  // Shrinking while keeping copies only what fits.
  ASSERT_TRUE(b.obtain_keeping(10));
  EXPECT_EQ(b.capacity(), 4096u);
  EXPECT_STREQ(b.chars(), "contents");
  b.release();
  EXPECT_TRUE(b.empty());
  EXPECT_EQ(b.capacity(), 0u);
  ASSERT_TRUE(b.obtain_keeping(1));  // keeping from empty
  EXPECT_EQ(b.capacity(), 4096u);
}

TEST(WorkBuffer, FailedAllocations) {
  WorkBuffer b;
  ASSERT_TRUE(b.obtain_fresh(10));
  std::memcpy(b.data(), "keep", 5);
  set_allocation_failure_for_test(true);
  // Keeping: left as it was.
  EXPECT_FALSE(b.obtain_keeping(9000));
  EXPECT_EQ(b.capacity(), 4096u);
  EXPECT_STREQ(b.chars(), "keep");
  // Fresh: left empty.
  EXPECT_FALSE(b.obtain_fresh(9000));
  EXPECT_TRUE(b.empty());
  EXPECT_EQ(b.capacity(), 0u);
  set_allocation_failure_for_test(false);
  // A size no allocation can hold fails the same way, without a crash.
  ASSERT_TRUE(b.obtain_fresh(1));
  EXPECT_FALSE(b.obtain_keeping(UINT64_MAX));
  EXPECT_EQ(b.capacity(), 4096u);
  EXPECT_FALSE(b.obtain_fresh(uint64_t{1} << 62));
  EXPECT_TRUE(b.empty());
}

// ---------------------------------------------------------------------------
// Backup mode
// ---------------------------------------------------------------------------
TEST_F(ContextTest, BackupModeOffWithoutInstallDirectory) {
  // The test program's own path holds no "VRX" component.
  ASSERT_EQ(platform::executable_path().find("/vrx/"), std::string::npos);
  ASSERT_NE(ismgr_init(), nullptr);
  EXPECT_FALSE(backup_mode_mapped());
  EXPECT_EQ(backup_mode_word(), 4u);
  EXPECT_EQ(startup_status(), 0);
}

TEST(InstallDirectory, FromTheProgramPath) {
  std::string dir = "unchanged";
  EXPECT_TRUE(install_dir_from_program("/opt/corp/Vrx/bin/qdesc", &dir));
  EXPECT_EQ(dir, "/opt/corp");
  EXPECT_TRUE(install_dir_from_program("/a/VRX/b/vrx/c", &dir));  // the first one
  EXPECT_EQ(dir, "/a");
  EXPECT_TRUE(install_dir_from_program("/vrx/qdesc", &dir));
  EXPECT_EQ(dir, "");
  dir = "unchanged";
  EXPECT_FALSE(install_dir_from_program("/opt/vrxtools/bin/qdesc", &dir));
  EXPECT_FALSE(install_dir_from_program("/opt/myvrx/qdesc", &dir));
  EXPECT_FALSE(install_dir_from_program("/opt/vrx", &dir));  // a file, not a directory
  EXPECT_FALSE(install_dir_from_program("", &dir));
  EXPECT_EQ(dir, "unchanged");
}

TEST_F(ContextTest, BackupWordIsMappedAndReadAfresh) {
  std::string path = make_backup_file(word(4) + "rest of the file");
  setenv("CORVETHRT64", dir_.c_str(), 1);
  setenv("CORVETHRT32", "/nonexistent", 1);  // the 64-bit name wins
  ASSERT_NE(ismgr_init(), nullptr);
  EXPECT_EQ(startup_status(), 0);
  ASSERT_TRUE(backup_mode_mapped());
  EXPECT_EQ(backup_mode_word(), 4u);
  {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.write(word(2).data(), 4);
  }
  EXPECT_EQ(backup_mode_word(), 2u);
}

TEST_F(ContextTest, BackupDirectoryAndFileFoundWithoutRegardToCase) {
  make_backup_file(word(0x01020304), "VRX", "CorBackup.CFG");
  setenv("CORVETHRT32", dir_.c_str(), 1);
  ASSERT_NE(ismgr_init(), nullptr);
  EXPECT_EQ(startup_status(), 0);
  ASSERT_TRUE(backup_mode_mapped());
  EXPECT_EQ(backup_mode_word(), 0x01020304u);  // little-endian
}

TEST_F(ContextTest, BackupFileHeldExclusivelyGives89) {
  std::string path = make_backup_file(word(0));
  platform::OpenOptions excl;
  excl.access = platform::Access::kReadWrite;
  excl.share = platform::kShareNone;
  platform::Handle holder = platform::open_file(path.c_str(), excl);
  ASSERT_NE(holder, platform::kInvalidHandle);
  setenv("CORVETHRT64", dir_.c_str(), 1);
  ASSERT_NE(ismgr_init(), nullptr);
  EXPECT_EQ(startup_status(), kStatusBackupInUse);
  EXPECT_EQ(startup_os_error(), static_cast<uint32_t>(platform::kErrSharingViolation));
  EXPECT_FALSE(backup_mode_mapped());
  platform::close_file(holder);
}

// An unusable backup-mode file leaves the word at its normal value 4; only a
// missing directory or a file too short to hold the word is an error.
TEST_F(ContextTest, UnusableBackupFiles) {
  enum Kind { kNoDirectory, kNoFile, kShortFile };
  for (Kind kind : {kNoDirectory, kNoFile, kShortFile}) {
    reset_process_for_test();
    fs::path install = dir_;
    if (kind == kNoDirectory) install = dir_ / "no" / "such";
    if (kind == kNoFile) fs::create_directories(dir_ / "vrx");
    if (kind == kShortFile) make_backup_file("ab");
    setenv("CORVETHRT64", install.c_str(), 1);
    ASSERT_NE(ismgr_init(), nullptr) << kind;
    EXPECT_EQ(startup_status(), kind == kNoFile ? 0 : kStatusBackupAccess) << kind;
    EXPECT_FALSE(backup_mode_mapped()) << kind;
    EXPECT_EQ(backup_mode_word(), 4u) << kind;
    // The directory holding the file is missing: "path not found", unlike a
    // missing file in an existing directory.
    if (kind == kNoDirectory) {
      EXPECT_EQ(startup_os_error(), static_cast<uint32_t>(platform::kErrPathNotFound));
    }
  }
}

// The injectable wait: counts the steps and, at step `g_release_at`, writes
// `g_release_word` into the backup-mode file.
int g_steps = 0;
int g_release_at = 0;
uint32_t g_release_word = 0;
uint32_t g_step_ms = 0;
std::string g_backup_path;

void write_word(uint32_t w) {
  std::fstream f(g_backup_path, std::ios::in | std::ios::out | std::ios::binary);
  std::string b(4, '\0');
  for (int i = 0; i < 4; ++i) b[i] = static_cast<char>((w >> (8 * i)) & 0xFF);
  f.write(b.data(), 4);
}

void counting_wait(uint32_t ms) {
  g_step_ms = ms;
  ++g_steps;
  if (g_steps == g_release_at) write_word(g_release_word);
  if (g_steps == g_release_at + 20) {
    // Still waiting long after the word changed: end the wait so that the
    // test fails instead of hanging.
    ADD_FAILURE() << "the wait did not end when the word changed";
    write_word(0);
  }
}

class BackupWaitTest : public ContextTest {
 protected:
  void start_with_word(uint32_t w) {
    g_backup_path = make_backup_file(word(w));
    setenv("CORVETHRT64", dir_.c_str(), 1);
    ASSERT_NE(ismgr_init(), nullptr);
    ASSERT_TRUE(backup_mode_mapped());
    g_steps = 0;
    g_step_ms = 0;
    set_timed_wait_for_test(counting_wait);
  }
};

TEST_F(BackupWaitTest, NormalWordsProceedAtOnce) {
  start_with_word(0);
  backup_mode_check(current_context(), 0);
  for (uint32_t w : {2u, 4u, 9u}) {
    std::fstream f(g_backup_path, std::ios::in | std::ios::out | std::ios::binary);
    f.write(word(w).data(), 4);
    f.close();
    EXPECT_NO_THROW(backup_mode_check(current_context(), kBackupNoWaitBit));
  }
  EXPECT_EQ(g_steps, 0);
}

TEST_F(BackupWaitTest, BackupInProgressHoldsUpdatesUntilTheWordChanges) {
  // Back to 0, or restored to the normal value 4: either ends the wait.
  for (uint32_t release : {0u, 4u}) {
    start_with_word(1);
    g_release_at = 3;
    g_release_word = release;
    backup_mode_check(current_context(), 0);
    EXPECT_EQ(g_steps, 3) << release;
    EXPECT_EQ(g_step_ms, 500u) << release;
    reset_process_for_test();
  }
}

TEST_F(BackupWaitTest, NoWaitUpdateFailsWith85AtOnce) {
  start_with_word(1);
  g_release_at = 1;
  EXPECT_EQ(testing_support::status_of(
                [] { backup_mode_check(current_context(), kBackupNoWaitBit | 0x8); }),
            kStatusBackupInProgress);
  EXPECT_EQ(g_steps, 0);
}

}  // namespace
}  // namespace ismgr
