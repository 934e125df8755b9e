// File handles over the kernel's own: CreateFileW with the requested access
// and share modes, transfers, positioning, status, delete and move. The
// system enforces the share modes and reports its own error numbers, which
// are the layer's vocabulary as they are.
#include <string>

#include "ismgr/platform/platform.h"
#include "ismgr/platform/win32/win32_internal.h"

namespace ismgr::platform {

using internal::fail_with_system_error;
using internal::from_native;
using internal::native;
using internal::widen;

namespace {

int64_t from_large(DWORD high, DWORD low) {
  return static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | low);
}

// 100-nanosecond intervals since 1601 as seconds since 1970.
int64_t unix_seconds(const FILETIME& ft) {
  constexpr int64_t kEpochOffset = 116444736000000000LL;
  return (from_large(ft.dwHighDateTime, ft.dwLowDateTime) - kEpochOffset) / 10000000;
}

}  // namespace

Handle open_file(const char* name, const OpenOptions& options) {
  std::wstring wide;
  if (name == nullptr) {
    set_last_error(kErrInvalidParameter);
    return kInvalidHandle;
  }
  if (!widen(name, &wide)) return kInvalidHandle;
  DWORD access = 0;
  switch (options.access) {
    case Access::kRead:
      access = GENERIC_READ;
      break;
    case Access::kWrite:
      access = GENERIC_WRITE;
      break;
    case Access::kReadWrite:
      access = GENERIC_READ | GENERIC_WRITE;
      break;
  }
  // Deleting an open file is never shared: an open file cannot be deleted or
  // moved.
  DWORD share = 0;
  if ((options.share & kShareRead) != 0) share |= FILE_SHARE_READ;
  if ((options.share & kShareWrite) != 0) share |= FILE_SHARE_WRITE;
  DWORD disposition = OPEN_EXISTING;
  if (options.disposition == Disposition::kCreateNew) disposition = CREATE_NEW;
  if (options.disposition == Disposition::kCreateAlways) disposition = CREATE_ALWAYS;
  DWORD flags = FILE_ATTRIBUTE_NORMAL;
  if (options.delete_on_close) {
    flags |= FILE_FLAG_DELETE_ON_CLOSE;
    access |= DELETE;
  }
  if (options.temporary) flags |= FILE_ATTRIBUTE_TEMPORARY;
  if (options.write_through) flags |= FILE_FLAG_WRITE_THROUGH;
  if (options.sequential) flags |= FILE_FLAG_SEQUENTIAL_SCAN;

  const uint32_t before = last_error();
  HANDLE h = ::CreateFileW(wide.c_str(), access, share, nullptr, disposition, flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    fail_with_system_error();
    return kInvalidHandle;
  }
  // A directory is refused by the system (ERROR_ACCESS_DENIED): it opens
  // only with backup semantics, which are never asked for.
  set_last_error(before);  // CREATE_ALWAYS reports an existing file on success
  return from_native(h);
}

bool close_file(Handle handle) {
  if (!::CloseHandle(native(handle))) return fail_with_system_error();
  return true;
}

bool seek(Handle handle, int64_t distance, SeekMethod method, int64_t* new_position) {
  DWORD how;
  switch (method) {
    case kSeekBegin:
      how = FILE_BEGIN;
      break;
    case kSeekCurrent:
      how = FILE_CURRENT;
      break;
    case kSeekEnd:
      how = FILE_END;
      break;
    default:
      set_last_error(kErrInvalidParameter);
      return false;
  }
  LARGE_INTEGER move;
  move.QuadPart = distance;
  LARGE_INTEGER now;
  if (!::SetFilePointerEx(native(handle), move, &now, how)) return fail_with_system_error();
  if (new_position != nullptr) *new_position = now.QuadPart;
  return true;
}

bool read(Handle handle, void* buffer, uint32_t count, uint32_t* done) {
  *done = 0;
  DWORD n = 0;
  if (!::ReadFile(native(handle), buffer, count, &n, nullptr)) {
    // A pipe whose writer has gone is at its end, as a file is.
    if (::GetLastError() == ERROR_BROKEN_PIPE) return true;
    return fail_with_system_error();
  }
  *done = n;
  return true;
}

