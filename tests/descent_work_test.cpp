// The layouts a descent keeps between calls hold only while the source's
// epoch stands: a new epoch (the block cache takes one whenever a block may
// have changed) must make the descent look at the block afresh.
#include <gtest/gtest.h>

#include <cstdio>

#include "ismgr/fileio/block_cache.h"
#include "ismgr/isam/index_block.h"
#include "support/index_tree_builder.h"

namespace ismgr {
namespace {

TEST(DescentWorkTest, KeptLayoutsHoldOnlyWithinTheirEpoch) {
  IndexGeometry g;
  g.key_size = 8;
  std::vector<testing::TreeEntry> entries;
  char key[16];
  for (uint32_t i = 0; i < 400; ++i) {
    std::snprintf(key, sizeof key, "%c%07u", 'A' + i % 7 * (i % 3), i * 37);
    entries.push_back({std::string(key, 8), i + 1});
  }
  std::sort(entries.begin(), entries.end(), [](auto& a, auto& b) { return a.key < b.key; });
  testing::IndexTreeBuilder tree(g, 20, 0);
  tree.use_short_prefixes(true);  // separators of differing lengths
  const uint64_t root = tree.build(entries);
  ASSERT_EQ(tree.depth(), 2);
  // A layout that claims the root's entries all have the first one's length.
  SeparatorView sep;
  const std::vector<uint8_t>& block = tree.block(root);
  ASSERT_TRUE(decode_separator_header(g, block.data(), &sep));
  const uint64_t stale = new_block_epoch();
  DescentWork work;
  work.layouts.fill({stale, root, sep.count, block[sep.first_entry] + g.pointer_width()});
  BlockSource source = tree.source();
  DescentRequest req{root, 2, nullptr, 8, 1000};
  int misled = 0;
  for (const uint64_t epoch : {stale, new_block_epoch()}) {
    source.epoch = &epoch;
    for (const auto& e : entries) {
      req.key = reinterpret_cast<const uint8_t*>(e.key.data());
      uint64_t rfa = 0;
      try {
        rfa = descend(g, source, req, {nullptr, nullptr, nullptr, 1000, 0}, &work).rfa;
      } catch (...) {
      }
      misled += epoch == stale && rfa != e.rfa;
      EXPECT_TRUE(epoch == stale || rfa == e.rfa) << e.key;
    }
  }
  EXPECT_GT(misled, 0);  // within its epoch the kept layout is believed
}

}  // namespace
}  // namespace ismgr
