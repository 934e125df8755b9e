// File handles over POSIX descriptors: open with share modes, transfers,
// positioning, status, delete and move.
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "ismgr/platform/internal.h"
#include "ismgr/platform/platform.h"

namespace ismgr::platform {

namespace internal {
std::string to_posix_path(const char* name) {
  std::string s(name != nullptr ? name : "");
  for (char& c : s) {
    if (c == '\\') c = '/';
  }
  return s;
}
}  // namespace internal

using internal::HandleInfo;

namespace {

bool fail_errno(int err, const char* path = nullptr) {
  set_last_error(internal::os_error_from_errno(err, path));
  return false;
}

std::string proc_fd_path(int fd) {
  return "/proc/self/fd/" + std::to_string(fd);
}

std::string absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  return current_directory() + "/" + path;
}

void close_quietly(int fd) {
  if (fd >= 0) ::close(fd);
}

// Fails an open: closes what it had opened and sets the error.
Handle refuse_open(int fd, int companion, uint32_t error) {
  close_quietly(companion);
  ::close(fd);
  set_last_error(error);
  return kInvalidHandle;
}

// Reads at `offset` until `count` bytes, the end of the file or an error.
// Returns 0 or an errno value.
int pread_fully(int fd, void* buffer, uint32_t count, int64_t offset, uint32_t* done) {
  *done = 0;
  auto* p = static_cast<char*>(buffer);
  while (*done < count) {
    ssize_t n = ::pread(fd, p + *done, count - *done, static_cast<off_t>(offset + *done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) break;
    *done += static_cast<uint32_t>(n);
  }
  return 0;
}

}  // namespace

namespace internal {
int reopen(int fd, int flags) {
  std::string p = proc_fd_path(fd);
  return ::open(p.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
}
}  // namespace internal

Handle open_file(const char* name, const OpenOptions& options) {
  if (name == nullptr) {
    set_last_error(kErrInvalidParameter);
    return kInvalidHandle;
  }
  std::string path = internal::to_posix_path(name);
  // O_NONBLOCK: a FIFO or a device named as a file must not hold the open
  // (or a later read) until some other process comes along; it reads as an
  // empty file instead. Regular files ignore the flag.
  int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  switch (options.access) {
    case Access::kRead:
      flags |= O_RDONLY;
      break;
    case Access::kWrite:
      flags |= O_WRONLY;
      break;
    case Access::kReadWrite:
      flags |= O_RDWR;
      break;
  }
  if (options.write_through) flags |= O_DSYNC;
  // kCreateAlways empties the file only after the share check has passed.
  if (options.disposition == Disposition::kCreateNew) flags |= O_CREAT | O_EXCL;
  if (options.disposition == Disposition::kCreateAlways) flags |= O_CREAT;

  int fd;
  do {
    fd = ::open(path.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    fail_errno(errno, path.c_str());
    return kInvalidHandle;
  }
  HandleInfo info;
  // The type of the file: a directory cannot be opened. An open for writing
  // of a directory has already failed, and so does the first read of one;
  // only other opens ask (and creating ones, which empty regular files only).
  const bool first_read = options.first_read != nullptr && options.access != Access::kWrite;
  if (options.disposition != Disposition::kOpenExisting ||
      (options.access == Access::kRead && !first_read)) {
    struct stat st;
    if (::fstat(fd, &st) != 0)
      return refuse_open(fd, -1, internal::os_error_from_errno(errno, nullptr));
    if (S_ISDIR(st.st_mode)) return refuse_open(fd, -1, kErrAccessDenied);
    info.regular = S_ISREG(st.st_mode);
    // A file is only ever created, or emptied, as a regular file: creating
    // "over" a FIFO or a device would write into it.
    if (!info.regular && options.disposition != Disposition::kOpenExisting) {
      return refuse_open(fd, -1, kErrAccessDenied);
    }
    info.type_known = true;
  }

  // Share claims go on a readable descriptor: the handle's own, or, for a
  // write-only handle, a read-only companion when the process may read the
  // file (otherwise the handle carries none). Exclusive locks go on the
  // handle's own descriptor when it is writable; a read-only handle opens a
  // writable companion only at its first lock (see lock.cpp).
  if (!info.type_known || info.regular) {
    switch (options.access) {
      case Access::kRead:
        info.claim_fd = fd;
        break;
      case Access::kReadWrite:
        info.claim_fd = info.exclusive_fd = fd;
        break;
      case Access::kWrite:
        info.exclusive_fd = fd;
        info.companion_tried = true;
        info.companion = info.claim_fd = internal::reopen(fd, O_RDONLY);
        break;
    }
    if (info.claim_fd >= 0) {
      uint32_t err = internal::claim_share(
          info.claim_fd, options.access != Access::kWrite, options.access != Access::kRead,
          (options.share & kShareRead) == 0, (options.share & kShareWrite) == 0);
      if (err != kErrSuccess) return refuse_open(fd, info.companion, err);
    }
  }
  if (options.disposition == Disposition::kCreateAlways && info.regular &&
      ::ftruncate(fd, 0) != 0) {
    return refuse_open(fd, info.companion, internal::os_error_from_errno(errno, nullptr));
  }
  if (first_read) {
    uint32_t done = 0;
    int err = pread_fully(fd, options.first_read, options.first_read_count, 0, &done);
    if (err == EISDIR) return refuse_open(fd, info.companion, kErrAccessDenied);
    if (options.first_read_done != nullptr) *options.first_read_done = err == 0 ? done : 0;
  }
  if (options.sequential) ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  if (options.delete_on_close) info.delete_on_close = absolute(path);
  internal::register_handle(fd, std::move(info));
  return fd;
}

bool close_file(Handle handle) {
  HandleInfo info;
  bool known = internal::unregister_handle(handle, &info);
  if (known) close_quietly(info.companion);
  if (::close(handle) != 0 && errno != EINTR) return fail_errno(errno);
  if (known && !info.delete_on_close.empty()) ::unlink(info.delete_on_close.c_str());
  return true;
}

bool seek(Handle handle, int64_t distance, SeekMethod method, int64_t* new_position) {
  int64_t base = 0;
  switch (method) {
    case kSeekBegin:
      break;
    case kSeekCurrent: {
      off_t cur = ::lseek(handle, 0, SEEK_CUR);
      if (cur < 0) return fail_errno(errno);
      base = cur;
      break;
    }
    case kSeekEnd: {
      struct stat st;
      if (::fstat(handle, &st) != 0) return fail_errno(errno);
      base = st.st_size;
      break;
    }
    default:
      set_last_error(kErrInvalidParameter);
      return false;
  }
  int64_t target;
  if (__builtin_add_overflow(base, distance, &target)) {
    set_last_error(distance < 0 ? kErrNegativeSeek : kErrInvalidParameter);
    return false;
  }
  if (target < 0) {
    set_last_error(kErrNegativeSeek);
    return false;
  }
  off_t pos = ::lseek(handle, static_cast<off_t>(target), SEEK_SET);
  if (pos < 0) return fail_errno(errno);
  if (new_position != nullptr) *new_position = pos;
  return true;
}

namespace {
// Whether a partial transfer of the handle is continued: for a regular file.
// The type is asked for once, at the first partial transfer.
bool is_regular(Handle handle) {
  bool regular = false;
  bool known = internal::with_handle(handle, [&](HandleInfo& h) {
    if (!h.type_known) {
      struct stat st;
      if (::fstat(handle, &st) != 0) return;
      h.regular = S_ISREG(st.st_mode);
      h.type_known = true;
    }
    regular = h.regular;
  });
  return known && regular;
}
}  // namespace

bool read(Handle handle, void* buffer, uint32_t count, uint32_t* done) {
  *done = 0;
  auto* p = static_cast<char*>(buffer);
  int regular = -1;  // not asked yet
  while (*done < count) {
    ssize_t n = ::read(handle, p + *done, count - *done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail_errno(errno);
    }
    if (n == 0) break;
    *done += static_cast<uint32_t>(n);
    if (*done == count) break;
    if (regular < 0) regular = is_regular(handle) ? 1 : 0;
    if (regular == 0) break;  // a pipe or device gives what it has
  }
  return true;
}

bool read_at(Handle handle, void* buffer, uint32_t count, int64_t offset, uint32_t* done) {
  if (offset < 0) {
    *done = 0;
    set_last_error(kErrNegativeSeek);
    return false;
  }
  int err = pread_fully(handle, buffer, count, offset, done);
  return err == 0 || fail_errno(err);
}

bool write(Handle handle, const void* buffer, uint32_t count, uint32_t* done) {
  *done = 0;
  const auto* p = static_cast<const char*>(buffer);
  while (*done < count) {
    ssize_t n = ::write(handle, p + *done, count - *done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail_errno(errno);
    }
    if (n == 0) {
      set_last_error(kErrDiskFull);
      return false;
    }
    *done += static_cast<uint32_t>(n);
  }
  return true;
}

bool flush(Handle handle) {
  if (::fsync(handle) != 0 && errno != EINVAL && errno != EROFS) return fail_errno(errno);
  return true;
}

bool set_end_of_file(Handle handle) {
  off_t pos = ::lseek(handle, 0, SEEK_CUR);
  if (pos < 0) return fail_errno(errno);
  while (::ftruncate(handle, pos) != 0) {
    if (errno != EINTR) return fail_errno(errno);
  }
  return true;
}

bool file_size(Handle handle, int64_t* size) {
  struct stat st;
  if (::fstat(handle, &st) != 0) return fail_errno(errno);
  *size = st.st_size;
  return true;
}

// Linux keeps a creation time it does not let anyone set; only the access
// time is set here, the modification time is left alone.
bool set_created_and_accessed_now(Handle handle) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_NOW;
  times[1].tv_sec = 0;
  times[1].tv_nsec = UTIME_OMIT;
  if (::futimens(handle, times) != 0) return fail_errno(errno);
  return true;
}

bool delete_file(const char* name) {
  std::string path = internal::to_posix_path(name);
  uint32_t in_use = internal::check_not_in_use(path);
  if (in_use != kErrSuccess) {
    set_last_error(in_use);
    return false;
  }
  if (::unlink(path.c_str()) != 0) return fail_errno(errno, path.c_str());
  return true;
}

namespace {
// Moves a regular file to another file system: copy to a new target, then
// remove the source. A failed copy removes the partial target.
bool copy_then_delete(const std::string& from, const std::string& to) {
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);  // never waits on a FIFO
  if (in < 0) return fail_errno(errno, from.c_str());
  struct stat st;
  if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(in);
    set_last_error(kErrNotSameDevice);
    return false;
  }
  int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777);
  if (out < 0) {
    int err = errno;
    ::close(in);
    if (err == EEXIST) {
      set_last_error(kErrAlreadyExists);
      return false;
    }
    return fail_errno(err, to.c_str());
  }
  char buf[65536];
  int err = 0;
  for (;;) {
    ssize_t n = ::read(in, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      err = errno;
      break;
    }
    if (n == 0) break;
    uint32_t done = 0;
    if (!write(out, buf, static_cast<uint32_t>(n), &done)) {
      err = ENOSPC;
      break;
    }
  }
  if (err == 0 && ::fsync(out) != 0) err = errno;
  ::close(in);
  if (::close(out) != 0 && err == 0) err = errno;
  if (err != 0) {
    ::unlink(to.c_str());
    return fail_errno(err);
  }
  if (::unlink(from.c_str()) != 0) return fail_errno(errno, from.c_str());
  return true;
}
}  // namespace

