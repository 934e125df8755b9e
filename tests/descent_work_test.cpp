// The layouts a descent keeps between calls hold only while the source's
// epoch stands: a new epoch (the block cache takes one whenever a block may
// have changed) must make the descent look at the block afresh.
#include <gtest/gtest.h>

#include <algorithm>

#include "ismgr/fileio/block_cache.h"
#include "ismgr/isam/index_block.h"
#include "support/index_tree_builder.h"

namespace ismgr {
namespace {

TEST(DescentWorkTest, KeptLayoutsHoldOnlyWithinTheirEpoch) {
  IndexGeometry g;
  g.key_size = 8;
  std::vector<testing::TreeEntry> entries;
  for (uint32_t i = 0; i < 400; ++i) {  // keys sharing prefixes of differing lengths
    entries.push_back(
        {std::string(1, char('A' + i % 7 * (i % 3))) + std::to_string(1000000 + i * 37), i + 1});
  }
  std::sort(entries.begin(), entries.end(), [](auto& a, auto& b) { return a.key < b.key; });
  testing::IndexTreeBuilder tree(g, 20, 0);
  tree.use_short_prefixes(true);  // separators of differing lengths
  const uint64_t root = tree.build(entries);
  // A layout that claims the root's entries all have the first one's length.
  SeparatorView sep;
  ASSERT_TRUE(decode_separator_header(g, tree.block(root).data(), &sep));
  const uint64_t stale = new_block_epoch();
  DescentWork work;
  work.layouts.fill({stale, root, sep.count, tree.block(root)[sep.first_entry] + 4u});
  BlockSource source = tree.source();
  DescentRequest req{root, tree.depth(), nullptr, 8, 1000};
  int misled = 0;
  for (const uint64_t epoch : {stale, new_block_epoch()}) {
    source.epoch = &epoch;
    for (const auto& e : entries) {
      req.key = reinterpret_cast<const uint8_t*>(e.key.data());
      uint64_t rfa = 0;
      try {
        rfa = descend(g, source, req, {nullptr, nullptr, nullptr, 1000, 0}, &work).rfa;
      } catch (...) {  // a misled descent may also find the tree inconsistent
      }
      misled += epoch == stale && rfa != e.rfa;
      EXPECT_TRUE(epoch == stale || rfa == e.rfa) << e.key;
    }
  }
  EXPECT_GT(misled, 0);  // within its epoch the kept layout is believed
}

}  // namespace
}  // namespace ismgr
