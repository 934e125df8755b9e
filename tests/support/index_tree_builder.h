// Builds index trees in memory for tests and benchmarks: sorted leaf entries
// packed into chained leaves, separator levels above them, every block laid
// out byte by byte with its own offsets (none taken from the layer's code).
#ifndef ISMGR_TESTS_SUPPORT_INDEX_TREE_BUILDER_H_
#define ISMGR_TESTS_SUPPORT_INDEX_TREE_BUILDER_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "ismgr/isam/index_block.h"

namespace ismgr::testing {

struct TreeEntry {
  std::string key;  // key_size bytes
  uint64_t rfa = 0;
};

class IndexTreeBuilder {
 public:
  // `leaf_fill` and `fanout` bound entries per leaf and children per
  // separator block (0: as many as fit).
  IndexTreeBuilder(const IndexGeometry& g, uint32_t leaf_fill, uint32_t fanout)
      : g_(g), leaf_fill_(leaf_fill), fanout_(fanout) {}

  // Blocks are laid out one after the other from this address on (bytes,
  // or 256-byte units in tbyte files); by default from the second unit.
  void set_first_address(uint64_t address) { next_unit_ = g_.tbyte ? address : address / 256; }

  // Separators hold the shortest prefix that tells a child from the one
  // before it (entries of differing lengths) instead of whole keys.
  void use_short_prefixes(bool on) { short_prefixes_ = on; }

  // Builds the tree over entries sorted by key; returns the root address.
  uint64_t build(const std::vector<TreeEntry>& entries);
  int depth() const { return static_cast<int>(levels_.size()); }

  std::vector<uint8_t>& block(uint64_t address) { return blocks_.at(address); }
  // Block addresses per level in key order, level 0 the root.
  const std::vector<std::vector<uint64_t>>& levels() const { return levels_; }
  const std::vector<uint64_t>& leaves() const { return levels_.back(); }
  const std::map<uint64_t, std::vector<uint8_t>>& blocks() const { return blocks_; }
  BlockSource source();

 private:
  uint64_t allocate();

  IndexGeometry g_;
  uint32_t leaf_fill_;
  uint32_t fanout_;
  bool short_prefixes_ = false;
  uint64_t next_unit_ = 1;
  std::map<uint64_t, std::vector<uint8_t>> blocks_;
  std::vector<std::vector<uint64_t>> levels_;
};

}  // namespace ismgr::testing

#endif  // ISMGR_TESTS_SUPPORT_INDEX_TREE_BUILDER_H_
