#include "ismgr/runtime/context.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <utility>

#include "ismgr/platform/platform.h"
#include "ismgr/runtime/config_internal.h"
#include "ismgr/runtime/status.h"
#include "support/detail_capture.h"
#include "support/scratch_dir.h"

namespace ismgr {
namespace {

const char* const kEnvNames[] = {"VRXOPT", "SCSCOMPR", "CORVETHRT64", "CORVETHRT32"};

// Every test starts from an unread configuration and a clean environment.
class ContextTest : public ::testing::Test {
 protected:
  void SetUp() override { reset(); }
  void TearDown() override {
    set_timed_wait_for_test(nullptr);
    reset();
  }
  static void reset() {
    for (const char* name : kEnvNames) unsetenv(name);
    setenv("CORVETH_NOLOCALE", "1", 1);
    reset_process_for_test();
  }
  // Writes the backup-mode file <dir>/<vrx>/<file> holding `bytes`.
  std::string backup_file(const std::string& bytes, const char* vrx = "vrx",
                          const char* file = "corbackup.cfg") {
    std::filesystem::create_directories(dir_.path() / vrx);
    return dir_.write(std::string(vrx) + "/" + file, bytes);
  }
  static std::string word(uint32_t w) { return std::string(reinterpret_cast<char*>(&w), 4); }
  test::ScratchDir dir_;
};

TEST_F(ContextTest, SettingsFromTheEnvironment) {
  std::string all;
  for (int n = 1; n <= 64; ++n) all += std::to_string(n) + ",";
  // 4, 6 and 64 are outside the masks; digits too long for any integer are
  // ignored without overflow.
  const std::tuple<const char*, uint32_t, uint32_t> options[] = {
      {"4 6 1;3,32 33 56 64 99999999999999999999999", 5u | (1u << 31), 1u | (1u << 23)},
      {all.c_str(), kOptionMaskLow, kOptionMaskHigh}};
  for (const auto& [value, low, high] : options) {
    reset();
    setenv("VRXOPT", value, 1);
    EXPECT_EQ(std::pair(*process_config()->options_low, *process_config()->options_high),
              std::pair(low, high))
        << value;
    EXPECT_EQ(option_set(3), (low & 4) != 0);
  }
  EXPECT_FALSE(option_set(99));
  EXPECT_EQ(c_atoi("  -12ab"), -12);
  EXPECT_EQ(c_atoi("99999999999999999999"), 2147483647);
  EXPECT_EQ(c_atoi("-99999999999999999999"), -2147483647 - 1);
  // Compression is marked once a context exists.
  for (const char* value : {"0", "2"}) {
    reset();
    setenv("SCSCOMPR", value, 1);
    EXPECT_EQ(process_config()->flags & kConfigCompression, 0u);
    ASSERT_NE(current_context(), nullptr);
    EXPECT_EQ((process_config()->flags & kConfigCompression) != 0, value[0] != '0');
  }
}

TEST(WorkBuffer, CapacityAndAllocation) {
  std::mt19937_64 rng(3);
  for (int i = 0; i < 2000; ++i) {  // the next multiple of 4096 above n
    const uint64_t n = i < 1000 ? rng() % 20000 : (rng() >> (rng() % 64)) % (UINT64_MAX - 4095);
    const uint64_t c = WorkBuffer::capacity_for(n);
    ASSERT_TRUE(c % 4096 == 0 && c > n && c - n <= 4096) << n;
  }
  EXPECT_EQ(WorkBuffer::capacity_for(UINT64_MAX - 4095), 0u);  // does not fit
  WorkBuffer b;
  ASSERT_TRUE(b.obtain_fresh(100));
  std::memcpy(b.data(), "keep", 5);
  ASSERT_TRUE(b.obtain_keeping(5000));
  EXPECT_EQ(b.capacity(), 8192u);
  ASSERT_TRUE(b.obtain_keeping(10));  // shrinking copies what fits
  EXPECT_STREQ(b.chars(), "keep");
  set_allocation_failure_for_test(true);
  EXPECT_FALSE(b.obtain_keeping(9000));  // left as it was
  EXPECT_STREQ(b.chars(), "keep");
  set_allocation_failure_for_test(false);
}

TEST_F(ContextTest, BackupModeFile) {
  const char* dirs[][2] = {{"/opt/corp/Vrx/bin/qdesc", "/opt/corp"}, {"/opt/myvrx/qdesc", nullptr}};
  for (const auto& d : dirs) {
    std::string dir = "unchanged";
    EXPECT_EQ(install_dir_from_program(d[0], &dir), d[1] != nullptr) << d[0];
    EXPECT_EQ(dir, d[1] ? d[1] : "unchanged") << d[0];
  }
  // Found without regard to case, the 64-bit name first; read afresh.
  std::string path = backup_file(word(0x01020304), "VRX", "CorBackup.CFG");
  reset();
  setenv("CORVETHRT64", dir_.path().c_str(), 1);
  setenv("CORVETHRT32", "/nonexistent", 1);
  ASSERT_NE(ismgr_init(), nullptr);
  EXPECT_EQ(startup_status(), 0);
  ASSERT_TRUE(backup_mode_mapped());
  EXPECT_EQ(backup_mode_word(), 0x01020304u);
  std::fstream(path, std::ios::in | std::ios::out | std::ios::binary).write(word(2).data(), 4);
  EXPECT_EQ(backup_mode_word(), 2u);
  // Unusable files leave the word at its normal 4; a missing directory, a
  // short file or one held exclusively is an error.
  const std::pair<std::string, int> rows[] = {{dir_.file("none"), kStatusBackupAccess},
                                              {dir_.path().string(), kStatusBackupInUse},
                                              {dir_.file("empty"), 0},
                                              {dir_.file("short"), kStatusBackupAccess}};
  std::filesystem::create_directories(dir_.path() / "empty" / "vrx");
  std::filesystem::create_directories(dir_.path() / "short" / "vrx");
  dir_.write("short/vrx/corbackup.cfg", "ab");
  reset();
  platform::OpenOptions excl;  // the file is held exclusively
  excl.share = platform::kShareNone;
  platform::Handle holder = platform::open_file(path.c_str(), excl);
  for (const auto& [install, status] : rows) {
    reset();
    setenv("CORVETHRT64", install.c_str(), 1);
    ASSERT_NE(ismgr_init(), nullptr);
    EXPECT_EQ(std::tuple(startup_status(), backup_mode_mapped(), backup_mode_word()),
              std::tuple(status, false, 4u))
        << install;
  }
  platform::close_file(holder);
}

// A word of 1 holds updates (steps of 500 ms) until it is 0 or 4 again; a
// no-wait update fails with status 85 at once.
int g_steps = 0;
uint32_t g_release_word = 0, g_step_ms = 0;
std::string g_backup_path;
TEST_F(ContextTest, BackupInProgressHoldsUpdates) {
  set_timed_wait_for_test([](uint32_t ms) {
    g_step_ms = ms;
    if (++g_steps == 3 || g_steps > 20) {
      std::fstream(g_backup_path, std::ios::in | std::ios::out | std::ios::binary)
          .write(reinterpret_cast<const char*>(&g_release_word), 4);
    }
  });
  for (uint32_t release : {0u, 4u}) {
    reset();
    g_backup_path = backup_file(word(1));
    g_steps = 0;
    g_release_word = release;
    setenv("CORVETHRT64", dir_.path().c_str(), 1);
    ASSERT_NE(ismgr_init(), nullptr);
    EXPECT_EQ(testing_support::status_of(
                  [] { backup_mode_check(current_context(), kBackupNoWaitBit | 0x8); }),
              kStatusBackupInProgress);
    EXPECT_EQ(g_steps, 0);
    backup_mode_check(current_context(), 0);
    EXPECT_EQ(g_steps, 3) << release;
    EXPECT_EQ(g_step_ms, 500u) << release;
  }
}

// A thread that ends without shutdown: what it registered is released as it
// ends, its context included (a thread_local destructor crashed there on
// Windows; a missed release is a leak under LSan).
TEST(ThreadExit, EntriesAndContextReleasedAsTheThreadEnds) {
  static int released = 0;
  std::thread([] {
    for (auto* entry : {new platform::ThreadExitEntry, new platform::ThreadExitEntry}) {
      entry->release = [](platform::ThreadExitEntry* e) { ++released, delete e; };
      ASSERT_TRUE(platform::release_at_thread_exit(entry));
    }
    ASSERT_NE(current_context(), nullptr);
  }).join();
  EXPECT_EQ(released, 2);
}

}  // namespace
}  // namespace ismgr
