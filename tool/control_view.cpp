#include "tool/control_view.h"

#include <algorithm>
#include <cstring>

#include "ismgr/isam/isam_io.h"

namespace ismgr::tool {

FileView view_of_control(const IsamFileControl& fc) {
  FileView f;
  const IsamHeader& h = fc.header;
  f.magic = h.magic;
  f.revision = h.revision;
  f.file_flags = h.file_flags;
  f.key_count = h.key_count;
  f.page_units = h.page_units;
  f.max_key_size = h.max_key_size;
  f.record_size = h.record_size;
  f.file_flags2 = h.file_flags2;
  f.dynamic_offset = h.dynamic_offset;
  f.dynamic_size = h.dynamic_size;
  f.created = h.created;
  f.cleared = h.cleared;
  f.verified = h.verified;
  f.reindexed = h.reindexed;
  std::copy_n(h.creation_version.begin(), std::min(h.creation_version.size(), size_t{8}),
              f.creation_version.begin());

  for (size_t k = 0; k < fc.keys.size(); ++k) {
    const KeyDescriptor& d = fc.keys[k];
    KeyView v;
    v.key_flags = d.key_flags;
    v.autokey_flags = d.autokey_flags;
    v.density = d.density;
    std::copy_n(d.seg_type.begin(), 8, v.seg_type.begin());
    std::copy_n(d.seg_start.begin(), 8, v.seg_start.begin());
    std::copy_n(d.seg_length.begin(), 8, v.seg_length.begin());
    v.null_offset = d.null_offset;
    v.key_size = d.key_size;
    v.qualifier_offset = d.qualifier_offset;
    std::copy_n(d.key_name.begin(), std::min(d.key_name.size(), size_t{16}), v.key_name.begin());
    if (k < fc.roots.size()) {
      v.root_low = static_cast<uint32_t>(fc.roots[k]);
      v.root_high = static_cast<uint8_t>(fc.roots[k] >> 32);
    }
    if (k < fc.depths.size()) v.depth = fc.depths[k];
    f.keys.push_back(v);
  }
  for (const PortIntSpec& p : fc.port_ints) f.port_ints.push_back({p.kind, p.length, p.position});
  f.null_area = fc.null_area.bytes;

  if (fc.has_extension) {
    const R6Extension& x = fc.extension;
    f.seed = x.seed;
    f.allocation = x.allocation;
    f.data_start = x.data_start;
    f.text_offset = x.text_offset;
    f.reorganized = x.reorganized;
    f.compat_level = x.compat_level;
    f.text_alloc_kb = x.text_alloc_kb;
  }

  const FreeListPart& fl = fc.free_list;
  f.dynamic_flags = fl.dynamic_flags;
  f.vector_count = fl.vector_count;
  f.record_count = fl.record_count;
  f.free_record_count = fl.free_record_count;
  f.unusable_space = fl.unusable_space;
  f.free_list_head = fl.free_list_head;
  f.free_list_head_high = fl.free_list_head_high;

  const FileCounters& c = fc.counters;
  f.autoseed = c.autoseed;
  f.update_count = c.update_count;
  f.free_index_blocks = c.free_index_blocks;
  f.data_leof = c.data_leof;
  f.data_leof_high = c.data_leof_high;
  f.snapshot_count = c.snapshot_count;
  f.tracking_slot = c.tracking_slot;
  f.index_leof = c.index_leof;
  f.index_leof_high = c.index_leof_high;
  f.snapshot_base = c.snapshot_base;
  if (fc.has_tracking) {
    std::copy_n(fc.tracking.times.begin(),
                std::min(fc.tracking.times.size(), f.tracking_times.size()),
                f.tracking_times.begin());
  }

  f.record_overhead = fc.record_overhead;
  f.index_entry_width = fc.index_entry_width;
  f.text_allocation = fc.text_allocation;
  f.text_length = fc.text_length;
  f.text_alloc_word = fc.text_allocation_word;
  f.text_location = fc.text_location;
  f.autokey_summary = fc.autokey_summary;
  f.index_open = fc.index_handle != platform::kInvalidHandle;
  return f;
}

bool ControlIo::read_data(uint64_t offset, void* buffer, uint32_t count) {
  // The file text, as the open kept it.
  const std::string& text = fc_->held_text;
  if (!text.empty() && offset >= fc_->held_text_at && offset - fc_->held_text_at <= text.size() &&
      count <= text.size() - (offset - fc_->held_text_at)) {
    std::memcpy(buffer, text.data() + (offset - fc_->held_text_at), count);
    return true;
  }
  if (fc_->data_handle == platform::kInvalidHandle || offset > INT64_MAX) return false;
  return isam_pread(fc_->data_handle, buffer, count, static_cast<int64_t>(offset)) ==
         static_cast<int64_t>(count);
}

bool ControlIo::index_file_size(int64_t* size) {
  if (fc_->index_handle == platform::kInvalidHandle) return false;
  *size = isam_file_size(fc_->index_handle);
  return *size >= 0;
}

bool ControlIo::data_file_size(int64_t* size) {
  if (fc_->data_handle == platform::kInvalidHandle) return false;
  *size = isam_file_size(fc_->data_handle);
  return *size >= 0;
}

}  // namespace ismgr::tool
