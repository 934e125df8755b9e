#include "ismgr/isam/isam_close.h"

#include <cstdio>
#include <string>
#include <vector>

#include "ismgr/fileio/block_cache.h"
#include "ismgr/isam/file_lock.h"
#include "ismgr/isam/isam_io.h"
#include "ismgr/isam/isam_open.h"
#include "ismgr/runtime/audit.h"
#include "ismgr/runtime/context.h"
#include "ismgr/runtime/status.h"

namespace ismgr {

namespace {

using platform::Handle;
using platform::kInvalidHandle;

void set_status(IsamFileControl* fc, int code) {
  if (fc->control != nullptr && fc->control->status != nullptr) fc->control->status->code = code;
}

int status_code(const IsamFileControl* fc) {
  return (fc->control != nullptr && fc->control->status != nullptr) ? fc->control->status->code : 0;
}

// Validity first, then the file is taken over by the calling thread.
bool attach(IsamFileControl* fc) {
  if (!isam_control_valid(fc)) return false;
  if (ismgr_control* ctl = current_context()) fc->control = ctl;
  return true;
}

// The write-back of close and flush: only for cached files whose header
// changed. 0 or -1.
int write_back(IsamFileControl* fc, bool in_close) {
  if (fc->cache == nullptr || !fc->engine.header_changed) return 0;
  if (in_close && fc->engine.cache_writing) return 0;
  const bool previous = fc->engine.cache_writing;
  fc->engine.cache_writing = true;
  int result = write_dynamic_header(fc);
  if (result == 0 && fc->cache->flush(false) != 0) result = -1;
  fc->engine.cache_writing = previous;
  if (result == 0) fc->engine.header_changed = 0;
  return result;
}

int flush_file(IsamFileControl* fc, bool in_close) {
  if (write_back(fc, in_close) != 0) return -1;
  if (fc->engine.written) {
    audit_log(kAuditFlush, status_code(fc), fc, nullptr);
    isam_flush_handle(fc->data_handle);
    isam_flush_handle(fc->index_handle);
    fc->engine.written = false;
  }
  return 0;
}

}  // namespace

int write_dynamic_header(IsamFileControl* fc) {
  const std::vector<uint8_t> bytes = dynamic_header_bytes(*fc);
  if (bytes.empty()) return 0;
  const Handle header = fc->index_handle != kInvalidHandle ? fc->index_handle : fc->data_handle;
  const uint32_t length = static_cast<uint32_t>(bytes.size());
  const int64_t offset = fc->header.dynamic_offset;
  const int64_t written = fc->cache != nullptr
                              ? fc->cache->write_header(header, bytes.data(), length, offset, true)
                              : isam_write_at(header, bytes.data(), length, offset);
  return written == static_cast<int64_t>(length) ? 0 : -1;
}

int32_t isam_flush(IsamFileControl* fc) {
  if (!attach(fc)) return -2;
  if (flush_file(fc, false) != 0) {
    set_status(fc, kStatusWriteFailure);
    return -1;
  }
  return 0;
}

int32_t isam_release(IsamFileControl* fc) {
  if (!attach(fc)) return -2;
  release_all_record_locks(fc);
  audit_log(kAuditFree, status_code(fc), fc, nullptr);
  return 0;
}

int32_t isam_close(IsamFileControl* fc, uint32_t close_mode) {
  (void)close_mode;  // the close mode is the channel's
  if (!attach(fc)) return -2;
  try {
    if (fc->lock_list != nullptr || (fc->state & kStateAutoLock)) release_all_record_locks(fc);
    if ((fc->state & kStateNoLock) == 0) release_file_lock(fc);
  } catch (const StatusError& e) {
    set_status(fc, e.code());
    return -1;
  }
  const int written =
      option_set(kOptionNoFlushOnClose) ? write_back(fc, true) : flush_file(fc, true);
  if (written != 0) {
    set_status(fc, kStatusWriteFailure);
    return -1;
  }

  if (fc->cache != nullptr) {
    const int closed = fc->cache->close(fc->cache->handle());
    delete fc->cache;
    fc->cache = nullptr;
    if (closed != 0) {
      // The file stays open without its cache; closing again finishes.
      set_status(fc, kStatusWriteFailure);
      return -1;
    }
  }
  isam_file_close(fc->index_handle);
  isam_file_close(fc->data_handle);
  fc->index_handle = kInvalidHandle;
  fc->data_handle = kInvalidHandle;

  if (IsamFileControl* linked = fc->linked_index) {
    fc->linked_index = nullptr;
    if (fc->state & kStateTempFile) {
      // The work file of a temporary index: the current name with its last
      // "." replaced by "_", the sequence number and ".tmp".
      std::string name = fc->control != nullptr && fc->control->current_name != nullptr
                             ? fc->control->current_name
                             : "";
      const size_t dot = name.rfind('.');
      if (dot != std::string::npos) name[dot] = '_';
      char suffix[16];
      std::snprintf(suffix, sizeof suffix, "%03d.tmp", fc->temp_sequence % 1000);
      isam_delete_file(name + suffix);
    } else {
      // The linked index shares this file's data handle, closed above.
      linked->data_handle = kInvalidHandle;
      AuditValues values;
      audit_log(kAuditClose, status_code(fc), linked, nullptr, values);
      isam_close(linked, close_mode);
    }
  }

  fc->header.magic = 0;
  delete fc;
  return 0;
}

}  // namespace ismgr
