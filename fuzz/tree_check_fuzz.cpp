// Runs the tree check over a populated index that the input first chooses
// and then damages. The first 6 bytes choose the geometry, the entry count
// and the fill; a populated index of two keys is laid out from them (sorted
// keys, chained leaves, separator levels); the rest of the input is a list
// of 3-byte patches (16-bit block-relative offset into the file, XOR byte).
// Whatever the patches do, the check must end with a report or a status,
// never read past a block (each block is read into a buffer of exactly its
// size), and read no block twice.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "ismgr/isam/index_block.h"
#include "ismgr/isam/tree_check.h"
#include "ismgr/runtime/status.h"

namespace {

using ismgr::IndexGeometry;

struct Child {
  uint64_t address;
  std::string first;
};

// Lays one key's tree out at the end of `file`; returns the root and depth.
uint64_t lay_out(const IndexGeometry& g, uint32_t n, uint32_t per_leaf, uint32_t fanout,
                 uint32_t salt, std::vector<uint8_t>* file, int* depth) {
  auto allocate = [&](uint64_t* address) {
    const size_t at = file->size();
    file->resize(at + g.block_size, 0);
    *address = g.tbyte ? at / 256 : at;
    return at;
  };
  const uint32_t start = g.leaf_entries_offset();
  const uint32_t size = g.leaf_entry_size();
  const uint32_t key_at = g.entry_address_width() + (g.tracking_key ? 1 : 0);
  std::vector<Child> level;
  uint32_t i = 0;
  do {
    uint64_t address;
    const size_t at = allocate(&address);
    uint8_t* b = file->data() + at;
    b[0] = ismgr::kLeafMark;
    uint32_t count = 0;
    std::string first;
    for (; count < per_leaf && i < n; ++count, ++i) {
      uint8_t* e = b + start + count * size;
      ismgr::write_rfa(g, 512 + 16 * ((i * 7919u + salt) % n), e);
      char key[64];
      std::snprintf(key, sizeof key, "%0*u", static_cast<int>(g.key_size), i * 3);
      std::memcpy(e + key_at, key, g.key_size);
      if (count == 0) first.assign(key, g.key_size);
    }
    if (g.wide()) {
      b[2] = static_cast<uint8_t>(count), b[3] = static_cast<uint8_t>(count >> 8);
    } else {
      b[1] = static_cast<uint8_t>(count);
    }
    if (!level.empty()) {
      const uint64_t prev = level.back().address;
      ismgr::write_block_pointer(g, prev, b + 4);
      ismgr::write_block_pointer(g, address,
                                 file->data() + g.block_offset(prev) + (g.addr48 ? 9 : 8));
    }
    level.push_back({address, first});
  } while (i < n);
  *depth = 1;
  const uint32_t pw = g.pointer_width();
  const uint32_t p0 = g.wide() ? 6 : 4;
  while (level.size() > 1) {
    std::vector<Child> up;
    for (size_t c = 0; c < level.size();) {
      uint64_t address;
      const size_t at = allocate(&address);  // before data(): the file may move
      uint8_t* b = file->data() + at;
      b[0] = 1;
      ismgr::write_block_pointer(g, level[c].address, b + p0);
      up.push_back({address, level[c].first});
      uint32_t pos = p0 + pw, count = 0;
      for (++c; c < level.size() && (count + 1 < fanout || level.size() - c == 1) &&
                pos + 1 + g.key_size + pw <= g.block_size;
           ++c, ++count) {
        b[pos] = static_cast<uint8_t>(g.key_size + 1);
        std::memcpy(b + pos + 1, level[c].first.data(), g.key_size);
        ismgr::write_block_pointer(g, level[c].address, b + pos + 1 + g.key_size);
        pos += 1 + g.key_size + pw;
      }
      if (g.wide()) {
        const uint8_t header[4] = {static_cast<uint8_t>(count), static_cast<uint8_t>(count >> 8),
                                   static_cast<uint8_t>(pos), static_cast<uint8_t>(pos >> 8)};
        std::memcpy(b + 2, header, 4);
      } else {
        const uint8_t header[3] = {static_cast<uint8_t>(count), static_cast<uint8_t>(pos),
                                   static_cast<uint8_t>(pos >> 8)};
        std::memcpy(b + 1, header, 3);
      }
    }
    level.swap(up);
    ++*depth;
  }
  return level[0].address;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) return 0;
  IndexGeometry g;
  g.block_size = (data[0] & 1) ? 2048 : 512;
  g.tbyte = (data[0] & 2) != 0;
  g.addr48 = g.tbyte && (data[0] & 4) != 0;
  g.sized_headers = (data[0] & 8) != 0;
  g.tracking_key = (data[0] & 16) != 0;
  g.key_size = 4 + data[1] % 28;
  const uint32_t n = 1 + (data[2] | (data[3] << 8)) % 800;
  const uint32_t per_leaf = 1 + data[4] % g.leaf_capacity();
  const uint32_t fanout = 2 + data[5] % 30;
  data += 6;
  size -= 6;

  std::vector<uint8_t> file(1024, 0);  // the header region
  ismgr::TreeCheckInput in;
  in.blocks_base = file.size();
  for (uint32_t key = 0; key < 2; ++key) {
    ismgr::TreeKeyInput k;
    k.geometry = g;
    k.root = lay_out(g, n, per_leaf, fanout, key, &file, &k.depth);
    in.keys.push_back(k);
  }
  for (size_t at = 0; at + 3 <= size; at += 3) {
    const size_t offset = in.blocks_base + (data[at] | (data[at + 1] << 8)) % (file.size() - 1024);
    file[offset] ^= data[at + 2];
  }
  in.index_size = file.size();
  in.data_size = 512 + 16 * n;
  in.record_count = n;
  in.max_read = 0;
  uint64_t bytes = 0;
  in.read = [&](uint64_t offset, uint8_t* buffer, size_t length) {
    if (length != g.block_size || offset > file.size() || file.size() - offset < length) {
      __builtin_trap();
    }
    std::memcpy(buffer, file.data() + offset, length);
    bytes += length;
    return true;
  };
  try {
    ismgr::TreeCheckReport r = ismgr::check_index_trees(in);
    if (bytes > file.size() - in.blocks_base) __builtin_trap();  // a block read twice
    if (r.problems.size() > r.problem_count) __builtin_trap();
  } catch (const ismgr::StatusError&) {
  }
  return 0;
}