// A read at an offset moves the file pointer of a handle opened for
// synchronous transfers, so the pointer is put back afterwards.
bool read_at(Handle handle, void* buffer, uint32_t count, int64_t offset, uint32_t* done) {
  *done = 0;
  if (offset < 0) {
    set_last_error(kErrNegativeSeek);
    return false;
  }
  HANDLE h = native(handle);
  if (::GetFileType(h) != FILE_TYPE_DISK) {
    set_last_error(kErrInvalidFunction);  // a pipe or device has no offsets
    return false;
  }
  LARGE_INTEGER zero = {}, pointer;
  if (!::SetFilePointerEx(h, zero, &pointer, FILE_CURRENT)) return fail_with_system_error();
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
  DWORD n = 0;
  const BOOL ok = ::ReadFile(h, buffer, count, &n, &at);
  const DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
  ::SetFilePointerEx(h, pointer, nullptr, FILE_BEGIN);
  if (!ok && error != ERROR_HANDLE_EOF) {
    set_last_error(error);
    return false;
  }
  *done = n;
  return true;
}

bool write(Handle handle, const void* buffer, uint32_t count, uint32_t* done) {
  *done = 0;
  const auto* p = static_cast<const char*>(buffer);
  while (*done < count) {
    DWORD n = 0;
    if (!::WriteFile(native(handle), p + *done, count - *done, &n, nullptr)) {
      return fail_with_system_error();
    }
    if (n == 0) {
      set_last_error(kErrDiskFull);
      return false;
    }
    *done += n;
  }
  return true;
}

bool flush(Handle handle) {
  if (::FlushFileBuffers(native(handle))) return true;
  // Devices and pipes have nothing to flush.
  if (::GetFileType(native(handle)) != FILE_TYPE_DISK) return true;
  return fail_with_system_error();
}

bool set_end_of_file(Handle handle) {
  if (!::SetEndOfFile(native(handle))) return fail_with_system_error();
  return true;
}

bool file_size(Handle handle, int64_t* size) {
  LARGE_INTEGER s;
  if (!::GetFileSizeEx(native(handle), &s)) return fail_with_system_error();
  *size = s.QuadPart;
  return true;
}

// Needs the right to write the file's attributes, which any handle that may
// write has; a handle without it leaves the times (the no-op of a file
// system that cannot).
bool set_created_and_accessed_now(Handle handle) {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  if (::SetFileTime(native(handle), &now, &now, nullptr)) return true;
  if (::GetLastError() == ERROR_ACCESS_DENIED) return true;
  return fail_with_system_error();
}

bool delete_file(const char* name) {
  std::wstring wide;
  if (!widen(name, &wide)) return false;
  if (!::DeleteFileW(wide.c_str())) return fail_with_system_error();
  return true;
}

// Never replaces an existing target (ERROR_ALREADY_EXISTS); across volumes
// the system copies and then deletes the source.
bool move_file(const char* from, const char* to) {
  std::wstring src, dst;
  if (!widen(from, &src) || !widen(to, &dst)) return false;
  if (!::MoveFileExW(src.c_str(), dst.c_str(), MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
    return fail_with_system_error();
  }
  return true;
}

bool file_status(const char* name, FileStatus* status) {
  std::wstring wide;
  if (!widen(name, &wide)) return false;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) {
    return fail_with_system_error();
  }
  status->is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  status->read_only = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  status->size = from_large(data.nFileSizeHigh, data.nFileSizeLow);
  status->modified = unix_seconds(data.ftLastWriteTime);
  status->accessed = unix_seconds(data.ftLastAccessTime);
  status->changed = unix_seconds(data.ftCreationTime);  // the C runtime's st_ctime
  return true;
}

bool handle_status(Handle handle, FileStatus* status) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(native(handle), &info)) return fail_with_system_error();
  status->is_directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  status->read_only = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  status->size = from_large(info.nFileSizeHigh, info.nFileSizeLow);
  status->modified = unix_seconds(info.ftLastWriteTime);
  status->accessed = unix_seconds(info.ftLastAccessTime);
  status->changed = unix_seconds(info.ftCreationTime);
  return true;
}

std::string current_directory() {
  DWORD n = ::GetCurrentDirectoryW(0, nullptr);
  if (n == 0) {
    fail_with_system_error();
    return std::string();
  }
  std::wstring dir(n, L'\0');
  n = ::GetCurrentDirectoryW(n, dir.data());
  if (n == 0 || n >= dir.size()) {
    fail_with_system_error();
    return std::string();
  }
  return internal::narrow(dir.c_str(), n);
}

}  // namespace ismgr::platform
