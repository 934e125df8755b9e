// Byte-range locks that belong to a handle.
//
// Each lock is an exclusive open-file-description lock, so two handles of one
// process exclude each other as two processes do. The handle's lock ranges are
// also kept in the handle table: an unlock must name a range that was locked
// (as the locks this layer stands in for require), and a handle may not lock a
// range overlapping one it holds (the OS would merge them silently).
//
// An exclusive lock needs a writable descriptor. A read-only handle opens a
// writable companion (a second open of its file) at its first lock, so that
// opens that never lock cost nothing for it. A handle whose file this process
// may not write gets none; it locks by taking a shared lock on the range and
// then testing that no other open of the file holds any lock there; a
// conflicting test releases the range again. Such a lock excludes, and is
// excluded by, exclusive locks and other emulated locks alike.
#include <fcntl.h>

#include <cerrno>

#include "ismgr/platform/internal.h"
#include "ismgr/platform/platform.h"

namespace ismgr::platform {

using internal::HandleInfo;
using internal::LockedRange;

namespace {

constexpr uint32_t kEmulatedWaitMs = 10;

bool overlaps(const LockedRange& r, uint64_t offset, uint64_t length) {
  if (r.length == 0 || length == 0) return false;
  return offset < r.offset + r.length && r.offset < offset + length;
}

void drop_pending(Handle handle, uint64_t offset, uint64_t length) {
  internal::with_handle(handle, [&](HandleInfo& h) {
    for (auto it = h.ranges.begin(); it != h.ranges.end(); ++it) {
      if (it->pending && it->offset == offset && it->length == length) {
        h.ranges.erase(it);
        return;
      }
    }
  });
}

// One attempt (or a wait, for an exclusive descriptor) at the OS lock.
uint32_t acquire(int fd, bool emulated, uint64_t offset, uint64_t length, bool wait) {
  auto start = static_cast<int64_t>(offset);
  auto len = static_cast<int64_t>(length);
  if (!emulated) {
    int err = internal::ofd_lock(fd, F_WRLCK, start, len, wait);
    if (err == 0) return kErrSuccess;
    if (err == EAGAIN || err == EACCES || err == EDEADLK) return kErrLockViolation;
    return internal::os_error_from_errno(err, nullptr);
  }
  for (;;) {
    int err = internal::ofd_lock(fd, F_RDLCK, start, len, false);
    if (err == 0) {
      bool held = false;
      err = internal::ofd_test(fd, start, len, &held);
      if (err == 0 && !held) return kErrSuccess;
      internal::ofd_lock(fd, F_UNLCK, start, len, false);
      if (err != 0) return internal::os_error_from_errno(err, nullptr);
    } else if (err != EAGAIN && err != EACCES) {
      return internal::os_error_from_errno(err, nullptr);
    }
    if (!wait) return kErrLockViolation;
    sleep_ms(kEmulatedWaitMs);
  }
}

}  // namespace

bool lock_range(Handle handle, uint64_t offset, uint64_t length, bool fail_immediately) {
  if (offset > kMaxLockEnd || length > kMaxLockEnd - offset) {
    set_last_error(kErrInvalidParameter);
    return false;
  }
  int fd = -1;
  bool emulated = false;
  uint32_t refused = kErrSuccess;
  bool known = internal::with_handle(handle, [&](HandleInfo& h) {
    for (const LockedRange& r : h.ranges) {
      if (overlaps(r, offset, length)) {
        refused = kErrLockViolation;
        return;
      }
    }
    if (h.exclusive_fd < 0 && !h.companion_tried && h.claim_fd >= 0) {
      h.companion_tried = true;
      h.companion = h.exclusive_fd = internal::reopen(h.claim_fd, O_RDWR);
    }
    if (h.exclusive_fd >= 0) {
      fd = h.exclusive_fd;
    } else if (h.claim_fd >= 0) {
      fd = h.claim_fd;
      emulated = true;
    } else {
      refused = kErrInvalidHandle;
      return;
    }
    if (length == 0) fd = -1;
    h.ranges.push_back(LockedRange{offset, length, fd, emulated, /*pending=*/true});
  });
  if (!known) {
    set_last_error(kErrInvalidHandle);
    return false;
  }
  if (refused != kErrSuccess) {
    set_last_error(refused);
    return false;
  }
  uint32_t err =
      length == 0 ? kErrSuccess : acquire(fd, emulated, offset, length, !fail_immediately);
  if (err != kErrSuccess) {
    drop_pending(handle, offset, length);
    set_last_error(err);
    return false;
  }
  internal::with_handle(handle, [&](HandleInfo& h) {
    for (LockedRange& r : h.ranges) {
      if (r.pending && r.offset == offset && r.length == length) {
        r.pending = false;
        return;
      }
    }
  });
  return true;
}

bool unlock_range(Handle handle, uint64_t offset, uint64_t length) {
  bool found = false;
  LockedRange range{};
  bool known = internal::with_handle(handle, [&](HandleInfo& h) {
    for (auto it = h.ranges.begin(); it != h.ranges.end(); ++it) {
      if (!it->pending && it->offset == offset && it->length == length) {
        range = *it;
        h.ranges.erase(it);
        found = true;
        return;
      }
    }
  });
  if (!known) {
    set_last_error(kErrInvalidHandle);
    return false;
  }
  if (!found) {
    set_last_error(kErrNotLocked);
    return false;
  }
  if (range.fd >= 0) {
    int err = internal::ofd_lock(range.fd, F_UNLCK, static_cast<int64_t>(offset),
                                 static_cast<int64_t>(length), false);
    if (err != 0) {
      set_last_error(internal::os_error_from_errno(err, nullptr));
      return false;
    }
  }
  return true;
}

}  // namespace ismgr::platform
