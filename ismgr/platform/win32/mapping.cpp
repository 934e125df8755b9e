// The read-only view of a file's first word: a positioned read at every call
// on a private reopen of the file, so the view outlives the handle it was made
// from and a change another process writes is seen at once.
#include "ismgr/platform/platform.h"
#include "ismgr/platform/win32/win32_internal.h"

namespace ismgr::platform {

using internal::from_native;
using internal::native;

MappedWord::~MappedWord() {
  unmap();
}

bool MappedWord::map(Handle handle) {
  unmap();
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(native(handle), &size)) return internal::fail_with_system_error();
  if (::GetFileType(native(handle)) != FILE_TYPE_DISK || size.QuadPart < 4) {
    set_last_error(kErrFileInvalid);
    return false;
  }
  // An independent open of the same file, sharing everything the backup
  // file's writers need.
  HANDLE view = ::ReOpenFile(native(handle), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0);
  if (view == INVALID_HANDLE_VALUE) return internal::fail_with_system_error();
  view_ = from_native(view);
  return true;
}

uint32_t MappedWord::value() const {
  if (view_ < 0) return 0;
  unsigned char b[4] = {0, 0, 0, 0};
  OVERLAPPED at = {};  // offset 0
  DWORD got = 0;
  // Shrunk or unreadable: the missing bytes read as 0.
  if (!::ReadFile(native(view_), b, sizeof b, &got, &at)) got = 0;
  return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
         static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
}

void MappedWord::unmap() {
  if (view_ >= 0) ::CloseHandle(native(view_));
  view_ = -1;
}

}  // namespace ismgr::platform
