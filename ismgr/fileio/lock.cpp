#include "ismgr/fileio/lock.h"

#include <cstdio>

#include "ismgr/runtime/audit.h"
#include "ismgr/runtime/context.h"
#include "ismgr/runtime/status.h"

namespace ismgr {

namespace {

// Largest record position of a 64-bit file (48-bit addressing). Positions
// beyond it would put the lock among the bytes the platform layer reserves
// for share modes, so they are refused.
constexpr int64_t kWidePositionLimit = int64_t{1} << 48;

constexpr uint32_t kDlockRetryMs = 200;
constexpr uint32_t kLockFirstBackoffMs = 1;
constexpr uint32_t kLockBackoffDoublingLimitMs = 199;

LockClock g_clock;

void clock_sleep(uint32_t ms) {
  if (g_clock.sleep_ms != nullptr) {
    g_clock.sleep_ms(ms);
  } else {
    timed_wait(ms);
  }
}
uint64_t clock_ms() {
  return g_clock.monotonic_ms != nullptr ? g_clock.monotonic_ms() : platform::monotonic_ms();
}
int64_t clock_seconds() {
  return g_clock.now_seconds != nullptr ? g_clock.now_seconds() : platform::now_seconds();
}

bool logging_on() {
  return audit_lock_enabled();
}

// Writes one lock audit text and leaves the thread's last OS error as it was.
void audit(const char* text) {
  uint32_t saved = platform::last_error();
  audit_text(text);
  platform::set_last_error(saved);
}

const char* mode_word(int mode) {
  switch (mode) {
    case kLockUnlock:
      return "unlock";
    case kLockWriteWait:
    case kLockWriteNoWait:
      return "Writelock";
    case kLockRead:
    case kLockReadAlt:
      return "Readlock";
    default:
      return nullptr;
  }
}

void audit_closing(platform::Handle handle, int mode, uint32_t result) {
  char text[128];
  std::snprintf(text, sizeof text, "fd = %d, mode = %d, GetLastError() = %d, status = %d,", handle,
                mode, static_cast<int>(platform::last_error()), static_cast<int>(result));
  audit(text);
}

// Where a lock goes, or why it cannot be placed.
struct LockTarget {
  uint64_t offset = 0;
  bool ok = false;
  uint32_t error = platform::kErrSuccess;  // the OS error when !ok
};

// Replaces position -1 by the handle's current position.
bool resolve_position(platform::Handle handle, int64_t* position, uint32_t* error) {
  if (*position != kLockCurrentPosition) return true;
  int64_t current = 0;
  if (!platform::seek(handle, 0, platform::kSeekCurrent, &current)) {
    *error = platform::last_error();
    return false;
  }
  *position = current;
  return true;
}

namespace {

// False, with the last error set, when the range cannot be locked or
// unlocked: a target that could not be placed, or a zero length (which would
// reach to the end of all offsets on some systems).
bool range_usable(const LockTarget& target, uint32_t length) {
  if (!target.ok) {
    platform::set_last_error(target.error);
    return false;
  }
  if (length == 0) {
    platform::set_last_error(platform::kErrInvalidParameter);
    return false;
  }
  return true;
}

}  // namespace

bool try_lock(platform::Handle handle, const LockTarget& target, uint32_t length) {
  if (!range_usable(target, length)) return false;
  return platform::lock_range(handle, target.offset, length, /*fail_immediately=*/true);
}

bool try_unlock(platform::Handle handle, const LockTarget& target, uint32_t length) {
  if (!range_usable(target, length)) return false;
  return platform::unlock_range(handle, target.offset, length);
}

enum class Backoff { kFixed, kDoubling };

// Unlock, the first attempt and, for mode 1, the waiting loop.
uint32_t lock_or_unlock(platform::Handle handle, int mode, uint32_t length,
                        const LockTarget& target, int timeout_s, Backoff backoff) {
  if (mode == kLockUnlock) return try_unlock(handle, target, length) ? 0 : 1;
  if (try_lock(handle, target, length)) return 0;
  if (mode != kLockWriteWait) return 1;

  const uint64_t start = clock_ms();
  const int64_t limit_ms = static_cast<int64_t>(timeout_s) * 1000;
  uint32_t wait_ms = kLockFirstBackoffMs;
  for (;;) {
    if (timeout_s != 0 && static_cast<int64_t>(clock_ms() - start) >= limit_ms) return 1;
    // Retries never block in the OS, so the time-out is seen between them.
    if (try_lock(handle, target, length)) return 0;
    uint32_t error = platform::last_error();
    if (error != platform::kErrLockViolation) return error;
    if (backoff == Backoff::kFixed) {
      clock_sleep(kDlockRetryMs);
    } else {
      clock_sleep(wait_ms);
      if (wait_ms <= kLockBackoffDoublingLimitMs) wait_ms *= 2;
    }
  }
}

}  // namespace

uint64_t fx_lock_offset(int64_t position) {
  return (static_cast<uint64_t>(static_cast<uint32_t>(position)) + kLockBase32) & 0xFFFFFFFFULL;
}

uint64_t fx_dlock_offset(int64_t position, bool wide) {
  if (wide) return kLockBase64 + static_cast<uint64_t>(position);
  return kLockBase32 + static_cast<uint64_t>(static_cast<uint32_t>(position));
}

uint32_t FX_LOCK(platform::Handle handle, int mode, uint32_t length, int64_t position,
                 int timeout_s) {
  const bool logging = logging_on();
  if (logging) {
    if (const char* word = mode_word(mode)) {
      char text[96];
      std::snprintf(text, sizeof text, "Start FX_LOCK(%d, %s)", handle, word);
      audit(text);
    }
  }
  LockTarget target;
  if (resolve_position(handle, &position, &target.error)) {
    target.offset = fx_lock_offset(position);
    target.ok = true;
  }
  uint32_t result = lock_or_unlock(handle, mode, length, target, timeout_s, Backoff::kDoubling);
  if (logging) audit_closing(handle, mode, result);
  return result;
}

uint32_t FX_DLOCK(platform::Handle handle, int mode, uint32_t length, int64_t position,
                  int timeout_s, bool wide) {
  const bool logging = logging_on();
  if (logging) {
    if (const char* word = mode_word(mode)) {
      char text[96];
      std::snprintf(text, sizeof text, "Start FX_DLOCK(%s)", word);
      audit(text);
    }
  }
  LockTarget target;
  if (resolve_position(handle, &position, &target.error)) {
    if (wide && (position < 0 || position >= kWidePositionLimit)) {
      target.error = platform::kErrInvalidParameter;
    } else {
      target.offset = fx_dlock_offset(position, wide);
      target.ok = true;
    }
  }
  uint32_t result = lock_or_unlock(handle, mode, length, target, timeout_s, Backoff::kFixed);
  if (logging) audit_closing(handle, mode, result);
  return result;
}

int record_lock(RecordLockState& state, int request, uint32_t record_length) {
  int64_t position = 0;
  if (!platform::seek(state.handle, 0, platform::kSeekCurrent, &position)) {
    raise_status(kStatusIoError);
  }
  state.lock_position = position;
  state.lock_length = record_length;
  if (FX_DLOCK(state.handle, kLockWriteNoWait, record_length, position, 0, false) != 0) {
    int timeout_s = state.wait_seconds;
    if (request == kRecordLockNoWait) {
      int64_t now = clock_seconds();
      if (now != state.last_refusal_time) {
        state.last_refusal_time = now;
        raise_status(kStatusRecordLocked);
      }
      timeout_s = 1;
    }
    if (FX_DLOCK(state.handle, kLockWriteWait, record_length, position, timeout_s, false) != 0) {
      raise_status(kStatusRecordLocked);
    }
  }
  state.locked = true;
  return 1;
}

int record_unlock(RecordLockState& state) {
  FX_DLOCK(state.handle, kLockUnlock, state.lock_length, state.lock_position, 0, false);
  state.locked = false;
  return 1;
}

void set_lock_clock_for_test(const LockClock& clock) {
  g_clock = clock;
}

}  // namespace ismgr
