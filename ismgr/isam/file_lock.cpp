#include "ismgr/isam/file_lock.h"

#include <cinttypes>
#include <new>
#include <vector>

#include "ismgr/fileio/block_cache.h"
#include "ismgr/fileio/lock.h"
#include "ismgr/isam/isam_close.h"
#include "ismgr/isam/isam_io.h"
#include "ismgr/isam/isam_open.h"
#include "ismgr/runtime/audit.h"
#include "ismgr/runtime/context.h"
#include "ismgr/runtime/keyword.h"
#include "ismgr/runtime/status.h"

namespace ismgr {

namespace {

using platform::Handle;
using platform::kInvalidHandle;

RefreshClock g_clock = nullptr;

int64_t now_seconds() {
  return g_clock != nullptr ? g_clock() : platform::now_seconds();
}

bool lock_free(const IsamFileControl* fc) {
  return (fc->state & kStateNoLock) != 0;
}

// The file lock is an OS lock unless the file is lock-free without IM_EXW.
bool file_lock_is_os_lock(const IsamFileControl* fc) {
  return !(lock_free(fc) && (fc->state & kStateExw) == 0);
}

bool vectored(const IsamFileControl* fc) {
  return (fc->header.file_flags & kFileStaticVectoring) != 0;
}

bool wide(const IsamFileControl* fc) {
  return (fc->header.file_flags & kFileTbyte) != 0;
}

uint32_t node_capacity(const IsamFileControl* fc) {
  return vectored(fc) ? kLockNodeEntriesVectored : kLockNodeEntries;
}

Handle record_lock_handle(const IsamFileControl* fc) {
  return fc->data_handle != kInvalidHandle ? fc->data_handle : fc->index_handle;
}

void set_status(IsamFileControl* fc, int code) {
  ismgr_control* ctl = fc->control != nullptr ? fc->control : current_context();
  if (ctl != nullptr && ctl->status != nullptr) ctl->status->code = code;
}

bool audit_locks() {
  return audit_configured() && audit_level() >= 1;
}

// Unlocks a record position, writing the audit line of the release (or of
// the failed unlock) at level 1 and up.
void unlock_record(IsamFileControl* fc, uint64_t position) {
  const uint32_t result =
      FX_DLOCK(record_lock_handle(fc), kLockUnlock, 1, static_cast<int64_t>(position), 0, wide(fc));
  if (!audit_locks()) return;
  if (result == 0) {
    AuditValues values;
    values.position = position;
    audit_log(kAuditReleasedLock, 0, fc, nullptr, values);
  } else {
    audit_text("(next op) No lock to unlock");
  }
}

// Iterates over the entries of the lock list: f(node, index) returns true
// to stop.
template <typename F>
bool for_each_entry(const IsamFileControl* fc, F f) {
  RecordLockNode* head = fc->lock_list;
  if (head == nullptr) return false;
  RecordLockNode* node = head;
  do {
    RecordLockNode* next = node->next;
    for (uint32_t i = 0; i < node->count; ++i) {
      if (f(node, i)) return true;
    }
    node = next;
  } while (node != head && node != nullptr);
  return false;
}

bool entry_matches(const IsamFileControl* fc, const RecordLockNode* node, uint32_t i,
                   uint64_t position) {
  if (node->slots[i] == position) return true;
  return vectored(fc) && node->slots[kLockNodeEntriesVectored + i] == position;
}

// The node and index of the entry for `position`; false when there is none.
bool find_entry(const IsamFileControl* fc, uint64_t position, RecordLockNode** node,
                uint32_t* index) {
  return for_each_entry(fc, [&](RecordLockNode* n, uint32_t i) {
    if (!entry_matches(fc, n, i, position)) return false;
    *node = n;
    *index = i;
    return true;
  });
}

void unlink_node(IsamFileControl* fc, RecordLockNode* node) {
  if (node->next == node) {
    fc->lock_list = nullptr;
  } else {
    node->prev->next = node->next;
    node->next->prev = node->prev;
    if (fc->lock_list == node) fc->lock_list = node->next;
  }
  delete node;
}

}  // namespace

void set_refresh_clock_for_test(RefreshClock clock) {
  g_clock = clock;
}

int take_file_lock(IsamFileControl* fc) {
  if (fc->state & kStateFileLock) return 0;
  const Handle header = fc->index_handle != kInvalidHandle ? fc->index_handle : fc->data_handle;
  if (file_lock_is_os_lock(fc) && FX_LOCK(header, kLockWriteWait, 1, 0, 0) != 0) {
    raise_status(kStatusLockFailure);
  }
  fc->state |= kStateFileLock;

  const IsamHeader& h = fc->header;
  const uint32_t kept_updates = fc->counters.update_count;
  const uint16_t kept_mark = fc->counters.tracking_mark;
  const uint32_t kept_free_blocks = fc->counters.free_index_blocks;
  const uint32_t kept_records = fc->free_list.record_count;

  // An exclusive file's cache knows the header is current and reads nothing.
  const bool memory_current = fc->cache != nullptr && !fc->cache->shared_file();
  if (!memory_current && h.dynamic_size > 0) {
    std::vector<uint8_t> block(h.dynamic_size, 0);
    const int64_t n =
        fc->cache != nullptr
            ? fc->cache->reread_header(header, block.data(), h.dynamic_size, h.dynamic_offset)
            : isam_read_at(header, block.data(), h.dynamic_size, h.dynamic_offset);
    if (n != h.dynamic_size) raise_status(kStatusReadFailure);
    if (int status = load_dynamic_header(block.data(), block.size(), fc)) raise_status(status);
  }

  if ((h.file_flags2 & kFlags2ChangeTracking) && fc->counters.tracking_mark != kept_mark &&
      fc->tracking_file_offset != 0 && fc->data_handle != kInvalidHandle) {
    uint8_t area[kChangeTrackingSize];
    if (isam_read_at(fc->data_handle, area, sizeof area,
                     static_cast<int64_t>(fc->tracking_file_offset)) !=
        static_cast<int64_t>(sizeof area)) {
      raise_status(kStatusReadFailure);
    }
    decode_change_tracking(area, sizeof area, &fc->tracking);
  }

  const bool update = (fc->state & kStateUpdate) != 0;
  const int64_t now = update ? now_seconds() : 0;
  bool changed = fc->counters.update_count != kept_updates;
  if (h.revision < 6) {
    changed = changed || fc->counters.free_index_blocks != kept_free_blocks ||
              fc->free_list.record_count != kept_records || fc->engine.last_refresh_time + 60 < now;
  }
  if (changed && fc->cache != nullptr && fc->cache->shared_file() && fc->cache->flush(true) != 0) {
    raise_status(kStatusWriteFailure);
  }
  if (update) fc->engine.last_refresh_time = now;
  return changed ? 1 : 0;
}

void release_file_lock(IsamFileControl* fc) {
  if ((fc->state & kStateFileLock) == 0) return;
  if (fc->engine.header_changed) {
    ++fc->counters.update_count;
    if (write_dynamic_header(fc) != 0) {
      --fc->counters.update_count;  // a later release counts this change once
      raise_status(kStatusWriteFailure);
    }
    if (fc->cache != nullptr && fc->cache->size_from_system()) {
      if (fc->cache->flush(false) != 0) raise_status(kStatusWriteFailure);
      fc->engine.header_changed = 0;
    }
  }
  if (file_lock_is_os_lock(fc)) {
    const Handle header = fc->index_handle != kInvalidHandle ? fc->index_handle : fc->data_handle;
    FX_LOCK(header, kLockUnlock, 1, 0, 0);
  }
  fc->state &= ~kStateFileLock;
}

void drop_file_lock(IsamFileControl* fc) {
  if ((fc->state & kStateFileLock) == 0) return;
  if (file_lock_is_os_lock(fc)) {
    const Handle header = fc->index_handle != kInvalidHandle ? fc->index_handle : fc->data_handle;
    FX_LOCK(header, kLockUnlock, 1, 0, 0);
  }
  fc->state &= ~kStateFileLock;
}

int automatic_lock(IsamFileControl* fc, int kind, int timeout_s) {
  const int64_t current = fc->engine.current_record;
  if ((fc->state & kStateAutoLock) && (kind == 0 || fc->engine.auto_lock_position != current)) {
    const int64_t held = fc->engine.auto_lock_position;
    if (!lock_list_contains(fc, held) && !lock_free(fc)) {
      unlock_record(fc, static_cast<uint64_t>(held));
    }
    fc->state &= ~kStateAutoLock;
  }
  if (kind == 0) return 0;
  if (((fc->state & kStateAutoLock) && fc->engine.auto_lock_position == current) ||
      lock_list_contains(fc, current)) {
    return 0;
  }
  if (!lock_free(fc)) {
    if (current == -1) {
      report_detail(nullptr, kDetailMessage, "Invalid record lock position", 0);
      raise_status(26);
    }
    const int mode = kind == 1 ? kLockWriteWait : kLockWriteNoWait;
    const uint32_t result =
        FX_DLOCK(record_lock_handle(fc), mode, 1, current, kind == 1 ? timeout_s : 0, wide(fc));
    if (result != 0) {
      const uint32_t error = platform::last_error();
      if (error == platform::kErrLockViolation) return -1;
      ismgr_control* ctl = fc->control != nullptr ? fc->control : current_context();
      if (ctl != nullptr && ctl->status != nullptr)
        ctl->status->result1 = static_cast<int32_t>(error);
      raise_status(kStatusLockFailure);
    }
  }
  fc->state |= kStateAutoLock;
  fc->engine.auto_lock_position = current;
  return 0;
}

int lock_list_add(IsamFileControl* fc, int64_t vectored_position, int64_t position) {
  const uint32_t capacity = node_capacity(fc);
  RecordLockNode* node = nullptr;
  if (fc->lock_list != nullptr) {
    RecordLockNode* n = fc->lock_list;
    do {
      if (n->count < capacity) {
        node = n;
        break;
      }
      n = n->next;
    } while (n != fc->lock_list);
  }
  if (node == nullptr) {
    node = new (std::nothrow) RecordLockNode();
    if (node == nullptr) {
      set_status(fc, kStatusNoMemory);
      return 0;
    }
    if (fc->lock_list == nullptr) {
      node->next = node->prev = node;
      fc->lock_list = node;
    } else {
      RecordLockNode* head = fc->lock_list;
      node->prev = head->prev;
      node->next = head;
      head->prev->next = node;
      head->prev = node;
    }
  }
  const uint32_t i = node->count++;
  if (vectored(fc)) {
    node->slots[i] = static_cast<uint64_t>(vectored_position);
    node->slots[kLockNodeEntriesVectored + i] =
        vectored_position == position ? 0 : static_cast<uint64_t>(position);
  } else {
    node->slots[i] = static_cast<uint64_t>(position);
  }
  return 1;
}

int lock_list_contains(const IsamFileControl* fc, int64_t position) {
  const uint64_t p = static_cast<uint64_t>(position);
  RecordLockNode* node = nullptr;
  uint32_t index = 0;
  return find_entry(fc, p, &node, &index) ? 1 : 0;
}

uint32_t lock_list_size(const IsamFileControl* fc) {
  uint32_t total = 0;
  for_each_entry(fc, [&](RecordLockNode*, uint32_t) {
    ++total;
    return false;
  });
  return total;
}

int lock_list_move(IsamFileControl* fc, int64_t new_position, int64_t old_position) {
  const uint64_t old_p = static_cast<uint64_t>(old_position);
  RecordLockNode* found = nullptr;
  uint32_t index = 0;
  if (!find_entry(fc, old_p, &found, &index)) return 0;
  if (vectored(fc)) {
    found->slots[kLockNodeEntriesVectored + index] = static_cast<uint64_t>(new_position);
  } else {
    found->slots[index] = static_cast<uint64_t>(new_position);
  }
  if (!lock_free(fc)) {
    unlock_record(fc, old_p);
    FX_DLOCK(record_lock_handle(fc), kLockWriteWait, 1, new_position, 0, wide(fc));
    if (audit_locks()) {
      audit_printf("(next op) applied lock at %" PRIu64, static_cast<uint64_t>(new_position));
    }
  }
  return 1;
}

int lock_list_remove(IsamFileControl* fc, int64_t position) {
  const uint64_t p = static_cast<uint64_t>(position);
  RecordLockNode* found = nullptr;
  uint32_t index = 0;
  if (!find_entry(fc, p, &found, &index)) return 0;
  const uint32_t last = found->count - 1;
  found->slots[index] = found->slots[last];
  found->slots[last] = 0;
  if (vectored(fc)) {
    found->slots[kLockNodeEntriesVectored + index] = found->slots[kLockNodeEntriesVectored + last];
    found->slots[kLockNodeEntriesVectored + last] = 0;
  }
  found->count = last;
  if (found->count == 0) unlink_node(fc, found);
  return 1;
}

int release_all_record_locks(IsamFileControl* fc) {
  if (!isam_control_valid(fc)) return -2;
  if (ismgr_control* ctl = current_context()) fc->control = ctl;
  if ((fc->state & kStateAutoLock) && !lock_free(fc)) {
    unlock_record(fc, static_cast<uint64_t>(fc->engine.auto_lock_position));
  }
  fc->state &= ~kStateAutoLock;
  while (fc->lock_list != nullptr) {
    RecordLockNode* node = fc->lock_list;
    if (!lock_free(fc)) {
      for (uint32_t i = 0; i < node->count; ++i) {
        uint64_t at = node->slots[i];
        if (vectored(fc) && node->slots[kLockNodeEntriesVectored + i] != 0) {
          at = node->slots[kLockNodeEntriesVectored + i];
        }
        unlock_record(fc, at);
      }
    }
    unlink_node(fc, node);
  }
  return 0;
}

}  // namespace ismgr
