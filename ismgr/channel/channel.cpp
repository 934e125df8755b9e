// Channel open and close, the slot dispatch and the file-information entry.
#include "ismgr/channel/channel.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <string>

#include "ismgr/fileio/names.h"
#include "ismgr/platform/platform.h"
#include "ismgr/runtime/audit.h"
#include "ismgr/runtime/info_keywords.h"
#include "ismgr/runtime/status.h"

namespace ismgr {

namespace {

const ChannelDriver* g_isam_override = nullptr;
const ChannelDriver* g_sequential_override = nullptr;

const ChannelDriver& driver_for(ChannelDriverKind kind) {
  if (kind == ChannelDriverKind::kIsam) {
    return g_isam_override != nullptr ? *g_isam_override : isam_channel_driver();
  }
  return g_sequential_override != nullptr ? *g_sequential_override : sequential_channel_driver();
}

void set_code(ismgr_control* ctl, int code) {
  if (ctl != nullptr && ctl->status != nullptr) ctl->status->code = code;
}

int get_code(const ismgr_control* ctl) {
  return (ctl != nullptr && ctl->status != nullptr) ? ctl->status->code : 0;
}

// Copies a NUL-terminated text into a fixed buffer, cut to fit.
void copy_name(char* dest, size_t size, const char* text) {
  if (size == 0) return;
  size_t n = text != nullptr ? std::strlen(text) : 0;
  if (n >= size) n = size - 1;
  if (n > 0) std::memcpy(dest, text, n);
  dest[n] = '\0';
}

void set_current_name(ismgr_control* ctl, const char* text) {
  if (ctl != nullptr && ctl->current_name != nullptr) {
    copy_name(ctl->current_name, kCurrentNameSize, text);
  }
}

void audit_open(int32_t status, const void* handle, const char* name, uint32_t mode,
                const ChannelDriver* driver) {
  AuditValues values;
  values.mode = mode;
  if (status == 0 && handle != nullptr && driver != nullptr && driver->file_handles != nullptr) {
    values.has_file_handles =
        driver->file_handles(const_cast<void*>(handle), &values.index_handle, &values.data_handle);
  }
  audit_log(kAuditOpen, status, handle, name != nullptr ? name : "", values);
}

void fill_table(channel* ch, const ChannelDriver& driver) {
  ch->driver = &driver;
  ch->ops[0] = nullptr;
  for (int slot = 1; slot <= kChannelSlotCount; ++slot) {
    ch->ops[slot] = driver.slots[slot] != nullptr ? driver.slots[slot] : channel_not_supported;
  }
  ch->ops[kSlotEmpty] = nullptr;  // never called
}

// Fails the open before any driver was called: frees the channel, logs the
// open and leaves `status` in the status block.
channel* refuse_open(ismgr_control* ctl, channel* ch, int status, const char* name, uint32_t mode) {
  delete ch;
  set_code(ctl, status);
  audit_open(status, nullptr, name, mode, nullptr);
  return nullptr;
}

}  // namespace

int64_t channel_not_supported(void* /*handle*/, ChannelCall& call) {
  ismgr_control* ctl = call.control != nullptr ? call.control : existing_context();
  set_code(ctl, kStatusIllegalFunction);
  return -1;
}

const ChannelDriver* set_channel_driver_for_test(ChannelDriverKind kind,
                                                 const ChannelDriver* driver) {
  const ChannelDriver*& slot =
      kind == ChannelDriverKind::kIsam ? g_isam_override : g_sequential_override;
  const ChannelDriver* previous = slot;
  slot = driver;
  return previous;
}

namespace {

void* sequential_open(ismgr_control* ctl, const char*, uint32_t, const char*, const char*, int64_t,
                      int64_t) {
  // The sequential and relative file driver is not part of this system.
  set_code(ctl, 60);  // "Bad file org on open"
  errno = 0;
  platform::set_last_error(0);
  return nullptr;
}

const ChannelDriver kSequentialDriver = {"sequential", sequential_open, nullptr, {}};

}  // namespace

const ChannelDriver& sequential_channel_driver() {
  return kSequentialDriver;
}

channel* channel_open(ismgr_control* ctl, const char* name, uint32_t mode, int64_t arg1,
                      int64_t arg2, const char* driver_string, const char* description,
                      ismgr_status* status) {
  if (ctl == nullptr) return nullptr;
  if (status == nullptr) status = default_status();
  ctl->status = status;
  if (name == nullptr) name = "";

  if (startup_status() != 0 && (status->open_flags & kStatusFlagIgnoreStartup) == 0) {
    status->code = startup_status();
    return nullptr;
  }
  status->code = 0;

  channel* ch = new (std::nothrow) channel();
  if (ch == nullptr) return refuse_open(ctl, nullptr, kStatusNoMemory, name, mode);
  ch->status = status;
  ch->shared_list = ctl->shared_list;
  ch->control = ctl;

  // Name check. The ISAM driver is given the caller's name: the ISAM open
  // expands it itself (and an empty name must stay empty so that a
  // description can name the file). The expansion here serves the check for
  // a remote part, which a logical name may bring in, and the other driver.
  std::string expanded = name;
  if (name[0] != '|') {
    NameRequest request;
    request.default_name = "";
    request.type = kNameNoExtension;
    request.search = true;
    if (int status = expand_file_name(name, request, &expanded)) {
      set_current_name(ctl, name);
      return refuse_open(ctl, ch, status, name, mode);
    }
  }
  if (std::strchr(name, '@') != nullptr || expanded.find('@') != std::string::npos) {
    set_current_name(ctl, name);
    return refuse_open(ctl, ch, kStatusBadFileSpec, name, mode);
  }

  // Mode check.
  const bool isam = (mode & kModeIsam) != 0;
  const bool has_description = description != nullptr && description[0] != '\0';
  if (((mode & kModeUpdate) && (mode & kModeSequential)) ||
      ((mode & kModeOutput) && isam && !has_description)) {
    return refuse_open(ctl, ch, kStatusInvalidMode, name, mode);
  }
  if (has_description && !((mode & kModeOutput) && isam)) {
    return refuse_open(ctl, ch, 105, name, mode);  // "No FDL file allowed on open yet"
  }

  const ChannelDriver& driver =
      driver_for(isam ? ChannelDriverKind::kIsam : ChannelDriverKind::kSequential);
  void* handle = nullptr;
  if (driver.open != nullptr) {
    handle = driver.open(ctl, isam ? name : expanded.c_str(), mode, isam ? description : nullptr,
                         driver_string, arg1, arg2);
  }
  if (handle != nullptr) {
    ch->handle = handle;
    ch->kind = isam ? kChannelIsam : kChannelSequential;
    fill_table(ch, driver);
    status->code = 0;
    audit_open(0, handle, name, mode, &driver);
    copy_name(ch->file_name, sizeof ch->file_name, ctl->current_name);
    return ch;
  }

  // The driver left errno and the OS error of the call that failed (both 0
  // when the failure was not the system's).
  int code = refine_open_status(get_code(ctl), errno, platform::last_error());
  if (code == 0) code = kStatusCannotOpenIndex;
  return refuse_open(ctl, ch, code, name, mode);
}

channel* channel_open(const char* name, uint32_t mode, int64_t arg1, int64_t arg2,
                      const char* driver_string, const char* description) {
  ismgr_control* ctl = current_context();
  if (ctl == nullptr) return nullptr;
  return channel_open(ctl, name, mode, arg1, arg2, driver_string, description, default_status());
}

int64_t channel_close(channel* ch, uint32_t close_mode, int32_t* status_code) {
  ismgr_control* current = current_context();
  if (current == nullptr) {
    if (status_code != nullptr) *status_code = kStatusNoMemory;
    return 0;
  }
  if (ch == nullptr) return -1;
  if (ch->control == nullptr) {
    ch->control = current;
    audit_raw(" NULL ismgr_control in FCB\n");
  }
  ismgr_control* ctl = ch->control;
  if (ctl->status == nullptr) ctl->status = ch->status != nullptr ? ch->status : default_status();
  ctl->status->code = 0;

  int64_t result = 0;
  if (ch->handle != nullptr) {
    std::string kept = ctl->current_name != nullptr ? ctl->current_name : "";
    set_current_name(ctl, ch->file_name);
    ChannelCall call;
    call.mode = close_mode;
    call.control = ctl;
    ChannelHandler close = ch->ops[kSlotClose];
    result = close != nullptr ? close(ch->handle, call) : channel_not_supported(ch->handle, call);
    AuditValues values;
    values.mode = close_mode;
    audit_log(kAuditClose, ctl->status->code, ch->handle, nullptr, values);
    set_current_name(ctl, kept.c_str());
    if (result < 0 && (close_mode & kClosePurge) == 0) {
      // The file is still open (a write-back failed): keep the channel so
      // that the caller can close again instead of losing the file.
      if (status_code != nullptr) *status_code = ctl->status->code;
      return result;
    }
    ch->handle = nullptr;
  }
  if (status_code != nullptr) *status_code = ctl->status->code;

  if ((close_mode & kCloseNoFcbRelease) == 0 && ch->status != nullptr &&
      ch->status != default_status()) {
    // The caller's status block is detached and its buffers freed; the block
    // itself remains the caller's.
    ismgr_status* freed = ch->status;
    freed->release_buffers();
    ch->status = default_status();
    if (ctl->status == freed) ctl->status = default_status();
    if (current->status == freed) current->status = default_status();
  }
  delete ch;
  return (close_mode & kClosePurge) ? 0 : result;
}

int64_t channel_file_info(channel* ch, int32_t* number, char* text, int32_t capacity,
                          const char* keyword, int32_t key, int32_t segment) {
  if (ch == nullptr) return -2;
  const char* word = keyword != nullptr ? keyword : "";
  if (lookup_file_info_keyword(word) == kInfoFilename) {
    if (text != nullptr && capacity > 0)
      copy_name(text, static_cast<size_t>(capacity), ch->file_name);
    return 0;
  }
  ChannelCall call;
  call.number = number;
  call.text = text;
  call.capacity = capacity;
  call.keyword = word;
  call.key = key;
  call.segment = segment;
  return channel_call(ch, kSlotFileInfo, call);
}

int64_t channel_call(channel* ch, int slot, ChannelCall& call) {
  if (ch == nullptr || slot < 1 || slot > kChannelSlotCount || ch->handle == nullptr ||
      ch->ops[slot] == nullptr) {
    if (call.control == nullptr && ch != nullptr) call.control = ch->control;
    return channel_not_supported(ch != nullptr ? ch->handle : nullptr, call);
  }
  if (call.control == nullptr) call.control = ch->control;
  return ch->ops[slot](ch->handle, call);
}

}  // namespace ismgr
