// setenv and unsetenv for the Windows test build, which includes this header
// in every test source.
#ifndef ISMGR_TESTS_SUPPORT_POSIX_ENV_H_
#define ISMGR_TESTS_SUPPORT_POSIX_ENV_H_

#ifdef _WIN32
#include <stdlib.h>

#include <filesystem>

inline int setenv(const char* name, const char* value, int overwrite) {
  if (!overwrite && getenv(name) != nullptr) return 0;
  return _putenv_s(name, value) == 0 ? 0 : -1;
}
// A path's c_str() is wide there.
inline int setenv(const char* name, const wchar_t* value, int overwrite) {
  return setenv(name, std::filesystem::path(value).string().c_str(), overwrite);
}
inline int unsetenv(const char* name) {
  return _putenv_s(name, "") == 0 ? 0 : -1;
}
#endif

#endif  // ISMGR_TESTS_SUPPORT_POSIX_ENV_H_
