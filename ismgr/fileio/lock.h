// Byte-range locks that mark record and file positions.
//
// A lock never covers data: it sits at a fixed base far beyond any data plus
// the position it stands for (2^31 for 32-bit lock positions, 2^40 for the
// records of 64-bit files), so the locked position stays readable by all.
// Every lock is exclusive and belongs to the handle that took it: two handles
// of one process exclude each other as two processes do.
//
// FX_LOCK and FX_DLOCK never unwind. They return 0 on success, 1 when the
// lock was refused (or a wait timed out, or an unlock failed), or the OS error
// that stopped a wait. They leave the thread's last OS error as the failing
// call set it, also when lock logging writes its audit lines.
#ifndef ISMGR_FILEIO_LOCK_H_
#define ISMGR_FILEIO_LOCK_H_

#include <cstdint>

#include "ismgr/platform/platform.h"

namespace ismgr {

// Lock modes. Every mode but 0 takes an exclusive lock; the read modes differ
// from kLockWriteNoWait only in their audit line. Any other value locks like
// kLockWriteNoWait and writes no opening audit line.
enum LockMode : int {
  kLockUnlock = 0,
  kLockWriteWait = 1,    // waits for the lock, up to the time-out
  kLockWriteNoWait = 2,  // refused at once when another handle holds it
  kLockRead = 3,
  kLockReadAlt = 4,
};

// Lock position meaning "the file's current position".
constexpr int64_t kLockCurrentPosition = -1;

constexpr uint64_t kLockBase32 = 0x80000000ULL;     // 2^31
constexpr uint64_t kLockBase64 = 0x10000000000ULL;  // 2^40

// The offset of the OS lock FX_LOCK takes for `position`: the sum of the low
// 32 bits and 2^31, wrapped at 2^32.
uint64_t fx_lock_offset(int64_t position);
// The offset of the OS lock FX_DLOCK takes: 2^31 plus the low 32 bits of the
// position (no wrap) for 32-bit files, 2^40 plus the position for 64-bit files.
uint64_t fx_dlock_offset(int64_t position, bool wide);

// Locks (modes 1-4) or unlocks (mode 0) `length` bytes at the FX_LOCK offset
// of `position` (-1: the current position). Mode 1 waits up to `timeout_s`
// seconds (0: without limit), retrying without blocking after 1, 2, 4, ...,
// 128, 256, 256, ... milliseconds.
uint32_t FX_LOCK(platform::Handle handle, int mode, uint32_t length, int64_t position,
                 int timeout_s);

// As FX_LOCK at the FX_DLOCK offset; `wide` selects the 64-bit file base.
// Mode 1 retries every 200 milliseconds.
uint32_t FX_DLOCK(platform::Handle handle, int mode, uint32_t length, int64_t position,
                  int timeout_s, bool wide);

// The part of a sequential or relative file's driver record that its record
// locks use.
struct RecordLockState {
  platform::Handle handle = platform::kInvalidHandle;
  int64_t lock_position = 0;  // position of the held (or last asked) lock
  uint32_t lock_length = 0;
  bool locked = false;            // a record lock is held
  int64_t last_refusal_time = 0;  // seconds, time of the last refused no-wait lock
  int32_t wait_seconds = 0;       // time-out of waiting requests, 0 waits without limit
};

// Request value of record_lock that means "fail when refused".
constexpr int kRecordLockNoWait = 2;

// Locks the record of `record_length` bytes at the file's current position.
// Returns 1, or unwinds with status 23 ("Record is locked") when the lock is
// refused. A no-wait request refused twice in one second waits up to a second
// the second time before it fails.
int record_lock(RecordLockState& state, int request, uint32_t record_length);
// Releases the record lock taken by record_lock. Returns 1.
int record_unlock(RecordLockState& state);

// Waiting and time, replaceable so that tests can drive the waits without
// sleeping. A null member keeps the real function.
struct LockClock {
  void (*sleep_ms)(uint32_t milliseconds) = nullptr;
  uint64_t (*monotonic_ms)() = nullptr;  // measures the time-outs
  int64_t (*now_seconds)() = nullptr;    // the record lock's refusal second
};
void set_lock_clock_for_test(const LockClock& clock);

}  // namespace ismgr

#endif  // ISMGR_FILEIO_LOCK_H_
