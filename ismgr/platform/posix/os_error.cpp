// The one table from errno values to the layer's OS error vocabulary.
#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "ismgr/platform/internal.h"
#include "ismgr/platform/platform.h"

namespace ismgr::platform {
namespace internal {

namespace {
// True when the directory part of `path` names an existing directory. A name
// without a directory part lies in the current directory, which exists.
bool directory_part_exists(const char* path) {
  std::string p(path);
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  size_t slash = p.rfind('/');
  if (slash == std::string::npos) return true;
  std::string dir = slash == 0 ? std::string("/") : p.substr(0, slash);
  struct stat st;
  return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
}  // namespace

uint32_t os_error_from_errno(int err, const char* path) {
  switch (err) {
    case 0:
      return kErrSuccess;
    case ENOENT:
      // An empty name, or one whose directory does not exist, is a missing path.
      if (path != nullptr && (path[0] == 0 || !directory_part_exists(path))) {
        return kErrPathNotFound;
      }
      return kErrFileNotFound;
    case ENOTDIR:
      return kErrPathNotFound;
    case EEXIST:
      return kErrFileExists;
    case ENOSPC:
    case EDQUOT:
      return kErrDiskFull;
    case EFBIG:
      return kErrFileSystemLimitation;
    case EACCES:
    case EPERM:
    case EISDIR:
      return kErrAccessDenied;
    case EROFS:
      return kErrWriteProtect;
    case EMFILE:
    case ENFILE:
      return kErrTooManyOpenFiles;
    case ENAMETOOLONG:
      return kErrFilenameTooLong;
    case EBADF:
      return kErrInvalidHandle;
    case ENOMEM:
      return kErrNotEnoughMemory;
    case EINVAL:
    case EOVERFLOW:
      return kErrInvalidParameter;
    case ESPIPE:
      return kErrInvalidFunction;
    case ETXTBSY:
    case EBUSY:
      return kErrSharingViolation;
    case EAGAIN:
    case EDEADLK:
      return kErrLockViolation;
    case ENOLCK:
      return kErrSharingBufferExceeded;
    case EPIPE:
      return kErrBrokenPipe;
    case EXDEV:
      return kErrNotSameDevice;
    case ENOTEMPTY:
      return kErrDirNotEmpty;
    case ELOOP:
      return kErrBadPathname;
    case EILSEQ:
      return kErrInvalidName;
    case ENODEV:
    case ENXIO:
      return kErrDevNotExist;
    case EIO:
      return kErrIoDevice;
    case ENOTSUP:
    case ENOSYS:
      return kErrNotSupported;
    case ESTALE:
    case ENETDOWN:
    case ENETUNREACH:
    case EHOSTDOWN:
    case EHOSTUNREACH:
    case ETIMEDOUT:
    case ECONNRESET:
    case ECONNREFUSED:
      return kErrBadNetPath;
    default:
      return kErrInvalidFunction;
  }
}

}  // namespace internal

void set_last_error_from_errno(int err, const char* path) {
  std::string posix;
  if (path != nullptr) posix = internal::to_posix_path(path);
  set_last_error(internal::os_error_from_errno(err, path != nullptr ? posix.c_str() : nullptr));
}

}  // namespace ismgr::platform
