// The file primitives over the platform layer.
#include "ismgr/fileio/file_io.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace ismgr {

namespace {

namespace os = platform;

constexpr int32_t kDefaultRetryCount = 50;
constexpr uint32_t kOpenRetryPauseMs = 100;
constexpr uint32_t kTransferRetryPauseMs = 500;
constexpr int kTransferAttempts = 20;
constexpr int64_t kLargeFileProbeOffset = int64_t{1} << 39;

std::atomic<int32_t> g_retry_count{-1};

FileIoHooks& hooks() {
  static FileIoHooks h;
  return h;
}

bool os_read(FileHandle h, void* buffer, uint32_t count, uint32_t* done) {
  if (hooks().read) return hooks().read(h, buffer, count, done);
  return os::read(h, buffer, count, done);
}

bool os_write(FileHandle h, const void* buffer, uint32_t count, uint32_t* done) {
  if (hooks().write) return hooks().write(h, buffer, count, done);
  return os::write(h, buffer, count, done);
}

void pause_ms(uint32_t ms) {
  if (hooks().sleep) {
    hooks().sleep(ms);
  } else {
    os::sleep_ms(ms);
  }
}

void set_errno_from_last_error() {
  errno = errno_for_os_error(os::last_error());
}

// The C library's decimal conversion of the value: leading blanks and a sign,
// digits up to the first other character; no digits give 0. Values beyond the
// 32-bit range are clamped rather than left undefined.
int32_t decimal_value(const char* text) {
  char* end = nullptr;
  long long v = std::strtoll(text, &end, 10);
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

os::SeekMethod seek_method(int method) {
  if (method == 0) return os::kSeekBegin;
  if (method == 1) return os::kSeekCurrent;
  return os::kSeekEnd;
}

int64_t low_32(int64_t value) {
  return static_cast<int64_t>(static_cast<uint32_t>(value));
}

// Positions the file for a positioned transfer; false when the seek failed.
bool seek_for_transfer(FileHandle h, int64_t offset, bool wide) {
  return os::seek(h, wide ? offset : low_32(offset), os::kSeekBegin, nullptr);
}

}  // namespace

int32_t file_retry_count() {
  int32_t v = g_retry_count.load();
  if (v == -1) {
    const char* text = os::get_env("RETRYTIME");
    v = text != nullptr ? decimal_value(text) : kDefaultRetryCount;
    g_retry_count.store(v);
  }
  return v;
}

void reset_file_retry_count_for_testing() {
  g_retry_count.store(-1);
}

void set_file_io_hooks_for_testing(const FileIoHooks& h) {
  hooks() = h;
}

int errno_for_os_error(uint32_t os_error) {
  switch (os_error) {
    case os::kErrInvalidFunction:
    case os::kErrInvalidAccess:
    case os::kErrInvalidParameter:
    case os::kErrNegativeSeek:
    case os::kErrInvalidFlagNumber:
    case os::kErrInvalidFlags:
      return EINVAL;
    case os::kErrTooManyOpenFiles:
    case os::kErrSharingBufferExceeded:
    case os::kErrNoMoreSearchHandles:
      return EMFILE;
    case os::kErrAccessDenied:
    case os::kErrWriteProtect:
    case os::kErrSharingViolation:
    case os::kErrLockViolation:
      return EACCES;
    case os::kErrNotEnoughMemory:
      return ENOMEM;
    case os::kErrFileExists:
    case os::kErrAlreadyExists:
      return EEXIST;
    case os::kErrDiskFull:
    case os::kErrFileSystemLimitation:
      return ENOSPC;
    default:
      return ENOENT;
  }
}

int64_t map_os_error(int64_t result) {
  if (result < 0) set_errno_from_last_error();
  return result;
}

namespace {

FileHandle open_with_first_read(const char* name, int flags, int share, void* buffer,
                                uint32_t count, uint32_t* done) {
  if (flags & kOpenAppend) return kInvalidFileHandle;

  os::OpenOptions o;
  o.first_read = buffer;
  o.first_read_count = count;
  o.first_read_done = done;
  if (flags & kOpenReadWrite) {
    o.access = os::Access::kReadWrite;
  } else if (flags & kOpenWriteOnly) {
    o.access = os::Access::kWrite;
  } else {
    o.access = os::Access::kRead;
  }
  o.sequential = (flags & (kOpenSequential | kOpenCreate)) != 0;
  o.delete_on_close = (flags & kOpenTemporary) != 0;
  o.temporary = (flags & kOpenShortLived) != 0;
  o.write_through = (flags & kOpenWriteThrough) != 0;
  switch (share) {
    case kShareDenyWrite:
      o.share = os::kShareRead;
      break;
    case kShareDenyRead:
      o.share = os::kShareWrite;
      break;
    case kShareDenyReadWrite:
      o.share = os::kShareNone;
      break;
    default:
      o.share = os::kShareRead | os::kShareWrite;
      break;
  }

  const bool create = (flags & kOpenCreate) != 0;
  if (create) {
    o.disposition =
        (flags & kOpenExclusive) ? os::Disposition::kCreateNew : os::Disposition::kCreateAlways;
  } else if (flags & kOpenTruncate) {
    // The file must exist and be open-able as asked before it is emptied.
    o.disposition = os::Disposition::kOpenExisting;
    os::OpenOptions probe_options = o;
    probe_options.first_read = nullptr;
    FileHandle probe = os::open_file(name, probe_options);
    if (probe == kInvalidFileHandle) {
      set_errno_from_last_error();
      return kInvalidFileHandle;
    }
    os::close_file(probe);
    o.disposition = os::Disposition::kCreateAlways;
  } else {
    o.disposition = os::Disposition::kOpenExisting;
  }

  const bool may_retry = !create && (flags & (kOpenRetryInUse | kOpenTruncate)) != 0;
  int32_t attempts = 0;
  for (;;) {
    FileHandle h = os::open_file(name, o);
    if (h != kInvalidFileHandle) {
      if (create) os::set_created_and_accessed_now(h);
      return h;
    }
    int32_t retries = file_retry_count();
    set_errno_from_last_error();
    if (errno != EACCES || !may_retry) return kInvalidFileHandle;
    if (++attempts >= retries) return kInvalidFileHandle;
    int saved = errno;
    pause_ms(kOpenRetryPauseMs);
    errno = saved;
  }
}

}  // namespace

FileHandle file_open(const char* name, int flags, int share, int /*perm*/) {
  return open_with_first_read(name, flags, share, nullptr, 0, nullptr);
}

FileHandle file_open_reading(const char* name, int flags, int share, void* buffer, uint32_t count,
                             uint32_t* done) {
  *done = 0;
  return open_with_first_read(name, flags, share, buffer, count, done);
}

int file_close(FileHandle h) {
  return os::close_file(h) ? 0 : 1;
}

int64_t file_seek(FileHandle h, int64_t distance, int method) {
  int64_t pos = 0;
  if (!os::seek(h, low_32(distance), seek_method(method), &pos)) {
    set_errno_from_last_error();
    return -1;
  }
  return pos;
}

int64_t file_seek_plain(FileHandle h, int64_t distance, int method) {
  int64_t pos = 0;
  if (method < os::kSeekBegin || method > os::kSeekEnd) {
    os::set_last_error(os::kErrInvalidParameter);
    return -1;
  }
  if (!os::seek(h, distance, static_cast<os::SeekMethod>(method), &pos)) return -1;
  return pos;
}

int64_t file_seek_width(FileHandle h, int64_t distance, int method, int width) {
  if (width == 0) return file_seek(h, distance, method);
  int64_t pos = 0;
  if (!os::seek(h, distance, seek_method(method), &pos)) {
    set_errno_from_last_error();
    return -1;
  }
  if (width == 40 && pos > int64_t{0xFFFFFFFFFF}) return -1;
  if (width == 48 && pos > int64_t{0xFFFFFFFFFFFF}) return -1;
  return pos;
}

int64_t file_read(FileHandle h, void* buffer, uint32_t count) {
  for (int attempt = 1;; ++attempt) {
    uint32_t done = 0;
    if (os_read(h, buffer, count, &done)) return done;
    uint32_t err = os::last_error();
    if (err == os::kErrBrokenPipe) return 0;
    if (err != os::kErrLockViolation || attempt >= kTransferAttempts) return -1;
    pause_ms(kTransferRetryPauseMs);
  }
}

int64_t file_pread(FileHandle h, void* buffer, uint32_t count, int64_t offset) {
  uint32_t done = 0;
  if (os::read_at(h, buffer, count, offset, &done)) return done;
  set_errno_from_last_error();
  return -1;
}

int64_t file_write(FileHandle h, const void* buffer, uint32_t count) {
  for (int attempt = 1;; ++attempt) {
    uint32_t done = 0;
    if (os_write(h, buffer, count, &done)) return done;
    uint32_t err = os::last_error();
    if (err != os::kErrLockViolation || attempt >= kTransferAttempts) {
      errno = err == os::kErrDiskFull ? ENOSPC : 0;
      return -1;
    }
    pause_ms(kTransferRetryPauseMs);
  }
}

uint32_t transfer_piece(uint64_t position, uint32_t remaining) {
  uint32_t to_boundary = kTransferPiece - static_cast<uint32_t>(position % kTransferPiece);
  return remaining < to_boundary ? remaining : to_boundary;
}

namespace {

// A transfer split at multiples of kTransferPiece; `transfer` moves one piece
// at the current file position and returns its count or -1.
template <typename Transfer>
int64_t split_transfer(uint32_t count, int64_t offset, bool wide, Transfer&& transfer) {
  if (count <= kTransferPiece) return transfer(0u, count);
  uint64_t position = static_cast<uint64_t>(wide ? offset : low_32(offset));
  uint32_t total = 0;
  while (total < count) {
    uint32_t piece = transfer_piece(position, count - total);
    int64_t n = transfer(total, piece);
    if (n < 0) return -1;
    total += static_cast<uint32_t>(n);
    position += static_cast<uint64_t>(n);
    if (static_cast<uint32_t>(n) < piece) break;
  }
  return total;
}

}  // namespace

int64_t file_read_at(FileHandle h, void* buffer, uint32_t count, int64_t offset, bool wide) {
  if (!seek_for_transfer(h, offset, wide)) return -1;
  auto* p = static_cast<unsigned char*>(buffer);
  return split_transfer(count, offset, wide,
                        [&](uint32_t at, uint32_t n) { return file_read(h, p + at, n); });
}

int64_t file_write_at(FileHandle h, const void* buffer, uint32_t count, int64_t offset, bool wide) {
  if (!seek_for_transfer(h, offset, wide)) return -1;
  const auto* p = static_cast<const unsigned char*>(buffer);
  return split_transfer(count, offset, wide,
                        [&](uint32_t at, uint32_t n) { return file_write(h, p + at, n); });
}

int64_t file_read_at_single(FileHandle h, void* buffer, uint32_t count, int64_t offset, bool wide) {
  if (!seek_for_transfer(h, offset, wide)) return -1;
  return file_read(h, buffer, count);
}

int64_t file_write_at_single(FileHandle h, const void* buffer, uint32_t count, int64_t offset,
                             bool wide) {
  if (!seek_for_transfer(h, offset, wide)) return -1;
  return file_write(h, buffer, count);
}

int file_flush(FileHandle data, FileHandle index) {
  if (data != kInvalidFileHandle) os::flush(data);
  if (index != kInvalidFileHandle) os::flush(index);
  return 0;
}

namespace {

// Runs `attempt` until it succeeds, fails other than with EACCES, or has
// failed the retry count times; pauses between attempts.
template <typename Attempt>
int with_retries(Attempt&& attempt) {
  int32_t retries = file_retry_count();
  for (int32_t failures = 1;; ++failures) {
    if (attempt()) return 0;
    set_errno_from_last_error();
    if (errno != EACCES || failures >= retries) return -1;
    int saved = errno;
    pause_ms(kOpenRetryPauseMs);
    errno = saved;
  }
}

}  // namespace

int file_delete(const char* name) {
  return with_retries([&] { return os::delete_file(name); });
}

int file_rename(const char* old_name, const char* new_name) {
  return with_retries([&] { return os::move_file(old_name, new_name); });
}

int large_file_probe(FileHandle h, const char* name) {
  if (!os::volume_has_large_files(name)) return 0;
  if (!os::seek(h, kLargeFileProbeOffset, os::kSeekBegin, nullptr)) return 0;
  return os::seek(h, 0, os::kSeekBegin, nullptr) ? 1 : 0;
}

}  // namespace ismgr
