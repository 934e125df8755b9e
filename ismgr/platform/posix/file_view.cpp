// A file view's windows as read-only mappings, and the guard that keeps a
// mapping from killing the process when the file shrinks under it.
//
// A page of a mapping that lies past the file's end raises SIGBUS when it is
// touched. Another process may cut the file while a view is being read, so
// every mapped window is recorded in a fixed table the SIGBUS handler can read
// without locks or allocation. A fault inside a recorded window is answered by
// mapping zero pages over the rest of the window and marking the record; the
// faulting load then runs again and reads zeros. A fault anywhere else goes to
// the handler that was there before, or ends the process as it would have.
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "ismgr/platform/platform.h"

namespace ismgr::platform {

namespace {

// The window a view maps: enough to make the cost of mapping small beside the
// reading (a few microseconds per mapping), small enough to add little to the
// process's resident size. Its pages are filled in by the mapping call
// (MAP_POPULATE) rather than by a fault every 64 KiB, which also lets a
// reader's prefetches reach them.
constexpr size_t kWindowBytes = size_t{1} << 20;

// One mapped window. `begin` is 0 while the record is free and 1 while it is
// being filled in; a fault address is never below a mapping's `begin`.
struct GuardSlot {
  std::atomic<uintptr_t> begin{0};
  std::atomic<uintptr_t> end{0};
  std::atomic<bool> cut{false};
};
constexpr int kGuardSlots = 64;  // views mapped at once, over all threads
GuardSlot g_slots[kGuardSlots];
struct sigaction g_previous;
uintptr_t g_page_size = 4096;
std::once_flag g_installed;

void on_bus_error(int signal_number, siginfo_t* info, void* context) {
  const int saved_errno = errno;
  const auto at = reinterpret_cast<uintptr_t>(info->si_addr);
  for (GuardSlot& slot : g_slots) {
    const uintptr_t begin = slot.begin.load(std::memory_order_acquire);
    const uintptr_t end = slot.end.load(std::memory_order_acquire);
    if (begin <= 1 || at < begin || at >= end) continue;
    const uintptr_t page = at & ~(g_page_size - 1);
    void* zeros = ::mmap(reinterpret_cast<void*>(page), end - page, PROT_READ,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    if (zeros == MAP_FAILED) break;
    slot.cut.store(true, std::memory_order_release);
    errno = saved_errno;
    return;
  }
  errno = saved_errno;
  // Not a window of ours: the fault belongs to whoever handled it before.
  if ((g_previous.sa_flags & SA_SIGINFO) != 0 && g_previous.sa_sigaction != nullptr) {
    g_previous.sa_sigaction(signal_number, info, context);
    return;
  }
  if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
    g_previous.sa_handler(signal_number);
    return;
  }
  // The default action: returning runs the faulting load again, which now
  // ends the process as it would have without us.
  struct sigaction fallback;
  std::memset(&fallback, 0, sizeof fallback);
  fallback.sa_handler = SIG_DFL;
  ::sigaction(SIGBUS, &fallback, nullptr);
}

void install_guard() {
  const long page = ::sysconf(_SC_PAGESIZE);
  if (page > 0) g_page_size = static_cast<uintptr_t>(page);
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_sigaction = on_bus_error;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGBUS, &action, &g_previous);
}

// Records a window; -1 when the table is full (the caller reads instead).
int claim_slot(uintptr_t begin, uintptr_t end) {
  for (int i = 0; i < kGuardSlots; ++i) {
    uintptr_t free_mark = 0;
    if (g_slots[i].begin.compare_exchange_strong(free_mark, 1, std::memory_order_acq_rel)) {
      g_slots[i].cut.store(false, std::memory_order_relaxed);
      g_slots[i].end.store(end, std::memory_order_release);
      g_slots[i].begin.store(begin, std::memory_order_release);
      return i;
    }
  }
  return -1;
}

}  // namespace

bool FileView::map_window(uint64_t offset, size_t length) {
  unmap_window();
  std::call_once(g_installed, install_guard);
  struct stat st;
  if (::fstat(handle_, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const uint64_t start = offset & ~static_cast<uint64_t>(g_page_size - 1);
  uint64_t stop = std::max<uint64_t>(offset + length, start + kWindowBytes);
  stop = std::min<uint64_t>(stop, size_);
  if (stop <= start || stop - start > SIZE_MAX) return false;
  const size_t bytes = static_cast<size_t>(stop - start);
  void* p = ::mmap(nullptr, bytes, PROT_READ, MAP_SHARED | MAP_POPULATE, handle_,
                   static_cast<off_t>(start));
  if (p == MAP_FAILED) return false;
  const auto begin = reinterpret_cast<uintptr_t>(p);
  const int slot = claim_slot(begin, begin + bytes);
  if (slot < 0) {
    ::munmap(p, bytes);
    return false;
  }
  window_ = static_cast<const uint8_t*>(p);
  window_offset_ = start;
  window_length_ = bytes;
  guard_slot_ = slot;
  return true;
}

void FileView::unmap_window() {
  if (window_ == nullptr) return;
  GuardSlot& slot = g_slots[guard_slot_];
  shrunk_ = shrunk_ || slot.cut.load(std::memory_order_acquire);
  slot.begin.store(0, std::memory_order_release);
  ::munmap(const_cast<uint8_t*>(window_), window_length_);
  window_ = nullptr;
  guard_slot_ = -1;
}

bool FileView::shrunk() const {
  return shrunk_ || (guard_slot_ >= 0 && g_slots[guard_slot_].cut.load(std::memory_order_acquire));
}

}  // namespace ismgr::platform
