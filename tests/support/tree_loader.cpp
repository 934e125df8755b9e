#include "support/tree_loader.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace ismgr::testing {

namespace {

void put(uint8_t* p, uint64_t v, int width) {
  for (int i = 0; i < width; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// A child block with the first and last key below it.
struct Child {
  uint64_t address;
  std::string first, last;
};

class Loader {
 public:
  Loader(const IndexGeometry& g, const LoadOptions& o, std::vector<uint8_t>* index)
      : g_(g), o_(o), index_(*index) {}

  LoadedTree load(const std::vector<LoadEntry>& entries) {
    LoadedTree tree;
    std::vector<Child> level = leaves(entries);
    tree.levels.emplace_back();
    for (const Child& c : level) tree.levels.back().push_back(c.address);
    while (level.size() > 1) {
      level = separators(level);
      tree.levels.emplace_back();
      for (const Child& c : level) tree.levels.back().push_back(c.address);
    }
    std::reverse(tree.levels.begin(), tree.levels.end());
    tree.root = level[0].address;
    tree.depth = static_cast<int>(tree.levels.size());
    return tree;
  }

 private:
  uint32_t pw() const { return g_.tbyte && g_.addr48 ? 5 : 4; }
  bool wide() const { return g_.block_size > 1024; }
  uint8_t* allocate(uint64_t* address) {
    const size_t at = index_.size();
    index_.resize(at + g_.block_size, 0);
    *address = g_.tbyte ? at / 256 : at;
    return index_.data() + at;
  }
  uint8_t* at(uint64_t address) { return index_.data() + (g_.tbyte ? address * 256 : address); }

  std::vector<Child> leaves(const std::vector<LoadEntry>& entries) {
    const uint32_t start = g_.addr48 ? 14 : 12;
    const int rfa_width = g_.tbyte ? (g_.addr48 ? 6 : 5) : 4;
    const uint32_t key_at = rfa_width + (g_.sized_headers ? 2 : 0) + (g_.tracking_key ? 1 : 0);
    const uint32_t size = key_at + g_.key_size;
    const auto per_leaf =
        std::max<uint32_t>(1, static_cast<uint32_t>((g_.block_size - start) / size * o_.fill));
    std::vector<Child> out;
    size_t i = 0;
    do {
      uint64_t address;
      uint8_t* b = allocate(&address);
      b[0] = 0xFF;
      uint32_t n = 0;
      Child c{address, entries.empty() ? "" : entries[i].key, ""};
      for (; n < per_leaf && i < entries.size(); ++n, ++i) {
        uint8_t* e = b + start + n * size;
        put(e, entries[i].rfa, rfa_width);
        if (g_.sized_headers) put(e + rfa_width, 100, 2);
        if (g_.tracking_key) e[key_at - 1] = static_cast<uint8_t>(i);
        if (entries[i].key.size() != g_.key_size) throw std::logic_error("key size");
        std::memcpy(e + key_at, entries[i].key.data(), g_.key_size);
        c.last = entries[i].key;
      }
      put(b + (wide() ? 2 : 1), n, wide() ? 2 : 1);
      if (!out.empty()) {
        put(b + 4, out.back().address, pw());
        put(at(out.back().address) + (g_.addr48 ? 9 : 8), address, pw());
      }
      out.push_back(c);
    } while (i < entries.size());
    return out;
  }

  std::vector<Child> separators(const std::vector<Child>& level) {
    const uint32_t p0 = wide() ? 6 : 4;
    const auto limit = std::max<uint32_t>(p0 + pw() + 2 * (1 + g_.key_size + pw()),
                                          static_cast<uint32_t>(g_.block_size * o_.fill));
    std::vector<Child> out;
    size_t c = 0;
    while (c < level.size()) {
      uint64_t address;
      uint8_t* b = allocate(&address);
      b[0] = 0x01;
      put(b + p0, level[c].address, pw());
      Child up{address, level[c].first, level[c].last};
      uint32_t pos = p0 + pw(), n = 0, last_pos = pos;
      const uint32_t cap = std::min(limit, g_.block_size);
      for (++c; c < level.size(); ++c, ++n) {
        // The shortest prefix of the child's first key above the key before it.
        const std::string& below = level[c - 1].last;
        const std::string& key = level[c].first;
        size_t length = 0;
        while (length < key.size() && length < below.size() && key[length] == below[length]) {
          ++length;
        }
        length = o_.full_separators ? key.size() : std::min(key.size(), length + 1);
        if (pos + 1 + length + pw() > cap) {
          // Never leave a single child for the last block: give it two.
          if (level.size() - c == 1 && n > 1) {
            pos = last_pos;
            --c;
            --n;
            up.last = level[c - 1].last;
          }
          break;
        }
        last_pos = pos;
        b[pos] = static_cast<uint8_t>(length + 1);
        std::memcpy(b + pos + 1, key.data(), length);
        put(b + pos + 1 + length, level[c].address, pw());
        pos += static_cast<uint32_t>(1 + length + pw());
        up.last = level[c].last;
      }
      put(b + (wide() ? 2 : 1), n, wide() ? 2 : 1);
      put(b + (wide() ? 4 : 2), pos, 2);
      out.push_back(up);
    }
    return out;
  }

  IndexGeometry g_;
  LoadOptions o_;
  std::vector<uint8_t>& index_;
};

}  // namespace

size_t LoadedFile::offset(size_t key, uint64_t address) const {
  return geometry[key].tbyte ? address * 256 : address;
}

TreeCheckInput LoadedFile::input(uint64_t record_count) const {
  TreeCheckInput in;
  in.read = [this](uint64_t offset, uint8_t* buffer, size_t length) {
    if (offset > index.size() || index.size() - offset < length) return false;
    std::memcpy(buffer, index.data() + offset, length);
    return true;
  };
  in.index_size = index.size();
  in.data_size = data.size();
  in.blocks_base = blocks_base;
  in.record_count = record_count;
  for (size_t k = 0; k < trees.size(); ++k) {
    in.keys.push_back({geometry[k], trees[k].root, trees[k].depth, false});
  }
  return in;
}

bool LoadedFile::write(const std::string& dir, const std::string& base) const {
  return IsamBuilder::write_file(dir + "/" + base + ".ism", index) &&
         IsamBuilder::write_file(dir + "/" + base + ".is1", data);
}

LoadedFile load_file(IsamBuilder b, std::vector<LoadedKey> keys, const LoadOptions& options) {
  // The layout facts the trees need, from a builder with the keys as given.
  IsamBuilder probe = b;
  uint64_t largest = 0;
  for (const LoadedKey& k : keys) {
    probe.add_key(k.key_spec);
    for (const LoadEntry& e : k.entries) largest = std::max(largest, e.rfa);
  }
  LoadedFile file;
  file.index = probe.index_file();  // starts with the header page
  const std::vector<uint8_t> header(file.index.begin(), file.index.begin() + 32);
  const uint8_t flags = header[3];
  const uint32_t flags2 = header[20] | (header[21] << 8);
  file.blocks_base = probe.data_header_bytes();
  for (LoadedKey& k : keys) {
    IndexGeometry g;
    g.block_size = header[5] * 256u;
    g.tbyte = (flags & 0x40) != 0;
    g.addr48 = g.tbyte && (flags2 & 0x20) != 0;
    g.sized_headers = (flags & 0x20) != 0;
    g.tracking_key = (k.key_spec.autokey & 0x10) != 0;
    g.key_size = k.entries.empty() ? k.key_spec.key_size : k.entries[0].key.size();
    g.qualifier_size = (k.key_spec.flags & 0x04) ? (g.tbyte ? 4 : 3) : 0;
    file.geometry.push_back(g);
    file.trees.push_back(Loader(g, options, &file.index).load(k.entries));
    k.key_spec.root = file.trees.back().root;
    k.key_spec.depth = static_cast<uint8_t>(file.trees.back().depth);
    b.add_key(k.key_spec);
  }
  // The header with the roots and depths, and a data file past every record.
  const std::vector<uint8_t> image = b.index_file();
  std::copy(image.begin(), image.begin() + std::min(image.size(), file.index.size()),
            file.index.begin());
  b.data_records(largest + 64);
  file.data = b.data_file();
  return file;
}

std::vector<LoadEntry> make_entries(uint32_t n, uint32_t size, uint64_t base) {
  std::vector<LoadEntry> out(n);
  for (uint32_t i = 0; i < n; ++i) {
    std::string digits = std::to_string(7ull * i);
    out[i].key = std::string(size > digits.size() ? size - digits.size() : 0, '0') + digits;
    out[i].key.resize(size);
    out[i].rfa = base + 32ull * ((i * 1000003ull) % n);
  }
  return out;
}

}  // namespace ismgr::testing
