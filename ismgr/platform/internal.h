// Shared by the POSIX implementation of the platform layer only; nothing
// outside ismgr/platform includes this header.
#ifndef ISMGR_PLATFORM_INTERNAL_H_
#define ISMGR_PLATFORM_INTERNAL_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ismgr/platform/platform.h"

namespace ismgr::platform::internal {

// A name as the OS reads it: every "\" becomes "/".
std::string to_posix_path(const char* name);

// The OS error for an errno value, without setting it. `path` (already in
// POSIX form) tells "file not found" from "path not found" for ENOENT.
uint32_t os_error_from_errno(int err, const char* path);

// Share claims live on reserved bytes at kShareBase and above: far beyond any
// data and beyond every record-lock offset (record locks end below kMaxLockEnd,
// which equals kShareBase).
// The order of the four bytes lets the usual claims and tests take one call.
constexpr int64_t kShareBase = int64_t{1} << 62;
constexpr int64_t kHasReadByte = kShareBase + 1;   // "some handle may read"
constexpr int64_t kHasWriteByte = kShareBase + 2;  // "some handle may write"
constexpr int64_t kDeniesReadByte = kShareBase + 3;
constexpr int64_t kDeniesWriteByte = kShareBase + 4;

struct LockedRange {
  uint64_t offset;
  uint64_t length;
  int fd;         // the descriptor that holds the OS lock (-1: zero length)
  bool emulated;  // held as a checked shared lock (no writable descriptor)
  bool pending;   // being acquired by some thread
};

// What the layer keeps for one open handle.
struct HandleInfo {
  int claim_fd = -1;      // readable descriptor holding the share claims
  int exclusive_fd = -1;  // writable descriptor for exclusive locks, or -1
  int companion = -1;     // extra descriptor owned by the handle, or -1
  // A read-only handle opens its writable companion at its first lock; set
  // once that has been tried.
  bool companion_tried = false;
  // A regular file (partial transfers are continued); known only once the
  // type has been asked for: an open need not ask.
  bool regular = false;
  bool type_known = false;
  std::string delete_on_close;  // absolute name to remove at close
  std::vector<LockedRange> ranges;
};

// The table of open handles, keyed by descriptor, guarded by one mutex.
void register_handle(int fd, HandleInfo info);
// Removes the handle's entry and hands it back; false when unknown.
bool unregister_handle(int fd, HandleInfo* info);
// Copies the descriptors of a handle; false when unknown.
bool lookup_handle(int fd, HandleInfo* info);
// Runs `fn` on the entry under the table's mutex; false when unknown.
bool with_handle(int fd, const std::function<void(HandleInfo&)>& fn);

// Places the share claims of a new handle on `claim_fd` (readable) and tests
// for conflicting claims of other handles. Returns kErrSuccess, or
// kErrSharingViolation or another OS error with the claims released again.
uint32_t claim_share(int claim_fd, bool has_read, bool has_write, bool denies_read,
                     bool denies_write);
// kErrSharingViolation when the file `path` is open through this layer by any
// handle; kErrSuccess otherwise (also when it cannot be examined).
uint32_t check_not_in_use(const std::string& path);

// A second, independent open of the file behind `fd` (its own open file
// description) with `flags`, or -1.
int reopen(int fd, int flags);

// fcntl open-file-description lock helpers; they retry on EINTR. Return 0 or
// an errno value.
int ofd_lock(int fd, short type, int64_t start, int64_t length, bool wait);
// Sets *held when another open file description holds a lock that would
// conflict with an exclusive lock on the range.
int ofd_test(int fd, int64_t start, int64_t length, bool* held);

}  // namespace ismgr::platform::internal

#endif  // ISMGR_PLATFORM_INTERNAL_H_
