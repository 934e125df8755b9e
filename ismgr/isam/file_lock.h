// The file lock with its header refresh, and the record locks of an open
// ISAM file.
//
// Whoever holds the file lock (one byte of the index file, taken with
// FX_LOCK) has the current dynamic header in memory: taking the lock re-reads
// it and tells whether another process changed the file since the last
// refresh (then the cached index blocks are discarded); releasing it after a
// change writes the header back with a higher update revision count.
//
// Record locks mark data positions as in use: one automatic lock on the
// current record, and a list of further locks kept per file. Lock-free files
// (state 0x8000) keep the bookkeeping without taking OS locks.
#ifndef ISMGR_ISAM_FILE_LOCK_H_
#define ISMGR_ISAM_FILE_LOCK_H_

#include <cstdint>

#include "ismgr/isam/file_control.h"

namespace ismgr {

// A node of a file's record lock list (a circular doubly linked list whose
// first node IsamFileControl::lock_list points to; null when empty). Without
// static vectoring each of the 32 slots is one locked position. With static
// vectoring a node holds 16 entries: slot i the position as addressed, slot
// 16 + i the position the record was vectored to (0 when the same).
struct RecordLockNode {
  RecordLockNode* next = nullptr;
  RecordLockNode* prev = nullptr;
  uint32_t count = 0;
  uint64_t slots[32] = {};
};

constexpr uint32_t kLockNodeEntries = 32;
constexpr uint32_t kLockNodeEntriesVectored = 16;

// Takes the file lock and refreshes the dynamic header. Returns 1 when the
// file was changed by someone else since the last refresh, else 0; 0 at once
// when the lock is already held. Unwinds with status 3 (lock refused), 22
// (short header read) or 25 (cache flush failed).
int take_file_lock(IsamFileControl* fc);

// Writes the dynamic header back when it was changed (with update_count
// raised), then gives the file lock up. Nothing when it is not held. Unwinds
// with status 25 when the write or the cache flush fails; the lock is then
// still held.
void release_file_lock(IsamFileControl* fc);

// Gives the file lock up without writing anything (after a failed
// operation).
void drop_file_lock(IsamFileControl* fc);

// Automatic lock of the current record: kind 0 releases it, kind 1 locks
// waiting up to `timeout_s` seconds (0 without limit), kind 2 locks without
// waiting. Returns 0, or -1 when another process holds the record. Unwinds
// with status 26 for a current position of -1 and 3 when locking failed
// otherwise (the OS error in the status block's result1).
int automatic_lock(IsamFileControl* fc, int kind, int timeout_s);

// Adds an entry to the lock list: 1, or 0 with status 31 when memory is
// short.
int lock_list_add(IsamFileControl* fc, int64_t vectored_position, int64_t position);
// 1 when the position (or, with static vectoring, its vectored position) is
// in the list.
int lock_list_contains(const IsamFileControl* fc, int64_t position);
// Replaces the entry of `old_position` by `new_position` and moves the OS
// lock. 1 when an entry was found, else 0.
int lock_list_move(IsamFileControl* fc, int64_t new_position, int64_t old_position);
// Removes the entry of `position`. 1 when an entry was found, else 0.
int lock_list_remove(IsamFileControl* fc, int64_t position);
// Number of entries in the list.
uint32_t lock_list_size(const IsamFileControl* fc);

// Releases the automatic lock and every listed lock and frees the list.
// Returns 0, or -2 for an invalid control block.
int release_all_record_locks(IsamFileControl* fc);

// The current time in seconds as the header refresh sees it (tests).
using RefreshClock = int64_t (*)();
void set_refresh_clock_for_test(RefreshClock clock);

}  // namespace ismgr

#endif  // ISMGR_ISAM_FILE_LOCK_H_
