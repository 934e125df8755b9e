#include "ismgr/isam/key_query.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "ismgr/runtime/char_class.h"
#include "ismgr/runtime/status.h"

namespace ismgr {

namespace {

constexpr uint32_t kOptionStrictKeyPosition = 0x1000;  // runtime option 45

void set_status(ismgr_control* control, int code) {
  ismgr_status* status = control != nullptr ? control->status : default_status();
  status->code = code;
}

// Keys a parameter query may describe: all but the change-tracking key.
int32_t describable_keys(const IsamFileControl& fc) {
  int32_t n = static_cast<int32_t>(fc.keys.size());
  if (fc.header.file_flags2 & kFlags2ChangeTracking) --n;
  return n;
}

int key_size_without_qualifier(const IsamFileControl& fc, const KeyDescriptor& k) {
  int size = k.key_size;
  if (k.key_flags & kKeyDuplicates) size -= qualifier_width(fc.header);
  return size;
}

// The first 15 characters of the key name, up to a NUL, less trailing white
// space.
std::string record_name(const KeyDescriptor& k) {
  std::string name(k.key_name.data(), strnlen(k.key_name.data(), 15));
  while (!name.empty() && is_space(static_cast<unsigned char>(name.back()))) name.pop_back();
  return name;
}

}  // namespace

int64_t key_param_text(IsamFileControl* fc, int32_t key, char* text, ismgr_control* control) {
  if (fc == nullptr || key < 0 || key >= describable_keys(*fc)) {
    set_status(control, kStatusIllegalKey);
    return -2;
  }
  const KeyDescriptor& k = fc->keys[static_cast<size_t>(key)];
  int size = key_size_without_qualifier(*fc, k);
  bool fits = size >= 0 && size <= 999;
  for (size_t s = 0; s < kMaxSegments; ++s) fits = fits && k.seg_length[s] <= 999;
  if (!fits) {
    set_status(control, kStatusBadFileControl);
    return -1;
  }
  // Every field was checked to fit its width above; each is formatted apart
  // and copied at its fixed place.
  char buffer[kKeyParamTextLength + 1];
  char field[64];
  std::snprintf(field, sizeof field, "%05d%03d%c%c%c%15s", k.seg_start[0] + 1, size,
                (k.key_flags & kKeyDuplicates) ? '1' : '0',
                (k.seg_type[0] & kSegAscending) ? '1' : '0',
                (k.key_flags & kKeyModifiable) ? '1' : '0', record_name(k).c_str());
  std::memcpy(buffer, field, 26);
  // Each segment stands for itself: one of length 0 shows zeros.
  for (size_t s = 0; s < kMaxSegments; ++s) {
    const bool used = k.seg_length[s] != 0;
    std::snprintf(field, sizeof field, "%05d", used ? k.seg_start[s] + 1 : 0);
    std::memcpy(buffer + 26 + 5 * s, field, 5);
    std::snprintf(field, sizeof field, "%03d", static_cast<int>(k.seg_length[s]));
    std::memcpy(buffer + 66 + 3 * s, field, 3);
  }
  buffer[kKeyParamTextLength] = '\0';
  std::memcpy(text, buffer, sizeof buffer);
  set_status(control, 0);
  return static_cast<int64_t>(kKeyParamTextLength);
}

int64_t key_param_record(IsamFileControl* fc, int32_t key, uint8_t* record,
                         ismgr_control* control) {
  if (fc == nullptr || !file_control_valid(fc)) return -2;
  fc->control = control;
  if (key < 0 || key >= describable_keys(*fc)) {
    set_status(control, kStatusIllegalKey);
    return -1;
  }
  const KeyDescriptor& k = fc->keys[static_cast<size_t>(key)];
  put_u16(record, static_cast<uint16_t>(k.seg_start[0] + 1));
  put_u16(record + 2, static_cast<uint16_t>(key_size_without_qualifier(*fc, k)));
  record[4] = (k.key_flags & kKeyDuplicates) ? 1 : 0;
  record[5] = (k.seg_type[0] & kSegAscending) ? 1 : 0;
  record[6] = (k.key_flags & kKeyModifiable) ? 1 : 0;
  std::string name = record_name(k);
  std::memset(record + 8, 0, 16);
  std::memcpy(record + 8, name.data(), name.size());
  for (size_t s = 0; s < kMaxSegments; ++s) {
    const bool used = k.seg_length[s] != 0;
    put_u16(record + 24 + 2 * s, static_cast<uint16_t>(used ? k.seg_start[s] + 1 : 0));
    put_u16(record + 40 + 2 * s, k.seg_length[s]);
  }
  set_status(control, 0);
  return 0;
}

int64_t key_by_name(IsamFileControl* fc, const char* name, size_t length, ismgr_control* control) {
  if (fc != nullptr && name != nullptr && length <= kKeyNameSize) {
    for (size_t i = 0; i < fc->keys.size(); ++i) {
      if (std::memcmp(fc->keys[i].key_name.data(), name, length) == 0) {
        set_status(control, 0);
        return static_cast<int64_t>(i);
      }
    }
  }
  set_status(control, 8);
  return -1;
}

int64_t key_by_position(IsamFileControl* fc, int32_t start, int32_t length,
                        ismgr_control* control) {
  if (fc != nullptr) {
    for (size_t i = 0; i < fc->keys.size(); ++i) {
      const KeyDescriptor& k = fc->keys[i];
      if (k.seg_length[1] == 0 && k.seg_start[0] == start &&
          key_size_without_qualifier(*fc, k) == length) {
        set_status(control, 0);
        return static_cast<int64_t>(i);
      }
    }
    for (size_t i = 0; i < fc->keys.size(); ++i) {
      const KeyDescriptor& k = fc->keys[i];
      if (k.seg_start[0] == start && k.seg_length[0] >= length) {
        set_status(control, 0);
        return static_cast<int64_t>(i);
      }
    }
  }
  ismgr_config* config = control != nullptr ? control->config : process_config();
  if (config != nullptr && config->options_high != nullptr &&
      (*config->options_high & kOptionStrictKeyPosition)) {
    set_status(control, 7);
    return -2;
  }
  return 0;
}

}  // namespace ismgr
