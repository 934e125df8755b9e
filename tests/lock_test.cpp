#include "ismgr/fileio/lock.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "ismgr/platform/platform.h"
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
  // FX_DLOCK (else FX_LOCK), wide, position, length, the lock's offset
  const std::tuple<bool, bool, int64_t, uint32_t, uint64_t> rows[] = {
      {false, false, 0x90000000, 1, 0x10000000u},  // the sum wraps at 2^32
      {false, false, 0x100000005LL, 1, 0x80000005u},
      {true, false, 0x90000000, 1, 0x110000000u},  // no wrap for records
      {true, false, 5, 10, 0x80000005u},
      {true, true, 0x123456789ALL, 3, 0x1123456789Au},
  };
  p::Handle a = open_handle();
  for (const auto& [record, wide, position, length, offset] : rows) {
    SCOPED_TRACE(std::to_string(position) + (record ? " record" : " file"));
    EXPECT_EQ(record ? fx_dlock_offset(position, wide) : fx_lock_offset(position), offset);
    auto lock = [&, r = record, w = wide, at = position, n = length](int mode) {
      return r ? FX_DLOCK(a, mode, n, at, 0, w) : FX_LOCK(a, mode, n, at, 0);
    };
    ASSERT_EQ(lock(kLockWriteNoWait), 0u);
    EXPECT_EQ(std::tuple(free_at(offset - 1), free_at(offset), free_at(offset + length - 1),
                         free_at(offset + length)),
              std::tuple(true, false, false, true));
    ASSERT_EQ(lock(kLockUnlock), 0u);
    EXPECT_TRUE(free_at(offset, length));
  }
  // -1 is the current position, for the lock and for the unlock.
  ASSERT_TRUE(p::seek(a, 0x90000000, p::kSeekBegin, nullptr));
  ASSERT_EQ(FX_DLOCK(a, kLockWriteNoWait, 1, kLockCurrentPosition, 0, false), 0u);
  ASSERT_EQ(FX_LOCK(a, kLockWriteNoWait, 1, kLockCurrentPosition, 0), 0u);
  EXPECT_FALSE(free_at(0x110000000u) || free_at(0x10000000u));
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

}  // namespace
}  // namespace ismgr
