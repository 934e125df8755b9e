// Start-up, shutdown, status blocks and channels of the public interface.
#include <cstdint>

#include "ismgr/api/api_internal.h"
#include "ismgr/describe/open_create.h"

using namespace ismgr::api;

extern "C" {

const char* ismgr_version(void) {
  return ISMGR_VERSION;
}

::ismgr_control* ismgr_init(void) {
  return guarded<::ismgr_control*>(nullptr, [] {
    ismgr::install_file_creation();
    return outer(ismgr::ismgr_init());
  });
}

void ismgr_shutdown(::ismgr_control* ctl) {
  guarded(0, [ctl] {
    ismgr::ismgr_shutdown(inner(ctl));
    return 0;
  });
}

int32_t ismgr_last_status(void) {
  return reporting_status()->code;
}

const char* ismgr_last_file_name(void) {
  ismgr::ismgr_control* ctl = ismgr::existing_context();
  return ctl != nullptr && ctl->current_name != nullptr ? ctl->current_name : "";
}

const char* ismgr_status_text(int32_t code) {
  return ismgr::status_message(code);
}

::ismgr_status* ismgr_status_new(void) {
  return reinterpret_cast<::ismgr_status*>(new (std::nothrow) ismgr::ismgr_status);
}

void ismgr_status_free(::ismgr_status* status) {
  if (status == nullptr) return;
  // An open that failed leaves the block as the context's status block: the
  // context reports into the default block again.
  ismgr::ismgr_control* ctl = ismgr::existing_context();
  if (ctl != nullptr && ctl->status == inner(status)) ctl->status = ismgr::default_status();
  delete inner(status);
}

int32_t ismgr_status_code(const ::ismgr_status* status) {
  return status != nullptr ? inner(status)->code : 0;
}

void ismgr_status_set_flags(::ismgr_status* status, int32_t flags) {
  if (status != nullptr) inner(status)->open_flags = flags;
}

ismgr_channel* ismgr_open_with_status(::ismgr_control* ctl, const char* name, uint32_t mode,
                                      int64_t arg1, int64_t arg2, const char* driver_string,
                                      const char* description, ::ismgr_status* status) {
  return guarded<ismgr_channel*>(nullptr, [=]() -> ismgr_channel* {
    ismgr::ismgr_control* context = ctl != nullptr ? inner(ctl) : ismgr::current_context();
    if (context == nullptr) {
      (status != nullptr ? inner(status) : ismgr::default_status())->code = ismgr::kStatusNoMemory;
      return nullptr;
    }
    ismgr::install_file_creation();  // output ISAM opens create the file
    return outer(ismgr::channel_open(context, name != nullptr ? name : "", mode, arg1, arg2,
                                     driver_string, description, inner(status)));
  });
}

ismgr_channel* ismgr_open(const char* name, uint32_t mode, int64_t arg1, int64_t arg2,
                          const char* driver_string, const char* description) {
  return ismgr_open_with_status(nullptr, name, mode, arg1, arg2, driver_string, description,
                                nullptr);
}

int64_t ismgr_close(ismgr_channel* ch, uint32_t close_mode, int32_t* status_code) {
  return guarded<int64_t>(-1,
                          [=] { return ismgr::channel_close(inner(ch), close_mode, status_code); });
}

const char* ismgr_channel_name(const ismgr_channel* ch) {
  return ch != nullptr ? inner(ch)->file_name : "";
}

int64_t ismgr_call(ismgr_channel* ch, int slot, ismgr_call_args* args) {
  return guarded<int64_t>(-1, [=] {
    ismgr::ChannelCall call;
    if (args != nullptr) {
      call.mode = args->mode;
      call.number = args->number;
      call.text = args->text;
      call.capacity = args->capacity;
      call.keyword = args->keyword;
      call.key = args->key;
      call.segment = args->segment;
      call.value = args->value;
    }
    // The close goes through the channel close, which also frees the channel.
    if (slot == ISMGR_SLOT_CLOSE && ch != nullptr) {
      return ismgr::channel_close(inner(ch), call.mode, nullptr);
    }
    return ismgr::channel_call(inner(ch), slot, call);
  });
}

}  // extern "C"
