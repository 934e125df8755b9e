// The last OS error, names between the process's code page and UTF-16, time,
// sleep, thread identity, the environment and the program's own path.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include "ismgr/platform/platform.h"
#include "ismgr/platform/win32/win32_internal.h"

namespace ismgr::platform {

namespace {
thread_local uint32_t t_last_error = kErrSuccess;
}  // namespace

uint32_t last_error() {
  return t_last_error;
}
void set_last_error(uint32_t error) {
  t_last_error = error;
}

namespace internal {

bool fail_with_system_error() {
  const DWORD error = ::GetLastError();  // before the thread-local access below
  set_last_error(error);
  return false;
}

bool widen(const char* name, std::wstring* wide) {
  wide->clear();
  if (name == nullptr || name[0] == 0) return true;
  const int length = static_cast<int>(std::strlen(name));
  int n = ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name, length, nullptr, 0);
  if (n <= 0) {
    set_last_error(kErrInvalidName);
    return false;
  }
  wide->resize(static_cast<size_t>(n));
  ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name, length, wide->data(), n);
  return true;
}

std::string narrow(const wchar_t* wide, size_t length) {
  if (length == 0) return std::string();
  const int len = static_cast<int>(length);
  int n = ::WideCharToMultiByte(CP_ACP, 0, wide, len, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string s(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, wide, len, s.data(), n, nullptr, nullptr);
  return s;
}

}  // namespace internal

namespace {
// True when the directory part of `path` names an existing directory; a name
// without one lies in the current directory, which exists.
bool directory_part_exists(const char* path) {
  std::string p(path);
  while (p.size() > 1 && (p.back() == '/' || p.back() == '\\')) p.pop_back();
  size_t slash = p.find_last_of("/\\");
  if (slash == std::string::npos) return true;
  std::wstring dir;
  if (!internal::widen(p.substr(0, slash == 0 ? 1 : slash).c_str(), &dir)) return false;
  DWORD attributes = ::GetFileAttributesW(dir.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}
}  // namespace

// The C runtime's errno values in the system's own error numbers.
void set_last_error_from_errno(int err, const char* path) {
  uint32_t error;
  switch (err) {
    case 0:
      error = kErrSuccess;
      break;
    case ENOENT:
      error = path != nullptr && (path[0] == 0 || !directory_part_exists(path)) ? kErrPathNotFound
                                                                                : kErrFileNotFound;
      break;
    case ENOTDIR:
      error = kErrPathNotFound;
      break;
    case EEXIST:
      error = kErrFileExists;
      break;
    case ENOSPC:
      error = kErrDiskFull;
      break;
    case EFBIG:
      error = kErrFileSystemLimitation;
      break;
    case EACCES:
    case EPERM:
    case EISDIR:
      error = kErrAccessDenied;
      break;
    case EROFS:
      error = kErrWriteProtect;
      break;
    case EMFILE:
    case ENFILE:
      error = kErrTooManyOpenFiles;
      break;
    case ENAMETOOLONG:
      error = kErrFilenameTooLong;
      break;
    case EBADF:
      error = kErrInvalidHandle;
      break;
    case ENOMEM:
      error = kErrNotEnoughMemory;
      break;
    case EINVAL:
      error = kErrInvalidParameter;
      break;
    case EBUSY:
      error = kErrSharingViolation;
      break;
    case EAGAIN:
    case EDEADLK:
      error = kErrLockViolation;
      break;
    case ENOLCK:
      error = kErrSharingBufferExceeded;
      break;
    case EPIPE:
      error = kErrBrokenPipe;
      break;
    case EXDEV:
      error = kErrNotSameDevice;
      break;
    case ENOTEMPTY:
      error = kErrDirNotEmpty;
      break;
    case EILSEQ:
      error = kErrInvalidName;
      break;
    case ENODEV:
    case ENXIO:
      error = kErrDevNotExist;
      break;
    case EIO:
      error = kErrIoDevice;
      break;
    case ENOSYS:
      error = kErrNotSupported;
      break;
    default:
      error = kErrInvalidFunction;
      break;
  }
  set_last_error(error);
}

void sleep_ms(uint32_t milliseconds) {
  ::Sleep(milliseconds);
}

namespace {
// 100-nanosecond intervals between 1601-01-01 and 1970-01-01.
constexpr int64_t kEpochOffset = 116444736000000000LL;

int64_t system_time_100ns() {
  FILETIME ft;
  ::GetSystemTimePreciseAsFileTime(&ft);
  return static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) -
         kEpochOffset;
}
}  // namespace

int64_t now_seconds() {
  return system_time_100ns() / 10000000;
}

int64_t now_millis() {
  return system_time_100ns() / 10000;
}

uint64_t monotonic_ms() {
  return ::GetTickCount64();
}

namespace {
LocalTime from_tm(const struct tm& tm, int millisecond) {
  LocalTime t;
  t.year = tm.tm_year + 1900;
  t.month = tm.tm_mon + 1;
  t.day = tm.tm_mday;
  t.hour = tm.tm_hour;
  t.minute = tm.tm_min;
  t.second = tm.tm_sec;
  t.millisecond = millisecond;
  t.weekday = tm.tm_wday;
  return t;
}
}  // namespace

// Local time as the C runtime computes it (it honours TZ, as the original's
// runtime does).
LocalTime local_time(int64_t seconds) {
  __time64_t t = static_cast<__time64_t>(seconds);
  struct tm tm;
  if (_localtime64_s(&tm, &t) != 0) std::memset(&tm, 0, sizeof tm);
  return from_tm(tm, 0);
}

uint32_t thread_id() {
  return ::GetCurrentThreadId();
}
uint32_t process_id() {
  return ::GetCurrentProcessId();
}

namespace {
// One fiber-local slot for every entry of a thread: its value is the head of
// the thread's list, and the system calls its callback when the thread ends,
// whoever started the thread.
DWORD g_exit_slot = FLS_OUT_OF_INDEXES;
std::once_flag g_exit_slot_once;

void WINAPI release_entries(void* head) {
  ThreadExitEntry::release_list(static_cast<ThreadExitEntry*>(head));
}
}  // namespace

bool release_at_thread_exit(ThreadExitEntry* entry) {
  std::call_once(g_exit_slot_once, [] { g_exit_slot = ::FlsAlloc(release_entries); });
  if (g_exit_slot == FLS_OUT_OF_INDEXES) return false;
  entry->next = static_cast<ThreadExitEntry*>(::FlsGetValue(g_exit_slot));
  return ::FlsSetValue(g_exit_slot, entry) != FALSE;
}

namespace {
std::mutex g_env_mutex;
}  // namespace

const char* get_env(const char* name) {
  return std::getenv(name);
}

// The C runtime's copy of the environment and the process's own are both
// changed, so child processes see the assignment too.
bool put_env(const char* assignment) {
  const char* eq = std::strchr(assignment, '=');
  if (eq == nullptr || eq == assignment) {
    set_last_error(kErrInvalidParameter);
    return false;
  }
  std::lock_guard<std::mutex> lock(g_env_mutex);
  std::string name(assignment, static_cast<size_t>(eq - assignment));
  if (_putenv_s(name.c_str(), eq + 1) != 0) {
    set_last_error(kErrNotEnoughMemory);
    return false;
  }
  return true;
}

std::string executable_path() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return std::string();
    if (n < path.size()) return internal::narrow(path.c_str(), n);
    if (path.size() > 32768) return std::string();
    path.resize(path.size() * 2);
  }
}

}  // namespace ismgr::platform
