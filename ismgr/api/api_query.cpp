// The file information query, the file summary and the key queries of the
// public interface: each is one slot of the channel's operations table.
// Records come back from the slots in their little-endian byte layout and
// are decoded field by field into the caller's structures.
#include <cstring>

#include "ismgr/api/api_internal.h"
#include "ismgr/isam/isam_format.h"

using namespace ismgr::api;

namespace {

// Calls `slot` with `call` on `ch`.
int64_t slot_call(ismgr_channel* ch, int slot, ismgr::ChannelCall& call) {
  return guarded<int64_t>(-1, [&] { return ismgr::channel_call(inner(ch), slot, call); });
}

// Bytes of the key parameter record (slot 14) and of the file summary
// record (slot 11).
constexpr int kKeyRecordSize = 56;
constexpr int kFileRecordSize = 17;

}  // namespace

extern "C" {

int64_t ismgr_file_info(ismgr_channel* ch, int32_t* number, char* text, int32_t capacity,
                        const char* keyword, int32_t key, int32_t segment) {
  return guarded<int64_t>(-1, [=] {
    return ismgr::channel_file_info(inner(ch), number, text, capacity, keyword, key, segment);
  });
}

int64_t ismgr_file_number(ismgr_channel* ch, const char* keyword, int32_t* number) {
  return ismgr_file_info(ch, number, nullptr, 0, keyword, 0, 0);
}

int64_t ismgr_file_text(ismgr_channel* ch, const char* keyword, char* text, int32_t capacity) {
  return ismgr_file_info(ch, nullptr, text, capacity, keyword, 0, 0);
}

int64_t ismgr_file_summary_text(ismgr_channel* ch, char* text) {
  ismgr::ChannelCall call;
  call.text = text;
  return slot_call(ch, ismgr::kSlotParamsText, call);
}

int64_t ismgr_file_summary_record(ismgr_channel* ch, ismgr_file_summary* params) {
  uint8_t record[kFileRecordSize] = {};
  ismgr::ChannelCall call;
  call.text = reinterpret_cast<char*>(record);
  call.capacity = kFileRecordSize;
  const int64_t result = slot_call(ch, ismgr::kSlotParamsRecord, call);
  if (result == 0 && params != nullptr) {
    *params = ismgr_file_summary{};
    params->record_size = ismgr::get_u16(record);      // bytes 0-1
    params->key_start = ismgr::get_u16(record + 2);    // bytes 2-3
    params->key_size = ismgr::get_u16(record + 4);     // bytes 4-5; 6-7 unused
    params->max_records = ismgr::get_u32(record + 8);  // bytes 8-11
    params->records_left = ismgr::get_u32(record + 12);
    params->key_count = record[16];
  }
  return result;
}

int64_t ismgr_key_record(ismgr_channel* ch, int32_t key, ismgr_key_params* params) {
  uint8_t record[kKeyRecordSize] = {};
  ismgr::ChannelCall call;
  call.key = key;
  call.text = reinterpret_cast<char*>(record);
  call.capacity = kKeyRecordSize;
  const int64_t result = slot_call(ch, ismgr::kSlotKeyRecord, call);
  if (result == 0 && params != nullptr) {
    *params = ismgr_key_params{};
    params->start = ismgr::get_u16(record);     // bytes 0-1
    params->size = ismgr::get_u16(record + 2);  // bytes 2-3
    params->duplicates = record[4];
    params->ascending = record[5];
    params->modifiable = record[6];             // byte 7 unused
    std::memcpy(params->name, record + 8, 16);  // bytes 8-23, NUL-terminated
    params->name[15] = '\0';
    for (int s = 0; s < 8; ++s) {
      params->seg_start[s] = ismgr::get_u16(record + 24 + 2 * s);   // bytes 24-39
      params->seg_length[s] = ismgr::get_u16(record + 40 + 2 * s);  // bytes 40-55
    }
  }
  return result;
}

int64_t ismgr_key_text(ismgr_channel* ch, int32_t key, char* text) {
  ismgr::ChannelCall call;
  call.key = key;
  call.text = text;
  return slot_call(ch, ismgr::kSlotKeyText, call);
}

int64_t ismgr_key_by_name(ismgr_channel* ch, const char* name, int32_t length) {
  ismgr::ChannelCall call;
  call.text = const_cast<char*>(name);  // only read
  call.capacity = length;
  return slot_call(ch, ismgr::kSlotKeyByName, call);
}

int64_t ismgr_key_by_position(ismgr_channel* ch, int32_t start, int32_t length) {
  ismgr::ChannelCall call;
  call.key = start;
  call.capacity = length;
  return slot_call(ch, ismgr::kSlotKeyByPosition, call);
}

}  // extern "C"
