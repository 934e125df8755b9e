#include "ismgr/isam/isam_driver.h"

#include "ismgr/isam/isam_close.h"
#include "ismgr/isam/isam_open.h"
#include "ismgr/isam/query_slots.h"

namespace ismgr {

namespace {

void* open_isam(ismgr_control* ctl, const char* name, uint32_t mode, const char* description,
                const char* /*driver_string*/, int64_t /*arg1*/, int64_t /*arg2*/) {
  return isam_open(ctl, name, mode, description);
}

bool isam_file_handles(void* handle, int64_t* index_handle, int64_t* data_handle) {
  const auto* fc = static_cast<const IsamFileControl*>(handle);
  if (fc == nullptr) return false;
  *index_handle = fc->index_handle;
  *data_handle = fc->data_handle;
  return true;
}

ChannelDriver make_driver() {
  ChannelDriver d{"isam", open_isam, isam_file_handles, {}};
  d.slots[kSlotClose] = isam_slot_close;
  d.slots[kSlotFreeLocks] = isam_slot_release;
  d.slots[kSlotFlush] = isam_slot_flush;
  d.slots[kSlotParamsText] = isam_slot_summary_text;
  d.slots[kSlotParamsRecord] = isam_slot_summary_record;
  d.slots[kSlotFileInfo] = isam_slot_file_info;
  d.slots[kSlotKeyText] = isam_slot_key_text;
  d.slots[kSlotKeyRecord] = isam_slot_key_record;
  d.slots[kSlotKeyByName] = isam_slot_key_by_name;
  d.slots[kSlotKeyByPosition] = isam_slot_key_by_position;
  return d;
}

ChannelDriver& driver() {
  static ChannelDriver d = make_driver();
  return d;
}

}  // namespace

int64_t isam_slot_close(void* handle, ChannelCall& call) {
  return isam_close(static_cast<IsamFileControl*>(handle), call.mode);
}

int64_t isam_slot_release(void* handle, ChannelCall&) {
  return isam_release(static_cast<IsamFileControl*>(handle));
}

int64_t isam_slot_flush(void* handle, ChannelCall&) {
  return isam_flush(static_cast<IsamFileControl*>(handle));
}

ChannelHandler set_isam_slot(int slot, ChannelHandler handler) {
  if (slot < 1 || slot > kChannelSlotCount || slot == kSlotEmpty) return nullptr;
  ChannelHandler previous = driver().slots[slot];
  driver().slots[slot] = handler;
  return previous;
}

const ChannelDriver& isam_channel_driver() {
  return driver();
}

}  // namespace ismgr
