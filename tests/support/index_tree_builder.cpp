#include "support/index_tree_builder.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace ismgr::testing {

namespace {

void put(uint8_t* p, uint64_t v, int width) {
  for (int i = 0; i < width; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

struct Child {
  uint64_t address;
  std::string first_key, last_key;
};

}  // namespace

uint64_t IndexTreeBuilder::allocate() {
  const uint64_t address = g_.tbyte ? next_unit_ : next_unit_ * 256;
  next_unit_ += g_.block_size / 256;
  blocks_[address].assign(g_.block_size, 0);
  return address;
}

uint64_t IndexTreeBuilder::build(const std::vector<TreeEntry>& entries) {
  // Pointers: 4 bytes, 5 in 48-bit files; record addresses 4, 5 or 6 bytes.
  const int pw = g_.tbyte && g_.addr48 ? 5 : 4, rfa_width = g_.tbyte ? (g_.addr48 ? 6 : 5) : 4;
  const bool wide = g_.block_size > 1024;  // 2-byte counts
  const uint32_t start = g_.addr48 ? 14 : 12;
  const uint32_t key_at = rfa_width + (g_.sized_headers ? 2 : 0) + (g_.tracking_key ? 1 : 0);
  const uint32_t entry_size = key_at + g_.key_size;
  uint32_t per_leaf = (g_.block_size - start) / entry_size;
  if (leaf_fill_ != 0 && leaf_fill_ < per_leaf) per_leaf = leaf_fill_;

  std::vector<Child> level;
  levels_.assign(1, {});
  size_t i = 0;
  do {
    const uint64_t address = allocate();
    uint8_t* b = blocks_[address].data();
    b[0] = 0xFF;
    uint32_t n = 0;
    Child c{address, entries.empty() ? "" : entries[i].key, ""};
    for (; n < per_leaf && i < entries.size(); ++n, ++i) {
      uint8_t* e = b + start + n * entry_size;
      put(e, entries[i].rfa, rfa_width);
      if (entries[i].key.size() != g_.key_size) throw std::logic_error("key size");
      std::memcpy(e + key_at, entries[i].key.data(), g_.key_size);
      c.last_key = entries[i].key;
    }
    put(b + (wide ? 2 : 1), n, wide ? 2 : 1);
    if (!level.empty()) {
      put(b + 4, level.back().address, pw);
      put(blocks_[level.back().address].data() + (g_.addr48 ? 9 : 8), address, pw);
    }
    levels_.back().push_back(address);
    level.push_back(c);
  } while (i < entries.size());

  // Separator levels until one block remains; the last child never stays
  // alone in a block of its own.
  const uint32_t p0 = wide ? 6 : 4;
  while (level.size() > 1) {
    std::vector<Child> up;
    levels_.emplace_back();
    for (size_t c = 0; c < level.size();) {
      const uint64_t address = allocate();
      uint8_t* b = blocks_[address].data();
      b[0] = 0x01;
      put(b + p0, level[c].address, pw);
      Child parent = level[c++];
      parent.address = address;
      uint32_t pos = p0 + pw, n = 0;
      while (c < level.size() && (fanout_ == 0 || n + 1 < fanout_ || level.size() - c == 1) &&
             pos + 1 + g_.key_size + pw <= g_.block_size) {
        const std::string& below = level[c - 1].last_key;
        const std::string& key = level[c].first_key;
        size_t length = g_.key_size;
        if (short_prefixes_) {
          for (length = 0; length < key.size() && key[length] == below[length];) ++length;
          length = std::min(key.size(), length + 1);
        }
        b[pos] = static_cast<uint8_t>(length + 1);
        std::memcpy(b + pos + 1, key.data(), length);
        put(b + pos + 1 + length, level[c].address, pw);
        pos += static_cast<uint32_t>(1 + length + pw);
        parent.last_key = level[c++].last_key;
        ++n;
      }
      put(b + (wide ? 2 : 1), n, wide ? 2 : 1);
      put(b + (wide ? 4 : 2), pos, 2);
      levels_.back().push_back(address);
      up.push_back(parent);
    }
    level.swap(up);
  }
  std::reverse(levels_.begin(), levels_.end());
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