bool move_file(const char* from, const char* to) {
  std::string src = internal::to_posix_path(from);
  std::string dst = internal::to_posix_path(to);
  uint32_t in_use = internal::check_not_in_use(src);
  if (in_use != kErrSuccess) {
    set_last_error(in_use);
    return false;
  }
  if (::renameat2(AT_FDCWD, src.c_str(), AT_FDCWD, dst.c_str(), RENAME_NOREPLACE) == 0) return true;
  int err = errno;
  if (err == EINVAL || err == ENOSYS || err == ENOTSUP) {
    // The file system cannot rename without replacing: link, then unlink.
    if (::link(src.c_str(), dst.c_str()) == 0) {
      if (::unlink(src.c_str()) != 0) {
        int e = errno;
        ::unlink(dst.c_str());
        return fail_errno(e, src.c_str());
      }
      return true;
    }
    err = errno;
  }
  if (err == EEXIST) {
    set_last_error(kErrAlreadyExists);
    return false;
  }
  if (err == EXDEV) return copy_then_delete(src, dst);
  // Which of the two names is missing decides file versus path not found.
  struct stat st;
  if (err == ENOENT && ::lstat(src.c_str(), &st) == 0) return fail_errno(err, dst.c_str());
  return fail_errno(err, src.c_str());
}

