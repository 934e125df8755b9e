#include "ismgr/isam/isam_io.h"

#include <cerrno>

namespace ismgr {

namespace p = platform;

namespace {

// The one mapping of OS errors to errno.
int errno_of(uint32_t os_error) {
  switch (os_error) {
    case p::kErrInvalidFunction:
    case p::kErrInvalidAccess:
    case p::kErrInvalidParameter:
    case p::kErrNegativeSeek:
    case p::kErrInvalidFlagNumber:
    case p::kErrInvalidFlags:
      return EINVAL;
    case p::kErrTooManyOpenFiles:
    case p::kErrSharingBufferExceeded:
    case p::kErrNoMoreSearchHandles:
      return EMFILE;
    case p::kErrAccessDenied:
    case p::kErrWriteProtect:
    case p::kErrSharingViolation:
    case p::kErrLockViolation:
      return EACCES;
    case p::kErrNotEnoughMemory:
      return ENOMEM;
    case p::kErrFileExists:
    case p::kErrAlreadyExists:
      return EEXIST;
    case p::kErrDiskFull:
    case p::kErrFileSystemLimitation:
      return ENOSPC;
    default:
      return ENOENT;
  }
}

void map_error() {
  errno = errno_of(p::last_error());
}

}  // namespace

p::Handle isam_file_open(const std::string& name, bool update, int share, bool write_through) {
  p::OpenOptions options;
  options.access = update ? p::Access::kReadWrite : p::Access::kRead;
  if (share & kIsamShareDenyReadWrite) {
    options.share = p::kShareNone;
  } else if (share & kIsamShareDenyWrite) {
    options.share = p::kShareRead;
  } else {
    options.share = p::kShareRead | p::kShareWrite;
  }
  options.disposition = p::Disposition::kOpenExisting;
  options.write_through = write_through;
  p::Handle h = p::open_file(name.c_str(), options);
  if (h == p::kInvalidHandle) {
    map_error();
    if (errno == EACCES && p::last_error() == p::kErrSharingViolation) errno = -2;
  }
  return h;
}

void isam_file_close(p::Handle handle) {
  if (handle != p::kInvalidHandle) p::close_file(handle);
}

int64_t isam_seek(p::Handle handle, int64_t position) {
  int64_t at = 0;
  if (!p::seek(handle, position, p::kSeekBegin, &at)) {
    map_error();
    return -1;
  }
  return at;
}

int64_t isam_read(p::Handle handle, void* buffer, uint32_t count) {
  uint32_t total = 0;
  auto* out = static_cast<uint8_t*>(buffer);
  while (total < count) {
    uint32_t done = 0;
    if (!p::read(handle, out + total, count - total, &done)) {
      map_error();
      return -1;
    }
    if (done == 0) break;
    total += done;
  }
  return total;
}

int64_t isam_read_at(p::Handle handle, void* buffer, uint32_t count, int64_t position) {
  if (isam_seek(handle, position) < 0) return -1;
  return isam_read(handle, buffer, count);
}

int64_t isam_write_at(p::Handle handle, const void* buffer, uint32_t count, int64_t position) {
  if (isam_seek(handle, position) < 0) return -1;
  uint32_t total = 0;
  const auto* in = static_cast<const uint8_t*>(buffer);
  while (total < count) {
    uint32_t done = 0;
    if (!p::write(handle, in + total, count - total, &done) || done == 0) {
      errno = p::last_error() == p::kErrDiskFull ? ENOSPC : 0;
      return -1;
    }
    total += done;
  }
  return total;
}

int64_t isam_file_size(p::Handle handle) {
  int64_t size = 0;
  if (!p::file_size(handle, &size)) {
    map_error();
    return -1;
  }
  return size;
}

void isam_flush_handle(p::Handle handle) {
  if (handle != p::kInvalidHandle) p::flush(handle);
}

int isam_delete_file(const std::string& name) {
  if (p::delete_file(name.c_str())) return 0;
  map_error();
  return -1;
}

bool isam_file_exists(const std::string& name) {
  p::FileStatus status;
  return p::file_status(name.c_str(), &status);
}

bool isam_large_file_probe(p::Handle handle, const std::string& name) {
  if (!p::volume_has_large_files(name.c_str())) return false;
  int64_t at = 0;
  if (!p::seek(handle, int64_t{1} << 39, p::kSeekBegin, &at)) return false;
  return p::seek(handle, 0, p::kSeekBegin, &at);
}

bool isam_on_network(const std::string& name) {
  if (name.size() >= 2 && (name[0] == '\\' || name[0] == '/') && name[0] == name[1]) return true;
  return p::is_network_path(name.c_str());
}

}  // namespace ismgr
