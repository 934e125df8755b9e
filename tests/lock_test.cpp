#include "ismgr/fileio/lock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ismgr/platform/platform.h"
#include "ismgr/runtime/audit.h"
#include "ismgr/runtime/context.h"
#include "ismgr/runtime/status.h"
#include "support/child_process.h"
#include "support/scratch_dir.h"

namespace ismgr {
namespace {

namespace p = platform;

// A scratch file and handles on it; every handle is closed at the end.
class LockTest : public ::testing::Test {
 protected:
  void SetUp() override { path_ = dir_.write("locks.dat", ""); }
  void TearDown() override {
    set_lock_clock_for_test(LockClock());
    for (p::Handle h : handles_) p::close_file(h);
  }
  p::Handle open_handle() {
    p::OpenOptions options;
    options.access = p::Access::kReadWrite;
    p::Handle h = p::open_file(path_.c_str(), options);
    EXPECT_NE(h, p::kInvalidHandle);
    handles_.push_back(h);
    return h;
  }
  // True when another handle can lock `length` bytes at `offset` right now.
  bool free_at(uint64_t offset, uint64_t length = 1) {
    p::Handle probe = open_handle();
    bool ok = p::lock_range(probe, offset, length, true);
    if (ok) p::unlock_range(probe, offset, length);
    return ok;
  }
  // A child process that opens the file, locks 1 byte at `offset` with its
  // own handle, says 'y' and keeps the lock for `hold_ms` or until the test
  // lets it go (a byte or the end of the link).
  std::unique_ptr<test::ChildProcess> hold_in_child(uint64_t offset, uint32_t hold_ms) {
    std::string path = path_;
    auto child = std::make_unique<test::ChildProcess>([path, offset, hold_ms](test::Link& link) {
      p::OpenOptions options;
      options.access = p::Access::kReadWrite;
      p::Handle h = p::open_file(path.c_str(), options);
      bool ok = h != p::kInvalidHandle && p::lock_range(h, offset, 1, true);
      link.send(ok ? 'y' : 'n');
      if (!ok) return 2;
      if (hold_ms > 0) {
        p::sleep_ms(hold_ms);
      } else {
        link.receive();
      }
      return 0;
    });
    if (child->link().receive() != 'y') return nullptr;
    return child;
  }

