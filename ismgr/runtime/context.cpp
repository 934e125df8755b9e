// The per-thread context, the default status block, start-up and shutdown.
#include "ismgr/runtime/context.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "ismgr/platform/platform.h"
#include "ismgr/runtime/audit.h"
#include "ismgr/runtime/config_internal.h"
#include "ismgr/runtime/status.h"

namespace ismgr {

// ---------------------------------------------------------------------------
// Work buffers
// ---------------------------------------------------------------------------
namespace {
bool g_fail_allocations = false;
// Largest capacity a work buffer is given. Far above any record, block or
// description the layer handles; a request beyond it (a damaged length, for
// instance) fails like an allocation that finds no memory.
constexpr uint64_t kMaxWorkBufferCapacity = uint64_t{1} << 36;

uint8_t* allocate(uint64_t capacity) {
  if (g_fail_allocations || capacity == 0 || capacity > kMaxWorkBufferCapacity) return nullptr;
  return static_cast<uint8_t*>(std::malloc(static_cast<size_t>(capacity)));
}
}  // namespace

uint64_t WorkBuffer::capacity_for(uint64_t needed) {
  uint64_t rounded = needed & ~uint64_t{4095};
  if (rounded > UINT64_MAX - 4096) return 0;
  return rounded + 4096;
}

bool WorkBuffer::obtain_fresh(uint64_t needed) {
  release();
  uint8_t* storage = allocate(capacity_for(needed));
  if (storage == nullptr) return false;
  data_ = storage;
  capacity_ = capacity_for(needed);
  return true;
}

bool WorkBuffer::obtain_keeping(uint64_t needed) {
  uint64_t capacity = capacity_for(needed);
  uint8_t* storage = allocate(capacity);
  if (storage == nullptr) return false;
  if (data_ != nullptr) {
    std::memcpy(storage, data_, static_cast<size_t>(capacity_ < capacity ? capacity_ : capacity));
  }
  std::free(data_);
  data_ = storage;
  capacity_ = capacity;
  return true;
}

void WorkBuffer::release() {
  std::free(data_);
  data_ = nullptr;
  capacity_ = 0;
}

void set_allocation_failure_for_test(bool fail) {
  g_fail_allocations = fail;
}

// ---------------------------------------------------------------------------
// Thread slot
// ---------------------------------------------------------------------------
namespace {

// A thread's context and audit stream. The slot lives until the thread ends
// (shutdown only empties it); the platform layer then frees it, so that the
// audit stream of a thread that never shut down is flushed and its memory
// returned.
struct ThreadSlot : platform::ThreadExitEntry {
  ismgr_control* context = nullptr;
  std::FILE* audit = nullptr;
};

thread_local ThreadSlot* t_slot = nullptr;

ismgr_status g_default_status;

// Set once the "thread-local index" exists: from then on the configuration
// has been read.
bool g_index_allocated = false;

WaitFunction g_wait = nullptr;

void empty_slot(ThreadSlot* slot) {
  if (slot->audit != nullptr) {
    std::fflush(slot->audit);
    std::fclose(slot->audit);
    slot->audit = nullptr;
  }
  delete slot->context;
  slot->context = nullptr;
}

// Runs as the thread ends, when its thread_local variables may be gone
// already: it touches the slot only.
void release_slot(platform::ThreadExitEntry* entry) {
  auto* slot = static_cast<ThreadSlot*>(entry);
  empty_slot(slot);
  delete slot;
}

}  // namespace

ismgr_status* default_status() {
  return &g_default_status;
}

ismgr_control* existing_context() {
  return t_slot != nullptr ? t_slot->context : nullptr;
}

std::FILE* thread_audit_stream() {
  return t_slot != nullptr ? t_slot->audit : nullptr;
}

ismgr_config* process_config() {
  ensure_configuration();
  return &config_state().config;
}

ismgr_control* current_context() {
  if (t_slot != nullptr && t_slot->context != nullptr) return t_slot->context;
  ensure_configuration();
  ConfigState& state = config_state();

  if (t_slot == nullptr) {
    ThreadSlot* made = new (std::nothrow) ThreadSlot;
    if (made == nullptr) return nullptr;
    made->release = release_slot;
    // Without the registration the slot is merely not freed at thread end.
    platform::release_at_thread_exit(made);
    t_slot = made;
  }
  ThreadSlot* slot = t_slot;
  ismgr_control* ctl = new (std::nothrow) ismgr_control;
  if (ctl == nullptr) return nullptr;
  ctl->config = &state.config;
  ctl->status = &g_default_status;
  ctl->shared_list = &state.shared_list;
  ctl->current_name = state.current_name;
  slot->context = ctl;
  slot->audit = audit_setup();
  if (state.compression) state.config.flags |= kConfigCompression;
  return ctl;
}

ismgr_control* ismgr_init() {
  if (!g_index_allocated) {
    g_index_allocated = true;
    ensure_configuration();
  }
  ismgr_control* ctl = current_context();
  if (ctl == nullptr) return nullptr;
  if (thread_audit_stream() != nullptr) audit_log(kAuditInit, 0, nullptr, nullptr);
  return ctl;
}

void close_context(ismgr_control* ctl, bool final) {
  ThreadSlot* slot = t_slot;
  if (slot == nullptr || slot->context == nullptr) return;
  // Only the calling thread's context is ever released here; another
  // thread's context is not touched.
  ismgr_control* own = slot->context;
  (void)ctl;
  if (slot->audit != nullptr) audit_log(kAuditShutdown, 0, nullptr, nullptr);
  if (own != nullptr) {
    own->description_text.release();
    own->portable_ints.release();
    own->file_description.release();
    if (own->status != nullptr && own->status != &g_default_status) own->status->release_buffers();
  }
  if (final) g_default_status.release_buffers();
  empty_slot(slot);
}

void ismgr_shutdown(ismgr_control* ctl) {
  (void)ctl;
  if (existing_context() != nullptr) close_context(existing_context(), true);
  g_default_status.release_buffers();
}

const char* ismgr_getenv(const char* name) {
  current_context();
  if (name == nullptr) return nullptr;
  return platform::get_env(name);
}

void timed_wait(uint32_t milliseconds) {
  if (g_wait != nullptr) {
    g_wait(milliseconds);
  } else {
    platform::sleep_ms(milliseconds);
  }
}

void set_timed_wait_for_test(WaitFunction wait) {
  g_wait = wait;
}

// ---------------------------------------------------------------------------
// Backup-mode wait
// ---------------------------------------------------------------------------
void backup_mode_check(ismgr_control* ctl, uint32_t mode) {
  (void)ctl;
  ensure_configuration();
  uint32_t word = backup_mode_word();
  switch (word) {
    case 0:
    case 2:
    case 4:
      return;
    case 1:
      if ((mode & kBackupNoWaitBit) != 0) raise_status(kStatusBackupInProgress);
      audit_text("Backup mode is On, update operations are frozen");
      // The wait ends as soon as the word no longer reads 1: a restore may
      // set it back to 4 rather than 0.
      while (backup_mode_word() == 1) timed_wait(500);
      return;
    default:
      audit_text("Invalid backup mode");
      return;
  }
}

void reset_process_for_test() {
  if (t_slot != nullptr) empty_slot(t_slot);
  g_default_status.release_buffers();
  g_default_status.code = 0;
  g_default_status.last_terminator = 0;
  g_default_status.record_length = 0;
  g_default_status.result1 = 0;
  g_default_status.result2 = 0;
  g_default_status.handle = kNoHandle;
  g_default_status.open_flags = 0;
  g_index_allocated = false;
  reset_configuration();
  reset_audit_for_test();
}

}  // namespace ismgr
