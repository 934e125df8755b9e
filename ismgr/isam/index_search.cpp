#include "ismgr/isam/index_search.h"

#include <vector>

#include "ismgr/fileio/block_cache.h"
#include "ismgr/fileio/file_io.h"
#include "ismgr/isam/file_lock.h"
#include "ismgr/platform/platform.h"
#include "ismgr/runtime/context.h"
#include "ismgr/runtime/keyword.h"
#include "ismgr/runtime/status.h"

namespace ismgr {

namespace {
// What the descent keeps between calls, per thread, freed when the thread
// ends (not a thread_local object: see platform::ThreadExitEntry).
struct ThreadWork : platform::ThreadExitEntry {
  DescentWork work;
};
thread_local ThreadWork* t_work = nullptr;

DescentWork* thread_work() {
  if (t_work == nullptr) {
    t_work = new ThreadWork;
    t_work->release = [](platform::ThreadExitEntry* entry) {
      delete static_cast<ThreadWork*>(entry);
    };
    platform::release_at_thread_exit(t_work);
  }
  return &t_work->work;
}
}  // namespace

IndexGeometry index_geometry(const IsamFileControl& fc, size_t key) {
  const IsamHeader& h = fc.header;
  const KeyDescriptor& k = fc.keys.at(key);
  IndexGeometry g;
  g.block_size = page_bytes(h);
  g.tbyte = is_tbyte(h);
  g.addr48 = is_address48(h);
  g.sized_headers = (h.file_flags & kFileSizedHeaders) != 0;
  g.tracking_key = (k.autokey_flags & kAutoChangeTracking) != 0;
  g.key_size = k.key_size;
  g.qualifier_size = (k.key_flags & kKeyDuplicates) ? static_cast<uint32_t>(qualifier_width(h)) : 0;
  return g;
}

uint64_t index_root(const IsamFileControl& fc, size_t key) {
  uint64_t bytes = key_root_address(fc, key);
  return is_tbyte(fc.header) ? bytes / kIndexUnit : bytes;
}

BlockSource index_block_source(IsamFileControl* fc) {
  BlockSource source;
  source.io_status = kStatusReadFailure;
  if (fc->cache != nullptr) source.epoch = fc->cache->epoch();
  source.read = [fc](uint64_t address) -> const uint8_t* {
    const IsamHeader& h = fc->header;
    const uint32_t size = page_bytes(h);
    fc->index_block.resize(size);
    uint64_t offset = is_tbyte(h) ? address * kIndexUnit : address;
    if (offset > static_cast<uint64_t>(INT64_MAX)) return nullptr;
    int64_t got = fc->cache != nullptr
                      ? fc->cache->read_block(fc->index_handle, fc->index_block.data(), size,
                                              static_cast<int64_t>(offset))
                      : file_read_at(fc->index_handle, fc->index_block.data(), size,
                                     static_cast<int64_t>(offset), true);
    return got == static_cast<int64_t>(size) ? fc->index_block.data() : nullptr;
  };
  return source;
}

RetryPolicy index_retry_policy(IsamFileControl* fc) {
  RetryPolicy policy;
  policy.relock = [fc] {
    if (fc->state & kStateFileLock) {
      release_file_lock(fc);
      take_file_lock(fc);
    }
  };
  policy.wait = [](uint32_t ms) { timed_wait(ms); };
  policy.detail = [fc](int code, const char* text) { report_detail(fc->control, code, text, 0); };
  return policy;
}

DescentResult find_in_index(IsamFileControl* fc, size_t key, const uint8_t* search, uint32_t length,
                            const uint64_t* rfa) {
  if (fc == nullptr || key >= fc->keys.size() || key >= fc->depths.size()) {
    raise_status(kStatusIllegalKey);
  }
  IndexGeometry g = index_geometry(*fc, key);
  DescentRequest request;
  request.root = index_root(*fc, key);
  request.depth = fc->depths[key];
  request.key = search;
  request.key_length = length < g.key_size ? length : g.key_size;
  request.search_capacity = fc->search_capacity;
  if (rfa != nullptr) {
    request.want_rfa = true;
    request.rfa = *rfa;
  }
  return descend(g, index_block_source(fc), request, index_retry_policy(fc), thread_work());
}

}  // namespace ismgr