  test::ScratchDir dir_;
  std::string path_;
  std::vector<p::Handle> handles_;
};

// ---------------------------------------------------------------------------
// Offsets.
// ---------------------------------------------------------------------------

TEST(LockOffsets, FileLockSumWrapsAt4G) {
  EXPECT_EQ(fx_lock_offset(0), 0x80000000u);
  EXPECT_EQ(fx_lock_offset(0x7FFFFFFF), 0xFFFFFFFFu);
  EXPECT_EQ(fx_lock_offset(0x80000000), 0u);
  EXPECT_EQ(fx_lock_offset(0x90000000), 0x10000000u);
  // Only the low 32 bits of the position count.
  EXPECT_EQ(fx_lock_offset(0x100000005LL), 0x80000005u);
}

TEST(LockOffsets, RecordLockBasesDoNotWrap) {
  EXPECT_EQ(fx_dlock_offset(0, false), 0x80000000u);
  EXPECT_EQ(fx_dlock_offset(0x90000000, false), 0x110000000u);
  EXPECT_EQ(fx_dlock_offset(0xFFFFFFFF, false), 0x17FFFFFFFu);
  EXPECT_EQ(fx_dlock_offset(0x100000005LL, false), 0x80000005u);
  EXPECT_EQ(fx_dlock_offset(0, true), 0x10000000000u);
  EXPECT_EQ(fx_dlock_offset(0x123456789ALL, true), 0x10000000000u + 0x123456789Au);
}

TEST_F(LockTest, LocksLandAtTheComputedOffsets) {
  p::Handle a = open_handle();
  ASSERT_EQ(FX_LOCK(a, kLockWriteNoWait, 1, 0x90000000, 0), 0u);
  EXPECT_FALSE(free_at(0x10000000));
  EXPECT_TRUE(free_at(0x110000000));
  EXPECT_TRUE(free_at(0x90000000));

  ASSERT_EQ(FX_DLOCK(a, kLockWriteNoWait, 1, 0x90000000, 0, false), 0u);
  EXPECT_FALSE(free_at(0x110000000));

  ASSERT_EQ(FX_DLOCK(a, kLockWriteNoWait, 1, 0, 0, true), 0u);
  EXPECT_FALSE(free_at(0x10000000000));
  EXPECT_TRUE(free_at(0x80000000));
}

TEST_F(LockTest, LengthCoversExactlyThatManyBytes) {
  p::Handle a = open_handle();
  ASSERT_EQ(FX_DLOCK(a, kLockWriteNoWait, 10, 5, 0, false), 0u);
  EXPECT_TRUE(free_at(0x80000004));
  EXPECT_FALSE(free_at(0x80000005));
  EXPECT_FALSE(free_at(0x8000000E));
  EXPECT_TRUE(free_at(0x8000000F));
}

TEST_F(LockTest, MinusOneMeansTheCurrentPosition) {
  p::Handle a = open_handle();
  ASSERT_TRUE(p::seek(a, 1234, p::kSeekBegin, nullptr));
  ASSERT_EQ(FX_DLOCK(a, kLockWriteNoWait, 1, kLockCurrentPosition, 0, false), 0u);
  EXPECT_FALSE(free_at(0x80000000 + 1234));
  // The unlock finds the same place through the same rule.
  ASSERT_EQ(FX_DLOCK(a, kLockUnlock, 1, kLockCurrentPosition, 0, false), 0u);
  EXPECT_TRUE(free_at(0x80000000 + 1234));
  ASSERT_TRUE(p::seek(a, 0x90000000, p::kSeekBegin, nullptr));
  ASSERT_EQ(FX_LOCK(a, kLockWriteNoWait, 1, kLockCurrentPosition, 0), 0u);
  EXPECT_FALSE(free_at(0x10000000));
}

// ---------------------------------------------------------------------------
// Modes between two handles of one process.
// ---------------------------------------------------------------------------

TEST_F(LockTest, EveryLockModeIsExclusive) {
  p::Handle a = open_handle();
  p::Handle b = open_handle();
  ASSERT_EQ(FX_LOCK(a, kLockRead, 1, 100, 0), 0u);
  EXPECT_EQ(FX_LOCK(b, kLockRead, 1, 100, 0), 1u);
  EXPECT_EQ(p::last_error(), p::kErrLockViolation);
  EXPECT_EQ(FX_LOCK(b, kLockReadAlt, 1, 100, 0), 1u);
  EXPECT_EQ(FX_LOCK(b, kLockWriteNoWait, 1, 100, 0), 1u);
  EXPECT_EQ(FX_LOCK(b, kLockWriteNoWait, 1, 101, 0), 0u);  // the next position is free
  ASSERT_EQ(FX_LOCK(a, kLockUnlock, 1, 100, 0), 0u);
  EXPECT_EQ(FX_LOCK(b, kLockRead, 1, 100, 0), 0u);
  EXPECT_EQ(FX_LOCK(a, kLockWriteNoWait, 1, 100, 0), 1u);
}

TEST_F(LockTest, UnsoundRequestsAreRefusedNotWidened) {
  p::Handle a = open_handle();
  // A zero length never becomes a lock "to the end".
  EXPECT_EQ(FX_DLOCK(a, kLockWriteNoWait, 0, 0, 0, false), 1u);
  EXPECT_EQ(p::last_error(), p::kErrInvalidParameter);
  EXPECT_TRUE(free_at(0x80000000, 0x1000));
  EXPECT_EQ(FX_DLOCK(a, kLockWriteWait, 0, 0, 1, false), p::kErrInvalidParameter);
  EXPECT_EQ(FX_DLOCK(a, kLockUnlock, 0, 0, 0, false), 1u);
  // Positions of 64-bit files stay below 2^48.
  EXPECT_EQ(FX_DLOCK(a, kLockWriteNoWait, 1, int64_t{1} << 48, 0, true), 1u);
  EXPECT_EQ(FX_DLOCK(a, kLockWriteNoWait, 1, -5, 0, true), 1u);
  EXPECT_EQ(p::last_error(), p::kErrInvalidParameter);
  EXPECT_EQ(FX_DLOCK(a, kLockWriteNoWait, 1, (int64_t{1} << 48) - 1, 0, true), 0u);
  // A handle that is not open.
  EXPECT_NE(FX_LOCK(-1, kLockWriteWait, 1, kLockCurrentPosition, 0), 0u);
}

// ---------------------------------------------------------------------------
// Waiting, driven by a fake clock whose sleeps advance time.
// ---------------------------------------------------------------------------

struct FakeClock {
  static inline uint64_t now = 0;
  static inline int64_t seconds = 1000;
  static inline std::vector<uint32_t> sleeps;
  static inline int release_after = -1;  // sleeps before on_release runs
  static inline void (*on_release)() = nullptr;

