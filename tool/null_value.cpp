#include "tool/null_value.h"

#include "ismgr/isam/isam_format.h"

namespace ismgr::tool {

std::vector<uint8_t> null_value_bytes(const FileView& f, const KeyView& k, bool* inside) {
  const uint8_t* value = nullptr;
  size_t length = 0;
  const bool ok = null_value_at(f.null_area, k.null_offset, &value, &length);
  if (inside) *inside = ok;
  if (!ok) return {};
  return std::vector<uint8_t>(value, value + length);
}

bool has_text_segment(const KeyView& k) {
  const int n = segment_count(k.seg_length);
  for (int j = 0; j < n; ++j) {
    if (k.seg_type[j] & (kSegAlpha | kSegNoCase)) return true;
  }
  return false;
}

}  // namespace ismgr::tool
