// Shared by the Win32 implementation of the platform layer only; nothing
// outside ismgr/platform/win32 includes this header.
#ifndef ISMGR_PLATFORM_WIN32_WIN32_INTERNAL_H_
#define ISMGR_PLATFORM_WIN32_WIN32_INTERNAL_H_

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdint>
#include <string>

#include "ismgr/platform/platform.h"

namespace ismgr::platform::internal {

// A layer handle is the kernel handle's value. The system keeps only the low
// 32 bits of a handle significant (so that 32-bit and 64-bit processes can
// pass handles to each other), so an int holds it; -1 stays
// INVALID_HANDLE_VALUE through both conversions.
inline HANDLE native(Handle handle) {
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle));
}
inline Handle from_native(HANDLE handle) {
  return static_cast<Handle>(reinterpret_cast<intptr_t>(handle));
}

// A name in the process's code page (UTF-8 when the process runs with that
// code page) as UTF-16. False, with kErrInvalidName set, when it does not
// convert; a null name converts to "".
bool widen(const char* name, std::wstring* wide);
// UTF-16 back to the process's code page.
std::string narrow(const wchar_t* wide, size_t length);
inline std::string narrow(const std::wstring& wide) {
  return narrow(wide.c_str(), wide.size());
}

// Takes GetLastError() as the layer's last OS error and returns false. The
// system's value is read before anything else runs: thread-local storage
// and other runtime calls may overwrite it.
bool fail_with_system_error();

}  // namespace ismgr::platform::internal

#endif  // ISMGR_PLATFORM_WIN32_WIN32_INTERNAL_H_
