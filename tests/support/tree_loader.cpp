#include "support/tree_loader.h"

#include <algorithm>
#include <cstring>

namespace ismgr::testing {

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
  // The layout facts the trees need, from a builder with the keys as given:
  // file_flags at 3 (0x40 tbyte, 0x20 sized headers), page units at 5,
  // file_flags2 at 20 (0x20 48-bit addresses).
  IsamBuilder probe = b;
  uint64_t largest = 0;
  for (const LoadedKey& k : keys) {
    probe.add_key(k.key_spec);
    for (const LoadEntry& e : k.entries) largest = std::max(largest, e.rfa);
  }
  LoadedFile file;
  file.index = probe.index_file();
  const uint8_t flags = file.index[3], flags2 = file.index[20];
  file.blocks_base = probe.data_header_bytes();
  for (LoadedKey& k : keys) {
    IndexGeometry g;
    g.block_size = file.index[5] * 256u;
    g.tbyte = (flags & 0x40) != 0;
    g.addr48 = g.tbyte && (flags2 & 0x20) != 0;
    g.sized_headers = (flags & 0x20) != 0;
    g.tracking_key = (k.key_spec.autokey & 0x10) != 0;
    g.key_size = k.entries.empty() ? k.key_spec.key_size : k.entries[0].key.size();
    g.qualifier_size = (k.key_spec.flags & 0x04) ? (g.tbyte ? 4 : 3) : 0;
    // Entries per leaf and children per separator block at the fill asked.
    const uint32_t pw = g.tbyte && g.addr48 ? 5 : 4, room = g.block_size - 14;
    const uint32_t leaf_entry = (g.tbyte ? (g.addr48 ? 6 : 5) : 4) + (g.sized_headers ? 2 : 0) +
                                (g.tracking_key ? 1 : 0) + g.key_size;
    IndexTreeBuilder tree(
        g, std::max(1u, static_cast<uint32_t>(room / leaf_entry * options.fill)),
        std::max(3u, static_cast<uint32_t>(room * options.fill) / (1 + g.key_size + pw)));
    tree.set_first_address(g.tbyte ? file.index.size() / 256 : file.index.size());
    tree.use_short_prefixes(!options.full_separators);
    const uint64_t root = tree.build(k.entries);
    for (const auto& [address, bytes] : tree.blocks())
      file.index.insert(file.index.end(), bytes.begin(), bytes.end());
    file.trees.push_back({root, tree.depth(), tree.levels()});
    file.geometry.push_back(g);
    k.key_spec.root = root;
    k.key_spec.depth = static_cast<uint8_t>(tree.depth());
    b.add_key(k.key_spec);
  }
  // The header with the roots and depths, and a data file past every record.
  const std::vector<uint8_t> image = b.index_file();
  std::copy(image.begin(), image.begin() + std::min(image.size(), file.index.size()),
            file.index.begin());
  file.data = b.data_records(largest + 64).data_file();
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
