#include "support/index_tree_builder.h"

#include <cstring>
#include <stdexcept>

namespace ismgr::testing {

namespace {

void put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

// Pointers laid out independently of the code under test: 4 bytes little
// endian, plus a high byte in tbyte files with 48-bit addressing.
void put_pointer(const IndexGeometry& g, uint8_t* p, uint64_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
  if (g.tbyte && g.addr48) p[4] = static_cast<uint8_t>(v >> 32);
}

void put_rfa(const IndexGeometry& g, uint8_t* p, uint64_t v) {
  int width = g.tbyte ? (g.addr48 ? 6 : 5) : 4;
  for (int i = 0; i < width; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

struct Child {
  uint64_t address;
  std::string first_key;
  std::string last_key;
};

// The shortest prefix of `key` that still compares above `below`.
size_t shortest_separator(const std::string& below, const std::string& key) {
  size_t common = 0;
  while (common < key.size() && common < below.size() && key[common] == below[common]) ++common;
  return std::min(key.size(), common + 1);
}

}  // namespace

uint64_t IndexTreeBuilder::allocate() {
  // Addresses count bytes, or 256-byte units in tbyte files.
  uint64_t units_per_block = g_.block_size / 256;
  uint64_t address = g_.tbyte ? next_unit_ : next_unit_ * 256;
  next_unit_ += units_per_block;
  blocks_[address].assign(g_.block_size, 0);
  return address;
}

uint64_t IndexTreeBuilder::build(const std::vector<TreeEntry>& entries) {
  const uint32_t entry_size = g_.leaf_entry_size();
  const uint32_t start = g_.addr48 ? 14 : 12;
  uint32_t per_leaf = (g_.block_size - start) / entry_size;
  if (leaf_fill_ != 0 && leaf_fill_ < per_leaf) per_leaf = leaf_fill_;
  const uint32_t key_at = g_.rfa_width() + (g_.sized_headers ? 2 : 0) + (g_.tracking_key ? 1 : 0);

  // Leaves.
  std::vector<Child> level;
  size_t i = 0;
  do {
    uint64_t address = allocate();
    std::vector<uint8_t>& b = blocks_[address];
    b[0] = 0xFF;
    uint32_t n = 0;
    std::string first, last;
    for (; n < per_leaf && i < entries.size(); ++n, ++i) {
      uint8_t* e = b.data() + start + n * entry_size;
      put_rfa(g_, e, entries[i].rfa);
      if (entries[i].key.size() != g_.key_size) throw std::logic_error("key size");
      std::memcpy(e + key_at, entries[i].key.data(), g_.key_size);
      if (n == 0) first = entries[i].key;
      last = entries[i].key;
    }
    if (g_.block_size > 1024) {
      put16(b.data() + 2, n);
    } else {
      b[1] = static_cast<uint8_t>(n);
    }
    if (!leaves_.empty()) {
      uint64_t prev = leaves_.back();
      put_pointer(g_, b.data() + 4, prev);
      put_pointer(g_, blocks_[prev].data() + (g_.addr48 ? 9 : 8), address);
    }
    leaves_.push_back(address);
    level.push_back({address, first, last});
  } while (i < entries.size());
  depth_ = 1;

  // Separator levels until one block remains.
  const uint32_t pw = g_.pointer_width();
  const uint32_t p0 = g_.block_size > 1024 ? 6 : 4;
  while (level.size() > 1) {
    std::vector<Child> up;
    size_t c = 0;
    while (c < level.size()) {
      uint64_t address = allocate();
      std::vector<uint8_t>& b = blocks_[address];
      b[0] = 0x01;
      put_pointer(g_, b.data() + p0, level[c].address);
      std::string first = level[c].first_key;
      std::string last = level[c].last_key;
      ++c;
      uint32_t pos = p0 + pw;
      uint32_t n = 0;
      while (c < level.size() && (fanout_ == 0 || n + 1 < fanout_ || level.size() - c == 1) &&
             pos + 1 + g_.key_size + pw <= g_.block_size) {
        size_t length = short_prefixes_
                            ? shortest_separator(level[c - 1].last_key, level[c].first_key)
                            : g_.key_size;
        b[pos] = static_cast<uint8_t>(length + 1);
        std::memcpy(b.data() + pos + 1, level[c].first_key.data(), length);
        put_pointer(g_, b.data() + pos + 1 + length, level[c].address);
        pos += static_cast<uint32_t>(1 + length + pw);
        last = level[c].last_key;
        ++n;
        ++c;
      }
      if (g_.block_size > 1024) {
        put16(b.data() + 2, n);
        put16(b.data() + 4, pos);
      } else {
        b[1] = static_cast<uint8_t>(n);
        put16(b.data() + 2, pos);
      }
      up.push_back({address, first, last});
    }
    level.swap(up);
    ++depth_;
  }
  return level[0].address;
}

BlockSource IndexTreeBuilder::source() {
  BlockSource s;
  s.read = [this](uint64_t address) -> const uint8_t* {
    auto it = blocks_.find(address);
    return it == blocks_.end() ? nullptr : it->second.data();
  };
  return s;
}

}  // namespace ismgr::testing
