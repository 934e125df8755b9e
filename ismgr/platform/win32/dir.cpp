// Directory listing: finding an entry without regard to case.
#include "ismgr/platform/platform.h"
#include "ismgr/platform/win32/win32_internal.h"

namespace ismgr::platform {

namespace {
// ASCII case folding only: the answer must not depend on the locale.
bool equal_ascii_nocase(const wchar_t* a, const wchar_t* b) {
  for (;; ++a, ++b) {
    wchar_t ca = *a;
    wchar_t cb = *b;
    if (ca >= L'A' && ca <= L'Z') ca = static_cast<wchar_t>(ca + 32);
    if (cb >= L'A' && cb <= L'Z') cb = static_cast<wchar_t>(cb + 32);
    if (ca != cb) return false;
    if (ca == 0) return true;
  }
}
}  // namespace

bool find_entry_nocase(const char* directory, const char* name, std::string* found) {
  if (directory == nullptr || name == nullptr || found == nullptr) {
    set_last_error(kErrInvalidParameter);
    return false;
  }
  std::wstring dir, wname;
  if (!internal::widen(directory, &dir) || !internal::widen(name, &wname)) return false;
  if (dir.empty()) dir = L".";
  if (dir.back() != L'\\' && dir.back() != L'/') dir += L'\\';
  dir += L'*';
  WIN32_FIND_DATAW entry;
  HANDLE search = ::FindFirstFileW(dir.c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return internal::fail_with_system_error();
  bool have = false;
  std::wstring match;
  do {
    if (wname == entry.cFileName) {
      match = entry.cFileName;
      have = true;
      break;
    }
    if (!have && equal_ascii_nocase(entry.cFileName, wname.c_str())) {
      match = entry.cFileName;
      have = true;
    }
  } while (::FindNextFileW(search, &entry));
  ::FindClose(search);
  if (!have) {
    set_last_error(kErrFileNotFound);
    return false;
  }
  *found = internal::narrow(match);
  return true;
}

}  // namespace ismgr::platform
