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
// Each opener claims first and tests afterwards, so of two racing conflicting
// opens at least one sees the other. To keep both from failing, the claim and
// test happen under an exclusive lock on kGuardByte (a shared one when the
// handle cannot write the file, which still excludes every writable opener).
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
bool held_by_other(int fd, int64_t byte) {
  bool held = false;
  // A failed test cannot prove a conflict; it is treated as none.
  return ofd_test(fd, byte, 1, &held) == 0 && held;
}
}  // namespace

uint32_t claim_share(int claim_fd, bool can_guard_exclusively, bool has_read, bool has_write,
                     bool denies_read, bool denies_write) {
  int err = ofd_lock(claim_fd, can_guard_exclusively ? F_WRLCK : F_RDLCK, kGuardByte, 1, true);
  if (err != 0) return os_error_from_errno(err, nullptr);

  const struct {
    bool claimed;
    int64_t byte;
  } claims[] = {{has_read, kHasReadByte},
                {has_write, kHasWriteByte},
                {denies_read, kDeniesReadByte},
                {denies_write, kDeniesWriteByte}};
  uint32_t result = kErrSuccess;
  for (const auto& c : claims) {
    if (!c.claimed) continue;
    err = ofd_lock(claim_fd, F_RDLCK, c.byte, 1, false);
    if (err != 0) {
      result = os_error_from_errno(err, nullptr);
      break;
    }
  }
  if (result == kErrSuccess) {
    bool conflict = (has_read && held_by_other(claim_fd, kDeniesReadByte)) ||
                    (has_write && held_by_other(claim_fd, kDeniesWriteByte)) ||
                    (denies_read && held_by_other(claim_fd, kHasReadByte)) ||
                    (denies_write && held_by_other(claim_fd, kHasWriteByte));
    if (conflict) result = kErrSharingViolation;
  }
  if (result != kErrSuccess) {
    ofd_lock(claim_fd, F_UNLCK, kHasReadByte, kDeniesWriteByte - kHasReadByte + 1, false);
  }
  ofd_lock(claim_fd, F_UNLCK, kGuardByte, 1, false);
  return result;
}

uint32_t check_not_in_use(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return kErrSuccess;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) return kErrSuccess;  // cannot be examined: no claim is visible
  // Every handle holds at least one of the two access bytes.
  bool in_use = held_by_other(fd, kHasReadByte) || held_by_other(fd, kHasWriteByte);
  ::close(fd);
  return in_use ? kErrSharingViolation : kErrSuccess;
}

}  // namespace ismgr::platform::internal
