// Share modes across processes and within one process.
//
// POSIX has no share modes, so every handle publishes what it does and what
// it denies as shared open-file-description locks on reserved bytes far beyond
// any data (kShareBase = 2^62 and up):
//   kHasReadByte     held by every handle with read access
//   kHasWriteByte    held by every handle with write access
//   kDeniesReadByte  held by every handle that does not share reading
//   kDeniesWriteByte held by every handle that does not share writing
// An open conflicts when another handle denies an access it wants (a lock on
// the deny byte), or when it denies an access another handle has (a lock on
// the has byte). Open-file-description locks belong to one open of the file,
// not to the process, so two handles of one process see each other's claims.
//
// Each opener claims first and tests afterwards, without any lock around the
// two steps. Every conflict is mutual: when A wants what B denies, A claims a
// byte B tests and B claims a byte A tests. The kernel orders the lock calls,
// so whichever of the two tests comes later sees the other's claim: of two
// racing conflicting opens at least one fails (both may, and are tried again
// by the caller), and never do both succeed. Adjacent bytes are claimed, and
// tested, with one call: the usual open, sharing everything, costs two.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "ismgr/platform/internal.h"

namespace ismgr::platform::internal {

namespace {

// An open-file-description lock request of `type` for [start, start+length).
struct flock lock_request(short type, int64_t start, int64_t length) {
  struct flock fl = {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(start);
  fl.l_len = static_cast<off_t>(length);
  fl.l_pid = 0;  // must be 0 for open-file-description locks
  return fl;
}

}  // namespace

int ofd_lock(int fd, short type, int64_t start, int64_t length, bool wait) {
  struct flock fl = lock_request(type, start, length);
  for (;;) {
    if (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) == 0) return 0;
    if (errno != EINTR) return errno;
  }
}

int ofd_test(int fd, int64_t start, int64_t length, bool* held) {
  struct flock fl = lock_request(F_WRLCK, start, length);
  for (;;) {
    if (::fcntl(fd, F_OFD_GETLK, &fl) == 0) {
      *held = fl.l_type != F_UNLCK;
      return 0;
    }
    if (errno != EINTR) return errno;
  }
}

namespace {

bool held_by_other(int fd, int64_t first, int64_t count) {
  bool held = false;
  // A failed test cannot prove a conflict; it is treated as none.
  return ofd_test(fd, first, count, &held) == 0 && held;
}

// Bit i of a byte set stands for the share byte kHasReadByte + i.
constexpr unsigned kHasRead = 1, kHasWrite = 2, kDeniesRead = 4, kDeniesWrite = 8;

// Calls `fn(first, count)` for every run of adjacent bytes in `set`; stops at
// the first call that returns false and returns false then.
template <typename Fn>
bool for_each_run(unsigned set, Fn&& fn) {
  for (int i = 0; i < 4;) {
    if ((set & (1u << i)) == 0) {
      ++i;
      continue;
    }
    int n = 1;
    while (i + n < 4 && (set & (1u << (i + n))) != 0) ++n;
    if (!fn(kHasReadByte + i, n)) return false;
    i += n;
  }
  return true;
}

}  // namespace

uint32_t claim_share(int claim_fd, bool has_read, bool has_write, bool denies_read,
                     bool denies_write) {
  const unsigned claims = (has_read ? kHasRead : 0) | (has_write ? kHasWrite : 0) |
                          (denies_read ? kDeniesRead : 0) | (denies_write ? kDeniesWrite : 0);
  // The bytes whose holders conflict with this handle: the denials of what it
  // does, the accesses of what it denies.
  const unsigned conflicts = (has_read ? kDeniesRead : 0) | (has_write ? kDeniesWrite : 0) |
                             (denies_read ? kHasRead : 0) | (denies_write ? kHasWrite : 0);
  int err = 0;
  for_each_run(claims, [&](int64_t first, int count) {
    err = ofd_lock(claim_fd, F_RDLCK, first, count, false);
    return err == 0;
  });
  uint32_t result = kErrSuccess;
  if (err != 0) {
    result = os_error_from_errno(err, nullptr);
  } else {
    // A lock of this handle's own never shows in a test, so a run may cover
    // bytes the handle claims itself.
    bool clear = for_each_run(conflicts, [&](int64_t first, int count) {
      bool held = false;
      return ofd_test(claim_fd, first, count, &held) != 0 || !held;
    });
    if (!clear) result = kErrSharingViolation;
  }
  if (result != kErrSuccess) {
    ofd_lock(claim_fd, F_UNLCK, kHasReadByte, kDeniesWriteByte - kHasReadByte + 1, false);
  }
  return result;
}

uint32_t check_not_in_use(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return kErrSuccess;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) return kErrSuccess;  // cannot be examined: no claim is visible
  // Every handle holds at least one of the two (adjacent) access bytes.
  bool in_use = held_by_other(fd, kHasReadByte, 2);
  ::close(fd);
  return in_use ? kErrSharingViolation : kErrSuccess;
}

}  // namespace ismgr::platform::internal