  static void sleep(uint32_t ms) {
    sleeps.push_back(ms);
    now += ms;
    if (release_after >= 0 && static_cast<int>(sleeps.size()) == release_after && on_release) {
      on_release();
    }
  }
  static uint64_t monotonic() { return now; }
  static int64_t wall() { return seconds; }
  static void install() {
    now = 0;
    sleeps.clear();
    release_after = -1;
    on_release = nullptr;
    LockClock clock;
    clock.sleep_ms = &FakeClock::sleep;
    clock.monotonic_ms = &FakeClock::monotonic;
    clock.now_seconds = &FakeClock::wall;
    set_lock_clock_for_test(clock);
  }
};

p::Handle g_holder = p::kInvalidHandle;
uint64_t g_held_offset = 0;
void release_holder() {
  p::unlock_range(g_holder, g_held_offset, 1);
}
void close_holder() {
  p::close_file(g_holder);
}

TEST_F(LockTest, FileLockBacksOffDoublingUpTo256) {
  p::Handle a = open_handle();
  p::Handle b = open_handle();
  ASSERT_EQ(FX_LOCK(a, kLockWriteNoWait, 1, 7, 0), 0u);
  FakeClock::install();
  EXPECT_EQ(FX_LOCK(b, kLockWriteWait, 1, 7, 1), 1u);
  std::vector<uint32_t> expected = {1, 2, 4, 8, 16, 32, 64, 128, 256, 256, 256};
  EXPECT_EQ(FakeClock::sleeps, expected);
}

TEST_F(LockTest, RecordLockRetriesEvery200ms) {
  p::Handle a = open_handle();
  p::Handle b = open_handle();
  ASSERT_EQ(FX_DLOCK(a, kLockWriteNoWait, 1, 7, 0, true), 0u);
  FakeClock::install();
  EXPECT_EQ(FX_DLOCK(b, kLockWriteWait, 1, 7, 2, true), 1u);
  EXPECT_EQ(FakeClock::sleeps, std::vector<uint32_t>(10, 200));
}

TEST_F(LockTest, NoTimeOutWaitsUntilReleased) {
  p::Handle b = open_handle();
  g_holder = open_handle();
  g_held_offset = fx_lock_offset(9);
  ASSERT_EQ(FX_LOCK(g_holder, kLockWriteNoWait, 1, 9, 0), 0u);
  FakeClock::install();
  FakeClock::release_after = 60;  // well past any time-out in seconds
  FakeClock::on_release = &release_holder;
  EXPECT_EQ(FX_LOCK(b, kLockWriteWait, 1, 9, 0), 0u);
  EXPECT_EQ(FakeClock::sleeps.size(), 60u);
  EXPECT_FALSE(free_at(g_held_offset));

  g_held_offset = fx_dlock_offset(19, false);
  ASSERT_EQ(FX_DLOCK(g_holder, kLockWriteNoWait, 1, 19, 0, false), 0u);
  FakeClock::install();
  FakeClock::release_after = 3;
  FakeClock::on_release = &release_holder;
  EXPECT_EQ(FX_DLOCK(b, kLockWriteWait, 1, 19, 0, false), 0u);
  EXPECT_EQ(FakeClock::sleeps.size(), 3u);
}

TEST_F(LockTest, OtherErrorEndsTheWaitWithThatError) {
  p::Handle a = open_handle();
  p::OpenOptions options;
  options.access = p::Access::kReadWrite;
  g_holder = p::open_file(path_.c_str(), options);  // the waiting handle
  ASSERT_NE(g_holder, p::kInvalidHandle);
  ASSERT_EQ(FX_DLOCK(a, kLockWriteNoWait, 1, 3, 0, false), 0u);
  FakeClock::install();
  FakeClock::release_after = 2;
  FakeClock::on_release = &close_holder;
  uint32_t result = FX_DLOCK(g_holder, kLockWriteWait, 1, 3, 0, false);
  EXPECT_NE(result, 0u);
  EXPECT_NE(result, 1u);
  EXPECT_NE(result, static_cast<uint32_t>(p::kErrLockViolation));
  EXPECT_EQ(result, p::last_error());
  EXPECT_EQ(FakeClock::sleeps.size(), 2u);
}

// ---------------------------------------------------------------------------
// Two processes.
// ---------------------------------------------------------------------------

TEST_F(LockTest, AnotherProcessRefusesThenReleases) {
  auto child = hold_in_child(fx_dlock_offset(42, false), 400);
  ASSERT_TRUE(child);
  p::Handle a = open_handle();
  EXPECT_EQ(FX_DLOCK(a, kLockWriteNoWait, 1, 42, 0, false), 1u);
  EXPECT_EQ(FX_DLOCK(a, kLockRead, 1, 42, 0, false), 1u);
  EXPECT_EQ(FX_DLOCK(a, kLockWriteNoWait, 1, 43, 0, false), 0u);
  // Waiting without limit ends when the other process lets go.
  uint64_t start = p::monotonic_ms();
  EXPECT_EQ(FX_DLOCK(a, kLockWriteWait, 1, 42, 0, false), 0u);
  EXPECT_GE(p::monotonic_ms() - start, 100u);
  EXPECT_EQ(child->wait(), 0);
}

TEST_F(LockTest, FileLockWaitsForAnotherProcess) {
  auto child = hold_in_child(fx_lock_offset(0), 300);
  ASSERT_TRUE(child);
  p::Handle a = open_handle();
  EXPECT_EQ(FX_LOCK(a, kLockWriteNoWait, 1, 0, 0), 1u);
  EXPECT_EQ(FX_LOCK(a, kLockWriteWait, 1, 0, 5), 0u);
  EXPECT_EQ(child->wait(), 0);
}

TEST_F(LockTest, WaitTimesOutAgainstAnotherProcess) {
  auto child = hold_in_child(fx_lock_offset(5), 0);
  ASSERT_TRUE(child);
  p::Handle a = open_handle();
  uint64_t start = p::monotonic_ms();
  EXPECT_EQ(FX_LOCK(a, kLockWriteWait, 1, 5, 1), 1u);
  uint64_t elapsed = p::monotonic_ms() - start;
  EXPECT_GE(elapsed, 1000u);
  EXPECT_LT(elapsed, 2000u);
  EXPECT_EQ(child->wait(), 0);  // the child lets go; the lock is free again
  EXPECT_EQ(FX_LOCK(a, kLockWriteNoWait, 1, 5, 0), 0u);
}

// ---------------------------------------------------------------------------
// Audit lines.
// ---------------------------------------------------------------------------

// Lock audit lines in the audit log of the thread's context.
class LockAuditLogTest : public LockTest {
 protected:
  static constexpr const char* kVariables[] = {"ISMGR_AUDIT",      "ISMGR_AUDIT_SRV",
                                               "ISMGR_AUDIT_LOCK", "ISMGR_AUDIT_INTERNAL",
                                               "ISMGR_AUDIT_MODE", "ISMGR_AUDIT_FULL"};
  static p::LocalTime fixed_time() {
    p::LocalTime t{};
    t.hour = 13;
    t.minute = 5;
    t.second = 9;
    t.millisecond = 42;
    return t;
  }
  void SetUp() override {
    LockTest::SetUp();
    for (const char* name : kVariables) unsetenv(name);
    setenv("CORVETH_NOLOCALE", "1", 1);
    reset_process_for_test();
    set_audit_clock_for_test(&fixed_time);
    log_ = dir_.file("audit.log");
  }
  void TearDown() override {
    reset_process_for_test();
    set_audit_clock_for_test(nullptr);
    for (const char* name : kVariables) unsetenv(name);
    LockTest::TearDown();
  }
  // Logs with `vars` set while each mode runs once; returns the lines between
  // "ismgr_init" and "ismgr_shutdown".
  std::vector<std::string> run(std::initializer_list<std::pair<const char*, const char*>> vars) {
    setenv("ISMGR_AUDIT", log_.c_str(), 1);
    for (const auto& v : vars) setenv(v.first, v.second, 1);
    EXPECT_NE(ismgr_init(), nullptr);
    a_ = open_handle();
    b_ = open_handle();
    p::set_last_error(0);
    EXPECT_EQ(FX_LOCK(a_, kLockWriteNoWait, 1, 11, 0), 0u);
    EXPECT_EQ(FX_LOCK(b_, kLockRead, 1, 11, 0), 1u);
    EXPECT_EQ(p::last_error(), p::kErrLockViolation);  // not disturbed by the log
    EXPECT_EQ(FX_LOCK(a_, kLockUnlock, 1, 11, 0), 0u);
    EXPECT_EQ(FX_DLOCK(a_, kLockReadAlt, 1, 64, 0, true), 0u);
    EXPECT_EQ(FX_DLOCK(b_, kLockWriteWait, 1, 65, 0, true), 0u);
    EXPECT_EQ(FX_DLOCK(b_, kLockUnlock, 1, 64, 0, true), 1u);  // not b's lock
    EXPECT_EQ(FX_DLOCK(a_, 9, 1, 20, 0, false), 0u);           // unnamed mode
    ismgr_shutdown(existing_context());
    std::ifstream in(log_);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
      if (line.find("ismgr_") == std::string::npos && line.rfind("Logging", 0) != 0) {
        lines.push_back(line);
      }
    }
    return lines;
  }
  // The lines of run(), each after `prefix`.
  std::vector<std::string> expected(const std::string& prefix) const {
    const std::string fa = std::to_string(a_), fb = std::to_string(b_);
    std::vector<std::string> lines = {
        "Start FX_LOCK(" + fa + ", Writelock)",
        "fd = " + fa + ", mode = 2, GetLastError() = 0, status = 0,",
        "Start FX_LOCK(" + fb + ", Readlock)",
        "fd = " + fb + ", mode = 3, GetLastError() = 33, status = 1,",
        "Start FX_LOCK(" + fa + ", unlock)",
        "fd = " + fa + ", mode = 0, GetLastError() = 33, status = 0,",
        "Start FX_DLOCK(Readlock)",
        "fd = " + fa + ", mode = 4, GetLastError() = 33, status = 0,",
        "Start FX_DLOCK(Writelock)",
        "fd = " + fb + ", mode = 1, GetLastError() = 33, status = 0,",
        "Start FX_DLOCK(unlock)",
        "fd = " + fb + ", mode = 0, GetLastError() = 158, status = 1,",
        "fd = " + fa + ", mode = 9, GetLastError() = 158, status = 0,",
    };
    for (std::string& line : lines) line = prefix + line;
    return lines;
  }
  std::string log_;
  p::Handle a_ = p::kInvalidHandle, b_ = p::kInvalidHandle;
};

TEST_F(LockAuditLogTest, NormalFormHasTimeStamps) {
  std::vector<std::string> lines = run({{"ISMGR_AUDIT_LOCK", ""}});
  EXPECT_EQ(lines, expected("13:05:09.042 "));
}

TEST_F(LockAuditLogTest, InternalFormHasNoTimeStamps) {
  std::vector<std::string> lines =
      run({{"ISMGR_AUDIT_LOCK", ""}, {"ISMGR_AUDIT_INTERNAL", "1"}, {"ISMGR_AUDIT_FULL", ""}});
  EXPECT_EQ(lines, expected(""));
}

TEST_F(LockAuditLogTest, NothingWithoutLockLogging) {
  EXPECT_TRUE(run({{"ISMGR_AUDIT_MODE", ""}}).empty());
}

// ---------------------------------------------------------------------------
// Record locks of sequential and relative files.
// ---------------------------------------------------------------------------

int lock_status(RecordLockState& state, int request, uint32_t length) {
  try {
    return record_lock(state, request, length);
  } catch (const StatusError& e) {
    return -e.code();
  }
}

TEST_F(LockTest, RecordLockAtCurrentPositionAndUnlock) {
  RecordLockState a;
  a.handle = open_handle();
  ASSERT_TRUE(p::seek(a.handle, 300, p::kSeekBegin, nullptr));
  EXPECT_EQ(record_lock(a, 0, 80), 1);
  EXPECT_TRUE(a.locked);
  EXPECT_EQ(a.lock_position, 300);
  EXPECT_EQ(a.lock_length, 80u);
  EXPECT_FALSE(free_at(0x80000000 + 300));
  EXPECT_FALSE(free_at(0x80000000 + 379));
  EXPECT_TRUE(free_at(0x80000000 + 380));
  // The unlock uses the stored place, wherever the file pointer went.
  ASSERT_TRUE(p::seek(a.handle, 0, p::kSeekBegin, nullptr));
  EXPECT_EQ(record_unlock(a), 1);
  EXPECT_FALSE(a.locked);
  EXPECT_TRUE(free_at(0x80000000 + 300, 80));
}

TEST_F(LockTest, RefusedNoWaitRecordLockFailsAtOnceThenWaitsInTheSameSecond) {
  RecordLockState a, b;
  a.handle = open_handle();
  b.handle = open_handle();
  ASSERT_EQ(record_lock(a, 0, 10), 1);
  FakeClock::install();
  FakeClock::seconds = 5000;

  EXPECT_EQ(lock_status(b, kRecordLockNoWait, 10), -kStatusRecordLocked);
  EXPECT_TRUE(FakeClock::sleeps.empty());
  EXPECT_EQ(b.last_refusal_time, 5000);
  EXPECT_FALSE(b.locked);

  // Same second: waits up to one second (five 200 ms retries), then fails.
  EXPECT_EQ(lock_status(b, kRecordLockNoWait, 10), -kStatusRecordLocked);
  EXPECT_EQ(FakeClock::sleeps, std::vector<uint32_t>(5, 200));

  // A new second fails at once again.
  FakeClock::sleeps.clear();
  FakeClock::seconds = 5001;
  EXPECT_EQ(lock_status(b, kRecordLockNoWait, 10), -kStatusRecordLocked);
  EXPECT_TRUE(FakeClock::sleeps.empty());
}

TEST_F(LockTest, WaitingRecordLockUsesTheDriverWaitTime) {
  RecordLockState a, b;
  a.handle = open_handle();
  b.handle = open_handle();
  ASSERT_EQ(record_lock(a, 0, 10), 1);
  FakeClock::install();
  b.wait_seconds = 2;
  EXPECT_EQ(lock_status(b, 0, 10), -kStatusRecordLocked);
  EXPECT_EQ(FakeClock::sleeps.size(), 10u);

  // Released while waiting: the lock is had.
  g_holder = a.handle;
  g_held_offset = fx_dlock_offset(0, false);
  FakeClock::install();
  FakeClock::release_after = 1;
  FakeClock::on_release = [] { p::unlock_range(g_holder, g_held_offset, 10); };
  EXPECT_EQ(lock_status(b, 0, 10), 1);
  EXPECT_TRUE(b.locked);
}

}  // namespace
}  // namespace ismgr
