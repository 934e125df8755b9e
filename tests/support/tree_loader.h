// Test helper: bulk-loads populated index trees (IndexTreeBuilder) into a
// crafted ISAM file, behind the empty roots the file builder writes, leaves
// first, one level after the other, each block filled to a share of its room.
#ifndef ISMGR_TESTS_SUPPORT_TREE_LOADER_H_
#define ISMGR_TESTS_SUPPORT_TREE_LOADER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "ismgr/isam/index_block.h"
#include "ismgr/isam/tree_check.h"
#include "support/index_tree_builder.h"
#include "support/isam_builder.h"

namespace ismgr::testing {

using LoadEntry = TreeEntry;  // key_size bytes (with the qualifier for duplicates)

// One loaded tree: where its blocks went, level 0 the root.
struct LoadedTree {
  uint64_t root = 0;  // block address (bytes, or units in tbyte files)
  int depth = 0;
  std::vector<std::vector<uint64_t>> levels;  // block addresses per level, in key order
};

struct LoadedKey {
  KeySpec key_spec;                // root and depth are set by the loader
  std::vector<LoadEntry> entries;  // sorted by key
};

struct LoadedFile {
  std::vector<uint8_t> index, data;
  std::vector<LoadedTree> trees;
  std::vector<IndexGeometry> geometry;
  uint64_t blocks_base = 0;  // offset of the first index block

  uint8_t* block(size_t key, uint64_t address) {
    return index.data() + geometry[key].block_offset(address);
  }
  // A check input over the images in memory (roots and depths as loaded).
  TreeCheckInput input(uint64_t record_count) const;
  bool write(const std::string& dir, const std::string& base) const;
};

struct LoadOptions {
  double fill = 1.0;             // share of a block's room filled
  bool full_separators = false;  // whole keys instead of shortest prefixes
};

// Builds the file `b` describes with the keys' trees loaded; the data file
// reaches past the largest record address.
LoadedFile load_file(IsamBuilder b, std::vector<LoadedKey> keys, const LoadOptions& options);

// `n` sorted keys of `size` bytes, each the decimal text of 7 * i padded with
// '0' in front (so that the key bytes differ early), with record addresses
// base + 32 * i in a scrambled order (n must not be a multiple of 1000003).
std::vector<LoadEntry> make_entries(uint32_t n, uint32_t size, uint64_t base);

}  // namespace ismgr::testing

#endif  // ISMGR_TESTS_SUPPORT_TREE_LOADER_H_