namespace {
void fill_status(const struct stat& st, bool read_only, FileStatus* status) {
  status->is_directory = S_ISDIR(st.st_mode);
  status->read_only = read_only;
  status->size = st.st_size;
  status->modified = st.st_mtim.tv_sec;
  status->accessed = st.st_atim.tv_sec;
  status->changed = st.st_ctim.tv_sec;
}
}  // namespace

bool file_status(const char* name, FileStatus* status) {
  std::string path = internal::to_posix_path(name);
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return fail_errno(errno, path.c_str());
  fill_status(st, ::access(path.c_str(), W_OK) != 0, status);
  return true;
}

bool handle_status(Handle handle, FileStatus* status) {
  struct stat st;
  if (::fstat(handle, &st) != 0) return fail_errno(errno);
  std::string p = proc_fd_path(handle);
  fill_status(st, ::access(p.c_str(), W_OK) != 0, status);
  return true;
}

std::string current_directory() {
  std::string buf(256, '\0');
  for (;;) {
    if (::getcwd(buf.data(), buf.size()) != nullptr) {
      buf.resize(std::strlen(buf.c_str()));
      return buf;
    }
    if (errno != ERANGE || buf.size() > (1u << 20)) {
      set_last_error_from_errno(errno);
      return std::string();
    }
    buf.resize(buf.size() * 2);
  }
}

}  // namespace ismgr::platform
