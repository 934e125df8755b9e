// Byte-range locks: the kernel's own. LockFileEx locks belong to the handle,
// so two handles of one process exclude each other as two processes do; a
// handle's lock overlapping one it holds is refused (ERROR_LOCK_VIOLATION);
// an unlock must name exactly a locked range (ERROR_NOT_LOCKED). Unlike the
// POSIX emulation, the locks are mandatory: a locked byte cannot be read or
// written through another handle.
#include "ismgr/platform/platform.h"
#include "ismgr/platform/win32/win32_internal.h"

namespace ismgr::platform {

using internal::fail_with_system_error;
using internal::native;

namespace {
OVERLAPPED at(uint64_t offset) {
  OVERLAPPED o = {};
  o.Offset = static_cast<DWORD>(offset);
  o.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return o;
}
}  // namespace

bool lock_range(Handle handle, uint64_t offset, uint64_t length, bool fail_immediately) {
  if (offset > kMaxLockEnd || length > kMaxLockEnd - offset) {
    set_last_error(kErrInvalidParameter);
    return false;
  }
  OVERLAPPED o = at(offset);
  DWORD flags = LOCKFILE_EXCLUSIVE_LOCK;
  if (fail_immediately) flags |= LOCKFILE_FAIL_IMMEDIATELY;
  if (!::LockFileEx(native(handle), flags, 0, static_cast<DWORD>(length),
                    static_cast<DWORD>(length >> 32), &o)) {
    return fail_with_system_error();
  }
  return true;
}

bool unlock_range(Handle handle, uint64_t offset, uint64_t length) {
  OVERLAPPED o = at(offset);
  if (!::UnlockFileEx(native(handle), 0, static_cast<DWORD>(length),
                      static_cast<DWORD>(length >> 32), &o)) {
    // An unlock cannot conflict with anything: a lock violation here (as
    // wine reports a range that is not locked) means ERROR_NOT_LOCKED.
    if (::GetLastError() == ERROR_LOCK_VIOLATION) {
      set_last_error(kErrNotLocked);
      return false;
    }
    return fail_with_system_error();
  }
  return true;
}

}  // namespace ismgr::platform
