#include "ismgr/isam/query_slots.h"

#include "ismgr/isam/file_query.h"
#include "ismgr/isam/key_query.h"

namespace ismgr {

namespace {
IsamFileControl* file_of(void* handle) {
  return static_cast<IsamFileControl*>(handle);
}
}  // namespace

int64_t isam_slot_summary_text(void* handle, ChannelCall& call) {
  if (call.text == nullptr) return -2;
  return file_summary_text(file_of(handle), call.text, call.control);
}

int64_t isam_slot_summary_record(void* handle, ChannelCall& call) {
  if (call.text == nullptr) return -2;
  return file_summary_record(file_of(handle), reinterpret_cast<uint8_t*>(call.text), call.control);
}

int64_t isam_slot_file_info(void* handle, ChannelCall& call) {
  return file_query(file_of(handle), call.number, call.text, call.capacity, call.keyword, call.key,
                    call.segment, call.control);
}

int64_t isam_slot_key_text(void* handle, ChannelCall& call) {
  if (call.text == nullptr) return -2;
  return key_param_text(file_of(handle), call.key, call.text, call.control);
}

int64_t isam_slot_key_record(void* handle, ChannelCall& call) {
  if (call.text == nullptr) return -2;
  return key_param_record(file_of(handle), call.key, reinterpret_cast<uint8_t*>(call.text),
                          call.control);
}

int64_t isam_slot_key_by_name(void* handle, ChannelCall& call) {
  // A negative length names nothing (it must not become the empty name,
  // which every key would match).
  if (call.capacity < 0) return key_by_name(file_of(handle), nullptr, 0, call.control);
  return key_by_name(file_of(handle), call.text, static_cast<size_t>(call.capacity), call.control);
}

int64_t isam_slot_key_by_position(void* handle, ChannelCall& call) {
  return key_by_position(file_of(handle), call.key, call.capacity, call.control);
}

}  // namespace ismgr
