// The tree check over an open file: its keys' geometry, roots and depths,
// the sizes of its two files, and the index file's bytes through a file view
// in large pieces (the check reads each block once, so a cache gains nothing):
// mapped where the system allows, which spares the copy a read makes.
#include <vector>

#include "ismgr/isam/file_control.h"
#include "ismgr/isam/file_lock.h"
#include "ismgr/isam/index_search.h"
#include "ismgr/isam/isam_io.h"
#include "ismgr/isam/tree_check.h"
#include "ismgr/runtime/status.h"

namespace ismgr {

namespace {

// Holds the file lock for the check; gives it up without writing anything.
class LockHold {
 public:
  LockHold(IsamFileControl* fc, bool hold) : fc_(hold ? fc : nullptr) {
    if (fc_ != nullptr) take_file_lock(fc_);
  }
  ~LockHold() {
    if (fc_ != nullptr) drop_file_lock(fc_);
  }
  LockHold(const LockHold&) = delete;
  LockHold& operator=(const LockHold&) = delete;

 private:
  IsamFileControl* fc_;
};

void load_keys(const IsamFileControl& fc, TreeCheckInput* in) {
  in->keys.clear();
  for (size_t k = 0; k < fc.keys.size() && k < fc.depths.size(); ++k) {
    TreeKeyInput key;
    key.geometry = index_geometry(fc, k);
    key.root = index_root(fc, k);
    key.depth = fc.depths[k];
    key.null_rules = (fc.keys[k].key_flags & kKeyNullRules) != 0;
    in->keys.push_back(key);
  }
  in->record_count = fc.free_list.record_count;
  uint64_t head = fc.free_list.free_list_head;
  if (is_address48(fc.header)) head |= uint64_t{fc.free_list.free_list_head_high} << 32;
  in->free_list_head = head;
}

// Reads the dynamic header again (another process may have moved a root).
bool refresh_dynamic_header(IsamFileControl* fc) {
  const IsamHeader& h = fc->header;
  if (h.dynamic_size == 0) return false;
  std::vector<uint8_t> block(h.dynamic_size, 0);
  if (isam_read_at(fc->index_handle, block.data(), h.dynamic_size, h.dynamic_offset) !=
      h.dynamic_size) {
    return false;
  }
  return load_dynamic_header(block.data(), block.size(), fc, true) == 0;
}

}  // namespace

TreeCheckReport check_file_trees(IsamFileControl* fc, const TreeCheckOptions& options) {
  if (fc == nullptr || fc->index_handle == platform::kInvalidHandle) {
    raise_status(kStatusCannotOpenIndex);
  }
  LockHold lock(fc, options.hold_lock);
  TreeCheckInput in;
  const int64_t index_size = isam_file_size(fc->index_handle);
  if (index_size < 0) raise_status(kStatusReadFailure);
  const int64_t data_size =
      fc->data_handle != platform::kInvalidHandle ? isam_file_size(fc->data_handle) : -1;
  in.index_size = static_cast<uint64_t>(index_size);
  in.data_size = data_size < 0 ? UINT64_MAX : static_cast<uint64_t>(data_size);
  in.blocks_base = uint64_t{fc->header.data_header_units} * 256;
  load_keys(*fc, &in);
  // A file cut shorter under the view reads as zeros from the cut on: what
  // the walk found in them is not reported, the check fails as a short read
  // would.
  platform::FileView file(fc->index_handle, in.index_size);
  in.view = [&file](uint64_t offset, size_t length) {
    return file.shrunk() ? nullptr : file.view(offset, length);
  };
  if (!options.hold_lock) {
    in.recheck = [fc](size_t key, TreeCheckInput* input) {
      if (!refresh_dynamic_header(fc)) return true;  // walk again as it was
      TreeKeyInput& k = input->keys[key];
      k.root = index_root(*fc, key);
      k.depth = fc->depths[key];
      input->record_count = fc->free_list.record_count;
      return true;
    };
  }
  if (options.progress) {
    const uint64_t size = in.index_size;
    in.progress = [&options, size](uint64_t bytes) { options.progress(bytes, size); };
  }
  TreeCheckReport report = check_index_trees(std::move(in));
  if (file.shrunk()) raise_status(kStatusReadFailure);
  return report;
}

}  // namespace ismgr
