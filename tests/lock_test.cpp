#include "ismgr/fileio/lock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "ismgr/platform/platform.h"
#include "ismgr/runtime/audit.h"
#include "ismgr/runtime/context.h"
#include "ismgr/runtime/status.h"
#include "support/golden.h"
#include "support/scratch_dir.h"

namespace ismgr {
namespace {

namespace p = platform;

// A fake clock whose sleeps advance time; after `release_after` sleeps it
// runs `on_release`.
struct FakeClock {
  static inline uint64_t now = 0;
  static inline int64_t seconds = 1000;
  static inline std::vector<uint32_t> sleeps;
  static inline int release_after = -1;
  static inline std::function<void()> on_release;
  static void install(int release = -1, std::function<void()> action = nullptr) {
    now = 0;
    sleeps.clear();
    release_after = release;
    on_release = std::move(action);
    LockClock clock;
    clock.sleep_ms = [](uint32_t ms) {
      sleeps.push_back(ms);
      now += ms;
      if (static_cast<int>(sleeps.size()) == release_after && on_release) on_release();
    };
    clock.monotonic_ms = [] { return now; };
    clock.now_seconds = [] { return seconds; };
    set_lock_clock_for_test(clock);
  }
};

class LockTest : public ::testing::Test {
 protected:
  void TearDown() override {
    set_lock_clock_for_test(LockClock());
    for (p::Handle h : handles_) p::close_file(h);
  }
  p::Handle open_handle() {
    p::OpenOptions options;
    options.access = p::Access::kReadWrite;
    handles_.push_back(p::open_file(path_.c_str(), options));
    EXPECT_NE(handles_.back(), p::kInvalidHandle);
    return handles_.back();
  }
  // True when another handle can lock `length` bytes at `offset` right now.
  bool free_at(uint64_t offset, uint64_t length = 1) {
    p::Handle probe = open_handle();
    bool ok = p::lock_range(probe, offset, length, true);
    if (ok) p::unlock_range(probe, offset, length);
    return ok;
  }
  test::ScratchDir dir_;
  std::string path_ = dir_.write("locks.dat", "");
  std::vector<p::Handle> handles_;
};

// Each lock covers exactly [offset, offset + length) and nothing else.
TEST_F(LockTest, LocksLandAtTheComputedOffsets) {
  const struct {
    bool record;  // FX_DLOCK, else FX_LOCK
    bool wide;
    int64_t position;
    uint32_t length;
    uint64_t offset;
  } rows[] = {
      {false, false, 0x90000000, 1, 0x10000000u},  // the sum wraps at 2^32
      {false, false, 0x100000005LL, 1, 0x80000005u},
      {true, false, 0x90000000, 1, 0x110000000u},  // no wrap for records
      {true, false, 5, 10, 0x80000005u},
      {true, true, 0x123456789ALL, 3, 0x1123456789Au},
  };
  p::Handle a = open_handle();
  for (const auto& r : rows) {
    SCOPED_TRACE(std::to_string(r.position) + (r.record ? " record" : " file"));
    const uint64_t offset =
        r.record ? fx_dlock_offset(r.position, r.wide) : fx_lock_offset(r.position);
    EXPECT_EQ(offset, r.offset);
    auto lock = [&](int mode) {
      return r.record ? FX_DLOCK(a, mode, r.length, r.position, 0, r.wide)
                      : FX_LOCK(a, mode, r.length, r.position, 0);
    };
    ASSERT_EQ(lock(kLockWriteNoWait), 0u);
    EXPECT_TRUE(free_at(r.offset - 1));
    EXPECT_FALSE(free_at(r.offset));
    EXPECT_FALSE(free_at(r.offset + r.length - 1));
    EXPECT_TRUE(free_at(r.offset + r.length));
    ASSERT_EQ(lock(kLockUnlock), 0u);
    EXPECT_TRUE(free_at(r.offset, r.length));
  }
  // -1 is the current position, for the lock and for the unlock.
  ASSERT_TRUE(p::seek(a, 0x90000000, p::kSeekBegin, nullptr));
  ASSERT_EQ(FX_DLOCK(a, kLockWriteNoWait, 1, kLockCurrentPosition, 0, false), 0u);
  ASSERT_EQ(FX_LOCK(a, kLockWriteNoWait, 1, kLockCurrentPosition, 0), 0u);
  EXPECT_FALSE(free_at(0x110000000u));
  EXPECT_FALSE(free_at(0x10000000u));
  ASSERT_EQ(FX_DLOCK(a, kLockUnlock, 1, kLockCurrentPosition, 0, false), 0u);
  EXPECT_TRUE(free_at(0x110000000u));
}

TEST_F(LockTest, EveryModeIsExclusiveAndUnsoundRequestsAreRefused) {
  p::Handle a = open_handle(), b = open_handle();
  ASSERT_EQ(FX_LOCK(a, kLockRead, 1, 100, 0), 0u);
  for (int mode : {kLockRead, kLockReadAlt, kLockWriteNoWait}) {
    EXPECT_EQ(FX_LOCK(b, mode, 1, 100, 0), 1u) << mode;
    EXPECT_EQ(p::last_error(), p::kErrLockViolation);
  }
  ASSERT_EQ(FX_LOCK(a, kLockUnlock, 1, 100, 0), 0u);
  EXPECT_EQ(FX_LOCK(b, kLockRead, 1, 100, 0), 0u);
  // A zero length never becomes a lock "to the end".
  EXPECT_EQ(FX_DLOCK(a, kLockWriteNoWait, 0, 0, 0, false), 1u);
  EXPECT_EQ(p::last_error(), p::kErrInvalidParameter);
  EXPECT_TRUE(free_at(0x80000000, 0x10));
  EXPECT_EQ(FX_DLOCK(a, kLockWriteWait, 0, 0, 1, false), p::kErrInvalidParameter);
  // Positions of 64-bit files stay below 2^48.
  EXPECT_EQ(FX_DLOCK(a, kLockWriteNoWait, 1, int64_t{1} << 48, 0, true), 1u);
  EXPECT_EQ(FX_DLOCK(a, kLockWriteNoWait, 1, (int64_t{1} << 48) - 1, 0, true), 0u);
  EXPECT_NE(FX_LOCK(-1, kLockWriteWait, 1, kLockCurrentPosition, 0), 0u);
}

TEST_F(LockTest, WaitsBackOffAndEnd) {
  p::Handle a = open_handle(), b = open_handle();
  ASSERT_EQ(FX_LOCK(a, kLockWriteNoWait, 1, 7, 0), 0u);
  ASSERT_EQ(FX_DLOCK(a, kLockWriteNoWait, 1, 7, 0, true), 0u);
  FakeClock::install();
  EXPECT_EQ(FX_LOCK(b, kLockWriteWait, 1, 7, 1), 1u);  // doubling up to 256 ms
  EXPECT_EQ(FakeClock::sleeps, (std::vector<uint32_t>{1, 2, 4, 8, 16, 32, 64, 128, 256, 256, 256}));
  FakeClock::install();
  EXPECT_EQ(FX_DLOCK(b, kLockWriteWait, 1, 7, 2, true), 1u);  // every 200 ms
  EXPECT_EQ(FakeClock::sleeps, std::vector<uint32_t>(10, 200));
  // Without a time-out both wait until the lock is released.
  FakeClock::install(60, [&] { p::unlock_range(a, fx_lock_offset(7), 1); });
  EXPECT_EQ(FX_LOCK(b, kLockWriteWait, 1, 7, 0), 0u);
  EXPECT_EQ(FakeClock::sleeps.size(), 60u);
  EXPECT_FALSE(free_at(fx_lock_offset(7)));
  FakeClock::install(3, [&] { p::unlock_range(a, fx_dlock_offset(7, true), 1); });
  EXPECT_EQ(FX_DLOCK(b, kLockWriteWait, 1, 7, 0, true), 0u);
  EXPECT_EQ(FakeClock::sleeps.size(), 3u);
}

// The lock lines of the audit log against tests/data/audit/lock.log (handles
// written as <a> and <b>); the caller's last error survives the logging.
TEST_F(LockTest, AuditLines) {
  set_audit_clock_for_test([] {
    p::LocalTime t{};
    t.hour = 13, t.minute = 5, t.second = 9, t.millisecond = 42;
    return t;
  });
  reset_process_for_test();
  const std::string log = dir_.file("audit.log");
  setenv("ISMGR_AUDIT", log.c_str(), 1);
  setenv("ISMGR_AUDIT_LOCK", "", 1);
  ASSERT_NE(ismgr_init(), nullptr);
  p::Handle a = open_handle(), b = open_handle();
  p::set_last_error(0);
  EXPECT_EQ(FX_LOCK(a, kLockWriteNoWait, 1, 11, 0), 0u);
  EXPECT_EQ(FX_LOCK(b, kLockRead, 1, 11, 0), 1u);
  EXPECT_EQ(p::last_error(), p::kErrLockViolation);
  EXPECT_EQ(FX_LOCK(a, kLockUnlock, 1, 11, 0), 0u);
  EXPECT_EQ(FX_DLOCK(a, kLockReadAlt, 1, 64, 0, true), 0u);
  EXPECT_EQ(FX_DLOCK(b, kLockWriteWait, 1, 65, 0, true), 0u);
  EXPECT_EQ(FX_DLOCK(b, kLockUnlock, 1, 64, 0, true), 1u);  // not b's lock
  EXPECT_EQ(FX_DLOCK(a, 9, 1, 20, 0, false), 0u);           // unnamed mode
  ismgr_shutdown(existing_context());
  std::string text = dir_.read("audit.log");
  for (auto [h, tag] : {std::pair{a, "$1<a>,"}, {b, "$1<b>,"}}) {
    text = std::regex_replace(text, std::regex("([(]|fd = )" + std::to_string(h) + ","), tag);
  }
  EXPECT_TRUE(test::matches_golden("audit/lock.log", text));
  unsetenv("ISMGR_AUDIT");
  unsetenv("ISMGR_AUDIT_LOCK");
  reset_process_for_test();
  set_audit_clock_for_test(nullptr);
}

int lock_status(RecordLockState& state, int request, uint32_t length) {
  try {
    return record_lock(state, request, length);
  } catch (const StatusError& e) {
    return -e.code();
  }
}

TEST_F(LockTest, RecordLocksOfSequentialFiles) {
  RecordLockState a, b;
  a.handle = open_handle();
  b.handle = open_handle();
  ASSERT_TRUE(p::seek(a.handle, 300, p::kSeekBegin, nullptr));
  EXPECT_EQ(record_lock(a, 0, 80), 1);
  EXPECT_TRUE(a.locked);
  EXPECT_FALSE(free_at(0x80000000 + 300));
  EXPECT_FALSE(free_at(0x80000000 + 379));
  EXPECT_TRUE(free_at(0x80000000 + 380));
  ASSERT_TRUE(p::seek(b.handle, 300, p::kSeekBegin, nullptr));
  FakeClock::install();
  FakeClock::seconds = 5000;
  // A refused no-wait lock fails at once; again in the same second it waits
  // one second first.
  EXPECT_EQ(lock_status(b, kRecordLockNoWait, 10), -kStatusRecordLocked);
  EXPECT_TRUE(FakeClock::sleeps.empty());
  EXPECT_EQ(lock_status(b, kRecordLockNoWait, 10), -kStatusRecordLocked);
  EXPECT_EQ(FakeClock::sleeps, std::vector<uint32_t>(5, 200));
  FakeClock::sleeps.clear();
  // A waiting lock uses the driver's wait time, and gets the lock when it is
  // released meanwhile.
  b.wait_seconds = 2;
  EXPECT_EQ(lock_status(b, 0, 10), -kStatusRecordLocked);
  EXPECT_EQ(FakeClock::sleeps.size(), 10u);
  EXPECT_FALSE(b.locked);
  // The unlock uses the stored place, wherever the file pointer went.
  ASSERT_TRUE(p::seek(a.handle, 0, p::kSeekBegin, nullptr));
  FakeClock::install(1, [&] { record_unlock(a); });
  EXPECT_EQ(lock_status(b, 0, 10), 1);
  EXPECT_TRUE(b.locked);
  EXPECT_FALSE(a.locked);
  EXPECT_TRUE(free_at(0x80000000 + 310, 70));
}

}  // namespace
}  // namespace ismgr
