// Time, sleep, thread identity, the environment and the program's own path.
#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "ismgr/platform/platform.h"

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

void sleep_ms(uint32_t milliseconds) {
  struct timespec ts;
  ts.tv_sec = milliseconds / 1000;
  ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

int64_t now_seconds() {
  return static_cast<int64_t>(::time(nullptr));
}

int64_t now_millis() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

uint64_t monotonic_ms() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000 + static_cast<uint64_t>(ts.tv_nsec) / 1000000;
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

LocalTime local_time(int64_t seconds) {
  time_t t = static_cast<time_t>(seconds);
  struct tm tm;
  if (localtime_r(&t, &tm) == nullptr) std::memset(&tm, 0, sizeof tm);
  return from_tm(tm, 0);
}

uint32_t thread_id() {
  return static_cast<uint32_t>(syscall(SYS_gettid));
}
uint32_t process_id() {
  return static_cast<uint32_t>(getpid());
}

namespace {
// One key for every entry of a thread: its value is the head of the thread's
// list, and its destructor runs when the thread ends.
pthread_key_t g_exit_key;
bool g_exit_key_made = false;
std::once_flag g_exit_key_once;

void release_entries(void* head) {
  ThreadExitEntry::release_list(static_cast<ThreadExitEntry*>(head));
}
}  // namespace

bool release_at_thread_exit(ThreadExitEntry* entry) {
  std::call_once(g_exit_key_once,
                 [] { g_exit_key_made = pthread_key_create(&g_exit_key, release_entries) == 0; });
  if (!g_exit_key_made) return false;
  entry->next = static_cast<ThreadExitEntry*>(pthread_getspecific(g_exit_key));
  return pthread_setspecific(g_exit_key, entry) == 0;
}

namespace {
// putenv keeps the caller's storage; assignments are kept here for the
// process's life, replaced strings are never freed while the environment may
// still point at them.
std::mutex g_env_mutex;
}  // namespace

const char* get_env(const char* name) {
  return std::getenv(name);
}

bool put_env(const char* assignment) {
  const char* eq = std::strchr(assignment, '=');
  if (eq == nullptr || eq == assignment) {
    set_last_error(kErrInvalidParameter);
    return false;
  }
  std::lock_guard<std::mutex> lock(g_env_mutex);
  std::string name(assignment, static_cast<size_t>(eq - assignment));
  int rc = eq[1] == 0 ? unsetenv(name.c_str()) : setenv(name.c_str(), eq + 1, 1);
  if (rc != 0) {
    set_last_error(kErrNotEnoughMemory);
    return false;
  }
  return true;
}

std::string executable_path() {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return std::string();
  return std::string(path, static_cast<size_t>(n));
}

}  // namespace ismgr::platform
