// Runs the keyed descent over index blocks taken from the input: the first
// bytes choose the geometry and the search key, the rest are the blocks (at
// addresses 1, 2, 3, ... in block units). Whatever the blocks hold, the
// descent must end in a result or a status, never read outside a block.
#include <cstdint>
#include <cstring>
#include <vector>

#include "ismgr/isam/index_block.h"
#include "ismgr/runtime/status.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  ismgr::IndexGeometry g;
  g.block_size = (data[0] & 1) ? 2048 : 512;
  g.tbyte = (data[0] & 2) != 0;
  g.addr48 = g.tbyte && (data[0] & 4) != 0;
  g.sized_headers = (data[0] & 8) != 0;
  g.tracking_key = (data[0] & 16) != 0;
  g.key_size = 1 + data[1] % 40;
  g.qualifier_size = (data[0] & 32) ? 3 : 0;
  if (g.qualifier_size > g.key_size) g.qualifier_size = 0;
  int depth = 1 + data[2] % 5;
  uint32_t capacity = (data[0] & 64) ? data[3] : 0;
  uint8_t key[64] = {};
  std::memcpy(key, data + 4, 4);
  data += 8;
  size -= 8;

  // Whole blocks only; the last partial one is padded with zeros.
  std::vector<std::vector<uint8_t>> blocks;
  for (size_t at = 0; at < size && blocks.size() < 16; at += g.block_size) {
    std::vector<uint8_t> b(g.block_size, 0);
    std::memcpy(b.data(), data + at, std::min<size_t>(g.block_size, size - at));
    blocks.push_back(std::move(b));
  }
  if (blocks.empty()) return 0;
  ismgr::BlockSource source;
  source.read = [&](uint64_t address) -> const uint8_t* {
    uint64_t unit = g.tbyte ? address : address / g.block_size;
    if (unit == 0 || unit > blocks.size()) return nullptr;
    return blocks[unit - 1].data();
  };
  ismgr::RetryPolicy policy;
  policy.retries = 1;
  ismgr::DescentRequest request;
  request.root = g.tbyte ? 1 : g.block_size;
  request.depth = depth;
  request.key = key;
  request.key_length = g.key_size;
  request.search_capacity = capacity;
  request.want_rfa = (data[0] & 1) != 0;
  std::vector<uint32_t> work;
  try {
    ismgr::DescentResult r = ismgr::descend(g, source, request, policy, &work);
    if (r.path.size() > ismgr::kMaxTreeDepth) __builtin_trap();
  } catch (const ismgr::StatusError&) {
  }
  return 0;
}
